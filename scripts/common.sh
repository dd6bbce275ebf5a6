# Shared by the project scripts: installs what is missing, configures, builds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"

PACKAGES=(cmake ninja-build g++ libgtest-dev libbenchmark-dev nlohmann-json3-dev
          libssl-dev openssl python3 python3-cryptography
          opensc gnutls-bin python3-pykcs11 softhsm2 valgrind)

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

# build_tree DIR [cmake options...]
build_tree() {
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DZEB_VECTORS_DIR="$VECTORS_DIR" "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$JOBS"
}
