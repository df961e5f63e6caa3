#!/usr/bin/env bash
# The main job: sets up and builds, then starts the Tandemo window. Without a
# display it runs the example merge on the command line instead and says where the result is.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]] && [[ -x build/src/app/tandemo ]]; then
  exec build/src/app/tandemo
fi

out=build/example-merged.itc
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open;"
  echo "running the example merge with tandemo-merge instead."
fi
build/src/cli/tandemo-merge --compensate --update-header -o "$out" examples/portion1.itc examples/portion2.itc
echo "The merged file is $(pwd)/$out"
