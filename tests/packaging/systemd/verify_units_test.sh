#!/usr/bin/env bash
# Every unit passes systemd-analyze verify without a word (it reports an
# unknown key or a bad value and still exits 0, so any output fails), the
# user units with a manager of their own in a private runtime folder. The
# installed copies differ from the verified ones only in ExecStart=.
set -euo pipefail
units=${1:?usage: verify_units_test.sh UNITS_FOLDER INSTALLED_BINDIR}
bindir=${2:?usage: verify_units_test.sh UNITS_FOLDER INSTALLED_BINDIR}
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 700 "$tmp"

verify() {
  local out
  if ! out=$(XDG_RUNTIME_DIR=$tmp systemd-analyze "$@" 2>&1) || [ -n "$out" ]; then
    echo "systemd-analyze $*:" >&2
    echo "$out" >&2
    exit 1
  fi
}
# man:VarnSrv(8) need not be installed where the tests run.
verify --user verify --man=no "$units/verify/user/varnsrv.socket" "$units/verify/user/varnsrv.service"
verify verify --man=no "$units/verify/system/varnsrv.service"

for unit in user/varnsrv.socket user/varnsrv.service system/varnsrv.service; do
  if ! diff <(grep -v '^ExecStart=' "$units/$unit") <(grep -v '^ExecStart=' "$units/verify/$unit") >&2
  then
    echo "$unit: the installed copy differs from the verified one" >&2
    exit 1
  fi
done
for unit in user/varnsrv.service system/varnsrv.service; do
  grep -q "^ExecStart=$bindir/VarnSrv --headless" "$units/$unit" ||
    { echo "$unit: ExecStart= is not $bindir/VarnSrv" >&2; exit 1; }
done
# The socket is where the server and the driver look for it.
grep -qx 'ListenStream=%t/varn/VarnSrv.sock' "$units/user/varnsrv.socket"
echo "3 units verified"
