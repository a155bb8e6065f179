#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Under a real X server with a real tray (trayer): the tray icon is embedded, a left click
# opens nothing, a right click opens the tray menu.
#   tray_under_xvfb.sh BELVORAN_BINARY
set -u
bin=$1
if [ -z "${BELVORAN_IN_XVFB:-}" ]; then
  export BELVORAN_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 640x400x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill $app $tray 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/run && mkdir -m 700 "$XDG_RUNTIME_DIR"
export BELVORAN_AUDIO_SINK="fakesink sync=true"
unset QT_QPA_PLATFORM

trayer --edge bottom --align right --widthtype pixel --width 120 --height 28 \
  --SetDockType true --transparent false &
tray=$!
sleep 1
"$bin" --database "$work/Music.db" 2>"$work/log" &
app=$!

icon=""
for _ in $(seq 50); do
  icon=$(xwininfo -root -tree | awk '/"panel"/ {p = 1} p && /"Belvoran"/ {print; exit}')
  [ -n "$icon" ] && break
  sleep 0.2
done
if [ -z "$icon" ]; then
  echo "FAIL: no Belvoran icon inside the tray"; xwininfo -root -tree; cat "$work/log"; exit 1
fi
echo "tray icon: $icon"
pos=$(echo "$icon" | grep -oE '\+[0-9]+\+[0-9]+$')
x=$(( $(echo "$pos" | cut -d+ -f2) + 10 ))
y=$(( $(echo "$pos" | cut -d+ -f3) + 10 ))

windows() { xwininfo -root -children | grep -c '"Belvoran"'; }
before=$(windows)
xdotool mousemove "$x" "$y" click 1
sleep 0.7
xdotool mousemove "$x" "$y" click --repeat 2 1
sleep 0.7
if [ "$(windows)" != "$before" ]; then
  echo "FAIL: a left click or double click opened a window"; exit 1
fi
xdotool mousemove "$x" "$y" click 3
for _ in $(seq 25); do
  [ "$(windows)" -gt "$before" ] && { echo "PASS: the right button opened the tray menu"; exit 0; }
  sleep 0.2
done
echo "FAIL: the right button opened no menu"; exit 1
