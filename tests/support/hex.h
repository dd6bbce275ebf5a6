// Hex helpers for tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zt {
using Bytes = std::vector<uint8_t>;
Bytes unhex(std::string_view hex);
std::string hex(const uint8_t* p, size_t n);
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }
Bytes ascii(std::string_view s);
}  // namespace zt
