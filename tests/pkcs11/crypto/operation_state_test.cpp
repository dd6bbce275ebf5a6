// The operation a session runs is the session's own state: two threads that
// misuse one session (Init, Update, Final and close racing) get clean codes
// and no crash; an Init that runs out of memory at any allocation leaves the
// session free for the next Init; and the operation ends with its session,
// whatever ends it, taking a result it kept along, wiped.
#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "crypto_fixture.h"
#include "keys.h"
#include "ossl_ec.h"
#include "support/fail_alloc.h"

namespace zt {
namespace {

class OperationState : public CryptoTest {
 protected:
  // Token keys, so that every session of the token sees them.
  void make_keys() {
    Keys keys(p11, s);
    ec = keys.ec_pair(unhex(ec_curves()[0].oid_hex), true);
    aes = keys.aes(random_bytes(32), true);
    rsa = keys.rsa_pair(2048);
  }

  // One whole operation of each kind, on session `h`, expected to succeed.
  void sign_once(CK_SESSION_HANDLE h) {
    CK_MECHANISM m{CKM_ECDSA_SHA256, nullptr, 0};
    ASSERT_EQ(p11->C_SignInit(h, &m, ec.priv), CKR_OK);
    Bytes data = random_bytes(40);
    Bytes sig(64);
    CK_ULONG len = sig.size();
    ASSERT_EQ(p11->C_Sign(h, data.data(), data.size(), sig.data(), &len), CKR_OK);
    ASSERT_EQ(p11->C_VerifyInit(h, &m, ec.pub), CKR_OK);
    EXPECT_EQ(p11->C_Verify(h, data.data(), data.size(), sig.data(), len), CKR_OK);
  }
  void encrypt_once(CK_SESSION_HANDLE h) {
    Bytes iv = random_bytes(16);
    CK_MECHANISM m{CKM_AES_CBC_PAD, iv.data(), iv.size()};
    ASSERT_EQ(p11->C_EncryptInit(h, &m, aes), CKR_OK);
    Bytes data = random_bytes(33);
    Bytes out(48);
    CK_ULONG len = out.size();
    ASSERT_EQ(p11->C_Encrypt(h, data.data(), data.size(), out.data(), &len), CKR_OK);
    EXPECT_EQ(len, 48u);
  }
  void rsa_once(CK_SESSION_HANDLE h) {
    CK_MECHANISM m{CKM_RSA_PKCS, nullptr, 0};
    Bytes data = random_bytes(20);
    Bytes ct(256);
    CK_ULONG len = ct.size();
    ASSERT_EQ(p11->C_EncryptInit(h, &m, rsa.pub), CKR_OK);
    ASSERT_EQ(p11->C_Encrypt(h, data.data(), data.size(), ct.data(), &len), CKR_OK);
    ASSERT_EQ(p11->C_DecryptInit(h, &m, rsa.priv), CKR_OK);
    Bytes pt(256);
    len = pt.size();
    ASSERT_EQ(p11->C_Decrypt(h, ct.data(), ct.size(), pt.data(), &len), CKR_OK);
    pt.resize(len);
    EXPECT_EQ(pt, data);
  }
  void digest_once(CK_SESSION_HANDLE h) {
    CK_MECHANISM m{CKM_SHA256, nullptr, 0};
    ASSERT_EQ(p11->C_DigestInit(h, &m), CKR_OK);
    Bytes data = random_bytes(100);
    Bytes d(32);
    CK_ULONG len = d.size();
    ASSERT_EQ(p11->C_Digest(h, data.data(), data.size(), d.data(), &len), CKR_OK);
    EXPECT_EQ(d, openssl_digest("SHA256", data));
  }

