#!/usr/bin/env bash
# `make varntest`: the device emulator runs as COM1 in a private
# environment kept in BUILD_DIR/varntest (registry, logs, paper), and
# VarnTest starts on it; the driver starts VarnSrv on demand. Closing
# VarnTest stops the emulator. The saved inputs stay for the next run.
set -euo pipefail
source "$(dirname "$0")/emulator-env.sh"
build=$(cd "${1:?usage: run-varntest.sh BUILD_DIR}" && pwd)
out="$build/varntest"
varn_private_env "$out"
emu=""
trap 'kill -TERM "$emu" 2>/dev/null || true; wait "$emu" 2>/dev/null || true' EXIT
varn_start_emulator "$build" --state "$out/state.txt" \
  --paper "$out/paper.txt" --paper-png "$out/paper.png"

echo "VarnTest on the emulator (COM1, 4800 bit/s); paper: $out/paper.txt, $out/paper.png"
"$build/bin/VarnTest"
