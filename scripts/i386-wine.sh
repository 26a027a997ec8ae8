#!/bin/bash
# A 32-bit Wine for the i686 build: an i386 Debian root with wine32, kept in
# a folder between runs, entered with chroot. Where the kernel cannot run
# i386 code itself (IA-32 emulation off), a static qemu-i386 from
# bookworm-backports runs it through binfmt_misc (bookworm's own qemu 7.2 is
# about a hundred times slower and crashes).
#
#   i386-wine.sh setup     make the root (idempotent; about 8 minutes the first time)
#   i386-wine.sh start     register qemu if needed, mount /proc, /dev and the repository into the root
#   i386-wine.sh exec CMD  run CMD inside the root (environment from the caller's
#                          DISPLAY, WINEPREFIX, TOKENSIM_STORE, QRVL_* variables)
#   i386-wine.sh path      say which path runs i386 code: "native" or "emulated"
#   i386-wine.sh stop      stop Wine there, unmount, unregister what start registered
#   i386-wine.sh purge     stop, then delete the folder
# Needs root. QRVL_I386_HOME names the folder (default /var/tmp/qrvl-i386).
# QRVL_I386_EMULATE=1 takes the qemu path even where the kernel runs i386
# code (binfmt_misc handlers are asked before the kernel's own ELF loader), so
# that path can be checked on any machine.
# Runs may share the root: start records its caller (QRVL_I386_OWNER, else the
# parent process) and stop removes it; the mounts and the qemu registration
# go with the last caller, and callers that died without stopping count as
# gone.
set -eu

W=${QRVL_I386_HOME:-/var/tmp/qrvl-i386}
R=$W/root
ROOT_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)   # the repository, mounted at the same path
SUITE=bookworm
QEMU_VER='1:10.0.2+ds-2+deb13u1~bpo12+1'
BINFMT=/proc/sys/fs/binfmt_misc
# One registration per root folder, so that runs from two folders never
# unregister each other's.
BFNAME=qrvl-i386-$(printf '%s' "$W" | md5sum | cut -c1-8)
SRC=/etc/apt/sources.list.d/debian.sources

log() { printf '== i386: %s\n' "$*" >&2; }
die() { printf 'error: i386 Wine: %s\n' "$*" >&2; exit 1; }

mirror() {   # the URI of the stanza whose Suites lists plain "bookworm"
  if [ -f "$SRC" ]; then
    awk -v s="$SUITE" 'BEGIN { RS = ""; FS = "\n" }
      { u = ""; ok = 0
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/)   { split($i, a, /[ \t]+/); u = a[2] }
          if ($i ~ /^Suites:/) { n = split($i, b, /[ \t]+/)
                                 for (j = 2; j <= n; j++) if (b[j] == s) ok = 1 } }
        if (ok && u != "") { print u; exit } }' "$SRC"
  else
    awk -v s="$SUITE" '$1 == "deb" && $3 == s { print $2; exit }' /etc/apt/sources.list
  fi
}

in_root() {
  chroot "$R" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root \
    LANG="${QRVL_I386_LANG:-C.UTF-8}" DEBIAN_FRONTEND=noninteractive "$@"
}

native_i386() { arch-test -n i386 >/dev/null 2>&1; }
emulate() { [ "${QRVL_I386_EMULATE:-0}" = 1 ] || ! native_i386; }

