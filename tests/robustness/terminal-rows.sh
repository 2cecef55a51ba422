#!/bin/sh
# swelox-cli typed in a real terminal (a tmux pane): the screen must show exactly the rows and
# messages that the same command writes to a file, with tabs expanded as the terminal does, and
# nothing of the progress caption left at the end.
#   terminal-rows.sh SWELOX_CLI EXAMPLES_FOLDER
set -eu
cli=$1
examples=$2
scratch=$(mktemp -d)
server="swelox-terminal-$$"
trap 'tmux -L "$server" kill-server 2>/dev/null || true; rm -rf "$scratch"' EXIT

# Three photos over two runs, and a missing file whose message comes between the rows.
command="$cli --repeats 1 -k $examples/by-the-water.jpg $scratch/missing.jpg \
$examples/evening-glow-lake.jpg $examples/summer-night-lake.jpg"

# What a file receives, with the messages in their place, as a terminal would lay it out.
sh -c "$command" >"$scratch/expected.raw" 2>&1 || true
expand "$scratch/expected.raw" >"$scratch/expected"

# The markers are printed from two halves, so that the echoed command line does not hold them.
tmux -L "$server" -f /dev/null new-session -d -x 200 -y 50 sh
tmux -L "$server" send-keys "clear; printf '%s%s\n' BE GIN; $command; printf '%s%s\n' EN D" Enter
tries=0
until tmux -L "$server" capture-pane -p | grep -q '^END$'; do
  tries=$((tries + 1))
  [ $tries -lt 600 ] || { echo "swelox-cli did not finish in the terminal" >&2; exit 1; }
  sleep 0.1
done
tmux -L "$server" capture-pane -p | sed -n '/^BEGIN$/,/^END$/p' | sed '1d;$d' >"$scratch/screen"

if ! cmp -s "$scratch/expected" "$scratch/screen"; then
  echo "The terminal shows other text than the file holds:" >&2
  diff "$scratch/expected" "$scratch/screen" >&2 || true
  exit 1
fi
# The comparison is only worth something if rows were shown.
[ "$(wc -l <"$scratch/screen")" -eq 9 ] || { echo "expected 9 lines on screen" >&2; exit 1; }
echo "The terminal shows the same $(wc -l <"$scratch/screen") lines as the file."
