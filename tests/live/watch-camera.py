#!/usr/bin/env python3
"""swelox-cli --watch against the simulated camera, as at a post.

  watch-camera.py SWELOX_CLI CAMERA HOOK PHOTO...

The camera writes photos in chunks, under temporary names, through gphoto2's hook and in bursts;
the watch is stopped with SIGINT part-way, the camera writes on, and the watch is started again
on the same table, then stopped with SIGTERM. The table must hold each photo's rows once, equal
to those of a batch run over the same photos (so no photo was read in part), and the watch must
have said nothing on standard error.
"""

import os
import signal
import subprocess
import sys
import tempfile
import time


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def rows_of(table):
    if not os.path.exists(table):
        return []
    with open(table, newline="") as f:
        lines = f.read().split("\n")
    return [line for line in lines[1:] if line]


def wait_for_rows(table, count, watch, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if len(rows_of(table)) >= count:
            return
        if watch.poll() is not None:
            fail(f"the watch ended early ({watch.returncode})")
        time.sleep(0.05)
    fail(f"{len(rows_of(table))} rows after {seconds} s, not {count}")


def main():
    cli, camera, hook = sys.argv[1:4]
    sources = sys.argv[4:]
    runs = 2  # --repeats=1
    with tempfile.TemporaryDirectory() as scratch:
        folder = os.path.join(scratch, "photos")
        staging = os.path.join(scratch, "staging")
        os.mkdir(folder)
        os.mkdir(staging)
        table = os.path.join(scratch, "day.tsv")
        settings = ["--repeats=1", "--columns=quality", "-j2"]
        command = [cli, *settings, "--output", table, "--watch", folder]
        err_path = os.path.join(scratch, "watch.err")

        def start():
            return subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                    stderr=open(err_path, "a"))

        def shoot(plan, first):
            done = subprocess.run(
                [sys.executable, camera, "--to", folder, "--from", *sources, "--plan", plan,
                 "--first", str(first), "--chunk-bytes", "8192", "--pause-ms", "15",
                 "--interval-ms", "40", "--staging", staging, "--hook", hook],
                check=True, capture_output=True, text=True)
            return done.stdout.split()

        photos = []
        watch = start()
        time.sleep(0.3)
        photos += shoot("tethered:3,renamed:3,hook:2,burst:20", 0)
        wait_for_rows(table, runs * len(photos), watch)
        watch.send_signal(signal.SIGINT)
        if watch.wait(20) != -signal.SIGINT:
            fail(f"the watch stopped by SIGINT ended with {watch.returncode}")
        before = rows_of(table)

        # While no watch runs, and after it is started again.
        photos += shoot("renamed:2,tethered:1", len(photos))
        watch = start()
        photos += shoot("hook:1,burst:8,tethered:1", len(photos))
        wait_for_rows(table, runs * len(photos), watch)
        time.sleep(0.5)  # nothing more comes
        watch.send_signal(signal.SIGTERM)
        if watch.wait(20) != -signal.SIGTERM:
            fail(f"the watch stopped by SIGTERM ended with {watch.returncode}")

        rows = rows_of(table)
        if rows[:len(before)] != before:
            fail("the rows of the first watch changed")
        if len(rows) != runs * len(photos):
            fail(f"{len(rows)} rows for {len(photos)} photos of {runs} runs")
        with open(err_path) as f:
            said = f.read()
        if said:
            fail("the watch said:\n" + said)
        if os.listdir(staging):
            fail("the hook left photos in the staging folder: " + " ".join(os.listdir(staging)))

        # The rows of a batch run over the same photos; the table's have its own five columns
        # after them (Run, Source, Bytes, Modified, Damaged).
        batch = subprocess.run([cli, *settings, *sorted(photos)], check=True,
                               capture_output=True, text=True)
        expected = sorted(batch.stdout.splitlines()[1:])
        got = sorted("\t".join(row.split("\t")[:-5]) for row in rows)
        if got != expected:
            fail("the watch's rows are not the batch run's:\n" +
                 "\n".join(sorted(set(got) ^ set(expected))))
        sources_seen = sorted({(r.split("\t")[-4], r.split("\t")[-5]) for r in rows})
        if len(sources_seen) != runs * len(photos):
            fail("a photo's run is in the table more than once")
        if any(r.split("\t")[-1] != "false" or r.split("\t")[8] != "ok" for r in rows):
            fail("a photo was damaged or had nothing to compare")
        print(f"{len(photos)} photos from the simulated camera, {len(rows)} rows, "
              f"each once and as a batch run gives them; stopped and started again once.")


if __name__ == "__main__":
    main()
