// Digests through the module against OpenSSL, with the length convention and
// the operation's life across failures.
#include <algorithm>

#include "crypto_fixture.h"

namespace zt {
namespace {

struct DigestCase {
  CK_MECHANISM_TYPE mech;
  const char* openssl;
  size_t len;
};
const DigestCase kDigests[] = {
    {CKM_SHA_1, "SHA1", 20},           {CKM_SHA224, "SHA224", 28},         {CKM_SHA256, "SHA256", 32},
    {CKM_SHA384, "SHA384", 48},        {CKM_SHA512, "SHA512", 64},         {CKM_SHA512_224, "SHA512-224", 28},
    {CKM_SHA512_256, "SHA512-256", 32}, {CKM_SHA3_224, "SHA3-224", 28},    {CKM_SHA3_256, "SHA3-256", 32},
    {CKM_SHA3_384, "SHA3-384", 48},    {CKM_SHA3_512, "SHA3-512", 64},
};

class Digest : public CryptoTest {
 protected:
  CK_RV init(CK_MECHANISM_TYPE m) {
    CK_MECHANISM mech{m, nullptr, 0};
    return p11->C_DigestInit(s, &mech);
  }
};

TEST_F(Digest, OneCallAndPartsEqualOpenSsl) {
  for (const DigestCase& c : kDigests) {
    SCOPED_TRACE(c.openssl);
    for (size_t n : {0, 1, 55, 64, 1000, 70000}) {
      Bytes data = random_bytes(n);
      const Bytes want = openssl_digest(c.openssl, data);
      ASSERT_EQ(init(c.mech), CKR_OK);
      CK_ULONG len = 0;
      ASSERT_EQ(p11->C_Digest(s, bp(data), n, nullptr, &len), CKR_OK);  // the exact length
      ASSERT_EQ(len, c.len);
      Bytes got(len);
      ASSERT_EQ(p11->C_Digest(s, bp(data), n, got.data(), &len), CKR_OK);
      EXPECT_EQ(hex(got), hex(want));

      ASSERT_EQ(init(c.mech), CKR_OK);
      size_t at = 0;
      for (size_t cut : random_splits(n, 4)) {
        ASSERT_EQ(p11->C_DigestUpdate(s, data.data() + at, cut - at), CKR_OK);
        at = cut;
      }
      len = 0;
      ASSERT_EQ(p11->C_DigestFinal(s, nullptr, &len), CKR_OK);
      ASSERT_EQ(len, c.len);
      ASSERT_EQ(p11->C_DigestFinal(s, got.data(), &len), CKR_OK);
      EXPECT_EQ(hex(got), hex(want));
    }
  }
}

TEST_F(Digest, ShortBufferKeepsTheOperation) {
  Bytes data = ascii("abc");
  ASSERT_EQ(init(CKM_SHA256), CKR_OK);
  Bytes got(32);
  CK_ULONG len = 31;
  EXPECT_EQ(p11->C_Digest(s, data.data(), 3, got.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 32u);
  ASSERT_EQ(p11->C_Digest(s, data.data(), 3, got.data(), &len), CKR_OK);
  EXPECT_EQ(hex(got), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The operation is over.
  EXPECT_EQ(p11->C_Digest(s, data.data(), 3, got.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_DigestFinal(s, got.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(Digest, RefusalsAndFailuresEndTheOperation) {
  Bytes got(64);
  CK_ULONG len = got.size();
  EXPECT_EQ(init(CKM_MD5), CKR_MECHANISM_INVALID);
  EXPECT_EQ(init(CKM_ECDSA_SHA256), CKR_MECHANISM_INVALID);
  EXPECT_EQ(p11->C_DigestInit(s, nullptr), CKR_ARGUMENTS_BAD);
  CK_MECHANISM sha{CKM_SHA256, nullptr, 0};
  EXPECT_EQ(p11->C_DigestInit(s + 1, &sha), CKR_SESSION_HANDLE_INVALID);

  ASSERT_EQ(init(CKM_SHA256), CKR_OK);
  EXPECT_EQ(init(CKM_SHA384), CKR_OPERATION_ACTIVE);  // the first goes on
  ASSERT_EQ(p11->C_DigestUpdate(s, got.data(), 10), CKR_OK);
  // A one-call digest after an update is refused and ends the operation.
  EXPECT_EQ(p11->C_Digest(s, got.data(), 1, got.data(), &len), CKR_OPERATION_ACTIVE);
  EXPECT_EQ(p11->C_DigestFinal(s, got.data(), &len), CKR_OPERATION_NOT_INITIALIZED);

  // Each step's failure ends both the module's and the core's operation: a
  // fresh Init then works and digests from scratch.
  using Step = std::function<CK_RV()>;
  const std::vector<std::pair<const char*, Step>> failures = {
      {"update with null data", [&] { return p11->C_DigestUpdate(s, nullptr, 5); }},
      {"final with null length", [&] { return p11->C_DigestFinal(s, got.data(), nullptr); }},
      {"one call with null data", [&] { return p11->C_Digest(s, nullptr, 5, got.data(), &len); }},
  };
  for (const auto& [what, step] : failures) {
    SCOPED_TRACE(what);
    ASSERT_EQ(init(CKM_SHA256), CKR_OK);
    EXPECT_EQ(step(), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(p11->C_DigestUpdate(s, got.data(), 1), CKR_OPERATION_NOT_INITIALIZED);
    Bytes abc = ascii("abc");
    ASSERT_EQ(init(CKM_SHA256), CKR_OK);
    len = 32;
    ASSERT_EQ(p11->C_Digest(s, abc.data(), 3, got.data(), &len), CKR_OK);
    EXPECT_EQ(hex(got.data(), 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  }
}

TEST_F(Digest, NeedsTheModuleAndASession) {
  CK_MECHANISM mech{CKM_SHA256, nullptr, 0};
  EXPECT_EQ(p11->C_DigestInit(0, &mech), CKR_SESSION_HANDLE_INVALID);
  CK_ULONG len = 0;
  EXPECT_EQ(p11->C_DigestFinal(s, nullptr, &len), CKR_OPERATION_NOT_INITIALIZED);
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(p11->C_DigestInit(s, &mech), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_Digest(s, nullptr, 0, nullptr, &len), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_DigestKey(s, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
}

}  // namespace
}  // namespace zt
