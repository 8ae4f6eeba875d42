#!/usr/bin/env bash
# Builds the native program and registers the band in the default store, then shows the
# store's path and contents. Any arguments are passed to the program instead of the example
# server path (for instance /U to remove the band again).
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target lkspanreg >/dev/null
if [ $# -eq 0 ]; then set -- 'C:\Program Files\Larkspan\band.dll'; fi
./build/native/lkspanreg "$@"
store=${LARKSPAN_REGISTRY:-${XDG_DATA_HOME:-$HOME/.local/share}/larkspan/registry.reg}
echo "store: $store"
if [ -f "$store" ]; then cat "$store"; else echo "(no store file yet)"; fi