  KeyPair ec;
  KeyPair rsa;
  CK_OBJECT_HANDLE aes = 0;
};

// Two threads drive one session with random Inits, steps and closes (the
// session reopened after each close). Every call answers a code the misuse
// explains; ASan and TSan see no use after free and no race.
TEST_F(OperationState, ThreadsRacingInitUpdateFinalCloseOnOneSession) {
  make_keys();
  // `s` stays open, so the token user stays logged in across the closes.
  std::atomic<CK_SESSION_HANDLE> shared{open()};
  // A call on a session that the other thread closes meanwhile meets a core
  // session that is gone or not yet logged in again.
  const std::set<CK_RV> clean = {CKR_OK,
                                 CKR_USER_NOT_LOGGED_IN,
                                 CKR_OPERATION_ACTIVE,
                                 CKR_OPERATION_NOT_INITIALIZED,
                                 CKR_SESSION_HANDLE_INVALID,
                                 CKR_SESSION_CLOSED,
                                 CKR_BUFFER_TOO_SMALL};
  std::atomic<int> unclean{0};
  std::atomic<CK_RV> first_unclean{CKR_OK};
  auto note = [&](CK_RV rv) {
    if (clean.count(rv) == 0) {
      CK_RV none = CKR_OK;
      first_unclean.compare_exchange_strong(none, rv);
      ++unclean;
    }
  };
  auto worker = [&](unsigned seed) {
    Bytes data = random_bytes(64);
    Bytes out(256);
    CK_MECHANISM sha{CKM_SHA256, nullptr, 0};
    CK_MECHANISM ecdsa{CKM_ECDSA_SHA256, nullptr, 0};
    Bytes iv = random_bytes(16);
    CK_MECHANISM cbc{CKM_AES_CBC_PAD, iv.data(), iv.size()};
    for (int i = 0; i < 1500; ++i) {
      seed = seed * 1103515245u + 12345u;
      const CK_SESSION_HANDLE h = shared.load();
      CK_ULONG len = out.size();
      switch ((seed >> 16) % 13) {
        case 0: note(p11->C_DigestInit(h, &sha)); break;
        case 1: note(p11->C_DigestUpdate(h, data.data(), data.size())); break;
        case 2: note(p11->C_DigestFinal(h, out.data(), &len)); break;
        case 3: note(p11->C_Digest(h, data.data(), data.size(), out.data(), &len)); break;
        case 4: note(p11->C_SignInit(h, &ecdsa, ec.priv)); break;
        case 5: note(p11->C_SignUpdate(h, data.data(), data.size())); break;
        case 6: note(p11->C_SignFinal(h, out.data(), &len)); break;
        case 7: note(p11->C_EncryptInit(h, &cbc, aes)); break;
        case 8: note(p11->C_EncryptUpdate(h, data.data(), data.size(), out.data(), &len)); break;
        case 9: note(p11->C_EncryptFinal(h, out.data(), &len)); break;
        case 10: note(p11->C_DecryptInit(h, &cbc, aes)); break;
        case 11: note(p11->C_DecryptUpdate(h, data.data(), data.size(), out.data(), &len)); break;
        default:
          if ((seed >> 8) % 8 == 0) {
            const CK_RV rv = p11->C_CloseSession(h);
            note(rv);
            CK_SESSION_HANDLE fresh = 0;
            if (rv == CKR_OK) {
              ASSERT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &fresh), CKR_OK);
              const CK_RV in = login(fresh);
              EXPECT_TRUE(in == CKR_OK || in == CKR_USER_ALREADY_LOGGED_IN) << std::hex << in;
              CK_SESSION_HANDLE expected = h;
              if (!shared.compare_exchange_strong(expected, fresh)) {
                EXPECT_EQ(p11->C_CloseSession(fresh), CKR_OK);
              }
            }
          }
          break;
      }
    }
  };
  std::thread a(worker, 1u);
  std::thread b(worker, 2u);
  a.join();
  b.join();
  EXPECT_EQ(unclean.load(), 0) << "first unclean code 0x" << std::hex << first_unclean.load();
  // The session that is left is usable from one thread.
  const CK_SESSION_HANDLE h = shared.load();
  CK_MECHANISM sha{CKM_SHA256, nullptr, 0};
  if (p11->C_DigestInit(h, &sha) == CKR_OPERATION_ACTIVE) {
    Bytes d(64);
    CK_ULONG len = d.size();
    (void)p11->C_DigestFinal(h, d.data(), &len);
    (void)p11->C_SignFinal(h, d.data(), &len);
    (void)p11->C_EncryptFinal(h, d.data(), &len);
    (void)p11->C_DecryptFinal(h, d.data(), &len);
  } else {
    Bytes d(64);
    CK_ULONG len = d.size();
    (void)p11->C_DigestFinal(h, d.data(), &len);
  }
  digest_once(h);
  sign_once(h);
  encrypt_once(h);
  EXPECT_EQ(p11->C_CloseSession(h), CKR_OK);
}

