// libFuzzer target for the parameter splitter: one input byte per UTF-16 unit
// (bytes from 0x80 map above Latin-1), so blanks and quotes come up often.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ParameterSplitter.h"

using zanto::SplitStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  text.reserve(size);
  for (size_t i = 0; i < size && data[i]; ++i)
    text.push_back(data[i] < 0x80 ? data[i] : static_cast<char16_t>(0x3000 + data[i]));

  std::vector<std::u16string> out{u"sentinel"};
  SplitStatus status = zanto::splitParameters(text.c_str(), out);

  if ((text.size() > zanto::kMaxParameterUnits) != (status == SplitStatus::TooLong)) abort();
  if (status != SplitStatus::Ok) {
    if (out.size() != 1 || out[0] != u"sentinel") abort();  // a refused text appends nothing
    return 0;
  }
  size_t units = 0;
  for (size_t i = 1; i < out.size(); ++i) units += out[i].size();
  if (units > text.size()) abort();

  // Without quotes the result is the plain split on blanks, empty parts dropped.
  if (text.find_first_of(u"\"'") == std::u16string::npos) {
    std::vector<std::u16string> plain{u"sentinel"};
    size_t start = 0;
    while (start <= text.size()) {
      size_t blank = text.find(u' ', start);
      if (blank == std::u16string::npos) blank = text.size();
      if (blank > start) plain.push_back(text.substr(start, blank - start));
      start = blank + 1;
    }
    if (plain != out) abort();
  }

  std::vector<std::u16string> tokens(out.begin() + 1, out.end());
  zanto::LauncherPrefixValues prefix;
  auto list = zanto::buildMainArgumentList(prefix, tokens, tokens, size % 2 == 0);
  if (list.size() < 5 || list.size() > 5 + 2 * tokens.size()) abort();
  return 0;
}
