#!/usr/bin/env bash
# Builds and runs every test twice: optimised, then under ASan + UBSan; then
# the thread and process tests under ThreadSanitizer; then a short run of
# every fuzz target (scripts/fuzz.sh, clang). Everything runs in a private
# network namespace where the system allows one (see in_private_netns).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if [ -z "${ZEB_TEST_NETNS:-}" ]; then
  # Every package of the whole run up front (the namespace has no network).
  install_missing "${FUZZ_PACKAGES[@]}"
  require_vectors
  export ZEB_TEST_NETNS=1
  in_private_netns bash "${BASH_SOURCE[0]}" "$@"
  exit
fi

WERROR=OFF
[ "${CI:-}" = "true" ] && WERROR=ON

run_suite() {
  local dir="$1"; shift
  build_tree "$dir" -DZEB_WERROR=$WERROR "$@" &&
    (cd "$ROOT/$dir" && ctest --output-on-failure -j "$JOBS")
}

# The phases, in the order they run.
release() { run_suite build/release -DCMAKE_BUILD_TYPE=Release; }
# The README's main job, short form, on the optimised build.
demo() { ZEB_DEMO_BUILD=build/release bash "$ROOT/scripts/demo.sh" --short; }
# At -O1, as AddressSanitizer advises: assertions stay on, and the suite runs
# several times faster than unoptimised. Its warnings are not fatal: at -O1
# under the sanitizers GCC 12 reports uninitialised and overflowing accesses
# inside libstdc++ (std::regex, std::function) that the release build, which
# fails on any warning, does not have.
asan() {
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    run_suite build/asan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1" \
    -DZEB_SANITIZE=ON -DZEB_BUILD_BENCH=OFF -DZEB_WERROR=OFF
}
# Tests whose names speak of threads, processes, concurrency or crashes.
# Only the test binaries that declare such tests are built (one binary per
# folder of tests, test_<folder>, as tests/CMakeLists.txt makes them), with
# what they depend on; the others would be built for nothing.
TSAN_FILTER='Thread|Process|Concurren|Racing|Killed|Share|Mutex|Lock|Busy'
tsan_binaries() {
  local f
  for f in $(find "$ROOT/tests" -name '*.cpp'); do
    tr '\n' ' ' <"$f" |
      grep -qE "(TEST|TEST_F|TEST_P|TYPED_TEST|INSTANTIATE_TEST_SUITE_P)\( *([A-Za-z0-9_]+, *)?[A-Za-z0-9_]*($TSAN_FILTER)" &&
      dirname "${f#"$ROOT"/tests/}"
  done | sort -u | sed 's#^#test_#; s#/#_#g'
}
tsan() {
  local dir="$ROOT/build/tsan"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DZEB_VECTORS_DIR="$VECTORS_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEB_TSAN=ON -DZEB_BUILD_BENCH=OFF -DZEB_WERROR=$WERROR >/dev/null &&
    cmake --build "$dir" -j "$JOBS" --target $(tsan_binaries) &&
    (cd "$dir" && TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
      ctest --output-on-failure -j "$JOBS" -R "$TSAN_FILTER")
}
# Constant time: the crypto library under Valgrind's memcheck with every
# secret marked undefined; a branch or a memory address that depends on one
# is reported and fails the step. ZEB_CT_VALIDATION tells Valgrind which
# values the library makes public on purpose (validity flags, lengths).
constant_time() {
  cmake -S "$ROOT" -B "$ROOT/build/ct" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEB_CT_VALIDATION=ON \
    -DZEB_BUILD_BENCH=OFF -DZEB_WERROR=$WERROR >/dev/null &&
    cmake --build "$ROOT/build/ct" -j "$JOBS" --target test_quarzel_consttime &&
    valgrind --error-exitcode=1 -q "$ROOT/build/ct/tests/test_quarzel_consttime" --gtest_brief=1
}
fuzz() { "$ROOT/scripts/fuzz.sh"; }

# timed PHASE: runs it under its name and notes its time and its failure.
failed=()
times=()
timed() {
  local t0=$SECONDS
  echo "=== $1 ==="
  "$@" || failed+=("$1")
  times+=("$1 $((SECONDS - t0)) s")
}
for p in release demo asan tsan constant_time fuzz; do
  timed "$p"
done

# One verdict line, last.
total="in $SECONDS s ($(IFS=,; echo "${times[*]}" | sed 's/,/, /g'))"
if ((${#failed[@]} == 0)); then
  echo "every suite passed $total"
  exit 0
fi
echo "FAILED: ${failed[*]} $total"
exit 1
