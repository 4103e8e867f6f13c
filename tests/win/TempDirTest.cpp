// Temporary directory choice and names, with TMP pointed at unusable places.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "Extraction.h"
#include "QueueEntryRules.h"
#include "TempDir.h"
#include "WinTestSupport.h"

namespace zanto {
namespace {

class TempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetEnvironmentVariableA("TMP", savedValue_, sizeof savedValue_) > 0;
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    windowsTemp_ = std::string(windows) + "\\temp";
    CreateDirectoryA(windowsTemp_.c_str(), nullptr);
  }
  void TearDown() override { SetEnvironmentVariableA("TMP", saved_ ? savedValue_ : nullptr); }
  std::string chosen() {
    static char out[8192];
    getTempDirectory(out);
    return out;
  }
  bool saved_ = false;
  char savedValue_[MAX_PATH];
  std::string windowsTemp_;
};

TEST_F(TempDirectory, SystemPathAsGivenWithoutATest) {
  std::string dir = test::scratchDirectory("Temp Dir With Blanks");
  char shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(dir.c_str(), shortForm, sizeof shortForm), 0u);
  SetEnvironmentVariableA("TMP", shortForm);
  EXPECT_EQ(chosen(), std::string(shortForm) + "\\");
}

TEST_F(TempDirectory, UnwritableNamesAndMissingDirectoriesFallBack) {
  std::wstring wide;
  {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    wide = std::wstring(temp, temp + std::strlen(temp)) + L"zanto-\x4e2d\x6587";
  }
  CreateDirectoryW(wide.c_str(), nullptr);
  wchar_t shortName[MAX_PATH];
  DWORD n = GetShortPathNameW(wide.c_str(), shortName, MAX_PATH);
  ASSERT_GT(n, 0u);
  SetEnvironmentVariableW(L"TMP", shortName);
  EXPECT_EQ(chosen(), windowsTemp_) << "the long form holds characters 1252 cannot";

  SetEnvironmentVariableA("TMP", "c:\\no-such-zanto-dir");
  EXPECT_EQ(chosen(), windowsTemp_) << "a missing directory cannot receive files";
  RemoveDirectoryW(wide.c_str());
}

TEST_F(TempDirectory, LeftoverProbeIsRemoved) {
  std::string dir = test::scratchDirectory("probe");
  CreateDirectoryA((dir + "\\zto_w_testdir").c_str(), nullptr);
  EXPECT_TRUE(isWritableDirectory(dir.c_str()));
  EXPECT_FALSE(test::exists(dir + "\\zto_w_testdir"));
  EXPECT_FALSE(isWritableDirectory((dir + "\\missing").c_str()));
}

TEST_F(TempDirectory, TempFilesAndTheProcessFileName) {
  std::string dir = test::scratchDirectory("names");
  SetEnvironmentVariableA("TMP", dir.c_str());
  // Both in the private directory of the launcher's own files, never in the
  // shared folder itself, where anyone could make the name first.
  char file[8192];
  createTempFile(file);
  const std::string own = ownFilesDirectory();
  EXPECT_TRUE(checkQueueEntry(own.c_str(), (dir + "\\").c_str(), QueueEntryKind::Directory).accepted) << own;
  EXPECT_EQ(std::string(file).rfind(own + "\\zto", 0), 0u) << file;
  EXPECT_TRUE(test::exists(file));
  ASSERT_TRUE(getProcessTempFileName(file, 1234));
  EXPECT_EQ(std::string(file), own + "\\zto_p1234.tmp");
}

// The security a directory was made with, as SID texts, masks and flags.
struct Security {
  std::string owner;
  bool protectedDacl = false;
  std::vector<std::string> entries;  // "SID mask flags"
};

std::string sidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return "?";
  std::string out(text);
  LocalFree(text);
  return out;
}

Security describe(PSECURITY_DESCRIPTOR sd) {
  Security s;
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  if (GetSecurityDescriptorOwner(sd, &owner, &defaulted)) s.owner = sidText(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(sd, &control, &revision)) s.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  ACL* dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) return s;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    s.entries.push_back(sidText(&allowed->SidStart) + " " + std::to_string(allowed->Mask) + " " +
                        std::to_string(allowed->Header.AceFlags) + " " + std::to_string(allowed->Header.AceType));
  }
  return s;
}

std::string currentUser() {
  HANDLE token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  alignas(TOKEN_USER) BYTE info[512];
  DWORD length = 0;
  GetTokenInformation(token, TokenUser, info, sizeof info, &length);
  CloseHandle(token);
  return sidText(reinterpret_cast<TOKEN_USER*>(info)->User.Sid);
}

// The recording seam: a queue of random values, and every directory made.
std::vector<unsigned long long> randomValues;
std::vector<std::string> madePaths;
std::vector<Security> madeSecurity;

