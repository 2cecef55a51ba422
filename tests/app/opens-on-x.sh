#!/bin/sh
# Starts the program on a virtual X server of the given size, waits for its window, checks where
# it opened, that it is no taller than the screen and that the program is still running, and
# saves a picture of the window.
# Usage: opens-on-x.sh PROGRAM PICTURE SCREEN_WIDTH SCREEN_HEIGHT
set -eu
[ $# -eq 4 ] || { echo "usage: $0 PROGRAM PICTURE SCREEN_WIDTH SCREEN_HEIGHT" >&2; exit 2; }
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# Settings of its own: the window opens where the user last left it and saves its settings on
# closing, and neither may reach the user's configuration.
export XDG_CONFIG_HOME="$(mktemp -d)"
exec xvfb-run -a -s "-screen 0 ${3}x${4}x24 -nolisten tcp" sh -eu -c '
  program=$1 picture=$2 screen_width=$3 screen_height=$4
  title="Swelox v1.0 digital image visual noise analyzer"
  "$program" &
  pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  tries=0
  until xwininfo -name "$title" 2>/dev/null | grep -q "Map State: IsViewable"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 $pid 2>/dev/null; then
      echo "the window \"$title\" did not open" >&2
      exit 1
    fi
    sleep 0.1
  done
  sleep 0.5  # let it paint
  info=$(xwininfo -name "$title")
  value() { echo "$info" | sed -n "s/^ *$1: *//p"; }
  x=$(value "Absolute upper-left X") y=$(value "Absolute upper-left Y")
  width=$(value Width) height=$(value Height)
  echo "window ${width}x${height} at ${x},${y} on a ${screen_width}x${screen_height} screen"
  expect_x=$(( (screen_width - width) / 2 )); [ $expect_x -ge 0 ] || expect_x=0
  expect_y=$(( (screen_height - height) / 2 )); [ $expect_y -ge 0 ] || expect_y=0
  if [ "$x" -ne $expect_x ] || [ "$y" -ne $expect_y ]; then
    echo "expected the window at ${expect_x},${expect_y}" >&2
    exit 1
  fi
  # A low screen takes lines from the results area, so that the buttons under it stay in reach.
  if [ $((y + height)) -gt "$screen_height" ]; then
    echo "the window reaches below the screen" >&2
    exit 1
  fi
  import -window "$(echo "$info" | sed -n "s/.*Window id: \(0x[0-9a-f]*\).*/\1/p")" "$picture"
  kill -0 $pid || { echo "the program ended by itself" >&2; exit 1; }
  colours=$(identify -format "%k" "$picture")
  echo "picture $picture: $(identify -format "%wx%h" "$picture"), $colours colours"
  [ "$colours" -gt 8 ] || { echo "the picture is blank" >&2; exit 1; }
' sh "$1" "$2" "$3" "$4"
