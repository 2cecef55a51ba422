#!/bin/bash
# scripts/cluster/swelox-array.sbatch run as a job array of 4 tasks over 1,000 photos on a
# one-node Slurm of the test's own (munged, slurmctld and slurmd on 127.0.0.1, in a temporary
# folder), the parts merged: the table is the one a single whole run makes.
#   slurm-array.sh SWELOX_CLI PROJECT_ROOT
# Exit status 77 (skipped) with a line that says why when the daemons cannot start here.
set -euo pipefail
cli="$(realpath "$1")"
root="$(realpath "$2")"
. "$root/tests/cluster/photos.sh"

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
for tool in munged slurmctld slurmd sbatch sinfo djpeg cjpeg; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
    skip "$tool is not installed (Debian: slurm-wlm, munge, libjpeg-turbo-progs)"
done
export PATH="$PATH:/usr/sbin"

work="$(mktemp -d "${TMPDIR:-/tmp}/swelox-slurm.XXXXXX")"
chmod 700 "$work"
stop_daemons() {
  local pidfile
  for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munged.pid"; do
    [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  # Each daemon ends within a second or two; its files go with the folder.
  for _ in $(seq 1 50); do
    local alive=0
    for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munged.pid"; do
      [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && alive=1
    done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  rm -rf "$work"
}
trap stop_daemons EXIT

# munge: a key of the test's own and a socket in the folder.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --force --socket="$work/munge.sock" --key-file="$work/munge.key" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed" ||
  skip "munged does not start here: $(tail -n 1 "$work/munged.log" 2>/dev/null)"

# Slurm on ports of its own, as the user running the test.
user="$(id -un)"
host="$(hostname -s)"
port=$((20000 + RANDOM % 20000))
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<END
ClusterName=swelox-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.sock
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$host NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
END
export SLURM_CONF="$work/slurm.conf"
slurmctld -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 ||
  skip "slurmctld does not start here: $(tail -n 1 "$work/slurmctld.log" "$work/slurmctld.out" 2>/dev/null | tail -n 1)"
slurmd -f "$SLURM_CONF" >"$work/slurmd.out" 2>&1 ||
  skip "slurmd does not start here: $(tail -n 1 "$work/slurmd.log" "$work/slurmd.out" 2>/dev/null | tail -n 1)"
for _ in $(seq 1 100); do
  sinfo -h -o %t 2>/dev/null | grep -q idle && break
  sleep 0.1
done
sinfo -h -o %t 2>/dev/null | grep -q idle ||
  skip "the Slurm node does not come up: $(tail -n 1 "$work/slurmd.log" 2>/dev/null)"

make_photos "$work/photos" 1000 "$root/examples"
"$cli" -j2 --no-progress --output "$work/whole.tsv" "$work/photos"

# One task per core; the job's log files in the folder.
SWELOX_CLI="$cli" sbatch --wait --array=1-4 --cpus-per-task=1 --output="$work/task-%a.log" \
  "$root/scripts/cluster/swelox-array.sbatch" "$work/parts" "$work/photos" >"$work/sbatch.out" ||
  { cat "$work"/task-*.log "$work/slurmd.log" >&2; echo "the job array failed" >&2; exit 1; }
for k in 1 2 3 4; do
  grep -q '"status": "complete"' "$work/parts/part-$k.datapackage.json" ||
    { echo "part $k did not finish" >&2; cat "$work/task-$k.log" >&2; exit 1; }
done
"$cli" --merge --output "$work/merged.tsv" "$work"/parts/part-*.tsv
cmp "$work/whole.tsv" "$work/merged.tsv" || { echo "the merged table differs" >&2; exit 1; }
echo "4 tasks of a Slurm job array over $(($(wc -l <"$work/whole.tsv") - 1)) photos, merged:" \
  "the whole run's table"
