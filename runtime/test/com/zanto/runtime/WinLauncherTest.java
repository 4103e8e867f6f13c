// Tests of the launcher class: how the leading arguments are taken apart, the
// standard stream redirection, and the call of the application's main.
package com.zanto.runtime;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertSame;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.File;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.Charset;
import java.nio.file.Files;
import org.junit.After;
import org.junit.Before;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;

public class WinLauncherTest {
  @Rule public TemporaryFolder temp = new TemporaryFolder();

  private PrintStream savedOut;
  private PrintStream savedErr;

  @Before
  public void save() {
    savedOut = System.out;
    savedErr = System.err;
    RecordingApp.received = null;
  }

  @After
  public void restore() {
    System.setOut(savedOut);
    System.setErr(savedErr);
    System.clearProperty(WinLauncher.SERVICE_NAME_PROPERTY);
    System.clearProperty(WinLauncher.SERVICE_ARGUMENT_PROPERTY);
    System.clearProperty(WinLauncher.WINDOWED_PROPERTY);
  }

  public static class RecordingApp {
    static String[] received;

    public static void main(String[] args) {
      received = args;
    }
  }

  public static class ThrowingApp {
    public static void main(String[] args) throws Exception {
      throw new FileNotFoundException("thrown by the application");
    }
  }

  public static class InstanceMain {
    public void main(String[] args) {}
  }

  static class HiddenApp {
    public static void main(String[] args) {
      RecordingApp.received = args;
    }
  }

  private static String[] a(String... s) {
    return s;
  }

  private static final String[] PREFIX = {"false", "app.Main", "", "", "false"};

  private static String[] withPrefix(String... rest) {
    String[] all = new String[PREFIX.length + rest.length];
    System.arraycopy(PREFIX, 0, all, 0, PREFIX.length);
    System.arraycopy(rest, 0, all, PREFIX.length, rest.length);
    return all;
  }

  @Test
  public void serviceNameAndApplicationArguments() {
    // rest of the arguments, zanto.serviceArgument, expected service name, expected app args
    Object[][] cases = {
        {a("svc", "x", "y"), null, "svc", a("x", "y")},
        {a("svc", "x"), "true", "svc", a("x")},
        {a("svc"), null, "svc", a()},
        {a(), null, null, a()},
        {a(), "true", null, a()},
        {a("x", "y"), "false", null, a("x", "y")},
        {a(""), null, "", a()},
    };
    for (Object[] c : cases) {
      WinLauncher.Launch launch = new WinLauncher.Launch(withPrefix((String[]) c[0]), (String) c[1]);
      assertEquals("service name", c[2], launch.serviceName);
      assertArrayEquals("application arguments", (String[]) c[3], launch.applicationArguments);
    }
  }

  @Test
  public void prefixValues() {
    WinLauncher.Launch launch =
        new WinLauncher.Launch(a("true", "a.B", "C:\\err.log", "C:\\out.log", "true", "svc"), null);
    assertTrue(launch.windowed);
    assertEquals("a.B", launch.mainClass);
    assertEquals("C:\\err.log", launch.stderrFile);
    assertEquals("C:\\out.log", launch.stdoutFile);
    assertTrue(launch.append);
    WinLauncher.Launch other = new WinLauncher.Launch(a("false", "a.B", "", "", "TRUE"), null);
    assertEquals(false, other.windowed);
    assertEquals(false, other.append);
  }

  @Test
  public void badLauncherArgumentsAreRefused() {
    Object[][] cases = {
        {a("false", "a.B", "", ""), null},
        {null, null},
        {a("false", "", "", "", "false", "svc"), null},
        {a("false", "a.B", "", "", "false", "svc"), "yes"},
    };
    for (Object[] c : cases) {
      try {
        new WinLauncher.Launch((String[]) c[0], (String) c[1]);
        fail("accepted " + java.util.Arrays.toString((String[]) c[0]));
      } catch (IllegalArgumentException expected) {
        // refused with a message
        assertTrue(expected.getMessage().length() > 0);
      }
    }
  }

  @Test
  public void mainPassesApplicationArgumentsAndServiceName() throws Throwable {
    String app = RecordingApp.class.getName();
    WinLauncher.main(a("false", app, "", "", "false", "MySvc", "-x", "a b", "\u4e2d\ud83d\ude00"));
    assertArrayEquals(a("-x", "a b", "\u4e2d\ud83d\ude00"), RecordingApp.received);
    assertEquals("MySvc", System.getProperty(WinLauncher.SERVICE_NAME_PROPERTY));
    assertEquals("false", System.getProperty(WinLauncher.WINDOWED_PROPERTY));
  }

