// The one table of configuration settings: id, name and kind of every record the
// launcher reads. The launcher, the packager, `inspect` and the settings reference
// in docs/ are all driven from it. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zanto {

// Layout constants of the configuration block and the included file data.
constexpr uint32_t kBlockMagic = 0xE8E413D5u;
// Every byte of an included file is stored XORed with this mask.
constexpr uint8_t kContentMask = 0xA7;
// Fixed buffer sizes the launcher holds texts in.
constexpr size_t kTextBufferSize = 8192;
// The longest restart delay whose milliseconds fit in 32 bits (49 days).
constexpr int64_t kMaxRestartDelaySeconds = 4294967;

enum class SettingKind : uint8_t {
  Text,  // 8-bit text
  Int,   // decimal text, read like atoi
  Flag,  // int, non-zero means on
  List,  // text with separators
  Wide,  // UTF-16 record
};

struct SettingInfo {
  int32_t id;
  const char* name;
  SettingKind kind;
  const char* meaning;
};

namespace setting {
constexpr int32_t ApplicationName = 101;
constexpr int32_t RedirectStderr = 102;
constexpr int32_t StderrFile = 103;
constexpr int32_t RedirectStdout = 104;
constexpr int32_t StdoutFile = 105;
constexpr int32_t RedirectAppend = 106;
constexpr int32_t ExecutableType = 107;
constexpr int32_t ClassPath = 121;
constexpr int32_t MainClass = 122;
constexpr int32_t VmParameters = 123;
constexpr int32_t Arguments = 124;
constexpr int32_t PassVmArguments = 125;
constexpr int32_t MinJavaVersion = 126;
constexpr int32_t MaxJavaVersion = 127;
constexpr int32_t JvmSearchSequence = 128;
constexpr int32_t AllowBetaJava = 130;
constexpr int32_t RequireJdk = 131;
constexpr int32_t WorkingDirectory = 146;
constexpr int32_t ServiceDependencies = 149;
constexpr int32_t PreferredVmType = 152;
constexpr int32_t ProductFlavor = 2001;
constexpr int32_t IncludedFileCount = 2002;
constexpr int32_t IncludedFileNames = 2003;
constexpr int32_t InstallRoot = 10003;
constexpr int32_t PathPrefix = 10004;
constexpr int32_t ProcessCommFile = 10005;
constexpr int32_t ServiceDescription = 20017;  // wide
// Opt-in rules for today's Java runtimes; absent (blocks of other tools) means off.
constexpr int32_t NumericVersionCheck = 30001;
constexpr int32_t ReleaseFileVersion = 30002;
constexpr int32_t WideRegistrySearch = 30003;
// Recovery and delayed start, applied at installation.
constexpr int32_t RestartOnFailure = 30010;
constexpr int32_t RestartDelayFirst = 30011;
constexpr int32_t RestartDelaySecond = 30012;
constexpr int32_t RestartDelayLater = 30013;
constexpr int32_t FailureResetPeriod = 30014;
constexpr int32_t RestartOnNonCrashFailure = 30015;
constexpr int32_t DelayedAutoStart = 30016;
// How a stop ends and whether the application's own end ends the service.
constexpr int32_t StopTimeout = 30020;
constexpr int32_t EndWithApplication = 30021;
// Start protocol: start pending until main is called, failures as service-specific codes.
constexpr int32_t StartPending = 30022;
// The code page of the block's 8-bit texts; absent: the machine's ANSI code page.
constexpr int32_t CodePage = 30030;
// The account the service runs as and its name in the services console.
constexpr int32_t ServiceAccount = 30040;
constexpr int32_t DisplayName = 30041;  // wide
// A LocalSystem service that may interact with the desktop (the legacy type 0x110).
constexpr int32_t InteractiveService = 30042;
// Capture of the process's standard output and error into log files that roll.
constexpr int32_t OutputLog = 30050;
constexpr int32_t ErrorLog = 30051;
constexpr int32_t LogMode = 30052;
constexpr int32_t LogSizeThreshold = 30053;
constexpr int32_t LogKeepFiles = 30054;
constexpr int32_t ConsoleLog = 30055;
}  // namespace setting

// StopTimeout when the block has none: seconds a stop may take before the process
// is ended. 0 in the block means no limit.
constexpr int32_t kDefaultStopTimeoutSeconds = 30;
// The longest StopTimeout whose milliseconds, with the pre-shutdown margin, fit in 32 bits.
constexpr int64_t kMaxStopTimeoutSeconds = 4294900;

// Message texts, 8-bit records. The block supplies every text.
namespace message {
constexpr int32_t ErrorCaption = 1000;
constexpr int32_t NoJvm = 1001;
constexpr int32_t SearchPathJvmDamaged = 1002;
constexpr int32_t EnvVarJvmBroken = 1003;
constexpr int32_t DefinedPathJvmDamaged = 1004;
constexpr int32_t JvmStartFailed = 1005;
constexpr int32_t FileNotFound = 1006;
constexpr int32_t WrongParameterUsage = 1007;
constexpr int32_t EnvVarUndefined = 1008;
constexpr int32_t InternalError = 1009;
constexpr int32_t MainClassNotFound = 1010;
constexpr int32_t MainMethodNotFound = 1011;
}  // namespace message

// Every named setting and message. Wide records are marked by their kind.
extern const SettingInfo kSettings[];
extern const size_t kSettingCount;

// Look-ups; null when the name or id is not in the table. Narrow and wide ids are
// separate spaces, so the id look-up says which one it asks for.
const SettingInfo* findSettingByName(const char* name);
const SettingInfo* findSettingById(int32_t id, bool wide);

const char* settingKindName(SettingKind kind);

// Settings the launcher reads whole, without a fixed buffer: the class path list
// and the JVM options of a large application outgrow 8192 bytes.
bool settingReadWhole(int32_t id);

// The values an int setting may take when the packager writes it by name; false
// when any 32-bit value is taken. The launcher cuts what lies outside.
bool intSettingRange(int32_t id, int64_t& minimum, int64_t& maximum);

// Why a text setting's value would not be understood by the launcher (the values of
// LogMode, the size of LogSizeThreshold); null when it is fine or not checked.
const char* textSettingProblem(int32_t id, const char* value);

}  // namespace zanto
