// The option rules of VmOptionRules.h. JNI_CreateJavaVM runs with ignoreUnrecognized,
// so the java command's own options vanish silently; the three Java 9 refusals end
// the start instead, which is why only they can be errors.
#include "VmOptionRules.h"

#include <algorithm>
#include <string_view>

#include "JavaVersion.h"

namespace zanto {

namespace {

// The java command's options whose value follows as the next word, and the one
// word form the JVM takes (null: none, the option is the java command's alone).
struct TwoWordOption {
  const char* name;
  const char* joined;
};

constexpr TwoWordOption kTwoWordOptions[] = {
    {"-cp", nullptr},
    {"-classpath", nullptr},
    {"--class-path", nullptr},
    {"-jar", nullptr},
    {"--add-opens", "--add-opens"},
    {"--add-exports", "--add-exports"},
    {"--add-reads", "--add-reads"},
    {"--add-modules", "--add-modules"},
    {"--module-path", "--module-path"},
    {"-p", "--module-path"},
    {"--upgrade-module-path", "--upgrade-module-path"},
    {"--limit-modules", "--limit-modules"},
    {"--patch-module", "--patch-module"},
};

struct RefusedPrefix {
  const char* prefix;
  const char* instead;
};

constexpr RefusedPrefix kRefusedFromJava9[] = {
    {"-Djava.ext.dirs=", "put the jars on ClassPath"},
    {"-Djava.endorsed.dirs=", "put the jars on ClassPath, or upgradeable modules on --upgrade-module-path=DIR"},
    {"-Xbootclasspath/p:", "write --patch-module=MODULE=PATH, or -Xbootclasspath/a: to append"},
};

constexpr const char kDropped[] = "only the java command understands it; the JVM ignores it";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

const char* classPathAdvice(std::string_view name) {
  if (name == "-jar") return "put the jar on ClassPath and name its main class in MainClass";
  return "list the entries in ClassPath";
}

}  // namespace

int javaFeatureVersion(const char* version) {
  NumericVersion v;
  if (!version || !parseNumericVersion(version, &v)) return 0;
  int feature = 0;
  // Capped: a version of more digits than an int holds is still "very new".
  for (size_t i = 0; i < v.numbers[0].length; ++i)
    feature = std::min(feature * 10 + (v.numbers[0].text[i] - '0'), 100000);
  return feature;
}

std::vector<VmOptionFinding> checkVmOptions(std::span<const std::string> options, const char* minJavaVersion) {
  const bool java9OrLater = javaFeatureVersion(minJavaVersion) >= 9;
  std::vector<VmOptionFinding> findings;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string_view option = options[i];
    VmOptionFinding f;
    f.index = i;
    f.option = options[i];
    // A .vmoptions line holds both words of a two-word form in one option.
    const size_t blank = option.find(' ');
    const std::string_view head = option.substr(0, blank);
    std::string_view value;
    if (size_t at = option.find_first_not_of(' ', blank);
        blank != std::string_view::npos && at != std::string_view::npos)
      value = option.substr(at);

    const TwoWordOption* twoWord = nullptr;
    for (const TwoWordOption& t : kTwoWordOptions)
      if (head == t.name) twoWord = &t;
    if (twoWord) {
      if (blank == std::string_view::npos && i + 1 < options.size()) {
        value = options[++i];
        f.option.append(" ").append(value);
      }
      if (twoWord->joined) {
        f.why = "a two-word form of the java command; the JVM ignores both words";
        f.instead = std::string("write ") + twoWord->joined + "=" + (value.empty() ? "VALUE" : std::string(value));
      } else {
        f.why = kDropped;
        f.instead = classPathAdvice(head);
      }
    } else if (startsWith(option, "--class-path=")) {
      f.why = kDropped;
      f.instead = classPathAdvice(head);
    } else if (head == "-server" || head == "-client") {
      f.why = "the java command chooses the VM with it; the JVM ignores it";
      f.instead = std::string("set PreferredVmType = \"") + std::string(head.substr(1)) + "\"";
    } else if (startsWith(option, "@")) {
      f.why = "an argument file of the java command; the JVM ignores it";
      f.instead = "put its options into the .vmoptions file beside the executable, one a line";
    } else {
      for (const RefusedPrefix& r : kRefusedFromJava9)
        if (startsWith(option, r.prefix)) {
          f.why = "Java 9 and later refuse it and create no JVM";
          f.instead = r.instead;
          f.refused = java9OrLater;
        }
      if (f.why.empty()) continue;
    }
    findings.push_back(std::move(f));
  }
  return findings;
}

}  // namespace zanto
