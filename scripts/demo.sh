#!/usr/bin/env bash
# The main job: a software HSM and a token set up with the administration
# tool, then used through libzebp11.so by the clients people already use
# (OpenSC's pkcs11-tool, OpenSSL); then the same on the simulated secure
# element of the test bed; then the module beside SoftHSMv2.
#
#   scripts/demo.sh            everything
#   scripts/demo.sh --short    without the benchmark table (CI)
#
# Each step prints one line; the first failure stops the script with a
# non-zero status, and whatever it started is stopped and removed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

short=0
[ "${1:-}" = "--short" ] && short=1

install_missing
# ZEB_DEMO_BUILD names an existing build folder to reuse (the test script's);
# otherwise a Release build without tests is made in build/demo.
B="$ROOT/${ZEB_DEMO_BUILD:-build/demo}"
targets=(zebp11 VELM_Tool se_testbed)
[ $short = 1 ] || targets+=(bench_p11)
echo "Building ${targets[*]} in $B ..."
if [ -z "${ZEB_DEMO_BUILD:-}" ]; then
  echo "  configuring (cmake)"
  cmake -S "$ROOT" -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEB_BUILD_TESTS=OFF \
    -DZEB_BUILD_BENCH=$([ $short = 1 ] && echo OFF || echo ON) >/dev/null
fi
# Ninja's "[n/N]" lines as one line per tenth of the way; the whole output
# is shown only when the build fails.
build_log="$B/demo-build.log"
if ! cmake --build "$B" -j "$JOBS" --target "${targets[@]}" 2>&1 | tee "$build_log" |
    awk -F'[][/]' '/^\[[0-9]+\/[0-9]+\]/ && $2 > 0 && $3 > 0 {
                     pct = int(100 * $2 / $3)
                     if (pct >= next_pct) { printf "  compiled %d of %d steps (%d%%)\n", $2, $3, pct; fflush(); next_pct = pct - pct % 10 + 10 }
                   }
                   /no work to do/ { print "  up to date"; fflush() }'; then
  tail -40 "$build_log"
  rm -f "$build_log"
  echo "The build failed." >&2
  exit 1
fi
rm -f "$build_log"
MODULE="$B/src/pkcs11/libzebp11.so"
TOOL="$B/src/velm/VELM_Tool"
# scripts/testbed.sh starts and stops the test bed; SE_TESTBED names its
# binary: this build's, never another build's that may be stale.
SE_TESTBED="$B/src/testbed/se_testbed"
if [ ! -x "$SE_TESTBED" ]; then
  echo "The build in $B has no secure-element test bed: $SE_TESTBED is missing." >&2
  exit 1
fi
export SE_TESTBED

