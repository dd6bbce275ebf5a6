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

namespace k = cmd::cry;
using Impl = Simulator::Impl;

// A crypto command without a session.
struct Plain {
  const cmd::Command& c;
  const Args& a;
};

// A crypto command on a token session whose token user is logged in: the
// session's handle, its state and its provider session.
struct Call {
  const cmd::Command& c;
  const Args& a;
  uint32_t h;
  Simulator::CryptoState& st;
  uint32_t s;
};

Result not_supported(Impl&, const Plain&) { return Result::err(kNotSupported); }

Result close_all_sessions(Impl& s, const Plain&) {
  while (!s.crypto.empty()) s.drop_crypto(s.crypto.begin()->first);
  return ok();
}

Result mechanism_list(Impl&, const Plain&) { return ok(le32(0), le32(0)); }
Result mechanism_info(Impl&, const Plain&) { return Result::err(kMechanismInvalid); }

Result padding(Impl&, const Plain& x) {
  uint8_t type = 0;
  if (!byte_of(x.a.u32(0), &type)) return Result::err(kArguments);
  const uint32_t bs = x.a.u32(1);
  if (bs == 0 || bs > 255) return Result::err(kArguments);
  const Args& a = x.a;
  return out1([&](uint8_t* o, uint32_t* n) {
    return &x.c == &k::Padding ? SWC_Padding(type, bs, a.p(2), a.n(2), o, n)
                               : SWC_Unpadding(type, bs, a.p(2), a.n(2), o, n);
  });
}

// A session that has no crypto state is closed already when its token user
// is not logged in.
Result close_session(Impl& s, const Plain& x) {
  const uint32_t h = x.a.u32(0);
  if (s.crypto.count(h) != 0) {
    s.drop_crypto(h);
    return ok();
  }
  Simulator::CryptoState* none = nullptr;
  const uint32_t rc = s.crypto_of(h, &none);
  return rc == kNotLoggedIn ? ok() : Result::err(rc);
}

constexpr Route<Plain> kPlainRoutes[] = {
    {&k::OpenSession, not_supported},  // the crypto handle is the token session's
    {&k::CloseAllSessions, close_all_sessions},
    {&k::GetMechanismList, mechanism_list},
    {&k::GetMechanismInfo, mechanism_info},
    {&k::Padding, padding},
    {&k::Unpadding, padding},
    {&k::CloseSession, close_session},
};

Result session_not_supported(Impl&, const Call&) { return Result::err(kNotSupported); }
Result set_mk(Impl&, const Call& x) { return done(SWC_SetMK(x.s, x.a.p(1), x.a.n(1))); }

Result get_mk(Impl&, const Call& x) {
  quarzel::SecretArray<SWC_MK_LEN> mk;
  uint32_t n = SWC_MK_LEN;
  if (const uint32_t rc = SWC_GetMK(x.s, mk.data(), &n); rc != 0) return Result::err(rc);
  return ok(bytes(mk.data(), n));
}

Result clear_mk(Impl&, const Call& x) { return done(SWC_ClearMK(x.s)); }

Result drng_seed(Impl&, const Call& x) {
  const uint32_t want = x.a.u32(1);
  if (want > kReplyDataMax - 2) return Result::err(kDataLenRange);
  std::vector<uint8_t> out(want);
  if (const uint32_t rc = SWC_Drbg_SEED(x.s, out.data(), want); rc != 0) return Result::err(rc);
  return ok(std::move(out));
}

Result digest_init(Impl&, const Call& x) { return done(SWC_DigestInit(x.s, x.a.u8(1))); }
Result digest_update(Impl&, const Call& x) { return done(SWC_DigestUpdate(x.s, x.a.p(1), x.a.n(1))); }
Result digest_final(Impl&, const Call& x) {
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_DigestFinal(x.s, o, n); });
}

Result hmac_generate_key(Impl&, const Call& x) {
  quarzel::SecretArray<32> key;
  if (const uint32_t rc = SWC_Drbg_SEED(x.s, key.data(), 32); rc != 0) return Result::err(rc);
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Encrypt(x.s, key.data(), 32, o, n); });
}

// An empty key selects the token's object-MAC key.
Result hmac_start(Impl&, const Call& x) {
  const Args& a = x.a;
  quarzel::SecretBytes key(a.n(2) == 0 ? 32 : a.n(2));
  uint32_t n = static_cast<uint32_t>(key.size());
  const uint32_t rc = a.n(2) == 0 ? GetTknMacKey(x.h, key.data()) : SWC_Key_Decrypt(x.s, a.p(2), a.n(2), key.data(), &n);
  if (rc != 0) return Result::err(rc);
  x.st.hmac_running = false;
  if (hmac_init(&x.st.hmac, static_cast<hash_type_t>(a.u8(1)), n, key.data()) != 0) {
    return Result::err(kMechanismInvalid);
  }
  x.st.hmac_running = true;
  return ok();
}

