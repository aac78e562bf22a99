#!/usr/bin/env bash
# VarnSrv's real window under Xvfb (no tray there, so the window shows at
# once), in a private environment, grabbed and cropped to the window
# (default docs/screenshots/VarnSrv-Xvfb.png).
# Needs xvfb, x11-utils and imagemagick (scripts/bootstrap installs them).
#   tools/varnsrv-xvfb.sh build/default [OUT.png]
set -euo pipefail
if [ "${1:-}" != --inner ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inner "$@"
fi
shift
source "$(dirname "$0")/emulator-env.sh"
build=$(cd "${1:?usage: varnsrv-xvfb.sh BUILD_DIR [OUT.png]}" && pwd)
png=$(realpath -m "${2:-docs/screenshots/VarnSrv-Xvfb.png}")
work=$(mktemp -d)
varn_private_env "$work"
unset QT_QPA_PLATFORM
srv=""
cleanup() {
  [ -n "$srv" ] && kill -TERM "$srv" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$build/bin/VarnSrv" &
srv=$!
varn_grab_window "Сервер Варн" "$png"
