#!/usr/bin/env bash
# Telling tokens apart as the README says: a token made by VELM_Tool is
# labelled by pkcs11-tool right after (C_InitToken, then C_InitPIN as SO),
# and is then found by its label; a token whose user PIN is locked shows as
# not initialised until VELM_Tool unlocks it, objects and PIN kept.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
: "${ZEB_VELM_TOOL:?}"
p11() { pkcs11-tool --module "$ZEBP11_MODULE" "$@" 2>&1; }
expect() {  # TEXT OUTPUT
  grep -qF -- "$1" <<<"$2" || { echo "expected '$1' in:"; echo "$2"; exit 1; }
}

so=so-pin-2234 user=user-pin-2234
out="$("$ZEB_VELM_TOOL" create token "$ZEB_ADMIN_PIN" "$so" "$user")"
id="$(sed -n 's/^Token created, token id : //p' <<<"$out")"
[ -n "$id" ] || { echo "no token ID in: $out"; exit 1; }

# The runner's HSM already holds a token (slot 0): the one made here is the
# second row of `VELM_Tool list token`, so slot 1 (the README's example, on
# an HSM with its one token, uses slot 0).
p11 --slot 1 --init-token --label payments --so-pin "$so" >/dev/null
p11 --slot 1 --login --login-type so --so-pin "$so" --init-pin --new-pin "$user" >/dev/null
out="$(p11 -L)"
expect "token label        : payments" "$out"
expect "token label        : ZEB-Default-Token-Label" "$out"
p11 --token-label payments --login --pin "$user" --keypairgen --key-type EC:prime256v1 --label k1 --id 01 >/dev/null
expect "label:      k1" "$(p11 --token-label payments --login --pin "$user" -O)"
expect "payments" "$("$ZEB_VELM_TOOL" list token)"

# Locked by wrong PINs: not initialised to clients; unlocked by the tool.
for _ in $(seq 1 10); do
  if p11 --token-label payments --login --pin wrong-pin-0000 -O >/dev/null; then
    echo "a wrong PIN was accepted"; exit 1
  fi
done
out="$(p11 -L)"
expect "token state:   uninitialized" "$out"
"$ZEB_VELM_TOOL" unlock token_nu "$id" "$so" >/dev/null
out="$(p11 -L)"
expect "token label        : payments" "$out"
expect "label:      k1" "$(p11 --token-label payments --login --pin "$user" -O)"
