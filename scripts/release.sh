#!/usr/bin/env bash
# Builds the shipping program and packs a release into dist/.
#   release.sh                  dist/lkspanreg-VERSION-win32.zip, the same bytes from every build
#                               of a commit, and dist/SHA256SUMS, which lists it
#   release.sh --sign CERT KEY  the program signed first (scripts/sign.sh: Authenticode, SHA-256)
#                               with that certificate and unencrypted key, both PEM
# The zip holds lkspanreg.exe, USAGE.txt (CRLF lines), the example installer larkspan.nsi, and
# SHA256SUMS of those three. VERSION is CMake's project(VERSION). It installs what it needs as
# root (scripts/deps.sh release), builds the program alone and runs its image tests before it
# packs anything.
set -eu
cd "$(dirname "$0")/.."
cert='' key=''
if [ "${1:-}" = --sign ] && [ $# -eq 3 ]; then
  cert=$(realpath -e "$2")
  key=$(realpath -e "$3")
elif [ $# -ne 0 ]; then
  echo "usage: $0 [--sign CERT KEY]" >&2
  exit 2
fi

bash scripts/deps.sh --install release
# The program alone: the image tests look at nothing else.
cmake --preset win32
cmake --build --preset win32 -j "$(nproc)" --target lkspanreg
ctest --preset win32 -L image

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
files=(lkspanreg.exe USAGE.txt larkspan.nsi)
stage=build/release
rm -rf "$stage"
mkdir -p "$stage" dist
if [ -n "$cert" ]; then
  bash scripts/sign.sh "$cert" "$key" build/win32/lkspanreg.exe "$stage/lkspanreg.exe"
else
  cp build/win32/lkspanreg.exe "$stage/"
fi
sed 's/\r*$/\r/' src/app/windows/usage.txt >"$stage/USAGE.txt"
cp examples/nsis/larkspan.nsi "$stage/"
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)

# Fixed order, times (the DOS epoch), permissions and compression: nothing of the build's
# moment or machine goes into the zip.
zip=lkspanreg-$version-win32.zip
rm -f "dist/$zip"
python3 - "dist/$zip" "$stage" "${files[@]}" SHA256SUMS <<'PYTHON'
import sys
import zipfile

archive, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(archive, "w") as out:
    for name in names:
        info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
        info.create_system, info.external_attr = 3, 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(folder + "/" + name, "rb") as f:
            out.writestr(info, f.read(), compresslevel=9)
PYTHON
(cd dist && sha256sum "$zip" >SHA256SUMS)
echo "release: dist/$zip${cert:+ (signed)}"
cat dist/SHA256SUMS
