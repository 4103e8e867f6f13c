// Command-line rules of the launcher: the tail after the program name, and the
// optional command word with its prefixes and service name. Portable.
#pragma once

#include <cstddef>

namespace zanto {

// The command line less the program name and the blanks and tabs around it.
const char* commandTail(const char* commandLine);

// When the tail starts with "/" or "-" (then an optional "-"), copies the word into
// `word` and returns true; text after the first blank, if any, goes to
// `serviceName` (both buffers of `size` bytes, cut to fit). `serviceName` is left
// alone when nothing follows the blank.
bool splitCommandWord(const char* tail, char* word, char* serviceName, size_t size);

}  // namespace zanto
