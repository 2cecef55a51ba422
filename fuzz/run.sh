#!/usr/bin/env bash
# Builds the fuzz target with clang into build-fuzz/ and runs it.
#
#   fuzz/run.sh SECONDS    every saved input once (a regression run), then SECONDS of fuzzing
#   fuzz/run.sh --regress  the saved inputs only
#   fuzz/run.sh --merge    adds the new inputs that reach new code to the saved corpus
#
# Saved inputs: fuzz/corpus/ (seeds from fuzz/make_corpus.sh, plus merged finds) and
# fuzz/regressions/ (inputs that once failed). New inputs collect in fuzz/corpus-new/, which is
# not committed; a failing input is written to build-fuzz/crashes/ and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
swelox_install_missing

usage() {
  echo "usage: fuzz/run.sh SECONDS | --regress | --merge" >&2
  exit 2
}
[ $# -eq 1 ] || usage
mode=$1
case "$mode" in
  --regress | --merge) ;;
  *[!0-9]* | "") usage ;;
esac

build="build-fuzz"
cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j 2 >/dev/null
fuzzer="$build/swelox_fuzz"
mkdir -p "$build/crashes" fuzz/corpus-new

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
options=(-timeout=20 -rss_limit_mb=3072 -max_len=65536 -dict=fuzz/jpeg.dict
         -artifact_prefix="$build/crashes/")

if [ "$mode" = --merge ]; then
  exec "$fuzzer" "${options[@]}" -merge=1 fuzz/corpus fuzz/corpus-new
fi

saved=()
for dir in fuzz/corpus fuzz/regressions; do
  [ -d "$dir" ] && while IFS= read -r -d '' f; do saved+=("$f"); done < <(find "$dir" -type f -print0)
done
echo "Regression run: ${#saved[@]} saved inputs" >&2
start=$SECONDS
"$fuzzer" "${options[@]}" "${saved[@]}" 2>"$build/regress.log" || {
  tail -n 40 "$build/regress.log" >&2
  echo "fuzz/run.sh: a saved input fails (log: $build/regress.log)" >&2
  exit 1
}
echo "Regression run passed in $((SECONDS - start)) s" >&2
[ "$mode" = --regress ] && exit 0

echo "Fuzzing for $mode s (new inputs in fuzz/corpus-new/)" >&2
"$fuzzer" "${options[@]}" -max_total_time="$mode" -print_final_stats=1 \
  fuzz/corpus-new fuzz/corpus 2>"$build/fuzz.log" || {
  tail -n 60 "$build/fuzz.log" >&2
  echo "fuzz/run.sh: the fuzzer found a failing input (in $build/crashes/, log: $build/fuzz.log)" >&2
  exit 1
}
grep -E '^(Done|stat::)' "$build/fuzz.log" >&2 || true