register_qemu() {
  emulate || return 0
  [ -e "$BINFMT/$BFNAME" ] && return 0
  local q=$W/qemu
  if ! [ -x "$q/usr/bin/qemu-i386" ]; then
    log "fetching a static qemu-i386 from $SUITE-backports"
    mkdir -p "$q/lists/partial" "$q/cache/archives/partial"
    echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(mirror) $SUITE-backports main" >"$q/sources.list"
    local opts=(-o Dir::Etc::SourceList="$q/sources.list" -o Dir::Etc::SourceParts=/nonexistent
                -o Dir::State::Lists="$q/lists" -o Dir::Cache="$q/cache"
                -o APT::Architectures::=amd64 -o Acquire::Languages=none -o APT::Sandbox::User=root)
    apt-get "${opts[@]}" update -qq || die "cannot read $SUITE-backports"
    (cd "$q" && apt-get "${opts[@]}" download "qemu-user=$QEMU_VER" >/dev/null) || die "cannot download qemu-user $QEMU_VER"
    dpkg-deb --fsys-tarfile "$q"/qemu-user_*.deb | tar -x -C "$q" ./usr/bin/qemu-i386
    rm -f "$q"/qemu-user_*.deb
  fi
  if ! [ -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" || die "cannot mount binfmt_misc"
    touch "$W/.binfmt-mounted"
  fi
  # F: the kernel opens the interpreter now, so it need not exist inside the root.
  printf ':%s:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:%s:F\n' \
    "$BFNAME" "$q/usr/bin/qemu-i386" >"$BINFMT/register" || die "cannot register qemu-i386 with binfmt_misc"
  touch "$W/.binfmt-registered"
}

unregister_qemu() {
  if [ -f "$W/.binfmt-registered" ]; then
    [ -e "$BINFMT/$BFNAME" ] && echo -1 >"$BINFMT/$BFNAME"
    rm -f "$W/.binfmt-registered"
  fi
  # Unmounting binfmt_misc drops every registration in it (kernels since
  # 6.7): only while no one else's is left.
  if [ -f "$W/.binfmt-mounted" ]; then
    if [ -z "$(ls "$BINFMT" 2>/dev/null | grep -vx -e register -e status)" ]; then
      umount "$BINFMT" 2>/dev/null || true
    fi
    rm -f "$W/.binfmt-mounted"
  fi
}

mount_all() {
  mountpoint -q "$R/proc" || mount -t proc proc "$R/proc"
  mountpoint -q "$R/dev" || mount --bind /dev "$R/dev"
  mountpoint -q "$R/dev/pts" || mount --bind /dev/pts "$R/dev/pts"
  mkdir -p "$R$ROOT_SRC"
  mountpoint -q "$R$ROOT_SRC" || mount --bind "$ROOT_SRC" "$R$ROOT_SRC"
  # Runs from several checkouts may share the root: each one's mount is listed.
  grep -qxF "$ROOT_SRC" "$W/.repo-mounted" 2>/dev/null || echo "$ROOT_SRC" >>"$W/.repo-mounted"
}

# The callers using the root, one process id a line; the dead are dropped.
live_owners() {
  local p
  [ -f "$W/.owners" ] || return 0
  while read -r p; do
    [ -n "$p" ] && kill -0 "$p" 2>/dev/null && echo "$p"
  done <"$W/.owners"
}

# Whatever still runs inside the root (a wineserver or a program that
# outlived it, each under qemu on the emulated path).
kill_root_processes() {
  local p sig
  for sig in TERM KILL; do
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$R" ] && kill -$sig "${p#/proc/}" 2>/dev/null
    done
    sleep 0.5
  done
}

umount_all() {
  local m
  if [ -f "$W/.repo-mounted" ]; then
    while read -r m; do
      if mountpoint -q "$R$m"; then umount "$R$m" || umount -l "$R$m"; fi
    done <"$W/.repo-mounted"
    rm -f "$W/.repo-mounted"
  fi
  for m in "$R/dev/pts" "$R/dev" "$R/proc"; do
    if mountpoint -q "$m"; then umount "$m" || umount -l "$m"; fi
  done
}

case ${1:-} in
setup)
  [ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot, mounts, binfmt_misc)"
  mkdir -p "$W"
  # Runs that share the root take turns; one that is using it keeps its mounts.
  exec 9>"$W/.lock"; flock 9
  command -v debootstrap >/dev/null && command -v arch-test >/dev/null ||
    apt-get install -y -qq --no-install-recommends debootstrap arch-test >/dev/null ||
    die "cannot install debootstrap and arch-test"
  [ -n "$(mirror)" ] || die "no Debian mirror for $SUITE in the host's apt sources"
  register_qemu
  # Each step is marked only when complete, so that an interrupted one is
  # done again rather than taken for done. A root made before the marks is
  # kept when its packages are all configured.
  if ! [ -f "$W/.root-ready" ] && [ -x "$R/usr/lib/wine/wine" ] && [ -z "$(in_root dpkg --audit 2>&1)" ]; then
    touch "$W/.debootstrapped" "$W/.root-ready"
  fi
  if ! [ -f "$W/.debootstrapped" ]; then
    log "debootstrap i386 $SUITE (a few minutes)"
    rm -rf --one-file-system "$R"
    debootstrap --arch=i386 --variant=minbase "$SUITE" "$R" "$(mirror)" >"$W/debootstrap.log" 2>&1 ||
      die "debootstrap failed (see $W/debootstrap.log)"
    touch "$W/.debootstrapped"
  fi
  printf 'Acquire::Check-Valid-Until "false";\nAcquire::Check-Date "false";\n' >"$R/etc/apt/apt.conf.d/99qrvl"
  printf '#!/bin/sh\nexit 101\n' >"$R/usr/sbin/policy-rc.d"; chmod +x "$R/usr/sbin/policy-rc.d"
  mount_all
  if ! [ -f "$W/.root-ready" ]; then
    log "installing wine32, xvfb and locales in the root (a few minutes)"
    { in_root dpkg --configure -a && in_root apt-get update -qq &&
      in_root apt-get install -y -qq --no-install-recommends wine wine32 locales &&
      in_root apt-get clean; } >"$W/apt.log" 2>&1 || die "apt-get in the root failed (see $W/apt.log)"
    touch "$W/.root-ready"
  fi
  if ! in_root locale -a 2>/dev/null | grep -qx zh_CN.utf8; then
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' "$R/etc/locale.gen"
    grep -q '^zh_CN.UTF-8 UTF-8' "$R/etc/locale.gen" || echo 'zh_CN.UTF-8 UTF-8' >>"$R/etc/locale.gen"
    in_root locale-gen >/dev/null
  fi
  if [ -z "$(live_owners)" ]; then
    umount_all
    unregister_qemu
  fi
  log "ready: $(du -sh --one-file-system "$R" | cut -f1) in $R"
  ;;
start)
  [ -f "$W/.root-ready" ] || die "no root in $R: run '$0 setup' first"
  # Several runs may share the root: the last one to stop undoes the mounts.
  exec 9>"$W/.lock"; flock 9
  register_qemu
  mount_all
  { live_owners; echo "${QRVL_I386_OWNER:-$PPID}"; } | sort -u >"$W/.owners.new"
  mv "$W/.owners.new" "$W/.owners"
  ;;