BOOLEAN WINAPI queuedRandom(PVOID buffer, ULONG length) {
  if (randomValues.empty() || length != 8) return FALSE;
  std::memcpy(buffer, &randomValues.front(), 8);
  randomValues.erase(randomValues.begin());
  return TRUE;
}

BOOL WINAPI recordedCreate(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  madePaths.push_back(path);
  madeSecurity.push_back(attributes ? describe(attributes->lpSecurityDescriptor) : Security{});
  return CreateDirectoryA(path, attributes);
}

TEST_F(TempDirectory, PrivateDirectoryIsClosedToOthersAndNamedAtRandom) {
  std::string dir = test::scratchDirectory("private");
  SetEnvironmentVariableA("TMP", dir.c_str());
  const PrivateDirectoryCalls system = privateDirectoryCalls;
  privateDirectoryCalls = {&queuedRandom, &recordedCreate};
  // The second directory draws the first one's name again: it takes the next.
  randomValues = {0x0123456789abcdefull, 0x0123456789abcdefull, 0xfedcba9876543210ull};
  madePaths.clear();
  madeSecurity.clear();
  char first[8192], second[8192], third[8192];
  ASSERT_TRUE(createPrivateDirectory(first));
  ASSERT_TRUE(createPrivateDirectory(second));
  EXPECT_FALSE(createPrivateDirectory(third)) << "no random value: no directory";
  EXPECT_STREQ(third, "");
  privateDirectoryCalls = system;

  const std::string a = dir + "\\zto89abcdef01234567_dir", b = dir + "\\zto76543210fedcba98_dir";
  EXPECT_EQ(std::string(first), a);
  EXPECT_EQ(std::string(second), b);
  EXPECT_EQ(madePaths, (std::vector<std::string>{a, a, b}));
  EXPECT_TRUE(test::exists(a) && test::exists(b));

  // Full control (0x1f01ff) for SYSTEM, Administrators and this account, inherited
  // by files and folders inside (flags 3), nothing from the parent.
  const std::string user = currentUser();
  std::vector<std::string> expected{"S-1-5-18 2032127 3 0", "S-1-5-32-544 2032127 3 0"};
  if (user != "S-1-5-18") expected.push_back(user + " 2032127 3 0");
  ASSERT_EQ(madeSecurity.size(), 3u);
  for (const Security& made : madeSecurity) {
    EXPECT_EQ(made.owner, user);
    EXPECT_TRUE(made.protectedDacl);
    EXPECT_EQ(made.entries, expected);
  }
  // Read back from the directory itself: Windows keeps all of it; Wine 8 keeps
  // the owner and some of the entries (not Administrators'), but never adds one.
  PSECURITY_DESCRIPTOR stored = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(first, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &stored),
            ERROR_SUCCESS);
  Security back = describe(stored);
  LocalFree(stored);
  EXPECT_EQ(back.owner, user);
  for (const std::string& entry : back.entries)
    EXPECT_NE(std::find(expected.begin(), expected.end(), entry), expected.end()) << entry;
  EXPECT_NE(std::find(back.entries.begin(), back.entries.end(), expected.back()), back.entries.end());

  // The system's random source: two directories, two names of 16 hex digits.
  ASSERT_TRUE(createPrivateDirectory(first));
  ASSERT_TRUE(createPrivateDirectory(second));
  EXPECT_NE(std::string(first), std::string(second));
  EXPECT_EQ(std::strlen(first), dir.size() + 1 + 3 + 16 + 4) << first;
}

TEST(ErrorText, OnlyTheFirstMarkerIsReplacedAndTheTextIsCut) {
  struct Case {
    const char* text;
    const char* marker;
    const char* replacement;
    const char* result;
  } cases[] = {
      {"The %ENV_VAR_NAME% and %ENV_VAR_NAME%", "%ENV_VAR_NAME%", "JAVA_HOME", "The JAVA_HOME and %ENV_VAR_NAME%"},
      {"code %ERROR_CODE%.", "%ERROR_CODE%", "16", "code 16."},
      {"no marker", "%FILE_NAME%", "x", "no marker"},
      {"%DEFINED_PATH%", "%DEFINED_PATH%", "", ""},
  };
  for (const Case& c : cases) {
    static char text[8192];
    std::strcpy(text, c.text);
    replaceFirstMarker(text, c.marker, c.replacement);
    EXPECT_STREQ(text, c.result);
  }
  static char text[8192];
  std::strcpy(text, "%FILE_NAME%!");
  std::string huge(9000, 'h');
  replaceFirstMarker(text, "%FILE_NAME%", huge.c_str());
  EXPECT_EQ(std::strlen(text), 8191u) << "a replacement longer than the buffer is cut";
}

}  // namespace
}  // namespace zanto
