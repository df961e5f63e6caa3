#!/usr/bin/env bash
# Starts the real tandemo in an X window under Xvfb: the tip window must come up
# alone at its place, the main window only once the tip window has been closed;
# the main window must resize; the example pair typed into the first and second
# boxes must draw the preview below the classic controls (its screenshot's lower
# half is not one colour); a merge of a large generated pair, started with
# Enter, must leave the window answering (it repaints and answers a window
# manager's ping) while it runs, and Esc must cancel it, leaving nothing behind;
# started again it runs to "Done"; the program must end cleanly when its window is closed.
#   smoke_xvfb.sh PATH/TO/tandemo PATH/TO/xwindows.py PATH/TO/tandemo-itcgen PATH/TO/examples
set -euo pipefail

# Inside the X server: every step must hold, else a non-zero exit names it.
inner() {
  local program=$1 xwindows=$2 itcgen=$3 examples=$4
  local work log
  work=$(mktemp -d)
  log=$work/tandemo.log
  # Settings of its own: the tip window shows whatever the user of this machine chose.
  XDG_CONFIG_HOME=$work/config "$program" >"$log" 2>&1 &
  local pid=$!
  fail() {
    echo "FAIL: $*"
    kill "$pid" 2>/dev/null || true
    sed 's/^/  tandemo: /' "$log"
    rm -rf "$work"
    exit 1
  }
  xw() { python3 "$xwindows" "$@"; }

  xw wait "Tip of the Day" --timeout 30 >/dev/null || fail "no tip window"
  if xw wait Tandemo --timeout 0.5 >/dev/null 2>&1; then
    fail "the main window is shown while the tip window is open"
  fi
  read -r x y w h < <(xw geometry "Tip of the Day")
  [[ "$x $y $w $h" == "157 159 520 304" ]] || fail "tip window at $x,$y size ${w}x$h, not 157,159 520x304"
  echo "tip window: $x,$y ${w}x$h"

  xw close "Tip of the Day" || fail "cannot close the tip window"
  xw gone "Tip of the Day" --timeout 10 || fail "the tip window stays"
  local main
  main=$(xw wait Tandemo --timeout 10) || fail "no main window after the tip window"
  read -r x y w h < <(xw geometry "$main")
  ((w >= 395 && h >= 258)) || fail "main window ${w}x$h, smaller than 395x258"
  echo "main window: ${w}x$h"
  kill -0 "$pid" 2>/dev/null || fail "the program ended with the tip window"

  # Resizable: it takes a larger size.
  xdotool windowsize "$main" $((w + 150)) $((h + 40))
  sleep 0.5
  read -r x y w2 h2 < <(xw geometry "$main")
  ((w2 == w + 150 && h2 == h + 40)) || fail "resized to ${w2}x$h2, not $((w + 150))x$((h + 40))"
  echo "resized: ${w2}x$h2"

  # The example pair typed in: the preview is drawn below the classic controls.
  xdotool windowfocus --sync "$main"
  sleep 0.2
  import -window "$main" "$work/empty.png" 2>/dev/null || fail "cannot grab the window"
  # Focus starts in the first box; Tab goes box, Browse, box, ...
  xdotool type --delay 2 "$examples/portion1.itc"
  xdotool key Tab Tab
  xdotool type --delay 2 "$examples/portion2.itc"
  local colours half waited=0
  while :; do
    sleep 0.25
    import -window "$main" "$work/preview.png" 2>/dev/null || fail "cannot grab the window"
    half=$(identify -format '%h' "$work/preview.png")
    half=$((half / 2))
    colours=$(convert "$work/preview.png" -crop "100%x50%+0+$half" +repage -format '%k' info:)
    # The charts' lines, marks and texts: far more colours than the placeholder's text.
    ((colours > 200)) && break
    ((waited++ < 80)) || fail "no preview drawn 20 s after the example pair was typed (lower half: $colours colours)"
  done
  echo "preview of the example pair drawn: $colours colours in the lower half"
  if [[ -n ${TANDEMO_SMOKE_SHOTS:-} ]]; then cp "$work/preview.png" "$TANDEMO_SMOKE_SHOTS/"; fi

  # A pair of about 2 GB: its merge takes seconds.
  "$itcgen" --size-mb 2000 "$work/part1.itc" "$work/part2.itc" >/dev/null || fail "cannot generate the pair"
  xdotool windowfocus --sync "$main"
  sleep 0.2
  import -window "$main" "$work/before.png" 2>/dev/null || fail "cannot grab the window"
  # Back to the first box; each box's text selected and typed over.
  xdotool key shift+Tab shift+Tab ctrl+a
  xdotool type --delay 2 "$work/part1.itc"
  xdotool key Tab Tab ctrl+a
  xdotool type --delay 2 "$work/part2.itc"
  xdotool key Tab Tab
  xdotool type --delay 2 "$work/merged.itc"
  xdotool key Return
  local started=$SECONDS

  sleep 0.8  # past the half second after which the progress bar shows
  local delay
  delay=$(xw ping "$main" --timeout 1) || fail "the window does not answer a ping during the merge"
  xw wait Tandemo --timeout 1 >/dev/null || fail "no answer to a title query during the merge"
  import -window "$main" "$work/during.png" 2>/dev/null || fail "cannot grab the window during the merge"
  [[ ! -e $work/merged.itc ]] || fail "the merge ended before the window was checked: the pair is too small"
  local changed
  changed=$(compare -metric AE "$work/before.png" "$work/during.png" null: 2>&1 || true)
  ((${changed%%.*} > 0)) || fail "the window did not repaint during the merge"
  echo "during the merge: answered a ping in $delay ms, $changed pixels repainted"

  # Esc is Cancel: the merge stops, writes nothing and leaves no scratch file.
  xdotool key Escape
  local listing
  waited=0
  while :; do
    listing=$(cd "$work" && ls -A | grep -v -e '^config$' -e '\.png$' -e '^tandemo\.log$' | tr '\n' ' ')
    [[ $listing == "part1.itc part2.itc " ]] && break
    ((waited++ < 200)) || fail "10 s after Esc the folder holds: $listing"
    sleep 0.05
  done
  sleep 0.5
  [[ ! -e $work/merged.itc ]] || fail "a cancelled merge wrote the output"
  if xw list | awk -v main="$main" '$NF == "Tandemo" && $1 != main {found=1} END {exit !found}'; then
    fail "a cancelled merge showed a box"
  fi
  echo "cancelled with Esc: nothing written, nothing left behind"

  # Started again, the merge runs to its end.
  xdotool key Return
  started=$SECONDS

  # The merge ends with "Done" in a box of its own.
  local box=
  waited=0
  while [[ -z $box ]]; do
    box=$(xw list | awk -v main="$main" '$NF == "Tandemo" && $1 != main {print $1}' | head -n1)
    ((waited++ < 1200)) || fail "no \"Done\" within 60 s of the merge's start"
    [[ -n $box ]] || sleep 0.05
  done
  echo "merge done after about $((SECONDS - started)) s"
  [[ -s $work/merged.itc ]] || fail "no merged file"
  listing=$(cd "$work" && ls -A | grep -v -e '^config$' -e '\.png$' -e '^tandemo\.log$' | tr '\n' ' ')
  [[ $listing == "merged.itc part1.itc part2.itc " ]] || fail "files left beside the output: $listing"
  xw close "$box" || fail "cannot close the \"Done\" box"
  xw gone "$box" --timeout 10 || fail "the \"Done\" box stays"

  xw close "$main" || fail "cannot close the main window"
  waited=0
  while kill -0 "$pid" 2>/dev/null; do
    ((waited++ < 200)) || fail "still running 10 s after its window was closed"
    sleep 0.05
  done
  local rc=0
  wait "$pid" || rc=$?
  [[ $rc -eq 0 ]] || fail "exit status $rc"
  echo "exit status 0"
  rm -rf "$work"
}

if [[ ${1:-} == --inside ]]; then
  inner "$2" "$3" "$4" "$5"
  exit 0
fi
for tool in xvfb-run python3 xdotool import compare convert identify; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (apt-get install xvfb xauth python3 xdotool imagemagick)"
    exit 77
  fi
done
# QT_QPA_PLATFORM may be set to offscreen for the other tests: this one wants X.
exec env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u QT_SCALE_FACTOR xvfb-run -a -s "-screen 0 1024x768x24" \
  bash "$0" --inside "$1" "$2" "$3" "$4"
