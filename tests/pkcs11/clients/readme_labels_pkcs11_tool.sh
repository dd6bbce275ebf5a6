#!/usr/bin/env bash
# The README's labelling example, run as written on the HSM the README has
# just set up: a fresh software HSM holding the one token `VELM_Tool create
# token` made (not the runner's HSM, whose token is made otherwise). Both
# blocks are read from README.md, so an example that drifts fails here. The
# set-up block gets the built programs and a temporary folder for the
# installed ones and /srv/hsm; the labelling block only the built module as M.
set -euo pipefail
command -v pkcs11-tool >/dev/null || exit 77
command -v p11tool >/dev/null || exit 77
: "${ZEBP11_MODULE:?}" "${ZEB_VELM_TOOL:?}" "${ZEB_NEW_SWHSM:?}"
readme="$(dirname "${BASH_SOURCE[0]}")/../../../README.md"
fail() { echo "$*"; exit 1; }

# block TEXT: the first fenced block of the README's "## PKCS#11 module"
# section that holds TEXT, without the indentation of its fence.
block() {
  awk -v text="$1" '
    /^## / { sec = ($0 == "## PKCS#11 module") }
    !sec || done { next }
    /^ *```/ {
      if (open && index(body, text)) { printf "%s", body; done = 1 }
      open = !open; body = ""; cut = index($0, "`") - 1; next
    }
    open { body = body substr($0, cut + 1) "\n" }
  ' "$readme"
}
setup="$(block new-swhsm.sh)"
label="$(block --init-token)"
[ -n "$setup" ] || fail "no set-up block (scripts/new-swhsm.sh) in the README's module section"
[ -n "$label" ] || fail "no labelling block (--init-token) in the README's module section"
grep -q '^M=' <<<"$label" || fail "the labelling block sets no M: $label"

tmp="$(mktemp -d /tmp/zeb-readme-labels-XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
export HSM_DIR="$tmp/hsm"
sed -e 's#scripts/new-swhsm\.sh#bash "$ZEB_NEW_SWHSM"#' -e 's#/srv/hsm#"$HSM_DIR"#g' \
    -e 's#^VELM_Tool #"$ZEB_VELM_TOOL" #' \
    -e 's#/usr/local/lib/x86_64-linux-gnu/pkcs11/libzebp11\.so#"$ZEBP11_MODULE"#g' <<<"$setup" >"$tmp/run.sh"
sed 's#^M=.*#M="$ZEBP11_MODULE"#' <<<"$label" >>"$tmp/run.sh"
if ! bash -eu "$tmp/run.sh" >"$tmp/run.log" 2>&1; then
  echo "the README's commands failed:"; cat "$tmp/run.sh"; echo "---"; cat "$tmp/run.log"; exit 1
fi

# The README's label and user PIN, from its own block.
name="$(sed -n 's/.*--label \([^ ]*\).*/\1/p' <<<"$label")"
pin="$(sed -n 's/.*--new-pin \([^ ]*\).*/\1/p' <<<"$label")"
[ -n "$name" ] && [ -n "$pin" ] || fail "no label or new PIN in: $label"
cd "$HSM_DIR"
p11() { pkcs11-tool --module "$ZEBP11_MODULE" "$@" 2>&1; }
out="$(p11 -L)"
grep -qF "token label        : $name" <<<"$out" || fail "label '$name' not in: $out"
[ "$(grep -c '^Slot ' <<<"$out")" = 1 ] || fail "the README's HSM holds one token: $out"
p11 --token-label "$name" --login --pin "$pin" -O >/dev/null || fail "the user PIN '$pin' is refused"
if p11 --token-label "$name" --login --pin wrong-pin-0000 -O >/dev/null; then
  fail "a wrong user PIN was accepted"
fi
