#!/usr/bin/env bash
# Sets up a software HSM in DIR, the working directory of the programs that
# will use it (the PKCS#11 module, the administration tool):
#   sw_hsm_list.txt        the software HSMs that exist (this one)
#   device_filepath.cfg    where the HSM's files are (SwHsm/ under DIR)
#   sto_filepath.cfg       where the object store is (Store/ under DIR)
#   VRK_Filepath.cfg       where the login configuration HSM.cfg is
#   SwHsm/HsmAdmin.cfg     the HSM record, with the administrator PIN (0600)
# An HSM already set up in DIR is never overwritten.
set -euo pipefail

usage() {
  echo "usage: $0 DIR [--sn SERIAL] [--label LABEL] [--admin-pin PIN]" >&2
  echo "  SERIAL: 1 to 16 characters; LABEL: 1 to 32; PIN: 1 to 32" >&2
  exit 2
}

[ $# -ge 1 ] || usage
dir="$1"; shift
sn="" label="" pin=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sn) [ $# -ge 2 ] || usage; sn="$2"; shift 2 ;;
    --label) [ $# -ge 2 ] || usage; label="$2"; shift 2 ;;
    --admin-pin) [ $# -ge 2 ] || usage; pin="$2"; shift 2 ;;
    *) usage ;;
  esac
done

for f in sw_hsm_list.txt SwHsm/HsmAdmin.cfg; do
  if [ -e "$dir/$f" ]; then
    echo "$0: $dir already holds a software HSM ($f); nothing changed" >&2
    exit 1
  fi
done

random_chars() {  # COUNT SET
  LC_ALL=C tr -dc "$2" </dev/urandom | head -c "$1" || true
}
if [ -z "$sn" ]; then
  sn="$(random_chars 16 '0-9')"
  echo "serial number (default): $sn"
fi
if [ -z "$label" ]; then
  label="ZEB Software HSM"
  echo "label (default): $label"
fi
if [ -z "$pin" ]; then
  pin="$(random_chars 16 'A-Za-z0-9')"
  echo "administrator PIN (default): $pin"
fi

# Each value goes into a fixed field of a key=value line: it must fit and
# hold no line break, no "=" (the readers find keys anywhere in a line) and,
# for the serial number and label, nothing a reader would cut.
check() {  # NAME VALUE MAX
  local n=${#2}
  if [ "$n" -lt 1 ] || [ "$n" -gt "$3" ]; then
    echo "$0: $1 must be 1 to $3 characters" >&2; exit 2
  fi
  case "$2" in
    *$'\n'* | *$'\r'* | *=*) echo "$0: $1 must not hold a line break or '='" >&2; exit 2 ;;
  esac
}
check "serial number" "$sn" 16
check "label" "$label" 32
check "administrator PIN" "$pin" 32

mkdir -p "$dir"
cd "$dir"

# Files are written under a temporary name and renamed, so that a reader
# never sees half of one.
put() {  # FILE UMASK TEXT
  local tmp="$1.new.$$"
  (umask "$2"; printf '%s' "$3" >"$tmp")
  mv -f "$tmp" "$1"
}

mkdir -p SwHsm
put SwHsm/HsmAdmin.cfg 077 "Pin=$pin
PinLen=${#pin}
Sn=$sn
Label=$label
LabelLen=${#label}
FwVer=1.0.0
FwVerLen=5
Type=1
Status=3
CurrTknCount=0
MaxTknCount=4
CurrLoginFail=0
MaxLoginFail=10
Default=
DefaultLen=0
"
put device_filepath.cfg 022 "HsmAdmin_config_path=./
"
put sto_filepath.cfg 022 "tknobj_config_path=.
"
put VRK_Filepath.cfg 022 "Hsm_login_config_path=./
"
put sw_hsm_list.txt 022 "HSMSn=$sn
HSMLabel=$label
HSMType=1
"
echo "software HSM $sn set up in $(pwd)"
