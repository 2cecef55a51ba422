#!/bin/sh
# Where swelox-cli draws its progress caption, typed in a real terminal (a tmux pane whose every
# byte is recorded): never while standard output is a pipe, whose reader could put rows between
# the caption's drawing and its removal; on a terminal, a file or /dev/null; and as
# --progress or --no-progress choose.
#   terminal-progress.sh SWELOX_CLI EXAMPLES_FOLDER
set -eu
cli=$1
examples=$2
scratch=$(mktemp -d)
server="swelox-progress-$$"
trap 'tmux -L "$server" kill-server 2>/dev/null || true; rm -rf "$scratch"' EXIT

photos="$examples/by-the-water.jpg $examples/evening-glow-lake.jpg $examples/summer-night-lake.jpg"
tmux -L "$server" -f /dev/null new-session -d -x 200 -y 50 sh

failures=0
case_number=0
# try EXPECTED REDIRECTION [OPTION]...: EXPECTED is "caption" or "none".
try() {
  expected=$1
  redirection=$2
  shift 2
  case_number=$((case_number + 1))
  raw="$scratch/raw$case_number"
  : >"$raw"
  tmux -L "$server" pipe-pane -o "cat >>'$raw'"
  # The marker is printed from two halves, so that the echoed command line does not hold it.
  tmux -L "$server" send-keys \
    "$cli --repeats 2 $* $photos $redirection; printf '%s%s\n' EN D$case_number" Enter
  tries=0
  until grep -aq "END$case_number" "$raw"; do
    tries=$((tries + 1))
    [ $tries -lt 600 ] || { echo "swelox-cli did not finish in the terminal" >&2; exit 1; }
    sleep 0.1
  done
  tmux -L "$server" pipe-pane
  # Each of the three photos has its caption in each of the three runs.
  shown=$(grep -ao '[123] of 3   Run[123]' "$raw" | sort -u | wc -l)
  case $expected in
    caption) [ "$shown" -eq 9 ] ;;
    none) [ "$shown" -eq 0 ] ;;
  esac || {
    echo "'swelox-cli $* ... $redirection': expected $expected, the terminal got $shown captions" >&2
    failures=$((failures + 1))
  }
}

try none "| cat"
try none "| cat" --no-progress
try caption "| cat" --progress
try caption "> $scratch/out.tsv"
try none "> $scratch/out.tsv" --no-progress
try caption "> /dev/null"
try caption ""
try none "" --no-progress
# The caption goes to standard error: with it in the pipe too, a terminal is no longer there.
try none "2>&1 | cat"

[ "$failures" -eq 0 ] || exit 1
echo "The caption showed exactly where it cannot mix with the rows ($case_number cases)."
