#!/usr/bin/env bash
# Times whole runs of lkspanreg beside their floors and writes a Markdown table of their CPU time
# against floor (b)'s, taken in turns with it (bench/paired_cpu.py), their wall times (hyperfine)
# and peak memory (see BENCHMARKS.md), then the instructions of each run (bench/instructions.sh).
#   bench/run.sh [TABLE.md]           default: build/bench/results.md, also shown at the end
# Builds what it times: the native preset's program and floors and, where Wine and the mingw
# compilers are installed, the win64 preset's program. As root it installs what it needs that is
# missing (scripts/deps.sh bench; the Wine rows need the windows stage's packages besides).
# LKSPAN_NATIVE_BUILD and LKSPAN_WIN64_BUILD name other (already configured) build folders;
# LKSPAN_BENCH_WINE=0 skips the Wine rows, LKSPAN_BENCH_CALLGRIND=0 the instruction counts.
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
table=${1:-build/bench/results.md}
native=${LKSPAN_NATIVE_BUILD:-build/native}
win64=${LKSPAN_WIN64_BUILD:-build/win64}
wine64=/usr/lib/wine/wine64
source bench/stores.sh
server_path=$bench_server_path

bash scripts/deps.sh --install bench
began="$(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"

# --- build ----------------------------------------------------------------------------------
targets=(lkspanreg lkspan_bench_store lkspan_floor_exit lkspan_floor_store)
if [ -z "${LKSPAN_NATIVE_BUILD:-}" ]; then cmake --preset native >/dev/null; fi
cmake --build "$native" -j "$(nproc)" --target "${targets[@]}" >/dev/null
with_wine=${LKSPAN_BENCH_WINE:-1}
if [ "$with_wine" = 1 ] && { [ ! -x "$wine64" ] || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; }; then
  echo "no wine64 or mingw: the Wine rows are skipped" >&2
  with_wine=0
fi
if [ "$with_wine" = 1 ]; then
  if [ -z "${LKSPAN_WIN64_BUILD:-}" ]; then cmake --preset win64 >/dev/null; fi
  cmake --build "$win64" -j "$(nproc)" --target lkspanreg >/dev/null
fi

