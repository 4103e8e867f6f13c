// The output capture's budget: an application writes 100 MB of lines, one WriteFile
// per line as System.out's println does (or blocks of lines, as a buffered stream
// writes them), once straight into a file and once into its standard output captured
// by the launcher (OutputCapture, in this process). Prints the throughput of each and
// the longest single write, which is how long the application was held up.
// "pipe" writes into a bare pipe whose reader throws the data away: the floor of any
// capture through a pipe on this system (under Wine every pipe write is a call to
// the wine server).
//   bench_output_capture.exe direct|pipe|capture|capture-rolling DIRECTORY [MEGABYTES] [LINES PER WRITE]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchClock.h"
#include "ConfigBlock.h"
#include "OutputCapture.h"
#include "Settings.h"

using zanto::bench::nowMs;

static HANDLE pipeRead;
static DWORD WINAPI discard(void*) {
  static char buffer[1 << 16];
  DWORD n;
  while (ReadFile(pipeRead, buffer, sizeof buffer, &n, nullptr)) {
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s direct|capture|capture-rolling DIRECTORY [MEGABYTES]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1], directory = argv[2];
  const long long total = (argc > 3 ? std::atoll(argv[3]) : 100) << 20;
  std::string line = "2026-12-10 09:00:00.000 INFO  [worker-7] com.example.Service - request handled in 3 ms, ok";
  line.resize(98, '.');
  line += "\r\n";
  const int linesPerWrite = argc > 4 ? std::atoi(argv[4]) : 1;
  std::string block;
  for (int i = 0; i < linesPerWrite; ++i) block += line;

  // The report goes to the standard error this process was given: the capture
  // takes the standard handles over.
  HANDLE report;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), &report, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  HANDLE target;
  const std::string file = directory + "\\" + mode + ".log";
  DeleteFileA(file.c_str());
  if (mode == "direct") {
    target = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  } else if (mode == "pipe") {
    CreatePipe(&pipeRead, &target, nullptr, 1 << 20);
    CreateThread(nullptr, 0, discard, nullptr, 0, nullptr);
  } else {
    auto& narrow = zanto::configStore().narrow;
    narrow[zanto::setting::OutputLog] = file;
    if (mode == "capture-rolling") {
      narrow[zanto::setting::LogMode] = "roll-by-size";
      narrow[zanto::setting::LogSizeThreshold] = "10M";
      narrow[zanto::setting::LogKeepFiles] = "20";
    }
    zanto::startOutputCapture(false);
    target = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  if (target == INVALID_HANDLE_VALUE || !target) {
    std::fprintf(stderr, "cannot open %s\n", file.c_str());
    return 1;
  }

  double start = nowMs(), longest = 0;
  for (long long written = 0; written < total; written += static_cast<long long>(block.size())) {
    double before = nowMs();
    DWORD n;
    if (!WriteFile(target, block.data(), static_cast<DWORD>(block.size()), &n, nullptr)) return 1;
    double took = nowMs() - before;
    if (took > longest) longest = took;
  }
  if (mode == "direct" || mode == "pipe")
    CloseHandle(target);
  else
    zanto::drainOutputCapture();
  double ms = nowMs() - start;
  char text[160];
  int length =
      std::snprintf(text, sizeof text, "%-16s %4d B/write %6.0f ms  %7.1f MB/s  longest write %6.2f ms\n", mode.c_str(),
                    static_cast<int>(block.size()), ms, static_cast<double>(total) / (1 << 20) / (ms / 1000), longest);
  DWORD n;
  WriteFile(report, text, static_cast<DWORD>(length), &n, nullptr);
  return 0;
}
