// A class without a main method, for the method-not-found path.
package sample;

public final class NoMain {
  private NoMain() {}

  public static void main() {}
}
