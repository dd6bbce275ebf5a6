#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang under ASan + UBSan and runs
# each from its checked-in seeds for FUZZ_SECONDS (default 15).
#   scripts/fuzz.sh               the short run (CI, scripts/test.sh)
#   scripts/fuzz.sh --long        ten minutes per target
#   scripts/fuzz.sh rsa_der ...   only the targets named
# A crash leaves its input in build/fuzz/crashes/<target>/ and fails the run.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${FUZZ_PACKAGES[@]}"

SECONDS_EACH="${FUZZ_SECONDS:-15}"
if [ "${1:-}" = "--long" ]; then
  SECONDS_EACH="${FUZZ_SECONDS:-600}"
  shift
fi

CC=clang CXX=clang++ build_tree build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEB_FUZZ=ON \
  -DZEB_BUILD_TESTS=OFF -DZEB_BUILD_BENCH=OFF

BIN="$ROOT/build/fuzz/fuzz"
targets=("$@")
if ((${#targets[@]} == 0)); then
  for exe in "$BIN"/fuzz_*; do targets+=("$(basename "$exe" | sed 's/^fuzz_//')"); done
fi

# Scratch space of the targets (their working directories, new corpus
# entries), on tmpfs when there is one; removed at the end.
scratch="$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/zeb-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for t in "${targets[@]}"; do
  seeds="$ROOT/fuzz/corpus/$t"
  crashes="$ROOT/build/fuzz/crashes/$t"
  mkdir -p "$scratch/$t/corpus" "$scratch/$t/tmp" "$crashes"
  printf '=== fuzz %-14s %ss ... ' "$t" "$SECONDS_EACH"
  # New inputs go to the scratch corpus; the checked-in seeds stay as they are.
  if TMPDIR="$scratch/$t/tmp" "$BIN/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
       -close_fd_mask=1 -artifact_prefix="$crashes/" "$scratch/$t/corpus" "$seeds" \
       >"$scratch/$t/log" 2>&1; then
    grep -o 'stat::number_of_executed_runs: *[0-9]*\|#[0-9]*.*DONE.*' "$scratch/$t/log" | tail -1 || echo ok
  else
    echo "FAILED (input in $crashes)"
    tail -40 "$scratch/$t/log"
    status=1
  fi
done
exit $status
