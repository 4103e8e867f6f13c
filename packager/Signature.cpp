// Certificate table reading (see Signature.h): just enough DER to walk from the
// PKCS#7 SignedData to the signer's certificate. Every length is checked
// against what encloses it; anything unexpected ends the walk with a reason.
#include "Signature.h"

#include <cstring>
#include <vector>

namespace zanto {

namespace {

struct Der {
  const uint8_t* p = nullptr;
  size_t n = 0;
};

// Takes one element off the front of `in`: its tag, its contents and (in
// `whole`) its complete encoding. Only definite lengths, as DER has.
bool take(Der& in, uint8_t& tag, Der& content, Der* whole = nullptr) {
  if (in.n < 2) return false;
  tag = in.p[0];
  size_t length = in.p[1], header = 2;
  if (length & 0x80) {
    size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || in.n < 2 + bytes) return false;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = length << 8 | in.p[2 + i];
    header += bytes;
  }
  if (length > in.n - header) return false;
  if (whole) *whole = Der{in.p, header + length};
  content = Der{in.p + header, length};
  in.p += header + length;
  in.n -= header + length;
  return true;
}

bool expect(Der& in, uint8_t tag, Der& content, Der* whole = nullptr) {
  uint8_t got;
  return take(in, got, content, whole) && got == tag;
}

bool same(const Der& a, const Der& b) { return a.n == b.n && std::memcmp(a.p, b.p, a.n) == 0; }

std::string oidName(const Der& oid) {
  static const struct {
    uint8_t bytes[9];
    size_t n;
    const char* name;
  } known[] = {
      {{0x55, 0x04, 0x03}, 3, "CN"},
      {{0x55, 0x04, 0x06}, 3, "C"},
      {{0x55, 0x04, 0x07}, 3, "L"},
      {{0x55, 0x04, 0x08}, 3, "ST"},
      {{0x55, 0x04, 0x0A}, 3, "O"},
      {{0x55, 0x04, 0x0B}, 3, "OU"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, 9, "emailAddress"},
  };
  for (const auto& k : known)
    if (oid.n == k.n && std::memcmp(oid.p, k.bytes, k.n) == 0) return k.name;
  // Dotted form for the others.
  std::string out;
  uint64_t value = 0;
  for (size_t i = 0; i < oid.n; ++i) {
    value = value << 7 | (oid.p[i] & 0x7F);
    if (oid.p[i] & 0x80) continue;
    if (out.empty())
      out = std::to_string(value < 80 ? value / 40 : 2) + "." + std::to_string(value < 80 ? value % 40 : value - 80);
    else
      out += "." + std::to_string(value);
    value = 0;
  }
  return out.empty() ? "?" : out;
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A directory string as UTF-8: BMPString from UTF-16BE (surrogates shown as
// U+FFFD), T61String byte by byte as Latin-1, the others as they are.
std::string text(uint8_t tag, const Der& value) {
  std::string out;
  if (tag == 0x1E) {
    for (size_t i = 0; i + 1 < value.n; i += 2) {
      uint32_t c = static_cast<uint32_t>(value.p[i]) << 8 | value.p[i + 1];
      appendUtf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
    }
  } else if (tag == 0x14) {
    for (size_t i = 0; i < value.n; ++i) appendUtf8(out, value.p[i]);
  } else {
    out.assign(reinterpret_cast<const char*>(value.p), value.n);
  }
  return out;
}

// "CN=..., O=..." in the order of the certificate.
bool renderName(Der name, std::string& out) {
  while (name.n) {
    Der rdn;
    if (!expect(name, 0x31, rdn)) return false;
    while (rdn.n) {
      Der attribute, oid, value;
      uint8_t tag;
      if (!expect(rdn, 0x30, attribute) || !expect(attribute, 0x06, oid) || !take(attribute, tag, value)) return false;
      if (!out.empty()) out += ", ";
      out += oidName(oid) + "=" + text(tag, value);
    }
  }
  return true;
}

}  // namespace

std::string authenticodeSigner(const uint8_t* table, size_t size) {
  // WIN_CERTIFICATE: length, revision, type (2: PKCS#7 SignedData), the data.
  if (size < 8) return "(the certificate table is too short)";
  uint32_t length = table[0] | table[1] << 8 | table[2] << 16 | static_cast<uint32_t>(table[3]) << 24;
  uint16_t type = static_cast<uint16_t>(table[6] | table[7] << 8);
  if (length < 8 || length > size) return "(the certificate table's length does not fit it)";
  if (type != 2) return "(the certificate is no PKCS#7 signature)";
  Der in{table + 8, length - 8}, contentInfo, oid, explicitContent, signedData, ignored, certificates, signerInfos;
  const uint8_t kSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  if (!expect(in, 0x30, contentInfo) || !expect(contentInfo, 0x06, oid) ||
      !same(oid, Der{kSignedData, sizeof kSignedData}) || !expect(contentInfo, 0xA0, explicitContent) ||
      !expect(explicitContent, 0x30, signedData) || !expect(signedData, 0x02, ignored) ||
      !expect(signedData, 0x31, ignored) || !expect(signedData, 0x30, ignored))
    return "(the signature is no readable PKCS#7 SignedData)";
  uint8_t tag;
  Der element;
  while (take(signedData, tag, element)) {
    if (tag == 0xA0) certificates = element;
    if (tag == 0x31) signerInfos = element;
  }
  Der signerInfo, issuerAndSerial, issuer, serial;
  if (!expect(signerInfos, 0x30, signerInfo) || !expect(signerInfo, 0x02, ignored) ||
      !expect(signerInfo, 0x30, issuerAndSerial) || !expect(issuerAndSerial, 0x30, ignored, &issuer) ||
      !expect(issuerAndSerial, 0x02, ignored, &serial))
    return "(the signature names its signer in a way not read here)";
  // The signer's certificate is the one with that issuer and serial number.
  while (certificates.n) {
    Der certificate, tbs, certSerial, certIssuer, subject;
    if (!expect(certificates, 0x30, certificate) || !expect(certificate, 0x30, tbs)) break;
    Der first = tbs;
    if (!take(first, tag, ignored)) break;
    if (tag == 0xA0) tbs = first;  // the explicit version
    if (!expect(tbs, 0x02, ignored, &certSerial) || !expect(tbs, 0x30, ignored) ||
        !expect(tbs, 0x30, ignored, &certIssuer) || !expect(tbs, 0x30, ignored) || !expect(tbs, 0x30, subject))
      break;
    if (!same(certSerial, serial) || !same(certIssuer, issuer)) continue;
    std::string name;
    if (!renderName(subject, name)) return "(the signer's certificate has an unreadable subject)";
    return name.empty() ? "(the signer's certificate has an empty subject)" : name;
  }
  return "(the signer's certificate is not in the signature)";
}

}  // namespace zanto
