#!/usr/bin/env python3
"""Writes a COCO ground-truth file and a COCO results file for `annoxml eval`.

    eval_generate.py DIR [--images 5000] [--regions 10] [--predictions 100] [--seed 1]

DIR/truth.json holds IMAGES images of 640x480 in ten folders ("video-0/frame-00001.png"), each
with REGIONS polygons of five categories, some of them crowd regions given as uncompressed RLE.
DIR/results.json holds PREDICTIONS entries per image with bbox, score (two decimals, so many are
equal) and segmentation: most are moved copies of a region's polygon, some random, one in eight
a compressed RLE of a rectangle.
"""
import argparse
import json
import math
import pathlib
import random

WIDTH, HEIGHT = 640, 480


def polygon(rng, cx, cy, radius):
    count = rng.randint(6, 16)
    points = []
    for i in range(count):
        angle = 2 * math.pi * i / count
        r = radius * rng.uniform(0.6, 1.0)
        x = min(max(cx + r * math.cos(angle), 0), WIDTH)
        y = min(max(cy + r * math.sin(angle), 0), HEIGHT)
        points += [round(x, 2), round(y, 2)]
    return points


def shoelace(xy):
    xs, ys = xy[0::2], xy[1::2]
    twice = sum(xs[i] * ys[(i + 1) % len(xs)] - xs[(i + 1) % len(xs)] * ys[i]
                for i in range(len(xs)))
    return abs(twice) / 2


def box_of(xy):
    xs, ys = xy[0::2], xy[1::2]
    return [min(xs), min(ys), max(xs) - min(xs), max(ys) - min(ys)]


def rectangle_counts(x0, y0, x1, y1):
    """Column-major runs of the pixels x0 <= x < x1, y0 <= y < y1."""
    counts, at = [], 0
    for x in range(x0, x1):
        start = x * HEIGHT + y0
        if counts and start == at:
            counts[-1] += y1 - y0
        else:
            counts += [start - at, y1 - y0]
        at = x * HEIGHT + y1
    counts.append(WIDTH * HEIGHT - at)
    return counts


def compress(counts):
    """COCO's compressed counts string."""
    out = []
    for i, value in enumerate(counts):
        x = value - counts[i - 2] if i > 2 else value
        more = True
        while more:
            c = x & 0x1F
            x >>= 5
            more = x != -1 if c & 0x10 else x != 0
            if more:
                c |= 0x20
            out.append(chr(c + 48))
    return "".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--images", type=int, default=5000)
    parser.add_argument("--regions", type=int, default=10)
    parser.add_argument("--predictions", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    out = pathlib.Path(args.dir)
    out.mkdir(parents=True, exist_ok=True)
    images, annotations, results = [], [], []
    categories = [{"id": i, "name": name, "supercategory": ""}
                  for i, name in enumerate(["polyp", "ulcer", "bleeding", "erosion", "tumour"], 1)]
    for image_id in range(1, args.images + 1):
        images.append({"id": image_id, "file_name": f"video-{image_id % 10}/frame-{image_id:05d}.png",
                       "width": WIDTH, "height": HEIGHT})
        regions = []
        for _ in range(args.regions):
            category = rng.randint(1, 5)
            if rng.random() < 0.05:
                x0, y0 = rng.randint(0, WIDTH - 60), rng.randint(0, HEIGHT - 60)
                x1, y1 = x0 + rng.randint(10, 60), y0 + rng.randint(10, 60)
                segmentation = {"size": [HEIGHT, WIDTH], "counts": rectangle_counts(x0, y0, x1, y1)}
                box, area, crowd = [x0, y0, x1 - x0, y1 - y0], (x1 - x0) * (y1 - y0), 1
            else:
                radius = rng.choice([rng.uniform(3, 20), rng.uniform(15, 60), rng.uniform(50, 150)])
                xy = polygon(rng, rng.uniform(0, WIDTH), rng.uniform(0, HEIGHT), radius)
                segmentation, box, area, crowd = [xy], box_of(xy), shoelace(xy), 0
                regions.append((category, xy))
            annotations.append({"id": len(annotations) + 1, "image_id": image_id,
                                "category_id": category, "segmentation": segmentation,
                                "area": area, "bbox": box, "iscrowd": crowd})
        for _ in range(args.predictions):
            score = round(rng.random(), 2)
            if regions and rng.random() < 0.6:
                category, xy = rng.choice(regions)
                if rng.random() < 0.1:
                    category = rng.randint(1, 5)
                dx, dy = rng.gauss(0, 4), rng.gauss(0, 4)
                xy = [round(v + (dx if i % 2 == 0 else dy), 2) for i, v in enumerate(xy)]
            else:
                category = rng.randint(1, 5)
                xy = polygon(rng, rng.uniform(0, WIDTH), rng.uniform(0, HEIGHT), rng.uniform(3, 120))
            entry = {"image_id": image_id, "category_id": category, "bbox": box_of(xy),
                     "score": score}
            if rng.random() < 0.125:
                x0, y0, w, h = (int(v) for v in box_of(xy))
                x0, y0 = min(max(x0, 0), WIDTH - 1), min(max(y0, 0), HEIGHT - 1)
                x1, y1 = min(x0 + max(w, 1), WIDTH), min(y0 + max(h, 1), HEIGHT)
                entry["segmentation"] = {"size": [HEIGHT, WIDTH],
                                         "counts": compress(rectangle_counts(x0, y0, x1, y1))}
            else:
                entry["segmentation"] = [xy]
            results.append(entry)
    (out / "truth.json").write_text(json.dumps(
        {"images": images, "annotations": annotations, "categories": categories}))
    (out / "results.json").write_text(json.dumps(results))


if __name__ == "__main__":
    main()
