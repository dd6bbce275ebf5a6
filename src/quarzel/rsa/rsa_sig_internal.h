// Tables shared by the X9.31 encoder and the signing operations.
#pragma once

#include <cstdint>

#include "quarzel/hash.h"

namespace quarzel::rsa {

// ANSI X9.31 hash identifiers (the byte before the trailer 0xCC).
struct X931Id {
  hash_type_t type;
  uint8_t id;
  uint8_t digest_len;
};
inline constexpr X931Id kX931Ids[] = {
    {HASH_TYPE_SHA1, 0x33, 20},       {HASH_TYPE_SHA2_224, 0x38, 28},
    {HASH_TYPE_SHA2_256, 0x34, 32},   {HASH_TYPE_SHA2_384, 0x36, 48},
    {HASH_TYPE_SHA2_512, 0x35, 64},   {HASH_TYPE_SHA2_512_224, 0x39, 28},
    {HASH_TYPE_SHA2_512_256, 0x40, 32},
};
const X931Id* x931_by_type(hash_type_t t);
const X931Id* x931_by_id(uint8_t id);

}  // namespace quarzel::rsa
