// A stand-in application for the real-JVM tests: records what it received and
// does what the test asks through system properties (throw, keep running,
// block in main, return while a thread goes on).
package sample;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;

public final class SampleApp {
  private SampleApp() {}

  public static void main(String[] args) throws Exception {
    String dir = System.getProperty("sample.dir");
    // Arguments as UTF-16LE units, each ended by a 0 unit: nothing is lost to a
    // charset, and the test compares them unit by unit.
    OutputStream record = new FileOutputStream(dir + "/record.bin");
    try {
      for (String arg : args) {
        for (int i = 0; i < arg.length(); ++i) {
          char c = arg.charAt(i);
          record.write(c & 0xff);
          record.write(c >>> 8);
        }
        record.write(0);
        record.write(0);
      }
    } finally {
      record.close();
    }
    writeText(dir + "/props.txt", "serviceName=" + System.getProperty("zanto.serviceName") + "\nviaJ="
        + System.getProperty("sample.viaJ") + "\nwindowed=" + System.getProperty("zanto.windowed") + "\n");

    System.out.print("to stdout");
    System.err.println("to stderr");

    String mode = System.getProperty("sample.mode", "record");
    if (mode.equals("throw")) {
      throw new IllegalStateException("sample failure");
    }
    if (!mode.equals("record")) {
      final String hookFile = dir + "/hook.txt";
      Runtime.getRuntime().addShutdownHook(new Thread() {
        @Override
        public void run() {
          try {
            writeText(hookFile, "hook ran");
          } catch (IOException e) {
            throw new RuntimeException(e);
          }
        }
      });
    }
    if (mode.equals("block")) {
      // As a server's main that waits for its end; only System.exit ends it.
      writeText(dir + "/blocking.txt", "blocking");
      new CountDownLatch(1).await();
    }
    if (mode.equals("linger") || mode.equals("lingerforever")) {
      // main returns while an application thread (not a daemon) goes on.
      final String lingerFile = dir + "/linger.txt";
      final long millis = mode.equals("linger") ? 1000 : Long.MAX_VALUE;
      Thread worker = new Thread() {
        @Override
        public void run() {
          try {
            Thread.sleep(millis);
            writeText(lingerFile, "thread ended");
          } catch (Exception e) {
            throw new RuntimeException(e);
          }
        }
      };
      worker.start();
    }
    if (mode.equals("service")) {
      // Keeps the JVM busy after main returned, as a service's own threads do.
      Thread worker = new Thread() {
        @Override
        public void run() {
          try {
            Thread.sleep(Long.MAX_VALUE);
          } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
          }
        }
      };
      worker.start();
    }
  }

  static void writeText(String file, String text) throws IOException {
    OutputStream out = new FileOutputStream(file);
    try {
      out.write(text.getBytes(StandardCharsets.UTF_8));
    } finally {
      out.close();
    }
  }
}
