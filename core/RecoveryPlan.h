// What "install" asks of the control manager beyond the service itself: the
// restart actions after failures and delayed start, worked out from the settings.
// Portable, so the rules for odd values are tested natively.
#pragma once

#include <cstdint>

#include "ConfigStore.h"

namespace zanto {

struct RecoveryPlan {
  bool restart = false;              // failure actions are set at all
  uint32_t resetSeconds = 0;         // failure count reset period
  uint32_t delaysMs[3] = {0, 0, 0};  // first, second, later failures
  bool nonCrashFailures = false;     // stops with an exit code count as failures
  bool delayedStart = false;         // only for automatic start
};

// The day the failure count lasts when no reset period is configured.
constexpr uint32_t kDefaultResetSeconds = 86400;

struct RecoverySettings {
  int32_t restartOnFailure = 0, delayFirst = 0, delaySecond = 0, delayLater = 0, resetPeriod = 0;
  int32_t nonCrashFailures = 0, delayedAutoStart = 0;
};

// Negative delays and periods are taken as 0 and delays beyond
// kMaxRestartDelaySeconds are cut to it; a reset period of 0 is one day.
RecoveryPlan recoveryPlan(const RecoverySettings& settings, bool automaticStart);

// Seconds the pre-shutdown timeout gives beyond StopTimeout: the launcher's own
// end after a timed-out stop must still fall inside it.
constexpr uint32_t kPreshutdownMarginSeconds = 15;

// StopTimeout in seconds: kDefaultStopTimeoutSeconds when the block has no
// record, 0 (no limit) for 0 or a negative value, cut to kMaxStopTimeoutSeconds.
uint32_t stopTimeoutSeconds(const ConfigStore& store);
// The pre-shutdown timeout for a stop timeout, in milliseconds; 0 when there is
// no limit, which leaves the system's own.
uint32_t preshutdownTimeoutMs(uint32_t stopTimeoutSeconds);

}  // namespace zanto
