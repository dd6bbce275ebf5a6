// Holders of the library's EC and RSA key objects: the buffers a key object
// allocated are released with the holder (private values wiped first), on
// every path out of the scope. Initialise and fill `k` as usual.
#pragma once

#include "quarzel/ecc.h"
#include "quarzel/rsa_key.h"

namespace quarzel {

template <class Key, quarzel_ret_t (*Free)(Key*)>
struct KeyHolder {
  Key k{};
  KeyHolder() = default;
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  ~KeyHolder() {
    if (k.state != 0) (void)Free(&k);
  }
};

using EcPriKey = KeyHolder<ecc_prikey_t, ecc_prikey_value_free>;
using EcPubKey = KeyHolder<ecc_pubkey_t, ecc_pubkey_value_free>;
using RsaPriKey = KeyHolder<rsa_prikey_t, rsa_prikey_value_free>;
using RsaPubKey = KeyHolder<rsa_pubkey_t, rsa_pubkey_value_free>;

}  // namespace quarzel
