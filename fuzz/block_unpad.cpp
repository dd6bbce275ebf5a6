// Block padding removal: every method on every block size. Where a method's
// fill is unique, padding what was removed gives the input back.
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "quarzel/padding.h"

namespace {

bool fill_is_unique(cipher_padding_t p) {
  return p == CIPHER_PADDING_PKCS_7 || p == CIPHER_PADDING_PKCS_5 || p == CIPHER_PADDING_ISO_78164 ||
         p == CIPHER_PADDING_ISO_97971_2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  fz::Input in(data, size);
  const auto method = static_cast<cipher_padding_t>(in.byte() % 13);
  const uint8_t block = in.byte();
  const auto len = static_cast<uint32_t>(in.size());
  std::vector<uint8_t> out(len + 1);
  uint32_t out_len = len;
  if (blockcipher_unpadding(method, block, len, in.data(), &out_len, out.data()) != 0) return 0;
  if (out_len > len) fz::fail("unpadding grew the data");
  if (!fill_is_unique(method)) return 0;
  std::vector<uint8_t> again(len + 2 * 256);
  uint32_t again_len = static_cast<uint32_t>(again.size());
  if (blockcipher_padding(method, block, out_len, out.data(), &again_len, again.data()) != 0) {
    fz::fail("padding refuses what unpadding gave");
  }
  if (again_len != len || std::memcmp(again.data(), in.data(), len) != 0) {
    fz::fail("unpadding took a fill that padding does not write");
  }
  return 0;
}
