#!/bin/sh
# Closes the window of a long run on a virtual X server, as a window manager's close box does,
# and checks that the program ends soon after with the rows of the photos already analysed.
# Usage: close-during-run.sh LONG_RUN CLOSE_WINDOW
set -eu
[ $# -eq 2 ] || { echo "usage: $0 LONG_RUN CLOSE_WINDOW" >&2; exit 2; }
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# Settings of its own: the window opens where the user last left it and saves its settings on
# closing, and neither may reach the user's configuration.
export XDG_CONFIG_HOME="$(mktemp -d)"
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -eu -c '
  long_run=$1 close_window=$2
  title="Swelox v1.0 digital image visual noise analyzer"
  out=$(mktemp)
  "$long_run" >"$out" &
  pid=$!
  trap "kill $pid 2>/dev/null || true; rm -f $out" EXIT
  tries=0
  until xwininfo -name "$title" 2>/dev/null | grep -q "Map State: IsViewable"; do
    tries=$((tries + 1))
    [ $tries -le 100 ] && kill -0 $pid 2>/dev/null || { echo "no window" >&2; exit 1; }
    sleep 0.1
  done
  sleep 1  # the run is under way
  kill -0 $pid || { echo "the run ended by itself" >&2; exit 1; }
  "$close_window" "$title"
  tries=0
  while kill -0 $pid 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -le 50 ] || { echo "still running 5 s after the close request" >&2; exit 1; }
    sleep 0.1
  done
  status=0
  wait $pid || status=$?
  rows=$(sed -n "s/ rows$//p" "$out")
  echo "ended with status $status after $rows rows"
  [ $status -eq 0 ] && [ "${rows:-0}" -gt 0 ]
' sh "$1" "$2"
