#!/usr/bin/env bash
# Runs the tests, one stage or all of them (as CI does: .ci/run).
#   test.sh STAGE...   native    the native program and its tests
#                      windows   the Windows binding (win64), the scenarios and the example
#                                installer under wine64; the 32-bit shipping program's image,
#                                its signing and its reproducible build
#                      wine32    the 32-bit program under 32-bit Wine on qemu (changes the
#                                machine: the i386 architecture, a binfmt_misc handler)
#                      asan      the native suite under AddressSanitizer and UBSan
#                      fuzz      each libFuzzer target for LKSPAN_FUZZ_SECONDS (60)
#   test.sh            every stage, in that order
# Each stage first installs what it needs as root (scripts/deps.sh), or, run by anyone else
# with something missing, names the packages and stops. The README's table of stages says
# what each installs, changes and costs.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # configure and build a preset: build PRESET [CMAKE ARGS...]
  local preset=$1
  shift
  cmake --preset "$preset" "$@"
  cmake --build --preset "$preset" -j "$jobs"
}

suite() {  # a preset's whole suite, its packages first: suite PRESET
  bash scripts/deps.sh --install "$1"
  build "$1"
  ctest --preset "$1" -j "$jobs"
}

stage_native() { suite native; }

stage_windows() {
  bash scripts/deps.sh --install windows
  build win64
  ctest --preset win64
  build win32
  ctest --preset win32 -L 'image|reproducible'
}

stage_wine32() {
  # The machine first (packages, binfmt_misc), then the program in a WoW64 prefix the tests make.
  bash scripts/wine32-setup.sh
  build win32
  ctest --preset win32 -L wine32 --verbose
}

stage_asan() { suite asan; }

stage_fuzz() {
  bash scripts/deps.sh --install fuzz
  build fuzz -DLKSPAN_FUZZ_SECONDS="${LKSPAN_FUZZ_SECONDS:-60}"
  ctest --preset fuzz -j "$jobs"
}

stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then stages=(native windows wine32 asan fuzz); fi
for stage in "${stages[@]}"; do
  case $stage in
    native | windows | wine32 | asan | fuzz) ;;
    *)
      echo "usage: $0 [native|windows|wine32|asan|fuzz]..." >&2
      exit 2
      ;;
  esac
done
for stage in "${stages[@]}"; do
  echo "=== stage $stage"
  began=$(date +%s)
  "stage_$stage"
  echo "=== stage $stage passed in $(($(date +%s) - began)) s"
done
