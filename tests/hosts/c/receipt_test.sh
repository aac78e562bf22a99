#!/usr/bin/env bash
# The C interface's program against the emulator as COM1, in a private
# registry where COM9 names a device that is not there.
set -euo pipefail
program=${1:?usage: receipt_test.sh PROGRAM BUILD_DIR}
build=${2:?usage: receipt_test.sh PROGRAM BUILD_DIR}
source "$(dirname "$0")/../../../tools/emulator-env.sh"
dir=$(mktemp -d)
emu=""
finish() {
  [ -n "$emu" ] && kill -TERM "$emu" 2>/dev/null && wait "$emu" || true
  # VarnSrv, started for the driver, ends with its last object.
  for _ in $(seq 200); do
    [ -S "$dir/run/VarnSrv.sock" ] || break
    sleep 0.1
  done
  rm -rf "$dir"
}
trap finish EXIT
varn_private_env "$dir"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Kvelta\\Варн\\Сервер\\Ports]\n"COM9"="%s/no-such-tty"\n' \
  "$dir" >"$VARN_REGISTRY"
varn_start_emulator "$build" --paper "$dir/paper.txt"
"$program" "$dir/paper.txt"
