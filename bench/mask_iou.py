#!/usr/bin/env python3
"""Agreement of instance masks with independent rasterisations of the same outlines.

Usage: bench/mask_iou.py DATASET.json MASK_DIR

DATASET.json is a COCO instances file (`annoxml dataset`), MASK_DIR holds the masks of the same
inputs (`annoxml masks --mode instance`). Each image's outlines are rasterised again here with
numpy, in annotation order so that later regions cover earlier ones as in the masks, in two ways:
  - pixel centres: a pixel belongs when its centre lies inside (even-odd), the masks' own rule;
  - coverage: 4 x 4 samples per pixel, a pixel belongs when at least half of them lie inside.
Prints the minimum and mean IoU per region of 400 or more pixels for each.
"""
import json
import struct
import sys
import zlib
from collections import defaultdict
from pathlib import Path

import numpy as np


def read_png(path):
    """A grey-scale PNG of 8 or 16 bits as a 2-D array."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert colour == 0, "grey-scale expected"
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    raw = np.frombuffer(zlib.decompress(b"".join(idat)), dtype=np.uint8)
    bpp = depth // 8
    stride = width * bpp
    rows = raw.reshape(height, stride + 1)
    out = np.zeros((height, stride), dtype=np.int32)
    previous = np.zeros(stride, dtype=np.int32)
    for y in range(height):
        kind, line = rows[y, 0], rows[y, 1:].astype(np.int32)
        if kind == 0:
            current = line
        elif kind == 2:
            current = (line + previous) & 0xFF
        else:  # sub, average, paeth: byte by byte
            current = np.zeros(stride, dtype=np.int32)
            for x in range(stride):
                left = current[x - bpp] if x >= bpp else 0
                up, corner = previous[x], previous[x - bpp] if x >= bpp else 0
                if kind == 1:
                    predictor = left
                elif kind == 3:
                    predictor = (left + up) // 2
                else:
                    p = left + up - corner
                    pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                    predictor = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                current[x] = (line[x] + predictor) & 0xFF
        out[y] = current
        previous = current
    if bpp == 2:
        out = out[:, 0::2] * 256 + out[:, 1::2]
    return out


def inside(outline, xs, ys):
    """Even-odd test of the points (xs, ys) against a closed outline."""
    result = np.zeros(xs.shape, dtype=bool)
    count = len(outline)
    for i in range(count):
        (ax, ay), (bx, by) = outline[i], outline[(i + 1) % count]
        if ay == by:
            continue
        crosses = (ay > ys) != (by > ys)
        t = (ys - ay) / (by - ay)
        result ^= crosses & (xs < ax + t * (bx - ax))
    return result


def raster(outline, width, height, samples):
    """Pixels of the outline with samples x samples points each, inside when half or more are;
    only the outline's box is tested."""
    pixels = np.zeros((height, width), dtype=bool)
    xs_all, ys_all = [p[0] for p in outline], [p[1] for p in outline]
    left, right = max(0, int(np.floor(min(xs_all)))), min(width, int(np.ceil(max(xs_all))) + 1)
    top, bottom = max(0, int(np.floor(min(ys_all)))), min(height, int(np.ceil(max(ys_all))) + 1)
    if left >= right or top >= bottom:
        return pixels
    ys, xs = np.mgrid[top:bottom, left:right].astype(float)
    offsets = (np.arange(samples) + 0.5) / samples
    hits = np.zeros(xs.shape, dtype=np.int32)
    for dy in offsets:
        for dx in offsets:
            hits += inside(outline, xs + dx, ys + dy)
    pixels[top:bottom, left:right] = hits * 2 >= samples * samples
    return pixels


def main(dataset_path, mask_dir):
    dataset = json.loads(Path(dataset_path).read_text(encoding="utf-8"))
    by_image = defaultdict(list)
    for annotation in dataset["annotations"]:
        by_image[annotation["image_id"]].append(annotation)
    scores = {"pixel centres": [], "coverage 4x4": []}
    for image in dataset["images"]:
        mask = read_png(Path(mask_dir) / Path(image["file_name"]).with_suffix(".png"))
        annotations = by_image[image["id"]]
        for name, samples in (("pixel centres", 1), ("coverage 4x4", 4)):
            reference = np.zeros(mask.shape, dtype=np.int32)
            for number, annotation in enumerate(annotations, start=1):
                flat = annotation["segmentation"][0]
                outline = list(zip(flat[0::2], flat[1::2]))
                reference[raster(outline, image["width"], image["height"], samples)] = number
            for number in range(1, len(annotations) + 1):
                ours, theirs = mask == number, reference == number
                if theirs.sum() >= 400:
                    scores[name].append((ours & theirs).sum() / (ours | theirs).sum())
    for name, values in scores.items():
        print(f"{name}: {len(values)} regions of >= 400 px, IoU min {min(values):.6f}, "
              f"mean {sum(values) / len(values):.6f}")


if __name__ == "__main__":
    main(*sys.argv[1:3])
