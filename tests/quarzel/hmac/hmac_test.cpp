// HMAC: RFC 4231 vectors, key handling and the API's contract.
#include <gtest/gtest.h>

#include <cstring>

#include "quarzel/hmac.h"
#include "quarzel/testing.h"
#include "support/hex.h"

namespace {



using zt::Bytes;

Bytes mac_of(hash_type_t type, const Bytes& key, const Bytes& data, uint32_t want = 64) {
  Bytes out(64);
  uint32_t n = want;
  EXPECT_EQ(hmac_onestep(type, static_cast<uint32_t>(key.size()), key.data(), static_cast<uint32_t>(data.size()),
                         data.data(), &n, out.data()),
            0u);
  out.resize(n);
  return out;
}

struct Rfc4231 {
  const char* key;
  const char* data;
  uint32_t mac_len;  // bytes compared (case 5 truncates to 128 bits)
  const char* sha224;
  const char* sha256;
  const char* sha384;
  const char* sha512;
};

// RFC 4231 section 4, test cases 1-7.
const Rfc4231 kRfc4231[] = {
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265", 64,
     "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22",
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
     "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
     "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f170"
     "2e696c203a126854"},
    {"4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f", 64,
     "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
     "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
     "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b"
     "636e070a38bce737"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd", 64,
     "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea",
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
     "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
     "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee89426"
     "74278859e13292fb"},
    {"0102030405060708090a0b0c0d0e0f10111213141516171819",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd", 64,
     "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
     "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
     "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2d"
     "e2adebeb10a298dd"},
    {"0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c", "546573742057697468205472756e636174696f6e", 16,
     "0e2aea68a90c8d37c988bcdb9fca6fa8", "a3b6167473100ee06e0c796c2955552b", "3abf34c3503b2a23a46efc619baef897",
     "415fad6271580a531d4179bc891d87a6"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b6579204669727374",
     64, "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
     "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
     "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec"
     "8b915a985d786598"},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "5468697320697320612074657374207573696e672061206c6172676572207468616e20626c6f636b2d73697a65206b657920616e642061"
     "206c6172676572207468616e20626c6f636b2d73697a6520646174612e20546865206b6579206e6565647320746f20626520686173686564"
     "206265666f7265206265696e6720757365642062792074686520484d414320616c676f726974686d2e",
     64, "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1",
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
     "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
     "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de04460"
     "65c97440fa8c6a58"},
};

TEST(Hmac, Rfc4231) {
  for (size_t i = 0; i < std::size(kRfc4231); ++i) {
    const auto& v = kRfc4231[i];
    SCOPED_TRACE(::testing::Message() << "RFC 4231 case " << i + 1);
    const Bytes key = zt::unhex(v.key), data = zt::unhex(v.data);
    EXPECT_EQ(zt::hex(mac_of(HASH_TYPE_SHA2_224, key, data, v.mac_len)), v.sha224);
    EXPECT_EQ(zt::hex(mac_of(HASH_TYPE_SHA2_256, key, data, v.mac_len)), v.sha256);
    EXPECT_EQ(zt::hex(mac_of(HASH_TYPE_SHA2_384, key, data, v.mac_len)), v.sha384);
    EXPECT_EQ(zt::hex(mac_of(HASH_TYPE_SHA2_512, key, data, v.mac_len)), v.sha512);
  }
}

TEST(Hmac, KeyUpToBlockIsUsedAsIsLongerIsHashed) {
  // A 64-byte key sits in the key block unchanged; a 65-byte one is replaced
  // by its SHA-256 digest, so HMAC(k65) == HMAC(SHA-256(k65)).
  hmac_ctx_t ctx;
  Bytes k64(64), k65(65);
  for (size_t i = 0; i < 64; ++i) k64[i] = static_cast<uint8_t>(i + 1);
  for (size_t i = 0; i < 65; ++i) k65[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 64, k64.data()), 0u);
  EXPECT_EQ(Bytes(ctx.hotkey, ctx.hotkey + 64), k64);
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 65, k65.data()), 0u);
  uint8_t h[32];
  uint32_t n = 32;
  ASSERT_EQ(hash_onestep(HASH_TYPE_SHA2_256, 65, k65.data(), &n, h), 0u);
  EXPECT_EQ(Bytes(ctx.hotkey, ctx.hotkey + 32), Bytes(h, h + 32));
  EXPECT_EQ(Bytes(ctx.hotkey + 32, ctx.hotkey + HMAC_MAX_BLOCK_SIZE), Bytes(HMAC_MAX_BLOCK_SIZE - 32, 0));
  const Bytes data = zt::ascii("data");
  EXPECT_EQ(mac_of(HASH_TYPE_SHA2_256, k65, data), mac_of(HASH_TYPE_SHA2_256, Bytes(h, h + 32), data));
}

TEST(Hmac, Sha3_224UsesTheFull144ByteBlock) {
  // Keys of 144 bytes are used as they are (different MACs for keys that
  // differ only in byte 143); 145 bytes get hashed.
  Bytes k1(144, 0x11), k2(144, 0x11);
  k2[143] = 0x12;
  const Bytes data = zt::ascii("msg");
  EXPECT_NE(mac_of(HASH_TYPE_SHA3_224, k1, data), mac_of(HASH_TYPE_SHA3_224, k2, data));
  hmac_ctx_t ctx;
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA3_224, 144, k2.data()), 0u);
  EXPECT_EQ(Bytes(ctx.hotkey, ctx.hotkey + 144), k2);
  EXPECT_EQ(ctx.hash_ctx.block_size, 144u);
}

