// Constant-time arithmetic of key generation on the secret primes.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::rsa {

// n = p q (L bytes, made public) and d = 65537^-1 mod lcm(p - 1, q - 1)
// (L bytes) from the primes (H bytes each).
[[nodiscard]] quarzel_ret_t key_from_primes_ct(uint32_t fn, uint32_t bits, const uint8_t* p, const uint8_t* q,
                                               uint8_t* n, uint8_t* d);

// Miller-Rabin rounds on an odd w >= 5 of len bytes (base 2, then random
// bases): is_prime 1 when w passes them all. Only the verdict of each round
// is made public; a rejected w may leak, an accepted one does not.
[[nodiscard]] quarzel_ret_t miller_rabin_ct(uint32_t fn, uint32_t len, const uint8_t* w, uint32_t iterations,
                                            uint8_t* is_prime);

}  // namespace quarzel::rsa
