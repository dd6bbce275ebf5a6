#include "support/oracle.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace zt {
namespace {
std::string temp_file(const std::string& content, const char* suffix) {
  std::string path = "/tmp/zeb_oracle_XXXXXX";
  path += suffix;
  int fd = mkstemps(path.data(), static_cast<int>(std::string(suffix).size()));
  if (fd < 0) throw std::runtime_error("mkstemps failed");
  close(fd);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}
}  // namespace

std::string run_command(const std::string& cmd, const std::string& input) {
  std::string in_path = temp_file(input, ".in");
  std::string full = cmd + " < " + in_path;
  FILE* p = popen(full.c_str(), "r");
  if (!p) {
    unlink(in_path.c_str());
    throw std::runtime_error("popen failed: " + cmd);
  }
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  unlink(in_path.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("command failed: " + cmd);
  return out;
}

std::string run_python(const std::string& script, const std::string& input) {
  std::string script_path = temp_file(script, ".py");
  try {
    std::string out = run_command("/usr/bin/python3 " + script_path, input);
    unlink(script_path.c_str());
    return out;
  } catch (...) {
    unlink(script_path.c_str());
    throw;
  }
}
}  // namespace zt
