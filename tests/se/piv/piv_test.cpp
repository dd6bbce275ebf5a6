// PIV session set-up against a scripted card: the card's key pair is made
// with OpenSSL, its derivation and cryptogram computed independently with
// Python's `cryptography` (SP 800-56A concatenation KDF, AES-CMAC).
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "se/channel.h"
#include "se/piv.h"
#include "se/secure/card_side.h"
#include "se/secure_channel.h"
#include "support/hex.h"
#include "support/oracle.h"

namespace {

using zt::Bytes;
using zt::unhex;

constexpr uint32_t kHandle = 0x0BADCAFE;

// A P-256 card key made by OpenSSL: the private scalar and X | Y.
struct CardKey {
  Bytes d = Bytes(32), q = Bytes(64);
  CardKey() {
    EVP_PKEY* k = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    BIGNUM* bn = nullptr;
    uint8_t pub[65];
    size_t n = 0;
    if (k == nullptr || EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, &bn) != 1 ||
        BN_bn2binpad(bn, d.data(), 32) != 32 ||
        EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, pub, sizeof pub, &n) != 1 || n != 65)
      throw std::runtime_error("card key");
    std::memcpy(q.data(), pub + 1, 64);
    BN_clear_free(bn);
    EVP_PKEY_free(k);
  }
};

// What the card computes, by the oracle.
struct CardView {
  Bytes keys, cryptogram, other_info;
};

CardView oracle(const CardKey& card, const Bytes& qeh, const Bytes& idsh, const Bytes& nicc, const CVC_t& cvc) {
  const std::string out = zt::run_python(
      "import sys\n"
      "from cryptography.hazmat.primitives.asymmetric import ec\n"
      "from cryptography.hazmat.primitives import hashes, cmac\n"
      "from cryptography.hazmat.primitives.ciphers import algorithms\n"
      "from cryptography.hazmat.primitives.kdf.concatkdf import ConcatKDFHash\n"
      "d, qeh, idsh, nicc, cvc = [bytes.fromhex(x) for x in sys.stdin.read().split()]\n"
      "priv = ec.derive_private_key(int.from_bytes(d, 'big'), ec.SECP256R1())\n"
      "pub = ec.EllipticCurvePublicNumbers(int.from_bytes(qeh[:32], 'big'), int.from_bytes(qeh[32:], 'big'),\n"
      "                                    ec.SECP256R1()).public_key()\n"
      "z = priv.exchange(ec.ECDH(), pub)\n"
      "h = hashes.Hash(hashes.SHA256()); h.update(cvc); idsicc = h.finalize()[:8]\n"
      "other = bytes([4, 9, 9, 9, 9, 8]) + idsh + bytes([1, 0, 0x10]) + qeh[:16] + bytes([8]) + idsicc \\\n"
      "        + bytes([0x10]) + nicc + bytes([1, 0])\n"
      "k = ConcatKDFHash(algorithm=hashes.SHA256(), length=64, otherinfo=other).derive(z)\n"
      "c = cmac.CMAC(algorithms.AES(k[:16])); c.update(b'KC_1_V' + idsicc + idsh + qeh)\n"
      "print(k.hex(), c.finalize().hex(), other.hex())\n",
      zt::hex(card.d) + " " + zt::hex(qeh) + " " + zt::hex(idsh) + " " + zt::hex(nicc) + " " +
          zt::hex(reinterpret_cast<const uint8_t*>(&cvc), sizeof cvc));
  std::istringstream in(out);
  std::string k, c, o;
  in >> k >> c >> o;
  return {unhex(k), unhex(c), unhex(o)};
}

