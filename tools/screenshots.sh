#!/usr/bin/env bash
# Makes the screenshots in docs/: the tip window as it opens, and the main window
# with three paths typed in and compensation switched on; each at the default
# scale, at 2x scale (QT_SCALE_FACTOR=2) and under a dark palette (TANDEMO_PALETTE=dark).
# Runs the built program in an X server of its own (Xvfb), so no display is needed,
# with settings of its own, so the tip window shows whatever the user chose.
#   tools/screenshots.sh [PATH/TO/tandemo]    (default: build/src/app/tandemo)
# Needs the Debian packages xvfb, xauth, imagemagick, python3 and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."

# One run of the program: NAME-SUFFIX.png for the tip window and the main window.
shoot() {
  local program=$1 suffix=$2
  shift 2
  xw() { python3 tools/xwindows.py "$@"; }
  env "$@" XDG_CONFIG_HOME="$config" "$program" >/dev/null 2>&1 &
  local pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT

  local tip main
  tip=$(xw wait "Tip of the Day" --timeout 30)
  sleep 0.7  # let it finish painting
  import -window "$tip" "docs/tip-window$suffix.png"
  xw close "Tip of the Day"

  main=$(xw wait Tandemo --timeout 10)
  sleep 0.5
  # The focus starts in the first path box; Tab follows the window: box, Browse, box, ...
  xdotool windowfocus --sync "$main"
  xdotool type --delay 5 "/home/lab/itc/lysozyme-part1.itc"
  xdotool key Tab Tab
  xdotool type --delay 5 "/home/lab/itc/lysozyme-part2.itc"
  xdotool key Tab Tab
  xdotool type --delay 5 "/home/lab/itc/lysozyme-merged.itc"
  xdotool key Tab Tab space
  sleep 0.5
  import -window "$main" "docs/main-window$suffix.png"
  xw close Tandemo
  wait "$pid"
  trap - EXIT
}

if [[ ${1:-} == --inside ]]; then
  program=$2
  config=$(mktemp -d)
  shoot "$program" "" QT_SCALE_FACTOR=1
  shoot "$program" "-2x" QT_SCALE_FACTOR=2
  shoot "$program" "-dark" QT_SCALE_FACTOR=1 TANDEMO_PALETTE=dark
  rm -rf "$config"
  exit 0
fi

program=${1:-${TANDEMO_BUILD_DIR:-build}/src/app/tandemo}
[[ -x $program ]] || { echo "screenshots: no program at $program (build it first: tools/setup.sh)" >&2; exit 1; }
for tool in xvfb-run xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
mkdir -p docs
# QT_QPA_PLATFORM may say offscreen in a test shell: the screenshots need X.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u QT_SCALE_FACTOR xvfb-run -a -s "-screen 0 1600x1200x24" \
  bash "$0" --inside "$(realpath "$program")"
echo "Wrote docs/{tip-window,main-window}{,-2x,-dark}.png"
