#!/usr/bin/env bash
# The real window under Xvfb, driven with xdotool as a technician drives it: clicks, arrow
# keys, F5, typing and Return, on the realistic device file against vardel-sim. What reached
# the device is read from the simulator's traffic. Usage: window_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
run=$(mktemp -d /tmp/vardel-check.XXXXXX)
cp "$build/bin/vardel" "$build/bin/TR300F.dat" "$run/"
"$build/bin/vardel-sim" --device "$run/TR300F.dat" --pty "$run/tty" -v 2>"$run/traffic" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$run"' EXIT
for _ in $(seq 50); do [ -e "$run/tty" ] && break; sleep 0.1; done
export run build
unset QT_QPA_PLATFORM # a real window on the X server, whatever the test runner set
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  "$run/vardel" --port "$run/tty" --device TR300F.dat & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  for _ in $(seq 50); do
    win=$(xdotool search --name "^vardel$" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "$win" ] || { echo "window check: no window appeared"; exit 1; }
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  row() { echo $((Y + 27 + 14 * $1)); }        # the centre of a visible row of the tree
  key() { xdotool key --delay 60 "$@"; sleep 0.3; }
  # A click on "Identyfikacja", F5 reads the group; arrows down to "Konfiguracja", Right
  # expands it, four more to "Okres uśredniania" (row 6), F5 reads it.
  xdotool mousemove $((X + 60)) "$(row 0)" click 1; sleep 0.3
  key F5
  key Down Down Right Down Down Down Down
  key F5
  # Its editor opened and closed by a click in the log: nothing may be written.
  xdotool mousemove $((X + 260)) "$(row 6)" click --repeat 2 --delay 80 1; sleep 0.4
  xdotool mousemove $((X + 500)) $((Y + 300)) click 1; sleep 0.4
  # Opened again: the operator types 4321 and presses Return: one write.
  xdotool mousemove $((X + 260)) "$(row 6)" click --repeat 2 --delay 80 1; sleep 0.4
  key ctrl+a
  xdotool type --delay 60 4321; sleep 0.2
  key Return
  sleep 0.8
  # A number the register cannot hold is refused in a box, which Return closes.
  xdotool mousemove $((X + 260)) "$(row 6)" click --repeat 2 --delay 80 1; sleep 0.4
  key ctrl+a
  xdotool type --delay 60 70000; sleep 0.2
  key Return
  sleep 0.5
  import -window root "$build/window-check.png"
  key Return
  kill $pid; wait $pid 2>/dev/null || true'
kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true
requests=$(grep -o '^<- \$[0-9A-F]*' "$run/traffic" | cut -c5- || true)
fail() { echo "window check: $*"; echo "requests:"; echo "$requests"; exit 1; }
echo "$requests" | grep -q '^F70400000004' || fail "F5 did not read the group Identyfikacja"
echo "$requests" | grep -q '^F70300CB0001' || fail "F5 did not read Okres uśredniania"
writes=$(echo "$requests" | grep '^F706' || true)
[ "$(echo "$writes" | grep -c .)" = 1 ] && [ "${writes:0:12}" = F70600CB10E1 ] ||
  fail "expected exactly one write, of 4321 (F70600CB10E1...); got: ${writes:-none}"
echo "window check: passed; screenshot in $build/window-check.png"
