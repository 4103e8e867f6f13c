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

}  // namespace
}  // namespace zanto
