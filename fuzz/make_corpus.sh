#!/usr/bin/env bash
# Remakes the fuzzer's seed corpus in fuzz/corpus/: small crops of the sample photos (baseline,
# progressive and with restart markers, keeping the encoders' quantization tables), two truncated
# crops, and the generated files of fuzz/MakeSeeds.cpp (every sampling, progressive, greyscale,
# plain RGB, CMYK, YCCK, restart markers, arithmetic coding, a refused component count).
# The seeds are rewritten in place; inputs that fuzz/run.sh --merge added (named by their SHA-1)
# stay. Builds the seed writer in build/ (with the test toolkit's encoder).
set -euo pipefail
cd "$(dirname "$0")/.."

corpus=fuzz/corpus
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

source scripts/setup.sh
swelox_install_missing
swelox_build build -- --target swelox_make_seeds >/dev/null
mkdir -p "$corpus"
build/tools/swelox_make_seeds "$corpus"

for photo in examples/*.jpg; do
  name=$(basename "$photo" .jpg)
  jpegtran -copy all -crop 128x64+256+32 -outfile "$corpus/photo-$name.jpg" "$photo"
  jpegtran -copy all -crop 96x48+0+0 -progressive -outfile "$corpus/photo-$name-progressive.jpg" \
    "$photo"
  jpegtran -copy none -crop 64x32+64+16 -restart 1 -outfile "$corpus/photo-$name-restarts.jpg" \
    "$photo"
done
head -c 1200 "$corpus/photo-by-the-water.jpg" >"$corpus/photo-by-the-water-truncated.jpg"
head -c 700 "$corpus/photo-by-the-water-progressive.jpg" \
  >"$corpus/photo-by-the-water-progressive-truncated.jpg"

echo "$(find "$corpus" -type f | wc -l) inputs, $(cat "$corpus"/* | wc -c) bytes in $corpus"
