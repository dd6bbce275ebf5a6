// Software crypto provider: random bytes from a CTR_DRBG seeded by the OS.
#include "swc_internal.h"
#include "quarzel/drbg.h"
#include "quarzel/secure.h"
#include "zeb/backend_codes.h"

namespace {
using zeb::rc::kArguments;
using zeb::rc::kFailed;
// CTR_DRBG requests are at most this long; larger requests are served by
// several requests of one instantiation.
constexpr uint32_t kChunk = DRBG_CTR_MAX_REQUEST_BITS / 8;
}  // namespace

extern "C" uint32_t SWC_Drbg_SEED(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t u32DataLength) {
  if (!swc_session_exists(hSWCryptoSession)) return 0x0B3;
  if (u32DataLength == 0) return 0;
  if (pData == nullptr) return kArguments;
  // A fresh DRBG for this call: 32 entropy bytes and an 8-byte nonce from the
  // OS source. Its state lives on the stack (and is wiped), not in the
  // session's working context, so that drawing random bytes never disturbs a
  // digest in progress.
  quarzel::SecretArray<40> seed;
  if (quarzel_get_random(seed.data(), seed.size()) != 0) return kFailed;
  drbg_ctx_t drbg;
  quarzel::WipeOnExit<drbg_ctx_t> wipe(drbg);
  uint32_t rc = drbg_instantiate(&drbg, DRBG_TYPE_CTR_AES_128_WITH_DF, 32, seed.data(), 8, seed.data() + 32, 0,
                                 nullptr);
  for (uint32_t done = 0; rc == 0 && done < u32DataLength;) {
    const uint32_t n = u32DataLength - done < kChunk ? u32DataLength - done : kChunk;
    rc = drbg_generate(&drbg, 0, nullptr, &n, pData + done);
    done += n;
  }
  (void)drbg_uninstantiate(&drbg);
  return rc;
}
