// DER is minimal (X.690 8.3.2, 10.1): the readers refuse every element
// re-written in a longer form, and whatever the writers produce reads back.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "quarzel/rsa_key.h"
#include "rsa_test_util.h"

using rt::Bytes;
using rt::PriKey;
using rt::PubKey;

namespace {

const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// The element tree of a well-formed encoding. A SEQUENCE holds elements; so
// does the OCTET STRING of PKCS#8 and the BIT STRING of an SPKI (after its
// unused-bits byte), which wrap the key's own DER.
struct Node {
  uint8_t tag = 0;
  Bytes value;
  std::vector<Node> kids;
  bool wraps = false;
};

std::vector<Node> parse_all(const uint8_t* p, size_t n);

Node parse_one(const uint8_t*& p, const uint8_t* end) {
  if (end - p < 2) throw std::runtime_error("short DER");
  Node node;
  node.tag = p[0];
  size_t len = p[1];
  p += 2;
  if (len >= 0x80) {
    const size_t count = len & 0x7F;
    len = 0;
    for (size_t i = 0; i < count; ++i) len = len << 8 | *p++;
  }
  if (static_cast<size_t>(end - p) < len) throw std::runtime_error("DER past the end");
  node.value.assign(p, p + len);
  p += len;
  const size_t skip = node.tag == 0x03 ? 1 : 0;
  if (node.tag == 0x30 || ((node.tag == 0x04 || node.tag == 0x03) && len > skip && node.value[skip] == 0x30)) {
    node.kids = parse_all(node.value.data() + skip, len - skip);
    node.wraps = node.tag != 0x30;
  }
  return node;
}

std::vector<Node> parse_all(const uint8_t* p, size_t n) {
  std::vector<Node> out;
  const uint8_t* end = p + n;
  while (p != end) out.push_back(parse_one(p, end));
  return out;
}

enum class Bend {
  none,
  short_in_long,   // a length below 0x80 in the long form: 81 47
  zero_len_byte,   // a leading zero length byte: 82 00 47, 83 00 01 0A
  int_zero,        // INTEGER with an unneeded leading 00
  int_ff,          // INTEGER with a leading FF (negative, and not minimal)
};
constexpr Bend kBends[] = {Bend::short_in_long, Bend::zero_len_byte, Bend::int_zero, Bend::int_ff};

bool applies(Bend b, const Node& n) {
  switch (b) {
    case Bend::short_in_long: return n.value.size() < 0x80;
    case Bend::int_zero:
    case Bend::int_ff: return n.tag == 0x02;
    default: return true;
  }
}

void put_len(Bytes& out, size_t len, bool short_in_long, bool zero_byte) {
  Bytes digits;
  for (size_t v = len; v != 0; v >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(v));
  if (digits.empty()) digits.push_back(0);
  if (zero_byte) digits.insert(digits.begin(), 0x00);
  if (len < 0x80 && !short_in_long && !zero_byte) {
    out.push_back(static_cast<uint8_t>(len));
    return;
  }
  out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
  out.insert(out.end(), digits.begin(), digits.end());
}

// Encodes the tree with element number `at` (pre-order) bent by `how`.
Bytes encode(const Node& n, size_t at, Bend how, size_t& index) {
  const bool here = index++ == at;
  Bytes content;
  if (!n.kids.empty()) {
    if (n.tag == 0x03) content.push_back(0x00);
    for (const Node& k : n.kids) {
      const Bytes b = encode(k, at, how, index);
      content.insert(content.end(), b.begin(), b.end());
    }
  } else {
    content = n.value;
  }
  if (here && how == Bend::int_zero) content.insert(content.begin(), 0x00);
  if (here && how == Bend::int_ff) content.insert(content.begin(), 0xFF);
  Bytes out{n.tag};
  put_len(out, content.size(), here && how == Bend::short_in_long, here && how == Bend::zero_len_byte);
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes encode(const Node& root, size_t at, Bend how) {
  size_t index = 0;
  return encode(root, at, how, index);
}

// Pre-order list of the elements, to find their numbers.
void flatten(const Node& n, std::vector<const Node*>& out) {
  out.push_back(&n);
  for (const Node& k : n.kids) flatten(k, out);
}

using Read = std::function<quarzel_ret_t(const Bytes&)>;
using Probe = std::function<quarzel_ret_t(const Bytes&, uint32_t*)>;

struct Format {
  const char* name;
  Bytes der;
  Read read;
  Probe probe;
};

std::vector<Format> formats_of(EVP_PKEY* evp, uint32_t bits) {
  auto size = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  return {
      {"PKCS#1 private", rt::i2d_pkcs1_private(evp),
       [=](const Bytes& d) {
         PriKey k(bits);
         return rsa_pkcs1_der_to_prikey(size(d), d.data(), k.get());
       },
       [=](const Bytes& d, uint32_t* b) { return rsa_pkcs1_prikey_der_get_length(size(d), d.data(), b); }},
      {"PKCS#8", rt::i2d_pkcs8(evp),
       [=](const Bytes& d) {
         PriKey k(bits);
         return rsa_pkcs8_der_to_prikey(size(d), d.data(), k.get(), nullptr, nullptr);
       },
       [=](const Bytes& d, uint32_t* b) { return rsa_pkcs8_prikey_der_get_length(size(d), d.data(), b); }},
      {"PKCS#1 public", rt::i2d_pkcs1_public(evp),
       [=](const Bytes& d) {
         PubKey k(bits);
         return rsa_pkcs1_der_to_pubkey(size(d), d.data(), k.get());
       },
       [=](const Bytes& d, uint32_t* b) { return rsa_pkcs1_pubkey_der_get_length(size(d), d.data(), b); }},
      {"SPKI", rt::i2d_spki(evp),
       [=](const Bytes& d) {
         PubKey k(bits);
         return rsa_x509_der_to_pubkey(size(d), d.data(), k.get(), nullptr, nullptr);
       },
       [=](const Bytes& d, uint32_t* b) { return rsa_x509_pubkey_der_get_length(size(d), d.data(), b); }},
  };
}

}  // namespace

// Every element of every encoding, re-written in each longer form, is refused
// by the reader; the size probe refuses it too when it reads that element
// (everything up to and including the modulus).
TEST(RsaDerMinimal, EveryElementInALongerFormIsRefused) {
  const Bytes pkcs8 = rt::wycheproof_pkcs8("rsa_pkcs1_2048.json");
  rt::Evp evp = rt::evp_from_pkcs8(pkcs8);
  for (const Format& f : formats_of(evp.get(), 2048)) {
    SCOPED_TRACE(f.name);
    const uint8_t* p = f.der.data();
    const Node root = parse_one(p, f.der.data() + f.der.size());
    ASSERT_EQ(f.der, encode(root, SIZE_MAX, Bend::none));
    ASSERT_EQ(0u, f.read(f.der));
    std::vector<const Node*> nodes;
    flatten(root, nodes);
    size_t modulus = 0;
    while (modulus < nodes.size() && !(nodes[modulus]->tag == 0x02 && nodes[modulus]->value.size() > 8)) ++modulus;
    ASSERT_LT(modulus, nodes.size());
    size_t tried = 0;
    for (size_t at = 0; at < nodes.size(); ++at) {
      for (Bend how : kBends) {
        if (!applies(how, *nodes[at])) continue;
        const Bytes bent = encode(root, at, how);
        ASSERT_NE(f.der, bent);
        EXPECT_NE(0u, f.read(bent)) << "element " << at << " bend " << static_cast<int>(how);
        uint32_t bits = 0;
        const quarzel_ret_t probed = f.probe(bent, &bits);
        if (at <= modulus) {
          EXPECT_NE(0u, probed) << "element " << at << " bend " << static_cast<int>(how);
        } else {
          EXPECT_TRUE(probed != 0 || bits == 2048) << "element " << at;
        }
        ++tried;
      }
    }
    EXPECT_GT(tried, nodes.size());
  }
}

// The shape: a 1016-bit modulus written as 00 00 ... would count as
// 1024 bits. Its minimal form gives 1016 bits, which no 1024-bit key takes.
TEST(RsaDerMinimal, A1016BitModulusIsNotA1024BitKey) {
  rt::Evp evp = rt::openssl_keygen(1016);
  ASSERT_EQ(1016u, rt::evp_bits(evp.get()));
  for (const Format& f : formats_of(evp.get(), 1024)) {
    SCOPED_TRACE(f.name);
    uint32_t bits = 0;
    ASSERT_EQ(0u, f.probe(f.der, &bits));
    EXPECT_EQ(1016u, bits);
    EXPECT_EQ(0x73u, f.read(f.der) & 0xFF);  // modulus length is not the key's

    const uint8_t* p = f.der.data();
    const Node root = parse_one(p, f.der.data() + f.der.size());
    std::vector<const Node*> nodes;
    flatten(root, nodes);
    size_t modulus = 0;
    while (nodes[modulus]->tag != 0x02 || nodes[modulus]->value.size() <= 8) ++modulus;
    ASSERT_EQ(128u, nodes[modulus]->value.size());  // 00 and 127 bytes
    const Bytes padded = encode(root, modulus, Bend::int_zero);  // 00 00 and 127 bytes
    bits = 0;
    EXPECT_NE(0u, f.probe(padded, &bits));
    EXPECT_EQ(0u, bits);
    EXPECT_NE(0u, f.read(padded));
  }
}

// Keys whose components have leading zero bytes (written shorter) and keys of
// every accepted size: the writers' output reads back, and writing the key
// read gives the same bytes.
TEST(RsaDerMinimal, WriterOutputReadsBack) {
  std::vector<std::pair<uint32_t, rt::Components>> keys;
  for (uint32_t bits : {512u, 1024u, 2048u}) {
    rt::Evp evp = rt::openssl_keygen(bits);
    keys.emplace_back(bits, rt::components_of(evp.get(), bits));
  }
  rt::Components shortened = keys[1].second;  // d, dp and qinv shorter than their fields
  shortened.d[0] = 0;
  shortened.dp[0] = shortened.dp[1] = 0;
  std::fill(shortened.qinv.begin(), shortened.qinv.end() - 1, 0);
  keys.emplace_back(1024, shortened);

  auto write = [](const std::function<quarzel_ret_t(uint32_t*, uint8_t*)>& fn) {
    uint32_t len = 0;
    uint8_t probe = 0;
    (void)fn(&len, &probe);
    Bytes out(len);
    EXPECT_EQ(0u, fn(&len, out.data()));
    return out;
  };
  for (const auto& [bits, c] : keys) {
    SCOPED_TRACE(bits);
    PriKey key(bits);
    rt::load_prikey(key, c);
    PubKey pub(bits);
    rt::load_pubkey(pub, c.n, c.e);
    const Bytes pkcs1 = write([&](uint32_t* l, uint8_t* o) { return rsa_prikey_to_pkcs1_der(key.get(), l, o); });
    const Bytes pkcs8 = write([&](uint32_t* l, uint8_t* o) {
      return rsa_prikey_to_pkcs8_der(key.get(), 9, kRsaOid.data(), l, o);
    });
    const Bytes pub1 = write([&](uint32_t* l, uint8_t* o) { return rsa_pubkey_to_pkcs1_der(pub.get(), l, o); });
    const Bytes spki = write([&](uint32_t* l, uint8_t* o) {
      return rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), l, o);
    });
    auto u = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
    uint32_t probed = 0;
    ASSERT_EQ(0u, rsa_pkcs8_prikey_der_get_length(u(pkcs8), pkcs8.data(), &probed));
    EXPECT_EQ(bits, probed);

