#!/usr/bin/env bash
# OpenSC's pkcs11-tool and the module's objects: keys, a certificate and a
# data object written from files OpenSSL made, listed and read back by later
# processes, deleted; key generation where the module offers it.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
command -v openssl >/dev/null || exit 77
p11() { pkcs11-tool --module "$ZEBP11_MODULE" --login --pin "$ZEB_USER_PIN" "$@" 2>&1; }
expect() {  # TEXT OUTPUT
  grep -qF -- "$1" <<<"$2" || { echo "expected '$1' in:"; echo "$2"; exit 1; }
}
same() {  # FILE FILE
  cmp -s "$1" "$2" || { echo "$1 and $2 differ"; exit 1; }
}
# pkcs11-tool frees the curve name before it makes the OpenSSL key of an EC
# point it reads (with any module, SoftHSMv2 too): it works by chance for
# 256-bit curves only, and never under the sanitizer's eyes.
ec_read() { [[ "${LD_PRELOAD:-}" != *libasan* ]]; }

openssl genrsa -out rsa.pem 2048 2>/dev/null
openssl rsa -in rsa.pem -pubout -outform DER -out rsa_pub.der 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out ec.pem
openssl ec -in ec.pem -pubout -outform DER -out ec_pub.der 2>/dev/null
openssl req -x509 -new -key rsa.pem -subj /CN=zeb-objects -days 2 -outform DER -out cert.der
head -c 300 /dev/urandom > data.bin

p11 --write-object rsa.pem --type privkey --id 01 --label rsa >/dev/null
p11 --write-object rsa_pub.der --type pubkey --id 01 --label rsa >/dev/null
p11 --write-object ec.pem --type privkey --id 02 --label ec >/dev/null
p11 --write-object ec_pub.der --type pubkey --id 02 --label ec >/dev/null
p11 --write-object cert.der --type cert --id 03 --label cert >/dev/null
p11 --write-object data.bin --type data --label blob >/dev/null

# Every object is seen from the later processes.
out="$(p11 -O)"
expect "Private Key Object; RSA" "$out"
expect "Public Key Object; RSA 2048 bits" "$out"
expect "Private Key Object; EC" "$out"
expect "EC_PARAMS:  06082a8648ce3d030107" "$out"
expect "Certificate Object; type = X.509 cert" "$out"
expect "label:          'blob'" "$out"
[ "$(grep -cE "Object;|Data object" <<<"$out")" -eq 6 ] || { echo "$out"; exit 1; }

# Read back byte for byte (public keys as SubjectPublicKeyInfo).
p11 --read-object --type cert --id 03 --output-file cert.out >/dev/null
same cert.der cert.out
p11 --read-object --type pubkey --id 01 --output-file rsa_pub.out >/dev/null
same rsa_pub.der rsa_pub.out
if ec_read; then
  p11 --read-object --type pubkey --id 02 --output-file ec_pub.out >/dev/null
  same ec_pub.der ec_pub.out
fi
p11 --read-object --type data --label blob --output-file data.out >/dev/null
same data.bin data.out
# A private key's value never leaves.
p11 --read-object --type privkey --id 02 --output-file ec.out >/dev/null || true
[ ! -s ec.out ] || { echo "a private key was read out"; exit 1; }

# Deleted objects are gone for good.
p11 --delete-object --type data --label blob >/dev/null
p11 --delete-object --type cert --id 03 >/dev/null
out="$(p11 -O)"
[ "$(grep -cE "Object;|Data object" <<<"$out")" -eq 4 ] || { echo "$out"; exit 1; }

# Key generation (the crypto entry points of the module).
if p11 --keygen --key-type AES:32 --id 10 --label aes >gen.out; then
  expect "Secret Key Object; AES length 32" "$(p11 -O --type secrkey)"
  p11 --keypairgen --key-type rsa:2048 --id 11 --label rsa-gen >/dev/null
  p11 --read-object --type pubkey --id 11 --output-file gen_rsa.der >/dev/null
  openssl pkey -pubin -inform DER -in gen_rsa.der -noout -text | grep -q "Public-Key: (2048 bit)"
  for spec in secp256r1:256 secp384r1:384 secp521r1:528 secp256k1:256 brainpoolP256r1:256 \
              brainpoolP384r1:384 brainpoolP512r1:512; do
    curve="${spec%%:*}"
    p11 --keypairgen --key-type "EC:$curve" --id 12 --label "ec-$curve" >/dev/null
    # (pkcs11-tool counts the bits of the encoded coordinates: 528 for P-521.)
    expect "EC_POINT ${spec##*:} bits" "$(p11 -O --type pubkey --label "ec-$curve")"
    [ "${spec##*:}" = 256 ] && ec_read || continue
    p11 --read-object --type pubkey --label "ec-$curve" --output-file "gen_$curve.der" >/dev/null
    openssl pkey -pubin -inform DER -in "gen_$curve.der" -noout
  done
else
  grep -qiE "not supported|CKR_FUNCTION_NOT_SUPPORTED" gen.out || { cat gen.out; exit 1; }
  echo "pkcs11-tool: no key generation in this module"
fi
echo "pkcs11-tool objects: all passed"
