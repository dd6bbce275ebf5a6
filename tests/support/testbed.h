// The secure-element test bed (se_testbed) for a test: started in a state
// directory of the test's own, stopped by its process id, nothing left
// behind. The program's path comes from ZEB_TESTBED.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace zt {

class TestBed {
 public:
  // The program to run, or null when the test bed is not asked for.
  static const char* program() {
    const char* p = std::getenv("ZEB_TESTBED");
    return p != nullptr && *p != '\0' ? p : nullptr;
  }

  // Starts the test bed with its state in `state` (created by it); true once
  // it accepts connections.
  bool start(const std::string& state, const std::string& sn, const std::string& admin_pin) {
    const char* exe = program();
    if (exe == nullptr) return false;
    state_ = std::filesystem::absolute(state).string();
    ready_ = state_ + ".ready";
    std::filesystem::remove(ready_);
    pid_ = fork();
    if (pid_ == 0) {
      execl(exe, exe, "--state", state_.c_str(), "--sn", sn.c_str(), "--admin-pin", admin_pin.c_str(), "--ready-file",
            ready_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return false;
    for (int i = 0; i < 1000; ++i) {
      if (std::filesystem::exists(ready_)) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    return false;
  }
  // Stops it (SIGTERM, or SIGKILL to kill it mid-command) and waits for it.
  void stop(int sig = SIGTERM) {
    if (pid_ > 0) {
      kill(pid_, sig);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    std::error_code ec;
    std::filesystem::remove(ready_, ec);
  }
  ~TestBed() { stop(); }
  TestBed() = default;
  TestBed(const TestBed&) = delete;
  TestBed& operator=(const TestBed&) = delete;

 private:
  pid_t pid_ = -1;
  std::string state_;
  std::string ready_;
};

}  // namespace zt
