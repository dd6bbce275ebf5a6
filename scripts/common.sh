# Shared by the project scripts: installs what is missing, configures, builds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

# What the demo and the test suites need: every command the scripts and the
# tests run comes from these or from the base system (tests/scripts/
# packaged_commands.py checks it). iproute2: the private network namespace of
# scripts/test.sh.
PACKAGES=(cmake ninja-build g++ libgtest-dev libbenchmark-dev nlohmann-json3-dev
          libssl-dev openssl python3 python3-cryptography
          opensc gnutls-bin python3-pykcs11 softhsm2 valgrind iproute2)
# The fuzz targets' compiler and runtime (scripts/fuzz.sh, and scripts/test.sh
# which ends with it).
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      sudo="sudo"
    else
      echo "These Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root (apt-get install --no-install-recommends ${missing[*]}) and run this again." >&2
      exit 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The Wycheproof vectors the crypto tests read; reported once, up front.
VECTORS_DIR="${ZEB_VECTORS_DIR:-$ROOT/../shared/vectors/wycheproof}"
require_vectors() {
  if [ ! -d "$VECTORS_DIR" ]; then
    echo "The test vectors are missing: expected the Wycheproof files in $VECTORS_DIR" >&2
    echo "(set ZEB_VECTORS_DIR to their folder)." >&2
    exit 1
  fi
}

# in_private_netns COMMAND...: runs COMMAND in a network namespace of its own
# with only the loopback, up, so that no server of another run on this machine
# (the secure-element test bed on 127.0.0.1:5566) is seen, and none of ours is
# seen by another run. Root gets one with unshare -n, others as a user
# namespace's root (unshare -rn) where the system allows it. Where it does not,
# it says so and runs COMMAND on the machine's own network.
in_private_netns() {
  local ns=(unshare -n)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -rn)
  if "${ns[@]}" ip link set lo up 2>/dev/null; then
    echo "In a private network namespace (${ns[*]}): only this run's servers on 127.0.0.1"
    "${ns[@]}" bash -c 'ip link set lo up && exec "$@"' bash "$@"
  else
    echo "No private network namespace here (${ns[*]} refused): running on the machine's network, where" \
      "another run's test bed on 127.0.0.1:5566 can be seen" >&2
    "$@"
  fi
}

# build_tree DIR [cmake options...]
build_tree() {
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DZEB_VECTORS_DIR="$VECTORS_DIR" "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$JOBS"
}