path)
  # Any root's registration sends i386 programs through qemu.
  if compgen -G "$BINFMT/qrvl-i386*" >/dev/null || ! native_i386; then echo emulated; else echo native; fi
  ;;
exec)
  shift
  qrvl_vars=()
  for v in $(compgen -e); do
    case $v in QRVL_*) qrvl_vars+=("$v=${!v}") ;; esac
  done
  exec chroot "$R" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root \
    LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 DISPLAY="${DISPLAY:-}" WINEARCH=win32 \
    WINEPREFIX="${WINEPREFIX:-}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=" \
    TOKENSIM_STORE="${TOKENSIM_STORE:-}" TOKENSIM_PIN="${TOKENSIM_PIN:-}" "${qrvl_vars[@]}" "$@"
  ;;
stop|purge)
  if [ -x "$R/usr/bin/wineserver" ] && mountpoint -q "$R/proc" && [ -n "${WINEPREFIX:-}" ]; then
    "$0" exec wineserver -k 2>/dev/null || true
  fi
  mkdir -p "$W"; exec 9>"$W/.lock"; flock 9
  owner=${QRVL_I386_OWNER:-$PPID}
  others=$(live_owners | grep -vx "$owner" || true)
  if [ "$1" = stop ] && [ -n "$others" ]; then echo "$others" >"$W/.owners"; exit 0; fi
  rm -f "$W/.owners"
  [ -d "$R/proc" ] && kill_root_processes
  umount_all
  unregister_qemu
  if [ "$1" = purge ]; then rm -rf --one-file-system "$W"; fi
  ;;
*) echo "usage: $0 setup | start | exec CMD... | path | stop | purge" >&2; exit 2 ;;
esac
