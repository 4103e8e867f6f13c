// zanto-pack: makes configured launcher copies (build) and MSI packages of them (msi), shows what a copy carries
// (inspect), writes a first configuration for a jar (init) and prints the settings
// reference (settings).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "Init.h"
#include "Inspect.h"
#include "Msi.h"
#include "Pack.h"
#include "SettingsDoc.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace zanto;

namespace {

// The default launchers and the runtime jar live beside the tool.
fs::path toolDirectory(const char* argv0) {
  std::error_code ec;
#ifdef _WIN32
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n > 0 && n < buffer.size()) return fs::path(std::wstring(buffer.data(), n)).parent_path();
#else
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.parent_path();
#endif
  return fs::absolute(pathFromUtf8(argv0), ec).parent_path();
}

// Binary, so that the output is byte for byte what the tests and docs expect.
void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// One line per error: a configuration may report several.
int fail(const std::string& message) {
  size_t start = 0;
  for (size_t end; start <= message.size(); start = end + 1) {
    end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    std::fprintf(stderr, "zanto-pack: error: %s\n", message.substr(start, end - start).c_str());
  }
  return 1;
}

int run(int argc, const char* const* argv) {
  CLI::App app{"zanto-pack: turns the zanto launcher into a Java application's service executable"};
  app.require_subcommand(1);

  std::string config, output, launcher, arch, runtimeJar;
  CLI::App* build = app.add_subcommand("build", "package a launcher copy from a TOML configuration");
  build->add_option("CONFIG", config, "configuration file (TOML)")->required();
  build->add_option("-o,--output", output, "executable to write")->required();
  build->add_option("--launcher", launcher, "launcher executable (default: zanto-launcher-ARCH.exe beside zanto-pack)");
  build->add_option("--arch", arch, "x86 or x64 (overrides [package] arch)")->check(CLI::IsMember({"x86", "x64"}));
  build->add_option("--runtime-jar", runtimeJar, "runtime jar (default: zanto-runtime.jar beside zanto-pack)");

  std::string msiExe, actions, wxs;
  CLI::App* msi = app.add_subcommand("msi", "package the service executable in a Windows Installer package (MSI)");
  msi->add_option("CONFIG", config, "configuration file (TOML) with an [msi] table")->required();
  msi->add_option("-o,--output", output, "MSI to write")->required();
  msi->add_option("--exe", msiExe, "a service executable already built (and signed) from CONFIG, instead of building one");
  msi->add_option("--launcher", launcher, "launcher executable (default: zanto-launcher-ARCH.exe beside zanto-pack)");
  msi->add_option("--arch", arch, "x86 or x64 (overrides [package] arch)")->check(CLI::IsMember({"x86", "x64"}));
  msi->add_option("--runtime-jar", runtimeJar, "runtime jar (default: zanto-runtime.jar beside zanto-pack)");
  msi->add_option("--actions", actions, "custom-action DLL (default: zanto-msi-actions-ARCH.dll beside zanto-pack)");
  msi->add_option("--wxs", wxs, "also write the package's WiX source to this file");

  std::string exe, extract;
  CLI::App* inspect = app.add_subcommand("inspect", "print what a packaged executable carries, as a configuration");
  inspect->add_option("EXE", exe, "packaged executable")->required();
  inspect->add_option("--extract", extract, "write the included files to this directory");
  bool raw = false;
  inspect->add_flag("--raw", raw, "print every record under [settings] and [raw], not the readable tables");

  CLI::App* settings = app.add_subcommand("settings", "print the settings reference (Markdown)");

  std::string jar, initConfig;
  CLI::App* init = app.add_subcommand("init", "write a first configuration for a jar, from its manifest");
  init->add_option("JAR", jar, "the application's jar")->required();
  init->add_option("-o,--output", initConfig, "configuration to write (default: the jar's name with .toml)");

  CLI11_PARSE(app, argc, argv);
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif

  std::string error;
  if (*build) {
    BuildRequest request;
    request.config = pathFromUtf8(config);
    request.output = pathFromUtf8(output);
    if (!launcher.empty()) request.launcher = pathFromUtf8(launcher);
    if (!arch.empty()) request.arch = archFromName(arch);
    if (!runtimeJar.empty()) request.runtimeJar = pathFromUtf8(runtimeJar);
    request.toolDirectory = toolDirectory(argv[0]);
    std::vector<std::string> warnings;
    bool ok = buildPackage(request, warnings, error);
    for (const std::string& w : warnings) std::fprintf(stderr, "zanto-pack: warning: %s\n", w.c_str());
    return ok ? 0 : fail(error);
  }
  if (*msi) {
    MsiRequest request;
    request.build.config = pathFromUtf8(config);
    request.build.output = pathFromUtf8(output);
    if (!launcher.empty()) request.build.launcher = pathFromUtf8(launcher);
    if (!arch.empty()) request.build.arch = archFromName(arch);
    if (!runtimeJar.empty()) request.build.runtimeJar = pathFromUtf8(runtimeJar);
    request.build.toolDirectory = toolDirectory(argv[0]);
    if (!msiExe.empty()) request.exe = pathFromUtf8(msiExe);
    if (!actions.empty()) request.actions = pathFromUtf8(actions);
    if (!wxs.empty()) request.wxs = pathFromUtf8(wxs);
    std::vector<std::string> warnings;
    bool ok = buildMsi(request, warnings, error);
    for (const std::string& w : warnings) std::fprintf(stderr, "zanto-pack: warning: %s\n", w.c_str());
    return ok ? 0 : fail(error);
  }
  if (*inspect) {
    Bytes image;
    if (!readFileBytes(pathFromUtf8(exe), image, error)) return fail(error);
    fs::path dir = pathFromUtf8(extract);
    std::string toml;
    if (!inspectLauncherCopy(image, exe, extract.empty() ? nullptr : &dir, toml, error, raw)) return fail(error);
    print(toml);
    return 0;
  }
  if (*init) {
    fs::path jarPath = pathFromUtf8(jar);
    fs::path configPath = initConfig.empty() ? fs::path(jarPath.stem()) += ".toml" : pathFromUtf8(initConfig);
    std::string next;
    if (!initCommand(jarPath, configPath, next, error)) return fail(error);
    print(next);
    return 0;
  }
  if (*settings) print(settingsReference());
  return 0;
}

}  // namespace

#ifdef _WIN32
// Wide arguments, so that paths outside the ANSI code page work.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::u8string u8 = fs::path(wargv[i]).u8string();
    args.emplace_back(u8.begin(), u8.end());
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
