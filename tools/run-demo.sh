#!/usr/bin/env bash
# The main job (`make run`): the device emulator runs as COM1 with a private
# registry, `varn` prints a short receipt through the driver (which starts
# the port server VarnSrv on demand), both end, and the paper is shown.
set -euo pipefail
source "$(dirname "$0")/emulator-env.sh"
build=$(cd "${1:?usage: run-demo.sh BUILD_DIR}" && pwd)
out="$build/emu-demo"
rm -rf "$out"
varn_private_env "$out"
emu=""
trap 'kill -TERM "$emu" 2>/dev/null || true' EXIT
varn_start_emulator "$build" --state "$out/state.txt" \
  --paper "$out/paper.txt" --paper-png "$out/paper.png"

set -x
"$build/bin/varn" \
  call GetECRStatus get ECRModeDescription get ECRSoftVersion \
  call GetDeviceMetrics get UDescription \
  set 'StringForPrinting=ООО «Ромашка»' call PrintWideString \
  set 'StringForPrinting=Кассовый чек № 1' call PrintString \
  set 'StringForPrinting=Хлеб              1 x 45.00' call PrintString \
  set 'StringForPrinting=Молоко            2 x 89.90' call PrintString \
  set 'StringForPrinting=ИТОГ          224.80' call PrintWideString \
  set FontType=3 set 'StringForPrinting=Спасибо за покупку!' call PrintStringWithFont \
  set BarCode=460123456789 call PrintBarCode \
  set StringQuantity=3 call FeedDocument
{ set +x; } 2>/dev/null

# VarnSrv, started for the driver, ends with the driver's last object.
for _ in $(seq 100); do
  [ -S "$VARN_RUNTIME_DIR/VarnSrv.sock" ] || break
  sleep 0.1
done
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
