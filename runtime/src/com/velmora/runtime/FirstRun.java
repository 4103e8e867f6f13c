// The first-run hook of installed applications: on the first start after an
// installation (the installer leaves a marker file below the installation root)
// it runs the application's first-run action once, before the application starts.
package com.velmora.runtime;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.util.Enumeration;
import java.util.jar.Manifest;

public final class FirstRun {
  /** The installation root; overrides the one found from the class path. */
  public static final String INSTALL_ROOT_PROPERTY = "zanto.installRoot";
  /** The class whose static firstRun() is the action; overrides the manifests. */
  public static final String ACTION_PROPERTY = "zanto.firstRunAction";
  /** Main manifest attribute naming the action class. */
  public static final String ACTION_ATTRIBUTE = "Zanto-FirstRun-Action";

  static final String MARKER_DIRECTORY = ".velmora";
  static final String MARKER_NAME = "firstrun";
  static final String RUNTIME_ARCHIVE = "vmrruntime.jar";

  private FirstRun() {}

  /**
   * Runs the first-run action when the marker exists. The marker is deleted only
   * after the action completed, so a failed action is tried again on the next
   * start. Returns false only when the action asked the launch to stop; an
   * exception from the action propagates, and the launcher stops too.
   */
  public static boolean firstRun() throws Throwable {
    File marker = findMarker();
    if (marker == null || !marker.isFile()) {
      return true;
    }
    String action = actionClassName();
    boolean goOn = action == null || runAction(action);
    if (!marker.delete() && marker.exists()) {
      System.err.println("firstrun: cannot delete " + marker + "; the first-run action will run again");
    }
    return goOn;
  }

  /**
   * The marker below the installation root: the property if set, else the
   * directory of the runtime archive that the launcher puts on the class path of
   * installed applications (".velmora\vmrruntime.jar" below the root).
   */
  static File findMarker() {
    String root = System.getProperty(INSTALL_ROOT_PROPERTY);
    if (root != null && !root.isEmpty()) {
      return new File(new File(root, MARKER_DIRECTORY), MARKER_NAME);
    }
    String classPath = System.getProperty("java.class.path", "");
    for (String entry : classPath.split(File.pathSeparator)) {
      if (entry.isEmpty()) {
        continue;
      }
      File archive = new File(entry);
      File directory = archive.getParentFile();
      if (directory != null && archive.getName().equalsIgnoreCase(RUNTIME_ARCHIVE)
          && directory.getName().equalsIgnoreCase(MARKER_DIRECTORY)) {
        return new File(directory, MARKER_NAME);
      }
    }
    return null;
  }

  /** The property, else the first manifest on the class path that names one. */
  static String actionClassName() throws IOException {
    String name = System.getProperty(ACTION_PROPERTY);
    if (name != null && !name.trim().isEmpty()) {
      return name.trim();
    }
    Enumeration<URL> manifests = loader().getResources("META-INF/MANIFEST.MF");
    while (manifests.hasMoreElements()) {
      InputStream in = manifests.nextElement().openStream();
      try {
        String value = new Manifest(in).getMainAttributes().getValue(ACTION_ATTRIBUTE);
        if (value != null && !value.trim().isEmpty()) {
          return value.trim();
        }
      } finally {
        in.close();
      }
    }
    return null;
  }

  /**
   * Calls the action's public static firstRun(): a boolean result says whether the
   * launch goes on, a void one always goes on.
   */
  static boolean runAction(String className) throws Throwable {
    Class<?> cls = Class.forName(className, true, loader());
    Method method = cls.getMethod("firstRun");
    Class<?> type = method.getReturnType();
    boolean returnsFlag = type == boolean.class || type == Boolean.class;
    if (!Modifier.isStatic(method.getModifiers()) || !(returnsFlag || type == void.class)) {
      throw new NoSuchMethodException(className + " has no public static boolean or void firstRun()");
    }
    try {
      method.setAccessible(true);
    } catch (RuntimeException e) {
      // Not permitted here: invoke says whether it is reachable anyway.
    }
    Object result;
    try {
      result = method.invoke(null);
    } catch (InvocationTargetException e) {
      throw e.getCause() != null ? e.getCause() : e;
    }
    return !returnsFlag || result == null || (Boolean) result;
  }

  private static ClassLoader loader() {
    ClassLoader loader = Thread.currentThread().getContextClassLoader();
    return loader != null ? loader : ClassLoader.getSystemClassLoader();
  }
}
