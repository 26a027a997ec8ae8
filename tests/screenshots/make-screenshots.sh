#!/bin/bash
# Shoots the README's pictures from the real tool under Wine, on an Xvfb of
# its own, with simulated keys: the main window on each of its four tabs and
# the balloon of a key being inserted. Writes docs/screenshots/*.png.
set -u
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh

build=${QRVL_BUILD:-$QRVL_ROOT/build}/x86_64
out=$QRVL_ROOT/docs/screenshots
trap qrvl_cleanup EXIT

qrvl_install_missing
qrvl_build x86_64-w64-mingw32 "$build"
qrvl_locale "$build"
qrvl_start_xvfb
qrvl_prefix "$build"

shots=$build/screenshots
rm -rf "$shots" && mkdir -p "$shots" "$out"
export TOKENSIM_STORE="$shots/store"
mkdir -p "$TOKENSIM_STORE"
qrvl_say "driving the tool"
qrvl_wine "$build/bin/screenshot_driver.exe" "Z:${shots//\//\\}" \
  || qrvl_die "the screenshot driver failed"

/usr/bin/python3 - "$shots" "$out" <<'PY'
import os, sys
from PIL import Image
shots, out = sys.argv[1:]
names = {"main-0": "certificates", "main-1": "password", "main-2": "import",
         "main-3": "label", "balloon": "balloon"}
for bmp, png in names.items():
    Image.open(os.path.join(shots, bmp + ".bmp")).save(os.path.join(out, png + ".png"), optimize=True)
    print("docs/screenshots/%s.png" % png)
PY
