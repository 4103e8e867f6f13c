// Recovery settings to control manager values (see RecoveryPlan.h).
#include "RecoveryPlan.h"

#include "Settings.h"

namespace zanto {

namespace {

uint32_t delayMs(int32_t seconds) {
  if (seconds <= 0) return 0;
  int64_t cut = seconds > kMaxRestartDelaySeconds ? kMaxRestartDelaySeconds : seconds;
  return static_cast<uint32_t>(cut * 1000);
}

}  // namespace

RecoveryPlan recoveryPlan(const RecoverySettings& settings, bool automaticStart) {
  RecoveryPlan plan;
  plan.restart = settings.restartOnFailure != 0;
  if (plan.restart) {
    plan.resetSeconds = settings.resetPeriod > 0 ? static_cast<uint32_t>(settings.resetPeriod) : kDefaultResetSeconds;
    plan.delaysMs[0] = delayMs(settings.delayFirst);
    plan.delaysMs[1] = delayMs(settings.delaySecond);
    plan.delaysMs[2] = delayMs(settings.delayLater);
  }
  plan.nonCrashFailures = settings.nonCrashFailures != 0;
  // The control manager ignores delayed start for other start types; asking
  // for it there would only print a warning.
  plan.delayedStart = automaticStart && settings.delayedAutoStart != 0;
  return plan;
}

}  // namespace zanto
