// AES ECB and CBC-PAD through the module against OpenSSL, in one call and in
// random parts with every length query honoured, up to a mebibyte; Wycheproof
// aes_cbc_pkcs5; the length convention of the finals; refusals and failures.
// Run a second time on the secure-element test bed (ZEB_TESTBED).
#include <openssl/evp.h>

#include <functional>

#include "crypto_fixture.h"
#include "keys.h"
#include "support/vectors.h"

namespace zt {
namespace {

Bytes openssl_aes(bool cbc, bool enc, const Bytes& key, const Bytes& iv, const Bytes& in) {
  const EVP_CIPHER* c = nullptr;
  switch (key.size()) {
    case 16:
      c = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
      break;
    case 24:
      c = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
      break;
    default:
      c = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, c, nullptr, key.data(), cbc ? iv.data() : nullptr, enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, cbc ? 1 : 0);
  Bytes out(in.size() + 32);
  int n = 0;
  int m = 0;
  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

class Aes : public CryptoTest {
 protected:
  CK_RV init(bool enc, CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k, Bytes* iv = nullptr) {
    CK_MECHANISM mech{m, iv ? iv->data() : nullptr, iv ? iv->size() : 0};
    return enc ? p11->C_EncryptInit(s, &mech, k) : p11->C_DecryptInit(s, &mech, k);
  }
  CK_RV one(bool enc, Bytes& in, CK_BYTE_PTR out, CK_ULONG* len) {
    return enc ? p11->C_Encrypt(s, bp(in), in.size(), out, len) : p11->C_Decrypt(s, bp(in), in.size(), out, len);
  }
  CK_RV update(bool enc, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG* len) {
    return enc ? p11->C_EncryptUpdate(s, in, n, out, len) : p11->C_DecryptUpdate(s, in, n, out, len);
  }
  CK_RV last(bool enc, CK_BYTE_PTR out, CK_ULONG* len) {
    return enc ? p11->C_EncryptFinal(s, out, len) : p11->C_DecryptFinal(s, out, len);
  }
  // One call, asking for the length first and giving exactly that.
  Bytes run_one(bool enc, Bytes in) {
    CK_ULONG len = 0;
    EXPECT_EQ(one(enc, in, nullptr, &len), CKR_OK);
    Bytes out(len + 1);  // a non-null buffer even for 0 bytes
    const CK_ULONG asked = len;
    EXPECT_EQ(one(enc, in, out.data(), &len), CKR_OK);
    EXPECT_EQ(len, asked);
    out.resize(len);
    return out;
  }
  // Random parts, asking each step for its length and giving exactly that.
  Bytes run_parts(bool enc, Bytes in) {
    Bytes out;
    size_t at = 0;
    for (size_t cut : random_splits(in.size(), 5)) {
      CK_ULONG len = 0;
      EXPECT_EQ(update(enc, in.data() + at, cut - at, nullptr, &len), CKR_OK);
      Bytes piece(len + 1);  // a non-null buffer even for 0 bytes
      CK_ULONG room = len;
      EXPECT_EQ(update(enc, in.data() + at, cut - at, piece.data(), &room), CKR_OK);
      EXPECT_EQ(room, len);
      out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(room));
      at = cut;
    }
    CK_ULONG len = 0;
    EXPECT_EQ(last(enc, nullptr, &len), CKR_OK);
    Bytes piece(len + 1);
    CK_ULONG room = len;
    EXPECT_EQ(last(enc, piece.data(), &room), CKR_OK);
    EXPECT_EQ(room, len);
    out.insert(out.end(), piece.begin(), piece.begin() + static_cast<long>(room));
    return out;
  }
  Keys keys() { return Keys(p11, s); }
};

TEST_F(Aes, OneCallAndRandomPartsEqualOpenSsl) {
  for (size_t key_len : {16, 24, 32}) {
    const Bytes key = random_bytes(key_len);
    const CK_OBJECT_HANDLE k = keys().aes(key);
    for (bool cbc : {false, true}) {
      const CK_MECHANISM_TYPE m = cbc ? CKM_AES_CBC_PAD : CKM_AES_ECB;
      for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 48, 100, 4096, 5000}) {
        if (!cbc && n % 16 != 0) continue;
        SCOPED_TRACE(std::to_string(key_len) + (cbc ? " CBC-PAD " : " ECB ") + std::to_string(n));
        Bytes iv = random_bytes(16);
        const Bytes plain = random_bytes(n);
        const Bytes cipher = openssl_aes(cbc, true, key, iv, plain);
        ASSERT_EQ(init(true, m, k, cbc ? &iv : nullptr), CKR_OK);
        EXPECT_EQ(hex(run_one(true, plain)), hex(cipher));
        ASSERT_EQ(init(true, m, k, cbc ? &iv : nullptr), CKR_OK);
        EXPECT_EQ(hex(run_parts(true, plain)), hex(cipher));
        if (cipher.empty()) continue;  // ECB over nothing
        ASSERT_EQ(init(false, m, k, cbc ? &iv : nullptr), CKR_OK);
        EXPECT_EQ(hex(run_one(false, cipher)), hex(plain));
        ASSERT_EQ(init(false, m, k, cbc ? &iv : nullptr), CKR_OK);
        EXPECT_EQ(hex(run_parts(false, cipher)), hex(plain));
      }
    }
  }
}

