#!/usr/bin/env bash
# Times swelox-cli against libjpeg's own decoder on the same photographs, and measures its peak
# memory.
#
#   bench/run.sh [--quick] [--check] [--runs N] [--inputs DIR] [PHOTO...]
#
# The inputs are made from PHOTO... (default: the sample photos in examples/), scaled with
# djpeg, ImageMagick's convert and cjpeg -quality 90: one 12 and one 24 megapixel baseline photo,
# 8 distinct 12 megapixel photos (other sources, mirrored, cropped), baseline photos of 12, 24
# and 50 megapixels (8640x5760, a 16000x3125 panorama and, with netpbm's pnmtile, a 65500x763
# one) and progressive twins of the 12 and 50 megapixel 3:2 photos, and a mixed folder as a survey
# leaves it: 200 small crops (0.3 megapixels) with the 12 megapixel photo every 40 files. The first
# PHOTO is the source of the single photos.
# In the same run it times `djpeg -dct float -outfile /dev/null FILE` and swelox-cli (also with
# --region: a centred quarter and a full-width band a quarter high of the 12 megapixel photo) with
# hyperfine, prints each ratio next to its target, then the peak resident memory of
# swelox-cli --jobs 1, with and without --repeats 4 (/usr/bin/time -v), next to its bound, and
# checks that --jobs 1 and --jobs 2 print byte-identical output on every input. It also times
# --sort=time over 1,000 photos with capture times (exiftool writes them), against the same
# command without the sort, and runs bench/watch.cpp (the window's watch, offscreen: a 12 MP
# photo's row shown after its close, event-loop stalls and memory over 10,000 arrivals, the
# chart's answer to the pointer; $SWELOX_WATCH_BENCH, or built into $SWELOX_BENCH_APP_BUILD,
# default build-bench-app/) and bench/view.cpp (the picture view: opening a photo, Page Down and a
# relayout to 1 x 1 against djpeg; $SWELOX_VIEW_BENCH, or built into the same tree).
#
#   --quick       small inputs and few runs: a smoke test that finishes in seconds; its timings
#                 are shown but not judged
#   --check       exit with status 1 when a target is missed (output that differs between
#                 --jobs 1 and --jobs 2 always does)
#   --runs N      timed runs of each command (default 20 in 5 interleaved rounds, each after a
#                 warm-up run; quick: 5 in one round)
#   --inputs DIR  make the inputs in DIR and keep them for the next run with the same photos
#                 (default: a temporary folder, removed at the end)
#
# swelox-cli is $SWELOX_CLI when set, otherwise it is built into $SWELOX_BENCH_BUILD (default
# build-bench/, RelWithDebInfo like the ordinary build).
#
# Exit status: 0 when all is well, 1 for a missed target (with --check) or differing output,
# 2 for a usage error or a missing tool.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"

quick=0
check=0
runs=""
inputs=""
sources=()
usage() {
  echo "usage: $(sed -n '5p' "$0" | sed 's/^# *//')" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --check) check=1 ;;
    --runs)
      [ $# -ge 2 ] || usage
      runs="$2"
      shift
      ;;
    --inputs)
      [ $# -ge 2 ] || usage
      inputs="$2"
      shift
      ;;
    -h | --help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) usage ;;
    *) sources+=("$(realpath "$1")") ;;
  esac
  shift