WORK="$(mktemp -d /tmp/zebp11-demo-XXXXXX)"
SE="$WORK/se"
cleanup() {
  if [ -f "$SE/state/testbed.pid" ]; then
    "$ROOT/scripts/testbed.sh" stop "$SE/state" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

LOG="$WORK/step.log"
n=0
# step "what it does" command...: runs the command, prints one line.
step() {
  local what="$1"; shift
  n=$((n + 1))
  if "$@" >"$LOG" 2>&1; then
    printf '[%2d] ok      %s\n' "$n" "$what"
  else
    printf '[%2d] FAILED  %s\n' "$n" "$what"
    sed 's/^/        | /' "$LOG" | tail -20
    exit 1
  fi
}

ADMIN_PIN="demo-admin-pin-1"
SO_PIN="demo-so-pin-1234"
USER_PIN="demo-user-pin-1"
p11() { pkcs11-tool --module "$MODULE" "$@"; }
p11u() { pkcs11-tool --module "$MODULE" --login --pin "$USER_PIN" "$@"; }

# ---- A software HSM, a token, and the module through real clients ----------
SW="$WORK/swhsm"
step "set up a software HSM in $SW" bash "$ROOT/scripts/new-swhsm.sh" "$SW" --sn DEMO000000000042 \
  --label "demo software HSM" --admin-pin "$ADMIN_PIN"
cd "$SW"
make_token() {
  "$TOOL" create token "$ADMIN_PIN" "$SO_PIN" "$USER_PIN" | tee created.txt
  grep -q "Token created, token id : " created.txt
}
step "VELM_Tool: create a token" make_token
step "VELM_Tool: list the HSM's tokens" "$TOOL" list token
step "pkcs11-tool: module information and slots" bash -c "pkcs11-tool --module '$MODULE' -I && pkcs11-tool --module '$MODULE' -L"
step "pkcs11-tool: log in as the token user" p11u --list-objects
step "pkcs11-tool: generate an EC P-256 key pair" p11u --keypairgen --key-type EC:prime256v1 --id 01 --label demo-ec
head -c 10000 /dev/urandom > data.bin
step "pkcs11-tool: sign a file with ECDSA-SHA256" p11u --sign -m ECDSA-SHA256 --id 01 -i data.bin -o ec.sig \
  --signature-format openssl
ec_verify() {
  p11u --read-object --type pubkey --id 01 -o ec_pub.der &&
    openssl pkey -pubin -inform DER -in ec_pub.der -out ec_pub.pem &&
    openssl dgst -sha256 -verify ec_pub.pem -signature ec.sig data.bin
}
step "OpenSSL: verify the signature with the public key read from the token" ec_verify
step "pkcs11-tool: generate an AES-256 key" p11u --keygen --key-type AES:32 --id 02 --label demo-aes
IV="000102030405060708090a0b0c0d0e0f"
# aes_roundtrip [FILE]: encrypts FILE (data.bin) with key 02, decrypts it back.
aes_roundtrip() {
  local f="${1:-data.bin}"
  p11u --encrypt -m AES-CBC-PAD --id 02 --iv "$IV" -i "$f" -o "$f.enc" &&
    p11u --decrypt -m AES-CBC-PAD --id 02 --iv "$IV" -i "$f.enc" -o "$f.dec" &&
    cmp "$f" "$f.dec"
}
step "pkcs11-tool: round-trip the file through AES-CBC-PAD" aes_roundtrip
step "pkcs11-tool: generate an RSA-2048 key pair" p11u --keypairgen --key-type RSA:2048 --id 03 --label demo-rsa
rsa_roundtrip() {
  head -c 200 data.bin > msg.bin &&
    p11u --read-object --type pubkey --id 03 -o rsa_pub.der &&
    openssl pkeyutl -encrypt -pubin -keyform DER -inkey rsa_pub.der -pkeyopt rsa_padding_mode:pkcs1 \
      -in msg.bin -out msg.enc &&
    p11u --decrypt -m RSA-PKCS --id 03 -i msg.enc -o msg.dec &&
    cmp msg.bin msg.dec
}
step "OpenSSL encrypts with the exported RSA key, the token decrypts" rsa_roundtrip
list_objects() {
  p11u --list-objects | tee objects.txt
  for l in demo-ec demo-aes demo-rsa; do grep -q "$l" objects.txt || return 1; done
}
step "pkcs11-tool: list the token's objects" list_objects

# ---- The simulated secure element of the test bed ---------------------------
mkdir -p "$SE/state"
cd "$SE"
step "start the secure-element test bed on 127.0.0.1:5566" \
  "$ROOT/scripts/testbed.sh" start "$SE/state" --sn SE00000000000007 --admin-pin "$ADMIN_PIN"
list_se() { "$TOOL" list hsm | tee hsms.txt; grep -q "TESTBED" hsms.txt; }
step "VELM_Tool: the test bed is listed" list_se
step "VELM_Tool: HSM information of the test bed" "$TOOL" get hsm info
step "VELM_Tool: create a token on the secure element" make_token
step "pkcs11-tool: generate an EC P-256 key pair on the secure element" \
  p11u --keypairgen --key-type EC:prime256v1 --id 01 --label se-ec
head -c 4000 /dev/urandom > data.bin
se_sign_verify() {
  p11u --sign -m ECDSA-SHA256 --id 01 -i data.bin -o se.sig --signature-format openssl &&
    p11u --read-object --type pubkey --id 01 -o se_pub.der &&
    openssl pkey -pubin -inform DER -in se_pub.der -out se_pub.pem &&
    openssl dgst -sha256 -verify se_pub.pem -signature se.sig data.bin
}
step "sign on the secure element, OpenSSL verifies" se_sign_verify
step "pkcs11-tool: generate an AES-256 key on the secure element" \
  p11u --keygen --key-type AES:32 --id 02 --label se-aes
head -c 100000 /dev/urandom > big.bin
step "pkcs11-tool: round-trip 100 kB through AES-CBC-PAD on the secure element" aes_roundtrip big.bin
step "pkcs11-tool: generate an RSA-2048 key pair on the secure element" \
  p11u --keypairgen --key-type RSA:2048 --id 03 --label se-rsa
step "OpenSSL encrypts with the exported RSA key, the secure element decrypts" rsa_roundtrip
"$ROOT/scripts/testbed.sh" stop "$SE/state"
cd "$WORK"

# ---- The module beside SoftHSMv2 --------------------------------------------
if [ $short = 0 ]; then
  echo
  echo "Benchmark: this module (zebp11), the core service alone (vrk) and SoftHSMv2, operations per second"
  "$B/bench/bench_p11" --benchmark_min_time=0.3 --benchmark_format=json --benchmark_out="$WORK/bench.json" \
    --benchmark_out_format=json >/dev/null 2>"$WORK/bench.err" || { cat "$WORK/bench.err"; exit 1; }
  python3 - "$WORK/bench.json" <<'EOF'
import json, sys
rows, cols = {}, ["zebp11", "vrk", "softhsm2"]
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("error_occurred"):
        continue
    who, what = b["name"].split("/")[:2]
    secs = b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    rows.setdefault(what, {})[who] = 1.0 / secs
print(f"{'operation':34}" + "".join(f"{c:>12}" for c in cols))
for what, r in rows.items():
    print(f"{what:34}" + "".join(f"{r[c]:12,.0f}" if c in r else f"{'-':>12}" for c in cols))
EOF
fi
echo
echo "Demo finished: every step passed."
