// RSA padding removal on the encoded message: OAEP and PKCS#1 v1.5 decoding,
// and the PSS, PKCS#1 v1.5 and X9.31 signature checks, on any em.
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "quarzel/rsa.h"

namespace {

constexpr uint32_t kSizes[] = {512, 1024, 2048, 3072, 4096, 8, 64, 264};
constexpr hash_type_t kHashes[] = {HASH_TYPE_SHA1,     HASH_TYPE_SHA2_224, HASH_TYPE_SHA2_256, HASH_TYPE_SHA2_384,
                                   HASH_TYPE_SHA2_512, HASH_TYPE_SHA3_256, HASH_TYPE_UNDEFINED};
constexpr rsa_mgf_t kMgfs[] = {RSA_MGF_MGF1_SHA1,     RSA_MGF_MGF1_SHA2_256, RSA_MGF_MGF1_SHA2_384,
                               RSA_MGF_MGF1_SHA2_512, RSA_MGF_MGF1_SHA3_256, RSA_MGF_UNDEFINED};
constexpr uint32_t kDigestLens[] = {20, 28, 32, 48, 64, 0, 1, 200};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1200) return 0;
  fz::Input in(data, size);
  const uint8_t op = in.byte() % 5;
  const uint32_t bits = in.pick(kSizes);
  const hash_type_t hash = in.pick(kHashes);
  const rsa_mgf_t mgf = in.pick(kMgfs);
  const uint32_t mgf_len = in.pick(kDigestLens);
  const uint32_t digest_len = in.pick(kDigestLens);
  const uint32_t salt_len = in.byte();
  const uint32_t k = bits / 8;
  // The digest (or label hash), then em: zero-filled where the input ends.
  std::vector<uint8_t> digest(digest_len), em(k), modulus(k, 0xFF);
  const size_t d = in.size() < digest_len ? in.size() : digest_len;
  if (d != 0) std::memcpy(digest.data(), in.data(), d);
  const size_t e = in.size() - d < k ? in.size() - d : k;
  if (e != 0) std::memcpy(em.data(), in.data() + d, e);

  std::vector<uint8_t> msg(k + 1);
  auto msg_len = static_cast<uint32_t>(msg.size());
  uint32_t verdict = 0;
  switch (op) {
    case 0:
      if (rsa_eme_oaep_decode(bits, mgf, mgf_len, em.data(), digest_len, digest.data(), &msg_len, msg.data(),
                              &verdict) == 0 && msg_len > k) {
        fz::fail("OAEP message longer than em");
      }
      break;
    case 1:
      if (rsa_eme_pkcs1_v1_5_decode(bits, em.data(), &msg_len, msg.data(), &verdict) == 0 && msg_len > k) {
        fz::fail("PKCS#1 v1.5 message longer than em");
      }
      break;
    case 2:
      (void)rsa_emsa_pss_verify(bits, hash, mgf, mgf_len, digest_len, digest.data(), salt_len, nullptr, em.data(),
                                &verdict);
      break;
    case 3:
      (void)rsa_emsa_pkcs1_v1_5_verify(bits, hash, digest_len, digest.data(), em.data(), &verdict);
      break;
    default:
      (void)ansi_x9_31_verify(bits, modulus.data(), digest_len, digest.data(), em.data(), &verdict);
      break;
  }
  return 0;
}
