#!/usr/bin/env bash
# OpenSC's pkcs11-tool against the module: information, slots, tokens,
# mechanisms, login, random numbers, PIN change, token and PIN initialisation.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
p11() { pkcs11-tool --module "$ZEBP11_MODULE" "$@" 2>&1; }
expect() {  # TEXT OUTPUT
  grep -qF -- "$1" <<<"$2" || { echo "expected '$1' in:"; echo "$2"; exit 1; }
}

out="$(p11 -I)"
expect "Cryptoki version 3.1" "$out"
expect "Manufacturer     Valdoren Technologies" "$out"
expect "Library          vrk version: " "$out"

out="$(p11 -L)"
expect "Slot 0 (0x0): software simulated slot" "$out"
expect "token label        : ZEB-Default-Token-Label" "$out"
expect "token flags        : login required, rng, token initialized, PIN initialized" "$out"
expect "serial num         : $ZEB_HSM_SN" "$out"
expect "pin min/max        : 8/32" "$out"

out="$(p11 -T)"
expect "token manufacturer : Valdoren Technologies" "$out"

p11 -M >/dev/null

# Random numbers, with and without a login.
p11 --generate-random 32 --output-file random.bin >/dev/null
[ "$(stat -c %s random.bin)" = 32 ]
p11 --login --pin "$ZEB_USER_PIN" --generate-random 64 --output-file random.bin >/dev/null
[ "$(stat -c %s random.bin)" = 64 ]
[ "$(od -An -tx1 random.bin | tr -d ' \n' | tr -d 0 | wc -c)" -gt 0 ]

# A wrong PIN is refused and counted.
if p11 --login --pin "wrong-pin-0000" --generate-random 8 >/dev/null; then
  echo "a wrong PIN was accepted"; exit 1
fi
expect "user PIN count low" "$(p11 -L)"

# PIN change: the old PIN stops working, the new one works.
p11 --login --pin "$ZEB_USER_PIN" --change-pin --new-pin "changed-pin-1" >/dev/null
if p11 --login --pin "$ZEB_USER_PIN" --generate-random 8 >/dev/null; then
  echo "the old PIN still works"; exit 1
fi
p11 --login --pin "changed-pin-1" --generate-random 8 >/dev/null

# Re-initialising the token needs its SO PIN and sets the label.
if p11 --init-token --label "renamed token" --so-pin "wrong-so-pin-00" >/dev/null; then
  echo "re-initialisation with a wrong SO PIN succeeded"; exit 1
fi
out="$(p11 --init-token --label "renamed token" --so-pin "$ZEB_USER_PIN")"
expect "Token successfully initialized" "$out"
expect "token label        : renamed token" "$(p11 -L)"

# The SO sets a new user PIN.
out="$(p11 --init-pin --login --login-type so --so-pin "$ZEB_USER_PIN" --new-pin "fresh-user-pin")"
expect "User PIN successfully initialized" "$out"
p11 --login --pin "fresh-user-pin" --generate-random 8 >/dev/null

# The SO changes the SO PIN.
p11 --login --login-type so --so-pin "$ZEB_USER_PIN" --change-pin --new-pin "new-so-pin-123" >/dev/null
p11 --init-pin --login --login-type so --so-pin "new-so-pin-123" --new-pin "other-user-pin" >/dev/null
echo "pkcs11-tool: all passed"
