// Service account rules (see ServiceAccount.h).
#include "ServiceAccount.h"

namespace zanto {

namespace {

char16_t foldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameWord(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

ServiceAccount invalid(const char* problem) {
  ServiceAccount account;
  account.problem = problem;
  return account;
}

ServiceAccount named(AccountKind kind, std::u16string_view name) {
  ServiceAccount account;
  account.kind = kind;
  account.name = name;
  return account;
}

}  // namespace

ServiceAccount parseServiceAccount(std::u16string_view text, std::u16string_view serviceName) {
  if (text.empty() || sameWord(text, u"LocalSystem")) return named(AccountKind::LocalSystem, u"");
  // The short words mean the built-in accounts; the control manager wants them whole.
  if (sameWord(text, u"LocalService")) text = u"NT AUTHORITY\\LocalService";
  if (sameWord(text, u"NetworkService")) text = u"NT AUTHORITY\\NetworkService";
  size_t slash = text.find(u'\\');
  if (slash == std::u16string_view::npos) return invalid("write a user account as DOMAIN\\user or .\\user");
  std::u16string_view domain = text.substr(0, slash), user = text.substr(slash + 1);
  if (domain.empty() || user.empty() || user.find(u'\\') != std::u16string_view::npos)
    return invalid("write a user account as DOMAIN\\user or .\\user");
  if (sameWord(domain, u"NT AUTHORITY")) {
    if (sameWord(user, u"LocalService")) return named(AccountKind::LocalService, text);
    if (sameWord(user, u"NetworkService")) return named(AccountKind::NetworkService, text);
    if (sameWord(user, u"SYSTEM")) return named(AccountKind::LocalSystem, u"");
    return invalid("the NT AUTHORITY accounts are LocalService and NetworkService");
  }
  if (sameWord(domain, u"NT SERVICE")) {
    // Windows makes a virtual account only for the service of that name.
    if (!sameWord(user, serviceName)) return invalid("a virtual account is NT SERVICE\\ and the service's own name");
    return named(AccountKind::Virtual, text);
  }
  if (user.back() == u'$') {
    if (user.size() == 1) return invalid("write a user account as DOMAIN\\user or .\\user");
    return named(AccountKind::ManagedGroup, text);
  }
  return named(AccountKind::User, text);
}

}  // namespace zanto
