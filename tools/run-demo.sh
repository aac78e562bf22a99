#!/usr/bin/env bash
# The main job (`make run`): the device emulator runs as COM1 with a private
# registry, a client sends a status request and a short receipt through the
# link layer, the emulator is stopped with SIGTERM, and its paper is shown.
set -euo pipefail
build=$(cd "${1:?usage: run-demo.sh BUILD_DIR}" && pwd)
out="$build/emu-demo"
rm -rf "$out"
mkdir -p "$out"
export VARN_REGISTRY="$out/registry.reg" VARN_LOG_DIR="$out"

"$build/emulator/varn-emu" --com 1 --state "$out/state.txt" \
  --paper "$out/paper.txt" --paper-png "$out/paper.png" &
emu=$!
trap 'kill -TERM "$emu" 2>/dev/null || true' EXIT

"$build/tools/varn-demo" --com 1

kill -TERM "$emu"
wait "$emu"
trap - EXIT
if grep -q '"COM1"' "$VARN_REGISTRY"; then
  echo "COM1 is still registered" >&2
  exit 1
fi

echo
echo "paper, as text:    $out/paper.txt"
echo "paper, as picture: $out/paper.png"
echo "----------------------------------------"
cat "$out/paper.txt"
echo "----------------------------------------"