  @Test
  public void withoutServiceArgumentEverythingGoesToTheApplication() throws Throwable {
    System.setProperty(WinLauncher.SERVICE_ARGUMENT_PROPERTY, "false");
    WinLauncher.main(a("true", RecordingApp.class.getName(), "", "", "false", "first", "second"));
    assertArrayEquals(a("first", "second"), RecordingApp.received);
    assertNull(System.getProperty(WinLauncher.SERVICE_NAME_PROPERTY));
    assertEquals("true", System.getProperty(WinLauncher.WINDOWED_PROPERTY));
  }

  @Test
  public void applicationExceptionArrivesUnwrapped() throws Throwable {
    try {
      WinLauncher.runMain(ThrowingApp.class.getName(), a());
      fail("no exception");
    } catch (FileNotFoundException e) {
      assertEquals("thrown by the application", e.getMessage());
    }
  }

  @Test
  public void unusableMainClasses() throws Throwable {
    Object[][] cases = {
        {"no.such.Main", ClassNotFoundException.class},
        {InstanceMain.class.getName(), NoSuchMethodException.class},
        {Object.class.getName(), NoSuchMethodException.class},
    };
    for (Object[] c : cases) {
      try {
        WinLauncher.runMain((String) c[0], a());
        fail("ran " + c[0]);
      } catch (Exception e) {
        assertSame((String) c[0], c[1], e.getClass());
      }
    }
  }

  @Test
  public void publicMainOfNonPublicClassRuns() throws Throwable {
    WinLauncher.runMain(HiddenApp.class.getName(), a("z"));
    assertArrayEquals(a("z"), RecordingApp.received);
  }

  private static String read(File f) throws IOException {
    return new String(Files.readAllBytes(f.toPath()), Charset.defaultCharset());
  }

  private static void write(File f, String text) throws IOException {
    Files.write(f.toPath(), text.getBytes(Charset.defaultCharset()));
  }

  @Test
  public void redirectionTruncatesOrAppends() throws IOException {
    // append flag, expected content after "old" and one println each
    Object[][] cases = {{false, "new-out\n"}, {true, "oldnew-out\n"}};
    for (Object[] c : cases) {
      File out = temp.newFile();
      File err = temp.newFile();
      write(out, "old");
      write(err, "old");
      WinLauncher.redirect(err.getPath(), out.getPath(), (Boolean) c[0]);
      System.out.println("new-out");
      System.err.println("new-err");
      System.setOut(savedOut);
      System.setErr(savedErr);
      assertEquals(c[1], read(out));
      assertEquals(((String) c[1]).replace("out", "err"), read(err));
    }
  }

  @Test
  public void emptyNamesLeaveStreamsAlone() throws IOException {
    File out = temp.newFile();
    WinLauncher.redirect("", out.getPath(), false);
    assertSame(savedErr, System.err);
    System.out.print("only out");
    System.out.flush();
    assertEquals("only out", read(out));
    System.setOut(savedOut);
    WinLauncher.redirect("", "", true);
    assertSame(savedOut, System.out);
    assertSame(savedErr, System.err);
  }

  @Test
  public void oneFileForBothStreamsKeepsBothTexts() throws IOException {
    File both = temp.newFile();
    File alias = new File(both.getParentFile(), "." + File.separator + both.getName());
    WinLauncher.redirect(both.getPath(), alias.getPath(), false);
    assertSame(System.out, System.err);
    System.out.println("line from out");
    System.err.println("line from err");
    assertEquals("line from out\nline from err\n", read(both));
  }

  @Test
  public void missingDirectoriesAreCreated() throws IOException {
    File out = new File(temp.getRoot(), "logs/deeper/out.log");
    WinLauncher.redirect("", out.getPath(), false);
    System.out.println("x");
    assertEquals("x\n", read(out));
  }

  @Test
  public void unopenableFileFailsAndChangesNothing() throws IOException {
    File blocker = temp.newFile("plain-file");
    File good = temp.newFile("good.log");
    String bad = new File(blocker, "cannot-be-below-a-file.log").getPath();
    String[][] cases = {{bad, good.getPath()}, {good.getPath(), bad}};
    for (String[] c : cases) {
      try {
        WinLauncher.redirect(c[0], c[1], false);
        fail("opened " + bad);
      } catch (IOException e) {
        assertTrue(e.getMessage(), e.getMessage().contains("cannot-be-below-a-file.log"));
      }
      assertSame(savedOut, System.out);
      assertSame(savedErr, System.err);
    }
  }
}
