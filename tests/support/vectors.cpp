#include "support/vectors.h"

#include <fstream>
#include <stdexcept>

namespace zt {
std::string vector_path(const std::string& file) { return std::string(ZEB_VECTORS_DIR) + "/" + file; }

nlohmann::json load_vectors(const std::string& file) {
  std::ifstream in(vector_path(file));
  if (!in) throw std::runtime_error("vector file missing: " + vector_path(file));
  return nlohmann::json::parse(in);
}

std::string test_source_dir() { return ZEB_TEST_SOURCE_DIR; }
}  // namespace zt
