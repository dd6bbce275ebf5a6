// Class 0x88: crypto in the token session's provider session, whose master
// key is the session key the device made at the token user's login. Secret
// and private keys cross as the provider's key blobs under that key, public
// keys in the provider's raw forms, so the host's own provider and the device
// read each other's keys.
#include "sim_internal.h"
#include "swhsm/swc.h"
#include "swhsm/swd_blob.h"
#include "zeb/swhsm_services.h"

namespace se::sim {
namespace {

constexpr uint32_t kOutMax = 8192;  // room for any provider output; the reply limit is checked after

// Runs `f(out, &len)` into a fresh buffer; the output, or the code.
template <class F>
Result out1(F f) {
  std::vector<uint8_t> out(kOutMax);
  uint32_t n = kOutMax;
  const uint32_t rc = f(out.data(), &n);
  if (rc != 0) return Result::err(rc);
  if (n > kOutMax) return Result::err(kFailed);
  out.resize(n);
  return ok(std::move(out));
}

template <class F>
Result out2(F f) {
  std::vector<uint8_t> a(kOutMax), b(kOutMax);
  uint32_t na = kOutMax, nb = kOutMax;
  const uint32_t rc = f(a.data(), &na, b.data(), &nb);
  if (rc != 0) return Result::err(rc);
  if (na > kOutMax || nb > kOutMax) return Result::err(kFailed);
  a.resize(na);
  b.resize(nb);
  return ok(std::move(a), std::move(b));
}

// A u32 word that the provider takes as one byte.
bool byte_of(uint32_t v, uint8_t* out) {
  *out = static_cast<uint8_t>(v);
  return v <= 0xFF;
}

}  // namespace

Result Simulator::Impl::crypto_cmd(const cmd::Command& c, const Args& a) {
  namespace k = cmd::cry;
  auto done = [](uint32_t code) { return code == 0 ? ok() : Result::err(code); };

  // Commands without a session.
  if (&c == &k::OpenSession) return Result::err(kNotSupported);  // the crypto handle is the token session's
  if (&c == &k::CloseAllSessions) {
    while (!crypto.empty()) drop_crypto(crypto.begin()->first);
    return ok();
  }
  if (&c == &k::GetMechanismList) return ok(le32(0), le32(0));
  if (&c == &k::GetMechanismInfo) return Result::err(kMechanismInvalid);
  if (&c == &k::Padding || &c == &k::Unpadding) {
    uint8_t type = 0;
    if (!byte_of(a.u32(0), &type)) return Result::err(kArguments);
    const uint32_t bs = a.u32(1);
    if (bs == 0 || bs > 255) return Result::err(kArguments);
    return out1([&](uint8_t* o, uint32_t* n) {
      return &c == &k::Padding ? SWC_Padding(type, bs, a.p(2), a.n(2), o, n)
                               : SWC_Unpadding(type, bs, a.p(2), a.n(2), o, n);
    });
  }

  const uint32_t h = a.u32(0);
  if (&c == &k::CloseSession) {
    if (crypto.count(h) != 0) {
      drop_crypto(h);
      return ok();
    }
    CryptoState* none = nullptr;
    const uint32_t rc = crypto_of(h, &none);
    return rc == kNotLoggedIn ? ok() : Result::err(rc);
  }
  CryptoState* st = nullptr;
  if (const uint32_t rc = crypto_of(h, &st); rc != 0) {
    // The token user's logout already wiped the key: nothing left to clear.
    if (&c == &k::ClearMK && rc == kNotLoggedIn) return ok();
    return Result::err(rc);
  }
  const uint32_t s = st->swc;

  if (&c == &k::SetMK) return done(SWC_SetMK(s, a.p(1), a.n(1)));
  if (&c == &k::GetMK) {
    quarzel::SecretArray<SWC_MK_LEN> mk;
    uint32_t n = SWC_MK_LEN;
    if (const uint32_t rc = SWC_GetMK(s, mk.data(), &n); rc != 0) return Result::err(rc);
    return ok(bytes(mk.data(), n));
  }
  if (&c == &k::ClearMK) return done(SWC_ClearMK(s));
  if (&c == &k::DrngSeed) {
    const uint32_t want = a.u32(1);
    if (want > kReplyDataMax - 2) return Result::err(kDataLenRange);
    std::vector<uint8_t> out(want);
    if (const uint32_t rc = SWC_Drbg_SEED(s, out.data(), want); rc != 0) return Result::err(rc);
    return ok(std::move(out));
  }
  if (&c == &k::DigestInit) return done(SWC_DigestInit(s, a.u8(1)));
  if (&c == &k::DigestUpdate) return done(SWC_DigestUpdate(s, a.p(1), a.n(1)));
  if (&c == &k::DigestFinal) {
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_DigestFinal(s, o, n); });
  }
  if (&c == &k::HmacGenerateKey) {
    quarzel::SecretArray<32> key;
    if (const uint32_t rc = SWC_Drbg_SEED(s, key.data(), 32); rc != 0) return Result::err(rc);
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Encrypt(s, key.data(), 32, o, n); });
  }
  if (&c == &k::HmacInit) {
    // An empty key selects the token's object-MAC key.
    quarzel::SecretBytes key(a.n(2) == 0 ? 32 : a.n(2));
    uint32_t n = static_cast<uint32_t>(key.size());
    const uint32_t rc = a.n(2) == 0 ? GetTknMacKey(h, key.data()) : SWC_Key_Decrypt(s, a.p(2), a.n(2), key.data(), &n);
    if (rc != 0) return Result::err(rc);
    st->hmac_running = false;
    if (hmac_init(&st->hmac, static_cast<hash_type_t>(a.u8(1)), n, key.data()) != 0) {
      return Result::err(kMechanismInvalid);
    }
    st->hmac_running = true;
    return ok();
  }
  if (&c == &k::HmacUpdate || &c == &k::HmacFinal) {
    if (!st->hmac_running) return Result::err(kNotInitialized);
    if (&c == &k::HmacUpdate) {
      if (hmac_update(&st->hmac, a.n(1), a.p(1)) != 0) return Result::err(kFailed);
      return ok();
    }
    uint8_t mac[64];
    uint32_t n = sizeof mac;
    st->hmac_running = false;
    if (hmac_final(&st->hmac, &n, mac) != 0) return Result::err(kFailed);
    return ok(bytes(mac, n));
  }
  if (&c == &k::AesCrypt) {
    uint8_t mode = 0, dir = 0, pad = 0;
    if (!byte_of(a.u32(1), &mode) || !byte_of(a.u32(2), &dir) || !byte_of(a.u32(3), &pad)) {
      return Result::err(kArguments);
    }
    // The software provider has no one-call AES: its init and final, with
    // the padding word carried but not applied (the host pads).
    return out1([&](uint8_t* o, uint32_t* n) {
      uint32_t rc = SWC_AESFunc.C_AesInit(s, mode, dir, pad, a.p(4), a.n(4), a.p(5), a.n(5));
      if (rc == 0) rc = SWC_AESFunc.C_AesFinal(s, a.p(6), a.n(6), o, n);
      return rc;
    });
  }
  if (&c == &k::AesWrapKey || &c == &k::AesUnwrapKey) return Result::err(kNotSupported);
  if (&c == &k::AesGcmInit) {
    return done(SWC_AESFunc.C_AesGcmInit(s, a.p(1), a.n(1), a.p(2), a.n(2), a.p(3), a.n(3)));
  }
  if (&c == &k::AesGcmEncryptUpdate || &c == &k::AesGcmDecryptUpdate) {
    const auto fn = &c == &k::AesGcmEncryptUpdate ? SWC_AESFunc.C_AesGcmEncryptUpdate
                                                  : SWC_AESFunc.C_AesGcmDecryptUpdate;
    return out1([&](uint8_t* o, uint32_t* n) { return fn(s, a.p(1), a.n(1), o, n); });
  }
  if (&c == &k::AesGcmEncryptFinal) {
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_AESFunc.C_AesGcmEncryptFinal(s, a.u8(1), a.p(2), a.n(2), o, n);
    });
  }
  if (&c == &k::AesGcmDecryptFinal) {
    if (a.n(2) > 16) return Result::err(kArguments);
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_AESFunc.C_AesGcmDecryptFinal(s, a.p(1), a.n(1), a.p(2), static_cast<uint8_t>(a.n(2)), o, n);
    });
  }
  if (&c == &k::ECDSASignSingle) {
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_ECCFunc.C_ECDSASignSingle(s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
    });
  }
  if (&c == &k::ECDSAVerifySingle) {
    return done(SWC_ECCFunc.C_ECDSAVerifySingle(s, a.p(1), a.n(1), a.p(2), a.n(2), a.p(3), a.n(3)));
  }
  if (&c == &k::ECDH) {
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_ECCFunc.C_ECDH(s, a.p(1), a.n(1), a.p(2), a.n(2), o, n); });
  }
  if (&c == &k::RSASign || &c == &k::RSAVerify) {
    uint8_t ht = 0;
    if (!byte_of(a.u32(1), &ht)) return Result::err(kArguments);
    if (&c == &k::RSAVerify) {
      return done(SWC_RSAFunc.C_RSAVerify_PKCS1(s, ht, a.p(2), a.n(2), a.p(3), a.n(3), a.p(4), a.n(4)));
    }
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_RSAFunc.C_RSASign_PKCS1(s, ht, a.p(2), a.n(2), a.p(3), a.n(3), o, n);
    });
  }
  if (&c == &k::RSAEncrypt) {
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_RSAFunc.C_RSAEncrypt_PKCS1(s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
    });
  }
  if (&c == &k::RSADecrypt) {
    return out1([&](uint8_t* o, uint32_t* n) {
      return SWC_RSAFunc.C_RSADecrypt_PKCS1(s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
    });
  }
  if (&c == &k::Pbkdf) {
    std::vector<uint8_t> dk(32);
    uint32_t n = 32;
    if (const uint32_t rc = SWC_Pbkdf(s, a.p(1), a.n(1), a.p(2), a.n(2), dk.data(), &n); rc != 0) {
      return Result::err(rc);
    }
    dk.resize(std::min<uint32_t>(n, 32));
    return ok(std::move(dk));
  }
  if (&c == &k::KeyEncrypt) {
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Encrypt(s, a.p(1), a.n(1), o, n); });
  }
  if (&c == &k::KeyDecrypt) {
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Decrypt(s, a.p(1), a.n(1), o, n); });
  }
  if (&c == &k::AESGenerateKey) {
    uint8_t type = 0;
    if (!byte_of(a.u32(1), &type)) return Result::err(kArguments);
    return out1([&](uint8_t* o, uint32_t* n) { return SWC_AESFunc.C_AESGenerateKey(s, type, o, n); });
  }
  if (&c == &k::ECGenerateKeyPair || &c == &k::ECGenerateKeyPairExtraB) {
    return out2([&](uint8_t* p, uint32_t* np, uint8_t* q, uint32_t* nq) {
      return SWC_ECCFunc.C_ECGenerateKeyPair(s, a.u8(1), p, np, q, nq);
    });
  }
  if (&c == &k::RSAGenerateKeyPair) {
    if (a.u32(1) > 4096) return Result::err(kArguments);
    return out2([&](uint8_t* p, uint32_t* np, uint8_t* q, uint32_t* nq) {
      return SWC_RSAFunc.C_RSAGenerateKeyPair(s, a.u32(1), a.u32(2), p, np, q, nq);
    });
  }
  return Result::err(kNotSupported);
}

}  // namespace se::sim
