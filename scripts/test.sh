#!/usr/bin/env bash
# Runs every test: the native build, then the Windows binding (win64) under Wine, then the
# 32-bit shipping program (its image, and the program under 32-bit Wine on qemu). As root it
# first installs whatever of the tool chain is missing.
set -eu
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v clang++-14 >/dev/null || need+=(clang-14)
compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi

jobs=$(nproc)
for preset in native win32 win64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done
ctest --preset native -j "$jobs"
ctest --preset win64

# The 32-bit shipping program: what its image needs and carries, then the program itself run
# by 32-bit Wine under qemu (wine32-setup.sh prepares the machine and the prefix, once).
ctest --preset win32 -L image
wine32_began=$(date +%s)
bash scripts/wine32-setup.sh build/win32
ctest --preset win32 -L wine32 --verbose
echo "wine32 stage: $(($(date +%s) - wine32_began)) s"

# The native suite again under AddressSanitizer and UBSan (killed and side-by-side runs of the
# program included), then each libFuzzer target for LKSPAN_FUZZ_SECONDS (60) from its seeds.
reliability_began=$(date +%s)
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
cmake --preset fuzz -DLKSPAN_FUZZ_SECONDS="${LKSPAN_FUZZ_SECONDS:-60}"
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs"
echo "sanitizer and fuzz stage: $(($(date +%s) - reliability_began)) s"
