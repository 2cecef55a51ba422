#!/usr/bin/env python3
"""A simulated camera at a post: writes JPEG photos into a folder the ways real ones do.

  camera.py --to FOLDER --from PHOTO... [--plan STEPS] [--first N] [--chunk-bytes N]
            [--pause-ms N] [--interval-ms N] [--staging DIR --hook SCRIPT]

The photos are the PHOTOs' bytes (taken in turn) under the names capt0000.jpg, capt0001.jpg, ...
(from --first), as gphoto2 names them. STEPS is a comma-separated list of MODE:COUNT, done in
order, --interval-ms between photos (but not inside a burst):

  tethered  written under its own name in chunks of --chunk-bytes with --pause-ms between them,
            as gphoto2 --capture-tethered writes into the folder over USB
  renamed   written whole under a temporary name (.NAME.part, NAME.tmp and NAME~ in turn), then
            renamed to its own, as sync tools and card readers do
  hook      written in chunks into --staging, then --hook run with ACTION=download and
            ARGUMENT=the file, as gphoto2 -I SECONDS --hook-script does (ACTION=init and start
            before the first photo, stop after the last)
  burst     COUNT photos one after the other, each in one write and at once

Prints each photo's path in FOLDER as soon as it is whole there, one a line, flushed.
"""

import argparse
import os
import subprocess
import sys
import time


def parse_plan(text):
    steps = []
    for part in text.split(","):
        mode, _, count = part.partition(":")
        if mode not in ("tethered", "renamed", "hook", "burst") or not count.isdigit():
            raise SystemExit(f"camera.py: bad step '{part}'")
        steps.append((mode, int(count)))
    return steps


def write_in_chunks(path, data, chunk, pause):
    with open(path, "wb") as out:
        for at in range(0, len(data), chunk):
            out.write(data[at:at + chunk])
            out.flush()
            os.fsync(out.fileno())  # the chunk is in the file, for any reader to see
            time.sleep(pause)


def main():
    parser = argparse.ArgumentParser(description="A simulated camera.")
    parser.add_argument("--to", required=True)
    parser.add_argument("--from", dest="sources", nargs="+", required=True)
    parser.add_argument("--plan", default="tethered:2,renamed:3,burst:10")
    parser.add_argument("--first", type=int, default=0)
    parser.add_argument("--chunk-bytes", type=int, default=256 * 1024)
    parser.add_argument("--pause-ms", type=float, default=20)
    parser.add_argument("--interval-ms", type=float, default=0)
    parser.add_argument("--staging")
    parser.add_argument("--hook")
    args = parser.parse_args()
    photos = []
    for source in args.sources:
        with open(source, "rb") as f:
            photos.append(f.read())
    steps = parse_plan(args.plan)
    uses_hook = any(mode == "hook" for mode, _ in steps)
    if uses_hook and not (args.staging and args.hook):
        raise SystemExit("camera.py: hook steps need --staging and --hook")
    env = dict(os.environ, SWELOX_WATCH_FOLDER=args.to)

    def hook(action, argument=None):
        hook_env = dict(env, ACTION=action)
        if argument is not None:
            hook_env["ARGUMENT"] = argument
        subprocess.run([args.hook], env=hook_env, check=True)

    if uses_hook:
        hook("init")
        hook("start")
    number = args.first
    temporary = [".{}.part", "{}.tmp", "{}~"]
    pause = args.pause_ms / 1000
    for mode, count in steps:
        for k in range(count):
            name = f"capt{number:04d}.jpg"
            data = photos[number % len(photos)]
            final = os.path.join(args.to, name)
            if mode == "tethered":
                write_in_chunks(final, data, args.chunk_bytes, pause)
            elif mode == "renamed":
                held = os.path.join(args.to, temporary[number % 3].format(name))
                with open(held, "wb") as out:
                    out.write(data)
                os.rename(held, final)
            elif mode == "hook":
                staged = os.path.join(args.staging, name)
                write_in_chunks(staged, data, args.chunk_bytes, pause)
                hook("download", staged)
            else:
                with open(final, "wb") as out:
                    out.write(data)
            print(final, flush=True)
            number += 1
            if mode != "burst" and args.interval_ms > 0:
                time.sleep(args.interval_ms / 1000)
    if uses_hook:
        hook("stop")


if __name__ == "__main__":
    sys.exit(main())
