// The settings table itself. Keep names stable: packaged configurations, `inspect`
// output and the settings reference all refer to settings by these names.
#include "Settings.h"

#include <cstdint>
#include <cstring>

#include "RollingLog.h"

namespace zanto {

using K = SettingKind;

const SettingInfo kSettings[] = {
    {101, "ApplicationName", K::Text, "name of the application; the service name"},
    {102, "RedirectStderr", K::Flag, "hand the file of StderrFile to the Java side for standard error"},
    {103, "StderrFile", K::Text, "file name for redirected standard error"},
    {104, "RedirectStdout", K::Flag, "hand the file of StdoutFile to the Java side for standard output"},
    {105, "StdoutFile", K::Text, "file name for redirected standard output"},
    {106, "RedirectAppend", K::Flag, "append to the redirection files instead of truncating them"},
    {107, "ExecutableType", K::Int,
     "launcher kind: 1 and 5 report errors in message boxes (1 also runs javaw.exe), 4 makes "
     "\"install\" create an automatically started service"},
    {121, "ClassPath", K::List, "class path entries separated by ';': type letter (A, D, S, E), flag digit (1 = required), text"},
    {122, "MainClass", K::Text, "fully qualified name of the application's main class"},
    {123, "VmParameters", K::Text, "JVM options, split at blanks with quoting"},
    {124, "Arguments", K::Text, "application arguments, split at blanks with quoting"},
    {125, "PassVmArguments", K::Flag, "launch arguments beginning with -J become JVM options"},
    {126, "MinJavaVersion", K::Text, "lowest acceptable Java version (inclusive prefix)"},
    {127, "MaxJavaVersion", K::Text, "highest acceptable Java version (inclusive prefix); empty means no limit"},
    {128, "JvmSearchSequence", K::List, "JVM search entries separated by ';': A, R, B (home directory), E (variable), S (search path), Y (registry)"},
    {130, "AllowBetaJava", K::Flag, "accept pre-release Java versions"},
    {131, "RequireJdk", K::Flag,
     "accept only a JDK: lib\\tools.jar present, or with NumericVersionCheck bin\\javac.exe (Java 9 and later)"},
    {146, "WorkingDirectory", K::Text,
     "directory made current at start, relative to the executable's folder; zanto-pack writes \".\" (the "
     "executable's folder) unless configured; absent or empty leaves it unchanged (System32 for a service)"},
    {149, "ServiceDependencies", K::List, "services this service depends on, separated by ','"},
    {152, "PreferredVmType", K::Text, "VM type directory tried first when jvm.dll is loaded"},
    {1000, "ErrorCaption", K::Text, "message: caption of error message boxes"},
    {1001, "NoJvmMessage", K::Text, "message: no JVM found"},
    {1002, "SearchPathJvmDamagedMessage", K::Text, "message: the JVM found in the path is damaged"},
    {1003, "EnvVarJvmMessage", K::Text, "message: a variable does not point to a working JVM (%ENV_VAR_NAME%)"},
    {1004, "DefinedPathJvmMessage", K::Text, "message: the JVM at a defined path is damaged (%DEFINED_PATH%)"},
    {1005, "JvmStartFailedMessage", K::Text, "message: the JVM could not be started"},
    {1006, "FileNotFoundMessage", K::Text, "message: a class path file or directory is missing (%FILE_NAME%)"},
    {1007, "WrongParameterMessage", K::Text, "message: wrong parameter usage (unmatched quote)"},
    {1008, "EnvVarUndefinedMessage", K::Text, "message: a required variable is undefined (%ENV_VAR_NAME%)"},
    {1009, "InternalErrorMessage", K::Text, "message: internal error (%ERROR_CODE%)"},
    {1010, "MainClassNotFoundMessage", K::Text, "message: main class not found"},
    {1011, "MainMethodNotFoundMessage", K::Text, "message: main method not found"},
    {1012, "ErrorWordMessage", K::Text, "message: stored, not read by the launcher"},
    {1013, "OkWordMessage", K::Text, "message: stored, not read by the launcher"},
    {1014, "StartupErrorMessage", K::Text, "message: stored, not read by the launcher"},
    {2001, "ProductFlavor", K::Text, "product flavour letter: e (plain launcher) or i (velmora flavour)"},
    {2002, "IncludedFileCount", K::Int, "number of included files behind the block (written by the packager)"},
    {2003, "IncludedFileNames", K::List, "names of the included files separated by ';' (written by the packager)"},
    {10003, "InstallRoot", K::Text, "directory, relative to the executable's, holding the .velmora folder"},
    {10004, "PathPrefix", K::List, "directories put in front of PATH at start, separated by ';'"},
    {10005, "ProcessCommFile", K::Flag, "tell the Java side the name of a per-process communication file"},
    {20017, "ServiceDescription", K::Wide, "description given to the service at installation"},
    {30001, "NumericVersionCheck", K::Flag,
     "off unless set (zanto-pack sets it): take the version line of every vendor (WORD version "
     "\"...\") and compare versions by number: 1.8 equals 8, 1.10 is above 1.4, the limits stay "
     "inclusive prefixes (maximum 11 accepts 11.x), pre-release only by whole markers (-ea, -rc, "
     "beta); the same for registry key names"},
    {30002, "ReleaseFileVersion", K::Flag,
     "off unless set (zanto-pack sets it): take a runtime's version from JAVA_VERSION in its "
     "release file (cached like a measured one) instead of running java -version; without the "
     "file java -version still runs"},
    {30003, "WideRegistrySearch", K::Flag,
     "off unless set (zanto-pack sets it): Y entries also search SOFTWARE\\JavaSoft\\JDK and "
     "\\JRE (Java 9 and later) and the keys of Eclipse Adoptium, AdoptOpenJDK, Microsoft and Azul "
     "Zulu, in the launcher's registry view; the newest acceptable runtime wins"},
    {30010, "RestartOnFailure", K::Flag,
     "install: the control manager restarts the service after a failure, after the RestartDelay... delays"},
    {30011, "RestartDelayFirst", K::Int, "install: seconds before the restart after the first failure"},
    {30012, "RestartDelaySecond", K::Int, "install: seconds before the restart after the second failure"},
    {30013, "RestartDelayLater", K::Int, "install: seconds before the restart after any later failure"},
    {30014, "FailureResetPeriod", K::Int,
     "install: seconds without a failure after which the failure count starts again; 0 means one day (86400)"},
    {30015, "RestartOnNonCrashFailure", K::Flag,
     "install: a stop with a non-zero exit code (System.exit(n), n not 0) counts as a failure, not only a crash"},
    {30016, "DelayedAutoStart", K::Flag,
     "install: an automatically started service starts delayed, after the other automatic services"},
    {30020, "StopTimeout", K::Int,
     "seconds a stop may take (the JVM's exit with its shutdown hooks) before the launcher ends the process and "
     "reports the service stopped with exit code 1053; absent means 30, 0 waits for ever; install also gives "
     "Windows this time plus 15 seconds at system shutdown (pre-shutdown timeout)"},
    {30021, "EndWithApplication", K::Flag,
     "off unless set (zanto-pack sets it): once main has returned and the application's last non-daemon thread "
     "has ended (DestroyJavaVM, as the java command does), the service stops with exit code 0; off, the JVM stays "
     "until a stop"},
    {30022, "StartPending", K::Flag,
     "off unless set (zanto-pack sets it): the service reports start pending, with a check point that moves "
     "every 2 seconds, until main is called, and only then running; a failed start ends stopped with exit code "
     "1066 and a service-specific code that says why (README: the start protocol); off, the service reports "
     "running at once and a failed start ends with exit code 1"},
    {30030, "CodePage", K::Int,
     "code page of the block's 8-bit texts (written by zanto-pack from [package] codepage); the launcher turns "
     "MainClass, Arguments and VmParameters into UTF-16 from it; absent: the machine's ANSI code page"},
    {30040, "ServiceAccount", K::Text,
     "install: the account the service runs as: empty or LocalSystem (default), LocalService, NetworkService "
     "(NT AUTHORITY\\...), NT SERVICE\\<service name> (virtual account), DOMAIN\\name$ (group managed "
     "account), or a user (DOMAIN\\user, .\\user) whose password install takes from ZANTO_SERVICE_PASSWORD or "
     "the console, never from the block; ZANTO_SERVICE_ACCOUNT overrides it at install"},
    {30041, "DisplayName", K::Wide,
     "install: the name the services console shows (at most 256 characters); empty: the service name"},
    {30042, "InteractiveService", K::Flag,
     "install: 1, or absent (blocks of other tools), installs a LocalSystem service with the interactive flag "
     "(type 0x110), which Windows ignores unless interactive services are enabled; 0 (zanto-pack writes it) "
     "installs it as type 0x10"},
    {30050, "OutputLog", K::Text,
     "file that receives everything the process writes to standard output (Java, the JVM itself, native "
     "code), and standard error unless ErrorLog is set; relative to the executable's folder, %VARIABLES% "
     "expanded, missing folders created; empty: no capture"},
    {30051, "ErrorLog", K::Text, "separate file for standard error, named like OutputLog; empty: into OutputLog"},
    {30052, "LogMode", K::Text,
     "append (the default), truncate (at each start), roll-by-size (at LogSizeThreshold, rolled files "
     "NAME.0001.EXT, ... ) or roll-by-day (one file per local day, rolled files NAME.YYYYMMDD.EXT)"},
    {30053, "LogSizeThreshold", K::Text,
     "roll-by-size: bytes after which the file rolls at the next line end, digits with an optional K, M "
     "or G (1024-based); from 1K to 1024G, default 10M"},
    {30054, "LogKeepFiles", K::Int, "rolled files kept besides the current one, the oldest removed; default 10"},
    {30055, "ConsoleLog", K::Flag, "run in the console: the output goes to the log files too, not only to the console"},
};

const size_t kSettingCount = sizeof(kSettings) / sizeof(kSettings[0]);

const SettingInfo* findSettingByName(const char* name) {
  for (size_t i = 0; i < kSettingCount; ++i)
    if (std::strcmp(kSettings[i].name, name) == 0) return &kSettings[i];
  return nullptr;
}

const SettingInfo* findSettingById(int32_t id, bool wide) {
  for (size_t i = 0; i < kSettingCount; ++i)
    if (kSettings[i].id == id && (kSettings[i].kind == K::Wide) == wide) return &kSettings[i];
  return nullptr;
}

bool intSettingRange(int32_t id, int64_t& minimum, int64_t& maximum) {
  switch (id) {
    case setting::RestartDelayFirst:
    case setting::RestartDelaySecond:
    case setting::RestartDelayLater:
      // The control manager takes the delay in milliseconds in 32 bits.
      minimum = 0;
      maximum = kMaxRestartDelaySeconds;
      return true;
    case setting::FailureResetPeriod:
      minimum = 0;
      maximum = INT32_MAX;
      return true;
    case setting::StopTimeout:
      minimum = 0;
      maximum = kMaxStopTimeoutSeconds;
      return true;
    case setting::LogKeepFiles:
      // Rolled-by-size names carry four digits.
      minimum = 1;
      maximum = 9999;
      return true;
    default:
      return false;
  }
}

bool settingReadWhole(int32_t id) { return id == setting::ClassPath || id == setting::VmParameters; }

const char* textSettingProblem(int32_t id, const char* value) {
  if (id == setting::LogMode) {
    LogMode mode;
    if (!parseLogMode(value, mode)) return "must be append, truncate, roll-by-size or roll-by-day";
  } else if (id == setting::LogSizeThreshold) {
    uint64_t bytes;
    if (!parseLogSize(value, bytes))
      return "must be a size from 1K to 1024G: digits with an optional K, M or G (such as 10M)";
  }
  return nullptr;
}

const char* settingKindName(SettingKind kind) {
  switch (kind) {
    case K::Text: return "text";
    case K::Int: return "int";
    case K::Flag: return "flag";
    case K::List: return "list";
    case K::Wide: return "wide";
  }
  return "text";
}

}  // namespace zanto
