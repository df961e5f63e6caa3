#!/usr/bin/env bash
# Makes the screenshots in docs/: the tip window as it opens, and the main window
# with three paths typed in and compensation switched on. Runs the built program
# in an X server of its own (Xvfb), so no display is needed.
#   tools/screenshots.sh [PATH/TO/tandemo]    (default: build/src/app/tandemo)
# Needs the Debian packages xvfb, xauth, imagemagick, python3 and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == --inside ]]; then
  program=$2
  xw() { python3 tools/xwindows.py "$@"; }
  "$program" >/dev/null 2>&1 &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT

  tip=$(xw wait "Tip of the Day" --timeout 30)
  sleep 0.5  # let it finish painting
  import -window "$tip" docs/tip-window.png
  xw close "Tip of the Day"

  main=$(xw wait Tandemo --timeout 10)
  sleep 0.3
  # The focus starts in the first path box; Tab follows the window's tab order.
  xdotool windowfocus --sync "$main"
  xdotool type --delay 5 "/home/lab/itc/lysozyme-part1.itc"
  xdotool key Tab Tab Tab
  xdotool type --delay 5 "/home/lab/itc/lysozyme-part2.itc"
  xdotool key Tab Tab
  xdotool type --delay 5 "/home/lab/itc/lysozyme-merged.itc"
  xdotool key Tab Tab space
  sleep 0.3
  import -window "$main" docs/main-window.png
  xw close Tandemo
  wait "$pid"
  trap - EXIT
  exit 0
fi

program=${1:-${TANDEMO_BUILD_DIR:-build}/src/app/tandemo}
[[ -x $program ]] || { echo "screenshots: no program at $program (build it first: tools/setup.sh)" >&2; exit 1; }
for tool in xvfb-run xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
mkdir -p docs
# QT_QPA_PLATFORM may say offscreen in a test shell: the screenshots need X.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$0" --inside "$(realpath "$program")"
echo "Wrote docs/tip-window.png and docs/main-window.png"
