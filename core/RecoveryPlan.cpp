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

uint32_t stopTimeoutSeconds(const ConfigStore& store) {
  if (!store.narrow.count(setting::StopTimeout)) return kDefaultStopTimeoutSeconds;
  int seconds = getIntSetting(store, setting::StopTimeout);
  if (seconds <= 0) return 0;
  return static_cast<uint32_t>(seconds > kMaxStopTimeoutSeconds ? kMaxStopTimeoutSeconds : seconds);
}

uint32_t preshutdownTimeoutMs(uint32_t stopTimeoutSeconds) {
  if (stopTimeoutSeconds == 0) return 0;
  return static_cast<uint32_t>((int64_t{stopTimeoutSeconds} + kPreshutdownMarginSeconds) * 1000);
}

}  // namespace zanto
