#!/bin/sh
# Counts the string literals in the product's C++ sources that name a member
# of the driver: "Name" or u"Name" equal to a name `varn list` prints.
# Left out: the driver's core (it holds the member table), the tests, the
# benchmarks, the port server (server/: its own member table, whose names
# the driver repeats, are IVarnSrv's, never calls to the driver), comment
# lines, and everything not committed (the generated header is in the
# build tree).
#
#   tools/count-member-literals.sh [-v] [REVISION] [VARN]
# prints the count in REVISION (default: the work tree's committed HEAD);
# -v lists each literal as file:line:name first. VARN is the varn program
# whose list gives the names (default build/default/bin/varn).
set -eu
verbose=
if [ "${1:-}" = -v ]; then verbose=1; shift; fi
rev=${1:-HEAD}
root=$(cd "$(dirname "$0")/.." && pwd)
varn=${2:-$root/build/default/bin/varn}
names=$(mktemp)
home=$(mktemp -d)
trap 'rm -rf "$names" "$home"' EXIT
# A private home: listing must not create or read anyone's settings.
HOME=$home "$varn" list | awk '{ print $2 }' | sort -u >"$names"
[ -s "$names" ] || { echo "no member names from $varn" >&2; exit 2; }
cd "$root"
git grep -n -E '"[A-Za-z_][A-Za-z0-9_]*"' "$rev" -- '*.cpp' '*.h' \
    ':!driver/core/' ':!tests/' ':!bench/' ':!server/' |
  awk -v names="$names" -v verbose="$verbose" '
    BEGIN { while ((getline n < names) > 0) member[n] = 1 }
    {
      # REVISION:FILE:LINE:TEXT
      split($0, part, ":")
      file = part[2]; line = part[3]
      text = substr($0, length(part[1] part[2] part[3]) + 4)
      if (text ~ /^[ \t]*(\/\/|\*)/) next
      while (match(text, /"[A-Za-z_][A-Za-z0-9_]*"/)) {
        word = substr(text, RSTART + 1, RLENGTH - 2)
        text = substr(text, RSTART + RLENGTH)
        if (word in member) { count++; if (verbose) print file ":" line ":" word }
      }
    }
    END { print count + 0 }'
