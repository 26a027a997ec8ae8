#!/bin/bash
# Builds the tool and starts it under Wine with a simulated key inserted.
# Uses the current DISPLAY if there is one, else an Xvfb of its own.
set -u
cd "$(dirname "$0")"
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}/x86_64
trap qrvl_cleanup EXIT

qrvl_install_missing
qrvl_build x86_64-w64-mingw32 "$build"
qrvl_locale "$build"
if [ -z "${DISPLAY:-}" ]; then
  qrvl_start_xvfb
  qrvl_say "no DISPLAY: running on a private Xvfb at $DISPLAY"
fi
qrvl_prefix "$build"

bin=$build/bin
export TOKENSIM_STORE="$build/demo-store"
if [ ! -f "$bin/QuorvelUSBKEY.exe" ] || [ ! -f "$bin/tokensim.exe" ]; then
  qrvl_die "the tool or tokensim is not built yet"
fi
qrvl_wine "$bin/tokensim.exe" create demo --label "演示KEY" --pin 123456 >/dev/null 2>&1 || true
qrvl_wine "$bin/tokensim.exe" insert demo >/dev/null 2>&1
qrvl_say "starting QuorvelUSBKEY.exe (it lives in the tray; quit it from the tray menu)"
qrvl_wine "$bin/QuorvelUSBKEY.exe"
