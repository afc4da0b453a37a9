#!/usr/bin/env python3
"""corpus_pack.py CORPUS_DIR OUT.pack [--tiled CODEC_KIND] [--hint W H]

Builds a resource pack from the real-image corpus (manifest.json + raw/):
argb8888 -> type 11, rgb565 -> 1, rgb888 -> 32, a8 -> 30, jpeg -> 38.
With --tiled, image entries carry a TileHint and the header asks for tiles.
Also writes OUT.pixels: the image payloads concatenated, for comparisons
with the lz4 command.
"""
import argparse
import json
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
    return parser.parse_args()


def main():
    args = parse_args()
    corpus, out = args.corpus, args.out
    tiled, codec, hint = 0, 0, tuple(args.hint)
    if args.tiled is not None:
        tiled, codec = 1, args.tiled
    manifest = json.load(open(f"{corpus}/manifest.json"))
    entries = []
    for m in manifest:
        kind = m["kind"]
        data = open(f"{corpus}/{m['file']}", "rb").read()
        t = TYPES[kind]
        if t != 38 and tiled:
            data = struct.pack("<HH", *hint) + data
        entries.append((m["name"][:8], t, m["width"], m["height"], data))
    table_end = 16 + 16 * len(entries)
    header = struct.pack("<IH7sBBB", 0x19534552, len(entries), b"\0" * 7, tiled, codec, 0)
    table, body, pixels = b"", bytearray(), bytearray()
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
