// libFuzzer target for the certificate table reader of `inspect`: the input is
// a certificate table as a signing tool appends it (the seed is a real one).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string signer = zanto::authenticodeSigner(data, size);
  if (signer.empty() && size >= 8) abort();  // a name or a reason, never nothing
  return 0;
}