class Piv : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sdb_init(), 0u);
    RAND_bytes(nicc, sizeof nicc);
    std::memset(&cvc, 0, sizeof cvc);
    cvc.CPID = 0x80;
    std::memcpy(cvc.IIN, "ZEBCARD1", 8);
    cvc.CHPK.publicKeyObjectLength = 64;
    std::memcpy(cvc.CHPK.publicKeyObject, card.q.data(), 64);
  }

  // H1-H3 with the host identifier `id`.
  void prepare(const Bytes& id) {
    Bytes copy = id;
    tlv_id = ZEB_TLV{TAG_SC2_HOST_ID_T, static_cast<uint16_t>(copy.size()), copy.data()};
    ASSERT_EQ(prepare_sess_internal_state(&tlv_cbh, &tlv_id, &tlv_key), 0u);
  }
  Bytes qeh() const { return Bytes(QeH, QeH + 64); }
  Bytes idsh() const { return Bytes(IDSH, IDSH + 8); }

  CardKey card;
  CVC_t cvc{};
  uint8_t nicc[16];
  ZEB_TLV tlv_cbh{}, tlv_id{}, tlv_key{};
};

TEST_F(Piv, FullSetUpAgainstTheOracle) {
  prepare(unhex("0102030405060708"));
  EXPECT_EQ(int{tlv_cbh.tag}, TAG_UINT8_T);
  EXPECT_EQ(int{tlv_cbh.length}, 1);
  EXPECT_EQ(static_cast<void*>(tlv_cbh.value), static_cast<void*>(&CBH));
  EXPECT_EQ(int{tlv_id.tag}, TAG_SC2_HOST_ID_T);
  EXPECT_EQ(int{tlv_id.length}, 8);
  EXPECT_EQ(static_cast<void*>(tlv_id.value), static_cast<void*>(IDSH));
  EXPECT_EQ(int{tlv_key.tag}, TAG_SC2_PUB_KEY_T);
  EXPECT_EQ(int{tlv_key.length}, 64);
  EXPECT_EQ(static_cast<void*>(tlv_key.value), static_cast<void*>(QeH));
  EXPECT_EQ(CBH, 0);

  const CardView view = oracle(card, qeh(), idsh(), Bytes(nicc, nicc + 16), cvc);
  ASSERT_EQ(view.keys.size(), 64u);
  // OtherInfo as the host builds it.
  uint8_t ids_icc[8];
  ASSERT_EQ(step_H6(&cvc, ids_icc), 0u);
  uint8_t other[PIV_OTHER_INFO_LEN];
  fill_other_info(IDSH, CBH, QeH, ids_icc, nicc, 0, other);
  EXPECT_EQ(zt::hex(other, sizeof other), zt::hex(view.other_info));

  ASSERT_EQ(piv_open_session(0, nicc, view.cryptogram.data(), &cvc, kHandle), 0u);
  const session_ctx_t* s = sdb_sess_hdle_to_sess(kHandle);
  ASSERT_NE(s, nullptr);
  // SKcfrm | SKmac | SKenc | SKrmac.
  EXPECT_EQ(zt::hex(s->enckey, 16), zt::hex(view.keys.data() + 32, 16));
  EXPECT_EQ(zt::hex(s->mackey.CS2.cmd_mackey, 16), zt::hex(view.keys.data() + 16, 16));
  EXPECT_EQ(zt::hex(s->mackey.CS2.rsp_mackey, 16), zt::hex(view.keys.data() + 48, 16));
  EXPECT_EQ(zt::hex(s->enckey + 16, 48), std::string(96, '0'));
  EXPECT_EQ(zt::hex(s->counter, 16), "80000000000000000000000000000001");
  EXPECT_EQ(zt::hex(s->checksum, 16), std::string(32, '0'));
  EXPECT_EQ(s->cipher_suite, SC_PIV_CS2);
  EXPECT_EQ(s->state, 0x20);
  EXPECT_EQ(zt::hex(s->app_id, 4), "01020304");
  EXPECT_EQ(zt::hex(deH, 32), std::string(64, '0')) << "the ephemeral key is wiped";

  // The session carries a protected command to the card and back.
  sct::CardSide side;
  std::memcpy(side.keys.enc, view.keys.data() + 32, 16);
  std::memcpy(side.keys.cmd_mac, view.keys.data() + 16, 16);
  std::memcpy(side.keys.rsp_mac, view.keys.data() + 48, 16);
  sct::increment(side.counter);
  se_device_t dev{};
  auto t = std::make_unique<sct::CardTransport>(&side);
  sct::CardTransport* card_t = t.get();
  ASSERT_EQ(trix::attach(&dev, std::move(t)), 0);
  se_cmd_t cmd;
  se_cmd_init(&cmd, 0xA4, 0x01);
  cmd.host_dly = 0;
  const uint32_t h = kHandle;
  std::memcpy(gl_mw_cdata, &h, 4);
  std::memcpy(gl_mw_cdata + 4, "hello card", 10);
  cmd.inbuf = gl_mw_cdata;
  cmd.inbuf_len = 14;
  se_cmd_rsp_t rsp{};
  EXPECT_EQ(transport_normal_cmd_v2(&dev, &cmd, &rsp), 0);
  EXPECT_EQ(std::string(card_t->last_plain.begin(), card_t->last_plain.end()), "hello card");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rsp.buf), rsp.buf_len), "hello card");
  (void)trix::detach(&dev);
}

