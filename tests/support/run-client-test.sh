#!/usr/bin/env bash
# run-client-test.sh SCRIPT: runs one client test (a .sh with bash, a .py with
# /usr/bin/python3) in a fresh working directory holding a software HSM with
# one token, and removes the directory afterwards whatever the outcome.
#
# The script finds in its environment:
#   ZEBP11_MODULE   the built libzebp11.so
#   ZEB_USER_PIN    the token's user PIN (also its SO PIN)
#   ZEB_ADMIN_PIN   the HSM administrator's PIN
#   ZEB_HSM_SN      the HSM's serial number (the token's serial number too)
#   ZEB_TOKEN_ID    the token's ID
#   ZEB_MAKE_TOKEN  the tool that adds a token: "$ZEB_MAKE_TOKEN" "$ZEB_ADMIN_PIN" PIN [--uninit]
#   ZEB_VELM_TOOL   the built administration tool, VELM_Tool
# and runs with the directory as its working directory. Exit status 77 means
# a client program is missing (the test is skipped).
set -euo pipefail
script="$1"
: "${ZEBP11_MODULE:?}" "${ZEB_MAKE_TOKEN:?}" "${ZEB_NEW_SWHSM:?}"

work="$(mktemp -d /tmp/zeb-p11-client-XXXXXX)"
trap 'rm -rf "$work"' EXIT

export ZEB_ADMIN_PIN="hsm-admin-pin-01"
export ZEB_USER_PIN="user-pin-1234"
export ZEB_HSM_SN="4711000000000042"
bash "$ZEB_NEW_SWHSM" "$work" --sn "$ZEB_HSM_SN" --label "client-test-hsm" --admin-pin "$ZEB_ADMIN_PIN" >/dev/null
cd "$work"
ZEB_TOKEN_ID="$("$ZEB_MAKE_TOKEN" "$ZEB_ADMIN_PIN" "$ZEB_USER_PIN")"
export ZEB_TOKEN_ID ZEBP11_MODULE ZEB_MAKE_TOKEN ZEB_VELM_TOOL

# A module built with AddressSanitizer needs its runtime loaded first in the
# (uninstrumented) client, with the C++ runtime right after it so that
# exceptions thrown by a client's own C++ code (PyKCS11's) still find it; the
# clients' own leaks are not ours to report.
asan="$(ldd "$ZEBP11_MODULE" | awk '/libasan/ {print $3}')"
cxx="$(ldd "$ZEBP11_MODULE" | awk '/libstdc\+\+/ {print $3}')"
if [ -n "$asan" ]; then
  export LD_PRELOAD="$asan${cxx:+:$cxx}${LD_PRELOAD:+:$LD_PRELOAD}"
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi

case "$script" in
  *.py) /usr/bin/python3 "$script" ;;
  *) bash "$script" ;;
esac
