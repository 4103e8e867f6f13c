// Runs Windows programs under Wine from the Linux side, so that a test sees a
// process's exit code, both streams, and Wine's trace of its message boxes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zanto::e2e {

struct RunResult {
  int exitCode = -1;
  bool timedOut = false;
  std::string out, err;
};

// Environment overrides: a value of std::nullopt removes the variable. They are set
// on the Windows side through the envrun helper named by ZANTO_ENVRUN, since Wine
// takes some variables (TMP, TEMP) from its registry rather than from Linux.
using Environment = std::map<std::string, std::optional<std::string>>;

// `program` is a Linux path, or a name Wine finds in its system folder (msiexec).
RunResult runUnderWine(const std::string& program, const std::vector<std::string>& args, const Environment& env = {},
                       int timeoutSeconds = 60);

// The same, with message boxes traced; `boxes` receives each box's text and caption.
struct MessageBox {
  std::string text, caption;
};
RunResult runTracingMessageBoxes(const std::string& program, const std::vector<std::string>& args,
                                 const Environment& env, std::vector<MessageBox>& boxes);

// Z:\ path of a Linux path, as the Windows side sees it.
std::string windowsPath(const std::string& linuxPath);
// Linux path of a path on the prefix's c: drive.
std::string driveC(const std::string& relative = "");

}  // namespace zanto::e2e
