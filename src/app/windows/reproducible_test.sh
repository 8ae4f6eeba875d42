#!/usr/bin/env bash
# Builds the shipping program twice more, from two copies of the tree at paths of different
# lengths, and checks that both images and the given one are the same bytes, and that the PE
# header's TimeDateStamp is 0 (two builds in one second could match with a link time in it).
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
done
cmp "$work/one/build/win32/lkspanreg.exe" "$work/copy-number-two/build/win32/lkspanreg.exe"
cmp "$work/one/build/win32/lkspanreg.exe" "$image"
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
stamp=$(u32 "$image" $(($(u32 "$image" 60) + 8)))
echo "TimeDateStamp: $stamp"
[ "$stamp" -eq 0 ]
rm -rf "$work"
echo "the image is the same from both paths and carries no link time"
