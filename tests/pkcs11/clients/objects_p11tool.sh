#!/usr/bin/env bash
# GnuTLS's p11tool and the module's objects: a certificate and keys written
# by pkcs11-tool are listed, with the user's login.
set -euo pipefail
command -v p11tool >/dev/null || exit 77
command -v pkcs11-tool >/dev/null || exit 77
command -v openssl >/dev/null || exit 77
p11() { pkcs11-tool --module "$ZEBP11_MODULE" --login --pin "$ZEB_USER_PIN" "$@" 2>&1; }
expect() {  # TEXT OUTPUT
  grep -qF -- "$1" <<<"$2" || { echo "expected '$1' in:"; echo "$2"; exit 1; }
}

openssl ecparam -name prime256v1 -genkey -noout -out ec.pem
openssl ec -in ec.pem -pubout -outform DER -out ec_pub.der 2>/dev/null
openssl req -x509 -new -key ec.pem -subj /CN=zeb-p11tool -days 2 -outform DER -out cert.der
p11 --write-object ec.pem --type privkey --id 21 --label tool-key >/dev/null
p11 --write-object ec_pub.der --type pubkey --id 21 --label tool-key >/dev/null
p11 --write-object cert.der --type cert --id 21 --label tool-cert >/dev/null

export GNUTLS_PIN="$ZEB_USER_PIN"
url="pkcs11:token=ZEB-Default-Token-Label"
out="$(p11tool --provider "$ZEBP11_MODULE" --login --list-all "$url" 2>&1)"
expect "Type: X.509 Certificate" "$out"
expect "Label: tool-cert" "$out"
expect "Type: Private key (EC/ECDSA-SECP256R1)" "$out"
expect "Type: Public key (EC/ECDSA-SECP256R1)" "$out"
expect "ID: 21" "$out"

# The certificate exported by p11tool is the one written.
p11tool --provider "$ZEBP11_MODULE" --login --export "$url;object=tool-cert;type=cert" --outder \
  --outfile cert.out >/dev/null 2>&1
cmp -s cert.der cert.out || { echo "exported certificate differs"; exit 1; }
echo "p11tool objects: all passed"