Result hmac_more(Impl&, const Call& x) {
  if (!x.st.hmac_running) return Result::err(kNotInitialized);
  if (hmac_update(&x.st.hmac, x.a.n(1), x.a.p(1)) != 0) return Result::err(kFailed);
  return ok();
}

Result hmac_end(Impl&, const Call& x) {
  if (!x.st.hmac_running) return Result::err(kNotInitialized);
  uint8_t mac[64];
  uint32_t n = sizeof mac;
  x.st.hmac_running = false;
  if (hmac_final(&x.st.hmac, &n, mac) != 0) return Result::err(kFailed);
  return ok(bytes(mac, n));
}

// The software provider has no one-call AES: its init and final, with the
// padding word carried but not applied (the host pads).
Result aes_crypt(Impl&, const Call& x) {
  const Args& a = x.a;
  uint8_t mode = 0, dir = 0, pad = 0;
  if (!byte_of(a.u32(1), &mode) || !byte_of(a.u32(2), &dir) || !byte_of(a.u32(3), &pad)) {
    return Result::err(kArguments);
  }
  return out1([&](uint8_t* o, uint32_t* n) {
    uint32_t rc = SWC_AESFunc.C_AesInit(x.s, mode, dir, pad, a.p(4), a.n(4), a.p(5), a.n(5));
    if (rc == 0) rc = SWC_AESFunc.C_AesFinal(x.s, a.p(6), a.n(6), o, n);
    return rc;
  });
}

Result gcm_init(Impl&, const Call& x) {
  const Args& a = x.a;
  return done(SWC_AESFunc.C_AesGcmInit(x.s, a.p(1), a.n(1), a.p(2), a.n(2), a.p(3), a.n(3)));
}

Result gcm_update(Impl&, const Call& x) {
  const auto fn = &x.c == &k::AesGcmEncryptUpdate ? SWC_AESFunc.C_AesGcmEncryptUpdate
                                                  : SWC_AESFunc.C_AesGcmDecryptUpdate;
  return out1([&](uint8_t* o, uint32_t* n) { return fn(x.s, x.a.p(1), x.a.n(1), o, n); });
}

Result gcm_encrypt_final(Impl&, const Call& x) {
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_AESFunc.C_AesGcmEncryptFinal(x.s, x.a.u8(1), x.a.p(2), x.a.n(2), o, n);
  });
}

Result gcm_decrypt_final(Impl&, const Call& x) {
  const Args& a = x.a;
  if (a.n(2) > 16) return Result::err(kArguments);
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_AESFunc.C_AesGcmDecryptFinal(x.s, a.p(1), a.n(1), a.p(2), static_cast<uint8_t>(a.n(2)), o, n);
  });
}

Result ecdsa_sign(Impl&, const Call& x) {
  const Args& a = x.a;
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_ECCFunc.C_ECDSASignSingle(x.s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
  });
}

Result ecdsa_verify(Impl&, const Call& x) {
  const Args& a = x.a;
  return done(SWC_ECCFunc.C_ECDSAVerifySingle(x.s, a.p(1), a.n(1), a.p(2), a.n(2), a.p(3), a.n(3)));
}

Result ecdh(Impl&, const Call& x) {
  const Args& a = x.a;
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_ECCFunc.C_ECDH(x.s, a.p(1), a.n(1), a.p(2), a.n(2), o, n); });
}

Result rsa_sign_verify(Impl&, const Call& x) {
  const Args& a = x.a;
  uint8_t ht = 0;
  if (!byte_of(a.u32(1), &ht)) return Result::err(kArguments);
  if (&x.c == &k::RSAVerify) {
    return done(SWC_RSAFunc.C_RSAVerify_PKCS1(x.s, ht, a.p(2), a.n(2), a.p(3), a.n(3), a.p(4), a.n(4)));
  }
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_RSAFunc.C_RSASign_PKCS1(x.s, ht, a.p(2), a.n(2), a.p(3), a.n(3), o, n);
  });
}

Result rsa_encrypt(Impl&, const Call& x) {
  const Args& a = x.a;
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_RSAFunc.C_RSAEncrypt_PKCS1(x.s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
  });
}

Result rsa_decrypt(Impl&, const Call& x) {
  const Args& a = x.a;
  return out1([&](uint8_t* o, uint32_t* n) {
    return SWC_RSAFunc.C_RSADecrypt_PKCS1(x.s, a.p(1), a.n(1), a.p(2), a.n(2), o, n);
  });
}