    PriKey back1(bits), back8(bits);
    ASSERT_EQ(0u, rsa_pkcs1_der_to_prikey(u(pkcs1), pkcs1.data(), back1.get()));
    ASSERT_EQ(0u, rsa_pkcs8_der_to_prikey(u(pkcs8), pkcs8.data(), back8.get(), nullptr, nullptr));
    PubKey pback1(bits), pbackx(bits);
    ASSERT_EQ(0u, rsa_pkcs1_der_to_pubkey(u(pub1), pub1.data(), pback1.get()));
    ASSERT_EQ(0u, rsa_x509_der_to_pubkey(u(spki), spki.data(), pbackx.get(), nullptr, nullptr));

    EXPECT_EQ(c.d, Bytes(back1->d_exponent, back1->d_exponent + bits / 8));
    EXPECT_EQ(c.qinv, Bytes(back8->crt_coefficient, back8->crt_coefficient + bits / 16));
    EXPECT_EQ(pkcs1, write([&](uint32_t* l, uint8_t* o) { return rsa_prikey_to_pkcs1_der(back8.get(), l, o); }));
    EXPECT_EQ(pkcs8, write([&](uint32_t* l, uint8_t* o) {
                return rsa_prikey_to_pkcs8_der(back1.get(), 9, kRsaOid.data(), l, o);
              }));
    EXPECT_EQ(spki, write([&](uint32_t* l, uint8_t* o) {
                return rsa_pubkey_to_x509_der(pback1.get(), 9, kRsaOid.data(), l, o);
              }));
    EXPECT_EQ(pub1, write([&](uint32_t* l, uint8_t* o) { return rsa_pubkey_to_pkcs1_der(pbackx.get(), l, o); }));
  }
}

// A key holding a modulus shorter than its size (a 1016-bit n in a 1024-bit
// key, loaded from a raw blob or by value) has no DER form this reader would
// take back as that key: the writers refuse it.
TEST(RsaDerMinimal, WritersRefuseAModulusShorterThanTheKey) {
  rt::Evp evp = rt::openssl_keygen(1016);
  const rt::Components c = rt::components_of(evp.get(), 1024);
  ASSERT_EQ(0, c.n[0]);
  PriKey key(1024);
  rt::load_prikey(key, c);
  PubKey pub(1024);
  rt::load_pubkey(pub, c.n, c.e);
  Bytes out(2048);
  uint32_t len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(0x0468FF73u, rsa_prikey_to_pkcs1_der(key.get(), &len, out.data()));
  len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(0x0468FF73u, rsa_prikey_to_pkcs8_der(key.get(), 9, kRsaOid.data(), &len, out.data()));
  len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(0x0469FF73u, rsa_pubkey_to_pkcs1_der(pub.get(), &len, out.data()));
  len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(0x0469FF73u, rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), &len, out.data()));
}
