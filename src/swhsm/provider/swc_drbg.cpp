// Software crypto provider: random bytes from the session's CTR_DRBG, seeded
// by the OS.
#include <pthread.h>

#include <atomic>
#include <mutex>

#include "swc_internal.h"
#include "swc_work.h"
#include "quarzel/drbg.h"
#include "quarzel/secure.h"
#include "zeb/backend_codes.h"

namespace {
using zeb::rc::kArguments;
using zeb::rc::kFailed;
using zeb::rc::kSessionHandle;

// CTR_DRBG requests are at most this long; larger draws are served by several
// requests of one instantiation.
constexpr uint32_t kChunk = DRBG_CTR_MAX_REQUEST_BITS / 8;
// Requests between reseedings from the OS source.
constexpr uint64_t kReseedEvery = 1u << 20;
static_assert(kReseedEvery < DRBG_RESEED_INTERVAL);

// Counts fork()s in this process's line: a generator made under another
// count was inherited from a parent.
std::atomic<uint64_t> g_fork_generation{0};
std::once_flag g_fork_hook;

void on_fork_child() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

// 32 entropy bytes and an 8-byte nonce from the OS source.
uint32_t instantiate(swc::SessionRandom& r) {
  quarzel::SecretArray<40> seed;
  r.ready = false;
  if (quarzel_get_random(seed.data(), seed.size()) != 0) return kFailed;
  const uint32_t rc =
      drbg_instantiate(&r.drbg, DRBG_TYPE_CTR_AES_128_WITH_DF, 32, seed.data(), 8, seed.data() + 32, 0, nullptr);
  if (rc != 0) return rc;
  r.requests = 0;
  r.fork_generation = g_fork_generation.load(std::memory_order_relaxed);
  r.ready = true;
  return 0;
}

uint32_t reseed(swc::SessionRandom& r) {
  quarzel::SecretArray<32> entropy;
  if (quarzel_get_random(entropy.data(), entropy.size()) != 0) return kFailed;
  const uint32_t rc = drbg_reseed(&r.drbg, entropy.size(), entropy.data(), 0, nullptr);
  if (rc == 0) r.requests = 0;
  return rc;
}

uint32_t draw(swc::SessionRandom& r, uint8_t* out, uint32_t len) {
  std::call_once(g_fork_hook, [] { (void)pthread_atfork(nullptr, nullptr, on_fork_child); });
  uint32_t rc = 0;
  if (!r.ready || r.fork_generation != g_fork_generation.load(std::memory_order_relaxed)) {
    rc = instantiate(r);
  } else if (r.requests >= kReseedEvery) {
    rc = reseed(r);
  }
  for (uint32_t done = 0; rc == 0 && done < len;) {
    const uint32_t n = len - done < kChunk ? len - done : kChunk;
    rc = drbg_generate(&r.drbg, 0, nullptr, &n, out + done);
    ++r.requests;
    done += n;
  }
  if (rc != 0) {
    // The generator is in its error state: wipe it; the next draw starts anew.
    (void)drbg_uninstantiate(&r.drbg);
    r.ready = false;
    quarzel::secure_wipe(out, len);
  }
  return rc;
}

}  // namespace

extern "C" uint32_t SWC_Drbg_SEED(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t u32DataLength) {
  const swc::SessionView s = swc::session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (u32DataLength == 0) return 0;
  if (pData == nullptr) return kArguments;
  return draw(*s.random, pData, u32DataLength);
}