TEST_F(Piv, WrongCryptogramIsRefused) {
  prepare(unhex("0102030405060708"));
  const CardView view = oracle(card, qeh(), idsh(), Bytes(nicc, nicc + 16), cvc);
  struct Case {
    const char* what;
    Bytes cryptogram;
  } cases[] = {
      {"one bit off", view.cryptogram},
      // The former check: the confirmation key itself.
      {"the confirmation key", Bytes(view.keys.begin(), view.keys.begin() + 16)},
  };
  cases[0].cryptogram[15] ^= 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    prepare(unhex("0102030405060708"));
    EXPECT_EQ(piv_open_session(0, nicc, c.cryptogram.data(), &cvc, kHandle), PIV_ERR_REFUSED);
    EXPECT_EQ(sdb_check_session_exist(kHandle), SDB_ERR_NO_SESSION);
    EXPECT_EQ(zt::hex(deH, 32), std::string(64, '0'));
  }
}

TEST_F(Piv, CardDataRefused) {
  prepare(unhex("0102030405060708"));
  const uint8_t crypt[16] = {};
  // A card control byte other than 0, before any other work.
  EXPECT_EQ(piv_open_session(1, nicc, crypt, &cvc, kHandle), PIV_ERR_REFUSED);
  EXPECT_EQ(zt::hex(deH, 32), std::string(64, '0'));
  // A certificate key off the curve.
  prepare(unhex("0102030405060708"));
  cvc.CHPK.publicKeyObject[63] ^= 1;
  const uint32_t rv = piv_open_session(0, nicc, crypt, &cvc, kHandle);
  EXPECT_NE(rv, 0u);
  EXPECT_EQ(rv, PIV_ERR_REFUSED);
  EXPECT_EQ(sdb_check_session_exist(kHandle), SDB_ERR_NO_SESSION);
  EXPECT_EQ(step_H5(&cvc), PIV_ERR_REFUSED);
}

TEST_F(Piv, HostIdentifier) {
  // Shorter: padded with zeros.
  prepare(unhex("a1a2a3a4"));
  EXPECT_EQ(zt::hex(IDSH, 8), "a1a2a3a400000000");
  // Longer than 8 bytes: refused, not turned into a zero identifier.
  Bytes nine = unhex("010203040506070809");
  ZEB_TLV id = {TAG_SC2_HOST_ID_T, 9, nine.data()};
  testing::internal::CaptureStderr();
  EXPECT_EQ(prepare_sess_internal_state(&tlv_cbh, &id, &tlv_key), SE_ERR_SERIALIZER);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("tarvin: abort memcpy due to buffer overflow!"), std::string::npos) << out;
  EXPECT_EQ(int{id.length}, 9) << "the records are left as they were";
}

