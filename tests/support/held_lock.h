// Another process holding a file's writer lock (a flock on its ".lock"
// companion, the way every program of the system takes it) until destroyed:
// for the tests of the programs that reach the files only through the
// module or the core (the file layer's own tests use lock_holder.h).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace zt {

class HeldLock {
 public:
  explicit HeldLock(const std::string& file) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      const int fd = open((file + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
      const char r = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &r, 1);
      for (;;) pause();  // until killed
    }
    close(ready[1]);
    char r = 'n';
    ok_ = pid_ > 0 && read(ready[0], &r, 1) == 1 && r == 'y';
    close(ready[0]);
  }
  ~HeldLock() { release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool ok() const { return ok_; }
  void release() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace zt
