// Tests of the first-run hook: when the action runs, what its result and its
// failures do to the launch and to the marker, and where marker and action are found.
package com.velmora.runtime;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.jar.Attributes;
import java.util.jar.JarOutputStream;
import java.util.jar.Manifest;
import org.junit.After;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class FirstRunTest {
  @Rule public TemporaryFolder temp = new TemporaryFolder();

  static int runs;
  private String savedClassPath;

  public static class GoOn {
    public static boolean firstRun() {
      ++runs;
      return true;
    }
  }

  public static class Stop {
    public static boolean firstRun() {
      ++runs;
      return false;
    }
  }

  public static class VoidAction {
    public static void firstRun() {
      ++runs;
    }
  }

  public static class NullFlag {
    public static Boolean firstRun() {
      ++runs;
      return null;
    }
  }

  public static class Failing {
    public static boolean firstRun() throws IOException {
      ++runs;
      throw new IOException("migration failed");
    }
  }

  public static class InstanceMethod {
    public boolean firstRun() {
      ++runs;
      return true;
    }
  }

  public static class WrongType {
    public static int firstRun() {
      ++runs;
      return 1;
    }
  }

  @Before
  public void setUp() {
    runs = 0;
    savedClassPath = System.getProperty("java.class.path");
  }

  @After
  public void tearDown() {
    System.clearProperty(FirstRun.INSTALL_ROOT_PROPERTY);
    System.clearProperty(FirstRun.ACTION_PROPERTY);
    System.setProperty("java.class.path", savedClassPath);
  }

  private File makeMarker(File root) throws IOException {
    File dir = new File(root, ".velmora");
    assertTrue(dir.isDirectory() || dir.mkdirs());
    File marker = new File(dir, "firstrun");
    assertTrue(marker.createNewFile());
    return marker;
  }

  @Test
  public void actionOutcomes() throws Throwable {
    // action class (null: none), launch goes on, exception expected, marker kept, runs
    Object[][] cases = {
        {null, true, null, false, 0},
        {GoOn.class, true, null, false, 1},
        {Stop.class, false, null, false, 1},
        {VoidAction.class, true, null, false, 1},
        {NullFlag.class, true, null, false, 1},
        {Failing.class, null, IOException.class, true, 1},
        {InstanceMethod.class, null, NoSuchMethodException.class, true, 0},
        {WrongType.class, null, NoSuchMethodException.class, true, 0},
        {"no.such.Action", null, ClassNotFoundException.class, true, 0},
    };
    for (Object[] c : cases) {
      runs = 0;
      File root = temp.newFolder();
      File marker = makeMarker(root);
      System.setProperty(FirstRun.INSTALL_ROOT_PROPERTY, root.getPath());
      String action = c[0] == null ? null : c[0] instanceof Class ? ((Class<?>) c[0]).getName() : (String) c[0];
      if (action == null) {
        System.clearProperty(FirstRun.ACTION_PROPERTY);
      } else {
        System.setProperty(FirstRun.ACTION_PROPERTY, action);
      }
      try {
        boolean goOn = FirstRun.firstRun();
        assertEquals(action, c[1], goOn);
        assertNull(action, c[2]);
      } catch (Throwable e) {
        if (c[2] == null) throw e;
        assertEquals(action, c[2], e.getClass());
      }
      assertEquals(action + ": marker kept", c[3], marker.exists());
      assertEquals(action + ": runs", c[4], runs);
    }
  }

  @Test
  public void actionRunsOnlyOnce() throws Throwable {
    File root = temp.newFolder();
    makeMarker(root);
    System.setProperty(FirstRun.INSTALL_ROOT_PROPERTY, root.getPath());
    System.setProperty(FirstRun.ACTION_PROPERTY, Stop.class.getName());
    assertFalse(FirstRun.firstRun());
    assertTrue(FirstRun.firstRun());
    assertEquals(1, runs);
  }

  @Test
  public void failedActionRunsAgainNextTime() throws Throwable {
    File root = temp.newFolder();
    makeMarker(root);
    System.setProperty(FirstRun.INSTALL_ROOT_PROPERTY, root.getPath());
    System.setProperty(FirstRun.ACTION_PROPERTY, Failing.class.getName());
    for (int i = 0; i < 2; ++i) {
      try {
        FirstRun.firstRun();
        fail("no exception");
      } catch (IOException expected) {
        assertEquals("migration failed", expected.getMessage());
      }
    }
    assertEquals(2, runs);
  }

  @Test
  public void markerFoundBesideTheRuntimeArchive() throws IOException {
    File root = temp.newFolder();
    File archive = new File(new File(root, ".VELMORA"), "VmrRuntime.jar");
    String sep = File.pathSeparator;
    // class path, whether the marker is found below root
    Object[][] cases = {
        {"a.jar" + sep + archive.getPath() + sep, true},
        {sep + sep + archive.getPath(), true},
        {"a.jar" + sep + new File(root, "vmrruntime.jar").getPath(), false},
        {new File(new File(root, "other"), "vmrruntime.jar").getPath(), false},
        {"", false},
    };
    for (Object[] c : cases) {
      System.setProperty("java.class.path", (String) c[0]);
      File marker = FirstRun.findMarker();
      if ((Boolean) c[1]) {
        assertEquals((String) c[0], new File(archive.getParentFile(), "firstrun"), marker);
      } else {
        assertNull((String) c[0], marker);
      }
    }
    System.setProperty(FirstRun.INSTALL_ROOT_PROPERTY, "elsewhere");
    assertEquals(new File(new File("elsewhere", ".velmora"), "firstrun"), FirstRun.findMarker());
  }

  @Test
  public void actionNamedByAManifest() throws Throwable {
    File jar = new File(temp.getRoot(), "app.jar");
    Manifest manifest = new Manifest();
    manifest.getMainAttributes().put(Attributes.Name.MANIFEST_VERSION, "1.0");
    manifest.getMainAttributes().putValue(FirstRun.ACTION_ATTRIBUTE, " " + Stop.class.getName() + " ");
    new JarOutputStream(new FileOutputStream(jar), manifest).close();

    File root = temp.newFolder();
    File marker = makeMarker(root);
    System.setProperty(FirstRun.INSTALL_ROOT_PROPERTY, root.getPath());
    Thread thread = Thread.currentThread();
    ClassLoader saved = thread.getContextClassLoader();
    URLClassLoader loader = new URLClassLoader(new URL[] {jar.toURI().toURL()}, saved);
    thread.setContextClassLoader(loader);
    try {
      assertEquals(Stop.class.getName(), FirstRun.actionClassName());
      assertFalse(FirstRun.firstRun());
      assertFalse(marker.exists());
      // The property wins over the manifest.
      System.setProperty(FirstRun.ACTION_PROPERTY, GoOn.class.getName());
      assertEquals(GoOn.class.getName(), FirstRun.actionClassName());
    } finally {
      thread.setContextClassLoader(saved);
      loader.close();
    }
    assertEquals(1, runs);
  }
}
