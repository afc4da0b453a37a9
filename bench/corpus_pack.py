#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""corpus_pack.py CORPUS_DIR OUT.pack [--tiled CODEC_KIND] [--hint W H] [--shuffle SEED] [--mosaic N]
    [--count N]

Builds a resource pack from the real-image corpus (manifest.json + raw/):
argb8888 -> type 11, rgb565 -> 1, rgb888 -> 32, a8 -> 30, jpeg -> 38.
With --tiled, image entries carry a TileHint and the header asks for tiles.
--shuffle puts the entries in a random order of that seed. --mosaic makes
instead N entries of 2048 x 2047 argb8888 pixels (16 MB each), the corpus'
argb8888 images laid side by side. --count makes instead N entries of the
corpus' small images (at most 4,096 pixels, JPEG files aside) over and
over, named s0 to sN-1. Also writes OUT.pixels: the image
payloads concatenated, for comparisons with the lz4 command.
"""
import argparse
import json
import random
import struct
import sys

TYPES = {"argb8888": 11, "rgb565": 1, "rgb888": 32, "a8": 30, "jpeg": 38, "jpg": 38}


def parse_args():
    doc = __doc__.split("\n\n", 1)
    parser = argparse.ArgumentParser(description=doc[1], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("corpus", metavar="CORPUS_DIR", help="folder holding manifest.json and raw/")
    parser.add_argument("out", metavar="OUT.pack", help="the pack to write")
    parser.add_argument("--tiled", metavar="CODEC_KIND", type=int, choices=(1, 2, 3),
                        help="ask for tiles coded with 1 run-length, 2 LZ4 or 3 stored")
    parser.add_argument("--hint", metavar=("W", "H"), type=int, nargs=2, default=(64, 64),
                        help="suggested tile size (default 64 64)")
    parser.add_argument("--shuffle", metavar="SEED", type=int, help="entries in a random order of this seed")
    parser.add_argument("--mosaic", metavar="N", type=int, help="N entries of 2048 x 2047 argb8888 mosaics")
    parser.add_argument("--count", metavar="N", type=int, help="N entries of the small images, repeated")
    return parser.parse_args()


def mosaics(corpus, manifest, count):
    """count mosaics of 2048 x 2047 x 4 bytes: rows of images, each mosaic
    starting one image further along."""
    w, h = 2048, 2047
    images = [(m["width"], m["height"], open(f"{corpus}/{m['file']}", "rb").read())
              for m in manifest if m["kind"] == "argb8888"]
    images.sort(key=lambda i: -i[1])
    out = []
    for k in range(count):
        canvas = bytearray(w * h * 4)
        y, n = 0, k
        while y < h:
            x, row_h = 0, 0
            while x < w:
                iw, ih, data = images[n % len(images)]
                n += 1
                cw, ch = min(iw, w - x), min(ih, h - y)
                for r in range(ch):
                    at = ((y + r) * w + x) * 4
                    canvas[at:at + cw * 4] = data[r * iw * 4:(r * iw + cw) * 4]
                x += cw
                row_h = max(row_h, ch)
            y += row_h
        out.append((f"mos{k}", 11, w, h, bytes(canvas)))
    return out


def main():
    args = parse_args()
    corpus, out = args.corpus, args.out
    tiled, codec, hint = 0, 0, tuple(args.hint)
    if args.tiled is not None:
        tiled, codec = 1, args.tiled
    manifest = json.load(open(f"{corpus}/manifest.json"))
    entries = []
    if args.count is not None:
        small = [m for m in manifest if m["kind"] != "jpeg" and m["width"] * m["height"] <= 4096]
        manifest = [dict(small[k % len(small)], name=f"s{k}") for k in range(args.count)]
    for m in manifest if args.mosaic is None else []:
        kind = m["kind"]
        data = open(f"{corpus}/{m['file']}", "rb").read()
        t = TYPES[kind]
        if t != 38 and tiled:
            data = struct.pack("<HH", *hint) + data
        entries.append((m["name"][:8], t, m["width"], m["height"], data))
    if args.mosaic is not None:
        for name, t, w, h, data in mosaics(corpus, manifest, args.mosaic):
            entries.append((name, t, w, h, struct.pack("<HH", *hint) + data if tiled else data))
    if args.shuffle is not None:
        random.Random(args.shuffle).shuffle(entries)
    table_end = 16 + 16 * len(entries)
    header = struct.pack("<IH7sBBB", 0x19534552, len(entries), b"\0" * 7, tiled, codec, 0)
    table, body, pixels = bytearray(), bytearray(), bytearray()
    for name, t, w, h, data in entries:
        offset = table_end + len(body)
        length = len(data) + 4
        table += struct.pack("<IHB8sB", offset, length & 0xFFFF, t, name.encode(), length >> 16)
        body += struct.pack("<HH", w, h) + data + b"\0" * (-len(data) % 4)
        if t != 38:
            pixels += data[4:] if tiled else data
    open(out, "wb").write(header + table + body)
    open(out + ".pixels", "wb").write(pixels)
    print(f"{out}: {len(entries)} entries, {table_end + len(body)} bytes")


try:
    main()
except (OSError, ValueError, KeyError) as e:
    sys.exit(f"corpus_pack.py: {e}")
