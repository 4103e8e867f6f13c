// Real-JVM tests of the launch: OpenJDK's libjvm.so loaded with dlopen, started
// through the JNI core with -Xcheck:jni, running the runtime's WinLauncher with a
// sample application. A process holds one JVM only, so each case runs in a child:
// this program started again as "--jvm-case NAME DIR".
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JniLaunch.h"
#include "ParameterSplitter.h"

extern char** environ;

namespace zanto {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::u16string>;

// ---------------------------------------------------------------- child side

std::string caseDir;

void printLine(const char* prefix, const char* format, va_list args) {
  std::printf("%s", prefix);
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
}

void childMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printLine("LOG: ", format, args);
  va_end(args);
}

void childError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printLine("LOG: ERROR: ", format, args);
  va_end(args);
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void JNICALL recordExit(jint status) { writeFile(caseDir + "/exit-hook.txt", std::to_string(status)); }

std::string ascii(const std::u16string& s) { return std::string(s.begin(), s.end()); }

JNIEnv* startJvm(const std::string& classPath, const std::vector<std::string>& extra, JavaVM** vm) {
  void* lib = dlopen(ZANTO_LIBJVM, RTLD_NOW);
  if (!lib) {
    std::printf("dlopen failed: %s\n", dlerror());
    std::exit(2);
  }
  auto entry = reinterpret_cast<CreateJavaVmFunction>(dlsym(lib, "JNI_CreateJavaVM"));
  if (!entry) std::exit(3);
  std::vector<std::string> options{"-Xcheck:jni", "-Djava.class.path=" + classPath, "-Dsample.dir=" + caseDir,
                                   "-Xmx64m", "-XX:+UseSerialGC"};
  options.insert(options.end(), extra.begin(), extra.end());
  // The JVM keeps pointers into the start arguments.
  static VmStartArguments start;
  LaunchLogger log;
  log.message = childMessage;
  buildVmInitArgs(start, options, recordExit, log);
  JNIEnv* env = nullptr;
  if (!createJvm(entry, start, vm, &env)) {
    std::printf("JVM not created\n");
    std::exit(4);
  }
  return env;
}

