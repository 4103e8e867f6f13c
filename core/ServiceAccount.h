// The account a service is installed to run as: which kind a configured text
// names, the name the control manager is given, and whether a password is
// needed. Portable: the launcher asks Windows for the rest.
#pragma once

#include <string>
#include <string_view>

namespace zanto {

enum class AccountKind {
  LocalSystem,     // empty text or LocalSystem: no account name at all
  LocalService,    // NT AUTHORITY\LocalService
  NetworkService,  // NT AUTHORITY\NetworkService
  Virtual,         // NT SERVICE\<service name>, no password
  ManagedGroup,    // DOMAIN\name$, a group managed account, no password
  User,            // DOMAIN\user or .\user, with a password
  Invalid,
};

struct ServiceAccount {
  AccountKind kind = AccountKind::Invalid;
  std::u16string name;       // as the control manager takes it; empty for LocalSystem
  const char* problem = "";  // why an Invalid text cannot be used
};

// Classifies `text` for the service `serviceName`. The fixed words compare
// without regard to ASCII case; surrounding blanks are not removed.
ServiceAccount parseServiceAccount(std::u16string_view text, std::u16string_view serviceName);

inline bool accountNeedsPassword(AccountKind kind) { return kind == AccountKind::User; }
// Only LocalSystem may interact with the desktop; the control manager refuses
// the flag for any other account.
inline bool accountMayInteract(AccountKind kind) { return kind == AccountKind::LocalSystem; }

}  // namespace zanto
