#!/bin/bash
# Installs what is missing, builds both targets and runs every test.
#   ./test.sh                 everything
#   ./test.sh -R Tray         extra arguments go to ctest (x86_64 suite)
# QRVL_BUILD (default ./build) names the folder that holds both builds.
set -u
cd "$(dirname "$0")"
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}
trap qrvl_cleanup EXIT

qrvl_install_missing
qrvl_build i686-w64-mingw32 "$build/i686"
qrvl_build x86_64-w64-mingw32 "$build/x86_64"

qrvl_say "preparing Wine (code page 936, private prefix, own Xvfb)"
qrvl_locale "$build/x86_64"
qrvl_start_xvfb
qrvl_prefix "$build/x86_64"

qrvl_say "running the x86_64 suite under Wine"
(cd "$build/x86_64" && ctest --output-on-failure --timeout 900 "$@")
status=$?
if [ $status -eq 0 ]; then
  qrvl_say "x86_64 suite: passed; i686 build: built and checked at compile time"
else
  qrvl_say "x86_64 suite: FAILED"
fi
exit $status
