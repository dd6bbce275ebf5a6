// PKCS#11 modules side by side, through their function lists: this module,
// Debian's SoftHSMv2 and any other module named on the command line, beside
// the same sequences made directly through the core service (VRK_*).
//
//   bench_p11 [benchmark flags] [--module PATH [--slot N] [--pin PIN] [--name NAME]]...
//
// With no --module, it sets up what it measures in a temporary directory: a
// software HSM with one token for this module and the core, and a SoftHSMv2
// token (SOFTHSM2_CONF) when softhsm2 is installed. A module named on the
// command line is used as it is set up (working directory, environment);
// without --slot it runs on the first slot with a token.
//
// Rows: each row of kModuleRows runs on every module, each row of kCoreRows
// on the core. A new measurement is one function and one line in a table.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <pkcs11/pkcs11.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "zeb/vrk.h"
#include "zeb/vrk_crypto.h"
#include "zeb/vrk_object.h"

namespace {

constexpr char kHsmSn[] = "4711000000000042";
constexpr char kAdminPin[] = "bench-admin-pin-1";
constexpr char kUserPin[] = "bench-user-pin-1";
constexpr char kSoftHsm[] = "/usr/lib/softhsm/libsofthsm2.so";

CK_UTF8CHAR_PTR utf8(const std::string& s) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(s.data())); }
uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

// ---- Modules ----------------------------------------------------------------

struct Module {
  std::string name;
  std::string path;
  std::optional<CK_SLOT_ID> slot;
  std::string pin = kUserPin;
  CK_FUNCTION_LIST* f = nullptr;
};

bool load(Module& m) {
  void* h = dlopen(m.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    std::fprintf(stderr, "bench_p11: cannot load %s: %s\n", m.path.c_str(), dlerror());
    return false;
  }
  auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList"));
  return get != nullptr && get(&m.f) == CKR_OK;
}

// The module initialised for one benchmark run, on its slot.
class Initialised {
 public:
  Initialised(Module& m, benchmark::State& state) : m_(m) {
    ok_ = m.f->C_Initialize(nullptr) == CKR_OK;
    if (ok_ && !m.slot) {
      CK_SLOT_ID slots[16];
      CK_ULONG n = 16;
      ok_ = m.f->C_GetSlotList(CK_TRUE, slots, &n) == CKR_OK && n > 0;
      if (ok_) slot_ = slots[0];
    } else if (ok_) {
      slot_ = *m.slot;
    }
    if (!ok_) state.SkipWithError("module not usable");
  }
  ~Initialised() {
    if (ok_) m_.f->C_Finalize(nullptr);
  }
  bool ok() const { return ok_; }
  CK_SLOT_ID slot() const { return slot_; }
  CK_SESSION_HANDLE open(benchmark::State& state) {
    CK_SESSION_HANDLE s = 0;
    if (m_.f->C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &s) != CKR_OK) {
      state.SkipWithError("C_OpenSession failed");
    }
    return s;
  }

 private:
  Module& m_;
  bool ok_ = false;
  CK_SLOT_ID slot_ = 0;
};

