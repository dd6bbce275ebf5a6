// A second process that holds a file's lock until told to let go (the tests
// of the file layer and of the software HSM's files).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "oxlu/file.h"

namespace zt {

class LockHolder {
 public:
  // Forks a child that opens `path` through fopen_safe(mode) and keeps it
  // open; mode "x" holds the file's writer lock instead (a read-modify-write
  // in progress). ok() tells whether the child got the file.
  explicit LockHolder(const std::string& path, const char* mode = "r") {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(down[1]);
      oxlu::WriteLock lock;
      FILE* f = nullptr;
      bool got = false;
      if (std::string(mode) == "x") {
        got = lock.acquire(path.c_str()) == OXLU_OK;
      } else {
        f = fopen_safe(path.c_str(), mode);
        got = f != nullptr;
      }
      char r = got ? 'y' : 'n';
      (void)!write(up[1], &r, 1);
      char c;
      (void)!read(down[0], &c, 1);
      if (f != nullptr) (void)fclose_safe(f);  // not what this test checks
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    release_fd_ = down[1];
    char r = 'n';
    if (read(up[0], &r, 1) == 1) ok_ = r == 'y';
    close(up[0]);
  }
  ~LockHolder() { release(); }
  bool ok() const { return ok_; }
  void release() {
    if (pid_ <= 0) return;
    char c = 'x';
    (void)!write(release_fd_, &c, 1);
    close(release_fd_);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool ok_ = false;
};

}  // namespace zt
