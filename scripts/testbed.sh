#!/usr/bin/env bash
# Starts and stops the secure-element test bed (se_testbed) for scripts.
#
#   scripts/testbed.sh start DIR [--port P] [--sn SN] [--admin-pin PIN]
#       starts it on the device kept in DIR (created on first use), waits
#       until it accepts connections, prints its lines (the serial number and,
#       on a first start, the administrator PIN) and its port
#   scripts/testbed.sh stop DIR     stops it by its process id (SIGTERM)
#   scripts/testbed.sh port DIR     prints the port it listens on
#
# The pid, port and output go to DIR/testbed.{pid,port,out} while it runs;
# stop removes them. SE_TESTBED names the binary; by default the one the
# scripts build: scripts/test.sh's (build/release), then scripts/demo.sh's
# (build/demo), then the sanitizer build's (build/asan).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${SE_TESTBED:-}"
if [ -z "$BIN" ]; then
  for b in release demo asan; do
    BIN="$ROOT/build/$b/src/testbed/se_testbed"
    [ -x "$BIN" ] && break
  done
fi

usage() { sed -n '4,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 2 ] || usage
cmd="$1" dir="$2"
shift 2

case "$cmd" in
  start)
    [ -x "$BIN" ] || { echo "no se_testbed built (scripts/demo.sh or scripts/test.sh build it; or set SE_TESTBED)" >&2; exit 1; }
    mkdir -p "$dir"
    if [ -f "$dir/testbed.pid" ] && kill -0 "$(cat "$dir/testbed.pid")" 2>/dev/null; then
      echo "already running: pid $(cat "$dir/testbed.pid")" >&2; exit 1
    fi
    rm -f "$dir/testbed.port"
    "$BIN" --state "$dir" --ready-file "$dir/testbed.port" "$@" \
      >"$dir/testbed.out" 2>&1 </dev/null &
    echo $! >"$dir/testbed.pid"
    for _ in $(seq 1 100); do
      [ -s "$dir/testbed.port" ] && { cat "$dir/testbed.out"; exit 0; }
      kill -0 "$(cat "$dir/testbed.pid")" 2>/dev/null || break
      sleep 0.1
    done
    cat "$dir/testbed.out" >&2
    kill "$(cat "$dir/testbed.pid")" 2>/dev/null || true
    rm -f "$dir/testbed.pid" "$dir/testbed.out" "$dir/testbed.port"
    echo "se_testbed did not start" >&2
    exit 1
    ;;
  stop)
    [ -f "$dir/testbed.pid" ] || { echo "not running (no $dir/testbed.pid)" >&2; exit 1; }
    pid="$(cat "$dir/testbed.pid")"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/testbed.pid" "$dir/testbed.port" "$dir/testbed.port.lock" "$dir/testbed.out"
    ;;
  port) cat "$dir/testbed.port" ;;
  *) usage ;;
esac
