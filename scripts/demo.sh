#!/usr/bin/env bash
# The main job: builds and runs the benchmarks of what is built so far.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build_tree build/release -DCMAKE_BUILD_TYPE=Release
for b in "$ROOT"/build/release/bench/bench_*; do
  echo "=== $(basename "$b") ==="
  "$b" --benchmark_min_time=0.2
done
