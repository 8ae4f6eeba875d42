#!/usr/bin/env bash
# Fails when a C++ file of the tree is not laid out as clang-format-14 lays it out with the
# tree's .clang-format; clang-format names each file and line that differs. The native stage of
# scripts/test.sh runs it first.
set -eu
cd "$(dirname "$0")/.."
mapfile -d '' files < <(find . \( -path ./build -o -path ./dist -o -path ./.git \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if ! clang-format-14 --dry-run -Werror "${files[@]}"; then
  echo "format-check: format the files above with clang-format-14 -i FILE" >&2
  exit 1
fi
echo "format-check: ${#files[@]} C++ files as clang-format-14 lays them out"
