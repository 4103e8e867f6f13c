// Who signed an executable: the subject of the signing certificate in an
// Authenticode certificate table. Read only, for `inspect`; the signature is
// not verified here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zanto {

// The subject of the certificate that signed the first PKCS#7 entry of the
// certificate table `table` (as "CN=..., O=..."), or a text in parentheses
// saying why it cannot be told.
std::string authenticodeSigner(const uint8_t* table, size_t size);

}  // namespace zanto
