#!/usr/bin/env bash
# Makes the screenshots in docs/: the tip window as it opens, and the main window
# with the example pair and an output typed in, compensation switched on and the
# preview of the join drawn; each at the default scale, at 2x scale
# (QT_SCALE_FACTOR=2) and under a dark palette (TANDEMO_PALETTE=dark).
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
  # A home of its own holds the example pair, so the boxes show short "~/" paths.
  env "$@" HOME="$home" XDG_CONFIG_HOME="$config" "$program" >/dev/null 2>&1 &
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
  xdotool type --delay 5 "~/itc/portion1.itc"
  xdotool key Tab Tab
  xdotool type --delay 5 "~/itc/portion2.itc"
  xdotool key Tab Tab
  xdotool type --delay 5 "~/itc/merged.itc"
  xdotool key Tab Tab space
  sleep 3  # the preview is worked out and drawn
  import -window "$main" "docs/main-window$suffix.png"
  xw close Tandemo
  wait "$pid"
  trap - EXIT
}

if [[ ${1:-} == --inside ]]; then
  program=$2
  config=$(mktemp -d)
  # A short, plain folder for the boxes to show (the paths are typed as "~/itc/...").
  home=/tmp/lab
  mkdir "$home" || { echo "screenshots: $home is in the way" >&2; exit 1; }
  mkdir "$home/itc"
  cp examples/portion1.itc examples/portion2.itc "$home/itc/"
  shoot "$program" "" QT_SCALE_FACTOR=1
  shoot "$program" "-2x" QT_SCALE_FACTOR=2
  shoot "$program" "-dark" QT_SCALE_FACTOR=1 TANDEMO_PALETTE=dark
  rm -rf "$config" "$home"
  exit 0
fi

program=${1:-${TANDEMO_BUILD_DIR:-build}/src/app/tandemo}
[[ -x $program ]] || { echo "screenshots: no program at $program (build it first: tools/setup.sh)" >&2; exit 1; }
for tool in xvfb-run xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
mkdir -p docs
# QT_QPA_PLATFORM may say offscreen in a test shell: the screenshots need X.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u QT_SCALE_FACTOR xvfb-run -a -s "-screen 0 2200x2000x24" \
  bash "$0" --inside "$(realpath "$program")"
echo "Wrote docs/{tip-window,main-window}{,-2x,-dark}.png"
