#!/usr/bin/env bash
# Builds the program from two copies of the tree at paths of different lengths: both must be
# IMAGE's bytes, and its TimeDateStamp 0 (two builds in one second could share a link time).
#   reproducible_test.sh SOURCE_DIR WORK_DIR IMAGE
set -eu
source_dir=$1 work=$2 image=$3
rm -rf "$work"
for copy in one copy-number-two; do
  mkdir -p "$work/$copy"
  tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
    tar -C "$work/$copy" -xf -
  (cd "$work/$copy" && cmake --preset win32 -DBUILD_TESTING=OFF >/dev/null &&
    cmake --build --preset win32 --target lkspanreg -j2 >/dev/null)
  cmp "$work/$copy/build/win32/lkspanreg.exe" "$image"
done
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
[ "$(u32 "$image" $(($(u32 "$image" 60) + 8)))" -eq 0 ]