done
if [ -n "$runs" ] && ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then usage; fi
[ -n "$runs" ] || runs=$((quick ? 5 : 20))
rounds=$((quick ? 1 : 5))
[ "$rounds" -le "$runs" ] || rounds=$runs
runs_per_round=$(((runs + rounds - 1) / rounds))
runs=$((runs_per_round * rounds))
if [ ${#sources[@]} -eq 0 ]; then
  # The widest sample first: it makes the single photos.
  sources=("$root/examples/infinite-sea.jpg")
  for f in "$root"/examples/*.jpg; do
    [ "$f" = "${sources[0]}" ] || sources+=("$f")
  done
fi
for f in "${sources[@]}"; do
  [ -f "$f" ] || { echo "bench: no such photo: $f" >&2; exit 2; }
done

missing=()
for tool in djpeg cjpeg jpegtran convert identify hyperfine cmake exiftool perl; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -x /usr/bin/time ] || missing+=("/usr/bin/time")
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench: missing ${missing[*]}" \
    "(Debian packages: libjpeg-turbo-progs imagemagick hyperfine time cmake" \
    "libimage-exiftool-perl)" >&2
  exit 2
fi

# --- swelox-cli ----------------------------------------------------------------------------------
if [ -n "${SWELOX_CLI:-}" ]; then
  cli="$(realpath "$SWELOX_CLI")"
else
  build="${SWELOX_BENCH_BUILD:-$root/build-bench}"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSWELOX_BUILD_APP=OFF \
      -DBUILD_TESTING=OFF >/dev/null
  fi
  cmake --build "$build" -j "$(nproc)" --target swelox-cli >/dev/null
  cli="$build/cli/swelox-cli"
fi
[ -x "$cli" ] || { echo "bench: no swelox-cli at $cli" >&2; exit 2; }

# --- inputs --------------------------------------------------------------------------------------
if [ -n "$inputs" ]; then
  mkdir -p "$inputs"
  work="$(realpath "$inputs")"
  # Inputs made from other sources are made again.
  stamp="$(printf '%s\n' "${sources[@]}")"
  if [ "$(cat "$work/sources.txt" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$work"/*.jpg
    printf '%s\n' "$stamp" >"$work/sources.txt"
  fi
  rm -f "$work"/*.part
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/swelox-bench.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
fi

# make_photo OUT SOURCE WIDTH HEIGHT [CONVERT-OPTION...]: SOURCE transformed, then stretched to
# exactly WIDTH x HEIGHT, as a baseline JPEG of quality 90.
make_photo() {
  local out="$1" source="$2" width="$3" height="$4"
  shift 4
  if [ -f "$out" ] && [ "$out" -nt "$source" ]; then return; fi
  djpeg -ppm "$source" | convert ppm:- "$@" -resize "${width}x${height}!" ppm:- |
    cjpeg -quality 90 >"$out.part" || { echo "bench: could not make $out" >&2; exit 2; }
  mv "$out.part" "$out"
}
# make_progressive OUT BASELINE: the same coefficients, in progressive scans.
make_progressive() {
  if [ -f "$1" ] && [ "$1" -nt "$2" ]; then return; fi
  jpegtran -progressive -copy none "$2" >"$1.part" ||
    { echo "bench: could not make $1" >&2; exit 2; }
  mv "$1.part" "$1"
}

if [ $quick -eq 1 ]; then
  single=(1600 1200) large=(2400 1800) many=(1024 768) crop=(200 150)
  memory_sizes=("1600 1200" "4000 3000")
else
  single=(4000 3000) large=(6000 4000) many=(4000 3000) crop=(640 480)
  memory_sizes=("4000 3000" "6000 4000" "8640 5760" "16000 3125")
fi
megapixels() { awk -v w="$1" -v h="$2" 'BEGIN { printf "%.1f MP", w * h / 1e6 }'; }

echo "Making the inputs in $work ..." >&2
photo_single="$work/single-${single[0]}x${single[1]}.jpg"
photo_large="$work/single-${large[0]}x${large[1]}.jpg"
make_photo "$photo_single" "${sources[0]}" "${single[@]}"
make_photo "$photo_large" "${sources[0]}" "${large[@]}"
# make_variants NAME WIDTH HEIGHT: eight distinct photos of that size, every source in turn, then
# again mirrored, flipped, cropped; their paths into $made.
variants=("" "-flop" "-flip" "-flip -flop" "-gravity West -crop 75%x100%+0+0 +repage"
  "-gravity East -crop 75%x100%+0+0 -flop +repage" "-gravity North -crop 100%x75%+0+0 +repage"
  "-gravity South -crop 100%x75%+0+0 -flip +repage")
make_variants() {
  local name="$1" width="$2" height="$3" i n=${#sources[@]} out
  made=()
  for i in 0 1 2 3 4 5 6 7; do
    out="$work/$name$i-${width}x${height}.jpg"
    # shellcheck disable=SC2086 # the variant is a list of convert options
    make_photo "$out" "${sources[i % n]}" "$width" "$height" ${variants[(i / n) % 8]}
    made+=("$out")
  done
}
make_variants many "${many[@]}"
photos_many=("${made[@]}")
# The mixed folder: the eight crops in turn, the single photo at every 40th place.
make_variants crop "${crop[@]}"
photos_mixed=()
for i in $(seq 0 199); do
  if [ $((i % 40)) -eq 0 ]; then
    photos_mixed+=("$photo_single")
  else
    photos_mixed+=("${made[i % 8]}")
  fi
done
photos_memory=()
for size in "${memory_sizes[@]}"; do
  read -r w h <<<"$size"
  out="$work/memory-${w}x${h}.jpg"
  make_photo "$out" "${sources[0]}" "$w" "$h"
  photos_memory+=("$out")
done
# The widest picture libjpeg writes, 65500 pixels, at 50 megapixels: ImageMagick's usual limits
# stop at 16384 pixels a side, so netpbm's pnmtile repeats a narrower one, where it is installed.
if [ $quick -eq 0 ] && command -v pnmtile >/dev/null; then
  out="$work/memory-65500x763.jpg"
  if ! [ -f "$out" ] || ! [ "$out" -nt "${sources[0]}" ]; then
    djpeg -ppm "${sources[0]}" | convert ppm:- -resize 2700x763! ppm:- | pnmtile 65500 763 |
      cjpeg -quality 90 >"$out.part" || { echo "bench: could not make $out" >&2; exit 2; }
    mv "$out.part" "$out"
  fi
  photos_memory+=("$out")
fi
# Progressive twins of the smallest and of the largest 3:2 photo.
photos_progressive=()
for base in "${photos_memory[0]}" "${photos_memory[$((quick ? 1 : 2))]}"; do
  out="${base%.jpg}-progressive.jpg"
  make_progressive "$out" "$base"
  photos_progressive+=("$out")
done

# --- helpers -------------------------------------------------------------------------------------
failures=0
missed=0
# judge VALUE OP LIMIT: the verdict into $verdict, and a miss counted (in this shell, so never
# inside a command substitution).
judge() {
  if [ $quick -eq 1 ]; then
    verdict="(quick)"
  elif awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN { exit !(op == "<=" ? v <= l : v >= l) }'; then
    verdict="ok"
  else
    missed=$((missed + 1))
    verdict="MISSED"
  fi
}

# A command line for hyperfine, which splits it as a shell would.
quote() { printf '%q ' "$@"; }
# time_commands NAME COMMAND...: the commands timed by hyperfine in rounds, each round running
# every command in turn, so that a change of load on the machine falls on all of them alike.
# Leaves per command, in order, one line of pooled figures in $work/NAME.stats: the mean, the
# standard deviation and the median of the wall times, and the mean user + system time, all in ms.
time_commands() {
  local name="$1" round
  shift
  rm -f "$work/$name".*.json
  for round in $(seq 1 "$rounds"); do
    hyperfine -N --style basic --warmup 1 --runs "$runs_per_round" \
      --export-json "$work/$name.$round.json" "$@" >"$work/$name.log" 2>&1 || {
      cat "$work/$name.log" >&2
      echo "bench: hyperfine failed" >&2
      exit 2
    }
  done
  awk '
    FNR == 1 { k = 0 }
    /"command":/ { ++k; if (k > commands) commands = k }
    /"user":/ { gsub(/[^0-9.e-]/, "", $2); cpu[k] += $2; ++rounds[k] }
    /"system":/ { gsub(/[^0-9.e-]/, "", $2); cpu[k] += $2 }
    /"times":/ { within = 1; next }
    within && /\]/ { within = 0 }
    within { gsub(/[ ,]/, ""); t[k, n[k]++] = $0 * 1000 }
    END {
      for (k = 1; k <= commands; ++k) {
        sum = 0; for (i = 0; i < n[k]; ++i) { v[i] = t[k, i]; sum += v[i] }
        mean = sum / n[k]; sq = 0
        for (i = 0; i < n[k]; ++i) sq += (v[i] - mean) ^ 2
        sd = n[k] > 1 ? sqrt(sq / (n[k] - 1)) : 0
        for (i = 1; i < n[k]; ++i) {  # insertion sort, for the median
          x = v[i]; for (j = i - 1; j >= 0 && v[j] > x; --j) v[j + 1] = v[j]; v[j + 1] = x
        }
        median = n[k] % 2 ? v[(n[k] - 1) / 2] : (v[n[k] / 2 - 1] + v[n[k] / 2]) / 2
        printf "%.4f %.4f %.4f %.4f\n", mean, sd, median, cpu[k] / rounds[k] * 1000
      }
    }' "$work/$name".*.json >"$work/$name.stats"
}
# figure NAME COMMAND-NUMBER FIELD (1 mean, 2 standard deviation, 3 median, 4 CPU time)
figure() { awk -v row="$2" -v col="$3" 'NR == row { print $col }' "$work/$1.stats"; }
ms() { awk -v m="$1" -v s="$2" 'BEGIN { printf "%7.1f ± %5.1f", m, s }'; }
# ratio A SA B SB: A / B with its spread, from the two relative spreads.
ratio() {
  awk -v a="$1" -v sa="$2" -v b="$3" -v sb="$4" 'BEGIN {
    r = a / b; printf "%.3f %.3f", r, r * sqrt((sa / a) ^ 2 + (sb / b) ^ 2) }'
}
peak_kib() {  # peak_kib COMMAND...: the maximum resident set size in KiB
  local log="$work/time.log"
  /usr/bin/time -v -o "$log" "$@" >/dev/null || { echo "bench: failed: $*" >&2; exit 2; }
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$log"
}
# coefficient_store FILE: the bytes of libjpeg's whole-picture coefficient arrays, a 128-byte block
# per 8x8 of each component, every component padded to whole MCUs, from the frame header.
coefficient_store() {
  head -c 1048576 "$1" | od -An -v -tu1 | awk '
    { for (i = 1; i <= NF; ++i) b[n++] = $i }
    END {
      p = 2
      while (p + 3 < n && b[p] == 255) {
        m = b[p + 1]; len = b[p + 2] * 256 + b[p + 3]
        if (m >= 192 && m <= 207 && m != 196 && m != 200 && m != 204) {
          h = b[p + 5] * 256 + b[p + 6]; w = b[p + 7] * 256 + b[p + 8]; nc = b[p + 9]
          hmax = vmax = 1
          for (c = 0; c < nc; ++c) {
            hs[c] = int(b[p + 11 + 3 * c] / 16); vs[c] = b[p + 11 + 3 * c] % 16
            if (hs[c] > hmax) hmax = hs[c]; if (vs[c] > vmax) vmax = vs[c]
          }
          total = 0
          for (c = 0; c < nc; ++c) {
            bw = up(w * hs[c] / (8 * hmax)); bh = up(h * vs[c] / (8 * vmax))
            total += up(bw / hs[c]) * hs[c] * up(bh / vs[c]) * vs[c] * 128
          }
          printf "%d\n", total; exit
        }
        p += 2 + len
      }
      print 0
    }
    function up(x) { return x == int(x) ? x : int(x) + 1 }'
}
mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# The processors' busy and total time so far, in clock ticks, from the first line of /proc/stat
# (cpu user nice system idle iowait irq softirq steal ...; idle and iowait are the unused time).
processor_ticks() {
  local fields
  read -r -a fields </proc/stat
  awk -v f="${fields[*]:1:8}" 'BEGIN {
    n = split(f, x, " ")
    for (i = 1; i <= n; ++i) { total += x[i]; if (i != 4 && i != 5) busy += x[i] }
    printf "%d %d\n", busy, total }'
}
# The processor time of this script's finished children, in seconds, into $children (`times`
# must run in this shell: a subshell's children are others).
children_seconds() {
  times >"$work/times.txt"
  children="$(awk 'NR == 2 { gsub(/s/, ""); split($1, u, "m"); split($2, s, "m")
    printf "%.3f\n", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$work/times.txt")"
}
# others_percent BUSY0 TOTAL0 CHILDREN0: the share of the processors that other programs used
# since then, all the busy time less this script's own, into $others.
others_percent() {
  local busy total
  read -r busy total <<<"$(processor_ticks)"
  children_seconds
  others="$(awk -v b="$((busy - $1))" -v t="$((total - $2))" -v c1="$children" -v c0="$3" \
    -v hz="$(getconf CLK_TCK)" 'BEGIN {
      o = t > 0 ? 100 * (b - (c1 - c0) * hz) / t : 0; printf "%.0f", (o < 0 ? 0 : o) }')"
}
read -r busy0 total0 <<<"$(processor_ticks)"
children_seconds
children0="$children"
sleep 1
others_percent "$busy0" "$total0" "$children0"
before="$others"
echo "Timing ($rounds rounds of $runs_per_round runs after a warm-up; others used $before% of" \
  "the processors just before) ..." >&2
read -r busy0 total0 <<<"$(processor_ticks)"
children_seconds
children0="$children"

# --- timings -------------------------------------------------------------------------------------
decode=(djpeg -dct float -outfile /dev/null)
declare -a rows_time
for photo in "$photo_single" "$photo_large"; do
  name="time-$(basename "$photo" .jpg)"
  time_commands "$name" "$(quote "${decode[@]}" "$photo")" "$(quote "$cli" --jobs 1 "$photo")" \
    "$(quote "$cli" --jobs 1 --repeats 4 "$photo")"
  read -r w h <<<"$(identify -ping -format '%w %h' "$photo")"
  label="$(megapixels "$w" "$h") (${w}x${h})"
  dm="$(figure "$name" 1 1)" ds="$(figure "$name" 1 2)" dmed="$(figure "$name" 1 3)"
  for row in 2 3; do
    sm="$(figure "$name" $row 1)" ss="$(figure "$name" $row 2)" smed="$(figure "$name" $row 3)"
    read -r r rs <<<"$(ratio "$sm" "$ss" "$dm" "$ds")"
    rmed="$(awk -v a="$smed" -v b="$dmed" 'BEGIN { printf "%.3f", a / b }')"
    if [ $row -eq 2 ]; then what="--jobs 1" limit=1.15; else what="--repeats 4" limit=1.30; fi
    judge "$r" "<=" "$limit"
    rows_time+=("$(printf '%-34s %s  %s  %6.3f ± %5.3f  %6s  <= %.2f  %s' "$label $what" \
      "$(ms "$dm" "$ds")" "$(ms "$sm" "$ss")" "$r" "$rs" "$rmed" "$limit" "$verdict")")
  done
done

# Regions of the 12 megapixel photo: a centred quarter and a full-width band a quarter of its
# height, with djpeg -crop of the same regions timed alongside for comparison (not judged).
read -r w h <<<"$(identify -ping -format '%w %h' "$photo_single")"
region_quarter="$((w / 2))x$((h / 2))+$((w / 4))+$((h / 4))"
region_band="${w}x$((h / 4))+0+$((h * 3 / 8))"
time_commands time-regions "$(quote "${decode[@]}" "$photo_single")" \
  "$(quote "$cli" --jobs 1 --region "$region_quarter" "$photo_single")" \
  "$(quote "$cli" --jobs 1 --region "$region_band" "$photo_single")" \
  "$(quote "${decode[@]}" -crop "$region_quarter" "$photo_single")" \
  "$(quote "${decode[@]}" -crop "$region_band" "$photo_single")"
dm="$(figure time-regions 1 1)" ds="$(figure time-regions 1 2)" dmed="$(figure time-regions 1 3)"
for row in 2 3; do
  sm="$(figure time-regions $row 1)" ss="$(figure time-regions $row 2)"
  read -r r rs <<<"$(ratio "$sm" "$ss" "$dm" "$ds")"
  rmed="$(awk -v a="$(figure time-regions $row 3)" -v b="$dmed" 'BEGIN { printf "%.3f", a / b }')"
  crop="$(awk -v a="$(figure time-regions $((row + 2)) 1)" -v b="$dm" 'BEGIN { printf "%.2f", a / b }')"
  if [ $row -eq 2 ]; then what="--region $region_quarter" limit=0.60; else
    what="--region $region_band" limit=0.45; fi
  judge "$r" "<=" "$limit"
  rows_time+=("$(printf '%-34s %s  %s  %6.3f ± %5.3f  %6s  <= %.2f  %s (djpeg -crop: %s)' \
    "$what" "$(ms "$dm" "$ds")" "$(ms "$sm" "$ss")" "$r" "$rs" "$rmed" "$limit" "$verdict" \
    "$crop")")
done

# time_speedup NAME TARGET LABEL FILE...: --jobs 1 against --jobs 2 over the files, judged against
# TARGET; the table row into $speedup_row, the mean time with --jobs 2 into $speedup_m2.
time_speedup() {
  local name="$1" target="$2" label="$3" m1 s1 m2 s2 speedup speedup_s speedup_med
  shift 3
  time_commands "$name" "$(quote "$cli" --jobs 1 "$@")" "$(quote "$cli" --jobs 2 "$@")"
  m1="$(figure "$name" 1 1)" s1="$(figure "$name" 1 2)"
  m2="$(figure "$name" 2 1)" s2="$(figure "$name" 2 2)"
  read -r speedup speedup_s <<<"$(ratio "$m1" "$s1" "$m2" "$s2")"
  speedup_med="$(awk -v a="$(figure "$name" 1 3)" -v b="$(figure "$name" 2 3)" \
    'BEGIN { printf "%.3f", a / b }')"
  judge "$speedup" ">=" "$target"
  speedup_row="$(printf '%-34s %s  %s  %6.3f ± %5.3f  %6s  >= %.2f  %s' "$label" \
    "$(ms "$m1" "$s1")" "$(ms "$m2" "$s2")" "$speedup" "$speedup_s" "$speedup_med" "$target" \
    "$verdict")"
  speedup_m2="$m2"
}
time_speedup time-mixed 1.6 "mixed: 200 files, 5 of $(megapixels "${single[@]}")" \
  "${photos_mixed[@]}"
row_mixed="$speedup_row"
time_speedup time-many 1.8 "8 x $(megapixels "${many[@]}"), --jobs 2" "${photos_many[@]}"
row_many="$speedup_row"
m2="$speedup_m2"
# Processor time over wall time: near 1 with --jobs 2 means that other programs left one core.
row_cpu="$(awk -v a="$(figure time-many 1 4)" -v b="$(figure time-many 2 4)" -v w="$m2" 'BEGIN {
  printf "CPU time (user + system): %.1f ms with --jobs 1, %.1f ms with --jobs 2", a, b
  printf " (%.2f cores busy)", b / w }')"

# Ordering by capture time: a survey's 1,000 photos (a crop of the mixed folder, each with an EXIF block
# as a camera writes it, a thumbnail included, and a time of its own), listed neither by name nor by
# time. --repeats=-1 makes no run, so the program reads each photo's header up to its first scan,
# sorts and ends: the time is the sort's, with the program's start, which the same command without
# --sort measures alone. djpeg on one of the photos gives the cost of a decode beside it.
sorted_dir="$work/sort"
mkdir -p "$sorted_dir"
if [ ! -f "$sorted_dir/list.txt" ]; then
  djpeg -ppm "$photo_single" | convert ppm:- -resize 160x120 ppm:- | cjpeg >"$sorted_dir/thumb.jpg"
  cp "${photos_mixed[1]}" "$sorted_dir/template.jpg"
  exiftool -q -n -overwrite_original -DateTimeOriginal='2026:07:14 00:00:00' \
    -SubSecTimeOriginal=000 -OffsetTimeOriginal=+01:00 -Make=Swelox -Model=Bench \
    "-ThumbnailImage<=$sorted_dir/thumb.jpg" "$sorted_dir/template.jpg"
  (cd "$sorted_dir" && perl -e '
    open my $in, "<:raw", "template.jpg" or die; local $/; my $jpeg = <$in>;
    srand(7);
    for my $i (0 .. 999) {
      my $s = int(rand(86400));
      my $time = sprintf("2026:07:14 %02d:%02d:%02d", $s / 3600, ($s / 60) % 60, $s % 60);
      (my $out = $jpeg) =~ s/2026:07:14 00:00:00/$time/ or die "no date";
      my $name = sprintf("IMG_%d.jpg", ($i * 7919) % 1000);
      open my $f, ">:raw", $name or die; print $f $out; close $f; print "$name\n";
    }' >list.txt.part && mv list.txt.part list.txt)
fi
time_commands sort "$(quote "${decode[@]}" "$sorted_dir/IMG_0.jpg")" \
  "$(quote "$cli" --repeats=-1 --sort=time --files-from "$sorted_dir/list.txt")" \
  "$(quote "$cli" --repeats=-1 --files-from "$sorted_dir/list.txt")"
read -r sort_m sort_s <<<"$(awk -v a="$(figure sort 2 1)" -v sa="$(figure sort 2 2)" \
  -v b="$(figure sort 3 1)" -v sb="$(figure sort 3 2)" \
  'BEGIN { printf "%.3f %.3f", a - b, sqrt(sa * sa + sb * sb) }')"
judge "$sort_m" "<=" 500
row_sort="$(printf '%-34s %s  %s  %s  <= 500 ms  %s' "sort 1000 photos by time, ms" \
  "$(ms "$(figure sort 2 1)" "$(figure sort 2 2)")" "$(ms "$(figure sort 3 1)" "$(figure sort 3 2)")" \
  "$(ms "$sort_m" "$sort_s")" "$verdict")"
row_sort_ratio="$(awk -v s="$sort_m" -v d="$(figure sort 1 1)" 'BEGIN {
  printf "(a header read costs %.3f of a djpeg decode of the same photo: %.3f ms against %.2f ms)",
    s / 1000 / d, s / 1000, d }')"

others_percent "$busy0" "$total0" "$children0"
during="$others"

# --- memory --------------------------------------------------------------------------------------
echo "Measuring peak memory ..." >&2
declare -a rows_memory
for photo in "${photos_memory[@]}" "${photos_progressive[@]}"; do
  size="$(stat -c %s "$photo")"
  read -r w h <<<"$(identify -ping -format '%w %h' "$photo")"
  store=0
  kind="baseline"
  case "$photo" in
    *-progressive.jpg)
      store="$(coefficient_store "$photo")"
      kind="progressive"
      ;;
  esac
  bound=$((size + store + 16 * 1048576))
  plain="$(peak_kib "$cli" --jobs 1 "$photo")"
  repeats="$(peak_kib "$cli" --jobs 1 --repeats 4 "$photo")"
  worst=$((plain > repeats ? plain : repeats))
  if [ $((worst * 1024)) -le $bound ]; then verdict=ok; else verdict=MISSED; fi
  [ $verdict = ok ] || missed=$((missed + 1))
  rows_memory+=("$(printf '%-30s %-11s %8s %8s %8s %8s %8s  %s' \
    "$(megapixels "$w" "$h") (${w}x${h})" "$kind" "$(mib "$size")" "$(mib "$store")" \
    "$(mib $((plain * 1024)))" "$(mib $((repeats * 1024)))" "$(mib "$bound")" "$verdict")")
done

# --- identical output ----------------------------------------------------------------------------
echo "Comparing --jobs 1 with --jobs 2 ..." >&2
all=("$photo_single" "$photo_large" "${photos_many[@]}" "${photos_memory[@]}"
  "${photos_progressive[@]}")
identical="identical"
rows_compared=0
for options in "--repeats 4" "--repeats 4 --right" \
  "--width 7 --height 5 --repeats 2 --width-increment 50"; do
  status1=0 status2=0
  # shellcheck disable=SC2086 # the options are a list
  "$cli" --jobs 1 $options "${all[@]}" >"$work/jobs1.txt" || status1=$?
  # shellcheck disable=SC2086
  "$cli" --jobs 2 $options "${all[@]}" >"$work/jobs2.txt" || status2=$?
  if [ $status1 -ne $status2 ] || ! cmp -s "$work/jobs1.txt" "$work/jobs2.txt"; then
    [ "$identical" = identical ] && identical="DIFFERENT with:" || identical+=";"
    identical+=" $options"
    failures=$((failures + 1))
  fi
  rows_compared=$((rows_compared + $(wc -l <"$work/jobs1.txt") - 1))
done

# --- the window's watch --------------------------------------------------------------------------
# bench/watch.cpp, with the window offscreen; built with the window in a tree of its own.
watch_report=""
if [ -n "${SWELOX_WATCH_BENCH:-}" ]; then
  watch_bench="$(realpath "$SWELOX_WATCH_BENCH")"
else
  app_build="${SWELOX_BENCH_APP_BUILD:-$root/build-bench-app}"
  watch_bench="$app_build/bench/swelox_watch_bench"
  if [ ! -f "$app_build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$app_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      >/dev/null 2>&1 || true
  fi
  cmake --build "$app_build" -j "$(nproc)" --target swelox_watch_bench >/dev/null 2>&1 || true
fi
if [ -x "$watch_bench" ]; then
  echo "Watching a folder in the window ..." >&2
  # The large photos are the single photo of the timings (12 MP; quick: 2 MP).
  if [ $quick -eq 1 ]; then
    watch_options=(--arrivals 500 --large 2 --photo "$photo_single")
  else
    watch_options=(--arrivals 10000 --large 5 --photo "$photo_single")
  fi
  if watch_report="$(QT_QPA_PLATFORM=offscreen "$watch_bench" "${watch_options[@]}")"; then
    if [ $quick -eq 0 ] && grep -q MISSED <<<"$watch_report"; then missed=$((missed + 1)); fi
  else
    watch_report="the watch bench failed (see above)"
    failures=$((failures + 1))
  fi
else
  watch_report="no swelox_watch_bench (the window needs Qt 6): the watch is not measured"
fi

# --- summary -------------------------------------------------------------------------------------
echo
echo "swelox-cli $("$cli" --version | head -n 1 | awk '{ print $NF }') against djpeg -dct float:" \
  "$runs runs of each command in $rounds rounds; $(nproc) cores, of which other programs used" \
  "$before% just before and $during% during the timings"
[ $quick -eq 0 ] || echo "Quick mode: small photos and few runs; the timings are not judged."
if [ "$before" -gt 10 ] || [ "$during" -gt 10 ]; then
  echo "Other programs kept the processors busy: expect noisy ratios, and run again."
fi
echo
# (± and σ take two bytes each, and printf counts bytes)
printf '%-36s %15s  %15s  %14s  %6s  %s\n' "time, ms (mean ± σ)" "djpeg" "swelox-cli" "ratio" \
  "median" "target"
for row in "${rows_time[@]}"; do echo "$row"; done
printf '%-34s %15s  %15s  %14s  %6s  %s\n' "" "--jobs 1" "--jobs 2" "speedup" "median" "target"
echo "$row_many"
echo "$row_mixed"
echo "$row_cpu"
echo "(ratio: of the means, ± from both spreads; median: the ratio of the medians)"
echo
printf '%-34s %15s  %15s  %15s  %s\n' "" "--sort=time" "no sort" "sort alone" "target"
echo "$row_sort"
echo "$row_sort_ratio"
echo
printf '%-30s %-11s %8s %8s %8s %8s %8s\n' "peak RSS, --jobs 1 (MiB)" "" "file" "coeffs" \
  "plain" "rep. 4" "bound"
for row in "${rows_memory[@]}"; do echo "$row"; done
echo "(bound: file size + libjpeg's coefficient store, for a progressive file + 16 MiB)"
echo
echo "--jobs 1 and --jobs 2 output: $identical (${#all[@]} files, 3 settings, $rows_compared rows)"
echo
echo "$watch_report"

# --- the picture view ----------------------------------------------------------------------------
# bench/view.cpp, offscreen, built in the watch's tree: open, Page Down and the relayout to 1 x 1
# against djpeg, on the 12 megapixel photo (quick: a small photo of its own).
if [ -n "${SWELOX_VIEW_BENCH:-}" ]; then
  view_bench="$(realpath "$SWELOX_VIEW_BENCH")"
else
  app_build="${SWELOX_BENCH_APP_BUILD:-$root/build-bench-app}"
  view_bench="$app_build/bench/swelox_view_bench"
  cmake --build "$app_build" -j "$(nproc)" --target swelox_view_bench >/dev/null 2>&1 || true
fi
echo
if [ -x "$view_bench" ]; then
  echo "Timing the picture view ..." >&2
  if [ $quick -eq 1 ]; then view_args=(--quick); else view_args=("$photo_single"); fi
  view_status=0
  QT_QPA_PLATFORM=offscreen "$view_bench" "${view_args[@]}" >"$work/view.txt" 2>/dev/null ||
    view_status=$?
  cat "$work/view.txt"
  if [ $view_status -ne 0 ]; then
    echo "the picture view's benchmark failed (status $view_status)"
    failures=$((failures + 1))
  elif [ $quick -eq 0 ]; then
    missed=$((missed + $(grep -c MISSED "$work/view.txt" || true)))
  fi
else
  echo "no swelox_view_bench (the window needs Qt 6): the picture view is not measured"
fi

if [ $failures -gt 0 ]; then exit 1; fi
if [ $check -eq 1 ] && [ $missed -gt 0 ]; then
  echo "$missed target(s) missed" >&2
  exit 1
fi
exit 0
