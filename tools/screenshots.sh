#!/usr/bin/env bash
# Retakes every picture in docs/screenshots from the programs as they are
# now (`make screenshots`): the window tests save theirs offscreen
# (VARN_SCREENSHOTS), then the real programs are grabbed under Xvfb.
# Needs a build with its tests (cmake --build) and xvfb, x11-utils and
# imagemagick (scripts/bootstrap installs them).
#   tools/screenshots.sh build/default [OUT_DIR]
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: screenshots.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=$(realpath -m "${2:-$tools/../docs/screenshots}")
mkdir -p "$out"
# Offscreen: the driver's windows, the test program's pages and about box,
# the server's pages, tray menu and about box.
for t in drv_gui_test testapp_frame_test testapp_pages_test server_window_test; do
  echo "screenshots: $t"
  QT_QPA_PLATFORM=offscreen VARN_SCREENSHOTS="$out" "$build/bin/$t" >/dev/null
done
# The real windows.
"$tools/varntest-xvfb.sh" "$build" "$out/VarnTest-xvfb.png"
"$tools/shoot-properties.sh" "$build" "$out/VarnDrv-ShowProperties-xvfb.png"
"$tools/varnsrv-xvfb.sh" "$build" "$out/VarnSrv-Xvfb.png"
echo "screenshots: $out"
