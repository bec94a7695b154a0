#!/usr/bin/env python3
"""Writes RATERS folders FOLDER/rater-N, each with COUNT annotation files of 1920 x 1080 frames
(FOLDER/rater-N/video-NN/frame-NNNNN.xml, 1000 to a video) with three regions, as raters who
mostly agree draw them: each rater shifts the regions by a few pixels, and every seventh frame
one rater leaves a region out.

Usage: bench/generate_raters.py FOLDER COUNT [RATERS]
"""
import pathlib
import sys

TEMPLATE = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:05}.png</FileName><Height>1080</Height><Width>1920</Width></ImageInformation>
  <User UserID="rater-{r}" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#E53935"/><Label LabelType="Bleeding" LabelColor="#1E88E5"/></LabelList>
{regions}
</Annotation>"""


def regions(n, r, x, y):
    shapes = [
        f'  <Polygon Index="1" Label="Polyp"><Point>{x},{y}</Point><Point>{x + 300},{y + 40}</Point>'
        f'<Point>{x + 260},{y + 380}</Point><Point>{x + 20},{y + 300}</Point></Polygon>',
        f'  <Rectangle Index="2" Label="Polyp"><Point>{x + 500},{y}</Point><Point>{x + 700},{y}</Point>'
        f'<Point>{x + 700},{y + 220}</Point><Point>{x + 500},{y + 220}</Point></Rectangle>',
        f'  <Circle Index="3" Label="Bleeding"><Center>{x + 400},{y + 500}</Center>'
        f'<Point>{x + 520},{y + 500}</Point></Circle>',
    ]
    if n % 7 == 0 and r > 0:
        del shapes[(n + r) % 3]
    return "\n".join(shapes)


def main():
    folder, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
    raters = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    for r in range(raters):
        for n in range(count):
            x, y = 100 + n % 1000 + 3 * r, 50 + n % 400 - 2 * r
            path = folder / f"rater-{r}" / f"video-{n // 1000:02}" / f"frame-{n:05}.xml"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(TEMPLATE.format(n=n, r=r, regions=regions(n, r, x, y)), encoding="utf-8")


if __name__ == "__main__":
    main()
