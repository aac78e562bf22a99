# Sourced by the scripts that run a program against the device emulator in a
# private environment (registry, logs and runtime folder of their own).
#
#   varn_private_env DIR               the environment in DIR (made if missing)
#   varn_start_emulator BUILD [ARGS]   varn-emu as COM1 (its pid in $emu),
#                                      returning once COM1 is registered
#   varn_wait_window TITLE             the X window id of a shown window whose
#                                      title starts with TITLE (Xvfb scripts)
#   varn_grab_window TITLE OUT.png     that window, once painted, grabbed from
#                                      the screen and cropped to it

varn_private_env() {
  mkdir -p "$1"
  [ -d "$1/run" ] || mkdir -m 700 "$1/run"
  export VARN_REGISTRY="$1/registry.reg" VARN_LOG_DIR="$1" VARN_RUNTIME_DIR="$1/run"
}

varn_start_emulator() {
  local build=$1
  shift
  "$build/bin/varn-emu" --com 1 "$@" &
  emu=$!
  local _
  for _ in $(seq 100); do
    grep -q '"COM1"' "$VARN_REGISTRY" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the emulator did not start" >&2
  return 1
}

varn_wait_window() {
  local id _
  for _ in $(seq 200); do
    id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1" 'index($0, t) { print $1; exit }')
    if [ -n "$id" ] && xwininfo -id "$id" | grep -q IsViewable; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "no window \"$1\"" >&2
  return 1
}

varn_grab_window() {
  local id geometry
  id=$(varn_wait_window "$1")
  sleep 1  # let it paint
  geometry=$(xwininfo -id "$id" | awk '
    /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "%dx%d+%d+%d", w, h, x, y}')
  import -window root -crop "$geometry" +repage "$2"
  echo "$2 ($geometry)"
}
