// Text conversions of the packager: the block holds 8-bit texts in a Windows code
// page (1252 unless configured) and wide texts in UTF-16; TOML configurations are
// UTF-8. Portable: iconv on Linux, the system's conversions on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zanto {

// UTF-8 to code page 1252. The five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for U+0081 and so on, so every byte value has one character.
// False, with a message naming the character and its position, when a character
// has no byte or the input is not UTF-8.
bool utf8ToCp1252(std::string_view utf8, std::string& out, std::string& error);
// Never fails: every byte has a character.
std::string cp1252ToUtf8(std::string_view bytes);

// The code pages a block's 8-bit texts may be written in: the Windows ANSI code
// pages (874, 932, 936, 949, 950, 1250 to 1258) and 65001 (UTF-8); 0 stands for a
// block without a CodePage record, written in 1252 and read by the launcher in the
// machine's ANSI code page.
bool isBlockCodePage(uint32_t codePage);

// UTF-8 to the code page, refusing (with a message naming the character and its
// position) what it cannot hold or would not give back unchanged. 0 and 1252 use
// the 1252 rules above.
bool utf8ToCodePage(uint32_t codePage, std::string_view utf8, std::string& out, std::string& error);
// False when the bytes are not text of that code page.
bool codePageToUtf8(uint32_t codePage, std::string_view bytes, std::string& out);

// False on malformed UTF-8.
bool utf8ToUtf16(std::string_view utf8, std::u16string& out);
// False on an unpaired surrogate, which UTF-8 (and TOML) cannot carry.
bool utf16ToUtf8(std::u16string_view utf16, std::string& out);

}  // namespace zanto
