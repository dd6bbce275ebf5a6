// Test seams of the primitive library (see quarzel/testing.h).
#include "quarzel/testing.h"

#include "ec/engine.h"
#include "seams.h"

namespace quarzel::testing {

namespace {

// Every curve with arithmetic (ecc_crv_t ids).
constexpr uint32_t kEngineCurves[] = {17, 18, 19, 20, 34, 67, 69, 70};

// The groups are built mutable, once per process; the registry hands them
// out read-only to the product.
void force_portable_ec(bool on) {
  for (uint32_t id : kEngineCurves)
    if (const ec::ecpi_group_t* grp = nullptr; ec::ecpi_group_load_and_alloc(&grp, id) == 0)
      const_cast<ec::ecpi_group_t*>(grp)->force_portable(on);
}
void force_general_ec(bool on) {
  for (uint32_t id : kEngineCurves)
    if (const ec::ecpi_group_t* grp = nullptr; ec::ecpi_group_load_and_alloc(&grp, id) == 0)
      const_cast<ec::ecpi_group_t*>(grp)->force_general(on);
}

}  // namespace

void force_portable(Path path, bool on) {
  switch (path) {
    case Path::aes: seams::aes_portable.store(on, std::memory_order_relaxed); break;
    case Path::gcm_vaes: seams::gcm_narrow.store(on, std::memory_order_relaxed); break;
    case Path::sha: seams::sha_portable.store(on, std::memory_order_relaxed); break;
    case Path::mpbn: seams::mpbn_portable.store(on, std::memory_order_relaxed); break;
    case Path::mpbn_exp2: seams::mpbn_exp2_model.store(on, std::memory_order_relaxed); break;
    case Path::mpbn_ifma: seams::mpbn_exp2_off.store(on, std::memory_order_relaxed); break;
    case Path::ec: force_portable_ec(on); break;
    case Path::ec_general: force_general_ec(on); break;
  }
}

void set_random_source(RandomSource source) { seams::random_source.store(source); }

}  // namespace quarzel::testing
