#!/usr/bin/env bash
# OpenSC's pkcs11-tool and the module's crypto: ECDSA signatures that OpenSSL
# verifies, AES and RSA encryption both ways with OpenSSL, digests, ECDH
# derivation equal to OpenSSL's, and the tool's own self-test.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
command -v openssl >/dev/null || exit 77
p11() { pkcs11-tool --module "$ZEBP11_MODULE" --login --pin "$ZEB_USER_PIN" "$@" 2>&1; }
same() {  # FILE FILE
  cmp -s "$1" "$2" || { echo "$1 and $2 differ"; exit 1; }
}
head -c 3000 /dev/urandom > data.bin
# pkcs11-tool frees the curve name before it makes the OpenSSL key of an EC
# point it reads (with any module): it works by chance for P-256 only, and
# never under the sanitizer's eyes; there the module checks its own keys.
ec_read() { [[ "${LD_PRELOAD:-}" != *libasan* ]]; }

# ECDSA on a generated P-256 pair: pkcs11-tool's signatures verify in
# OpenSSL and in the module, raw and hashed; P-384 in the module.
p11 --keypairgen --key-type EC:prime256v1 --id 10 --label ec256 --usage-sign --usage-derive >/dev/null
if ec_read; then
  p11 --read-object --type pubkey --id 10 --output-file pub10.der >/dev/null
  openssl pkey -pubin -inform DER -in pub10.der -out pub10.pem
fi
for m in SHA1:sha1 SHA256:sha256 SHA384:sha384 SHA512:sha512; do
  p11 --sign -m "ECDSA-${m%%:*}" --id 10 -i data.bin -o sig.der --signature-format openssl >/dev/null
  if ec_read; then openssl dgst "-${m##*:}" -verify pub10.pem -signature sig.der data.bin >/dev/null; fi
  p11 --sign -m "ECDSA-${m%%:*}" --id 10 -i data.bin -o sig.rs >/dev/null
  p11 --verify -m "ECDSA-${m%%:*}" --id 10 -i data.bin --signature-file sig.rs | grep -q "Signature is valid"
done
openssl dgst -sha256 -binary data.bin > digest.bin
p11 --sign -m ECDSA --id 10 -i digest.bin -o raw.der --signature-format openssl >/dev/null
if ec_read; then openssl pkeyutl -verify -pubin -inkey pub10.pem -in digest.bin -sigfile raw.der >/dev/null; fi
p11 --keypairgen --key-type EC:secp384r1 --id 11 --label ec384 --usage-sign >/dev/null
p11 --sign -m ECDSA-SHA384 --id 11 -i data.bin -o sig384.rs >/dev/null
[ "$(stat -c %s sig384.rs)" = 96 ]
p11 --verify -m ECDSA-SHA384 --id 11 -i data.bin --signature-file sig384.rs | grep -q "Signature is valid"
# A signature made by OpenSSL verifies in the module.
openssl ecparam -name prime256v1 -genkey -noout -out theirs.pem
openssl ec -in theirs.pem -pubout -outform DER -out theirs_pub.der 2>/dev/null
p11 --write-object theirs_pub.der --type pubkey --id 12 --label theirs --usage-sign >/dev/null
openssl dgst -sha256 -sign theirs.pem -out theirs.sig data.bin
p11 --verify -m ECDSA-SHA256 --id 12 -i data.bin --signature-file theirs.sig --signature-format openssl \
  | grep -q "Signature is valid"

# AES with a known key: both modes equal OpenSSL, both ways.
openssl rand -out aes.key 32
key="$(od -An -v -tx1 aes.key | tr -d ' \n')"
iv="$(openssl rand -hex 16)"
p11 --write-object aes.key --type secrkey --key-type AES:32 --id 20 --label aes --usage-decrypt >/dev/null
p11 --encrypt -m AES-CBC-PAD --id 20 --iv "$iv" -i data.bin -o ct.bin >/dev/null
openssl enc -aes-256-cbc -K "$key" -iv "$iv" -in data.bin -out ct.ossl
same ct.bin ct.ossl
p11 --decrypt -m AES-CBC-PAD --id 20 --iv "$iv" -i ct.ossl -o back.bin >/dev/null
same back.bin data.bin
head -c 2048 data.bin > blocks.bin
p11 --encrypt -m AES-ECB --id 20 -i blocks.bin -o ecb.bin >/dev/null
openssl enc -aes-256-ecb -nopad -K "$key" -in blocks.bin -out ecb.ossl
same ecb.bin ecb.ossl
p11 --decrypt -m AES-ECB --id 20 -i ecb.ossl -o back.bin >/dev/null
same back.bin blocks.bin

# RSA PKCS#1 v1.5 on a generated pair: OpenSSL encrypts to it, the module
# decrypts (pkcs11-tool encrypts with secret keys only).
p11 --keypairgen --key-type RSA:2048 --id 30 --label rsa --usage-decrypt >/dev/null
p11 --read-object --type pubkey --id 30 --output-file rsa_pub.der >/dev/null
openssl pkey -pubin -inform DER -in rsa_pub.der -out rsa_pub.pem
head -c 190 data.bin > msg.bin
openssl pkeyutl -encrypt -pubin -inkey rsa_pub.pem -pkeyopt rsa_padding_mode:pkcs1 -in msg.bin -out rsa.ct
p11 --decrypt -m RSA-PKCS --id 30 -i rsa.ct -o rsa.back >/dev/null
same rsa.back msg.bin

# Digests.
for m in SHA-1:sha1 SHA224:sha224 SHA256:sha256 SHA384:sha384 SHA512:sha512; do
  p11 --hash -m "${m%%:*}" -i data.bin -o h.bin >/dev/null
  openssl dgst "-${m##*:}" -binary data.bin > h.ossl
  same h.bin h.ossl
done

# ECDH: the secret the module derives with key 10 and OpenSSL's key equals
# the one OpenSSL derives the other way.
p11 --derive -m ECDH1-DERIVE --id 10 -i theirs_pub.der -o secret.bin >/dev/null
if ec_read; then
  openssl pkeyutl -derive -inkey theirs.pem -peerkey pub10.pem -out secret.ossl
  same secret.bin secret.ossl
fi

# The tool's self-test over what the token holds.
out="$(p11 --test)"
grep -q "No errors" <<<"$out" || { echo "$out"; exit 1; }
echo "pkcs11-tool crypto: all passed"