TEST(PivOtherInfo, Layout) {
  const Bytes idsh = unhex("0102030405060708"), icc = unhex("a0a1a2a3a4a5a6a7");
  Bytes q(64), nonce(16);
  for (int i = 0; i < 64; ++i) q[i] = static_cast<uint8_t>(0xC0 + i);
  for (int i = 0; i < 16; ++i) nonce[i] = static_cast<uint8_t>(0x50 + i);
  uint8_t other[PIV_OTHER_INFO_LEN];
  fill_other_info(idsh.data(), 0, q.data(), icc.data(), nonce.data(), 0, other);
  EXPECT_EQ(zt::hex(other, sizeof other),
            "04090909090801020304050607080100"
            "10c0c1c2c3c4c5c6c7c8c9cacbcccdcecf"
            "08a0a1a2a3a4a5a6a7"
            "10505152535455565758595a5b5c5d5e5f"
            "0100");
}

TEST_F(Piv, SlotClaims) {
  // No free slot: an error, not keys stored nowhere.
  for (uint32_t i = 0; i < SDB_SESSIONS; ++i) ASSERT_EQ(sdb_fill_sess_handle_and_appid(500 + i, 0), 0u);
  prepare(unhex("0102030405060708"));
  CardView view = oracle(card, qeh(), idsh(), Bytes(nicc, nicc + 16), cvc);
  EXPECT_EQ(piv_open_session(0, nicc, view.cryptogram.data(), &cvc, kHandle), SDB_ERR_NO_FREE_SLOT);
  // The free-slot marker is no handle.
  ASSERT_EQ(sdb_release_sess(500), 0u);
  prepare(unhex("0102030405060708"));
  view = oracle(card, qeh(), idsh(), Bytes(nicc, nicc + 16), cvc);
  EXPECT_EQ(piv_open_session(0, nicc, view.cryptogram.data(), &cvc, SDB_FREE_HANDLE), SDB_ERR_HANDLE_IN_USE);
  // A handle set up again gets a fresh session in its slot.
  ASSERT_EQ(sdb_release_sess(501), 0u);
  for (int round = 0; round < 2; ++round) {
    prepare(unhex("0102030405060708"));
    view = oracle(card, qeh(), idsh(), Bytes(nicc, nicc + 16), cvc);
    ASSERT_EQ(piv_open_session(0, nicc, view.cryptogram.data(), &cvc, kHandle), 0u);
    const session_ctx_t* s = sdb_sess_hdle_to_sess(kHandle);
    EXPECT_EQ(zt::hex(s->counter, 16), "80000000000000000000000000000001");
    EXPECT_EQ(zt::hex(s->enckey, 16), zt::hex(view.keys.data() + 32, 16));
    uint8_t block[16] = {};
    uint16_t n = 0;
    ASSERT_EQ(sdb_enc_payload(kHandle, 16, block, &n, block), 0u);  // the session is used
  }
}

// NIST SP 800-38B / RFC 4493 examples.
TEST(Cmac, Rfc4493) {
  const Bytes key = unhex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes msg = unhex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  struct Case {
    size_t len;
    const char* tag;
  } cases[] = {{0, "bb1d6929e95937287fa37d129b756746"},
               {16, "070a16b46b4d4144f79bdd9dd04a287c"},
               {40, "dfa66747de9ae63030ca32611497c827"},
               {64, "51f0bebf7e3b9d92fc49741779363cfe"}};
  for (const Case& c : cases) {
    uint8_t tag[16];
    ASSERT_EQ(aes128_cmac(key.data(), msg.data(), c.len, tag), 0u);
    EXPECT_EQ(zt::hex(tag, 16), c.tag) << c.len;
  }
}

}  // namespace
