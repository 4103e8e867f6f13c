// The recovery settings as the control manager gets them: seconds to
// milliseconds, odd values cut rather than wrapped, and the defaults.
#include <gtest/gtest.h>

#include "RecoveryPlan.h"
#include "Settings.h"

namespace zanto {
namespace {

struct PlanCase {
  const char* what;
  RecoverySettings settings;
  bool automatic;
  RecoveryPlan expected;
};

TEST(RecoveryPlan, SettingsBecomeControlManagerValues) {
  const PlanCase cases[] = {
      {"nothing set", {}, true, {false, 0, {0, 0, 0}, false, false}},
      {"delays without the restart flag", {0, 5, 6, 7, 100, 0, 0}, true, {false, 0, {0, 0, 0}, false, false}},
      {"restart, default reset", {1, 5, 60, 300, 0, 0, 0}, false, {true, 86400, {5000, 60000, 300000}, false, false}},
      {"restart, own reset", {1, 0, 1, 2, 3600, 1, 1}, true, {true, 3600, {0, 1000, 2000}, true, true}},
      {"negative values are 0", {1, -1, -2147483647 - 1, -3, -9, 0, 0}, true, {true, 86400, {0, 0, 0}, false, false}},
      {"the longest delay",
       {1, 4294967, 0, 0, 2147483647, 0, 0},
       true,
       {true, 2147483647u, {4294967000u, 0, 0}, false, false}},
      {"longer delays are cut, not wrapped",
       {1, 4294968, 2147483647, 0, 1, 0, 0},
       true,
       {true, 1, {4294967000u, 4294967000u, 0}, false, false}},
      {"delayed start only for automatic start", {0, 0, 0, 0, 0, 1, 1}, false, {false, 0, {0, 0, 0}, true, false}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.what);
    RecoveryPlan plan = recoveryPlan(c.settings, c.automatic);
    EXPECT_EQ(plan.restart, c.expected.restart);
    EXPECT_EQ(plan.resetSeconds, c.expected.resetSeconds);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(plan.delaysMs[i], c.expected.delaysMs[i]) << i;
    EXPECT_EQ(plan.nonCrashFailures, c.expected.nonCrashFailures);
    EXPECT_EQ(plan.delayedStart, c.expected.delayedStart);
  }
}

// StopTimeout: absent is the default, 0 and below no limit, longer values cut
// so that the pre-shutdown milliseconds still fit in 32 bits.
TEST(RecoveryPlan, StopTimeoutAndPreshutdownTimeout) {
  const struct {
    const char* record;  // null: not in the block
    uint32_t seconds, preshutdownMs;
  } cases[] = {
      {nullptr, 30, 45000},
      {"0", 0, 0},
      {"-5", 0, 0},
      {"", 0, 0},
      {"7", 7, 22000},
      {"4294900", 4294900, 4294915000u},
      {"2147483647", 4294900, 4294915000u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record ? c.record : "absent");
    ConfigStore store;
    if (c.record) store.narrow[setting::StopTimeout] = c.record;
    EXPECT_EQ(stopTimeoutSeconds(store), c.seconds);
    EXPECT_EQ(preshutdownTimeoutMs(stopTimeoutSeconds(store)), c.preshutdownMs);
  }
}

}  // namespace
}  // namespace zanto
