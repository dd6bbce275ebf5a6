// The CPUID reading against the kernel's view of the same CPU.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "quarzel/cpu.h"

namespace {

std::set<std::string> proc_cpu_flags() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("flags", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    std::set<std::string> flags;
    for (std::string w; words >> w;) flags.insert(w);
    return flags;
  }
  return {};
}

TEST(CpuFeatures, AgreeWithTheKernel) {
  const std::set<std::string> flags = proc_cpu_flags();
  if (flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo flags line";
  const quarzel::CpuFeatures& cpu = quarzel::cpu_features();
  const struct {
    const char* kernel_name;
    bool ours;
  } table[] = {
      {"ssse3", cpu.ssse3}, {"sse4_1", cpu.sse41}, {"aes", cpu.aes},   {"pclmulqdq", cpu.pclmul},
      {"sha_ni", cpu.sha},  {"bmi2", cpu.bmi2},    {"adx", cpu.adx},
  };
  for (const auto& row : table) EXPECT_EQ(row.ours, flags.count(row.kernel_name) == 1) << row.kernel_name;
}

}  // namespace