// A mebibyte of AES-256 CBC-PAD in one call and in parts of uneven sizes,
// each length asked first: much more than one command of a secure element.
TEST_F(Aes, MebibyteCbcPadEqualsOpenSsl) {
  const Bytes key = random_bytes(32);
  const CK_OBJECT_HANDLE k = keys().aes(key);
  Bytes iv = random_bytes(16);
  const Bytes plain = random_bytes(1 << 20);
  const Bytes cipher = openssl_aes(true, true, key, iv, plain);
  ASSERT_EQ(cipher.size(), plain.size() + 16);
  ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  EXPECT_TRUE(run_one(true, plain) == cipher);
  ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  EXPECT_TRUE(run_parts(true, plain) == cipher);
  ASSERT_EQ(init(false, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  EXPECT_TRUE(run_one(false, cipher) == plain);
  ASSERT_EQ(init(false, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  EXPECT_TRUE(run_parts(false, cipher) == plain);
}

TEST_F(Aes, GeneratedAndTokenKeysAndTheFips197Vector) {
  const CK_OBJECT_HANDLE k = keys().aes(unhex("000102030405060708090a0b0c0d0e0f"), true);
  ASSERT_EQ(init(true, CKM_AES_ECB, k), CKR_OK);
  EXPECT_EQ(hex(run_one(true, unhex("00112233445566778899aabbccddeeff"))), "69c4e0d86a7b0430d8cdb78070b4c55a");
  const CK_OBJECT_HANDLE g = keys().generate_aes(32);
  Bytes iv = random_bytes(16);
  const Bytes plain = random_bytes(70);
  ASSERT_EQ(init(true, CKM_AES_CBC_PAD, g, &iv), CKR_OK);
  const Bytes cipher = run_one(true, plain);
  ASSERT_EQ(init(false, CKM_AES_CBC_PAD, g, &iv), CKR_OK);
  EXPECT_EQ(hex(run_one(false, cipher)), hex(plain));
}

TEST_F(Aes, WycheproofCbcPkcs5) {
  const auto vectors = load_vectors("aes_cbc_pkcs5.json");
  size_t cases = 0;
  for (const auto& g : vectors["testGroups"]) {
    for (const auto& t : g["tests"]) {
      SCOPED_TRACE(t["tcId"].get<int>());
      const CK_OBJECT_HANDLE k = keys().aes(unhex(t["key"].get<std::string>()));
      Bytes iv = unhex(t["iv"].get<std::string>());
      Bytes msg = unhex(t["msg"].get<std::string>());
      Bytes ct = unhex(t["ct"].get<std::string>());
      ASSERT_EQ(init(false, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
      Bytes out(ct.size() + 16);
      CK_ULONG len = out.size();
      const CK_RV rv = one(false, ct, out.data(), &len);
      if (t["result"] == "valid") {
        ASSERT_EQ(rv, CKR_OK);
        out.resize(len);
        EXPECT_EQ(hex(out), hex(msg));
        ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
        EXPECT_EQ(hex(run_one(true, msg)), hex(ct));
      } else {
        EXPECT_TRUE(rv == CKR_ENCRYPTED_DATA_INVALID || rv == CKR_ENCRYPTED_DATA_LEN_RANGE) << std::hex << rv;
      }
      EXPECT_EQ(p11->C_DestroyObject(s, k), CKR_OK);
      ++cases;
    }
  }
  EXPECT_GT(cases, 0u);  // the file was read
}

// The final of a padded encryption writes up to 32 bytes: its length query
// says so, and a short buffer keeps the operation for the retry.
TEST_F(Aes, FinalsNameTheirTrueLength) {
  const Bytes key = random_bytes(16);
  const CK_OBJECT_HANDLE k = keys().aes(key);
  Bytes iv = random_bytes(16);
  Bytes plain = random_bytes(20);
  const Bytes cipher = openssl_aes(true, true, key, iv, plain);
  ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  Bytes out(64, 0xEE);
  CK_ULONG len = 0;
  ASSERT_EQ(update(true, plain.data(), 20, out.data(), &len), CKR_OK);  // all held back
  EXPECT_EQ(len, 0u);
  len = 0;
  ASSERT_EQ(last(true, nullptr, &len), CKR_OK);
  EXPECT_EQ(len, 32u);
  len = 16;
  EXPECT_EQ(last(true, out.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 32u);
  EXPECT_EQ(out[0], 0xEE);  // nothing written
  ASSERT_EQ(last(true, out.data(), &len), CKR_OK);
  out.resize(len);
  EXPECT_EQ(hex(out), hex(cipher));

  // A one-call encryption names its whole output, final block included.
  ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  len = 0;
  ASSERT_EQ(one(true, plain, nullptr, &len), CKR_OK);
  EXPECT_EQ(len, 32u);
  Bytes whole(32);
  len = 31;
  EXPECT_EQ(one(true, plain, whole.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 32u);
  ASSERT_EQ(one(true, plain, whole.data(), &len), CKR_OK);
  EXPECT_EQ(hex(whole), hex(cipher));

  // A padded decryption answers the plaintext's exact length, and a buffer
  // of just that length is enough.
  Bytes c = cipher;
  ASSERT_EQ(init(false, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  len = 0;
  ASSERT_EQ(one(false, c, nullptr, &len), CKR_OK);
  EXPECT_EQ(len, 20u);
  Bytes back(20);
  len = 19;
  EXPECT_EQ(one(false, c, back.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 20u);
  ASSERT_EQ(one(false, c, back.data(), &len), CKR_OK);
  EXPECT_EQ(hex(back), hex(plain));

  // An update's output is named before anything is written.
  ASSERT_EQ(init(false, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
  len = 0;
  ASSERT_EQ(update(false, c.data(), 32, nullptr, &len), CKR_OK);
  EXPECT_EQ(len, 16u);
  len = 15;
  EXPECT_EQ(update(false, c.data(), 32, back.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 16u);
  ASSERT_EQ(update(false, c.data(), 32, back.data(), &len), CKR_OK);
  ASSERT_EQ(len, 16u);
  len = 0;
  ASSERT_EQ(last(false, nullptr, &len), CKR_OK);
  EXPECT_EQ(len, 4u);
  len = 4;
  ASSERT_EQ(last(false, back.data() + 16, &len), CKR_OK);
  EXPECT_EQ(hex(back), hex(plain));
}

TEST_F(Aes, RefusedInits) {
  const CK_OBJECT_HANDLE k = keys().aes(random_bytes(32));
  const KeyPair ec = keys().ec_pair(unhex("06082a8648ce3d030107"));
  Bytes iv = random_bytes(16);
  Bytes short_iv = random_bytes(8);
  EXPECT_EQ(init(true, CKM_AES_CBC_PAD, k), CKR_MECHANISM_PARAM_INVALID);  // no IV
  EXPECT_EQ(init(false, CKM_AES_CBC_PAD, k, &short_iv), CKR_MECHANISM_PARAM_INVALID);
  for (CK_MECHANISM_TYPE m : {CKM_AES_CBC, CKM_AES_CTR, CKM_AES_GCM, CKM_DES3_CBC, CKM_SHA256, CKM_ECDSA, 0x7777UL}) {
    EXPECT_EQ(init(true, m, k, &iv), CKR_MECHANISM_INVALID) << std::hex << m;
    EXPECT_EQ(init(false, m, k, &iv), CKR_MECHANISM_INVALID) << std::hex << m;
  }
  EXPECT_EQ(init(true, CKM_AES_ECB, ec.priv), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(init(true, CKM_AES_ECB, 0), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(p11->C_EncryptInit(s, nullptr, k), CKR_ARGUMENTS_BAD);
  CK_OBJECT_HANDLE no_decrypt = 0;
  ASSERT_EQ(keys().create({attr_ulong(CKA_CLASS, CKO_SECRET_KEY), attr_ulong(CKA_KEY_TYPE, CKK_AES),
                           {CKA_VALUE, random_bytes(16)}, attr_bool(CKA_ENCRYPT, true),
                           attr_bool(CKA_DECRYPT, false)},
                          &no_decrypt),
            CKR_OK);
  EXPECT_EQ(init(false, CKM_AES_ECB, no_decrypt), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(init(true, CKM_AES_ECB, no_decrypt), CKR_OK);
  EXPECT_EQ(init(true, CKM_AES_ECB, k), CKR_OPERATION_ACTIVE);
}

// A step of the other direction is refused and leaves the operation alone.
TEST_F(Aes, StepsKeepToTheirDirection) {
  const Bytes key = random_bytes(16);
  const CK_OBJECT_HANDLE k = keys().aes(key);
  Bytes plain = random_bytes(48);
  Bytes out(64);
  CK_ULONG len = out.size();
  ASSERT_EQ(init(true, CKM_AES_ECB, k), CKR_OK);
  EXPECT_EQ(update(false, plain.data(), 48, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(last(false, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(one(false, plain, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(hex(run_one(true, plain)), hex(openssl_aes(false, true, key, {}, plain)));
  len = out.size();
  EXPECT_EQ(one(true, plain, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);  // over
}

// Every failing step ends the operation in the module and in the core; a
// fresh Init then works on the same session.
TEST_F(Aes, EveryFailingStepEndsTheOperation) {
  const Bytes key = random_bytes(16);
  const CK_OBJECT_HANDLE k = keys().aes(key);
  Bytes iv = random_bytes(16);
  Bytes data = random_bytes(64);
  Bytes out(128);
  CK_ULONG len = 0;
  // One CBC block that decrypts to zero bytes: a padding byte of 0.
  Bytes bad_pad = openssl_aes(false, true, key, {}, iv);
  struct Case {
    const char* what;
    bool enc;
    CK_MECHANISM_TYPE mech;
    std::function<CK_RV()> step;
    CK_RV want;
  };
  const std::vector<Case> cases = {
      {"ECB data not whole blocks", true, CKM_AES_ECB, [&] { return one(true, data = random_bytes(17), out.data(), &len); },
       CKR_DATA_LEN_RANGE},
      {"ECB final with a partial block", true, CKM_AES_ECB,
       [&] {
         EXPECT_EQ(update(true, data.data(), 17, out.data(), &len), CKR_OK);
         return last(true, out.data(), &len);
       },
       CKR_DATA_LEN_RANGE},
      {"ciphertext not whole blocks", false, CKM_AES_CBC_PAD,
       [&] { return one(false, data = random_bytes(33), out.data(), &len); }, CKR_ENCRYPTED_DATA_LEN_RANGE},
      {"bad padding", false, CKM_AES_CBC_PAD, [&] { return one(false, bad_pad, out.data(), &len); },
       CKR_ENCRYPTED_DATA_INVALID},
      {"bad padding at the final", false, CKM_AES_CBC_PAD,
       [&] {
         EXPECT_EQ(update(false, bad_pad.data(), 16, out.data(), &len), CKR_OK);
         return last(false, out.data(), &len);
       },
       CKR_ENCRYPTED_DATA_INVALID},
      {"null length", true, CKM_AES_CBC_PAD, [&] { return p11->C_EncryptUpdate(s, data.data(), 16, out.data(), nullptr); },
       CKR_ARGUMENTS_BAD},
      {"null data", false, CKM_AES_CBC_PAD, [&] { return p11->C_DecryptUpdate(s, nullptr, 16, out.data(), &len); },
       CKR_ARGUMENTS_BAD},
      {"one call after an update", true, CKM_AES_CBC_PAD,
       [&] {
         EXPECT_EQ(update(true, data.data(), 5, out.data(), &len), CKR_OK);
         return one(true, data, out.data(), &len);
       },
       CKR_OPERATION_ACTIVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    len = out.size();
    data = random_bytes(64);
    ASSERT_EQ(init(c.enc, c.mech, k, &iv), CKR_OK);
    EXPECT_EQ(c.step(), c.want);
    len = out.size();
    EXPECT_EQ(last(c.enc, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
    const Bytes plain = random_bytes(40);
    ASSERT_EQ(init(true, CKM_AES_CBC_PAD, k, &iv), CKR_OK);
    EXPECT_EQ(hex(run_parts(true, plain)), hex(openssl_aes(true, true, key, iv, plain)));
  }
}

}  // namespace
}  // namespace zt
