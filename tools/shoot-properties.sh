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
source "$(dirname "$0")/emulator-env.sh"
build=$(cd "${1:?usage: shoot-properties.sh BUILD_DIR OUT.png}" && pwd)
png=$(realpath -m "${2:?usage: shoot-properties.sh BUILD_DIR OUT.png}")
out=$(mktemp -d)
varn_private_env "$out"
unset QT_QPA_PLATFORM
emu=""
varn=""
cleanup() {
  [ -n "$varn" ] && kill -TERM "$varn" 2>/dev/null
  [ -n "$emu" ] && kill -TERM "$emu" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$out"
}
trap cleanup EXIT
varn_start_emulator "$build"

"$build/bin/varn" properties &
varn=$!
varn_grab_window "Свойства: Варн" "$png"
