#!/usr/bin/env bash
# VarnSrv needs no Qt library (ldd lists none), and libVarnSrvGui.so, where
# it is built, defines one function for others: VarnSrvGuiMakeFace.
set -euo pipefail
program=${1:?usage: no_qt_test.sh VARNSRV [LIBVARNSRVGUI]}
library=${2:-}
if qt=$(ldd "$program" | grep -i qt); then
  echo "$program links Qt:" >&2
  echo "$qt" >&2
  exit 1
fi
if [ -n "$library" ]; then
  functions=$(nm -D --defined-only "$library" | awk '$2 == "T" || $2 == "W" { print $3 }')
  if [ "$functions" != "VarnSrvGuiMakeFace" ]; then
    echo "$library exports:" >&2
    echo "$functions" >&2
    exit 1
  fi
  # Not `ldd | grep -q`: grep ending first makes ldd die of SIGPIPE, which
  # pipefail reports as a failure.
  libraries=$(ldd "$library")
  grep -qi qt <<<"$libraries" || { echo "$library does not link Qt?" >&2; exit 1; }
fi
echo "VarnSrv without Qt"
