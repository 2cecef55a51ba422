#!/bin/sh
# The option list of the option reference is the one `swelox-cli --help` prints.
#   options-list.sh SWELOX_CLI REFERENCE
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sed -n '/^swelox-cli \[OPTION\]\.\.\. FILE\.\.\.$/,/^```$/p' "$2" | sed '1d;$d' >"$scratch/listed"
# From the first option to the blank line after the last, with the lines an option's help goes on over.
"$1" --help | awk '/^  -|^      --/ { listing = 1 } listing && /^$/ { exit } listing' >"$scratch/help"
[ -s "$scratch/help" ] || { echo "no options in --help" >&2; exit 1; }
if ! diff "$scratch/help" "$scratch/listed" >&2; then
  echo "$2 lists other options than --help (above: < --help, > $2)" >&2
  exit 1
fi
echo "$2 lists the $(grep -cE '^  -|^      --' "$scratch/help") options of --help."
