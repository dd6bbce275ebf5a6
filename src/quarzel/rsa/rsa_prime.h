// Prime-search steps of RSA key generation. Candidates are big-endian byte
// strings of `len` bytes (a multiple of 4).
#pragma once

#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::rsa {

// compos_result: 0 when p has a factor among the small primes screened, else
// the number of prime ranges screened (3 for 2048-bit candidates, else 1).
[[nodiscard]] quarzel_ret_t known_prime_test(uint32_t len, const uint8_t* p, uint8_t* compos_result);
// is_prime: 1 when w passes `iterations` rounds (base 2 first, then random bases).
[[nodiscard]] quarzel_ret_t miller_rabin_test(uint32_t len, const uint8_t* w, uint8_t* is_prime,
                                              uint32_t iterations);
// check_result: 1 when the top 100 bits of p and q differ.
void check_prime_distance(const uint8_t* p, const uint8_t* q, uint8_t* check_result);
// Two primes of rsa_length/2 bits into p and q.
[[nodiscard]] quarzel_ret_t primegen(uint32_t rsa_length, uint8_t* p, uint8_t* q);

}  // namespace quarzel::rsa
