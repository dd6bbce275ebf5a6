// Independent oracles for tests: a Python 3 interpreter (hashlib, integers).
#pragma once
#include <string>

namespace zt {
// Runs `script` with /usr/bin/python3, feeding `input` on stdin; returns its
// standard output. Throws std::runtime_error when Python fails.
std::string run_python(const std::string& script, const std::string& input = "");
// Runs a shell command and returns its standard output; throws on failure.
std::string run_command(const std::string& cmd, const std::string& input = "");
}  // namespace zt
