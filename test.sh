#!/bin/bash
# Installs what is missing, builds both targets and runs every test suite:
# the x86_64 build under the host's Wine, the i686 build (the product) under
# 32-bit Wine in the i386 root of scripts/i386-wine.sh.
#   ./test.sh                 everything
#   ./test.sh -R Tray         extra arguments go to ctest, for both suites
# QRVL_BUILD (default ./build, inside the repository) holds both builds;
# QRVL_SUITES="x86_64" runs one suite only (default "x86_64 i686").
# QRVL_I386_EMULATE=1 runs the i686 suite through qemu-user even where the
# kernel runs i386 code (the path of machines without IA-32 emulation).
# Nothing it starts outlives it: Xvfb, the wineservers and everything in the
# i386 root are stopped, and the root's mounts and qemu registration undone,
# also when it is interrupted.
set -u
cd "$(dirname "$0")"
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}
suites=${QRVL_SUITES:-x86_64 i686}
ctest_pid="" setup_pid=""
on_exit() {
  [ -n "$ctest_pid" ] && kill "$ctest_pid" 2>/dev/null
  # The set-up runs in a session of its own: debootstrap and apt go with it.
  [ -n "$setup_pid" ] && kill -TERM -- "-$setup_pid" 2>/dev/null && wait "$setup_pid"
  qrvl_cleanup
}
trap on_exit EXIT
# A signal ends the script at once (the wait below is interrupted), and the
# exit runs the clean-up.
trap 'exit 130' INT
trap 'exit 143' TERM
started=$SECONDS

qrvl_install_missing
# The i386 root is made (the first time, several minutes) while both targets build.
if [[ " $suites " == *" i686 "* ]]; then
  mkdir -p "$build"
  setsid "$QRVL_ROOT/scripts/i386-wine.sh" setup >"$build/i386-setup.log" 2>&1 &
  setup_pid=$!
fi
qrvl_build i686-w64-mingw32 "$build/i686"
qrvl_build x86_64-w64-mingw32 "$build/x86_64"

qrvl_start_xvfb
declare -A result path
for suite in $suites; do
  case $suite in
    x86_64)
      qrvl_say "preparing Wine for x86_64 (code page 936, private prefix)"
      qrvl_locale "$build/x86_64"
      qrvl_prefix "$build/x86_64" ;;
    i686)
      qrvl_say "preparing 32-bit Wine for i686 (i386 root, code page 936, private prefix)"
      wait "$setup_pid"; setup_rc=$?; setup_pid=""
      cat "$build/i386-setup.log"
      if [ $setup_rc -ne 0 ] || ! qrvl_i386_prefix "$build/i686"; then
        result[$suite]="NOT RUN: the 32-bit Wine environment could not be made"
        continue
      fi
      path[$suite]=$("$QRVL_ROOT/scripts/i386-wine.sh" path)
      qrvl_say "the i686 suite runs $( [ "${path[$suite]}" = native ] && echo "natively" || echo "through qemu-user (emulated)")" ;;
    *) qrvl_die "unknown suite $suite" ;;
  esac
  qrvl_say "running the $suite suite under Wine"
  log=$build/$suite/ctest.log
  # In the background, so that a signal is taken at once; the clean-up then
  # stops the Wine processes the tests started.
  (cd "$build/$suite" && exec ctest --output-on-failure --timeout 900 -O "$log" "$@") &
  ctest_pid=$!
  wait $ctest_pid
  rc=$?
  ctest_pid=""
  programs=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | grep -Eo '[0-9]+$')
  if [ $rc -eq 0 ]; then
    result[$suite]="passed (${programs:-0} test programs)"
  else
    result[$suite]="FAILED ($(grep -Eo '[0-9]+% tests passed.*' "$log"))"
  fi
  [ -n "${path[$suite]:-}" ] && result[$suite]+=" [${path[$suite]}]"
done

status=0
qrvl_say "summary ($(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s)"
for suite in $suites; do
  printf '   %-7s %s\n' "$suite" "${result[$suite]}"
  case ${result[$suite]} in passed*) ;; *) status=1 ;; esac
done
exit $status
