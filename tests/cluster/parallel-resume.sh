#!/bin/bash
# The parts of a job run by GNU parallel with --joblog, one task killed with kill -9 as it writes
# its table, then the same command with --resume-failed: only that task runs again, it goes on
# where it stopped, and the parts merged are the table of one whole run.
#   parallel-resume.sh SWELOX_CLI PROJECT_ROOT
# Exit status 77 (skipped) when GNU parallel is not installed.
set -euo pipefail
cli="$(realpath "$1")"
root="$(realpath "$2")"
. "$root/tests/cluster/photos.sh"
command -v parallel >/dev/null || { echo "SKIPPED: GNU parallel is not installed" >&2; exit 77; }

work="$(mktemp -d "${TMPDIR:-/tmp}/swelox-parallel.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Photos large enough that a part takes about a second, so that the kill comes while it works.
make_photos "$work/photos" 1000 "$root/examples" 1/4
"$cli" -j2 --no-progress --output "$work/whole.tsv" "$work/photos"
mkdir -p "$work/parts"

# A task: part K of 4. The first time part 3 runs, it is killed with kill -9 once its table holds
# 20 rows: a node lost, or the out-of-memory killer.
cat >"$work/task.sh" <<END
#!/bin/bash
"$cli" -j1 --no-progress --shard=\$1/4 --output "$work/parts/part-\$1.tsv" "$work/photos" &
pid=\$!
if [ "\$1" = 3 ] && [ ! -e "$work/killed" ]; then
  touch "$work/killed"
  until [ "\$({ wc -l <"$work/parts/part-3.tsv"; } 2>/dev/null || echo 0)" -gt 20 ] || ! kill -0 \$pid 2>/dev/null; do
    sleep 0.01
  done
  kill -9 \$pid
fi
wait \$pid 2>/dev/null
END
chmod +x "$work/task.sh"
run_parts() { parallel --will-cite --jobs 2 --joblog "$work/joblog" "$@" "$work/task.sh" ::: 1 2 3 4; }

status=0
run_parts || status=$?
[ $status -eq 1 ] || { echo "parallel: status $status, not 1 (one task failed)" >&2; exit 1; }
rows=$(($(wc -l <"$work/parts/part-3.tsv") - 1))
[ $rows -lt 250 ] || { echo "part 3 was not cut short: $rows rows" >&2; exit 1; }
grep -q '"status": "running"' "$work/parts/part-3.datapackage.json" ||
  { echo "the killed part's descriptor does not say it was under way" >&2; exit 1; }
# The joblog's Exitval and Signal columns: part 3 ended by signal 9 (bash reports 137).
awk -F'\t' 'NR > 1 && $NF ~ /task.sh 3$/ { exit !($7 != 0 || $8 != 0) }' "$work/joblog" ||
  { cat "$work/joblog" >&2; echo "the joblog does not show part 3 failing" >&2; exit 1; }
"$cli" --merge --output "$work/early.tsv" "$work"/parts/part-*.tsv 2>"$work/early.err" &&
  { echo "a merge with an unfinished part was not refused" >&2; exit 1; }
grep -q "part 3 of 4 (.*) is not finished" "$work/early.err" || { cat "$work/early.err" >&2; exit 1; }

run_parts --resume-failed
# Only part 3 ran again: five lines of jobs in the joblog, the last one part 3's, successful.
[ "$(($(wc -l <"$work/joblog") - 1))" -eq 5 ] || { cat "$work/joblog" >&2; exit 1; }
tail -n 1 "$work/joblog" | awk -F'\t' '$NF ~ /task.sh 3$/ && $7 == 0 { ok = 1 } END { exit !ok }' ||
  { cat "$work/joblog" >&2; echo "part 3 was not run again" >&2; exit 1; }
"$cli" --merge --output "$work/merged.tsv" "$work"/parts/part-*.tsv
cmp "$work/whole.tsv" "$work/merged.tsv" || { echo "the merged table differs" >&2; exit 1; }
echo "GNU parallel: part 3 killed after $rows of its rows, resumed with --resume-failed; merged:" \
  "the whole run's table"
