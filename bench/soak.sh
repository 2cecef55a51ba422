#!/usr/bin/env bash
# Soak test of swelox-cli: thousands of small JPEG files mixed with broken ones, analysed with
# --keep-going --jobs 2, twice: with COUNT files and with 4 x COUNT.
#
#   bench/soak.sh [COUNT]      (default 1500, so 1500 and 6000 files; about a minute here)
#
# Every good file must have its row, in order and equal to the row it gives alone; every bad one
# its message, in order; the exit status must be 1 (some files failed); and the peak resident
# memory of the 4 x COUNT run may exceed that of the COUNT run by at most 10 % + 2 MB: memory
# must not grow with the number of files. The files are made from the sample photos in
# examples/ (crops, progressive, greyscale, arithmetic coding, restart markers, truncated ones)
# and broken files of several kinds (not a JPEG, empty, cut inside the header, missing, a folder).
#
# swelox-cli is $SWELOX_CLI when set, otherwise it is built into build-soak/.
# Needs cmake and g++ (for the build), jpegtran, djpeg and cjpeg, and /usr/bin/time.
# Exit status: 0 when every check passed, 1 otherwise, 2 for a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."

count=${1:-1500}
case "$count" in
  "" | *[!0-9]*)
    echo "usage: bench/soak.sh [COUNT]" >&2
    exit 2
    ;;
esac
[ "$count" -ge 20 ] || {
  echo "bench/soak.sh: COUNT must be at least 20" >&2
  exit 2
}
for tool in jpegtran djpeg cjpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "bench/soak.sh: $tool is missing" >&2
    exit 2
  }
done

cli=${SWELOX_CLI:-}
if [ -z "$cli" ]; then
  cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSWELOX_BUILD_APP=OFF \
    -DSWELOX_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build-soak -j 2 --target swelox-cli >/dev/null
  cli=$PWD/build-soak/cli/swelox-cli
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/variants" "$work/files"

# The variants: small pictures of several kinds, and broken files.
v=$work/variants
photos=(examples/*.jpg)
k=0
for photo in "${photos[@]}"; do
  jpegtran -copy none -crop 96x64+$((k * 40))+8 -outfile "$v/good-crop$k.jpg" "$photo"
  jpegtran -copy none -crop 80x72+16+0 -progressive -outfile "$v/good-progressive$k.jpg" "$photo"
  k=$((k + 1))
done
djpeg -pnm "$v/good-crop0.jpg" | cjpeg -grayscale -outfile "$v/good-grey.jpg"
djpeg -pnm "$v/good-crop1.jpg" | cjpeg -arithmetic -outfile "$v/good-arithmetic.jpg"
djpeg -pnm "$v/good-crop2.jpg" | cjpeg -restart 1 -sample 1x1 -outfile "$v/good-restarts.jpg"
size=$(stat -c %s "$v/good-crop3.jpg")
head -c $((size * 2 / 3)) "$v/good-crop3.jpg" >"$v/good-truncated.jpg"
head -c 150 "$v/good-crop4.jpg" >"$v/bad-header-cut.jpg"
printf 'not a photograph\n' >"$v/bad-text.jpg"
: >"$v/bad-empty.jpg"
variants=("$v"/*.jpg)
# Two kinds that are not files at all, made per slot below.
kinds=${#variants[@]}
slots=$((kinds + 2))

# What each variant gives alone: its row without the name, or its message.
declare -A expected
for f in "${variants[@]}"; do
  name=$(basename "$f")
  if out=$("$cli" -k "$f" 2>"$work/err"); then
    expected[$name]=row:$(printf '%s\n' "$out" | sed -n 2p | cut -f1-7)
  else
    expected[$name]=error:$(sed "s|^swelox-cli: $f: ||" "$work/err")
  fi
  case "$name:${expected[$name]}" in
    good-*:row:* | bad-*:error:*) ;;
    *)
      echo "bench/soak.sh: $name gives '${expected[$name]}' on its own" >&2
      exit 1
      ;;
  esac
done

# Lays out n files (names and kinds in turn), the list, the expected output and messages.
make_run() {
  local n=$1 dir=$work/files/$1
  mkdir -p "$dir"
  : >"$dir.list"
  printf 'Width\tHeight\tBwide\tBhigh\tmeanDiff\tRMS\tnDiffs\tPic\n' >"$dir.out"
  : >"$dir.err"
  local i slot path name
  for ((i = 0; i < n; i++)); do
    slot=$((i % slots))
    if [ "$slot" -lt "$kinds" ]; then
      name=$(basename "${variants[$slot]}")
      path=$dir/$(printf '%06d' "$i")-$name
      cp "${variants[$slot]}" "$path"
      case "${expected[$name]}" in
        row:*) printf '%s\t%s\n' "${expected[$name]#row:}" "$(basename "$path")" >>"$dir.out" ;;
        error:*) printf 'swelox-cli: %s: %s\n' "$path" "${expected[$name]#error:}" >>"$dir.err" ;;
      esac
    elif [ "$slot" -eq "$kinds" ]; then
      path=$dir/$(printf '%06d' "$i")-missing.jpg
      printf 'swelox-cli: %s: Cannot open file "%s". No such file or directory.\n' "$path" \
        "$path" >>"$dir.err"
    else
      path=$dir/$(printf '%06d' "$i")-folder.jpg
      mkdir "$path"
      printf 'swelox-cli: %s: Cannot open file "%s". Is a directory.\n' "$path" "$path" \
        >>"$dir.err"
    fi
    printf '%s\n' "$path" >>"$dir.list"
  done
}

failed=0
declare -A peak
for n in "$count" $((count * 4)); do
  make_run "$n"
  dir=$work/files/$n
  status=0
  /usr/bin/time -f '%M %e' -o "$dir.time" "$cli" --keep-going --jobs 2 --files-from "$dir.list" \
    >"$dir.got" 2>"$dir.goterr" || status=$?
  read -r rss seconds < <(tail -n 1 "$dir.time")
  peak[$n]=$rss
  rows=$(($(wc -l <"$dir.out") - 1))
  messages=$(wc -l <"$dir.err")
  echo "$n files ($rows good, $messages bad): $seconds s, peak RSS $((rss / 1024)) MB"
  if [ "$status" -ne 1 ]; then
    echo "  FAIL: exit status $status, expected 1" >&2
    failed=1
  fi
  if ! cmp -s "$dir.out" "$dir.got"; then
    echo "  FAIL: the rows differ from those of the files alone:" >&2
    diff "$dir.out" "$dir.got" | head -n 10 >&2 || true
    failed=1
  fi
  if ! cmp -s "$dir.err" "$dir.goterr"; then
    echo "  FAIL: the messages differ:" >&2
    diff "$dir.err" "$dir.goterr" | head -n 10 >&2 || true
    failed=1
  fi
  rm -rf "$dir"
done

small=${peak[$count]} large=${peak[$((count * 4))]}
limit=$((small + small / 10 + 2048))
if [ "$large" -gt "$limit" ]; then
  echo "FAIL: peak RSS grows with the file count: $small kB for $count files," \
    "$large kB for $((count * 4)) (limit $limit kB)" >&2
  failed=1
else
  echo "Peak RSS: $small kB for $count files, $large kB for $((count * 4)) (limit $limit kB)"
fi
echo "Growth: $(((large - small) * 1024 / (count * 3))) bytes of peak RSS per extra file" \
  "(its path alone takes about 100)"
[ "$failed" -eq 0 ] && echo "Soak test passed"
exit "$failed"
