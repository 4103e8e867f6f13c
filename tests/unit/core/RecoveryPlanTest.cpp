// What install hands the control manager beside the service itself: the
// recovery settings (seconds to milliseconds, odd values cut rather than
// wrapped, the defaults) and the account the service runs as.
#include <gtest/gtest.h>

#include "RecoveryPlan.h"
#include "ServiceAccount.h"
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

TEST(ServiceAccountText, EachFormGivesItsKindAndTheNameTheManagerTakes) {
  using K = AccountKind;
  const struct {
    std::u16string text;
    AccountKind kind;
    std::u16string name;
  } cases[] = {
      {u"", K::LocalSystem, u""},
      {u"localsystem", K::LocalSystem, u""},
      {u"NT AUTHORITY\\SYSTEM", K::LocalSystem, u""},
      {u"LocalService", K::LocalService, u"NT AUTHORITY\\LocalService"},
      {u"nt authority\\localservice", K::LocalService, u"nt authority\\localservice"},
      {u"NetworkService", K::NetworkService, u"NT AUTHORITY\\NetworkService"},
      {u"NT SERVICE\\Hello-Svc", K::Virtual, u"NT SERVICE\\Hello-Svc"},
      {u"nt service\\hello-svc", K::Virtual, u"nt service\\hello-svc"},
      {u"CORP\\svc-hello$", K::ManagedGroup, u"CORP\\svc-hello$"},
      {u"CORP\\alice", K::User, u"CORP\\alice"},
      {u".\\b\u00f6b", K::User, u".\\b\u00f6b"},
      // Refused: the control manager would not take them, or not for this service.
      {u"alice", K::Invalid, u""},
      {u"alice@corp.example", K::Invalid, u""},
      {u"\\alice", K::Invalid, u""},
      {u"CORP\\", K::Invalid, u""},
      {u"CORP\\a\\b", K::Invalid, u""},
      {u"CORP\\$", K::Invalid, u""},
      {u"NT AUTHORITY\\Anonymous", K::Invalid, u""},
      {u"NT SERVICE\\other", K::Invalid, u""},
      {u"NT SERVICE\\Hello-Svc2", K::Invalid, u""},
      {u" LocalService", K::Invalid, u""},
  };
  for (const auto& c : cases) {
    ServiceAccount account = parseServiceAccount(c.text, u"Hello-Svc");
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(account.kind, c.kind);
    EXPECT_TRUE(account.name == c.name);
    EXPECT_EQ(*account.problem != '\0', c.kind == K::Invalid) << account.problem;
  }
  EXPECT_TRUE(accountNeedsPassword(K::User));
  for (AccountKind kind : {K::LocalSystem, K::LocalService, K::NetworkService, K::Virtual, K::ManagedGroup})
    EXPECT_FALSE(accountNeedsPassword(kind));
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
