#!/bin/bash
# check-imports.sh OBJDUMP EXE DEF
# Passes when the import table of EXE holds MorvaneFun_qrvl.dll with exactly
# the named functions listed in DEF (undecorated) and the ordinal-1 function
# by ordinal, and nothing else from that DLL.
set -u
objdump=$1 exe=$2 def=$3
dll=MorvaneFun_qrvl.dll
fail() { echo "check-imports: $(basename "$exe"): $*" >&2; exit 1; }
[ -f "$exe" ] || fail "no such file"

table=$("$objdump" -p "$exe") || fail "objdump failed"
block=$(printf '%s\n' "$table" | awk -v dll="$dll" '
  /DLL Name:/ { on = (tolower($3) == tolower(dll)); next }
  on && /^[ \t]*$/ { on = 0 }
  on && !/Hint\/Ord/ { print }')
[ -n "$block" ] || fail "does not import $dll"

# Named imports: third column; ordinal imports show "<none>" with the ordinal in column 2.
got_names=$(printf '%s\n' "$block" | awk '$3 != "<none>" { print $3 }' | sort)
got_ordinals=$(printf '%s\n' "$block" | awk '$3 == "<none>" { print $2 + 0 }' | sort -n)
want_names=$(awk '/^[ \t]*CSP_/ { sub(/@[0-9]+$/, "", $1); print $1 }' "$def" | sort)

if [ "$got_names" != "$want_names" ]; then
  echo "named imports from $dll differ (< expected, > found):" >&2
  diff <(printf '%s\n' "$want_names") <(printf '%s\n' "$got_names") >&2
  fail "wrong named imports"
fi
printf '%s\n' "$got_names" | grep -q '@' && fail "decorated import names"
[ "$got_ordinals" = "1" ] || fail "ordinal imports are '${got_ordinals//$'\n'/ }', expected exactly 1"
echo "check-imports: $(basename "$exe") imports $dll: $(printf '%s\n' "$got_names" | wc -l) functions by name and ordinal 1"
