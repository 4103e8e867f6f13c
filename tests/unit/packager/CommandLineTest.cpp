// The zanto-pack program itself: exit codes, messages on standard error, and the
// checked-in settings reference being exactly what `zanto-pack settings` prints.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "SettingsDoc.h"
#include "TestSupport.h"

namespace zanto {
namespace {

using test::ScratchDir;

struct PackRun {
  int exitCode;
  std::string out, err;
};

PackRun runPack(const ScratchDir& dir, const std::string& args) {
  std::string command =
      std::string(ZANTO_PACK_EXE) + " " + args + " >" + (dir / "stdout").string() + " 2>" + (dir / "stderr").string();
  int status = std::system(command.c_str());
  Bytes out = test::readFile(dir / "stdout"), err = test::readFile(dir / "stderr");
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
          std::string(err.begin(), err.end())};
}

TEST(CommandLine, SettingsReferenceIsTheCheckedInDoc) {
  ScratchDir dir;
  PackRun run = runPack(dir, "settings");
  EXPECT_EQ(run.exitCode, 0);
  Bytes doc = test::readFile(ZANTO_SETTINGS_DOC);
  EXPECT_EQ(run.out, std::string(doc.begin(), doc.end()))
      << "docs/settings.md is out of date: regenerate it with `zanto-pack settings > docs/settings.md`";
  EXPECT_EQ(run.out, settingsReference());
  EXPECT_NE(run.out.find("| 20017 | `ServiceDescription` | wide | string |"), std::string::npos);
}

TEST(CommandLine, BuildAndInspect) {
  ScratchDir dir;
  test::writeFile(dir / "launcher.exe", test::sampleLauncher(false));
  test::writeFile(dir / "rt.jar", std::string("rt"));
  test::writeFile(dir / "app.toml", std::string("[settings]\nApplicationName = \"svc\"\n"));
  std::string common = "--launcher " + (dir / "launcher.exe").string() + " --runtime-jar " + (dir / "rt.jar").string();

  PackRun built =
      runPack(dir, "build " + (dir / "app.toml").string() + " -o " + (dir / "svc.exe").string() + " " + common);
  EXPECT_EQ(built.exitCode, 0) << built.err;
  PackRun shown = runPack(dir, "inspect " + (dir / "svc.exe").string() + " --extract " + (dir / "x").string());
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("arch = \"x86\"\nruntime = false"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("[service]\nname = \"svc\"\n"), std::string::npos) << shown.out;
  shown = runPack(dir, "inspect " + (dir / "svc.exe").string() + " --raw");
  EXPECT_NE(shown.out.find("[settings]\nApplicationName = \"svc\"\n"), std::string::npos) << shown.out;
  EXPECT_EQ(test::readFile(dir / "x" / "zanto-runtime.jar"), test::bytesOf("rt"));
  // A warning goes to standard error; the build succeeds.
  test::writeFile(dir / "warn.toml", std::string("[settings]\nVmParameters = \"-jar app.jar\"\n"));
  built = runPack(dir, "build " + (dir / "warn.toml").string() + " -o " + (dir / "warn.exe").string() + " " + common);
  EXPECT_EQ(built.exitCode, 0) << built.err;
  EXPECT_NE(built.err.find("zanto-pack: warning: " + (dir / "warn.toml").string() + ":2: VmParameters: -jar app.jar: "),
            std::string::npos)
      << built.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "warn.exe"));

  struct Failure {
    std::string args, message;
  };
  test::writeFile(dir / "bad.toml", std::string("[settings]\n\nExecutableType = \"x\"\n"));
  const Failure failures[] = {
      {"build " + (dir / "bad.toml").string() + " -o " + (dir / "svc.exe").string() + " " + common, "bad.toml:3: "},
      {"build " + (dir / "app.toml").string() + " -o " + (dir / "svc.exe").string() + " --arch x64 " + common,
       "built for x86, not for x64"},
      {"build " + (dir / "app.toml").string() + " -o " + (dir / "svc.exe").string() + " --arch arm", "arm"},
      {"build " + (dir / "app.toml").string(), "--output"},
      {"inspect " + (dir / "app.toml").string(), "not a Windows executable"},
      {"inspect " + (dir / "launcher.exe").string(), "no configuration block"},
      {"", "subcommand"},
  };
  Bytes packaged = test::readFile(dir / "svc.exe");
  for (const Failure& f : failures) {
    PackRun run = runPack(dir, f.args);
    EXPECT_NE(run.exitCode, 0) << f.args;
    EXPECT_NE(run.err.find(f.message), std::string::npos) << f.args << "\n" << run.err;
    EXPECT_EQ(test::readFile(dir / "svc.exe"), packaged) << f.args;
  }
}

