#!/bin/sh
# The option list in README.md is the one `swelox-cli --help` prints.
#   readme-help.sh SWELOX_CLI README
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sed -n '/^swelox-cli \[OPTION\]\.\.\. FILE\.\.\.$/,/^```$/p' "$2" | sed '1d;$d' >"$scratch/readme"
"$1" --help | grep -E '^  -|^      --' >"$scratch/help"
[ -s "$scratch/help" ] || { echo "no options in --help" >&2; exit 1; }
if ! diff "$scratch/help" "$scratch/readme" >&2; then
  echo "README.md lists other options than --help (above: < --help, > README.md)" >&2
  exit 1
fi
echo "README.md lists the $(wc -l <"$scratch/help") options of --help."