// Each allocation of an Init made to fail in turn: the Init fails with a
// standard code (or succeeds), and the session then runs a whole operation
// of the same kind; no core operation is left behind to refuse it.
TEST_F(OperationState, AllocationFailureAtEachStepOfAnInitLeavesTheSessionUsable) {
  make_keys();
  Bytes iv = random_bytes(16);
  CK_MECHANISM ecdsa{CKM_ECDSA_SHA256, nullptr, 0};
  CK_MECHANISM cbc{CKM_AES_CBC_PAD, iv.data(), iv.size()};
  CK_MECHANISM pkcs1{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM sha{CKM_SHA256, nullptr, 0};
  Bytes out(512);
  CK_ULONG len = 0;
  struct Case {
    const char* name;
    std::function<CK_RV()> init;
    std::function<void()> end;   // ends an operation the Init started (any result)
    std::function<void()> once;  // a whole operation of the kind, from its Init
  };
  const std::vector<Case> cases = {
      {"sign", [&] { return p11->C_SignInit(s, &ecdsa, ec.priv); },
       [&] { (void)p11->C_SignFinal(s, out.data(), &(len = out.size())); }, [&] { sign_once(s); }},
      {"verify", [&] { return p11->C_VerifyInit(s, &ecdsa, ec.pub); },
       [&] { (void)p11->C_VerifyFinal(s, out.data(), 64); }, [&] { sign_once(s); }},
      {"encrypt", [&] { return p11->C_EncryptInit(s, &cbc, aes); },
       [&] { (void)p11->C_EncryptFinal(s, out.data(), &(len = out.size())); }, [&] { encrypt_once(s); }},
      {"rsa decrypt", [&] { return p11->C_DecryptInit(s, &pkcs1, rsa.priv); },
       [&] { (void)p11->C_Decrypt(s, out.data(), 256, out.data(), &(len = out.size())); }, [&] { rsa_once(s); }},
      {"digest", [&] { return p11->C_DigestInit(s, &sha); },
       [&] { (void)p11->C_DigestFinal(s, out.data(), &(len = out.size())); }, [&] { digest_once(s); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const long failures = sweep_allocation_failures(c.init, [&](CK_RV rv, bool failed) {
      if (rv == CKR_OK) {
        c.end();
      } else {
        EXPECT_TRUE(failed) << std::hex << rv;
        // Whatever code the layer that ran out reports, it is no claim that
        // an operation runs.
        EXPECT_NE(rv, CKR_OPERATION_ACTIVE);
        EXPECT_NE(rv, CKR_FUNCTION_NOT_PARALLEL);
      }
      // Neither the module nor the core keeps an operation that refuses the
      // next Init.
      c.once();
    });
    // Every Init but the digest's (whose state lives in the core session)
    // reads its key into memory of its own.
    if (std::string(c.name) != "digest") {
      EXPECT_GT(failures, 0);
    }
  }
}

// A session's operation ends with the session, however the session ends: a
// decryption's result kept for its caller (after a length query) is wiped
// and released with it, and the sessions opened next start with no
// operation. The kept result is looked for in the heap blocks allocated
// since the operation began that are still live.
TEST_F(OperationState, AnOperationEndsWithItsSessionHoweverItEnds) {
  make_keys();
  // An RSA pair on the token, so that every session of the token has it.
  Keys keys(p11, s);
  std::vector<Attr> pub = {attr_ulong(CKA_MODULUS_BITS, 1024), {CKA_PUBLIC_EXPONENT, unhex("010001")},
                           attr_bool(CKA_ENCRYPT, true), attr_bool(CKA_TOKEN, true)};
  std::vector<Attr> priv = {attr_bool(CKA_DECRYPT, true), attr_bool(CKA_TOKEN, true)};
  const KeyPair token_rsa = keys.pair(CKM_RSA_PKCS_KEY_PAIR_GEN, pub, priv);
  Bytes iv = random_bytes(16);
  CK_MECHANISM cbc{CKM_AES_CBC_PAD, iv.data(), iv.size()};
  CK_MECHANISM pkcs1{CKM_RSA_PKCS, nullptr, 0};
  struct Kind {
    const char* name;
    CK_MECHANISM* mech;
    CK_OBJECT_HANDLE enc_key;
    CK_OBJECT_HANDLE dec_key;
  };
  const std::vector<Kind> kinds = {{"RSA PKCS#1 v1.5", &pkcs1, token_rsa.pub, token_rsa.priv},
                                   {"AES CBC-PAD", &cbc, aes, aes}};
  struct Way {
    const char* name;
    std::function<void(CK_SESSION_HANDLE)> end;
  };
  const std::vector<Way> ways = {
      {"C_CloseSession", [&](CK_SESSION_HANDLE h) { EXPECT_EQ(p11->C_CloseSession(h), CKR_OK); }},
      {"C_CloseAllSessions", [&](CK_SESSION_HANDLE) { EXPECT_EQ(p11->C_CloseAllSessions(0), CKR_OK); }},
      {"C_Finalize", [&](CK_SESSION_HANDLE) {
         EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
         initialize();
       }},
  };
  auto encrypt = [&](CK_SESSION_HANDLE h, const Kind& k, Bytes& plain) {
    Bytes ct(256);
    CK_ULONG len = ct.size();
    EXPECT_EQ(p11->C_EncryptInit(h, k.mech, k.enc_key), CKR_OK);
    EXPECT_EQ(p11->C_Encrypt(h, plain.data(), plain.size(), ct.data(), &len), CKR_OK);
    ct.resize(len);
    return ct;
  };
  for (const Way& way : ways) {
    for (const Kind& k : kinds) {
      SCOPED_TRACE(std::string(way.name) + ", " + k.name);
      const CK_SESSION_HANDLE h = open();
      ASSERT_EQ(login(h), CKR_OK);
      Bytes secret = random_bytes(20);
      Bytes ct = encrypt(h, k, secret);
      Bytes out(256);
      CK_ULONG len = 0;
      {
        const TrackLiveBlocks live;
        ASSERT_EQ(p11->C_DecryptInit(h, k.mech, k.dec_key), CKR_OK);
        // Only the decryption can tell the plaintext's length: it is kept
        // for the call that takes it.
        ASSERT_EQ(p11->C_Decrypt(h, ct.data(), ct.size(), nullptr, &len), CKR_OK);
        EXPECT_EQ(len, secret.size());
        ASSERT_TRUE(live.holds(secret.data(), secret.size()));
        way.end(h);
        ASSERT_TRUE(live.complete());
        EXPECT_FALSE(live.holds(secret.data(), secret.size()));
      }
      // The sessions opened next start with no operation.
      (void)p11->C_CloseSession(s);  // still open after C_CloseSession alone
      s = open();
      ASSERT_EQ(login(s), CKR_OK);
      const CK_SESSION_HANDLE next = open();
      ASSERT_EQ(login(next), CKR_OK);
      for (const CK_SESSION_HANDLE n : {s, next}) {
        len = out.size();
        EXPECT_EQ(p11->C_Decrypt(n, ct.data(), ct.size(), out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
        EXPECT_EQ(p11->C_DecryptFinal(n, out.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
        ASSERT_EQ(p11->C_DecryptInit(n, k.mech, k.dec_key), CKR_OK);
        len = out.size();
        ASSERT_EQ(p11->C_Decrypt(n, ct.data(), ct.size(), out.data(), &len), CKR_OK);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(len)), secret);
      }
      EXPECT_EQ(p11->C_CloseSession(next), CKR_OK);
      if (std::string(way.name) == "C_CloseSession") {
        EXPECT_EQ(p11->C_CloseSession(h), CKR_SESSION_HANDLE_INVALID);
      }
    }
  }
}

}  // namespace
}  // namespace zt
