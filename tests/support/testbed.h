// Starts the secure-element test bed (se_testbed) on a state directory and
// stops it by its process id. For C++ tests; shell scripts use
// scripts/testbed.sh.
//
//   zt::Testbed tb(SE_TESTBED_PATH, dir);      // ephemeral port
//   zt::Testbed tb(SE_TESTBED_PATH, dir, 5566);  // the console's port
//   tb.port(); tb.stop(); tb.kill();           // kill: SIGKILL, no clean exit
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace zt {

class Testbed {
 public:
  // On a fixed port the start is tried again for a while: another test bed
  // may hold it (one of another test run on this machine, or one just
  // stopped), and give it up before it could be looked at.
  Testbed(const std::string& exe, const std::string& state, int port = 0, std::vector<std::string> extra = {}) {
    for (int attempt = 0;; ++attempt) {
      if (start(exe, state, port, extra)) return;
      if (port == 0 || attempt >= 300) {
        throw std::runtime_error("se_testbed did not start: " + output_);
      }
      usleep(200 * 1000);
    }
  }
  ~Testbed() { stop(); }
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }  // its lines up to the ready line

  // SIGTERM and wait: the exit status (-1 when already stopped).
  int stop() { return end(SIGTERM); }
  // SIGKILL and wait: a crash at any point.
  int kill() { return end(SIGKILL); }

 private:
  // Starts it and reads its lines until the ready line; false (stopped) when
  // it ended first.
  bool start(const std::string& exe, const std::string& state, int port, const std::vector<std::string>& extra) {
    output_.clear();
    port_ = 0;
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {exe, "--state", state, "--port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // It ends with the test even when the test dies.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    // Read its lines until the ready line (or its end).
    FILE* out = fdopen(fds[0], "r");
    char line[512];
    while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
      output_ += line;
      if (std::sscanf(line, "se_testbed: ready port=%d", &port_) == 1) break;
    }
    if (out != nullptr) std::fclose(out);
    if (port_ <= 0) {
      stop();
      return false;
    }
    return true;
  }
  int end(int sig) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, sig);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }
  pid_t pid_ = -1;
  int port_ = 0;
  std::string output_;
};

}  // namespace zt