TEST(Hmac, EmptyKeyWithNullPointer) {
  uint8_t mac[32];
  uint32_t n = 32;
  ASSERT_EQ(hmac_onestep(HASH_TYPE_SHA2_256, 0, nullptr, 0, nullptr, &n, mac), 0u);
  // HMAC-SHA-256 with an empty key of the empty message.
  EXPECT_EQ(zt::hex(mac, 32), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(Hmac, TruncationAndLengthByPointer) {
  const Bytes key = zt::ascii("key"), data = zt::ascii("The quick brown fox jumps over the lazy dog");
  const Bytes full = mac_of(HASH_TYPE_SHA2_256, key, data, 32);
  ASSERT_EQ(zt::hex(full), "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
  uint8_t mac[100];
  std::memset(mac, 0xEE, sizeof mac);
  uint32_t n = 16;
  ASSERT_EQ(hmac_onestep(HASH_TYPE_SHA2_256, 3, key.data(), static_cast<uint32_t>(data.size()), data.data(), &n, mac),
            0u);
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(Bytes(mac, mac + 16), Bytes(full.begin(), full.begin() + 16));
  EXPECT_EQ(mac[16], 0xEE);
  n = 100;
  ASSERT_EQ(hmac_onestep(HASH_TYPE_SHA2_256, 3, key.data(), static_cast<uint32_t>(data.size()), data.data(), &n, mac),
            0u);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(mac[32], 0xEE);
  n = 0;
  EXPECT_EQ(hmac_onestep(HASH_TYPE_SHA2_256, 3, key.data(), 0, nullptr, &n, mac), 0u);
  EXPECT_EQ(n, 0u);
}

TEST(Hmac, StatesAndStickyErrors) {
  hmac_ctx_t ctx;
  std::memset(&ctx, 0, sizeof ctx);
  uint8_t mac[64] = {};
  uint32_t n = 64;
  EXPECT_EQ(hmac_update(&ctx, 1, mac), 0x0605FF08u);  // never initialised
  EXPECT_EQ(ctx.state, HMAC_STATE_ERROR);
  EXPECT_EQ(hmac_final(&ctx, &n, mac), 0x0606FF08u);

  const Bytes key = zt::ascii("k");
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA1, 1, key.data()), 0u);
  EXPECT_EQ(ctx.state, HMAC_STATE_INITIALISED);
  ASSERT_EQ(hmac_update(&ctx, 1, key.data()), 0u);
  EXPECT_EQ(ctx.state, HMAC_STATE_UPDATING);
  ASSERT_EQ(hmac_final(&ctx, &n, mac), 0u);
  EXPECT_EQ(ctx.state, HMAC_STATE_FINAL);
  EXPECT_EQ(hmac_update(&ctx, 1, key.data()), 0x0605FF08u);
  EXPECT_EQ(ctx.state, HMAC_STATE_ERROR);
  n = 64;
  EXPECT_EQ(hmac_final(&ctx, &n, mac), 0x0606FF08u);
  // init with the key again gives a working context.
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA1, 1, key.data()), 0u);
  n = 64;
  ASSERT_EQ(hmac_final(&ctx, &n, mac), 0u);
  EXPECT_EQ(n, 20u);
}

TEST(Hmac, RefusedHashTypes) {
  hmac_ctx_t ctx;
  for (uint32_t t : {uint32_t{HASH_TYPE_SHAKE128}, uint32_t{HASH_TYPE_SHAKE256}, uint32_t{HASH_TYPE_RIPEMD},
                     uint32_t{HASH_TYPE_UNDEFINED}, 255u, 5u, 0x1000009u}) {
    ctx.state = HMAC_STATE_INITIALISED;
    EXPECT_EQ(hmac_init(&ctx, static_cast<hash_type_t>(t), 0, nullptr), 0x0604FF53u) << t;
    EXPECT_EQ(ctx.state, HMAC_STATE_ERROR);
  }
}

TEST(Hmac, NullArguments) {
  hmac_ctx_t ctx;
  uint8_t mac[32];
  uint32_t n = 32;
  EXPECT_EQ(hmac_init(nullptr, HASH_TYPE_SHA2_256, 0, nullptr), 0x0604FF05u);
  EXPECT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 4, nullptr), 0x0604FF05u);
  EXPECT_EQ(ctx.state, HMAC_STATE_ERROR);
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 0, nullptr), 0u);
  EXPECT_EQ(hmac_update(&ctx, 4, nullptr), 0x0605FF05u);
  EXPECT_EQ(ctx.state, HMAC_STATE_ERROR);
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 0, nullptr), 0u);
  EXPECT_EQ(hmac_final(&ctx, nullptr, mac), 0x0606FF05u);
  ASSERT_EQ(hmac_init(&ctx, HASH_TYPE_SHA2_256, 0, nullptr), 0u);
  EXPECT_EQ(hmac_final(&ctx, &n, nullptr), 0x0606FF05u);
  EXPECT_EQ(hmac_keygen(nullptr, mac), 0x0601FF05u);
}

uint32_t failing_source(uint8_t*, uint32_t) { return 1; }
uint32_t counting_source(uint8_t* d, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(i);
  return 0;
}

TEST(HmacKeygen, FillsFromTheRandomSource) {
  uint8_t key[40];
  std::memset(key, 0xEE, sizeof key);
  const uint32_t len = 33;
  quarzel::testing::set_random_source(&counting_source);
  EXPECT_EQ(hmac_keygen(&len, key), 0u);
  quarzel::testing::set_random_source(&failing_source);
  uint8_t other[4];
  const uint32_t four = 4;
  EXPECT_EQ(hmac_keygen(&four, other), 0x0601FF04u);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_EQ(key[0], 0);
  EXPECT_EQ(key[32], 32);
  EXPECT_EQ(key[33], 0xEE);
  EXPECT_EQ(len, 33u);
}

}  // namespace
