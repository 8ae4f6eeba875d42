#!/usr/bin/env bash
# Makes this machine able to run the 32-bit program under Wine, and makes the prefix it runs in.
#   wine32-setup.sh DIR         set up, make DIR/wineprefix (first time only), start its server
#   wine32-setup.sh --stop DIR  stop the server of DIR/wineprefix
# Safe to run again: each step is skipped when its work is already done.
#
# The kernel here cannot start 32-bit programs itself, so 32-bit Wine runs under qemu's user
# emulation, reached through binfmt_misc. The prefix is made by the 64-bit wineboot while the
# 32-bit loader is installed, which gives a WoW64 prefix: 32-bit programs run through
# /usr/lib/wine/wine, and the 64-bit reg.exe reads and writes the 32-bit view with /reg:32.
set -eu

stop=0
if [ "${1:-}" = --stop ]; then
  stop=1
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 [--stop] DIR" >&2
  exit 2
fi
mkdir -p "$1"
dir=$(cd "$1" && pwd)
export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all
# Under qemu, glibc maps the C.UTF-8 character tables where 32-bit Wine must put its shared user
# data (0x7ffe0000), and the 32-bit loader dies before it starts anything: use the plain C locale.
unset LANG LANGUAGE
export LC_ALL=C
wineserver=/usr/lib/wine/wineserver
wine64=/usr/lib/wine/wine64

if [ $stop -eq 1 ]; then
  if [ -x "$wineserver" ] && [ -d "$WINEPREFIX" ]; then
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  fi
  exit 0
fi

say() { echo "wine32-setup: $*"; }

# --- packages -------------------------------------------------------------------------------
need=()
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -x /usr/lib/wine/wine ] || need+=(wine32:i386)
[ -x /usr/bin/qemu-i386-static ] || need+=(qemu-user-static)
[ -x /usr/sbin/update-binfmts ] || need+=(binfmt-support)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "wine32-setup: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  say "installing ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi

# --- binfmt_misc: hand 32-bit x86 programs to qemu ------------------------------------------
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -f "$binfmt/register" ]; then
  say "mounting binfmt_misc"
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -f "$binfmt/qemu-i386" ]; then
  say "registering qemu-i386"
  # The kernel decodes the \x escapes itself. 'F' opens the interpreter now, so it also serves
  # programs started in other mount namespaces.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register"
fi
if [ "$(head -n1 "$binfmt/qemu-i386")" != enabled ]; then
  echo 1 >"$binfmt/qemu-i386"
fi

# --- the prefix -----------------------------------------------------------------------------
# The server runs detached from every pipe of the caller, or a caller that captures output
# would wait for it to end.
start_server() { setsid "$wineserver" -p </dev/null >/dev/null 2>&1 & }
if [ ! -f "$WINEPREFIX/.wine32-ready" ]; then
  # Whatever an interrupted or failed earlier try left is no WoW64 prefix to build on.
  if [ -d "$WINEPREFIX" ]; then
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  start_server
  say "making the WoW64 prefix $WINEPREFIX"
  start=$(date +%s)
  "$wine64" wineboot -i </dev/null >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine32-setup: $WINEPREFIX has no 32-bit system: the 32-bit loader did not run" >&2
    exit 1
  fi
  touch "$WINEPREFIX/.wine32-ready"
  say "prefix made in $(($(date +%s) - start)) s"
else
  start_server
fi
"$wine64" cmd /c exit </dev/null >/dev/null 2>&1
say "ready"
