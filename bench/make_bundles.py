#!/usr/bin/env python3
"""Application bundles of realistic shape for bench/apps.sh.

  make_bundles.py ROOT [--bundles 200] [--files 2000] [--seed 7]

Writes ROOT/Applications/App001.app ... : an XML Info.plist, an executable of 1-8 MiB,
frameworks and localized resources spread over nested folders (--files small files of
0-32 KiB, about half of them below 4 KiB), and Contents/Resources/AppIcon.icns holding five
PNG-coded sizes (32, 64, 128, 256, 512 px). PNGs are written with zlib from the standard
library; their pixels are a smooth gradient with a little noise, so they compress like icons.
Deterministic for the same arguments. ROOT must not exist yet.
"""

import argparse
import os
import random
import struct
import zlib

ICON_KINDS = [("ic11", 32), ("ic12", 64), ("ic07", 128), ("ic08", 256), ("ic09", 512)]


def png(side, rng):
    rows = bytearray()
    for y in range(side):
        rows.append(0)
        for x in range(side):
            inside = (x - side / 2) ** 2 + (y - side / 2) ** 2 < (side * 0.45) ** 2
            noise = rng.randrange(4)
            rows += bytes(((x * 255 // side + noise) & 255, (y * 255 // side) & 255, 160, 255 if inside else 0))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b"")


def icns(rng):
    body = b"".join(kind.encode() + struct.pack(">I", len(data) + 8) + data
                    for kind, data in ((k, png(s, rng)) for k, s in ICON_KINDS))
    return b"icns" + struct.pack(">I", len(body) + 8) + body


PLIST = """<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleName</key><string>App {n:03d}</string>
  <key>CFBundleIdentifier</key><string>com.example.app{n:03d}</string>
  <key>CFBundleShortVersionString</key><string>1.{n}</string>
  <key>CFBundleIconFile</key><string>AppIcon</string>
</dict>
</plist>
"""


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--bundles", type=int, default=200)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    partial = args.root + ".partial"
    icon = icns(rng)
    filler = rng.randbytes(32 * 1024)
    for n in range(1, args.bundles + 1):
        contents = os.path.join(partial, "Applications", "App%03d.app" % n, "Contents")
        write(os.path.join(contents, "Info.plist"), PLIST.format(n=n).encode())
        write(os.path.join(contents, "MacOS", "App%03d" % n), filler * rng.randrange(32, 256))
        write(os.path.join(contents, "Resources", "AppIcon.icns"), icon)
        for i in range(args.files):
            if i % 3 == 0:
                folder = os.path.join("Frameworks", "Kit%d.framework" % (i % 7), "Versions", "A", "Resources")
            elif i % 3 == 1:
                folder = os.path.join("Resources", "lang%02d.lproj" % (i % 40))
            else:
                folder = os.path.join("Resources", "assets", "set%d" % (i % 13), "sub%d" % (i % 5))
            size = rng.randrange(4096) if rng.random() < 0.5 else rng.randrange(32 * 1024)
            write(os.path.join(contents, folder, "file%05d" % i), filler[:size])
    os.rename(partial, args.root)


if __name__ == "__main__":
    main()
