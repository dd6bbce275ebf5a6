// Runs the built VELM_Tool in the current working directory and collects what
// it printed and its exit status.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/workdir.h"

namespace zt {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Replaces the calling (child) process with the tool run on `args`.
[[noreturn]] inline void exec_tool(const std::vector<std::string>& args) {
  std::vector<std::string> argv_s{VELM_TOOL_PATH};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// `as_uid` >= 0: the tool runs as that user (and group), as a user without
// the rights of the one who set the HSM up would (the caller must be root).
inline ToolRun run_tool(const std::vector<std::string>& args, int as_uid = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(".tool-out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(".tool-err", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    if (as_uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(as_uid)) != 0 ||
                        setuid(static_cast<uid_t>(as_uid)) != 0))
      _exit(126);
    exec_tool(args);
  }
  ToolRun r;
  int st = 0;
  if (pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st)) r.status = WEXITSTATUS(st);
  r.out = read_file(".tool-out");
  r.err = read_file(".tool-err");
  unlink(".tool-out");
  unlink(".tool-err");
  return r;
}

}  // namespace zt
