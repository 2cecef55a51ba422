#!/usr/bin/env bash
# Soak test of swelox-cli: thousands of small JPEG files mixed with broken ones, analysed with
# --keep-going --jobs 2, with COUNT files and with 4 x COUNT, each with 0, 8 and 31 repeats.
#
#   bench/soak.sh [COUNT]      (default 1500, so 1500 and 6000 files; a few minutes here)
#
# Every good file must have its row in every run, in order and equal to the row it gives alone;
# every bad one its message in every run, in order (and a truncated one its warning, once); the
# exit status must be 1 (some files failed);
# and for each number of repeats the peak resident memory of the 4 x COUNT run may exceed that of
# the COUNT run by at most 10 % + 2 MB: memory must not grow with the number of files, however
# many runs share each decode (the rows of the later runs wait in a temporary file). A table of
# peak RSS against file count and repeats ends the output. The files are made from the sample
# photos in examples/ (crops, progressive, greyscale, arithmetic coding, restart markers,
# truncated ones) and broken files of several kinds (not a JPEG, empty, cut inside the header,
# missing, a folder). The runs with repeats grow the rectangle by 10 % a run, so that no size
# overflows.
#
# swelox-cli is $SWELOX_CLI when set, otherwise it is built into build-soak/.
# Needs cmake and g++ (for the build), jpegtran, djpeg and cjpeg, awk, and /usr/bin/time.
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

repeat_counts=(0 8 31)
growth=(--width-increment 10 --height-increment 10)

# What each variant gives alone in every run: its rows without the name (one a line), or its
# message, in $work/expected/REPEATS/NAME; and the warning a good one gives once (a truncated
# file's), in NAME.warning.
for repeats in "${repeat_counts[@]}"; do
  mkdir -p "$work/expected/$repeats"
  for f in "${variants[@]}"; do
    name=$(basename "$f")
    out=$work/expected/$repeats/$name
    if "$cli" -k --repeats "$repeats" "${growth[@]}" "$f" >"$out.rows" 2>"$work/err"; then
      sed 1d "$out.rows" | cut -f1-7 >"$out"
      sed "s|^swelox-cli: $f: ||" "$work/err" >"$out.warning"
      kind=good
    else
      sed "s|^swelox-cli: $f: ||" "$work/err" >"$out"
      kind=bad
    fi
    lines=$(wc -l <"$out")
    case "$name:$kind" in
      good-*:good | bad-*:bad) ;;
      *)
        echo "bench/soak.sh: $name gives '$(head -n 1 "$out")' on its own" >&2
        exit 1
        ;;
    esac
    if [ "$kind" = good ] && [ "$lines" -ne $((repeats + 1)) ]; then
      echo "bench/soak.sh: $name gives $lines rows with $repeats repeats" >&2
      exit 1
    fi
  done
done

# Lays out n files (names and kinds in turn) and their list; the manifest says, a line each,
# which variant (or "missing", "folder") each path is.
make_files() {
  local n=$1 dir=$work/files/$1
  mkdir -p "$dir"
  : >"$dir.list"
  : >"$dir.manifest"
  local i slot path name
  for ((i = 0; i < n; i++)); do
    slot=$((i % slots))
    if [ "$slot" -lt "$kinds" ]; then
      name=$(basename "${variants[$slot]}")
      path=$dir/$(printf '%06d' "$i")-$name
      # Hard links: thousands of copies cost no disk and no copying time.
      ln "${variants[$slot]}" "$path"
    elif [ "$slot" -eq "$kinds" ]; then
      name=missing
      path=$dir/$(printf '%06d' "$i")-missing.jpg
    else
      name=folder
      path=$dir/$(printf '%06d' "$i")-folder.jpg
      mkdir "$path"
    fi
    printf '%s\n' "$path" >>"$dir.list"
    printf '%s\t%s\n' "$name" "$path" >>"$dir.manifest"
  done
}

