#!/bin/sh
# Makes docs/picture-view.png and docs/day-chart.png: the sample photos copied with the capture
# times of a morning's survey (exiftool), run twice in the window, the view zoomed in on a region of
# the first and the chart of the run.   tools/view-pictures.sh [BUILD-DIR]
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set -- infinite-sea.jpg "2026:06:14 07:10:00" darkest-hour-lake.jpg "2026:06:14 08:25:00" \
  by-the-water.jpg "2026:06:14 09:40:00" evening-glow-lake.jpg "2026:06:14 11:05:00" \
  summer-night-lake.jpg "2026:06:14 12:30:00"
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
# The photos are named from the survey's folder, as an observer would keep them.
day=2026-06-14
mkdir -p "$work/$day" "$work/out"
photos=""
while [ $# -gt 0 ]; do
  cp "$root/examples/$1" "$work/$day/$1"
  exiftool -q -overwrite_original "-DateTimeOriginal=$2" "$work/$day/$1"
  photos="$photos $day/$1"
  shift 2
done
cd "$work"
# shellcheck disable=SC2086
QT_QPA_PLATFORM=offscreen "$build/tools/swelox_ViewPictures" out 1000x300+1500+400 15 12 $photos
cp "$work/out/picture-view.png" "$work/out/day-chart.png" "$root/docs/"
