#!/usr/bin/env bash
# VarnTest's real window under Xvfb, with the emulator as COM1 in a private
# environment, saved as a PNG (default docs/screenshots/VarnTest-xvfb.png).
# Needs xvfb, x11-utils and imagemagick (scripts/bootstrap installs them).
#   tools/varntest-xvfb.sh build/default [OUT.png]
set -euo pipefail
build=$(cd "${1:?usage: varntest-xvfb.sh BUILD_DIR [OUT.png]}" && pwd)
png=$(realpath -m "${2:-docs/screenshots/VarnTest-xvfb.png}")
work=$(mktemp -d)
mkdir -m 700 "$work/run"
export VARN_REGISTRY="$work/registry.reg" VARN_LOG_DIR="$work" VARN_RUNTIME_DIR="$work/run"

"$build/bin/varn-emu" --com 1 --paper "$work/paper.txt" &
emu=$!
trap 'kill -TERM "$emu" 2>/dev/null || true; wait "$emu" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null && break
  sleep 0.1
done
grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null || { echo "the emulator did not start" >&2; exit 1; }

# Inside the virtual display: start the program, wait for its window to be
# mapped, let it paint, grab the window, end the program.
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  "$1/bin/VarnTest" &
  app=$!
  id=""
  for _ in $(seq 200); do
    id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Тест драйвера Варн / { print \$1; exit }")
    [ -n "$id" ] && xwininfo -id "$id" | grep -q "IsViewable" && break
    id=""
    sleep 0.1
  done
  [ -n "$id" ] || { echo "varntest-xvfb: no window" >&2; kill "$app"; exit 1; }
  sleep 1
  import -window "$id" "$2"
  kill "$app"
  wait "$app" || true
' bash "$build" "$png"
echo "$png"
