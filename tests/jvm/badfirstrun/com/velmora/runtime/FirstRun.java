// A first-run class whose firstRun has the wrong signature, for the
// method-missing path.
package com.velmora.runtime;

public final class FirstRun {
  private FirstRun() {}

  public static int firstRun() {
    return 1;
  }
}
