// versionquery FILE: prints what Windows itself reads of an executable's identity,
// one "key=value" line each (UTF-8): the version texts through the translation the
// file names, the fixed numbers, the icons ExtractIconExW finds, and the PE checksum
// in the header against the one MapFileAndCheckSumW computes.
#include <windows.h>
// These two need windows.h first.
#include <imagehlp.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void line(const char* key, const std::wstring& value) {
  int n = WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()), utf8.data(), n, nullptr, nullptr);
  std::printf("%s=%s\n", key, utf8.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const wchar_t* file = argv[1];
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(file, &ignored);
  std::vector<BYTE> info(size ? size : 1);
  if (size && GetFileVersionInfoW(file, 0, size, info.data())) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
      wchar_t text[64];
      swprintf(text, 64, L"%u.%u.%u.%u/%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
      line("Fixed", text);
    }
    WORD* translation = nullptr;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4) {
      wchar_t table[32];
      swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
      line("Translation", table);
      for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
                                 L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        if (VerQueryValueW(info.data(), (std::wstring(table) + key).c_str(), reinterpret_cast<void**>(&value),
                           &length) &&
            value) {
          int n = WideCharToMultiByte(CP_UTF8, 0, key, -1, nullptr, 0, nullptr, nullptr);
          std::string name(static_cast<size_t>(n - 1), '\0');
          WideCharToMultiByte(CP_UTF8, 0, key, -1, name.data(), n, nullptr, nullptr);
          line(name.c_str(), value);
        }
      }
    }
  } else {
    line("Version", L"none");
  }
  UINT icons = ExtractIconExW(file, -1, nullptr, nullptr, 0);
  HICON large = nullptr, small = nullptr;
  UINT extracted = icons ? ExtractIconExW(file, 0, &large, &small, 1) : 0;
  std::printf("Icons=%u\nFirstIcon=%s\n", icons, extracted && large && small ? "large+small" : "none");
  if (large) DestroyIcon(large);
  if (small) DestroyIcon(small);
  DWORD header = 0, computed = 0;
  if (MapFileAndCheckSumW(file, &header, &computed) == CHECKSUM_SUCCESS)
    std::printf("Checksum=%s\n", header == computed ? "valid" : "stale");
  return 0;
}
