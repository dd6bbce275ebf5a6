// Hex and byte-string helpers for tests.
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
// n bytes from a seeded generator: random-looking and reproducible.
template <class Rng>
Bytes random_bytes(Rng& rng, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}
}  // namespace zt
