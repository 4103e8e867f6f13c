// Wine process runner for the end-to-end tests (see WineRunner.h).
#include "WineRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zanto::e2e {

namespace {

std::string prefix() {
  const char* p = std::getenv("ZANTO_WINEPREFIX");
  if (!p || !*p) throw std::runtime_error("ZANTO_WINEPREFIX is not set");
  return p;
}

}  // namespace

std::string windowsPath(const std::string& linuxPath) {
  std::string w = "Z:" + linuxPath;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

std::string driveC(const std::string& relative) { return prefix() + "/drive_c/" + relative; }

RunResult runUnderWine(const std::string& program, const std::vector<std::string>& args, const Environment& env,
                       int timeoutSeconds) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  std::string winePrefix = prefix();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    close(outPipe[0]);
    close(errPipe[0]);
    setenv("WINEPREFIX", winePrefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("DISPLAY", "", 1);
    std::vector<std::string> words;
    const char* envrun = std::getenv("ZANTO_ENVRUN");
    if (envrun && *envrun) words.push_back(envrun);
    for (const auto& [name, value] : env) {
      if (name == "WINEDEBUG") {
        setenv(name.c_str(), value ? value->c_str() : "-all", 1);
      } else if (envrun && *envrun) {
        words.push_back(name + "=" + value.value_or(""));
      } else if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    if (envrun && *envrun) words.push_back("--");
    // A Linux path, or a program Wine finds itself (msiexec, reg).
    words.push_back(program.rfind('/', 0) == 0 ? windowsPath(program) : program);
    for (const std::string& a : args) words.push_back(a);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("wine"));
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    execvp("wine", argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  bool exited = false;
  // Wine's background processes may inherit the pipes and keep them open after the
  // program has ended, so the end of the program, not of the pipes, ends the wait.
  while (true) {
    int ready = poll(fds, 2, 50);
    bool readAny = false;
    for (int i = 0; ready > 0 && i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
        readAny = true;
      }
    }
    if (fds[0].fd < 0 && fds[1].fd < 0) break;
    if (!exited) exited = waitpid(pid, &status, WNOHANG) == pid;
    if (exited && !readAny) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  if (!exited) waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

namespace {

// Reads one quoted string of Wine's trace, undoing its escapes.
std::string traceString(const std::string& line, size_t& at) {
  std::string s;
  size_t q = line.find('"', at);
  if (q == std::string::npos) return s;
  size_t i = q + 1;
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      char e = line[++i];
      s += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    } else {
      s += line[i];
    }
  }
  at = i + 1;
  return s;
}

}  // namespace

RunResult runTracingMessageBoxes(const std::string& program, const std::vector<std::string>& args,
                                 const Environment& env, std::vector<MessageBox>& boxes) {
  Environment traced = env;
  traced["WINEDEBUG"] = "-all,+relay";
  RunResult r = runUnderWine(program, args, traced);
  std::string kept;
  size_t start = 0;
  while (start < r.err.size()) {
    size_t end = r.err.find('\n', start);
    if (end == std::string::npos) end = r.err.size();
    std::string line = r.err.substr(start, end - start);
    size_t call = line.find("Call user32.MessageBoxA(");
    if (call != std::string::npos) {
      size_t at = call;
      MessageBox box;
      box.text = traceString(line, at);
      box.caption = traceString(line, at);
      boxes.push_back(box);
    } else if (line.find(":trace:relay:") == std::string::npos && line.find("Call ") == std::string::npos &&
               line.find("Ret ") == std::string::npos && line.find("Starting thread") == std::string::npos) {
      kept += line + "\n";
    }
    start = end + 1;
  }
  r.err = kept;
  return r;
}

}  // namespace zanto::e2e
