#!/usr/bin/env bash
# Builds the engine, tandemo-merge and their tests for 64-bit Windows with the
# mingw-w64 cross compiler (preset windows-cross, folder build-windows/) and runs
# the engine's and the command line's tests under Wine, in a Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows-cross
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all
# One Wine server for the whole run (a program started while a server shuts down
# fails to start), and Wine's own services started here with their output going
# nowhere: started by a test program, they would hold its output pipe open, and
# the listing of its test cases would wait for them.
wineserver -k 2>/dev/null || true
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k || true' EXIT
# The prefix is made the first time.
timeout 300 wineboot --init </dev/null >/dev/null 2>&1 || { echo "wineboot failed or took too long" >&2; exit 1; }
cmake --build --preset windows-cross
# A test is run a second time only when it failed: a program Wine could not start.
ctest --preset windows-cross -j"$(nproc)" --repeat until-pass:2
