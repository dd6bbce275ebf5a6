// Keccak-n (padding 0x01) against the FIPS 202 reference sponge kept beside
// this test (keccak_ref.py). The reference first proves itself against
// hashlib's SHA-3 and SHAKE with their own suffixes.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "hash_test_util.h"
#include "support/oracle.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;

constexpr uint64_t kSeed = 0xC0FFEE17;

std::string reference_source() {
  const std::string path = zt::test_source_dir() + "/quarzel/hash/keccak_ref.py";
  std::ifstream in(path);
  if (!in) throw std::runtime_error("missing " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Self-check, then one "rate hexmsg outlen" request per input line.
constexpr const char* kDriver = R"PY(
import hashlib, sys
for msg in [b'', b'abc', bytes(range(135)), bytes(range(136)), bytes(range(200)) * 2]:
    for name, rate, n in [('sha3_224', 144, 28), ('sha3_256', 136, 32), ('sha3_384', 104, 48), ('sha3_512', 72, 64)]:
        assert sponge(rate, 0x06, msg, n) == hashlib.new(name, msg).digest(), (name, len(msg))
    assert sponge(168, 0x1F, msg, 300) == hashlib.shake_128(msg).digest(300)
    assert sponge(136, 0x1F, msg, 64) == hashlib.shake_256(msg).digest(64)
print('reference ok')
for line in sys.stdin:
    rate, msg, n = line.split()
    print(sponge(int(rate), 0x01, bytes.fromhex(msg) if msg != '-' else b'', int(n)).hex())
)PY";

TEST(KeccakReference, KeccakNMatchesTheReferenceSponge) {
  SCOPED_TRACE(::testing::Message() << "seed 0x" << std::hex << kSeed);
  std::mt19937_64 rng(kSeed);
  struct Case {
    std::string label;
    Bytes ours;
  };
  std::vector<Case> cases;
  std::string input;
  for (const auto& t : hash_test::all_types()) {
    if (t.hashlib != nullptr) continue;  // Keccak-n only
    std::vector<size_t> lens = {0, 1, t.block - 2, t.block - 1, t.block, t.block + 1, 2 * t.block};
    for (int i = 0; i < 4; ++i) lens.push_back(rng() % 600);
    for (size_t len : lens) {
      Bytes msg(len);
      for (auto& b : msg) b = static_cast<uint8_t>(rng());
      cases.push_back({std::string(t.name) + " len " + std::to_string(len),
                       hash_test::digest_ctx(t.type, msg, {len / 3, 1})});
      input += std::to_string(t.block) + " " + (len ? zt::hex(msg) : "-") + " " + std::to_string(t.digest) + "\n";
    }
  }
  std::istringstream out(zt::run_python(reference_source() + kDriver, input));
  std::string line;
  ASSERT_TRUE(std::getline(out, line));
  ASSERT_EQ(line, "reference ok");
  for (const auto& c : cases) {
    ASSERT_TRUE(std::getline(out, line));
    EXPECT_EQ(zt::hex(c.ours), line) << c.label;
  }
}

}  // namespace
