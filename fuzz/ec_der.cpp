// The EC DER codecs of the software HSM: the ECDSA-Sig-Value reader and the
// SubjectPublicKeyInfo reader. Both are strict DER, so what they accept the
// writers give back byte for byte.
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "zeb/swhsm_services.h"

namespace {

void signature(std::vector<uint8_t> der, uint32_t capacity) {
  uint8_t r[80] = {}, s[80] = {};
  uint32_t r_len = capacity, s_len = capacity;
  if (SignatureDERToRS(der.data(), static_cast<uint32_t>(der.size()), r, s, &r_len, &s_len) != 0) return;
  if (r_len > capacity || s_len > capacity) fz::fail("r or s longer than its capacity");
  // Both at one length, as the writer takes them.
  const uint32_t n = r_len > s_len ? r_len : s_len;
  uint8_t rr[80] = {}, ss[80] = {};
  std::memcpy(rr + n - r_len, r, r_len);
  std::memcpy(ss + n - s_len, s, s_len);
  std::vector<uint8_t> out(der.size() + 16);
  uint32_t out_len = static_cast<uint32_t>(out.size());
  const uint32_t rc = SignatureToDER(rr, ss, n, out.data(), &out_len);
  if (rc != 0) {
    // r = 0 or s = 0 is read (it is DER) but never written: no signature has it.
    const auto all_zero = [n](const uint8_t* v) {
      for (uint32_t i = 0; i < n; ++i) {
        if (v[i] != 0) return false;
      }
      return true;
    };
    if (all_zero(rr) || all_zero(ss)) return;
    fz::fail("the signature writer refuses what its reader took");
  }
  if (out_len != der.size() || std::memcmp(out.data(), der.data(), out_len) != 0) {
    fz::fail("the signature writer gives other bytes than it read");
  }
}

void public_key(std::vector<uint8_t> der) {
  uint8_t curve = 0;
  uint8_t q[160] = {};
  uint32_t q_len = sizeof q;
  if (ECCPubkeyDERToQ(der.data(), static_cast<uint32_t>(der.size()), &curve, q, &q_len) != 0) return;
  std::vector<uint8_t> out(der.size() + 16);
  uint32_t out_len = static_cast<uint32_t>(out.size());
  if (ECCPubkeyToDER(curve, q, q_len, out.data(), &out_len) != 0) fz::fail("the key writer refuses what its reader took");
  if (out_len != der.size() || std::memcmp(out.data(), der.data(), out_len) != 0) {
    fz::fail("the key writer gives other bytes than it read");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1024) return 0;
  // The first byte picks the capacity of r and s: a curve length, or a small one.
  static constexpr uint32_t kCapacity[] = {28, 32, 48, 64, 66, 1, 8, 80};
  fz::Input in(data, size);
  const uint32_t capacity = in.pick(kCapacity);
  const std::vector<uint8_t> body(in.data(), in.data() + in.size());
  signature(body, capacity);
  public_key(body);
  return 0;
}
