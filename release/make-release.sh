#!/bin/bash
# Builds the 32-bit tool and packs, in dist/ (or --out DIR):
#   QuorvelUSBKEY-<version>-win32.zip  the exe and README.txt: what customers get
#   QuorvelUSBKEY-<version>-setup.exe  the installer of the same exe (installer/)
#   QuorvelUSBKEY-<version>-demo.zip   the stand-in token library and tokensim
# The release never holds the stand-in: customers use the token library that
# comes with their key. Every check below fails the script, not the zip.
#
#   release/make-release.sh               build in build/i686 (or $QRVL_BUILD/i686), then pack
#   release/make-release.sh --from DIR    pack what an i686 build folder already holds
set -eu
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

from="" out=$QRVL_ROOT/dist
while [ $# -gt 0 ]; do
  case $1 in
    --from) from=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) qrvl_die "usage: release/make-release.sh [--from I686_BUILD_DIR] [--out DIR]" ;;
  esac
done

if [ -z "$from" ]; then
  qrvl_install_missing
  from=${QRVL_BUILD:-$QRVL_ROOT/build}/i686
  qrvl_build i686-w64-mingw32 "$from"
fi
grep -q 'toolchain-i686-w64-mingw32' "$from/CMakeCache.txt" 2>/dev/null \
  || qrvl_die "$from is not an i686 build folder"

version=$(sed -n 's/^project(QuorvelUSBKEY VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || qrvl_die "no version in CMakeLists.txt"
bin=$from/bin
objdump=i686-w64-mingw32-objdump
release=QuorvelUSBKEY-$version-win32
demo=QuorvelUSBKEY-$version-demo
setup=QuorvelUSBKEY-$version-setup.exe

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$release" "$stage/$demo" "$out"

# Windows text files: UTF-8 with a byte-order mark (Notepad shows both
# languages right) and CRLF line ends.
text() { printf '\xef\xbb\xbf'; sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$1"; }

i686-w64-mingw32-strip -o "$stage/$release/QuorvelUSBKEY.exe" "$bin/QuorvelUSBKEY.exe"
text release/README.txt > "$stage/$release/README.txt"
cp "$bin/MorvaneFun_qrvl.dll" "$bin/tokensim.exe" "$stage/$demo/"
i686-w64-mingw32-strip "$stage/$demo/MorvaneFun_qrvl.dll" "$stage/$demo/tokensim.exe"
text release/README-demo.txt > "$stage/$demo/README.txt"

# The exe is 32-bit, imports the token library by name, and needs no DLL
# of the compiler's.
exe=$stage/$release/QuorvelUSBKEY.exe
$objdump -f "$exe" | grep -q 'file format pei-i386' || qrvl_die "QuorvelUSBKEY.exe is not a 32-bit exe"
token/check-imports.sh $objdump "$exe" token/MorvaneFun_qrvl.def >/dev/null
# What customers download stays small: no C++ library or exception runtime
# creeps back in unnoticed (about 268 KiB, four fifths of it the art).
size=$(stat -c %s "$exe")
[ "$size" -le $((300 * 1024)) ] || qrvl_die "QuorvelUSBKEY.exe is $size bytes, more than 300 KiB"
dlls=$($objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case $dll in
    libgcc*|libstdc++*|libwinpthread*) qrvl_die "QuorvelUSBKEY.exe needs $dll" ;;
  esac
done
grep -q "Version $version" <(iconv -f GBK -t UTF-8 "$from/res/QuorvelUSBKEY.rc") \
  || qrvl_die "the About box does not say version $version"

# Zips with fixed times and sorted names: the same build packs the same bytes.
pack() {
  python3 - "$stage" "$1" "$out/$1.zip" <<'PY'
import os, sys, zipfile
stage, top, path = sys.argv[1:]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted(os.listdir(os.path.join(stage, top))):
        info = zipfile.ZipInfo(top + "/" + name, (2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(os.path.join(stage, top, name), "rb") as f:
            z.writestr(info, f.read())
PY
}
pack "$release"
pack "$demo"

# The installer of the same stripped exe, its texts in Chinese; any warning
# of makensis fails the script.
makensis -V2 -WX -INPUTCHARSET UTF8 -DVERSION="$version" -DTOOL_EXE="$exe" \
         -DTOOL_ICON="$QRVL_ROOT/res/art/app.ico" -DOUTFILE="$out/$setup" \
         "$QRVL_ROOT/installer/QuorvelUSBKEY.nsi" >/dev/null \
  || qrvl_die "makensis could not build $setup"

# What each zip holds, exactly.
listing() { python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
[ "$(listing "$out/$release.zip")" = "$release/QuorvelUSBKEY.exe $release/README.txt" ] \
  || qrvl_die "the release holds: $(listing "$out/$release.zip")"
[ "$(listing "$out/$demo.zip")" = "$demo/MorvaneFun_qrvl.dll $demo/README.txt $demo/tokensim.exe" ] \
  || qrvl_die "the demo kit holds: $(listing "$out/$demo.zip")"

# What the installer puts in place: the stripped exe byte for byte and its
# uninstaller, nothing of the stand-in (by name or by content).
mkdir "$stage/setup"
7z x -y -o"$stage/setup" "$out/$setup" >/dev/null 2>&1 || qrvl_die "7z cannot read $setup"
installs=$(7z l -slt "$out/$setup" | awk '/^----------$/ { files = 1 } files && sub(/^Path = /, "")' \
           | grep -v '^\$PLUGINSDIR/' | sort | tr '\n' ' ')
[ "$installs" = "QuorvelUSBKEY.exe uninstall.exe " ] || qrvl_die "$setup installs: $installs"
cmp -s "$stage/setup/QuorvelUSBKEY.exe" "$exe" || qrvl_die "$setup does not install the stripped exe"
standin=$(sha256sum <"$stage/$demo/MorvaneFun_qrvl.dll" | cut -d' ' -f1)
standin_full=$(sha256sum <"$bin/MorvaneFun_qrvl.dll" | cut -d' ' -f1)
while IFS= read -r -d '' f; do
  case $(basename "$f" | tr 'A-Z' 'a-z') in morvanefun_qrvl.dll|tokensim*) qrvl_die "$setup carries $f" ;; esac
  sum=$(sha256sum <"$f" | cut -d' ' -f1)
  [ "$sum" != "$standin" ] && [ "$sum" != "$standin_full" ] || qrvl_die "$setup carries the stand-in library as $f"
done < <(find "$stage/setup" -type f -print0)
# Its version resource names the version.
strings -el "$out/$setup" | grep -qxF "$version" || qrvl_die "$setup does not carry version $version"

qrvl_say "release $version"
(cd "$out" && sha256sum "$release.zip" "$setup" "$demo.zip" && ls -l "$release.zip" "$setup" "$demo.zip" | awk '{ print $5, $9 }')
