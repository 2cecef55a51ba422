#!/usr/bin/env python3
"""Hostile photos for the figures of docs/robustness.md, made from a sample photo.

  make-hostile.py exif-bomb ENTRIES OUT.jpg  IFD0 of ENTRIES Exif, GPS and interoperability IFD
                                             pointers, every one back at IFD0 itself
  make-hostile.py app1-flood MEGABYTES OUT.jpg
                                             APP1 segments of 64 KiB, each beginning as EXIF data
                                             does, to about MEGABYTES of them
"""
import os
import struct
import sys

SAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "by-the-water.jpg")
POINTERS = (0x8769, 0x8825, 0xA005)


def exif_bomb(entries):
    ifd0 = 8
    tiff = bytearray(b"MM\x00\x2a" + struct.pack(">I", ifd0))
    tiff += struct.pack(">H", entries)
    for k in range(entries):
        tiff += struct.pack(">HHII", POINTERS[k % 3], 4, 1, ifd0)
    tiff += struct.pack(">I", ifd0)  # IFD0's link, back at itself
    return b"Exif\x00\x00" + bytes(tiff)


def app1(payload):
    return b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("exif-bomb", "app1-flood"):
        sys.exit(__doc__)
    kind, amount, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(SAMPLE, "rb") as f:
        photo = f.read()
    with open(out, "wb") as f:
        f.write(photo[:2])
        if kind == "exif-bomb":
            f.write(app1(exif_bomb(amount)))
        else:
            segment = app1(b"Exif\x00\x00" + b"\x11" * (0xFFFF - 2 - 6))
            for _ in range(amount * 1024 * 1024 // len(segment)):
                f.write(segment)
        f.write(photo[2:])


if __name__ == "__main__":
    main()
