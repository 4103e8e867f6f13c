// The deletion queue's entry rules: what the launcher writes is accepted, every
// other text is refused with its reason.
#include <gtest/gtest.h>

#include <string>

#include "QueueEntryRules.h"

namespace zanto {
namespace {

constexpr char kTemp[] = "C:\\Users\\svc\\AppData\\Local\\Temp\\";
constexpr char kDir[] = "C:\\Users\\svc\\AppData\\Local\\Temp\\zto0123456789abcdef_dir";

TEST(QueueEntryRulesTest, OnlyTheLauncherOwnNamesBelowTheTempFolder) {
  const std::string dir = kDir;
  const std::string tooLong = dir + "\\" + std::string(8192, 'a');
  struct Case {
    std::string entry;
    QueueEntryKind kind;
    const char* reason;  // "" when accepted
  } const cases[] = {
      {dir, QueueEntryKind::Directory, ""},
      {"c:\\users\\SVC\\appdata\\local\\temp\\ZTO0123456789ABCDEF_DIR", QueueEntryKind::Directory, ""},
      {dir + "\\app.jar", QueueEntryKind::File, ""},
      {dir + "\\zto_p1234.tmp", QueueEntryKind::File, ""},
      // Another kind than the launcher queues under that value.
      {dir + "\\app.jar", QueueEntryKind::Directory, "not a name the launcher writes"},
      {dir, QueueEntryKind::File, "not a name the launcher writes"},
      {dir + "\\", QueueEntryKind::File, "an empty path element"},
      {dir + "\\sub\\app.jar", QueueEntryKind::File, "not a name the launcher writes"},
      // Other names in the temporary folder.
      {std::string(kTemp) + "zto0123456789abcde_dir", QueueEntryKind::Directory, "not a name the launcher writes"},
      {std::string(kTemp) + "zto0123456789abcdeg_dir", QueueEntryKind::Directory, "not a name the launcher writes"},
      {std::string(kTemp) + "zto0123456789abcdef_dirx", QueueEntryKind::Directory, "not a name the launcher writes"},
      {std::string(kTemp) + "zto_p1234.tmp", QueueEntryKind::File, "not a name the launcher writes"},
      {std::string(kTemp) + "other", QueueEntryKind::Directory, "not a name the launcher writes"},
      {"C:\\Users\\svc\\AppData\\Local\\Temp", QueueEntryKind::Directory, "outside the temporary folder"},
      // Elsewhere, or back out of it.
      {"C:\\Windows\\System32\\zto0123456789abcdef_dir", QueueEntryKind::Directory, "outside the temporary folder"},
      {"C:\\Users\\svc\\AppData\\Local\\Temp2\\zto0123456789abcdef_dir", QueueEntryKind::Directory,
       "outside the temporary folder"},
      {std::string(kTemp) + "..\\zto0123456789abcdef_dir", QueueEntryKind::Directory, "a '.' or '..' element"},
      {std::string(kTemp) + ".\\zto0123456789abcdef_dir", QueueEntryKind::Directory, "a '.' or '..' element"},
      {dir + "\\..", QueueEntryKind::File, "a '.' or '..' element"},
      {dir + "\\..\\..\\..\\x", QueueEntryKind::File, "a '.' or '..' element"},
      {std::string(kTemp) + "\\zto0123456789abcdef_dir", QueueEntryKind::Directory, "an empty path element"},
      {dir + "/../../x", QueueEntryKind::File, "a '/' in the path"},
      {dir + "\\app.jar:stream", QueueEntryKind::File, "a ':' past the drive"},
      {dir + ".", QueueEntryKind::Directory, "an element ending in a dot or blank"},
      {dir + "\\app.jar ", QueueEntryKind::File, "an element ending in a dot or blank"},
      // Drive-relative, rooted, UNC and device forms.
      {"C:Users\\svc\\AppData\\Local\\Temp\\zto0123456789abcdef_dir", QueueEntryKind::Directory,
       "not an absolute drive path"},
      {"\\Users\\svc\\AppData\\Local\\Temp\\zto0123456789abcdef_dir", QueueEntryKind::Directory,
       "not an absolute drive path"},
      {"\\\\server\\share\\zto0123456789abcdef_dir", QueueEntryKind::Directory, "not an absolute drive path"},
      {"\\\\?\\C:\\Users\\svc\\AppData\\Local\\Temp\\zto0123456789abcdef_dir", QueueEntryKind::Directory,
       "not an absolute drive path"},
      {"zto0123456789abcdef_dir", QueueEntryKind::Directory, "not an absolute drive path"},
      {"", QueueEntryKind::Directory, "not an absolute drive path"},
      // Refused whole rather than cut to a shorter name.
      {tooLong, QueueEntryKind::File, "longer than the launcher writes"},
  };
  for (const Case& c : cases) {
    QueueEntryCheck check = checkQueueEntry(c.entry.c_str(), kTemp, c.kind);
    EXPECT_EQ(check.accepted, c.reason[0] == '\0') << c.entry.substr(0, 120);
    EXPECT_STREQ(check.reason, c.reason) << c.entry.substr(0, 120);
  }
}

TEST(QueueEntryRulesTest, TheTempFolderMustBeAnAbsoluteDrivePath) {
  struct Case {
    const char* folder;
    const char* entry;
    bool accepted;
  } const cases[] = {
      {"C:\\Temp", "C:\\Temp\\zto0123456789abcdef_dir", true},
      {"C:\\Temp\\", "C:\\Temp\\zto0123456789abcdef_dir", true},
      {"C:\\", "C:\\zto0123456789abcdef_dir", true},
      {"C:", "C:\\zto0123456789abcdef_dir", false},
      {"", "C:\\zto0123456789abcdef_dir", false},
      {"Temp\\", "Temp\\zto0123456789abcdef_dir", false},
      {"\\\\srv\\tmp\\", "\\\\srv\\tmp\\zto0123456789abcdef_dir", false},
      {"C:\\Temp\\..\\", "C:\\Temp\\..\\zto0123456789abcdef_dir", false},
  };
  for (const Case& c : cases) {
    QueueEntryCheck check = checkQueueEntry(c.entry, c.folder, QueueEntryKind::Directory);
    EXPECT_EQ(check.accepted, c.accepted) << c.folder;
    if (!c.accepted) {
      EXPECT_NE(check.reason[0], '\0') << c.folder;
    }
  }
}

}  // namespace
}  // namespace zanto
