// Whether a privileged service may use a file or folder: who owns it and whom its
// DACL lets change it. Portable: the launcher reads the security descriptor from
// Windows and hands it over as SID texts and access masks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zanto {

// Well-known principals, as SID texts.
inline constexpr char kSidSystem[] = "S-1-5-18";
inline constexpr char kSidAdministrators[] = "S-1-5-32-544";
inline constexpr char kSidTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct AccessEntry {
  bool allow = true;
  bool inheritOnly = false;  // applies to children only, not to the object itself
  std::string sid;
  uint32_t mask = 0;
};

struct SecurityView {
  std::string owner;  // empty: unknown
  bool hasDacl = true;  // false: a null DACL, which lets everyone do everything
  std::vector<AccessEntry> entries;
};

// The rights that change what a file says or who may change it: write and append
// data (for a folder: add files and subfolders), delete it or its children, change
// its permissions or owner, and the generic rights that hold them.
inline constexpr uint32_t kChangingRights = 0x0002 | 0x0004 | 0x0040 | 0x00010000 | 0x00040000 | 0x00080000 |
                                            0x10000000 | 0x40000000;

struct TrustVerdict {
  bool trusted = true;
  std::string principal;  // who makes it untrusted: an SID text, or empty for a null DACL
  bool asOwner = false;   // the principal owns it (and so may change its DACL)
};

// Trusted when the owner is one of `trusted` and no other principal is granted a
// changing right that an earlier deny entry of the same principal does not take
// away again (entries are read in their order, as Windows does).
TrustVerdict evaluateTrust(const SecurityView& view, const std::vector<std::string>& trusted);

// A readable name for the well-known SIDs that show up in such verdicts (Everyone,
// Users, Authenticated Users, ...); the SID itself otherwise.
std::string principalName(const std::string& sid);

}  // namespace zanto
