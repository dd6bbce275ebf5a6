// Run-time choice of the SHA-1 / SHA-256 block functions.
#include <atomic>

#include "hash/internal.h"
#include "seams.h"

#include "quarzel/cpu.h"

namespace quarzel {
namespace {

std::atomic<bool>& g_force_portable = seams::sha_portable;

bool detect_sha_ni() noexcept {
#if defined(QUARZEL_HAVE_SHA_NI)
  const CpuFeatures& cpu = cpu_features();
  return cpu.ssse3 && cpu.sse41 && cpu.sha;
#else
  return false;
#endif
}

}  // namespace

bool cpu_has_sha_ni() noexcept {
  static const bool has = detect_sha_ni();
  return has;
}

namespace {
bool use_sha_ni() noexcept { return cpu_has_sha_ni() && !g_force_portable.load(std::memory_order_relaxed); }
}  // namespace

ShaImpl sha_impl_of(const hash_ctx_t& ctx) noexcept {
#if defined(QUARZEL_HAVE_SHA_NI)
  switch (ctx.hash_type) {
    case HASH_TYPE_SHA1:
      return ctx.subctx.sha1.compress == &hash::sha1_compress_shani ? ShaImpl::sha_ni : ShaImpl::portable;
    case HASH_TYPE_SHA2_224:
    case HASH_TYPE_SHA2_256:
      return ctx.subctx.sha256.compress == &hash::sha256_compress_shani ? ShaImpl::sha_ni : ShaImpl::portable;
    default:
      break;
  }
#else
  (void)ctx;
#endif
  return ShaImpl::portable;
}

namespace hash {

sha1_compress_fn select_sha1_compress() noexcept {
#if defined(QUARZEL_HAVE_SHA_NI)
  if (use_sha_ni()) return &sha1_compress_shani;
#endif
  return &sha1_compress_portable;
}

sha256_compress_fn select_sha256_compress() noexcept {
#if defined(QUARZEL_HAVE_SHA_NI)
  if (use_sha_ni()) return &sha256_compress_shani;
#endif
  return &sha256_compress_portable;
}

}  // namespace hash
}  // namespace quarzel
