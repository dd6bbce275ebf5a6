// The choice between the two side-by-side exponentiations and the 64-bit
// limb path, and the digit layout they share.
#include <atomic>

#include "mpbn/mpbn_exp2.h"
#include "quarzel/cpu.h"
#include "seams.h"

namespace quarzel::mpbn_detail {
namespace exp2 {

void limbs_to_digits(u64* d, size_t W, const u64* x, size_t L) {
  for (size_t j = 0; j < W; ++j) {
    const size_t bit = 52 * j, limb = bit / 64, shift = bit % 64;
    u64 v = limb < L ? x[limb] >> shift : 0;
    if (shift > 12 && limb + 1 < L) v |= x[limb + 1] << (64 - shift);
    d[j] = v & kMask52;
  }
}

void digits_to_limbs(u64* x, size_t L, const u64* d, size_t W) {
  for (size_t i = 0; i < L; ++i) {
    const size_t bit = 64 * i, j = bit / 52, shift = bit % 52;
    u64 v = j < W ? d[j] >> shift : 0;
    if (j + 1 < W) v |= d[j + 1] << (52 - shift);
    if (shift > 40 && j + 2 < W) v |= d[j + 2] << (104 - shift);
    x[i] = v;
  }
}

}  // namespace exp2

namespace {

bool cpu_has_ifma() {
  static const bool has = cpu_features().avx512ifma;
  return has;
}

}  // namespace

MontExp2Kernel mont_exp2_kernel(size_t L) {
  if (seams::mpbn_exp2_model.load(std::memory_order_relaxed)) return mont_exp2_model(L);
  if (seams::mpbn_portable.load(std::memory_order_relaxed) || seams::mpbn_exp2_off.load(std::memory_order_relaxed) ||
      !cpu_has_ifma()) {
    return {nullptr, 0, "none"};
  }
  return mont_exp2_ifma(L);
}

}  // namespace quarzel::mpbn_detail

namespace quarzel {

const char* mpbn_exp2_kernel_name(size_t limbs) { return mpbn_detail::mont_exp2_kernel(limbs).name; }

}  // namespace quarzel
