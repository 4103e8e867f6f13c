// envrun NAME=VALUE... -- PROGRAM ARGS...: runs PROGRAM with those variables set
// (NAME= removes one) and the same standard handles, and exits with its exit code.
// Wine takes TMP and TEMP from the registry rather than from the Linux side, so the
// end-to-end tests set a process's environment from within Windows.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  for (; i < argc && std::wcscmp(argv[i], L"--") != 0; ++i) {
    const wchar_t* eq = std::wcschr(argv[i], L'=');
    if (!eq) return 125;
    std::wstring name(argv[i], static_cast<size_t>(eq - argv[i]));
    SetEnvironmentVariableW(name.c_str(), eq[1] ? eq + 1 : nullptr);
  }
  if (++i >= argc) return 125;
  // The rest of our own command line, as it was written, is the child's.
  const wchar_t* line = GetCommandLineW();
  const wchar_t* rest = std::wcsstr(line, L" -- ");
  if (!rest) return 125;
  std::wstring command = rest + 4;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fwprintf(stderr, L"envrun: cannot start %ls: error %lu\n", command.c_str(), GetLastError());
    return 126;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}
