#!/usr/bin/env bash
# `make varntest`: the device emulator runs as COM1 in a private
# environment kept in BUILD_DIR/varntest (registry, logs, paper), and
# VarnTest starts on it; the driver starts VarnSrv on demand. Closing
# VarnTest stops the emulator. The saved inputs stay for the next run.
set -euo pipefail
build=$(cd "${1:?usage: run-varntest.sh BUILD_DIR}" && pwd)
out="$build/varntest"
mkdir -p "$out"
[ -d "$out/run" ] || mkdir -m 700 "$out/run"
export VARN_REGISTRY="$out/registry.reg" VARN_LOG_DIR="$out" VARN_RUNTIME_DIR="$out/run"

"$build/bin/varn-emu" --com 1 --state "$out/state.txt" \
  --paper "$out/paper.txt" --paper-png "$out/paper.png" &
emu=$!
trap 'kill -TERM "$emu" 2>/dev/null || true; wait "$emu" 2>/dev/null || true' EXIT
# The emulator is ready once COM1 is registered.
for _ in $(seq 100); do
  grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null && break
  sleep 0.1
done
grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null || { echo "the emulator did not start" >&2; exit 1; }

echo "VarnTest on the emulator (COM1, 4800 bit/s); paper: $out/paper.txt, $out/paper.png"
"$build/bin/VarnTest"
