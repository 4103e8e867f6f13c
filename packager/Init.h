// `init`: a first configuration for a jar, from its manifest and the class file
// version its classes need, written in the readable tables with comments.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace zanto {

struct JarFacts {
  std::map<std::string, std::string> manifest;  // main attributes, names in their manifest spelling
  int classMajor = 0;                           // the highest class file major version; 0: no class
};

// Whether this build of zanto-pack can read jars (the Windows build cannot).
bool initAvailable();

bool readJarFacts(const std::filesystem::path& jar, JarFacts& facts, std::string& error);

// The configuration text for `jar`, written to `config` (the class path item is
// the jar relative to the configuration's folder).
std::string initConfiguration(const std::filesystem::path& jar, const std::filesystem::path& config,
                              const JarFacts& facts);

// The Java version a class file major version needs ("1.8" for 52, "17" for 61).
std::string javaVersionOfClassMajor(int major);

// Reads the jar, writes the configuration (refusing to replace an existing file)
// and returns the commands that build and run it in `next`.
bool initCommand(const std::filesystem::path& jar, const std::filesystem::path& config, std::string& next,
                 std::string& error);

}  // namespace zanto
