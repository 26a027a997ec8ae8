# Shared set-up of test.sh and run.sh; source it, do not run it.
# Installs what is missing, builds a target, and runs a private Xvfb and
# Wine prefix for one build folder. Everything it starts, qrvl_cleanup stops.

QRVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QRVL_PACKAGES=(debootstrap arch-test cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
               wine wine64 xvfb xauth locales xdotool x11-utils imagemagick fonts-wqy-microhei
               openssl python3 python3-pil nsis p7zip-full)
QRVL_XVFB_PID=""
QRVL_PREFIXES=()

qrvl_say() { printf '== %s\n' "$*"; }
qrvl_die() { printf 'error: %s\n' "$*" >&2; exit 1; }

qrvl_install_missing() {
  local missing=() p
  for p in "${QRVL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  qrvl_say "installing missing packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    qrvl_die "these Debian packages are missing and only root can install them: ${missing[*]}
  run as root, or: sudo apt-get install ${missing[*]}"
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || qrvl_die "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || qrvl_die "apt-get install failed for: ${missing[*]}"
}

# qrvl_build TRIPLET DIR [cmake --build args...]
qrvl_build() {
  local triplet=$1 dir=$2; shift 2
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$QRVL_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$QRVL_ROOT/cmake/toolchain-$triplet.cmake" >/dev/null \
      || qrvl_die "cmake configure failed for $triplet"
  fi
  qrvl_say "building $triplet in $dir"
  cmake --build "$dir" -j"$(nproc)" "$@" || qrvl_die "build failed for $triplet"
}

# The zh_CN.UTF-8 locale that makes Wine use code page 936, kept in the build folder.
qrvl_locale() {
  local dir=$1/locale
  [ -d "$dir/zh_CN.UTF-8" ] && return 0
  mkdir -p "$dir"
  localedef -i zh_CN -f UTF-8 "$dir/zh_CN.UTF-8" 2>/dev/null
  [ -d "$dir/zh_CN.UTF-8" ] || qrvl_die "could not generate the zh_CN.UTF-8 locale in $dir"
}

qrvl_start_xvfb() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  QRVL_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  [ -s "$fdfile" ] || qrvl_die "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
}

# qrvl_prefix BUILD_DIR: a fresh or reused prefix with one persistent wineserver.
qrvl_prefix() {
  local build=$1
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  QRVL_LOCPATH="$build/locale"
  QRVL_PREFIXES+=("$WINEPREFIX")
  mkdir -p "$WINEPREFIX"
  wineserver -p
  qrvl_wine wineboot </dev/null >/dev/null 2>&1
  [ -d "$WINEPREFIX/drive_c/windows" ] || qrvl_die "wineboot did not create the prefix $WINEPREFIX"
  # Unmanaged windows: message boxes close at once without a window manager.
  # Processes already running (the desktop) keep what they read at start, so
  # a new prefix gets its services restarted once after the setting.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    qrvl_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wineserver -k; wineserver -w
    wineserver -p
    qrvl_wine wineboot </dev/null >/dev/null 2>&1
  fi
}

# Wine with code page 936; the shell itself keeps its own locale.
qrvl_wine() {
  env LOCPATH="$QRVL_LOCPATH" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"
}

# qrvl_i386_prefix BUILD_DIR: the i386 root made and entered, and a 32-bit
# prefix with one persistent wineserver in it. Says why when it cannot.
QRVL_I386_STARTED=""
qrvl_i386_prefix() {
  local build=$1 i386="$QRVL_ROOT/scripts/i386-wine.sh"
  case $build in "$QRVL_ROOT"/*) ;; *)
    echo "error: the i686 suite needs its build folder inside the repository ($build is not)" >&2; return 1 ;;
  esac
  export QRVL_I386_OWNER=$$   # this run, as the root's users are counted
  "$i386" setup || return 1
  "$i386" start || return 1
  QRVL_I386_STARTED="$build/wineprefix"
  export WINEPREFIX="$build/wineprefix"
  mkdir -p "$WINEPREFIX"
  "$i386" exec wineserver -p
  "$i386" exec wine wineboot </dev/null >/dev/null 2>&1
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    "$i386" exec wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    "$i386" exec wineserver -k; "$i386" exec wineserver -w
    "$i386" exec wineserver -p
    "$i386" exec wine wineboot </dev/null >/dev/null 2>&1
  fi
  [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "error: 32-bit wineboot did not create $WINEPREFIX" >&2; return 1; }
}

qrvl_cleanup() {
  local p
  if [ -n "$QRVL_I386_STARTED" ]; then
    WINEPREFIX="$QRVL_I386_STARTED" "$QRVL_ROOT/scripts/i386-wine.sh" stop || true
  fi
  for p in "${QRVL_PREFIXES[@]}"; do
    WINEPREFIX="$p" wineserver -k 2>/dev/null || true
    WINEPREFIX="$p" wineserver -w 2>/dev/null || true
  done
  if [ -n "$QRVL_XVFB_PID" ]; then
    kill "$QRVL_XVFB_PID" 2>/dev/null || true
    wait "$QRVL_XVFB_PID" 2>/dev/null || true
  fi
}
