#!/usr/bin/env bash
# vardel.exe from the unzipped Windows folder, a real window under Xvfb and Wine, on COM7
# mapped onto the Linux vardel-sim: it starts with the tree of TR100F.dat, a double click on
# "Pomiar" reads the group through the port, closing it saves vardel.log beside the program.
# Usage: window_check.sh WINDOWS_FOLDER LINUX_BIN [SCREENSHOT]
set -euo pipefail
folder=$1 linux=$2 shot=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vardel/wineprefix}
"$here/run" cmd /c exit >/dev/null 2>&1
# A Wine session started without a display keeps none: the window's needs the X server's.
"$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
rm -f "$folder/vardel.log"
"$linux/vardel-sim" --device "$folder/TR100F.dat" --pty "$work/tty" -v 2>"$work/traffic" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
ln -sfn "$(readlink -f "$work/tty")" "$WINEPREFIX/dosdevices/com7"
export folder here shot
unset QT_QPA_PLATFORM # Windows' own platform, a real window
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  cd "$folder"
  "$here/run" vardel.exe --device TR100F.dat --port COM7 >/dev/null 2>&1 & pid=$!
  win=
  for _ in $(seq 150); do # Wine takes its time on a first start
    win=$(xdotool search --name "^vardel$" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "$win" ] || { echo "wine window check: no window appeared"; exit 1; }
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + 40)) $((Y + 27)) click --repeat 2 --delay 80 1; sleep 2
  xdotool mousemove $((X + 10)) $((Y + 27)) click 1; sleep 0.5 # its values, expanded
  [ -z "$shot" ] || import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"
  xdotool key --window "$win" alt+F4
  for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  kill $pid 2>/dev/null || true'
requests=$(grep -o '^<- \$[0-9A-F]*' "$work/traffic" | cut -c5- || true)
echo "$requests" | grep -q '^F70400000001' || { echo "wine window check: Pomiar was not read"; exit 1; }
log=$(tr -d '\r' <"$folder/vardel.log" 2>/dev/null || true)
echo "$log" | grep -q '^1    Temperatura21,00$' ||
  { echo "wine window check: vardel.log beside the program lacks the read; it holds: $log"; exit 1; }
echo "wine window check: passed"