# The expected output and messages of the files of $1 with $2 repeats: run after run, file after
# file.
expect() {
  local dir=$work/files/$1 repeats=$2
  awk -F '\t' -v runs=$((repeats + 1)) -v expected="$work/expected/$repeats" \
    -v out="$dir.out" -v err="$dir.err" '
    { name[NR] = $1; path[NR] = $2 }
    END {
      printf "Width\tHeight\tBwide\tBhigh\tmeanDiff\tRMS\tnDiffs\tPic\n" > out
      printf "" > err
      for (i = 1; i <= NR; i++) {
        n = name[i]
        if (n == "missing" || n == "folder" || n in lines) continue
        file = expected "/" n
        k = 0
        while ((getline line < file) > 0) lines[n, k++] = line
        close(file)
        lines[n] = k
        warning[n] = ""
        if ((getline line < (file ".warning")) > 0) warning[n] = line
        close(file ".warning")
      }
      for (run = 0; run < runs; run++) {
        for (i = 1; i <= NR; i++) {
          n = name[i]; p = path[i]
          base = p; sub(/.*\//, "", base)
          if (n == "missing") {
            printf "swelox-cli: %s: Cannot open file \"%s\". No such file or directory.\n", p, p > err
          } else if (n == "folder") {
            printf "swelox-cli: %s: Cannot open file \"%s\". Is a directory.\n", p, p > err
          } else if (n ~ /^good-/) {
            if (run == 0 && warning[n] != "") printf "swelox-cli: %s: %s\n", p, warning[n] > err
            printf "%s\t%s\n", lines[n, run], base > out
          } else {
            printf "swelox-cli: %s: %s\n", p, lines[n, 0] > err
          }
        }
      }
    }' "$dir.manifest"
}

failed=0
declare -A peak seconds_taken
for n in "$count" $((count * 4)); do
  make_files "$n"
  dir=$work/files/$n
  rows=0
  for repeats in "${repeat_counts[@]}"; do
    expect "$n" "$repeats"
    status=0
    /usr/bin/time -f '%M %e' -o "$dir.time" "$cli" --keep-going --jobs 2 --repeats "$repeats" \
      "${growth[@]}" --files-from "$dir.list" >"$dir.got" 2>"$dir.goterr" || status=$?
    read -r rss seconds < <(tail -n 1 "$dir.time")
    peak[$n,$repeats]=$rss
    seconds_taken[$n,$repeats]=$seconds
    rows=$(($(wc -l <"$dir.out") - 1))
    messages=$(wc -l <"$dir.err")
    echo "$n files, $repeats repeats ($rows rows, $messages messages): $seconds s," \
      "peak RSS $((rss / 1024)) MB"
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
  done
  rm -rf "$dir" "$dir".*
done

echo
printf '%8s  %s\n' "files" "peak RSS in kB (seconds) with repeats: ${repeat_counts[*]}"
for n in "$count" $((count * 4)); do
  line=$(printf '%8s ' "$n")
  for repeats in "${repeat_counts[@]}"; do
    line+=$(printf ' %8s (%5s)' "${peak[$n,$repeats]}" "${seconds_taken[$n,$repeats]}")
  done
  echo "$line"
done
for repeats in "${repeat_counts[@]}"; do
  small=${peak[$count,$repeats]} large=${peak[$((count * 4)),$repeats]}
  limit=$((small + small / 10 + 2048))
  growth_per_file=$(((large - small) * 1024 / (count * 3)))
  if [ "$large" -gt "$limit" ]; then
    echo "FAIL: with $repeats repeats peak RSS grows with the file count: $small kB for $count" \
      "files, $large kB for $((count * 4)) (limit $limit kB)" >&2
    failed=1
  else
    echo "$repeats repeats: $growth_per_file bytes of peak RSS per extra file (limit $limit kB;" \
      "a path alone takes about 100)"
  fi
done
[ "$failed" -eq 0 ] && echo "Soak test passed"
exit "$failed"
