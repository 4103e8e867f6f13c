// JVM options that only the java command understands (JNI_CreateJavaVM drops them)
// and options that Java 9 and later refuse outright, found in an option list with
// what to write instead. The packager checks VmParameters with it, the launcher the
// lines of a .vmoptions file. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace zanto {

struct VmOptionFinding {
  size_t index = 0;      // of the option in the list (the first of two words)
  std::string option;    // as written; a two-word form with its second word
  bool refused = false;  // every runtime from the minimum version on refuses to start with it
  std::string why;       // what the JVM does with it
  std::string instead;   // what to write instead
};

// The feature version of a version text (1.8.0_202 and 8 give 8, 11.0.2 gives 11);
// 0 for an empty text or one without a leading number.
int javaFeatureVersion(const char* version);

// The findings in `options`, in order. An option is one word of a split parameter
// string, or one .vmoptions line, which may hold a two-word form with its blank.
// `minJavaVersion` is the configured minimum (empty: any version).
std::vector<VmOptionFinding> checkVmOptions(std::span<const std::string> options, const char* minJavaVersion);

}  // namespace zanto
