#!/usr/bin/env bash
# Starts or stops the throwaway Wine prefix that the Windows tests run in.
#   wine-prefix.sh start PREFIX   make the prefix (first time only) and start its server
#   wine-prefix.sh stop PREFIX    stop its server
# The server is started detached from every pipe of the caller, so that a test runner that
# captures output does not wait for it.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
wine64=${WINE64:-/usr/lib/wine/wine64}
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    setsid "$wineserver" -p </dev/null >/dev/null 2>&1 &
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine64" wineboot -i </dev/null >/dev/null 2>&1
    fi
    "$wine64" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
