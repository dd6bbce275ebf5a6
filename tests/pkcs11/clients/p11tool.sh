#!/usr/bin/env bash
# GnuTLS's p11tool against the module, named explicitly as its provider.
set -euo pipefail
command -v p11tool >/dev/null || exit 77
out="$(p11tool --provider "$ZEBP11_MODULE" --list-tokens 2>&1)"
expect() {
  grep -qF -- "$1" <<<"$out" || { echo "expected '$1' in:"; echo "$out"; exit 1; }
}
expect "URL: pkcs11:model=;manufacturer=Valdoren%20Technologies;serial=$ZEB_HSM_SN;token=ZEB-Default-Token-Label"
expect "Label: ZEB-Default-Token-Label"
expect "Flags: RNG, Requires login"
expect "Manufacturer: Valdoren Technologies"
expect "Serial: $ZEB_HSM_SN"

# A second token is a second slot.
"$ZEB_MAKE_TOKEN" "$ZEB_ADMIN_PIN" "second-token-pin" >/dev/null
out="$(p11tool --provider "$ZEBP11_MODULE" --list-token-urls 2>&1)"
[ "$(grep -c "serial=$ZEB_HSM_SN" <<<"$out")" = 2 ] || { echo "$out"; exit 1; }
echo "p11tool: all passed"
