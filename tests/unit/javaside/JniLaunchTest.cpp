// The JNI core against a strict fake JVM: which failure gives which result, the
// log lines, and that no JNI function is called while an exception is pending.
// The real-JVM tests in tests/jvm cover the same code against OpenJDK.
#include "JniLaunch.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zanto {
namespace {

std::vector<std::string> logLines;

void logMessage(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  logLines.emplace_back(line);
}

void logError(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  logLines.push_back(std::string("ERROR: ") + line);
}

LaunchLogger testLogger() {
  LaunchLogger log;
  log.message = logMessage;
  log.error = logError;
  return log;
}

// Handles are small integers dressed as JNI pointers.
template <typename T>
T handle(uintptr_t n) {
  return reinterpret_cast<T>(n);
}
uintptr_t number(const void* p) { return reinterpret_cast<uintptr_t>(p); }

constexpr uintptr_t kArray = 1000;
constexpr uintptr_t kThrowable = 2000;
constexpr uintptr_t kFirstString = 3000;

struct FakeJvm {
  std::set<std::string> classes{"com/zanto/runtime/WinLauncher", "java/lang/String", "java/lang/System",
                                "com/velmora/runtime/FirstRun"};
  std::set<std::string> methods{"com/zanto/runtime/WinLauncher.main([Ljava/lang/String;)V",
                                "java/lang/System.exit(I)V", "com/velmora/runtime/FirstRun.firstRun()Z"};
  bool arrayFails = false;
  int newStringFailsAt = -1;
  bool calledMethodThrows = false;
  bool firstRunResult = true;

  bool pending = false;
  int violations = 0;  // calls made with an exception pending
  int describes = 0;
  int destroys = 0;
  std::vector<std::string> classNames;  // by handle - 1
  std::vector<std::string> methodNames;
  std::vector<std::u16string> strings;  // by handle - kFirstString
  std::map<int, std::u16string> arrayElements;
  int arraySize = -1;
  std::vector<std::string> calls;  // methods called, with their argument

  JNINativeInterface_ table{};
  JNIInvokeInterface_ invoke{};
  JNIEnv env{};
  JavaVM vm{};

  FakeJvm();
};

FakeJvm* fake;

void checkNotPending() {
  if (fake->pending) ++fake->violations;
}

jclass JNICALL findClass(JNIEnv*, const char* name) {
  checkNotPending();
  if (!fake->classes.count(name)) {
    fake->pending = true;
    return nullptr;
  }
  fake->classNames.push_back(name);
  return handle<jclass>(fake->classNames.size());
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  checkNotPending();
  std::string full = fake->classNames.at(number(cls) - 1) + "." + name + sig;
  if (!fake->methods.count(full)) {
    fake->pending = true;
    return nullptr;
  }
  fake->methodNames.push_back(full);
  return handle<jmethodID>(fake->methodNames.size());
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize size, jclass cls, jobject init) {
  checkNotPending();
  EXPECT_EQ("java/lang/String", fake->classNames.at(number(cls) - 1));
  EXPECT_EQ(nullptr, init);
  if (fake->arrayFails) {
    fake->pending = true;
    return nullptr;
  }
  fake->arraySize = size;
  return handle<jobjectArray>(kArray);
}

jstring JNICALL newString(JNIEnv*, const jchar* units, jsize length) {
  checkNotPending();
  if (static_cast<int>(fake->strings.size()) == fake->newStringFailsAt) {
    fake->pending = true;
    return nullptr;
  }
  fake->strings.emplace_back(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
  return handle<jstring>(kFirstString + fake->strings.size() - 1);
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  checkNotPending();
  EXPECT_EQ(kArray, number(array));
  EXPECT_LT(index, fake->arraySize);
  fake->arrayElements[index] = fake->strings.at(number(value) - kFirstString);
}

void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

void JNICALL callStaticVoidMethodV(JNIEnv*, jclass, jmethodID method, va_list args) {
  checkNotPending();
  std::string name = fake->methodNames.at(number(method) - 1);
  if (name.find("System.exit") != std::string::npos)
    name += " " + std::to_string(va_arg(args, jint));
  else
    name += " " + std::to_string(number(va_arg(args, jobjectArray)));
  fake->calls.push_back(name);
  if (fake->calledMethodThrows) fake->pending = true;
}

jboolean JNICALL callStaticBooleanMethodV(JNIEnv*, jclass, jmethodID method, va_list) {
  checkNotPending();
  fake->calls.push_back(fake->methodNames.at(number(method) - 1));
  if (fake->calledMethodThrows) {
    fake->pending = true;
    return JNI_FALSE;
  }
  return fake->firstRunResult ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) { return fake->pending ? handle<jthrowable>(kThrowable) : nullptr; }
jboolean JNICALL exceptionCheck(JNIEnv*) { return fake->pending ? JNI_TRUE : JNI_FALSE; }
void JNICALL exceptionClear(JNIEnv*) { fake->pending = false; }
void JNICALL exceptionDescribe(JNIEnv*) {
  // As in the JVM, describing clears the exception.
  if (fake->pending) ++fake->describes;
  fake->pending = false;
}

jint JNICALL destroyJavaVM(JavaVM*) {
  ++fake->destroys;
  return 0;
}

FakeJvm::FakeJvm() {
  table.FindClass = findClass;
  table.GetStaticMethodID = getStaticMethodID;
  table.NewObjectArray = newObjectArray;
  table.NewString = newString;
  table.SetObjectArrayElement = setObjectArrayElement;
  table.DeleteLocalRef = deleteLocalRef;
  table.CallStaticVoidMethodV = callStaticVoidMethodV;
  table.CallStaticBooleanMethodV = callStaticBooleanMethodV;
  table.ExceptionOccurred = exceptionOccurred;
  table.ExceptionCheck = exceptionCheck;
  table.ExceptionClear = exceptionClear;
  table.ExceptionDescribe = exceptionDescribe;
  invoke.DestroyJavaVM = destroyJavaVM;
  env.functions = &table;
  vm.functions = &invoke;
}

class JniLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &jvm;
    logLines.clear();
  }
  void TearDown() override {
    EXPECT_EQ(0, jvm.violations) << "JNI called with an exception pending";
    EXPECT_FALSE(jvm.pending) << "exception left pending";
    fake = nullptr;
  }
  FakeJvm jvm;
};

