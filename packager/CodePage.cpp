// Code page 1252 and UTF conversions (see CodePage.h).
#include "CodePage.h"

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace zanto {

namespace {

// Characters of the bytes 0x80..0x9F; the rest of 1252 equals Latin-1.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t cp1252Char(uint8_t b) { return b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : b; }

int cp1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == c) return 0x80 + i;
  return -1;
}

// Decodes one scalar value at `pos`, moving `pos` on; false on malformed input
// (overlong forms, surrogates and values above U+10FFFF included).
bool nextChar(std::string_view s, size_t& pos, char32_t& c) {
  auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  uint8_t lead = b(pos);
  size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (len == 0 || pos + len > s.size()) return false;
  c = len == 1 ? lead : lead & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((b(pos + i) & 0xC0) != 0x80) return false;
    c = c << 6 | (b(pos + i) & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  pos += len;
  return true;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool utf8ToCp1252(std::string_view utf8, std::string& out, std::string& error) {
  out.clear();
  size_t pos = 0, index = 0;
  for (; pos < utf8.size(); ++index) {
    char32_t c;
    if (!nextChar(utf8, pos, c)) {
      error = "text is not valid UTF-8";
      return false;
    }
    int byte = cp1252Byte(c);
    if (byte < 0) {
      std::string shown;
      appendUtf8(shown, c);
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      error = "character " + std::string(code) + " '" + shown + "' (character " + std::to_string(index + 1) +
              ") cannot be written in code page 1252";
      return false;
    }
    out += static_cast<char>(byte);
  }
  return true;
}

std::string cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) appendUtf8(out, cp1252Char(static_cast<uint8_t>(b)));
  return out;
}

namespace {

std::string characterText(std::string_view utf8, size_t at, size_t index) {
  size_t end = at;
  char32_t c = 0;
  if (!nextChar(utf8, end, c)) return "a character";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return "character " + std::string(code) + " '" + std::string(utf8.substr(at, end - at)) + "' (character " +
         std::to_string(index + 1) + ")";
}

#if defined(_WIN32)
// One conversion through UTF-16; false when a character has no form there (no
// best-fit substitutes: a look-alike is another text).
bool convertText(uint32_t from, uint32_t to, std::string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  const DWORD strict = from == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int units = MultiByteToWideChar(from, strict, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(from, strict, in.data(), static_cast<int>(in.size()), wide.data(), units);
  BOOL usedDefault = FALSE;
  const bool utf8 = to == CP_UTF8;
  int bytes = WideCharToMultiByte(to, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr,
                                  utf8 ? nullptr : &usedDefault);
  if (bytes <= 0 || usedDefault) return false;
  out.assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(to, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), units, out.data(), bytes, nullptr,
                      utf8 ? nullptr : &usedDefault);
  return !usedDefault;
}
#else
bool convertText(uint32_t from, uint32_t to, std::string_view in, std::string& out) {
  out.clear();
  auto name = [](uint32_t cp) { return cp == 65001 ? std::string("UTF-8") : "CP" + std::to_string(cp); };
  iconv_t cd = iconv_open(name(to).c_str(), name(from).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input(in);
  char* inPtr = input.data();
  size_t inLeft = input.size();
  std::string buffer(input.size() * 4 + 16, '\0');
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (ok) out.assign(buffer.data(), buffer.size() - outLeft);
  return ok;
}
#endif

}  // namespace

bool isBlockCodePage(uint32_t codePage) {
  switch (codePage) {
    case 0: case 874: case 932: case 936: case 949: case 950: case 65001: return true;
    default: return codePage >= 1250 && codePage <= 1258;
  }
}

bool utf8ToCodePage(uint32_t codePage, std::string_view utf8, std::string& out, std::string& error) {
  if (codePage == 0 || codePage == 1252) return utf8ToCp1252(utf8, out, error);
  out.clear();
  // Character by character, so that a refusal names the character.
  size_t pos = 0, index = 0;
  std::string piece, back;
  for (; pos < utf8.size(); ++index) {
    size_t start = pos;
    char32_t c;
    if (!nextChar(utf8, pos, c)) {
      error = "text is not valid UTF-8";
      return false;
    }
    std::string_view one = utf8.substr(start, pos - start);
    if (codePage == 65001) {
      out += one;
      continue;
    }
    if (!convertText(65001, codePage, one, piece) || !convertText(codePage, 65001, piece, back) || back != one) {
      error = characterText(utf8, start, index) + " cannot be written in code page " + std::to_string(codePage);
      return false;
    }
    out += piece;
  }
  return true;
}

bool codePageToUtf8(uint32_t codePage, std::string_view bytes, std::string& out) {
  if (codePage == 0 || codePage == 1252) {
    out = cp1252ToUtf8(bytes);
    return true;
  }
  if (codePage == 65001) {
    for (size_t pos = 0; pos < bytes.size();) {
      char32_t c;
      if (!nextChar(bytes, pos, c)) return false;
    }
    out.assign(bytes);
    return true;
  }
  return convertText(codePage, 65001, bytes, out);
}

bool utf8ToUtf16(std::string_view utf8, std::u16string& out) {
  out.clear();
  for (size_t pos = 0; pos < utf8.size();) {
    char32_t c;
    if (!nextChar(utf8, pos, c)) return false;
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return true;
}

bool utf16ToUtf8(std::u16string_view utf16, std::string& out) {
  out.clear();
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
    appendUtf8(out, c);
  }
  return true;
}

}  // namespace zanto
