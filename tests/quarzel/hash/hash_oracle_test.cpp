// Differential test against Python's hashlib: random messages of 0 to 2,000
// bytes (plus every block-boundary length) fed in random splits, for every
// SHA-1, SHA-2, SHA-3 and SHAKE variant, SHAKE read in several squeezes. All
// cases of a run go to one Python process.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "hash_test_util.h"
#include "support/oracle.h"

namespace {

using zt::Bytes;
using zt::random_bytes;

constexpr uint64_t kSeed = 0x5EED2026;

// Reads "name hexmsg outlen" lines; prints one hex digest per line.
constexpr const char* kOracle = R"PY(
import hashlib, sys
for line in sys.stdin:
    name, msg, n = line.split()
    h = hashlib.new(name, bytes.fromhex(msg) if msg != '-' else b'')
    print(h.hexdigest(int(n)) if name.startswith('shake') else h.hexdigest())
)PY";

struct Case {
  std::string label;
  std::string request;  // line for the oracle
  Bytes ours;
};

std::vector<size_t> random_split(std::mt19937_64& rng, size_t len) {
  std::vector<size_t> pieces;
  while (len != 0) {
    const size_t max = std::min<size_t>(len, rng() % 4 == 0 ? 300 : 40);
    const size_t p = rng() % (max + 1);
    pieces.push_back(p);
    len -= p;
  }
  return pieces;
}

std::vector<size_t> lengths_for(std::mt19937_64& rng, uint32_t block) {
  std::vector<size_t> lens;
  for (size_t k = 0; k * block <= 2000 + block; ++k)
    for (int d = -1; d <= 1; ++d)
      if (k * block + d <= 2100 && !(k == 0 && d < 0)) lens.push_back(k * block + d);
  const size_t pad_limit = block == 64 ? 56 : block == 128 ? 112 : 0;  // length-field boundary
  if (pad_limit != 0) lens.insert(lens.end(), {pad_limit - 1, pad_limit, pad_limit + 1});
  for (int i = 0; i < 20; ++i) lens.push_back(rng() % 2001);
  return lens;
}

// SHAKE through the core routines: absorbed in pieces, squeezed in pieces.
Bytes shake_core(hash_type_t type, const Bytes& msg, const std::vector<size_t>& in_pieces,
                 const std::vector<size_t>& out_pieces) {
  const bool is128 = type == HASH_TYPE_SHAKE128;
  sha3_ctx_t c;
  EXPECT_EQ(is128 ? hash_shake128_init(&c) : hash_shake256_init(&c), 0);
  size_t off = 0;
  for (size_t p : in_pieces) {
    EXPECT_EQ(is128 ? hash_shake128_update(&c, static_cast<uint32_t>(p), msg.data() + off)
                    : hash_shake256_update(&c, static_cast<uint32_t>(p), msg.data() + off),
              0);
    off += p;
  }
  Bytes out;
  for (size_t p : out_pieces) {
    Bytes part(p);
    EXPECT_EQ(is128 ? hash_shake128_final(&c, static_cast<uint32_t>(p), part.data())
                    : hash_shake256_final(&c, static_cast<uint32_t>(p), part.data()),
              0);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

class HashOracle : public ::testing::TestWithParam<bool> {
 protected:
  hash_test::PortableSha path_{GetParam()};
};

TEST_P(HashOracle, RandomMessagesInRandomSplitsMatchHashlib) {
  SCOPED_TRACE(::testing::Message() << "seed 0x" << std::hex << kSeed);
  std::mt19937_64 rng(kSeed);
  std::vector<Case> cases;
  for (const auto& t : hash_test::all_types()) {
    if (t.hashlib == nullptr) continue;  // Keccak-n: see keccak_ref_test.cpp
    const bool xof = t.type == HASH_TYPE_SHAKE128 || t.type == HASH_TYPE_SHAKE256;
    for (size_t len : lengths_for(rng, t.block)) {
      const Bytes msg = random_bytes(rng, len);
      const std::string hexmsg = len == 0 ? "-" : zt::hex(msg);
      const auto split = random_split(rng, len);
      std::ostringstream label;
      label << t.name << " len " << len;
      // The context API (SHAKE: its fixed 32 / 64 bytes).
      cases.push_back({label.str() + " (context)",
                       std::string(t.hashlib) + " " + hexmsg + " " + std::to_string(t.digest),
                       hash_test::digest_ctx(t.type, msg, split)});
      if (xof) {
        const size_t total = rng() % 700;
        const auto squeezes = random_split(rng, total);
        cases.push_back({label.str() + " squeezed " + std::to_string(total) + " in " +
                             std::to_string(squeezes.size()) + " pieces",
                         std::string(t.hashlib) + " " + hexmsg + " " + std::to_string(total),
                         shake_core(t.type, msg, split, squeezes)});
      }
    }
  }
  std::string input;
  for (const auto& c : cases) input += c.request + "\n";
  std::istringstream answers(zt::run_python(kOracle, input));
  std::string expected;
  size_t checked = 0;
  for (const auto& c : cases) {
    ASSERT_TRUE(std::getline(answers, expected)) << "oracle answered too few lines";
    EXPECT_EQ(zt::hex(c.ours), expected) << c.label;
    ++checked;
  }
  EXPECT_EQ(checked, cases.size());
}

INSTANTIATE_TEST_SUITE_P(Paths, HashOracle, ::testing::Values(false, true), hash_test::path_name);

}  // namespace
