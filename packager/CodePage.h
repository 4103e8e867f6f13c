// Text conversions of the packager: the block holds 8-bit texts in Windows code
// page 1252 and wide texts in UTF-16; TOML configurations are UTF-8. Portable.
#pragma once

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

// False on malformed UTF-8.
bool utf8ToUtf16(std::string_view utf8, std::u16string& out);
// False on an unpaired surrogate, which UTF-8 (and TOML) cannot carry.
bool utf16ToUtf8(std::u16string_view utf16, std::string& out);

}  // namespace zanto