// init on jars made by the JDK's own tool: the manifest's values and the class
// version become the configuration, which then builds (or, without Main-Class,
// names the line to fill in).
TEST(CommandLine, InitWritesAConfigurationThatBuilds) {
  ScratchDir dir;
  const std::string jdk = "/usr/lib/jvm/java-17-openjdk-amd64/bin/";
  const std::string d = dir.path().string();
  std::filesystem::create_directories(dir / "src/hello");
  std::filesystem::create_directories(dir / "dist/lib");
  test::writeFile(dir / "src/hello/Main.java",
                  std::string("package hello; public class Main { public static void main(String[] a) {} }"));
  test::writeFile(dir / "manifest.txt", std::string("Implementation-Title: Hello Service\nImplementation-Version: "
                                                    "2.1.0\nAutomatic-Module-Name: com.example.hello\nClass-Path: "
                                                    "lib/dep.jar lib/gone.jar\n"));
  test::writeFile(dir / "dist/lib/dep.jar", std::string("PK dep"));
  ASSERT_EQ(std::system((jdk + "javac --release 11 -d '" + d + "/classes' '" + d + "/src/hello/Main.java'").c_str()), 0);
  ASSERT_EQ(std::system((jdk + "jar --create --file '" + d + "/dist/hello-app.jar' --main-class hello.Main --manifest '" +
                         d + "/manifest.txt' -C '" + d + "/classes' .")
                            .c_str()),
            0);
  ASSERT_EQ(std::system((jdk + "jar --create --no-manifest --file '" + d + "/dist/plain.jar' -C '" + d + "/classes' .")
                            .c_str()),
            0);
  test::writeFile(dir / "launcher.exe", test::sampleLauncher(true));
  test::writeFile(dir / "rt.jar", std::string("rt"));
  struct Case {
    std::string args, config;
    std::vector<std::string> lines;  // in the configuration
    const char* buildError;          // null: it builds
  };
  const Case cases[] = {
      {"init " + d + "/dist/hello-app.jar -o " + d + "/hello.toml", d + "/hello.toml",
       {"name = \"hello-app\"", "display_name = \"Hello Service\"", "start = \"auto\"", "restart = [10, 60, 300]",
        "version = \"11+\"   # the jar's classes need Java 11 (class file version 55)",
        "search = [\"JAVA_HOME\", \"registry\", \"path\"]", "main_class = \"hello.Main\"",
        "classpath = [\"dist/hello-app.jar\", \"dist/lib/dep.jar\"]", "\"lib/gone.jar\" is not a file beside the jar",
        "working_dir = \".\"", "mode = \"roll-by-day\"", "version = \"2.1.0\"", "com.example.hello"},
       nullptr},
      {"init " + d + "/dist/plain.jar -o " + d + "/dist/plain.toml", d + "/dist/plain.toml",
       {"name = \"plain\"", "main_class = \"\"   # FILL IN", "classpath = [\"plain.jar\"]", "version = \"11+\""},
       "app.main_class is empty"},
  };
  for (const Case& c : cases) {
    PackRun run = runPack(dir, c.args);
    ASSERT_EQ(run.exitCode, 0) << c.args << "\n" << run.err;
    EXPECT_NE(run.out.find("zanto-pack build " + c.config + " -o "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(".exe /run\n"), std::string::npos) << run.out;
    Bytes written = test::readFile(c.config);
    std::string config(written.begin(), written.end());
    for (const std::string& line : c.lines) EXPECT_NE(config.find(line), std::string::npos) << line << "\n" << config;
    PackRun built = runPack(dir, "build " + c.config + " -o " + d + "/out.exe --launcher " + d +
                                     "/launcher.exe --runtime-jar " + d + "/rt.jar");
    EXPECT_EQ(built.exitCode, c.buildError ? 1 : 0) << built.err;
    if (c.buildError) {
      EXPECT_NE(built.err.find(c.buildError), std::string::npos) << built.err;
    }
    // A second init never replaces the configuration.
    PackRun again = runPack(dir, c.args);
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("exists; init does not replace it"), std::string::npos) << again.err;
    EXPECT_EQ(test::readFile(c.config), written);
  }
  PackRun bad = runPack(dir, "init " + d + "/manifest.txt -o " + d + "/bad.toml");
  EXPECT_NE(bad.exitCode, 0);
  EXPECT_NE(bad.err.find("manifest.txt: Not a zip archive"), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.toml"));
}

}  // namespace
}  // namespace zanto
