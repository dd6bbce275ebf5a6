#!/usr/bin/env bash
# OpenSC's pkcs11-tool imports keys OpenSSL made, naming no usage: the public
# key verifies OpenSSL's signature, the private key signs and OpenSSL
# verifies; a key's class gives it its usages.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
command -v openssl >/dev/null || exit 77
p11() { pkcs11-tool --module "$ZEBP11_MODULE" --login --pin "$ZEB_USER_PIN" "$@" 2>&1; }
expect() {  # TEXT OUTPUT
  grep -qF -- "$1" <<<"$2" || { echo "expected '$1' in:"; echo "$2"; exit 1; }
}
head -c 2000 /dev/urandom > data.bin

# A public key: OpenSSL signs, the module verifies.
openssl ecparam -name prime256v1 -genkey -noout -out theirs.pem
openssl pkey -in theirs.pem -pubout -outform DER -out theirs_pub.der
p11 --write-object theirs_pub.der --type pubkey --id 01 --label theirs >/dev/null
expect "Usage:      encrypt, verify, wrap" "$(p11 -O --type pubkey --id 01)"
openssl dgst -sha256 -sign theirs.pem -out theirs.sig data.bin
p11 --verify -m ECDSA-SHA256 --id 01 -i data.bin --signature-file theirs.sig --signature-format openssl \
  | grep -q "Signature is valid"
# A signature of other data does not verify.
head -c 100 data.bin > other.bin
if p11 --verify -m ECDSA-SHA256 --id 01 -i other.bin --signature-file theirs.sig --signature-format openssl \
  | grep -q "Signature is valid"; then
  echo "a wrong signature verified"; exit 1
fi

# A private key: the module signs, OpenSSL verifies.
openssl ecparam -name prime256v1 -genkey -noout -out mine.pem
openssl pkey -in mine.pem -outform DER -out mine.der
openssl pkey -in mine.pem -pubout -out mine_pub.pem
p11 --write-object mine.der --type privkey --id 02 --label mine >/dev/null
expect "Usage:      decrypt, sign, unwrap, derive" "$(p11 -O --type privkey --id 02)"
p11 --sign -m ECDSA-SHA256 --id 02 -i data.bin -o mine.sig --signature-format openssl >/dev/null
openssl dgst -sha256 -verify mine_pub.pem -signature mine.sig data.bin >/dev/null
echo "pkcs11-tool imports: all passed"
