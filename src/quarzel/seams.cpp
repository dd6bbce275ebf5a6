// The switches of seams.h, all off: the product never sets them.
#include "seams.h"

namespace quarzel::seams {

std::atomic<bool> aes_portable{false};
std::atomic<bool> gcm_narrow{false};
std::atomic<bool> sha_portable{false};
std::atomic<bool> mpbn_portable{false};
std::atomic<bool> mpbn_exp2_model{false};
std::atomic<bool> mpbn_exp2_off{false};
std::atomic<RandomSource> random_source{nullptr};

}  // namespace quarzel::seams
