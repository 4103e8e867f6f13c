// The class the native launcher starts inside its JVM: it applies the launcher's
// leading arguments (standard stream redirection, service name) and then calls the
// configured application's main with the application's own arguments.
package com.zanto.runtime;

import java.io.BufferedOutputStream;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;

public final class WinLauncher {
  /** Number of leading arguments addressed to this class. */
  public static final int PREFIX_COUNT = 5;
  /** Set to the service name when the launcher passed one. */
  public static final String SERVICE_NAME_PROPERTY = "zanto.serviceName";
  /**
   * "false" when the argument after the five leading ones is not a service name
   * (a start outside the service control manager); absent or "true" otherwise.
   */
  public static final String SERVICE_ARGUMENT_PROPERTY = "zanto.serviceArgument";
  /** "true" for the windowed executable type, else "false". */
  public static final String WINDOWED_PROPERTY = "zanto.windowed";

  private WinLauncher() {}

  /** The launcher's arguments, taken apart. */
  static final class Launch {
    final boolean windowed;
    final String mainClass;
    final String stderrFile;
    final String stdoutFile;
    final boolean append;
    final String serviceName; // null when none was passed
    final String[] applicationArguments;

    Launch(String[] args, String serviceArgument) {
      if (args == null || args.length < PREFIX_COUNT) {
        throw new IllegalArgumentException("the launcher passed " + (args == null ? 0 : args.length)
            + " arguments; at least " + PREFIX_COUNT + " are expected");
      }
      windowed = "true".equals(args[0]);
      mainClass = args[1];
      stderrFile = args[2];
      stdoutFile = args[3];
      append = "true".equals(args[4]);
      if (mainClass == null || mainClass.isEmpty()) {
        throw new IllegalArgumentException("no application main class was configured");
      }
      boolean hasServiceName;
      if (serviceArgument == null || "true".equals(serviceArgument)) {
        hasServiceName = args.length > PREFIX_COUNT;
      } else if ("false".equals(serviceArgument)) {
        hasServiceName = false;
      } else {
        throw new IllegalArgumentException(
            SERVICE_ARGUMENT_PROPERTY + " must be \"true\" or \"false\", not \"" + serviceArgument + "\"");
      }
      int first = PREFIX_COUNT;
      if (hasServiceName) {
        serviceName = args[first];
        ++first;
      } else {
        serviceName = null;
      }
      applicationArguments = Arrays.copyOfRange(args, first, args.length);
    }
  }

  public static void main(String[] args) throws Throwable {
    Launch launch = new Launch(args, System.getProperty(SERVICE_ARGUMENT_PROPERTY));
    System.setProperty(WINDOWED_PROPERTY, Boolean.toString(launch.windowed));
    if (launch.serviceName != null) {
      System.setProperty(SERVICE_NAME_PROPERTY, launch.serviceName);
    }
    redirect(launch.stderrFile, launch.stdoutFile, launch.append);
    runMain(launch.mainClass, launch.applicationArguments);
  }

  /**
   * Points System.err and System.out at the given files ("" leaves a stream as it
   * is). Both files are opened before either stream is replaced, so a failure
   * changes nothing. One file named for both gets one shared stream: two streams
   * on it would write over each other.
   */
  static void redirect(String stderrFile, String stdoutFile, boolean append) throws IOException {
    PrintStream err = stderrFile.isEmpty() ? null : open(stderrFile, append, "standard error");
    PrintStream out = null;
    if (!stdoutFile.isEmpty()) {
      if (err != null && sameFile(stderrFile, stdoutFile)) {
        out = err;
      } else {
        try {
          out = open(stdoutFile, append, "standard output");
        } catch (IOException e) {
          if (err != null) {
            err.close();
          }
          throw e;
        }
      }
    }
    if (err != null) {
      System.setErr(err);
    }
    if (out != null) {
      System.setOut(out);
    }
    if (err != null || out != null) {
      final PrintStream e = err;
      final PrintStream o = out;
      // Output written without a line end would otherwise be lost at exit.
      Runtime.getRuntime().addShutdownHook(new Thread("zanto-flush") {
        @Override
        public void run() {
          if (o != null) {
            o.flush();
          }
          if (e != null) {
            e.flush();
          }
        }
      });
    }
  }

  private static PrintStream open(String name, boolean append, String role) throws IOException {
    File file = new File(name);
    File parent = file.getAbsoluteFile().getParentFile();
    if (parent != null && !parent.isDirectory()) {
      parent.mkdirs();
    }
    try {
      return new PrintStream(new BufferedOutputStream(new FileOutputStream(file, append)), true);
    } catch (IOException e) {
      throw new IOException("cannot open the " + role + " file " + file.getAbsolutePath(), e);
    }
  }

  private static boolean sameFile(String a, String b) {
    try {
      return new File(a).getCanonicalFile().equals(new File(b).getCanonicalFile());
    } catch (IOException e) {
      return new File(a).getAbsoluteFile().equals(new File(b).getAbsoluteFile());
    }
  }

  /**
   * Calls the public static void main(String[]) of the named class, loaded through
   * the context class loader. An exception thrown by that main is rethrown as it
   * is, so the launcher reports the application's own exception.
   */
  static void runMain(String mainClass, String[] arguments) throws Throwable {
    ClassLoader loader = Thread.currentThread().getContextClassLoader();
    if (loader == null) {
      loader = ClassLoader.getSystemClassLoader();
    }
    Class<?> cls = Class.forName(mainClass, false, loader);
    Method main = cls.getMethod("main", String[].class);
    if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
      throw new NoSuchMethodException(mainClass + " has no public static void main(String[])");
    }
    try {
      // A public main of a class that is not public itself.
      main.setAccessible(true);
    } catch (RuntimeException e) {
      // Not permitted here: invoke says whether it is reachable anyway.
    }
    try {
      main.invoke(null, (Object) arguments);
    } catch (InvocationTargetException e) {
      throw e.getCause() != null ? e.getCause() : e;
    }
  }
}
