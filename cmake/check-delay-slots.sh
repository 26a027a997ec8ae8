#!/bin/bash
# check-delay-slots.sh NM EXE DEF...
# Fails when EXE imports a function of a delay-import library (DEF: the .def
# it was made from) without that function's stub: its slot would stay 0 and
# the first call would jump to address 0. The linked exe still has its
# symbols: an import's slot is __imp_<sym>, its stub <sym>.
set -eu
nm=$1 exe=$2
shift 2
syms=$(mktemp)
trap 'rm -f "$syms"' EXIT
"$nm" "$exe" >"$syms"
awk -v exe="$exe" '
  FILENAME ~ /\.def$/ { if ($0 ~ /^  /) delayed[$1] = 1; next }
  {
    sym = $NF
    if ($2 == "I" && index(sym, "__imp_") == 1) imp[substr(sym, 7)] = 1
    else if ($2 ~ /^[Tt]$/ && $1 !~ /^0+$/) stub[sym] = 1
  }
  END {
    bad = 0; n = 0
    for (s in imp) {
      name = s; sub(/^_/, "", name)      # the 32-bit leading underscore
      if (!(name in delayed) && !((s) in delayed)) continue
      n++
      if (!(s in stub)) { print exe ": delay-imported " s " has no stub (its slot would stay 0)" > "/dev/stderr"; bad = 1 }
    }
    if (!bad) printf "%s: %d delay-imported functions, each with its stub\n", exe, n
    exit bad
  }' "$@" "$syms"
