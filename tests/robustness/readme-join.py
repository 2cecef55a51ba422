"""The README's join of rows to sightings, run as the README gives it on real swelox-cli output.

Four photos taken ten minutes apart are given out of order, measured over three runs (three
rectangle sizes), and four sightings are joined: each must get the row of the last photo taken at
or before it, of the first run's size, and a sighting before every photo none. The expected rows
come from swelox-cli itself, photo by photo, not from the join.

Arguments: SWELOX_CLI README.md
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import pandas  # noqa: F401  (the join needs it; fail here, plainly, when it is missing)

cli, readme = os.path.abspath(sys.argv[1]), sys.argv[2]
text = open(readme, encoding="utf-8").read()
block = re.search(r"```\n(swelox-cli [^\n]*--output noise\.tsv[^\n]*)\n(python3 - <<'END'\n.*?\nEND)\n```",
                  text, re.S)
if block is None:
    sys.exit("the README has no join of --output noise.tsv to sightings")
command, script = block.group(1), block.group(2)
script = script[len("python3 - <<'END'\n"):-len("\nEND")]

with tempfile.TemporaryDirectory() as folder:
    os.mkdir(os.path.join(folder, "photos"))
    times = {"c.jpg": "09:20:00", "a.jpg": "09:00:00", "d.jpg": "09:30:00", "b.jpg": "09:10:00"}
    for k, (name, clock) in enumerate(times.items()):
        width, height = 120, 90
        pixels = bytes((x * 7 + y * (k + 3) * 5 + (x * y) % (11 + k)) % 256
                       for y in range(height) for x in range(width) for _ in range(3))
        ppm = os.path.join(folder, name + ".ppm")
        with open(ppm, "wb") as out:
            out.write(b"P6 %d %d 255\n" % (width, height) + pixels)
        jpeg = os.path.join(folder, "photos", name)
        with open(jpeg, "wb") as out:
            subprocess.run(["cjpeg", ppm], stdout=out, check=True)
        subprocess.run(["exiftool", "-q", "-overwrite_original",
                        "-DateTimeOriginal=2026:07:14 " + clock, jpeg], check=True)
    with open(os.path.join(folder, "sightings.tsv"), "w") as out:
        out.write("2026-07-14T09:25:00\tminke whale\n"
                  "2026-07-14T08:59:00\tgannet\n"
                  "2026-07-14T09:10:00\tharbour porpoise\n"
                  "2026-07-14T09:45:00\tbottlenose dolphin\n")

    shell_command = command.replace("swelox-cli", "'" + cli + "'", 1)
    subprocess.run(shell_command, shell=True, cwd=folder, check=True)
    with open(os.path.join(folder, "noise.datapackage.json")) as descriptor:
        package = json.load(descriptor)
    assert package["swelox"]["outcome"]["status"] == "complete", package["swelox"]["outcome"]
    joined = subprocess.run([sys.executable, "-"], input=script, text=True, cwd=folder,
                            capture_output=True, check=True).stdout

    def row(name):
        out = subprocess.run([cli, os.path.join(folder, "photos", name)], text=True,
                             capture_output=True, check=True).stdout
        fields = dict(zip(*[line.split("\t") for line in out.splitlines()]))
        return name + "\t" + fields["meanDiff"] + "\t" + fields["RMS"]

    expected = ("2026-07-14T09:10:00\tharbour porpoise\t" + row("b.jpg") + "\n"
                "2026-07-14T09:25:00\tminke whale\t" + row("c.jpg") + "\n"
                "2026-07-14T09:45:00\tbottlenose dolphin\t" + row("d.jpg") + "\n")
    if joined != expected:
        sys.exit("the join gave\n" + joined + "instead of\n" + expected)
    print(joined, end="")
