#!/bin/bash
# Shoots the README's pictures under Wine, on an Xvfb of its own, and writes
# docs/screenshots/*.png:
#   tool       the real tool with simulated keys: the main window on each of
#              its four tabs and the balloon of a key being inserted (x86_64 build)
#   installer  the real setup.exe of the release script walked through its
#              pages on a machine without the key's driver (i686 build, in
#              the 32-bit Wine of scripts/i386-wine.sh, on a prefix of its own)
#   make-screenshots.sh [tool] [installer]     both when none is named
set -u
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh

what=${*:-tool installer}
root=${QRVL_BUILD:-$QRVL_ROOT/build}
out=$QRVL_ROOT/docs/screenshots
trap qrvl_cleanup EXIT

qrvl_install_missing
qrvl_start_xvfb
mkdir -p "$out"

# to_png SHOTS NAME=PNG...: the driver's BMPs as PNG in docs/screenshots.
to_png() {
  /usr/bin/python3 - "$out" "$@" <<'PY'
import os, sys
from PIL import Image
out, shots, pairs = sys.argv[1], sys.argv[2], sys.argv[3:]
for pair in pairs:
    bmp, png = pair.split("=")
    Image.open(os.path.join(shots, bmp + ".bmp")).save(os.path.join(out, png + ".png"), optimize=True)
    print("docs/screenshots/%s.png" % png)
PY
}

if [[ " $what " == *" tool "* ]]; then
  build=$root/x86_64
  qrvl_build x86_64-w64-mingw32 "$build"
  qrvl_locale "$build"
  qrvl_prefix "$build"
  shots=$build/screenshots
  rm -rf "$shots" && mkdir -p "$shots"
  export TOKENSIM_STORE="$shots/store"
  mkdir -p "$TOKENSIM_STORE"
  qrvl_say "driving the tool"
  qrvl_wine "$build/bin/screenshot_driver.exe" "Z:${shots//\//\\}" \
    || qrvl_die "the screenshot driver failed"
  to_png "$shots" main-0=certificates main-1=password main-2=import main-3=label balloon=balloon
fi

if [[ " $what " == *" installer "* ]]; then
  build=$root/i686
  qrvl_build i686-w64-mingw32 "$build"
  shots=$build/setup-shots
  rm -rf "$shots" && mkdir -p "$shots"
  bash release/make-release.sh --from "$build" --out "$shots" >/dev/null || qrvl_die "the release script failed"
  setup=$(ls "$shots"/QuorvelUSBKEY-*-setup.exe)
  qrvl_say "preparing 32-bit Wine (a prefix of its own) for the installer"
  qrvl_i386_prefix "$shots" || qrvl_die "the 32-bit Wine environment could not be made"
  # The root has no Chinese font of its own: the host's, in the prefix's Fonts.
  cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
  qrvl_say "walking the installer"
  scripts/i386-wine.sh exec wine "$build/bin/setup_shots.exe" "Z:${setup//\//\\}" "Z:${shots//\//\\}" \
    || qrvl_die "the installer's screenshot driver failed"
  to_png "$shots" setup-welcome=setup-welcome setup-folder=setup-folder setup-driver=setup-driver \
         setup-progress=setup-progress setup-finish=setup-finish
fi
