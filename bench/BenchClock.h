// Timing shared by the Windows benchmarks: a millisecond clock and the wall time
// of one whole child process.
#pragma once

#include <windows.h>

#include <string>

namespace zanto::bench {

inline double nowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// From CreateProcess to the end of the process; -1 when it cannot be started.
inline double processMs(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  double start = nowMs();
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  double took = nowMs() - start;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return took;
}

}  // namespace zanto::bench
