#!/usr/bin/env bash
# own-netns.sh COMMAND...: runs COMMAND in a network namespace of its own,
# with only the loopback, up. A test that serves the console port
# 127.0.0.1:5566 then meets no other test's test bed there, and no other
# test meets its own, so such tests run beside the rest instead of alone.
# CMake chooses this wrapper only where the system allowed a namespace when
# the tree was configured; should it be refused now, the command runs as it
# is.
if unshare -n true 2>/dev/null; then
  exec unshare -n bash -c 'ip link set lo up && exec "$@"' bash "$@"
fi
exec "$@"
