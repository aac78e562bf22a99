#!/usr/bin/env bash
# The driver's settings window as a real window: `varn properties` on an X
# server of its own (Xvfb), with the emulator as COM1 and a private registry.
# Once the window is up the screen is grabbed and cropped to the window.
#   tools/shoot-properties.sh build/default docs/screenshots/VarnDrv-ShowProperties-xvfb.png
# Needs xvfb, x11-utils and imagemagick (scripts/bootstrap).
set -euo pipefail
if [ "${1:-}" != --inner ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inner "$@"
fi
shift
build=$(cd "${1:?usage: shoot-properties.sh BUILD_DIR OUT.png}" && pwd)
png=$(realpath -m "${2:?usage: shoot-properties.sh BUILD_DIR OUT.png}")
out=$(mktemp -d)
mkdir -m 700 "$out/run"
export VARN_REGISTRY="$out/registry.reg" VARN_LOG_DIR="$out" VARN_RUNTIME_DIR="$out/run"
unset QT_QPA_PLATFORM

"$build/bin/varn-emu" --com 1 &
emu=$!
varn=""
cleanup() {
  [ -n "$varn" ] && kill -TERM "$varn" 2>/dev/null
  kill -TERM "$emu" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$out"
}
trap cleanup EXIT
for _ in $(seq 100); do
  grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null && break
  sleep 0.1
done

"$build/bin/varn" properties &
varn=$!
title="Свойства: Варн"
for _ in $(seq 200); do
  xwininfo -root -tree 2>/dev/null | grep -q "\"$title\"" && break
  sleep 0.1
done
sleep 1  # let it paint
geometry=$(xwininfo -name "$title" | awk '
  /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
  /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "%dx%d+%d+%d", w, h, x, y}')
import -window root -crop "$geometry" +repage "$png"
echo "$png ($geometry)"
