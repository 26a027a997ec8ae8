#!/bin/bash
# check-exports.sh OBJDUMP DLL DEF
# Passes when DLL exports exactly the functions listed in DEF by their plain
# (undecorated) names, and ordinal 1 without a name.
set -u
objdump=$1 dll=$2 def=$3
fail() { echo "check-exports: $(basename "$dll"): $*" >&2; exit 1; }
[ -f "$dll" ] || fail "no such file"
table=$("$objdump" -p "$dll") || fail "objdump failed"

got_names=$(printf '%s\n' "$table" | awk '
  /\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
  on && /^[ \t]*$/ { on = 0 }
  on { print $NF }' | sort)
want_names=$(awk '/^[ \t]*CSP_/ { sub(/@[0-9]+$/, "", $1); print $1 }' "$def" | sort)
if [ "$got_names" != "$want_names" ]; then
  echo "exported names differ (< expected, > found):" >&2
  diff <(printf '%s\n' "$want_names") <(printf '%s\n' "$got_names") >&2
  fail "wrong exported names"
fi
# Ordinal 1 must lead somewhere: "[   0] +base[   1] <rva> Export RVA".
printf '%s\n' "$table" | grep -Eq '\+base\[ *1\] +[0-9a-f]+ Export RVA' || fail "no ordinal 1"
echo "check-exports: $(basename "$dll") exports $(printf '%s\n' "$got_names" | wc -l) functions by name and ordinal 1"
