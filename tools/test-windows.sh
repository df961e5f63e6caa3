#!/usr/bin/env bash
# Builds the engine, tandemo-merge and their tests for 64-bit Windows with the
# mingw-w64 cross compiler (preset windows-cross, folder build-windows/) and runs
# the engine's and the command line's tests under Wine, in a Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows-cross
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all
# The prefix is made once, before the build runs the test programs to list their cases.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot --init >/dev/null 2>&1 || { echo "wineboot failed or took too long" >&2; exit 1; }
fi
cmake --build --preset windows-cross
ctest --preset windows-cross -j"$(nproc)"
