#!/usr/bin/env bash
# VarnTest's real window under Xvfb, with the emulator as COM1 in a private
# environment, saved as a PNG (default docs/screenshots/VarnTest-xvfb.png).
# Needs xvfb, x11-utils and imagemagick (scripts/bootstrap installs them).
#   tools/varntest-xvfb.sh build/default [OUT.png]
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
source "$tools/emulator-env.sh"
build=$(cd "${1:?usage: varntest-xvfb.sh BUILD_DIR [OUT.png]}" && pwd)
png=$(realpath -m "${2:-docs/screenshots/VarnTest-xvfb.png}")
work=$(mktemp -d)
varn_private_env "$work"
emu=""
trap 'kill -TERM "$emu" 2>/dev/null || true; wait "$emu" 2>/dev/null || true; rm -rf "$work"' EXIT
varn_start_emulator "$build" --paper "$work/paper.txt"

# Inside the virtual display: start the program, wait for its window to be
# shown, let it paint, grab the window, end the program.
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  source "$3/emulator-env.sh"
  "$1/bin/VarnTest" &
  app=$!
  id=$(varn_wait_window "Тест драйвера Варн ") || { kill "$app"; exit 1; }
  sleep 1  # let it paint
  import -window "$id" "$2"
  kill "$app"
  wait "$app" || true
' bash "$build" "$png" "$tools"
echo "$png"
