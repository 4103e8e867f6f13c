// Cost of the JVM search over the located-runtime list with stand-in runtimes:
// a cold cache (every java.exe runs once) against a warm one (none may run), for
// one candidate and for twenty, in process and as whole processes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "ConfigBlock.h"
#include "JavaHomeFixture.h"
#include "Settings.h"
#include "WinLoader.h"

using namespace zanto::fixture;

namespace {

using zanto::bench::nowMs;

bool searchOnce() {
  static char exe[8192], location[8192];
  zanto::configStore().narrow[zanto::setting::JvmSearchSequence] = "Y";
  zanto::loadProductFlavor();
  return zanto::searchJvm(exe, location) == zanto::ORIGIN_REGISTRY;
}

size_t childCalls(const std::vector<JavaHome>& homes) {
  size_t n = 0;
  for (const auto& h : homes) n += h.javaCalls().size();
  return n;
}

// The whole program once more, doing one search: what a service start pays.
double processMs(const char* self) {
  return zanto::bench::processMs(L"\"" + widen(self) + L"\" search");
}

struct Figures {
  double coldMs, warmMs, warmProcessMs;
  size_t coldChildren, warmChildren;
};

Figures measure(const char* self, size_t count, int rounds) {
  TempDirectory dir(L"bench-search");
  std::vector<JavaHome> homes;
  clearLocatedJvms(HKEY_CURRENT_USER);
  clearVersionCache();
  for (size_t i = 0; i < count; ++i) {
    homes.emplace_back(dir / (L"jre" + std::to_wstring(i)));
    homes.back().addJava(L"bin", false);
    addLocatedJvm(HKEY_CURRENT_USER, homes.back().path(L"bin\\java.exe"));
  }
  Figures f{};
  double start = nowMs();
  if (!searchOnce()) std::fprintf(stderr, "cold search found nothing\n");
  f.coldMs = nowMs() - start;
  f.coldChildren = childCalls(homes);
  start = nowMs();
  for (int r = 0; r < rounds; ++r) searchOnce();
  f.warmMs = (nowMs() - start) / rounds;
  double total = 0;
  for (int r = 0; r < rounds; ++r) total += processMs(self);
  f.warmProcessMs = total / rounds;
  f.warmChildren = childCalls(homes) - f.coldChildren;
  clearLocatedJvms(HKEY_CURRENT_USER);
  clearVersionCache();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  // The stand-ins are built beside the bench directory.
  if (GetEnvironmentVariableW(L"ZANTO_STANDIN_DIR", nullptr, 0) == 0)
    SetEnvironmentVariableW(L"ZANTO_STANDIN_DIR",
                            fullPath(testProgramDirectory() + L"\\..\\standins").c_str());
  if (argc > 1 && std::strcmp(argv[1], "search") == 0) return searchOnce() ? 0 : 1;
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  Figures one = measure(argv[0], 1, rounds), twenty = measure(argv[0], 20, rounds);
  std::printf("located runtimes      1        20\n");
  std::printf("cold search ms    %7.2f  %8.2f\n", one.coldMs, twenty.coldMs);
  std::printf("children (cold)   %7zu  %8zu\n", one.coldChildren, twenty.coldChildren);
  std::printf("warm search ms    %7.3f  %8.3f   ratio %.2f\n", one.warmMs, twenty.warmMs,
              twenty.warmMs / one.warmMs);
  std::printf("warm process ms   %7.2f  %8.2f   ratio %.2f (budget 1.20)\n", one.warmProcessMs,
              twenty.warmProcessMs, twenty.warmProcessMs / one.warmProcessMs);
  std::printf("children (warm)   %7zu  %8zu   (must be 0)\n", one.warmChildren,
              twenty.warmChildren);
  return one.warmChildren == 0 && twenty.warmChildren == 0 ? 0 : 1;
}
