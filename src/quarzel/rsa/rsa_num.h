// Big-number helpers of the RSA sources: owned handles that wipe themselves,
// read-only views of caller buffers, byte-string comparisons.
#pragma once

#include <cstdint>

#include "quarzel/mpi.h"
#include "quarzel/rsa_key.h"

// Ends the calling routine with (fn << 16) | the core code when `expr` fails.
#define RSA_TRY_CORE(fn, expr)                                  \
  do {                                                          \
    if (const core_ret_t rsa_c_ = (expr); rsa_c_ != 0) {        \
      return rsa_err_core((fn), rsa_c_);                        \
    }                                                           \
  } while (0)

// Ends the calling routine with `expr`'s word when it is not 0.
#define RSA_TRY(expr)                                            \
  do {                                                           \
    if (const quarzel_ret_t rsa_r_ = (expr); rsa_r_ != 0) {      \
      return rsa_r_;                                             \
    }                                                            \
  } while (0)

namespace quarzel::rsa {

// An owned big-endian number; its buffer is wiped and released with it.
class Num {
 public:
  Num() = default;
  ~Num() { mpi_free(&m_); }
  Num(const Num&) = delete;
  Num& operator=(const Num&) = delete;

  // Zero of `size` bytes.
  [[nodiscard]] core_ret_t alloc(uint32_t size) {
    if (const core_ret_t r = mpi_alloc(&m_, size); r != 0) return r;
    return mpi_set_zero(&m_, MPI_ENDIAN_MF_U8);
  }
  // Copy of `size` bytes at `src`.
  [[nodiscard]] core_ret_t alloc_copy(uint32_t size, const uint8_t* src) {
    if (const core_ret_t r = mpi_alloc(&m_, size); r != 0) return r;
    return mpi_set_value(&m_, MPI_ENDIAN_MF_U8, size, src);
  }
  mpi_t* get() { return &m_; }
  const mpi_t* get() const { return &m_; }
  uint8_t* data() { return m_.ptr_value; }
  const uint8_t* data() const { return m_.ptr_value; }
  uint32_t size() const { return m_.size; }

 private:
  mpi_t m_ = mpi_default;
};

// A heap working buffer (zero-filled), wiped when released.
class Buf {
 public:
  Buf() = default;
  ~Buf() {
    if (p_ != nullptr) {
      secure_wipe(p_, n_);
      void* v = p_;
      quarzel_mem_dealloc(&v);
    }
  }
  Buf(const Buf&) = delete;
  Buf& operator=(const Buf&) = delete;
  [[nodiscard]] bool alloc(uint32_t n) {
    void* v = nullptr;
    if (quarzel_mem_alloc(&v, n) != 0) return false;
    p_ = static_cast<uint8_t*>(v);
    n_ = n;
    return true;
  }
  uint8_t* data() { return p_; }
  const uint8_t* data() const { return p_; }
  uint32_t size() const { return n_; }

 private:
  uint8_t* p_ = nullptr;
  uint32_t n_ = 0;
};

// A public key derived from a private key, released with the object.
class DerivedPubKey {
 public:
  DerivedPubKey() = default;
  ~DerivedPubKey() { (void)rsa_pubkey_value_free(&k_); }
  DerivedPubKey(const DerivedPubKey&) = delete;
  DerivedPubKey& operator=(const DerivedPubKey&) = delete;
  [[nodiscard]] quarzel_ret_t derive(const rsa_prikey_t* prikey);
  const rsa_pubkey_t* get() const { return &k_; }

 private:
  rsa_pubkey_t k_{};
};

// A handle over a caller's big-endian buffer. The mpi operations only read
// their operands, so constant buffers may be viewed this way.
inline mpi_t view(uint32_t size, const uint8_t* p) {
  mpi_t m = mpi_default;
  (void)mpi_mapping(&m, MPI_ENDIAN_MF_U8, size, const_cast<uint8_t*>(p));
  return m;
}

// Big-endian comparison of two strings of `len` bytes: -1, 0 or 1. Used on
// public values only (it stops at the first difference).
int cmp_be_vartime(const uint8_t* a, const uint8_t* b, uint32_t len);
// True when the big-endian string is 0 or 1.
bool is_zero_or_one_vartime(const uint8_t* a, uint32_t len);

// n of a private key: its own n when present, else p * q into `work`.
// On success *n points at L bytes.
quarzel_ret_t prikey_modulus(const rsa_prikey_t* prikey, uint32_t fn, Num& work, const uint8_t** n);

// out = in^e mod n of a usable public key whose fields have their sizes,
// without range checks: in may be a secret (a recovered block re-encrypted
// for checking), and nothing here branches on it.
[[nodiscard]] quarzel_ret_t public_power(const rsa_pubkey_t* k, const uint8_t* in, uint8_t* out);

}  // namespace quarzel::rsa
