#!/usr/bin/env bash
# The Debian packages as a user gets them (CI, after `make test`): `make
# package`, both packages installed with dpkg, then only the installed
# paths in a bare environment (PATH=/usr/bin:/bin, a temporary HOME with the
# registry and XDG folders in it, nothing of the build tree): the programs'
# help, the man page, a receipt through varn on the emulator with VarnSrv
# started on demand from /usr/bin, the same through the Python package and
# libvarn; then both removed and nothing of them left.
#
# dpkg needs root: as root it runs; otherwise through sudo when sudo works
# without a password, else it says it is skipped and exits 0. The packages
# are removed on every way out, so a failure leaves the machine as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$PWD
build=$tree/build/default

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
  else
    echo "package-test: skipped: installing packages needs root (or sudo without a password)"
    exit 0
  fi
fi

for p in varn varn-gui; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    echo "package-test: $p is installed already; this test installs and removes it" >&2
    exit 1
  fi
done

make package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
debs=("$build/varn_${version}_${arch}.deb")
[ -f "$build/varn-gui_${version}_${arch}.deb" ] && debs+=("$build/varn-gui_${version}_${arch}.deb")
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "package-test: no $deb" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/varn-package-test.XXXXXX)
chmod 755 "$dir"
# Nothing of the tree: a bare environment, run from an empty folder.
home=$dir/home
mkdir -p "$home" "$dir/work"
mkdir -m 700 "$dir/run"
bare=(env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 XDG_CONFIG_HOME="$home/.config"
  XDG_STATE_HOME="$home/.local/state" XDG_RUNTIME_DIR="$dir/run")
run() {
  (cd "$dir/work" && exec "${bare[@]}" "$@")
}
emu=""
finish() {
  local rc=$?
  set +e
  if [ -n "$emu" ]; then
    kill -TERM "$emu" 2>/dev/null
    wait "$emu" 2>/dev/null
  fi
  # A server still running from /usr/bin goes before its files do.
  [ -x /usr/bin/VarnSrv ] && run /usr/bin/VarnSrv close >/dev/null 2>&1
  $SUDO dpkg -P varn-gui varn >/dev/null 2>&1
  rm -rf "$dir"
  [ $rc -eq 0 ] && echo "package-test: passed" || echo "package-test: FAILED" >&2
  exit $rc
}
trap finish EXIT

fail() {
  echo "package-test: $*" >&2
  exit 1
}

if ! $SUDO dpkg -i "${debs[@]}"; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq --no-install-recommends
fi
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  dpkg-query -W -f='${Status}' "$name" | grep -q "ok installed" || fail "$name is not installed"
  dpkg -L "$name" >>"$dir/files"
done

registry=$home/.config/varn/registry.reg

run varn --help >"$dir/out" || fail "varn --help failed"
grep -q "call METHOD" "$dir/out" || fail "varn --help says no steps"
run VarnSrv --help >"$dir/out" || fail "VarnSrv --help failed"
if [ -d "$tree/docs/man" ]; then
  page=$(run man -w varn) || fail "man -w varn finds no page"
  [ "$page" = /usr/share/man/man1/varn.1.gz ] || fail "varn's man page is $page"
fi

# Its own process (exec all the way), so that $emu is the emulator's pid.
(cd "$dir/work" && exec "${bare[@]}" varn-emu --com 1 --paper "$dir/paper.txt") &
emu=$!
for _ in $(seq 100); do
  grep -q '"COM1"' "$registry" 2>/dev/null && break
  sleep 0.1
done
grep -q '"COM1"' "$registry" 2>/dev/null || fail "the emulator did not start"

run varn call GetECRStatus set 'StringForPrinting=Кассовый чек № 1' call PrintString \
  set 'StringForPrinting=ИТОГ' call PrintWideString >"$dir/out" ||
  { cat "$dir/out" >&2; fail "the receipt through varn failed"; }
run python3 -B -c '
import varn
with varn.Driver(strict=True) as d:
    d.StringForPrinting = "Через Python"
    d.PrintString()
' || fail "the receipt through the Python package failed"

# The driver registered itself from the installed folder on first use, and
# the server that started on demand was /usr/bin's.
grep -qF "\"/usr/lib/$multiarch/varn/libVarnDrv.so\"" "$registry" ||
  fail "no registration of the installed driver in $registry"
grep -qF '"/usr/bin/VarnSrv"' "$registry" || fail "VarnSrv did not run from /usr/bin"
for line in "Кассовый чек № 1" "[bold] ИТОГ" "Через Python"; do
  grep -qF "$line" "$dir/paper.txt" || { cat "$dir/paper.txt" >&2; fail "no \"$line\" on the paper"; }
done

# VarnSrv, started for the driver, ends with its last object.
for _ in $(seq 100); do
  [ -S "$dir/run/varn/VarnSrv.sock" ] || break
  sleep 0.1
done
[ -S "$dir/run/varn/VarnSrv.sock" ] && fail "VarnSrv did not end after the last client"
kill -TERM "$emu"
wait "$emu" || fail "the emulator did not end cleanly"
emu=""

$SUDO dpkg -r varn-gui varn >/dev/null 2>&1 || $SUDO dpkg -r varn
left=()
while read -r f; do
  [ -e "$f" ] && [ ! -d "$f" ] && left+=("$f")
done <"$dir/files"
[ ${#left[@]} -eq 0 ] || fail "left after removal: ${left[*]}"
for d in "/usr/lib/$multiarch/varn" /usr/share/doc/varn /usr/share/doc/varn-gui \
  /usr/lib/python3/dist-packages/varn; do
  [ -e "$d" ] && fail "left after removal: $d"
done
exit 0