tool=$source_dir/$native/lkspanreg
floor_a=$source_dir/$native/bench/lkspan_floor_exit
floor_b=$source_dir/$native/bench/lkspan_floor_store
case $native in /*) tool=$native/lkspanreg floor_a=$native/bench/lkspan_floor_exit floor_b=$native/bench/lkspan_floor_store ;; esac
make_store=$(dirname "$floor_a")/lkspan_bench_store

# --- the starting stores --------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/lkspan-bench.XXXXXX")
wineprefix=$work/wineprefix
cleanup() {
  if [ -d "$wineprefix" ]; then scripts/wine-prefix.sh stop "$wineprefix" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/store" "$work/start" "$work/json"
store=$work/store/registry.reg
export LARKSPAN_REGISTRY=$store

make_stores "$work/start" "$tool" "$make_store"

# Puts the starting store in place: `place NAME` or `place NAME.registered`.
place_cmd() { place_store "$work/start" "$1" "$store"; }

# --- native runs ----------------------------------------------------------------------------
# Per store: both floors, registration, removal. Floor (b) works on the registered store: it
# reads and writes back the bytes the registration writes.
memory=$work/memory.tsv
: >"$memory"
peak() {  # peak resident set of one run, in KiB
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n1
}
peak_of() {  # median of three runs from the same start: peak_of START ARGS...
  local start=$1
  shift
  for _ in 1 2 3; do
    $(place_cmd "$start")
    peak "$tool" "$@"
  done | sort -n | sed -n 2p
}
size_of() { if [ -f "$work/start/$1.reg" ]; then stat -c %s "$work/start/$1.reg"; else echo 0; fi; }

rm -f "$store"
printf 'no job\t-\t%s\t0\t0\n' "$(peak "$tool")" >>"$memory"
for entry in "${bench_stores[@]}"; do
  read -r name _ <<<"$entry"
  printf '%s\tregister\t%s\t%s\t%s\n' "$name" "$(peak_of "$name" "$server_path")" \
    "$(size_of "$name")" "$(size_of "$name.registered")" >>"$memory"
  # The size the removal leaves is not the starting store's: the parents of the deleted keys
  # stay, and the settings key goes with its basket list.
  removal_peak=$(peak_of "$name.registered" /U)
  printf '%s\tremove\t%s\t%s\t%s\n' "$name" "$removal_peak" \
    "$(size_of "$name.registered")" "$(stat -c %s "$store")" >>"$memory"
done
# The runs of each store are spread over several rounds, so that a burst of other work on the
# machine weighs on every row alike. Wall times: hyperfine, the median of all of a row's runs (a
# store of few runs a round takes exactly that many after one warm-up). CPU times: floor (b), the
# registration and the removal in turns (bench/paired_cpu.py), each run's ratio to the floor's of
# its turn, the median of all of them.
rounds=${LKSPAN_BENCH_ROUNDS:-3}
mkdir -p "$work/cpu"
start_of() { if [ -f "$work/start/$1.reg" ]; then echo "$work/start/$1.reg"; else echo -; fi; }
for round in $(seq "$rounds"); do
  for entry in "${bench_stores[@]}"; do
    read -r name _ _ _ _ runs _ <<<"$entry"
    if [ "$runs" -lt 10 ]; then
      counts=(--warmup 1 --runs "$runs")
    else
      counts=(--warmup 2 --min-runs "$runs" --max-runs 200)
    fi
    echo "== $name, round $round of $rounds" >&2
    python3 bench/paired_cpu.py "$work/cpu/$name.$round.json" "$store" "$runs" \
      "$(start_of "$name.registered")" "$(start_of "$name")" "$(start_of "$name.registered")" \
      "$floor_b" "$tool" "$server_path"
    hyperfine -N "${counts[@]}" --style basic \
      --export-json "$work/json/$name.$round.json" \
      -n "floor (a)" -p "$(place_cmd "$name.registered")" "$floor_a" \
      -n "floor (b)" -p "$(place_cmd "$name.registered")" "$floor_b $store" \
      -n "register" -p "$(place_cmd "$name")" "$tool '$server_path'" \
      -n "remove" -p "$(place_cmd "$name.registered")" "$tool /U" >&2
  done
done

# --- Wine: the Windows program against regedit /s importing the same layout -----------------
if [ "$with_wine" = 1 ]; then
  echo "== wine" >&2
  export WINEPREFIX=$wineprefix WINEDEBUG=-all
  scripts/wine-prefix.sh start "$wineprefix"
  exe=$win64/lkspanreg.exe
  case $exe in /*) ;; *) exe=$source_dir/$exe ;; esac
  x86_64-w64-mingw32-g++-posix -O2 -static -o "$work/floor_exit.exe" bench/floor_exit.cpp
  # The registry layout of a registration on an empty store, as a regedit file.
  cp "$work/start/empty.registered.reg" "$work/layout.reg"
  layout="Z:$(echo "$work/layout.reg" | tr / '\\')"
  # Every run starts from a prefix without the band.
  unregister="$wine64 $exe /U"
  hyperfine -N --warmup 2 --min-runs 10 --style basic --export-json "$work/json/wine.1.json" \
    -n "floor (a)" -p "$unregister" "$wine64 $work/floor_exit.exe" \
    -n "register" -p "$unregister" "$wine64 $exe '$server_path'" \
    -n "regedit /s" -p "$unregister" "$wine64 regedit /s '$layout'" >&2
  # The import must have written what the program writes.
  WINEDEBUG=-all "$wine64" reg query 'HKCU\Software\Microsoft\Internet Explorer\Extensions\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}' /v Icon >/dev/null
fi

# --- instructions, on the same stores -------------------------------------------------------
if [ "${LKSPAN_BENCH_CALLGRIND:-1}" = 1 ]; then
  echo "== instructions" >&2
  bash bench/instructions.sh "$work/start" "$tool" >"$work/instructions.md"
fi

# --- the table ------------------------------------------------------------------------------
mkdir -p "$(dirname "$table")"
{
  python3 bench/report.py "$work/json" "$work/cpu" "$memory" "$work/start/stores.tsv"
  if [ -f "$work/instructions.md" ]; then
    echo
    cat "$work/instructions.md"
  fi
  echo
  echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
    "$(free -g | awk '/^Mem:/ {print $2}') GiB of memory, $(uname -sr). Began $began;" \
    "ended $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)."
} >"$table"
cat "$table"
echo "table written to $table" >&2
