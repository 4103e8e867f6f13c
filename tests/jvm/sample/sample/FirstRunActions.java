// First-run actions for the real-JVM tests, named through zanto.firstRunAction.
package sample;

import java.io.IOException;

public final class FirstRunActions {
  private FirstRunActions() {}

  /** Asks the launch to stop. */
  public static final class Stop {
    private Stop() {}

    public static boolean firstRun() throws IOException {
      SampleApp.writeText(System.getProperty("sample.dir") + "/action.txt", "stop");
      return false;
    }
  }

  /** Fails, so the marker stays. */
  public static final class Fail {
    private Fail() {}

    public static boolean firstRun() {
      throw new IllegalStateException("first-run action failed");
    }
  }
}