void row_session_life(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  for (auto _ : state) {
    CK_SESSION_HANDLE s = 0;
    CK_RV rv = m.f->C_OpenSession(init.slot(), CKF_SERIAL_SESSION, nullptr, nullptr, &s);
    if (rv == CKR_OK) rv = m.f->C_Login(s, CKU_USER, utf8(m.pin), m.pin.size());
    if (rv == CKR_OK) rv = m.f->C_Logout(s);
    if (rv == CKR_OK) rv = m.f->C_CloseSession(s);
    if (rv != CKR_OK) {
      state.SkipWithError("session sequence failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void row_random32(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  const CK_SESSION_HANDLE s = init.open(state);
  CK_BYTE out[32];
  for (auto _ : state) {
    if (m.f->C_GenerateRandom(s, out, sizeof out) != CKR_OK) {
      state.SkipWithError("C_GenerateRandom failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  m.f->C_CloseSession(s);
}

// ---- Objects ------------------------------------------------------------------

// A read/write session with the user logged in, closed with the holder.
class UserSession {
 public:
  UserSession(Module& m, const Initialised& init, benchmark::State& state) : m_(m) {
    CK_RV rv = m.f->C_OpenSession(init.slot(), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s_);
    if (rv == CKR_OK) rv = m.f->C_Login(s_, CKU_USER, utf8(m.pin), m.pin.size());
    if (rv != CKR_OK) state.SkipWithError("no logged-in read/write session");
    ok_ = rv == CKR_OK;
  }
  ~UserSession() {
    if (s_ != 0) m_.f->C_CloseSession(s_);
  }
  bool ok() const { return ok_; }
  CK_SESSION_HANDLE get() const { return s_; }

 private:
  Module& m_;
  CK_SESSION_HANDLE s_ = 0;
  bool ok_ = false;
};

// The generator of P-256 as an uncompressed point in a DER OCTET STRING: a
// valid public key every module takes.
constexpr CK_BYTE kP256Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr CK_BYTE kP256G[] = {
    0x04, 0x41, 0x04, 0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8, 0xBC, 0xE6, 0xE5, 0x63, 0xA4, 0x40,
    0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4, 0xA1, 0x39, 0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F,
    0xE3, 0x42, 0xE2, 0xFE, 0x1A, 0x7F, 0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C, 0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33,
    0x57, 0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51, 0xF5};

void create_destroy(benchmark::State& state, Module& m, CK_BBOOL token) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  CK_OBJECT_CLASS cls = CKO_DATA;
  CK_BYTE value[64] = {};
  char label[] = "bench-object";
  CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                      {CKA_TOKEN, &token, sizeof token},
                      {CKA_LABEL, label, sizeof label - 1},
                      {CKA_VALUE, value, sizeof value}};
  for (auto _ : state) {
    CK_OBJECT_HANDLE h = 0;
    CK_RV rv = m.f->C_CreateObject(s.get(), t, 4, &h);
    if (rv == CKR_OK) rv = m.f->C_DestroyObject(s.get(), h);
    if (rv != CKR_OK) {
      state.SkipWithError("create or destroy failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
void row_token_object(benchmark::State& state, Module& m) { create_destroy(state, m, CK_TRUE); }
void row_session_object(benchmark::State& state, Module& m) { create_destroy(state, m, CK_FALSE); }

// 500 token data objects (the only ones of the workspace), made once per
// module and left for the following runs of the row.
void row_find_500(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  CK_OBJECT_CLASS data = CKO_DATA;
  CK_BBOOL on_token = CK_TRUE;
  CK_ATTRIBUTE by_class[] = {{CKA_CLASS, &data, sizeof data}, {CKA_TOKEN, &on_token, sizeof on_token}};
  std::vector<CK_OBJECT_HANDLE> found(1000);
  const auto find_all = [&] {
    CK_ULONG n = 0;
    if (m.f->C_FindObjectsInit(s.get(), by_class, 2) != CKR_OK ||
        m.f->C_FindObjects(s.get(), found.data(), found.size(), &n) != CKR_OK ||
        m.f->C_FindObjectsFinal(s.get()) != CKR_OK) {
      return CK_ULONG{0};
    }
    return n;
  };
  for (CK_ULONG have = find_all(); have < 500; ++have) {
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL token = CK_TRUE;
    const std::string label = "bench-find-" + std::to_string(have);
    CK_BYTE value[16] = {};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_TOKEN, &token, sizeof token},
                        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                        {CKA_VALUE, value, sizeof value}};
    CK_OBJECT_HANDLE h = 0;
    if (m.f->C_CreateObject(s.get(), t, 4, &h) != CKR_OK) return state.SkipWithError("cannot make 500 objects");
  }
  for (auto _ : state) {
    if (find_all() != 500) {
      state.SkipWithError("find did not give the 500 objects");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 500);
}

void get_ec_public(benchmark::State& state, Module& m, CK_BBOOL token) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
  CK_KEY_TYPE type = CKK_EC;
  char label[] = "bench-ec";
  CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                      {CKA_KEY_TYPE, &type, sizeof type},
                      {CKA_TOKEN, &token, sizeof token},
                      {CKA_LABEL, label, sizeof label - 1},
                      {CKA_EC_PARAMS, const_cast<CK_BYTE*>(kP256Oid), sizeof kP256Oid},
                      {CKA_EC_POINT, const_cast<CK_BYTE*>(kP256G), sizeof kP256G}};
  CK_OBJECT_HANDLE h = 0;
  if (m.f->C_CreateObject(s.get(), t, 6, &h) != CKR_OK) return state.SkipWithError("cannot make the EC key");
  CK_BYTE point[sizeof kP256G], params[sizeof kP256Oid];
  for (auto _ : state) {
    CK_ATTRIBUTE a[] = {{CKA_EC_POINT, point, sizeof point}, {CKA_EC_PARAMS, params, sizeof params}};
    if (m.f->C_GetAttributeValue(s.get(), h, a, 2) != CKR_OK || a[0].ulValueLen != sizeof kP256G) {
      state.SkipWithError("C_GetAttributeValue failed");
      break;
    }
    benchmark::DoNotOptimize(point);
  }
  state.SetItemsProcessed(state.iterations());
  m.f->C_DestroyObject(s.get(), h);
}
void row_get_ec_public(benchmark::State& state, Module& m) { get_ec_public(state, m, CK_TRUE); }
void row_get_ec_public_session(benchmark::State& state, Module& m) { get_ec_public(state, m, CK_FALSE); }

// ---- Crypto ------------------------------------------------------------------

// Keys for the crypto rows, made in a logged-in session as session objects.
bool ec_pair(Module& m, CK_SESSION_HANDLE s, const std::vector<CK_BYTE>& oid, CK_OBJECT_HANDLE* pub,
             CK_OBJECT_HANDLE* priv) {
  CK_BBOOL yes = CK_TRUE;
  CK_ATTRIBUTE pt[] = {{CKA_EC_PARAMS, const_cast<CK_BYTE*>(oid.data()), oid.size()}, {CKA_VERIFY, &yes, 1}};
  CK_ATTRIBUTE vt[] = {{CKA_SIGN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SENSITIVE, &yes, 1}};
  CK_MECHANISM mech{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
  return m.f->C_GenerateKeyPair(s, &mech, pt, 2, vt, 3, pub, priv) == CKR_OK;
}
bool rsa_pair(Module& m, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv) {
  CK_BBOOL yes = CK_TRUE;
  CK_ULONG bits = 2048;
  CK_BYTE e[] = {1, 0, 1};
  CK_ATTRIBUTE pt[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}, {CKA_PUBLIC_EXPONENT, e, 3}, {CKA_ENCRYPT, &yes, 1}};
  CK_ATTRIBUTE vt[] = {{CKA_DECRYPT, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SENSITIVE, &yes, 1}};
  CK_MECHANISM mech{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  return m.f->C_GenerateKeyPair(s, &mech, pt, 3, vt, 3, pub, priv) == CKR_OK;
}
bool aes256(Module& m, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE* key) {
  CK_BBOOL yes = CK_TRUE;
  CK_ULONG len = 32;
  CK_ATTRIBUTE t[] = {{CKA_VALUE_LEN, &len, sizeof len}, {CKA_ENCRYPT, &yes, 1}, {CKA_DECRYPT, &yes, 1}};
  CK_MECHANISM mech{CKM_AES_KEY_GEN, nullptr, 0};
  return m.f->C_GenerateKey(s, &mech, t, 3, key) == CKR_OK;
}

const std::vector<CK_BYTE> kP256 = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
const std::vector<CK_BYTE> kP384 = {0x06, 0x05, 0x2b, 0x81, 0x04, 0x00, 0x22};
constexpr size_t kBulk = 1 << 20;

bool stop(benchmark::State& state, CK_RV rv, const char* what) {
  if (rv == CKR_OK) return false;
  state.SkipWithError(what);
  return true;
}

void ecdsa_sign(benchmark::State& state, Module& m, const std::vector<CK_BYTE>& oid) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  CK_OBJECT_HANDLE pub = 0, priv = 0;
  if (!s.ok() || !ec_pair(m, s.get(), oid, &pub, &priv)) return state.SkipWithError("no EC key pair");
  CK_BYTE msg[32] = {1, 2, 3};  // a SHA-256 digest
  CK_BYTE sig[132];
  CK_MECHANISM mech{CKM_ECDSA, nullptr, 0};
  for (auto _ : state) {
    CK_ULONG len = sizeof sig;
    CK_RV rv = m.f->C_SignInit(s.get(), &mech, priv);
    if (rv == CKR_OK) rv = m.f->C_Sign(s.get(), msg, sizeof msg, sig, &len);
    if (stop(state, rv, "sign failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}
void row_ecdsa_p256_sign(benchmark::State& state, Module& m) { ecdsa_sign(state, m, kP256); }
void row_ecdsa_p384_sign(benchmark::State& state, Module& m) { ecdsa_sign(state, m, kP384); }

void row_ecdsa_p256_verify(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  CK_OBJECT_HANDLE pub = 0, priv = 0;
  if (!s.ok() || !ec_pair(m, s.get(), kP256, &pub, &priv)) return state.SkipWithError("no EC key pair");
  CK_BYTE msg[32] = {1, 2, 3};  // a SHA-256 digest
  CK_BYTE sig[64];
  CK_ULONG len = sizeof sig;
  CK_MECHANISM mech{CKM_ECDSA, nullptr, 0};
  if (m.f->C_SignInit(s.get(), &mech, priv) != CKR_OK || m.f->C_Sign(s.get(), msg, 32, sig, &len) != CKR_OK) {
    return state.SkipWithError("sign failed");
  }
  for (auto _ : state) {
    CK_RV rv = m.f->C_VerifyInit(s.get(), &mech, pub);
    if (rv == CKR_OK) rv = m.f->C_Verify(s.get(), msg, sizeof msg, sig, len);
    if (stop(state, rv, "verify failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}

void rsa_crypt(benchmark::State& state, Module& m, bool decrypt) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  CK_OBJECT_HANDLE pub = 0, priv = 0;
  if (!s.ok() || !rsa_pair(m, s.get(), &pub, &priv)) return state.SkipWithError("no RSA key pair");
  CK_MECHANISM mech{CKM_RSA_PKCS, nullptr, 0};
  CK_BYTE msg[32] = {7};
  CK_BYTE ct[256], out[256];
  CK_ULONG ct_len = sizeof ct;
  if (m.f->C_EncryptInit(s.get(), &mech, pub) != CKR_OK ||
      m.f->C_Encrypt(s.get(), msg, sizeof msg, ct, &ct_len) != CKR_OK) {
    return state.SkipWithError("encrypt failed");
  }
  for (auto _ : state) {
    CK_ULONG len = sizeof out;
    CK_RV rv = decrypt ? m.f->C_DecryptInit(s.get(), &mech, priv) : m.f->C_EncryptInit(s.get(), &mech, pub);
    if (rv == CKR_OK) {
      rv = decrypt ? m.f->C_Decrypt(s.get(), ct, ct_len, out, &len) : m.f->C_Encrypt(s.get(), msg, 32, out, &len);
    }
    if (stop(state, rv, "RSA failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}
void row_rsa2048_decrypt(benchmark::State& state, Module& m) { rsa_crypt(state, m, true); }
void row_rsa2048_encrypt(benchmark::State& state, Module& m) { rsa_crypt(state, m, false); }

// Key pairs made as session objects and destroyed again.
void row_ec_p256_keygen(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  for (auto _ : state) {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    if (!ec_pair(m, s.get(), kP256, &pub, &priv)) return state.SkipWithError("keygen failed");
    m.f->C_DestroyObject(s.get(), pub);
    m.f->C_DestroyObject(s.get(), priv);
  }
  state.SetItemsProcessed(state.iterations());
}
void row_rsa2048_keygen(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  for (auto _ : state) {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    if (!rsa_pair(m, s.get(), &pub, &priv)) return state.SkipWithError("keygen failed");
    m.f->C_DestroyObject(s.get(), pub);
    m.f->C_DestroyObject(s.get(), priv);
  }
  state.SetItemsProcessed(state.iterations());
}

void row_aes256_cbc_1mib(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  CK_OBJECT_HANDLE key = 0;
  if (!s.ok() || !aes256(m, s.get(), &key)) return state.SkipWithError("no AES key");
  std::vector<CK_BYTE> in(kBulk, 0x5a), out(kBulk + 16);
  CK_BYTE iv[16] = {};
  CK_MECHANISM mech{CKM_AES_CBC_PAD, iv, sizeof iv};
  for (auto _ : state) {
    CK_ULONG len = out.size();
    CK_RV rv = m.f->C_EncryptInit(s.get(), &mech, key);
    if (rv == CKR_OK) rv = m.f->C_Encrypt(s.get(), in.data(), in.size(), out.data(), &len);
    if (stop(state, rv, "encrypt failed")) break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void row_aes256_cbc_decrypt_1mib(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  CK_OBJECT_HANDLE key = 0;
  if (!s.ok() || !aes256(m, s.get(), &key)) return state.SkipWithError("no AES key");
  std::vector<CK_BYTE> in(kBulk, 0x5a), ct(kBulk + 16), out(kBulk + 16);
  CK_BYTE iv[16] = {};
  CK_MECHANISM mech{CKM_AES_CBC_PAD, iv, sizeof iv};
  CK_ULONG ct_len = ct.size();
  if (m.f->C_EncryptInit(s.get(), &mech, key) != CKR_OK ||
      m.f->C_Encrypt(s.get(), in.data(), in.size(), ct.data(), &ct_len) != CKR_OK) {
    return state.SkipWithError("encrypt failed");
  }
  for (auto _ : state) {
    CK_ULONG len = out.size();
    CK_RV rv = m.f->C_DecryptInit(s.get(), &mech, key);
    if (rv == CKR_OK) rv = m.f->C_Decrypt(s.get(), ct.data(), ct_len, out.data(), &len);
    if (stop(state, rv, "decrypt failed")) break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void row_sha256_1mib(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  UserSession s(m, init, state);
  if (!s.ok()) return;
  std::vector<CK_BYTE> in(kBulk, 0x5a);
  CK_BYTE digest[32];
  CK_MECHANISM mech{CKM_SHA256, nullptr, 0};
  for (auto _ : state) {
    CK_ULONG len = sizeof digest;
    CK_RV rv = m.f->C_DigestInit(s.get(), &mech);
    if (rv == CKR_OK) rv = m.f->C_Digest(s.get(), in.data(), in.size(), digest, &len);
    if (stop(state, rv, "digest failed")) break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

struct ModuleRow {
  const char* name;
  void (*run)(benchmark::State&, Module&);
};

const ModuleRow kModuleRows[] = {
    {"open_login_logout_close", row_session_life},
    {"generate_random_32", row_random32},
    {"token_object_create_destroy", row_token_object},
    {"session_object_create_destroy", row_session_object},
    {"find_500_token_objects", row_find_500},
    {"get_attribute_ec_public_key", row_get_ec_public},
    {"get_attribute_ec_public_key_session", row_get_ec_public_session},
    {"ecdsa_p256_sign", row_ecdsa_p256_sign},
    {"ecdsa_p256_verify", row_ecdsa_p256_verify},
    {"ecdsa_p384_sign", row_ecdsa_p384_sign},
    {"rsa2048_decrypt", row_rsa2048_decrypt},
    {"rsa2048_encrypt", row_rsa2048_encrypt},
    {"ec_p256_keypair_gen", row_ec_p256_keygen},
    {"rsa2048_keypair_gen", row_rsa2048_keygen},
    {"aes256_cbc_1mib", row_aes256_cbc_1mib},
    {"aes256_cbc_decrypt_1mib", row_aes256_cbc_decrypt_1mib},
    {"sha256_1mib", row_sha256_1mib},
};

// ---- The core service, for the same sequences -------------------------------

class Core {
 public:
  explicit Core(benchmark::State& state) {
    uint8_t types[VRK_MAX_LISTED_HSMS] = {};
    uint8_t sns[VRK_MAX_LISTED_HSMS][VRK_SN_LEN] = {};
    uint8_t labels[VRK_MAX_LISTED_HSMS][VRK_LABEL_LEN] = {};
    uint32_t n = 0;
    VRK_TKN_USER_LIST list{};
    ok_ = VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &n) == 0 &&
          n > 0 && VRK_SetHsmSnToLoginConfig(sns[0], types[0]) == 0 && VRK_Initialize(&hsm_) == 0 &&
          VRK_ListTokens(hsm_, &list) == 0 && list.TknNum > 0;
    if (ok_) std::memcpy(token_, list.TknId[0], sizeof token_);
    if (!ok_) state.SkipWithError("core not usable (no software HSM with a token)");
  }
  ~Core() {
    if (hsm_ != 0) VRK_Finalize(hsm_);
  }
  bool ok() const { return ok_; }
  VRK_HANDLE hsm() const { return hsm_; }
  uint8_t* token() { return token_; }

 private:
  bool ok_ = false;
  VRK_HANDLE hsm_ = 0;
  uint8_t token_[VRK_ID_LEN] = {};
};

void core_session_life(benchmark::State& state) {
  Core core(state);
  if (!core.ok()) return;
  const uint32_t len = std::strlen(kUserPin);
  for (auto _ : state) {
    VRK_HANDLE s = 0;
    VRK_RV rv = VRK_OpenTokenSession(core.hsm(), core.token(), &s);
    if (rv == 0) rv = VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), len);
    if (rv == 0) rv = VRK_LogoutTokenNormalUser(s);
    if (rv == 0) rv = VRK_CloseTokenSession(s);
    if (rv != 0) {
      state.SkipWithError("session sequence failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void core_random32(benchmark::State& state) {
  Core core(state);
  if (!core.ok()) return;
  VRK_HANDLE s = 0;
  if (VRK_OpenTokenSession(core.hsm(), core.token(), &s) != 0) return state.SkipWithError("no session");
  uint8_t out[32];
  for (auto _ : state) {
    if (VRK_GenerateRandom(s, sizeof out, out) != 0) {
      state.SkipWithError("VRK_GenerateRandom failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  VRK_CloseTokenSession(s);
}

// ---- Crypto rows through the core --------------------------------------------

// A core session logged in as the token user, with key objects in buffers.
class CoreUser {
 public:
  CoreUser(Core& core, benchmark::State& state) {
    ok_ = core.ok() && VRK_OpenTokenSession(core.hsm(), core.token(), &s_) == 0 &&
          VRK_LoginTokenNormalUserByPin(s_, u8(kUserPin), std::strlen(kUserPin)) == 0;
    if (!ok_) state.SkipWithError("no logged-in core session");
  }
  ~CoreUser() {
    if (s_ != 0) VRK_CloseTokenSession(s_);
  }
  bool ok() const { return ok_; }
  VRK_HANDLE get() const { return s_; }

 private:
  VRK_HANDLE s_ = 0;
  bool ok_ = false;
};

struct CoreKeyPair {
  std::vector<uint8_t> priv = std::vector<uint8_t>(8192), pub = std::vector<uint8_t>(8192);
  uint32_t priv_len = 8192, pub_len = 8192;
};
uint8_t kBenchId[] = "bench-id";
uint8_t kBenchLabel[] = "bench-label";

bool core_ec_pair(VRK_HANDLE s, uint8_t curve, CoreKeyPair& k) {
  k.priv_len = k.pub_len = 8192;
  return VRK_ECGenerateKeyPair(s, curve, kBenchId, kBenchLabel, k.priv.data(), &k.priv_len, k.pub.data(),
                               &k.pub_len) == 0;
}
bool core_rsa_pair(VRK_HANDLE s, CoreKeyPair& k) {
  k.priv_len = k.pub_len = 8192;
  return VRK_RSAGenerateKeyPair(s, 2048, 65537, kBenchId, kBenchLabel, k.priv.data(), &k.priv_len, k.pub.data(),
                                &k.pub_len) == 0;
}

void core_ecdsa_sign(benchmark::State& state, uint8_t curve) {
  Core core(state);
  CoreUser s(core, state);
  CoreKeyPair k;
  if (!s.ok() || !core_ec_pair(s.get(), curve, k)) return state.SkipWithError("no EC key pair");
  uint8_t msg[32] = {1, 2, 3};
  uint8_t sig[144];
  for (auto _ : state) {
    uint32_t len = sizeof sig;
    int rv = VRK_ECDSASignInit(s.get(), NO_HASH_TYPE, k.priv.data(), k.priv_len);
    if (rv == 0) rv = VRK_ECDSASign(s.get(), msg, sizeof msg, sig, &len);
    if (stop(state, static_cast<CK_RV>(rv), "sign failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}
void core_ecdsa_p256_sign(benchmark::State& state) { core_ecdsa_sign(state, 18); }
void core_ecdsa_p384_sign(benchmark::State& state) { core_ecdsa_sign(state, 19); }

void core_ecdsa_p256_verify(benchmark::State& state) {
  Core core(state);
  CoreUser s(core, state);
  CoreKeyPair k;
  if (!s.ok() || !core_ec_pair(s.get(), 18, k)) return state.SkipWithError("no EC key pair");
  uint8_t msg[32] = {1, 2, 3};
  uint8_t sig[64];
  uint32_t len = sizeof sig;
  if (VRK_ECDSASignInit(s.get(), NO_HASH_TYPE, k.priv.data(), k.priv_len) != 0 ||
      VRK_ECDSASign(s.get(), msg, sizeof msg, sig, &len) != 0) {
    return state.SkipWithError("sign failed");
  }
  for (auto _ : state) {
    int rv = VRK_ECDSAVerifyInit(s.get(), NO_HASH_TYPE, k.pub.data(), k.pub_len);
    if (rv == 0) rv = VRK_ECDSAVerify(s.get(), msg, sizeof msg, sig, len);
    if (stop(state, static_cast<CK_RV>(rv), "verify failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}

void core_rsa_crypt(benchmark::State& state, bool decrypt) {
  Core core(state);
  CoreUser s(core, state);
  CoreKeyPair k;
  if (!s.ok() || !core_rsa_pair(s.get(), k)) return state.SkipWithError("no RSA key pair");
  uint8_t msg[32] = {7};
  uint8_t ct[256], out[256];
  uint32_t ct_len = sizeof ct;
  if (VRK_RSAEncryptInit(s.get(), k.pub.data(), k.pub_len) != 0 ||
      VRK_RSAEncrypt(s.get(), msg, sizeof msg, ct, &ct_len) != 0) {
    return state.SkipWithError("encrypt failed");
  }
  for (auto _ : state) {
    uint32_t len = sizeof out;
    int rv = decrypt ? VRK_RSADecryptInit(s.get(), k.priv.data(), k.priv_len)
                     : VRK_RSAEncryptInit(s.get(), k.pub.data(), k.pub_len);
    if (rv == 0) rv = decrypt ? VRK_RSADecrypt(s.get(), ct, ct_len, out, &len) : VRK_RSAEncrypt(s.get(), msg, 32, out, &len);
    if (stop(state, static_cast<CK_RV>(rv), "RSA failed")) break;
  }
  state.SetItemsProcessed(state.iterations());
}
void core_rsa2048_decrypt(benchmark::State& state) { core_rsa_crypt(state, true); }
void core_rsa2048_encrypt(benchmark::State& state) { core_rsa_crypt(state, false); }

// Key pairs kept as session objects and deleted again, as the module does.
void core_keygen(benchmark::State& state, bool rsa) {
  Core core(state);
  CoreUser s(core, state);
  if (!s.ok()) return;
  CoreKeyPair k;
  for (auto _ : state) {
    if (!(rsa ? core_rsa_pair(s.get(), k) : core_ec_pair(s.get(), 18, k))) return state.SkipWithError("keygen");
    uint32_t hpriv = 0, hpub = 0;
    if (VRK_CacheSessionObject(s.get(), k.priv.data(), k.priv_len, &hpriv) != 0 ||
        VRK_CacheSessionObject(s.get(), k.pub.data(), k.pub_len, &hpub) != 0) {
      return state.SkipWithError("cache failed");
    }
    VRK_DeleteSessionObject(s.get(), hpriv);
    VRK_DeleteSessionObject(s.get(), hpub);
  }
  state.SetItemsProcessed(state.iterations());
}
void core_ec_p256_keygen(benchmark::State& state) { core_keygen(state, false); }
void core_rsa2048_keygen(benchmark::State& state) { core_keygen(state, true); }

void core_aes256_cbc_1mib(benchmark::State& state) {
  Core core(state);
  CoreUser s(core, state);
  std::vector<uint8_t> key(512);
  uint32_t key_len = key.size();
  if (!s.ok() || VRK_GenerateKey(s.get(), 3, kBenchId, kBenchLabel, key.data(), &key_len) != 0) {
    return state.SkipWithError("no AES key");
  }
  std::vector<uint8_t> in(kBulk, 0x5a), out(kBulk + 16);
  uint8_t iv[16] = {};
  for (auto _ : state) {
    uint32_t n = out.size();
    int rv = VRK_AesInit(s.get(), 2, 2, 3, iv, sizeof iv, key.data(), key_len);
    if (rv == 0) rv = VRK_AesUpdate(s.get(), in.data(), in.size(), out.data(), &n);
    uint32_t f = out.size() - n;
    if (rv == 0) rv = VRK_AesFinal(s.get(), out.data() + n, &f);
    if (stop(state, static_cast<CK_RV>(rv), "AES failed")) break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

void core_sha256_1mib(benchmark::State& state) {
  Core core(state);
  CoreUser s(core, state);
  if (!s.ok()) return;
  std::vector<uint8_t> in(kBulk, 0x5a);
  uint8_t digest[32];
  for (auto _ : state) {
    uint32_t len = sizeof digest;
    int rv = VRK_DigestInit(s.get(), 9);
    if (rv == 0) rv = VRK_Digest(s.get(), in.data(), in.size(), digest, &len);
    if (stop(state, static_cast<CK_RV>(rv), "digest failed")) break;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBulk));
}

struct CoreRow {
  const char* name;
  void (*run)(benchmark::State&);
};

const CoreRow kCoreRows[] = {
    {"open_login_logout_close", core_session_life},
    {"generate_random_32", core_random32},
    {"ecdsa_p256_sign", core_ecdsa_p256_sign},
    {"ecdsa_p256_verify", core_ecdsa_p256_verify},
    {"ecdsa_p384_sign", core_ecdsa_p384_sign},
    {"rsa2048_decrypt", core_rsa2048_decrypt},
    {"rsa2048_encrypt", core_rsa2048_encrypt},
    {"ec_p256_keypair_gen", core_ec_p256_keygen},
    {"rsa2048_keypair_gen", core_rsa2048_keygen},
    {"aes256_cbc_1mib", core_aes256_cbc_1mib},
    {"sha256_1mib", core_sha256_1mib},
};

// ---- Set-up of the default run --------------------------------------------------

int run(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A temporary working directory with a software HSM, one token made through
// the core, and a SoftHSMv2 token beside them; removed at the end.
class Workspace {
 public:
  Workspace() {
    char tmpl[] = "/tmp/zeb-bench-p11-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    ready_ = run({"bash", ZEB_NEW_SWHSM, dir_.string(), "--sn", kHsmSn, "--admin-pin", kAdminPin}) == 0 && make_token();
  }
  ~Workspace() {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  bool ready() const { return ready_; }

  // A SoftHSMv2 token under this directory; false when softhsm2 is missing.
  bool softhsm_token() {
    if (access(kSoftHsm, R_OK) != 0) return false;
    std::filesystem::create_directory(dir_ / "softhsm");
    const auto conf = dir_ / "softhsm2.conf";
    std::ofstream(conf) << "directories.tokendir = " << (dir_ / "softhsm").string()
                        << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    return run({"softhsm2-util", "--init-token", "--free", "--label", "zeb-bench", "--so-pin", kUserPin, "--pin",
                kUserPin}) == 0;
  }

 private:
  static bool make_token() {
    uint8_t types[VRK_MAX_LISTED_HSMS] = {};
    uint8_t sns[VRK_MAX_LISTED_HSMS][VRK_SN_LEN] = {};
    uint8_t labels[VRK_MAX_LISTED_HSMS][VRK_LABEL_LEN] = {};
    uint32_t n = 0;
    VRK_HANDLE hsm = 0, s = 0;
    uint8_t id[VRK_ID_LEN] = {};
    bool ok = VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &n) == 0 &&
              n > 0 && VRK_SetHsmSnToLoginConfig(sns[0], types[0]) == 0 && VRK_Initialize(&hsm) == 0;
    if (!ok) return false;
    ok = VRK_OpenHsmSession(hsm, &s) == 0 && VRK_LoginHsmAdminByPin(s, u8(kAdminPin), std::strlen(kAdminPin)) == 0 &&
         VRK_CreateTknByPin(s, u8(kUserPin), std::strlen(kUserPin), id) == 0;
    if (s != 0) VRK_CloseHsmSession(s);
    VRK_Finalize(hsm);
    return ok;
  }

  std::filesystem::path dir_, old_;
  bool ready_ = false;
};

std::vector<Module> parse_modules(int argc, char** argv) {
  std::vector<Module> mods;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--module" && has_value) {
      Module m;
      m.path = argv[++i];
      m.name = std::filesystem::path(m.path).stem().string();
      mods.push_back(m);
    } else if (!mods.empty() && a == "--slot" && has_value) {
      mods.back().slot = std::strtoul(argv[++i], nullptr, 0);
    } else if (!mods.empty() && a == "--pin" && has_value) {
      mods.back().pin = argv[++i];
    } else if (!mods.empty() && a == "--name" && has_value) {
      mods.back().name = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [benchmark flags] [--module PATH [--slot N] [--pin PIN] [--name NAME]]...\n",
                   argv[0]);
      std::exit(2);
    }
  }
  return mods;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<Module> modules = parse_modules(argc, argv);
  std::optional<Workspace> ws;
  if (modules.empty()) {
    ws.emplace();
    if (!ws->ready()) {
      std::fprintf(stderr, "bench_p11: cannot set up a software HSM\n");
      return 1;
    }
    modules.push_back(Module{.name = "zebp11", .path = ZEB_P11_MODULE, .slot = {}});
    if (ws->softhsm_token()) modules.push_back(Module{.name = "softhsm2", .path = kSoftHsm, .slot = {}});
  }
  for (auto& m : modules) {
    if (!load(m)) return 1;
  }
  // Row by row, the core first and then each module, so that the figures to
  // compare stand together.
  for (const auto& r : kModuleRows) {
    for (const auto& c : kCoreRows) {
      if (ws && std::strcmp(c.name, r.name) == 0) {
        benchmark::RegisterBenchmark((std::string("vrk/") + c.name).c_str(), c.run)->UseRealTime();
      }
    }
    for (auto& m : modules) {
      benchmark::RegisterBenchmark((m.name + "/" + r.name).c_str(), [&m, run = r.run](benchmark::State& s) {
        run(s, m);
      })->UseRealTime();
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
