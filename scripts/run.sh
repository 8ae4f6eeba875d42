#!/usr/bin/env bash
# Builds the native program alone (no tests, no benchmarks: the `tool` preset), registers the
# band in the default store and shows the store's path and contents. Any arguments are passed to
# the program instead of the example server path (for instance /U to remove the band again).
# As root it first installs what the build needs (scripts/deps.sh tool); run by anyone else with
# something missing, it names the packages and stops. The build's output goes to a log, whose
# path and last lines are shown when the build fails.
set -eu
cd "$(dirname "$0")/.."

bash scripts/deps.sh --install tool

mkdir -p build
log=$PWD/build/run.log
echo "building the program (build/tool; output in $log)"
if ! { cmake --preset tool && cmake --build --preset tool -j "$(nproc)"; } >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "run.sh: the build failed; its whole output is in $log" >&2
  exit 1
fi

# Where the program keeps its store when LARKSPAN_REGISTRY does not say (as
# src/registry/portable/store_path.cpp decides it): XDG_DATA_HOME if it is an absolute path,
# else the home folder.
store=${LARKSPAN_REGISTRY:-}
if [ -z "$store" ]; then
  case ${XDG_DATA_HOME:-} in
    /*) store=${XDG_DATA_HOME%/}/larkspan/registry.reg ;;
    *) store=${HOME:?neither LARKSPAN_REGISTRY nor HOME is set}/.local/share/larkspan/registry.reg ;;
  esac
fi

# The store before the run, to tell afterwards whether the run changed it. The program runs as
# this user: a store this user cannot read, it cannot read either.
state() {
  if [ ! -e "$store" ]; then echo absent; elif [ ! -r "$store" ]; then echo unreadable; else echo readable; fi
}
before=$(mktemp "${TMPDIR:-/tmp}/lkspan-run.XXXXXX")
trap 'rm -f "$before"' EXIT
state_before=$(state)
if [ "$state_before" = readable ]; then cat "$store" >"$before"; fi

if [ $# -eq 0 ]; then set -- 'C:\Program Files\Larkspan\band.dll'; fi
echo "running: build/tool/lkspanreg $*"
./build/tool/lkspanreg "$@"

echo "store: $store"
state_after=$(state)
case $state_after in
  absent) echo "(no store file)" ;;
  unreadable) echo "(the store cannot be read by $(id -un))" ;;
  readable) cat "$store" ;;
esac

unchanged=0
if [ "$state_before" = "$state_after" ]; then
  case $state_after in
    absent | unreadable) unchanged=1 ;;
    readable) if cmp -s "$before" "$store"; then unchanged=1; fi ;;
  esac
fi
if [ $unchanged -eq 1 ]; then
  echo
  echo "This run changed nothing in the store. Either the store already held what the run"
  echo "writes or removes (a second registration; /U with the band not registered; no path"
  echo "given), or the program could not use the store: a file it cannot read or parse is"
  echo "never rewritten, and a folder it cannot create or write leaves the store as it was."
  if [ "$state_after" = unreadable ]; then
    echo "Here $(id -un) cannot read $store."
  elif [ -d "$(dirname "$store")" ] && [ ! -w "$(dirname "$store")" ]; then
    echo "Here $(id -un) cannot write the folder $(dirname "$store")."
  fi
fi
