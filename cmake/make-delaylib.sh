#!/bin/bash
# make-delaylib.sh NM DLLTOOL SYSTEM-IMPORT-LIB DLL-NAME OUTPUT BITS
# Makes a delay-import library for a system DLL: the DLL is loaded, and each
# function looked up, on the first call of one of its functions instead of at
# process start. The functions are those of the toolchain's own import
# library (its code symbols; data cannot be delay-loaded and is left out).
set -eu
nm=$1 dlltool=$2 lib=$3 dll=$4 out=$5 bits=$6
def=$out.def
# Code symbols have a thunk next to their __imp_ pointer. i686 symbols carry
# the leading underscore, which the .def does not; x86_64 ones have none.
lead=
[ "$bits" = 32 ] && lead=_
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" -g --defined-only "$lib" | awk -v lead="$lead" '
    $2 == "I" && index($3, "__imp_" lead) == 1 { imp[substr($3, length("__imp_" lead) + 1)] = 1 }
    $2 == "T" && (lead == "" || index($3, lead) == 1) { code[substr($3, length(lead) + 1)] = 1 }
    END { for (name in code) if (name in imp) print "  " name }' | sort -u
} >"$def"
[ "$(wc -l <"$def")" -gt 2 ] || { echo "make-delaylib: no functions found in $lib" >&2; exit 1; }
killat=
[ -n "$lead" ] && killat=--kill-at
"$dlltool" --input-def "$def" --dllname "$dll" $killat --output-delaylib "$out"
