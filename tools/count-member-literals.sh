#!/bin/sh
# Counts the string literals in the product's C++ sources that name a member
# of the driver ("Name" or u"Name" equal to a name `varn list` prints).
# The driver's own core, the tests, the benchmarks and the build tree are
# left out: the core holds the member table, the rest is not the product.
#
#   tools/count-member-literals.sh [path/to/varn] [-v]
# prints the count; -v lists each literal as file:line:name first.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
varn=${1:-$root/build/default/bin/varn}
verbose=${2:-}
names=$(mktemp)
home=$(mktemp -d)
trap 'rm -rf "$names" "$home"' EXIT
# A private home: listing must not create or read anyone's settings.
HOME=$home "$varn" list | awk '{ print $2 }' | sort -u >"$names"
[ -s "$names" ] || { echo "no member names from $varn" >&2; exit 2; }
cd "$root"
git ls-files '*.cpp' '*.h' |
  grep -v -e '^driver/core/' -e '^tests/' -e '^bench/' |
  xargs grep -n -o -E '(u8|u)?"[A-Za-z_][A-Za-z0-9_]*"' |
  sed -E 's/:(u8|u)?"/:/; s/"$//' |
  awk -F: -v names="$names" '
    BEGIN { while ((getline n < names) > 0) member[n] = 1 }
    ($3 in member) { count++; if (verbose) print }
    END { print count + 0 }' verbose="$verbose"
