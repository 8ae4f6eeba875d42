#!/usr/bin/env bash
# Builds examples/nsis/larkspan.nsi for amd64 around the 64-bit program and runs it silently in
# $WINEPREFIX: built not to run the program it must fail and leave nothing; the real one must
# leave the band's three trees and its two files, and its uninstaller take them all away.
#   installer_test.sh NSI PROGRAM WORK
set -eu
nsi=$1 program=$2 work=$3 wine=/usr/lib/wine/wine64
mkdir -p "$work"
echo "not a band" >"$work/band.dll"
build() {
  makensis -V2 -DAMD64 -DPROGRAM="$program" -DBAND_DLL="$work/band.dll" -DOUTFILE="$work/$1" \
    "${@:2}" "$nsi"
}
build larkspan-setup.exe
build larkspan-unregistered.exe -DNO_REGISTER
trees=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import scenario_table as t
print("\n".join("\\".join(tree) for tree in t.BAND_TREES))' "$(dirname "$0")/../../../tests/scenarios")
quiet() { "$wine" "$@" </dev/null >/dev/null 2>&1; }
while read -r tree; do quiet reg delete "$tree" /f || true; done <<<"$trees"

step() {  # step WANTED COMMAND...; WANTED: failed?, then each tree and file there?, as 0 or 1
  local wanted=$1 got=0
  shift
  quiet "$@" || got=1
  got+=" "
  while read -r tree; do quiet reg query "$tree" && got+=1 || got+=0; done <<<"$trees"
  for file in lkspanreg.exe larkspan.dll; do
    [ -e "$WINEPREFIX/drive_c/Larkspan/$file" ] && got+=1 || got+=0
  done
  echo "$(basename "$1"): $got (wanted $wanted)"
  [ "$got" = "$wanted" ]
}
step "1 00000" "$work/larkspan-unregistered.exe" /S '/D=C:\Larkspan'
step "0 11111" "$work/larkspan-setup.exe" /S '/D=C:\Larkspan'
step "0 00000" 'C:\Larkspan\uninstall.exe' /S '_?=C:\Larkspan'
