// Packed runtime preparation (see PackedJre.h). lib\rt.jar is restored first and
// lib\jsse.jar last, so the two markers tell packed from prepared.
#include "PackedJre.h"

#include <windows.h>

#include <cstdio>

#include "ErrorReport.h"
#include "Log.h"
#include "Paths.h"
#include "Settings.h"
#include "TextBuffer.h"

namespace zanto {

unsigned long unpack200TimeLimitMs = 5 * 60 * 1000;

namespace {
const char* const kPackedJars[] = {"lib\\rt.jar",     "lib\\charsets.jar",        "lib\\plugin.jar",
                                   "lib\\deploy.jar", "lib\\ext\\localedata.jar", "lib\\jsse.jar"};
}

bool unpackJar(const char* home, const char* jar) {
  static char target[kTextBufferSize], pack[kTextBufferSize], commandLine[kTextBufferSize];
  bool whole = formatText(target, sizeof target, "%s\\%s", home, jar);
  whole = formatText(pack, sizeof pack, "%s.pack", target) && whole;
  logMessage("Unpacking %s to %s", pack, target);
  if (!whole || !fileExists(pack)) {
    logMessage("pack path doesn't exists");
    return true;
  }
  // Every path quoted: with a blank in the home an unquoted line would start
  // another program, or hand unpack200 the wrong arguments.
  if (!formatText(commandLine, sizeof commandLine, "\"%s\\bin\\unpack200.exe\" -r \"%s\" \"%s\"",
                  home, pack, target)) {
    logMessage("could not create unpack process");
    fatalInternalError(20);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  // It needs none of the launcher's handles (the output capture's pipes among them).
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process)) {
    logMessage("could not create unpack process");
    fatalInternalError(20);
  }
  logMessage("waiting for unpack200 to finish");
  bool finished = WaitForSingleObject(process.hProcess, unpack200TimeLimitMs) == WAIT_OBJECT_0;
  if (!finished) {
    logError("unpack200 did not finish within %lu ms: ended, the runtime is not used", unpack200TimeLimitMs);
    TerminateProcess(process.hProcess, 1);
    // Until it is gone it may still write into the runtime.
    WaitForSingleObject(process.hProcess, 5000);
  } else {
    logMessage("unpack done");
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return finished;
}

bool prepareJre(const char* home) {
  static char packed[kTextBufferSize], done[kTextBufferSize];
  if (!formatText(packed, sizeof packed, "%s\\lib\\rt.jar.pack", home) ||
      !formatText(done, sizeof done, "%s\\lib\\jsse.jar", home))
    return true;
  if (!fileExists(packed) || fileExists(done)) return true;
  logMessage("Unpacking JRE");
  std::fputs("Preparing JRE ...\n", stdout);
  std::fflush(stdout);
  for (const char* jar : kPackedJars)
    if (!unpackJar(home, jar)) return false;
  logMessage("Unpacking JRE done");
  return true;
}

}  // namespace zanto
