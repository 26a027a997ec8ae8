#!/bin/bash
# Installs what is missing, builds both targets and runs every test suite:
# the x86_64 build under the host's Wine, the i686 build (the product) under
# 32-bit Wine in the i386 root of scripts/i386-wine.sh.
#   ./test.sh                 everything
#   ./test.sh -R Tray         extra arguments go to ctest, for both suites
# QRVL_BUILD (default ./build, inside the repository) holds both builds;
# QRVL_SUITES="x86_64" runs one suite only (default "x86_64 i686").
set -u
cd "$(dirname "$0")"
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}
suites=${QRVL_SUITES:-x86_64 i686}
trap qrvl_cleanup EXIT

qrvl_install_missing
qrvl_build i686-w64-mingw32 "$build/i686"
qrvl_build x86_64-w64-mingw32 "$build/x86_64"

qrvl_start_xvfb
declare -A result
for suite in $suites; do
  case $suite in
    x86_64)
      qrvl_say "preparing Wine for x86_64 (code page 936, private prefix)"
      qrvl_locale "$build/x86_64"
      qrvl_prefix "$build/x86_64" ;;
    i686)
      qrvl_say "preparing 32-bit Wine for i686 (i386 root, code page 936, private prefix)"
      if ! qrvl_i386_prefix "$build/i686"; then
        result[$suite]="NOT RUN: the 32-bit Wine environment could not be made"
        continue
      fi ;;
    *) qrvl_die "unknown suite $suite" ;;
  esac
  qrvl_say "running the $suite suite under Wine"
  (cd "$build/$suite" && ctest --output-on-failure --timeout 900 "$@") | tee "$build/$suite/ctest.log"
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    result[$suite]="passed ($(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$build/$suite/ctest.log" | grep -Eo '[0-9]+$') test programs)"
  else
    result[$suite]="FAILED ($(grep -Eo '[0-9]+% tests passed.*' "$build/$suite/ctest.log"))"
  fi
done

status=0
qrvl_say "summary"
for suite in $suites; do
  printf '   %-7s %s\n' "$suite" "${result[$suite]}"
  case ${result[$suite]} in passed*) ;; *) status=1 ;; esac
done
exit $status
