#include "support/hex.h"

#include <stdexcept>

namespace zt {
namespace {
int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::invalid_argument("bad hex digit");
}
}  // namespace

Bytes unhex(std::string_view hex) {
  std::string clean;
  for (char c : hex)
    if (c != ' ' && c != '\n' && c != ':') clean.push_back(c);
  if (clean.size() % 2) throw std::invalid_argument("odd hex length");
  Bytes out(clean.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(nibble(clean[2 * i]) << 4 | nibble(clean[2 * i + 1]));
  return out;
}

std::string hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}

Bytes ascii(std::string_view s) { return Bytes(s.begin(), s.end()); }
}  // namespace zt
