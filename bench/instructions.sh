#!/usr/bin/env bash
# Counts the instructions of every run of the process benchmarks with callgrind (user space
# only: what the kernel does for the program's system calls is not counted) and prints them as a
# Markdown table. Unlike times, the counts repeat from run to run and do not depend on the load.
#   bench/instructions.sh [STORES [TOOL...]]
# STORES is a folder of starting stores as bench/run.sh makes them (bench/stores.sh); without
# one (or with ""), the native preset is built and the stores are made in a temporary folder.
# Each TOOL, the native preset's program by default, gets its two columns: to set a change
# against an earlier build, name both. Each run starts from a copy of its store, in a folder of
# its own.
set -eu
cd "$(dirname "$0")/.."
source bench/stores.sh
native=${LKSPAN_NATIVE_BUILD:-build/native}
work=$(mktemp -d "${TMPDIR:-/tmp}/lkspan-instructions.XXXXXX")
trap 'rm -rf "$work"' EXIT
stores=${1:-}
shift || true
tools=("$@")
if [ ${#tools[@]} -eq 0 ] || [ -z "$stores" ]; then
  if [ -z "${LKSPAN_NATIVE_BUILD:-}" ]; then cmake --preset native >/dev/null; fi
  cmake --build "$native" -j 2 --target lkspanreg lkspan_bench_store >/dev/null
fi
if [ ${#tools[@]} -eq 0 ]; then tools=("$(pwd)/$native/lkspanreg"); fi
if [ -z "$stores" ]; then
  stores=$work/start
  mkdir -p "$stores"
  make_stores "$stores" "${tools[-1]}" "$native/bench/lkspan_bench_store"
fi
mkdir -p "$work/store"
store=$work/store/registry.reg

# The instructions of one run of TOOL from the starting store START: count TOOL START ARGS...
count() {
  local tool=$1 start=$2
  shift 2
  $(place_store "$stores" "$start" "$store")
  LARKSPAN_REGISTRY=$store valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    "$tool" "$@" </dev/null 2>&1 >/dev/null | sed -n 's/^==[0-9]*== Collected : //p'
}

grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }

head="| store |" rule="|---|"
for tool in "${tools[@]}"; do
  label=${tool}
  if [ ${#tools[@]} -eq 1 ]; then label=lkspanreg; fi
  head+=" \`$label PATH\` | \`$label /U\` (from the store registered) |"
  rule+="---:|---:|"
done
echo "$head"
echo "$rule"
while IFS=$'\t' read -r name _ _ _ _ label; do
  line="| $label |"
  for tool in "${tools[@]}"; do
    line+=" $(grouped "$(count "$tool" "$name" "$bench_server_path")") |"
    line+=" $(grouped "$(count "$tool" "$name.registered" /U)") |"
  done
  echo "$line"
done <"$stores/stores.tsv"
echo
echo "Instructions of one run each, counted by \`valgrind --tool=callgrind\` ($(valgrind --version))." \
  "A valgrind that does not know openat2 (3.19 does not) fails it, and the program then finds the" \
  "store's folder one name at a time, as on a path with links: some thousands of instructions" \
  "more than outside valgrind."
