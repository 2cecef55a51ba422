"""swelox-cli --join on real output, against pandas' merge_asof for sightings and a plain loop
for segments.

Two cameras: a phone that records its offset (+01:00) and keeps good time, and a camera that
records none, set to Lisbon time, whose clock is 2 minutes slow. Each is measured into its own
table (the camera with --camera-zone and --clock-shift), both in UTC, at two rectangle sizes; the
join takes both tables, so the photos must come in their true order.

Arguments: SWELOX_CLI
"""
import csv
import io
import os
import subprocess
import sys
import tempfile
from fractions import Fraction

import pandas as pd

cli = os.path.abspath(sys.argv[1])


def run(*arguments, cwd):
    done = subprocess.run([cli, *arguments], cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("swelox-cli %s: status %d\n%s" % (" ".join(arguments), done.returncode, done.stderr))
    return done.stdout


def photo(folder, name, k, exif):
    width, height = 96, 72
    pixels = bytes((x * (k + 2) + y * (k + 5) * 3 + (x * y) % (7 + k)) % 256
                   for y in range(height) for x in range(width) for _ in range(3))
    ppm = os.path.join(folder, name + ".ppm")
    with open(ppm, "wb") as out:
        out.write(b"P6 %d %d 255\n" % (width, height) + pixels)
    path = os.path.join(folder, name)
    with open(path, "wb") as out:
        subprocess.run(["cjpeg", ppm], stdout=out, check=True)
    subprocess.run(["exiftool", "-q", "-overwrite_original", *exif, path], check=True)


with tempfile.TemporaryDirectory() as folder:
    # The phone: 09:00 .. 09:40 +01:00 every 10 minutes, that is 08:00Z .. 08:40Z.
    for k in range(5):
        photo(folder, "phone%d.jpg" % k, k,
              ["-DateTimeOriginal=2026:07:14 09:%02d:00" % (10 * k), "-OffsetTimeOriginal=+01:00"])
    # The camera: its clock shows 09:03 .. 09:33 Lisbon time, 2 minutes slow: 08:05Z .. 08:35Z.
    for k in range(4):
        photo(folder, "camera%d.jpg" % k, k + 5,
              ["-DateTimeOriginal=2026:07:14 09:%02d:00" % (10 * k + 3)])
    phones = ["phone%d.jpg" % k for k in range(5)]
    cameras = ["camera%d.jpg" % k for k in range(4)]
    run("--repeats=1", "--columns=time,quality", "--utc", "--output", "phone.tsv", *phones,
        cwd=folder)
    run("--repeats=1", "--columns=time,quality", "--utc", "--camera-zone=Europe/Lisbon",
        "--clock-shift=00:02:00", "--output", "camera.csv", *cameras, cwd=folder)

    with open(os.path.join(folder, "sightings.tsv"), "w") as out:
        out.write("Species\tWhen\tObserver\n")
        for species, when in [("minke whale", "2026-07-14T08:04:00Z"),
                              ("gannet", "2026-07-14T09:06:10+01:00"),
                              ("harbour porpoise", "2026-07-14T07:50:00Z"),
                              ("bottlenose dolphin", "2026-07-14T08:37:29.5Z"),
                              ("common dolphin", "2026-07-14T08:52:00Z"),
                              ("fin whale", "2026-07-14T08:15:00Z")]:
            out.write("%s\t%s\tAB\n" % (species, when))
    with open(os.path.join(folder, "segments.csv"), "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\r\n")
        writer.writerow(["Segment", "Start", "End", "Beaufort"])
        writer.writerows([["1, north", "2026-07-14T08:00:00Z", "2026-07-14T08:12:00Z", "2"],
                          ["2", "2026-07-14T09:12:00+01:00", "2026-07-14T08:35:00Z", "3"],
                          ["3", "2026-07-14T10:00:00Z", "2026-07-14T11:00:00Z", "3"]])

    # The rows of both tables, as pandas reads them.
    phone = pd.read_csv(os.path.join(folder, "phone.tsv"), sep="\t", dtype=str,
                        keep_default_na=False, quoting=csv.QUOTE_NONE)
    camera = pd.read_csv(os.path.join(folder, "camera.csv"), dtype=str, keep_default_na=False)
    rows = pd.concat([phone, camera])
    rows["When"] = pd.to_datetime(rows["Time"], utc=True)
    order = rows[rows["Bwide"] == "15"].sort_values("When")["Pic"].tolist()
    true = ["phone0.jpg", "camera0.jpg", "phone1.jpg", "camera1.jpg", "phone2.jpg", "camera2.jpg",
            "phone3.jpg", "camera3.jpg", "phone4.jpg"]
    if order != true:
        sys.exit("the photos' corrected times are not in their true order: %s" % order)

    failures = []
    for size in [("15", "12"), ("30", "24")]:
        chosen = rows[(rows["Bwide"] == size[0]) & (rows["Bhigh"] == size[1])]
        chosen = chosen.sort_values("When", kind="stable")
        for how, direction in [("nearest", "nearest"), ("before", "backward")]:
            joined = run("--join=sightings.tsv", "--time-column=When", "--match=" + how,
                         "--tolerance=00:05:00", "--size=%sx%s" % size, "phone.tsv", "camera.csv",
                         cwd=folder)
            ours = pd.read_csv(io.StringIO(joined), sep="\t", dtype=str, keep_default_na=False)
            sightings = pd.read_csv(os.path.join(folder, "sightings.tsv"), sep="\t", dtype=str)
            if list(ours.columns[:3]) != list(sightings.columns) or \
                    not ours.iloc[:, :3].equals(sightings):
                failures.append("the sightings did not come out unchanged, in their order")
            sightings["At"] = pd.to_datetime(sightings["When"], utc=True)
            sightings["Order"] = range(len(sightings))
            expected = pd.merge_asof(sightings.sort_values("At"), chosen, left_on="At",
                                     right_on="When", direction=direction,
                                     tolerance=pd.Timedelta("5min")).sort_values("Order")
            for (_, mine), (_, theirs) in zip(ours.iterrows(), expected.iterrows()):
                want = ("", "", "") if pd.isna(theirs["Pic"]) else (
                    theirs["Pic"], theirs["meanDiff"], theirs["RMS"])
                got = (mine["Pic"], mine["meanDiff"], mine["RMS"])
                if got != want:
                    failures.append("%s %s %s: %s, merge_asof %s" % (size, how, mine["Species"], got,
                                                                   want))
        # A sighting at 08:04Z: the last photo before it is the phone's of 08:00Z, not the
        # camera's, whose clock showed 08:03 (Lisbon 09:03) but was 2 minutes slow.
        before = run("--join=sightings.tsv", "--time-column=When", "--match=before",
                     "--size=%sx%s" % size, "phone.tsv", "camera.csv", cwd=folder)
        if "minke whale\t2026-07-14T08:04:00Z\tAB\tphone0.jpg\t" not in before:
            failures.append("the minke whale's photo is not phone0.jpg:\n" + before)

        # Segments: a plain loop over the rows, start included, end not.
        joined = run("--join=segments.csv", "--start-column=Start", "--end-column=End",
                     "--size=%sx%s" % size, "camera.csv", "phone.tsv", cwd=folder)
        with open(os.path.join(folder, "segments.csv"), newline="") as given:
            if not joined.startswith(given.read().split("\r\n")[0] + ","):
                failures.append("the segments' header changed")
        records = list(csv.reader(io.StringIO(joined, newline="")))
        with open(os.path.join(folder, "segments.csv"), newline="") as given:
            segments = list(csv.reader(given))
        for mine, segment in zip(records[1:], segments[1:]):
            if mine[:4] != segment:
                failures.append("segment %s changed: %s" % (segment, mine[:4]))
            start, end = pd.Timestamp(segment[1]), pd.Timestamp(segment[2])
            inside = [r for _, r in chosen.iterrows() if start <= r["When"] < end]
            means = [int(r["meanDiff"]) for r in inside]
            rmss = [int(r["RMS"]) for r in inside]

            def two(values):
                exact = round(Fraction(sum(values), len(values)) * 100)
                return "%d.%02d" % (exact // 100, exact % 100)

            want = [str(len(inside))] + ([two(means), str(max(means)), two(rmss), str(max(rmss))]
                                         if inside else ["", "", "", ""])
            if mine[4:] != want:
                failures.append("%s segment %s: %s, the loop %s" % (size, segment[0], mine[4:],
                                                                    want))
            if segment[0] == "1, north" and len(inside) != 3:
                failures.append("segment 1 holds %d photos, not 3" % len(inside))
    if failures:
        sys.exit("\n".join(failures))
    print("the join agrees with merge_asof and the loop at both sizes")
