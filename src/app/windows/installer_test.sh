#!/usr/bin/env bash
# Builds examples/nsis/larkspan.nsi for amd64 around the 64-bit program and runs it silently in
# $WINEPREFIX. Built not to run the program it must fail and leave nothing; the real one must
# leave the band's three trees and its two files, and its uninstaller take them all away.
#   installer_test.sh NSI PROGRAM SCENARIO_PRINT WORK
# (SCENARIO_PRINT: the scenario printer of the same build, which names the band's trees.)
set -eu
nsi=$1 program=$2 printer=$3 work=$4 wine=/usr/lib/wine/wine64 dir=$WINEPREFIX/drive_c/Larkspan
mkdir -p "$work"
echo "not a band" >"$work/band.dll"
for define in "" -DNO_REGISTER; do
  makensis -V2 -DAMD64 $define -DPROGRAM="$program" -DBAND_DLL="$work/band.dll" \
    -DOUTFILE="$work/larkspan$define.exe" "$nsi"
done
trees=$("$wine" "$printer" keys </dev/null | tr -d '\r')
[ "$(wc -l <<<"$trees")" -eq 3 ]
quiet() { "$wine" "$@" </dev/null >/dev/null 2>&1; }
while read -r tree; do quiet reg delete "$tree" /f || true; done <<<"$trees"

step() {  # step WANTED COMMAND...; WANTED: failed?, then each tree and file there?, as 0 or 1
  local got="0 "
  quiet "${@:2}" || got="1 "
  while read -r tree; do quiet reg query "$tree" && got+=1 || got+=0; done <<<"$trees"
  for file in lkspanreg.exe larkspan.dll; do [ -e "$dir/$file" ] && got+=1 || got+=0; done
  echo "$2: $got (wanted $1)"
  [ "$got" = "$1" ]
}
step "1 00000" "$work/larkspan-DNO_REGISTER.exe" /S '/D=C:\Larkspan'
step "0 11111" "$work/larkspan.exe" /S '/D=C:\Larkspan'
step "0 00000" 'C:\Larkspan\uninstall.exe' /S '_?=C:\Larkspan'
