#!/usr/bin/env bash
# Starts or stops a throwaway Wine prefix that the Windows tests run in. It changes nothing
# outside the prefix.
#   wine-prefix.sh start PREFIX [wow64]   make the prefix (first time only) and start its server
#   wine-prefix.sh stop PREFIX            stop its server
# With wow64 the prefix is one the 32-bit program runs in, through 32-bit Wine under qemu
# (scripts/wine32-setup.sh prepares the machine for that). It is made by the 64-bit wineboot
# while the 32-bit loader is installed, which gives a WoW64 prefix: 32-bit programs run through
# /usr/lib/wine/wine, and the 64-bit reg.exe reads and writes the 32-bit view with /reg:32.
# The server is started detached from every pipe of the caller, so that a test runner that
# captures output does not wait for it.
set -eu
if [ $# -lt 2 ]; then
  echo "usage: $0 start|stop PREFIX [wow64]" >&2
  exit 2
fi
action=$1
mkdir -p "$2"
WINEPREFIX=$(cd "$2" && pwd)
export WINEPREFIX WINEDEBUG=-all
wow64=0
if [ "${3:-}" = wow64 ]; then wow64=1; fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
wine64=${WINE64:-/usr/lib/wine/wine64}
start_server() { setsid "$wineserver" -p </dev/null >/dev/null 2>&1 & }

case $action in
  start) ;;
  stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    exit 0
    ;;
  *)
    echo "usage: $0 start|stop PREFIX [wow64]" >&2
    exit 2
    ;;
esac

if [ $wow64 -eq 0 ]; then
  start_server
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine64" wineboot -i </dev/null >/dev/null 2>&1
  fi
  "$wine64" cmd /c exit </dev/null >/dev/null 2>&1
  exit 0
fi

# Under qemu, glibc maps the C.UTF-8 character tables where 32-bit Wine must put its shared user
# data (0x7ffe0000), and the 32-bit loader dies before it starts anything: use the plain C locale.
unset LANG LANGUAGE
export LC_ALL=C
if [ ! -x /usr/lib/wine/wine ] ||
  [ "$(head -n1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" != enabled ]; then
  echo "wine-prefix: this machine cannot run 32-bit Wine yet: run scripts/wine32-setup.sh as root" >&2
  exit 1
fi
if [ ! -f "$WINEPREFIX/.wine32-ready" ]; then
  # Whatever an interrupted or failed earlier try left is no WoW64 prefix to build on.
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  start_server
  echo "wine-prefix: making the WoW64 prefix $WINEPREFIX"
  began=$(date +%s)
  "$wine64" wineboot -i </dev/null >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine-prefix: $WINEPREFIX has no 32-bit system: the 32-bit loader did not run" >&2
    exit 1
  fi
  touch "$WINEPREFIX/.wine32-ready"
  echo "wine-prefix: made in $(($(date +%s) - began)) s"
else
  start_server
fi
"$wine64" cmd /c exit </dev/null >/dev/null 2>&1