// UTF-8 for the log, as a Linux logger would convert.
void utf8ForLog(const char16_t* text, char* buffer, size_t size) {
  std::string out;
  for (size_t i = 0; text[i]; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::snprintf(buffer, size, "%s", out.c_str());
}

LaunchLogger childLogger() {
  LaunchLogger log;
  log.message = childMessage;
  log.error = childError;
  log.narrowForLog = utf8ForLog;
  return log;
}

LauncherPrefixValues samplePrefix() {
  LauncherPrefixValues p;
  p.mainClass = u"sample.SampleApp";
  std::string err = caseDir + "/err.txt", out = caseDir + "/logs/out.txt";
  p.stderrFile.assign(err.begin(), err.end());
  p.stdoutFile.assign(out.begin(), out.end());
  return p;
}

// Ends the child: through the JVM when the case says so (status 0 expected),
// otherwise with 40 + the result, so that the parent sees which path was taken.
[[noreturn]] void finish(JavaVM* vm, JNIEnv* env, JniResult result, bool throughShutdown) {
  std::printf("RESULT %d\n", static_cast<int>(result));
  std::fflush(stdout);
  if (throughShutdown) {
    shutdownJvm(vm, env);
    std::printf("shutdownJvm returned\n");
    std::fflush(stdout);
    _exit(90);
  }
  _exit(40 + static_cast<int>(result));
}

const std::string kRuntimeCp = std::string(ZANTO_RUNTIME_JAR) + ":" + SAMPLE_JAR;

int runChild(const std::string& name) {
  JavaVM* vm = nullptr;
  if (name == "arguments") {
    Args launch{u"My Service", u"-J-Dsample.viaJ=yes", u"tail \u00e9"};
    Args configured;
    if (splitParameters(u"'a b' \"c'd\" \u4e2d\u6587 \U0001F600 back\\slash '' -Dx=\"1 2\"", configured) !=
        SplitStatus::Ok)
      return 5;
    std::vector<std::string> vmOptions;
    for (const auto& o : vmArgumentsFromLaunchArgs(launch, true)) vmOptions.push_back(ascii(o));
    JNIEnv* env = startJvm(kRuntimeCp, vmOptions, &vm);
    Args list = buildMainArgumentList(samplePrefix(), launch, configured, true);
    finish(vm, env, callMain(env, "com.zanto.runtime.WinLauncher", list, childLogger()), true);
  }
  if (name == "many") {
    JNIEnv* env = startJvm(kRuntimeCp, {}, &vm);
    Args launch{u"svc"};
    for (int i = 0; i < 5000; ++i) {
      std::string s = "arg" + std::to_string(i);
      launch.emplace_back(s.begin(), s.end());
    }
    Args list = buildMainArgumentList(samplePrefix(), launch, {}, false);
    finish(vm, env, callMain(env, "com/zanto/runtime/WinLauncher", list, LaunchLogger{}), true);
  }
  if (name == "exception" || name == "service") {
    JNIEnv* env = startJvm(kRuntimeCp, {"-Dsample.mode=" + std::string(name == "service" ? "service" : "throw")}, &vm);
    Args list = buildMainArgumentList(samplePrefix(), {u"svc"}, {}, false);
    JniResult r = callMain(env, "com.zanto.runtime.WinLauncher", list, childLogger());
    finish(vm, env, r, r == JniResult::Ok);
  }
  if (name == "noclass" || name == "nomain") {
    JNIEnv* env = startJvm(kRuntimeCp, {}, &vm);
    const char* cls = name == "noclass" ? "com.zanto.runtime.Missing" : "sample.NoMain";
    finish(vm, env, callMain(env, cls, buildMainArgumentList(samplePrefix(), {}, {}, false), childLogger()), false);
  }
  if (name == "stopmain" || name == "destroy" || name == "stopdestroy") {
    const char* mode = name == "stopmain" ? "block" : name == "destroy" ? "linger" : "lingerforever";
    JNIEnv* env = startJvm(kRuntimeCp, {std::string("-Dsample.mode=") + mode}, &vm);
    if (name != "destroy") {
      // The stop, as the launcher's stop thread makes it: a thread of its own,
      // while main blocks or DestroyJavaVM waits on this one.
      const std::string ready = caseDir + (name == "stopmain" ? "/blocking.txt" : "/props.txt");
      std::thread([vm, ready] {
        while (!fs::exists(ready)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::printf("RESULT %d\nexit returned\n", static_cast<int>(exitJvmFromThread(vm)));
        std::fflush(stdout);
        _exit(91);
      }).detach();
    }
    JniResult r = callMain(env, "com.zanto.runtime.WinLauncher",
                           buildMainArgumentList(samplePrefix(), {u"svc"}, {}, false), childLogger());
    std::printf("main returned %d\n", static_cast<int>(r));
    std::fflush(stdout);
    if (name == "stopmain") _exit(92);
    vm->DestroyJavaVM();
    std::printf("DestroyJavaVM returned\n");
    std::fflush(stdout);
    _exit(name == "destroy" ? 0 : 93);
  }
  if (name.rfind("first", 0) == 0) {
    // The installed layout: the runtime archive below the installation root,
    // where FirstRun finds the marker beside it.
    std::string cp = caseDir + "/.velmora/vmrruntime.jar:" + SAMPLE_JAR;
    if (name == "firstmissing") cp = SAMPLE_JAR;
    if (name == "firstbadmethod") cp = BAD_FIRSTRUN_JAR;
    const char* action = name == "firstfail" ? "sample.FirstRunActions$Fail" : "sample.FirstRunActions$Stop";
    JNIEnv* env = startJvm(cp, {std::string("-Dzanto.firstRunAction=") + action}, &vm);
    JniResult r = checkFirstRun(env);
    finish(vm, env, r, r == JniResult::StoppedByFirstRun || r == JniResult::FirstRunThrew);
  }
  return 6;
}

// --------------------------------------------------------------- parent side

struct Outcome {
  int status = -1;  // exit status, or 128 + signal
  std::string output;
};

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Args readRecord(const fs::path& p) {
  std::string bytes = readFile(p);
  Args args;
  std::u16string current;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (unit == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(unit);
    }
  }
  return args;
}

class JvmLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "zanto-jvm-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(templ.data()));
    dir = templ;
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }

  Outcome run(const std::string& name) {
    Outcome o;
    std::string outputFile = (dir / "output.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string self = fs::read_symlink("/proc/self/exe").string(), dirText = dir.string();
    char* argv[] = {self.data(), const_cast<char*>("--jvm-case"), const_cast<char*>(name.c_str()), dirText.data(),
                    nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return o;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.output = readFile(outputFile);
    // -Xcheck:jni reports misuse as warnings or ends the JVM with a fatal error.
    EXPECT_EQ(std::string::npos, o.output.find("WARNING")) << o.output;
    EXPECT_EQ(std::string::npos, o.output.find("FATAL ERROR")) << o.output;
    return o;
  }

  void makeInstalledLayout() {
    fs::create_directories(dir / ".velmora");
    fs::copy_file(ZANTO_RUNTIME_JAR, dir / ".velmora" / "vmrruntime.jar");
    writeFile((dir / ".velmora" / "firstrun").string(), "");
  }

  static std::string result(JniResult r) { return "RESULT " + std::to_string(static_cast<int>(r)) + "\n"; }
  static int exitFor(JniResult r) { return 40 + static_cast<int>(r); }

  fs::path dir;
};

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST_F(JvmLaunch, ArgumentsArriveExactly) {
  Outcome o = run("arguments");
  ASSERT_EQ(0, o.status) << o.output;
  EXPECT_TRUE(contains(o.output, result(JniResult::Ok))) << o.output;
  // After the service name: the configured arguments, then the launch arguments
  // that are not JVM options.
  Args expected{u"a b", u"c'd", u"\u4e2d\u6587", u"\U0001F600", u"back\\slash", u"", u"-Dx=1 2", u"tail \u00e9"};
  EXPECT_EQ(expected, readRecord(dir / "record.bin"));
  EXPECT_EQ("serviceName=My Service\nviaJ=yes\nwindowed=false\n", readFile(dir / "props.txt"));
  // The redirected streams, the one written without line end included.
  EXPECT_EQ("to stdout", readFile(dir / "logs" / "out.txt"));
  EXPECT_EQ("to stderr\n", readFile(dir / "err.txt"));
  EXPECT_EQ("0", readFile(dir / "exit-hook.txt"));
  for (const char* line : {"LOG: vmoption 5: -Dsample.viaJ=yes", "LOG: vmoption 6: exit",
                           "LOG: main class: com/zanto/runtime/WinLauncher", "LOG: param count: 14",
                           "LOG: param 5: My Service", "LOG: param 7: c'd", "LOG: param 8: \u4e2d\u6587", "LOG: param 9: \U0001F600",
                           "LOG: calling main",
                           "LOG: main returned"})
    EXPECT_TRUE(contains(o.output, std::string(line) + "\n")) << line << "\n" << o.output;
}

TEST_F(JvmLaunch, ManyArgumentsWithinLocalReferenceLimits) {
  Outcome o = run("many");
  ASSERT_EQ(0, o.status) << o.output;
  Args got = readRecord(dir / "record.bin");
  ASSERT_EQ(5000u, got.size());
  EXPECT_EQ(u"arg0", got.front());
  EXPECT_EQ(u"arg4999", got.back());
}

TEST_F(JvmLaunch, ExceptionInMainTakesTheFailurePath) {
  Outcome o = run("exception");
  EXPECT_EQ(exitFor(JniResult::Exception), o.status) << o.output;
  EXPECT_TRUE(contains(o.output, "LOG: main returned\nLOG: ERROR: an exception occured\n")) << o.output;
  // The application's own exception, not a reflection wrapper, described by the
  // JVM through System.err, which the launcher class redirected.
  std::string err = readFile(dir / "err.txt");
  EXPECT_TRUE(contains(err, "to stderr\njava.lang.IllegalStateException: sample failure\n")) << err;
  EXPECT_TRUE(contains(err, "at sample.SampleApp.main")) << err;
  EXPECT_FALSE(contains(err, "InvocationTargetException")) << err;
}

TEST_F(JvmLaunch, ShutdownRunsHooksAndEndsWithZero) {
  Outcome o = run("service");
  EXPECT_EQ(0, o.status) << o.output;
  EXPECT_TRUE(contains(o.output, result(JniResult::Ok))) << o.output;
  EXPECT_FALSE(contains(o.output, "shutdownJvm returned")) << o.output;
  EXPECT_EQ("hook ran", readFile(dir / "hook.txt"));
  EXPECT_EQ("0", readFile(dir / "exit-hook.txt"));
}

// A stop from another thread while main blocks, or while DestroyJavaVM waits
// for the application's thread: the hooks run and the JVM ends with 0. Without
// a stop, DestroyJavaVM returns only once that thread has ended.
TEST_F(JvmLaunch, StopFromAnotherThreadAndDestroyAfterMain) {
  const struct {
    const char* name;
    int status;
    const char* output;  // expected in the output
    const char* absent;  // not in the output
  } cases[] = {
      {"stopmain", 0, "LOG: calling main\n", "main returned"},
      {"stopdestroy", 0, "main returned 0\n", "DestroyJavaVM returned"},
      {"destroy", 0, "main returned 0\nDestroyJavaVM returned\n", "exit returned"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    Outcome o = run(c.name);
    EXPECT_EQ(c.status, o.status) << o.output;
    EXPECT_TRUE(contains(o.output, c.output)) << o.output;
    EXPECT_FALSE(contains(o.output, c.absent)) << o.output;
    EXPECT_EQ("hook ran", readFile(dir / "hook.txt"));
    if (std::string(c.name) == "destroy") {
      EXPECT_EQ("thread ended", readFile(dir / "linger.txt"));
      EXPECT_FALSE(fs::exists(dir / "exit-hook.txt")) << "DestroyJavaVM is no System.exit";
    } else {
      EXPECT_EQ("0", readFile(dir / "exit-hook.txt"));
      EXPECT_FALSE(fs::exists(dir / "linger.txt"));
    }
  }
}

TEST_F(JvmLaunch, LauncherClassOrMainMissing) {
  const std::pair<const char*, JniResult> cases[] = {{"noclass", JniResult::ClassNotFound},
                                                     {"nomain", JniResult::MethodNotFound}};
  for (const auto& [name, expected] : cases) {
    Outcome o = run(name);
    EXPECT_EQ(exitFor(expected), o.status) << name << "\n" << o.output;
    EXPECT_FALSE(fs::exists(dir / "record.bin"));
  }
}

TEST_F(JvmLaunch, FirstRunStoppingTheLaunchQuietly) {
  makeInstalledLayout();
  Outcome o = run("firststop");
  EXPECT_EQ(0, o.status) << o.output;
  EXPECT_TRUE(contains(o.output, result(JniResult::StoppedByFirstRun))) << o.output;
  EXPECT_EQ("stop", readFile(dir / "action.txt"));
  EXPECT_FALSE(fs::exists(dir / ".velmora" / "firstrun"));
  EXPECT_FALSE(fs::exists(dir / "record.bin"));
}

TEST_F(JvmLaunch, FirstRunFailureIsDescribedAndKeepsTheMarker) {
  makeInstalledLayout();
  Outcome o = run("firstfail");
  EXPECT_EQ(0, o.status) << o.output;
  EXPECT_TRUE(contains(o.output, result(JniResult::FirstRunThrew))) << o.output;
  EXPECT_TRUE(contains(o.output, "java.lang.IllegalStateException: first-run action failed")) << o.output;
  EXPECT_TRUE(fs::exists(dir / ".velmora" / "firstrun"));
}

TEST_F(JvmLaunch, FirstRunClassOrMethodMissing) {
  const std::pair<const char*, JniResult> cases[] = {{"firstmissing", JniResult::FirstRunClassMissing},
                                                     {"firstbadmethod", JniResult::FirstRunMethodMissing}};
  for (const auto& [name, expected] : cases) {
    Outcome o = run(name);
    EXPECT_EQ(exitFor(expected), o.status) << name << "\n" << o.output;
  }
}

}  // namespace
}  // namespace zanto

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--jvm-case") == 0) {
    zanto::caseDir = argv[3];
    return zanto::runChild(argv[2]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
