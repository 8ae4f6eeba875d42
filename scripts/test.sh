#!/usr/bin/env bash
# Runs the tests, one stage or all of them (as CI does: .ci/run).
#   test.sh STAGE...   native    the format of the C++ files (scripts/format-check.sh), the
#                                native program and its tests
#                      windows   the Windows binding (win64), the scenarios and the example
#                                installer under wine64; the native program against Wine's
#                                regedit on random store texts; the 32-bit shipping program's
#                                image, its signing and its reproducible build
#                      wine32    the 32-bit program under 32-bit Wine on qemu (changes the
#                                machine: the i386 architecture, a binfmt_misc handler)
#                      asan      the native suite under AddressSanitizer and UBSan
#                      fuzz      each libFuzzer target for LKSPAN_FUZZ_SECONDS (60)
#   test.sh            every stage, in that order; a failed stage does not stop the others
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

stage_native() {
  bash scripts/deps.sh --install native
  bash scripts/format-check.sh
  suite native
}

stage_windows() {
  bash scripts/deps.sh --install windows
  build tool  # the native program, which the differential check runs beside Wine's regedit
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
# A stage that fails does not stop the later ones, so that one run tells every stage's outcome
# (a mirror that fails the 32-bit packages says nothing of the sanitizers); the exit status
# is 1 when any stage failed.
# A failed stage's last lines, which say why, are printed again at the end, where a reader of
# a long log looks first.
failed=()
endings=()
log=$(mktemp "${TMPDIR:-/tmp}/test.XXXXXX")
trap 'rm -f "$log"' EXIT
for stage in "${stages[@]}"; do
  echo "=== stage $stage"
  began=$(date +%s)
  set +e
  (
    set -e
    "stage_$stage"
  ) 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -eq 0 ]; then
    echo "=== stage $stage passed in $(($(date +%s) - began)) s"
  else
    echo "=== stage $stage FAILED (exit $status) after $(($(date +%s) - began)) s"
    failed+=("$stage")
    endings+=("=== stage $stage ended with:" "$(tail -n 4 "$log")")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  printf '%s\n' "${endings[@]}" >&2
  echo "=== failed: ${failed[*]}" >&2
  exit 1
fi
