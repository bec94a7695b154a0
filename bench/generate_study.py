#!/usr/bin/env python3
"""Writes a colonoscopy study shaped like the large public ones: COUNT frames of 1920 x 1080 from
23 recordings, one folder each, with polyps drawn in about 1% of the frames (one region, or two:
a polygon or a circle, and sometimes an ellipse beside it). Frames without polyps still carry
their image information, user and label list, as an annotation tool saves them.

    generate_study.py FOLDER COUNT

FOLDER/<recording>/<recording>_<frame>.xml; the same COUNT gives the same files.
"""
import math
import pathlib
import random
import sys

RECORDINGS = 23

HEADER = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>{name}.jpg</FileName><Height>1080</Height><Width>1920</Width></ImageInformation>
  <User UserID="reader-{reader}" Mode="Edit" State="Done" Time="2026/03/{day:02} 10:{minute:02}:00"/>
  <LabelList><Label LabelType="Adenoma" LabelColor="#E53935"/><Label LabelType="Hyperplastic" LabelColor="#1E88E5"/></LabelList>
"""


def polyp(rng, index):
    """One region somewhere in the image: a polygon of 12 to 40 points, or a circle."""
    label = rng.choice(("Adenoma", "Hyperplastic"))
    cx, cy, r = rng.uniform(200, 1700), rng.uniform(150, 930), rng.uniform(20, 140)
    if rng.random() < 0.6:
        count = rng.randint(12, 40)
        points = "".join(
            f"<Point>{cx + r * rng.uniform(0.8, 1.0) * c:.1f},{cy + r * rng.uniform(0.8, 1.0) * s:.1f}</Point>"
            for c, s in unit_circle(count))
        return f'  <Polygon Index="{index}" Label="{label}">{points}</Polygon>\n'
    return (f'  <Circle Index="{index}" Label="{label}"><Center>{cx:.1f},{cy:.1f}</Center>'
            f'<Point>{cx + r:.1f},{cy:.1f}</Point></Circle>\n')


def ellipse(rng, index):
    x, y, a = rng.uniform(200, 1500), rng.uniform(150, 900), rng.uniform(30, 200)
    return (f'  <Ellipse Index="{index}" Label="Adenoma"><AxisPoints><Point>{x:.1f},{y:.1f}</Point>'
            f'<Point>{x + a:.1f},{y + a / 3:.1f}</Point></AxisPoints>'
            f'<HeightPoint>{x + a / 2:.1f},{y + a / 3:.1f}</HeightPoint></Ellipse>\n')


def unit_circle(count):
    return [(math.cos(2 * math.pi * i / count), math.sin(2 * math.pi * i / count))
            for i in range(count)]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(count)
    per_recording, extra = divmod(count, RECORDINGS)
    for recording in range(RECORDINGS):
        name = f"{recording + 1:03}-{(recording % 4) + 1:03}"
        (folder / name).mkdir(parents=True, exist_ok=True)
        for frame in range(per_recording + (recording < extra)):
            stem = f"{name}_{frame:06}"
            text = HEADER.format(name=stem, reader=recording % 3, day=recording % 28 + 1,
                                 minute=frame // 3000 % 60)
            if rng.random() < 0.01:
                text += polyp(rng, 1)
                if rng.random() < 0.4:
                    text += ellipse(rng, 2)
            (folder / name / f"{stem}.xml").write_text(text + "</Annotation>\n", encoding="utf-8")


if __name__ == "__main__":
    main()
