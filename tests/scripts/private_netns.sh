#!/usr/bin/env bash
# private_netns.sh ROOT: the wrapper scripts/test.sh runs its suites in gives a
# network of the loopback alone, up (skipped, 77, where the system allows no
# network namespace).
set -euo pipefail
source "$1/scripts/common.sh"
out="$(in_private_netns bash -c 'ip -o link show | wc -l; ip -o link show lo' 2>&1)"
case "$out" in
  *"No private network namespace"*) echo "$out"; exit 77 ;;
esac
echo "$out"
links="$(sed -n 2p <<<"$out")"
[ "$links" = 1 ] || { echo "expected the loopback alone"; exit 1; }
grep -q '^1: lo: <[^>]*\bUP\b' <<<"$out" || { echo "the loopback is not up"; exit 1; }
echo "private network namespace: loopback only, up"
