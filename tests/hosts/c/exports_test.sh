#!/usr/bin/env bash
# Every symbol libvarn.so defines for others starts with varn_, and the
# interface's own are all there.
set -euo pipefail
lib=${1:?usage: exports_test.sh LIBRARY}
symbols=$(nm -D --defined-only "$lib" | awk '{ print $NF }')
others=$(grep -v '^varn_' <<<"$symbols" || true)
if [ -n "$others" ]; then
  echo "exported beside varn_*:" >&2
  echo "$others" >&2
  exit 1
fi
for f in varn_open varn_open_error varn_close varn_set_int varn_set_text varn_set_bool \
  varn_get_int varn_get_text varn_call varn_call_arg varn_error; do
  grep -qx "$f" <<<"$symbols" || { echo "not exported: $f" >&2; exit 1; }
done
echo "$(wc -l <<<"$symbols") symbols, all varn_*"