const std::vector<std::u16string> kArgs{u"false", u"a.Main", u"", u"\u4e2d\U0001F600", u"x y"};

TEST_F(JniLaunchTest, CallMainFailures) {
  struct Case {
    const char* name;
    void (*setUp)(FakeJvm&);
    JniResult result;
    bool mainCalled;
  };
  const Case cases[] = {
      {"none", [](FakeJvm&) {}, JniResult::Ok, true},
      {"class", [](FakeJvm& j) { j.classes.erase("com/zanto/runtime/WinLauncher"); }, JniResult::ClassNotFound, false},
      {"main", [](FakeJvm& j) { j.methods.clear(); }, JniResult::MethodNotFound, false},
      {"String", [](FakeJvm& j) { j.classes.erase("java/lang/String"); }, JniResult::OutOfMemory, false},
      {"array", [](FakeJvm& j) { j.arrayFails = true; }, JniResult::OutOfMemory, false},
      {"first string", [](FakeJvm& j) { j.newStringFailsAt = 0; }, JniResult::OutOfMemory, false},
      {"last string", [](FakeJvm& j) { j.newStringFailsAt = 4; }, JniResult::OutOfMemory, false},
      {"throws", [](FakeJvm& j) { j.calledMethodThrows = true; }, JniResult::Exception, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeJvm j;
    fake = &j;
    logLines.clear();
    c.setUp(j);
    EXPECT_EQ(c.result, callMain(&j.env, "com.zanto.runtime.WinLauncher", kArgs, testLogger()));
    EXPECT_EQ(c.mainCalled, !j.calls.empty());
    EXPECT_EQ(0, j.violations);
    EXPECT_FALSE(j.pending);
    bool errorLogged = !logLines.empty() && logLines.back() == "ERROR: an exception occured";
    EXPECT_EQ(c.result == JniResult::Exception, errorLogged);
    EXPECT_EQ(c.result == JniResult::Exception ? 1 : 0, j.describes);
    EXPECT_EQ(c.result == JniResult::OutOfMemory ? 21 : 0, internalErrorCode(c.result));
  }
  fake = &jvm;
}

TEST_F(JniLaunchTest, FirstRunResults) {
  struct Case {
    const char* name;
    void (*setUp)(FakeJvm&);
    JniResult result;
    int describes;
  };
  const Case cases[] = {
      {"true", [](FakeJvm&) {}, JniResult::Ok, 0},
      {"false", [](FakeJvm& j) { j.firstRunResult = false; }, JniResult::StoppedByFirstRun, 0},
      {"throws", [](FakeJvm& j) { j.calledMethodThrows = true; }, JniResult::FirstRunThrew, 1},
      {"no class", [](FakeJvm& j) { j.classes.erase("com/velmora/runtime/FirstRun"); },
       JniResult::FirstRunClassMissing, 0},
      {"no method", [](FakeJvm& j) { j.methods.clear(); }, JniResult::FirstRunMethodMissing, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeJvm j;
    fake = &j;
    c.setUp(j);
    EXPECT_EQ(c.result, checkFirstRun(&j.env));
    EXPECT_EQ(c.describes, j.describes);
    int code = c.result == JniResult::FirstRunClassMissing ? 14 : c.result == JniResult::FirstRunMethodMissing ? 15 : 0;
    EXPECT_EQ(code, internalErrorCode(c.result));
    EXPECT_EQ(0, j.violations);
    EXPECT_FALSE(j.pending);
  }
  fake = &jvm;
}

TEST_F(JniLaunchTest, ShutdownCallsExitAndAlwaysDestroys) {
  EXPECT_EQ(JniResult::Ok, shutdownJvm(&jvm.vm, &jvm.env));
  EXPECT_EQ((std::vector<std::string>{"java/lang/System.exit(I)V 0"}), jvm.calls);
  EXPECT_EQ(1, jvm.destroys);

  struct Case {
    void (*setUp)(FakeJvm&);
    JniResult result;
  };
  const Case cases[] = {
      {[](FakeJvm& j) { j.classes.erase("java/lang/System"); }, JniResult::ClassNotFound},
      {[](FakeJvm& j) { j.methods.clear(); }, JniResult::MethodNotFound},
      {[](FakeJvm& j) { j.calledMethodThrows = true; }, JniResult::Exception},
  };
  for (const Case& c : cases) {
    FakeJvm j;
    fake = &j;
    c.setUp(j);
    EXPECT_EQ(c.result, shutdownJvm(&j.vm, &j.env));
    EXPECT_EQ(1, j.destroys);
    EXPECT_EQ(0, j.violations);
    EXPECT_FALSE(j.pending);
  }
  fake = &jvm;
}

void JNICALL exitHook(jint) {}

jint lastEntryResult;
JavaVMInitArgs* lastEntryArgs;
jint JNICALL fakeEntry(JavaVM** vm, void** env, void* args) {
  *vm = nullptr;
  *env = nullptr;
  lastEntryArgs = static_cast<JavaVMInitArgs*>(args);
  return lastEntryResult;
}

TEST_F(JniLaunchTest, StartArgumentsInOrderWithExitHookLast) {
  VmStartArguments start;
  buildVmInitArgs(start, {"-Dzanto.moduleName=C:\\a.exe", "-Djava.class.path=x;", "-Xmx64m"}, exitHook, testLogger());
  const JavaVMInitArgs& a = start.initArgs;
  EXPECT_EQ(JNI_VERSION_1_2, a.version);
  EXPECT_EQ(JNI_TRUE, a.ignoreUnrecognized);
  ASSERT_EQ(4, a.nOptions);
  EXPECT_STREQ("-Dzanto.moduleName=C:\\a.exe", a.options[0].optionString);
  EXPECT_STREQ("-Xmx64m", a.options[2].optionString);
  EXPECT_STREQ("exit", a.options[3].optionString);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(nullptr, a.options[i].extraInfo);
  EXPECT_EQ(reinterpret_cast<void*>(exitHook), a.options[3].extraInfo);
  EXPECT_EQ((std::vector<std::string>{"vmoption count 4", "vmoption 0: -Dzanto.moduleName=C:\\a.exe",
                                      "vmoption 1: -Djava.class.path=x;", "vmoption 2: -Xmx64m", "vmoption 3: exit"}),
            logLines);

  VmStartArguments plain;
  buildVmInitArgs(plain, {}, nullptr, LaunchLogger{});
  EXPECT_EQ(0, plain.initArgs.nOptions);

  // Only an exact 0 from the entry is success.
  for (jint result : {0, 1, -1, -6}) {
    lastEntryResult = result;
    JavaVM* vm;
    JNIEnv* env;
    EXPECT_EQ(result == 0, createJvm(fakeEntry, start, &vm, &env));
    EXPECT_EQ(&start.initArgs, lastEntryArgs);
  }
}

}  // namespace
}  // namespace zanto
