// One-step AES: the table's Init, Update and Final collect the operation's
// parameters and data on the host, and the Final sends the whole operation as
// one AES command, so the device sees it at once. One operation at a time in
// the process: an Init from another session takes the template over.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "mw/mw_call.h"
#include "quarzel/port.h"
#include "se/middleware.h"

using namespace se;

namespace {

constexpr uint32_t kIvMax = 16;
constexpr uint32_t kKeyMax = 64;
constexpr uint32_t kDataMax = 4096;

struct AES_ONE_STEP_TEMPLATE {
  uint32_t hSession;
  uint32_t AESCipherMode;
  uint32_t AESCipherDir;
  uint32_t AESCipherPadding;
  uint8_t IV[kIvMax];
  uint32_t IVLen;
  uint8_t SwKey[kKeyMax];
  uint32_t SwKeyLen;
  uint8_t data_buf[kDataMax];
  uint32_t data_len;
};

AES_ONE_STEP_TEMPLATE gl_aes_one_step_template{};

void clear_template() { quarzel::secure_wipe(&gl_aes_one_step_template, sizeof gl_aes_one_step_template); }

void overflow_message(const char* func, int line) {
  std::printf("\033[1;31m[%s, %s, Line %d] tarvin: abort memcpy due to buffer overflow!\033[m\n", "zeb_crypto_mw",
              func, line);
}

// Appends a chunk, or refuses it whole when it does not fit.
uint32_t append(const uint8_t* data, uint32_t n, const char* func, int line) {
  AES_ONE_STEP_TEMPLATE& t = gl_aes_one_step_template;
  if (n > kDataMax - t.data_len) {
    overflow_message(func, line);
    return mw::kDataLenRange;
  }
  if (n != 0) {
    if (data == nullptr) return mw::kArgumentsBad;
    std::memcpy(t.data_buf + t.data_len, data, n);
    t.data_len += n;
  }
  return 0;
}

}  // namespace

extern "C" {

// A refused IV or key leaves no operation behind: the template is empty.
uint32_t FWC_AesInit_mw(uint32_t hSession, uint8_t AESCipherMode, uint8_t AESCipherDir, uint8_t AESCipherPadding,
                        uint8_t* IV, uint32_t IVLen, uint8_t* SwKey, uint32_t SwKeyLen) {
  std::lock_guard lock(mw::channel_lock());
  // Data left by an operation that never reached its Final is discarded.
  clear_template();
  AES_ONE_STEP_TEMPLATE& t = gl_aes_one_step_template;
  if (IVLen > kIvMax || SwKeyLen > kKeyMax) {
    overflow_message(__func__, __LINE__);
    return mw::kArgumentsBad;
  }
  if ((IV == nullptr && IVLen != 0) || (SwKey == nullptr && SwKeyLen != 0)) return mw::kArgumentsBad;
  t.hSession = hSession;
  t.AESCipherMode = AESCipherMode;
  t.AESCipherDir = AESCipherDir;
  t.AESCipherPadding = AESCipherPadding;
  if (IVLen != 0) std::memcpy(t.IV, IV, IVLen);
  t.IVLen = IVLen;
  if (SwKeyLen != 0) std::memcpy(t.SwKey, SwKey, SwKeyLen);
  t.SwKeyLen = SwKeyLen;
  return 0;
}

// Never produces output: everything comes out of the Final.
uint32_t FWC_AesUpdate_mw(uint32_t hSession, uint8_t* Data, uint32_t DataLen, uint8_t* /*DataOut*/,
                          uint32_t* pDataOutLen) {
  std::lock_guard lock(mw::channel_lock());
  if (hSession != gl_aes_one_step_template.hSession) return mw::kNotInitialized;
  if (uint32_t rv = append(Data, DataLen, __func__, __LINE__); rv != 0) return rv;
  if (pDataOutLen != nullptr) *pDataOutLen = 0;
  return 0;
}

// *pDataOutLen is the room of DataOut: the output of the whole operation
// must fit it. The template is emptied whatever the command gives.
uint32_t FWC_AesFinal_mw(uint32_t hSession, uint8_t* Data, uint32_t DataLen, uint8_t* DataOut,
                         uint32_t* pDataOutLen) {
  std::lock_guard lock(mw::channel_lock());
  AES_ONE_STEP_TEMPLATE& t = gl_aes_one_step_template;
  if (hSession != t.hSession) return mw::kNotInitialized;
  uint32_t rv = append(Data, DataLen, __func__, __LINE__);
  if (rv == 0) {
    rv = FWC_AesCrypt_mw(t.hSession, static_cast<uint8_t>(t.AESCipherMode), static_cast<uint8_t>(t.AESCipherDir),
                         static_cast<uint8_t>(t.AESCipherPadding), t.IV, t.IVLen, t.SwKey, t.SwKeyLen, t.data_buf,
                         t.data_len, DataOut, pDataOutLen);
  }
  clear_template();
  return rv;
}

}  // extern "C"
