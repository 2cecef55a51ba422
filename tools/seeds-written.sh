#!/bin/sh
# The seed writer writes every seed, and djpeg decodes each but the one with a component count
# that JPEG decoders refuse.
#   seeds-written.sh SWELOX_MAKE_SEEDS DJPEG
set -eu
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
"$1" "$seeds"
count=0
for seed in "$seeds"/*.jpg; do
  count=$((count + 1))
  case "$seed" in
    */two-components.jpg) ;;
    *) "$2" -outfile /dev/null "$seed" || { echo "djpeg cannot decode $seed" >&2; exit 1; } ;;
  esac
done
[ "$count" -ge 30 ] || { echo "only $count seeds" >&2; exit 1; }
echo "$count seeds written"