Result pbkdf(Impl&, const Call& x) {
  const Args& a = x.a;
  std::vector<uint8_t> dk(32);
  uint32_t n = 32;
  if (const uint32_t rc = SWC_Pbkdf(x.s, a.p(1), a.n(1), a.p(2), a.n(2), dk.data(), &n); rc != 0) {
    return Result::err(rc);
  }
  dk.resize(std::min<uint32_t>(n, 32));
  return ok(std::move(dk));
}

Result key_encrypt(Impl&, const Call& x) {
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Encrypt(x.s, x.a.p(1), x.a.n(1), o, n); });
}

Result key_decrypt(Impl&, const Call& x) {
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_Key_Decrypt(x.s, x.a.p(1), x.a.n(1), o, n); });
}

Result aes_generate_key(Impl&, const Call& x) {
  uint8_t type = 0;
  if (!byte_of(x.a.u32(1), &type)) return Result::err(kArguments);
  return out1([&](uint8_t* o, uint32_t* n) { return SWC_AESFunc.C_AESGenerateKey(x.s, type, o, n); });
}

Result ec_generate_key_pair(Impl&, const Call& x) {
  return out2([&](uint8_t* p, uint32_t* np, uint8_t* q, uint32_t* nq) {
    return SWC_ECCFunc.C_ECGenerateKeyPair(x.s, x.a.u8(1), p, np, q, nq);
  });
}

Result rsa_generate_key_pair(Impl&, const Call& x) {
  if (x.a.u32(1) > 4096) return Result::err(kArguments);
  return out2([&](uint8_t* p, uint32_t* np, uint8_t* q, uint32_t* nq) {
    return SWC_RSAFunc.C_RSAGenerateKeyPair(x.s, x.a.u32(1), x.a.u32(2), p, np, q, nq);
  });
}

constexpr Route<Call> kSessionRoutes[] = {
    {&k::SetMK, set_mk},
    {&k::GetMK, get_mk},
    {&k::ClearMK, clear_mk},
    {&k::DrngSeed, drng_seed},
    {&k::DigestInit, digest_init},
    {&k::DigestUpdate, digest_update},
    {&k::DigestFinal, digest_final},
    {&k::HmacGenerateKey, hmac_generate_key},
    {&k::HmacInit, hmac_start},
    {&k::HmacUpdate, hmac_more},
    {&k::HmacFinal, hmac_end},
    {&k::AesCrypt, aes_crypt},
    {&k::AesWrapKey, session_not_supported},
    {&k::AesUnwrapKey, session_not_supported},
    {&k::AesGcmInit, gcm_init},
    {&k::AesGcmEncryptUpdate, gcm_update},
    {&k::AesGcmDecryptUpdate, gcm_update},
    {&k::AesGcmEncryptFinal, gcm_encrypt_final},
    {&k::AesGcmDecryptFinal, gcm_decrypt_final},
    {&k::ECDSASignSingle, ecdsa_sign},
    {&k::ECDSAVerifySingle, ecdsa_verify},
    {&k::ECDH, ecdh},
    {&k::RSASign, rsa_sign_verify},
    {&k::RSAVerify, rsa_sign_verify},
    {&k::RSAEncrypt, rsa_encrypt},
    {&k::RSADecrypt, rsa_decrypt},
    {&k::Pbkdf, pbkdf},
    {&k::KeyEncrypt, key_encrypt},
    {&k::KeyDecrypt, key_decrypt},
    {&k::AESGenerateKey, aes_generate_key},
    {&k::ECGenerateKeyPair, ec_generate_key_pair},
    {&k::ECGenerateKeyPairExtraB, ec_generate_key_pair},
    {&k::RSAGenerateKeyPair, rsa_generate_key_pair},
};

}  // namespace

Result Simulator::Impl::crypto_cmd(const cmd::Command& c, const Args& a) {
  if (const Route<Plain>* r = route_of(kPlainRoutes, c); r != nullptr) return r->handle(*this, Plain{c, a});
  const uint32_t h = a.u32(0);
  CryptoState* st = nullptr;
  if (const uint32_t rc = crypto_of(h, &st); rc != 0) {
    // The token user's logout already wiped the key: nothing left to clear.
    if (&c == &k::ClearMK && rc == kNotLoggedIn) return ok();
    return Result::err(rc);
  }
  const Route<Call>* r = route_of(kSessionRoutes, c);
  return r == nullptr ? Result::err(kNotSupported) : r->handle(*this, Call{c, a, h, *st, st->swc});
}

}  // namespace se::sim
