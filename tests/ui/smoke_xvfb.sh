#!/usr/bin/env bash
# Starts the real tandemo in an X window under Xvfb: the tip window must come up
# alone at its fixed place, the main window only once the tip window has been
# closed, and the program must end cleanly when the main window is closed.
#   smoke_xvfb.sh PATH/TO/tandemo PATH/TO/xwindows.py
set -euo pipefail

# Inside the X server: every step must hold, else a non-zero exit names it.
inner() {
  local program=$1 xwindows=$2
  local log
  log=$(mktemp)
  "$program" >"$log" 2>&1 &
  local pid=$!
  fail() { echo "FAIL: $*"; kill "$pid" 2>/dev/null || true; sed 's/^/  tandemo: /' "$log"; exit 1; }

  python3 "$xwindows" wait "Tip of the Day" --timeout 30 >/dev/null || fail "no tip window"
  if python3 "$xwindows" wait Tandemo --timeout 0.5 >/dev/null 2>&1; then
    fail "the main window is shown while the tip window is open"
  fi
  read -r x y w h < <(python3 "$xwindows" geometry "Tip of the Day")
  [[ "$x $y $w $h" == "157 159 520 304" ]] || fail "tip window at $x,$y size ${w}x$h, not 157,159 520x304"
  echo "tip window: $x,$y ${w}x$h"

  python3 "$xwindows" close "Tip of the Day" || fail "cannot close the tip window"
  python3 "$xwindows" gone "Tip of the Day" --timeout 10 || fail "the tip window stays"
  python3 "$xwindows" wait Tandemo --timeout 10 >/dev/null || fail "no main window after the tip window"
  read -r x y w h < <(python3 "$xwindows" geometry Tandemo)
  # 395 wide; at least 238 high, more where the two check boxes need it
  [[ "$w" == 395 && "$h" -ge 238 ]] || fail "main window ${w}x$h, not 395 wide and at least 238 high"
  echo "main window: ${w}x$h"
  kill -0 "$pid" 2>/dev/null || fail "the program ended with the tip window"

  python3 "$xwindows" close Tandemo || fail "cannot close the main window"
  local waited=0
  while kill -0 "$pid" 2>/dev/null; do
    ((waited++ < 200)) || fail "still running 10 s after its window was closed"
    sleep 0.05
  done
  local rc=0
  wait "$pid" || rc=$?
  [[ $rc -eq 0 ]] || fail "exit status $rc"
  echo "exit status 0"
}

if [[ ${1:-} == --inside ]]; then
  inner "$2" "$3"
  exit 0
fi
if ! command -v xvfb-run >/dev/null || ! command -v python3 >/dev/null; then
  echo "SKIP: xvfb-run or python3 is missing (apt-get install xvfb xauth python3)"
  exit 77
fi
# QT_QPA_PLATFORM may be set to offscreen for the other tests: this one wants X.
exec env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$0" --inside "$1" "$2"
