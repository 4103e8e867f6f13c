// The trust rules for files a privileged service reads its configuration from (see
// FileTrustRules.h).
#include "FileTrustRules.h"

#include <algorithm>
#include <utility>

namespace zanto {

namespace {

bool isTrusted(const std::string& sid, const std::vector<std::string>& trusted) {
  return std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
}

}  // namespace

TrustVerdict evaluateTrust(const SecurityView& view, const std::vector<std::string>& trusted) {
  TrustVerdict verdict;
  if (!isTrusted(view.owner, trusted)) {
    verdict.trusted = false;
    verdict.principal = view.owner;
    verdict.asOwner = true;
    return verdict;
  }
  if (!view.hasDacl) {
    verdict.trusted = false;
    return verdict;
  }
  // Rights denied so far, per principal: a handful of entries, looked up in order.
  std::vector<std::pair<std::string, uint32_t>> denied;
  auto deniedTo = [&denied](const std::string& sid) -> uint32_t& {
    for (auto& [principal, mask] : denied)
      if (principal == sid) return mask;
    return denied.emplace_back(sid, 0).second;
  };
  for (const AccessEntry& entry : view.entries) {
    if (entry.inheritOnly) continue;
    if (!entry.allow) {
      deniedTo(entry.sid) |= entry.mask;
      continue;
    }
    if (isTrusted(entry.sid, trusted)) continue;
    uint32_t granted = entry.mask & kChangingRights & ~deniedTo(entry.sid);
    if (granted) {
      verdict.trusted = false;
      verdict.principal = entry.sid;
      return verdict;
    }
  }
  return verdict;
}

std::string principalName(const std::string& sid) {
  // A plain table: a map here would be built at first use under a guard that
  // brings a thread runtime into the launcher.
  static constexpr struct {
    const char* sid;
    const char* name;
  } kNames[] = {
      {"S-1-1-0", "Everyone"},
      {"S-1-5-11", "Authenticated Users"},
      {"S-1-5-32-545", "Users"},
      {"S-1-5-4", "INTERACTIVE"},
      {"S-1-3-0", "CREATOR OWNER"},
      {"S-1-5-32-547", "Power Users"},
      {"S-1-5-32-546", "Guests"},
      {kSidSystem, "SYSTEM"},
      {kSidAdministrators, "Administrators"},
  };
  for (const auto& known : kNames)
    if (sid == known.sid) return std::string(known.name) + " (" + sid + ")";
  return sid;
}

}  // namespace zanto
