// Published examples (FIPS 180-4 and FIPS 202 example values), the empty
// message and block-boundary lengths, on every block-function path.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "hash_test_util.h"

namespace {

using hash_test::digest_ctx;
using hash_test::digest_onestep;
using hash_test::PortableSha;
using zt::Bytes;

constexpr const char* kMsg448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr const char* kMsg896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

struct KnownAnswer {
  hash_type_t type;
  const char* msg;
  const char* digest;
};
struct MillionA {
  hash_type_t type;
  const char* digest;
};

const KnownAnswer kKnown[] = {
    {HASH_TYPE_SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {HASH_TYPE_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {HASH_TYPE_SHA1, kMsg448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {HASH_TYPE_SHA1, kMsg896, "a49b2446a02c645bf419f995b67091253a04a259"},
    {HASH_TYPE_SHA2_224, "", "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {HASH_TYPE_SHA2_224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {HASH_TYPE_SHA2_224, kMsg448, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {HASH_TYPE_SHA2_224, kMsg896, "c97ca9a559850ce97a04a96def6d99a9e0e0e2ab14e6b8df265fc0b3"},
    {HASH_TYPE_SHA2_256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {HASH_TYPE_SHA2_256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {HASH_TYPE_SHA2_256, kMsg448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {HASH_TYPE_SHA2_256, kMsg896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {HASH_TYPE_SHA2_384, "", "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da"
     "274edebfe76f65fbd51ad2f14898b95b"},
    {HASH_TYPE_SHA2_384, "abc", "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
     "8086072ba1e7cc2358baeca134c825a7"},
    {HASH_TYPE_SHA2_384, kMsg448, "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6"
     "b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {HASH_TYPE_SHA2_384, kMsg896, "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712"
     "fcc7c71a557e2db966c3e9fa91746039"},
    {HASH_TYPE_SHA2_512, "", "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {HASH_TYPE_SHA2_512, "abc", "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {HASH_TYPE_SHA2_512, kMsg448, "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {HASH_TYPE_SHA2_512, kMsg896, "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {HASH_TYPE_SHA2_512_224, "", "6ed0dd02806fa89e25de060c19d3ac86cabb87d6a0ddd05c333b84f4"},
    {HASH_TYPE_SHA2_512_224, "abc", "4634270f707b6a54daae7530460842e20e37ed265ceee9a43e8924aa"},
    {HASH_TYPE_SHA2_512_224, kMsg448, "e5302d6d54bb242275d1e7622d68df6eb02dedd13f564c13dbda2174"},
    {HASH_TYPE_SHA2_512_224, kMsg896, "23fec5bb94d60b23308192640b0c453335d664734fe40e7268674af9"},
    {HASH_TYPE_SHA2_512_256, "", "c672b8d1ef56ed28ab87c3622c5114069bdd3ad7b8f9737498d0c01ecef0967a"},
    {HASH_TYPE_SHA2_512_256, "abc", "53048e2681941ef99b2e29b76b4c7dabe4c2d0c634fc6d46e0e2f13107e7af23"},
    {HASH_TYPE_SHA2_512_256, kMsg448, "bde8e1f9f19bb9fd3406c90ec6bc47bd36d8ada9f11880dbc8a22a7078b6a461"},
    {HASH_TYPE_SHA2_512_256, kMsg896, "3928e184fb8690f840da3988121d31be65cb9d3ef83ee6146feac861e19b563a"},
    {HASH_TYPE_SHA3_224, "", "6b4e03423667dbb73b6e15454f0eb1abd4597f9a1b078e3f5b5a6bc7"},
    {HASH_TYPE_SHA3_224, "abc", "e642824c3f8cf24ad09234ee7d3c766fc9a3a5168d0c94ad73b46fdf"},
    {HASH_TYPE_SHA3_224, kMsg448, "8a24108b154ada21c9fd5574494479ba5c7e7ab76ef264ead0fcce33"},
    {HASH_TYPE_SHA3_224, kMsg896, "543e6868e1666c1a643630df77367ae5a62a85070a51c14cbf665cbc"},
    {HASH_TYPE_SHA3_256, "", "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a"},
    {HASH_TYPE_SHA3_256, "abc", "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532"},
    {HASH_TYPE_SHA3_256, kMsg448, "41c0dba2a9d6240849100376a8235e2c82e1b9998a999e21db32dd97496d3376"},
    {HASH_TYPE_SHA3_256, kMsg896, "916f6061fe879741ca6469b43971dfdb28b1a32dc36cb3254e812be27aad1d18"},
    {HASH_TYPE_SHA3_384, "", "0c63a75b845e4f7d01107d852e4c2485c51a50aaaa94fc61995e71bbee983a2a"
     "c3713831264adb47fb6bd1e058d5f004"},
    {HASH_TYPE_SHA3_384, "abc", "ec01498288516fc926459f58e2c6ad8df9b473cb0fc08c2596da7cf0e49be4b2"
     "98d88cea927ac7f539f1edf228376d25"},
    {HASH_TYPE_SHA3_384, kMsg448, "991c665755eb3a4b6bbdfb75c78a492e8c56a22c5c4d7e429bfdbc32b9d4ad5a"
     "a04a1f076e62fea19eef51acd0657c22"},
    {HASH_TYPE_SHA3_384, kMsg896, "79407d3b5916b59c3e30b09822974791c313fb9ecc849e406f23592d04f625dc"
     "8c709b98b43b3852b337216179aa7fc7"},
    {HASH_TYPE_SHA3_512, "", "a69f73cca23a9ac5c8b567dc185a756e97c982164fe25859e0d1dcc1475c80a6"
     "15b2123af1f5f94c11e3e9402c3ac558f500199d95b6d3e301758586281dcd26"},
    {HASH_TYPE_SHA3_512, "abc", "b751850b1a57168a5693cd924b6b096e08f621827444f70d884f5d0240d2712e"
     "10e116e9192af3c91a7ec57647e3934057340b4cf408d5a56592f8274eec53f0"},
    {HASH_TYPE_SHA3_512, kMsg448, "04a371e84ecfb5b8b77cb48610fca8182dd457ce6f326a0fd3d7ec2f1e91636d"
     "ee691fbe0c985302ba1b0d8dc78c086346b533b49c030d99a27daf1139d6e75e"},
    {HASH_TYPE_SHA3_512, kMsg896, "afebb2ef542e6579c50cad06d2e578f9f8dd6881d7dc824d26360feebf18a4fa"
     "73e3261122948efcfd492e74e82e2189ed0fb440d187f382270cb455f21dd185"},
};

const MillionA kMillionA[] = {
    {HASH_TYPE_SHA1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {HASH_TYPE_SHA2_224, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {HASH_TYPE_SHA2_256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {HASH_TYPE_SHA2_384, "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b"
     "07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {HASH_TYPE_SHA2_512, "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    {HASH_TYPE_SHA2_512_224, "37ab331d76f0d36de422bd0edeb22a28accd487b7a8453ae965dd287"},
    {HASH_TYPE_SHA2_512_256, "9a59a052930187a97038cae692f30708aa6491923ef5194394dc68d56c74fb21"},
    {HASH_TYPE_SHA3_224, "d69335b93325192e516a912e6d19a15cb51c6ed5c15243e7a7fd653c"},
    {HASH_TYPE_SHA3_256, "5c8875ae474a3634ba4fd55ec85bffd661f32aca75c6d699d0cdcb6c115891c1"},
    {HASH_TYPE_SHA3_384, "eee9e24d78c1855337983451df97c8ad9eedf256c6334f8e948d252d5e0e7684"
     "7aa0774ddb90a842190d2c558b4b8340"},
    {HASH_TYPE_SHA3_512, "3c3a876da14034ab60627c077bb98f7e120a2a5370212dffb3385a18d4f38859"
     "ed311d0a9d5141ce9cc5c66ee689b266a8aa18ace8282a0e0db596c90b0a7b87"},
};

// true: force the portable SHA-1/SHA-256 code; false: the CPU's best path.
class HashVectors : public ::testing::TestWithParam<bool> {
 protected:
  PortableSha path_{GetParam()};
};

TEST_P(HashVectors, KnownAnswersContextAndOnestep) {
  for (const auto& k : kKnown) {
    SCOPED_TRACE(::testing::Message() << "type " << k.type << " msg \"" << k.msg << "\"");
    const Bytes msg = zt::ascii(k.msg);
    EXPECT_EQ(zt::hex(digest_ctx(k.type, msg)), k.digest);
    EXPECT_EQ(zt::hex(digest_onestep(k.type, msg)), k.digest);
    // Byte by byte and in odd pieces.
    EXPECT_EQ(zt::hex(digest_ctx(k.type, msg, std::vector<size_t>(msg.size(), 1))), k.digest);
    EXPECT_EQ(zt::hex(digest_ctx(k.type, msg, {3, 0, 7, 50, 1})), k.digest);
  }
}

TEST_P(HashVectors, MillionA) {
  const Bytes msg(1000000, 'a');
  for (const auto& k : kMillionA) {
    SCOPED_TRACE(::testing::Message() << "type " << k.type);
    EXPECT_EQ(zt::hex(digest_ctx(k.type, msg, {1, 999, 64 * 1000 + 3})), k.digest);
  }
}

TEST_P(HashVectors, ShakeAndKeccakOfEmptyMessage) {
  const Bytes empty;
  EXPECT_EQ(zt::hex(digest_ctx(HASH_TYPE_SHAKE128, empty)),
            "7f9c2ba4e88f827d616045507605853ed73b8093f6efbc88eb1a6eacfa66ef26");
  EXPECT_EQ(zt::hex(digest_ctx(HASH_TYPE_SHAKE256, empty)),
            "46b9dd2b0ba88d13233b3feb743eeb243fcd52ea62b81b82b50c27646ed5762f"
            "d75dc4ddd8c0f200cb05019d67b592f6fc821c49479ab48640292eacb3b7c4be");
  // Keccak-256 (padding 0x01) differs from SHA3-256 of the same message.
  EXPECT_EQ(zt::hex(digest_ctx(HASH_TYPE_KECCAK_256, empty)),
            "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470");
  EXPECT_EQ(zt::hex(digest_ctx(HASH_TYPE_KECCAK_256, zt::ascii("abc"))),
            "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45");
}

// FIPS 202 example values for the 1600-bit message of bytes 0xA3 (longer
// than every rate: several blocks absorbed, SHAKE squeezed past one block).
TEST_P(HashVectors, Fips202Examples1600Bits) {
  const Bytes msg(200, 0xA3);
  const struct {
    hash_type_t type;
    uint32_t len;
    const char* digest;
  } cases[] = {
      {HASH_TYPE_SHA3_224, 28, "9376816aba503f72f96ce7eb65ac095deee3be4bf9bbc2a1cb7e11e0"},
      {HASH_TYPE_SHA3_256, 32, "79f38adec5c20307a98ef76e8324afbfd46cfd81b22e3973c65fa1bd9de31787"},
      {HASH_TYPE_SHA3_384, 48,
       "1881de2ca7e41ef95dc4732b8f5f002b189cc1e42b74168ed1732649ce1dbcdd76197a31fd55ee989f2d7050dd473e8f"},
      {HASH_TYPE_SHA3_512, 64,
       "e76dfad22084a8b1467fcf2ffa58361bec7628edf5f3fdc0e4805dc48caeeca8"
       "1b7c13c30adf52a3659584739a2df46be589c51ca1a4a8416df6545a1ce8ba00"},
      {HASH_TYPE_SHAKE128, 64,
       "131ab8d2b594946b9c81333f9bb6e0ce75c3b93104fa3469d3917457385da037"
       "cf232ef7164a6d1eb448c8908186ad852d3f85a5cf28da1ab6fe343817197846"},
      {HASH_TYPE_SHAKE256, 64,
       "cd8a920ed141aa0407a22d59288652e9d9f1a7ee0c1e7c1ca699424da84a904d"
       "2d700caae7396ece96604440577da4f3aa22aeb8857f961c4cd8e06f0ae6610b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type);
    EXPECT_EQ(zt::hex(digest_onestep(c.type, msg, c.len)), c.digest);
    EXPECT_EQ(zt::hex(digest_ctx(c.type, msg, {1, 135, 1})).substr(0, 2 * std::min<size_t>(c.len, 32)),
              std::string(c.digest).substr(0, 2 * std::min<size_t>(c.len, 32)));
  }
}

// Lengths on both sides of every padding and block boundary: one update, byte
// by byte, uneven pieces and the one-shot path agree. (The oracle test checks
// the values themselves.)
TEST_P(HashVectors, BlockBoundariesAgreeAcrossFeeds) {
  for (const auto& t : hash_test::all_types()) {
    const size_t b = t.block;
    std::vector<size_t> lens = {0, 1, b - 1, b, b + 1, 2 * b - 1, 2 * b, 2 * b + 1, 3 * b};
    if (b == 64) lens.insert(lens.end(), {55, 56, 57, 119, 120});
    if (b == 128) lens.insert(lens.end(), {111, 112, 113, 239, 240});
    for (size_t len : lens) {
      SCOPED_TRACE(::testing::Message() << t.name << " len " << len);
      Bytes msg(len);
      for (size_t i = 0; i < len; ++i) msg[i] = static_cast<uint8_t>(i * 7 + len);
      const Bytes whole = digest_ctx(t.type, msg);
      ASSERT_EQ(whole.size(), t.digest);
      EXPECT_EQ(digest_ctx(t.type, msg, std::vector<size_t>(len, 1)), whole);
      EXPECT_EQ(digest_ctx(t.type, msg, {b - 1, 2, b}), whole);
      EXPECT_EQ(digest_onestep(t.type, msg, t.digest), whole);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, HashVectors, ::testing::Values(false, true), hash_test::path_name);

// Whether the kernel reports the SHA extensions: an opinion independent of
// the library's own detection.
bool kernel_reports_sha_ni() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("flags", 0) == 0) return (line + " ").find(" sha_ni ") != std::string::npos;
  return false;
}

TEST(ShaPaths, ShaExtensionsRunWhereTheCpuHasThem) {
  if (!kernel_reports_sha_ni()) GTEST_SKIP() << "this CPU has no SHA extensions";
  // Contexts must bind the SHA-NI block functions, and the test seam must
  // switch them off for contexts initialised while it is set.
  ASSERT_TRUE(quarzel::cpu_has_sha_ni());
  for (hash_type_t type : {HASH_TYPE_SHA1, HASH_TYPE_SHA2_224, HASH_TYPE_SHA2_256}) {
    hash_ctx_t native, portable;
    ASSERT_EQ(hash_init(&native, type), 0u);
    {
      PortableSha force(true);
      ASSERT_EQ(hash_init(&portable, type), 0u);
    }
    EXPECT_EQ(quarzel::sha_impl_of(native), quarzel::ShaImpl::sha_ni) << type;
    EXPECT_EQ(quarzel::sha_impl_of(portable), quarzel::ShaImpl::portable) << type;
    // Each keeps its choice after the seam changes.
    const Bytes msg(1000, 0x5A);
    ASSERT_EQ(hash_update(&native, 1000, msg.data()), 0u);
    ASSERT_EQ(hash_update(&portable, 1000, msg.data()), 0u);
    EXPECT_EQ(quarzel::sha_impl_of(portable), quarzel::ShaImpl::portable) << type;
    uint8_t a[32], b[32];
    uint32_t na = 32, nb = 32;
    ASSERT_EQ(hash_final(&native, &na, a), 0u);
    ASSERT_EQ(hash_final(&portable, &nb, b), 0u);
    EXPECT_EQ(Bytes(a, a + na), Bytes(b, b + nb)) << type;
  }
}

TEST(ShaPaths, BothPathsAgreeOnLongRandomInput) {
  Bytes msg(64 * 40 + 17);
  uint32_t x = 12345;
  for (auto& b : msg) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  for (hash_type_t type : {HASH_TYPE_SHA1, HASH_TYPE_SHA2_224, HASH_TYPE_SHA2_256}) {
    const Bytes native = digest_ctx(type, msg, {5, 64, 200});
    PortableSha portable(true);
    EXPECT_EQ(digest_ctx(type, msg, {5, 64, 200}), native) << type;
  }
}

}  // namespace
