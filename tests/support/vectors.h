// Loading of the Wycheproof vector files. A missing file throws, which fails
// the calling test: vectors are never skipped silently.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

namespace zt {
// Full path of a vector file, e.g. vector_path("aes_gcm.json").
std::string vector_path(const std::string& file);
// Parsed JSON of a vector file; throws std::runtime_error when absent.
nlohmann::json load_vectors(const std::string& file);
// Folder holding test data kept in this repository (tests/).
std::string test_source_dir();
}  // namespace zt
