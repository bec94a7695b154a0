#!/usr/bin/env python3
"""Writes generated annotation files for the benchmarks.

    generate.py large FILE           one frame of 10,000 shapes, about 790,000 points (~30 MB)
    generate.py tiny DIR COUNT       COUNT frames of four shapes, in sub-folders of 1,000
    generate.py medium DIR COUNT     COUNT frames of 30 shapes (~83 KB), in sub-folders of 1,000
"""
import pathlib
import sys

HEADER = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>{name}.png</FileName><Height>1080</Height><Width>1920</Width></ImageInformation>
  <User UserID="bench" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#FF0000"/><Label LabelType="Œdème"/><Label LabelType="Ulcer"/></LabelList>
"""


def point(x, y):
    return f"        <Point>{x:g},{y:g}</Point>\n"


def shape(i, polygon_points):
    """Rectangles, circles and polygons in turn, a third of them inside masks."""
    label = ("Polyp", "Œdème", "Ulcer")[i % 3]
    x, y = i % 1000 + 0.25, i % 700 + 0.5
    kind = i % 3
    if kind == 0:
        body = "".join(point(px, py) for px, py in
                       ((x, y), (x + 40, y), (x + 40, y + 30), (x, y + 30)))
        text = f'  <Rectangle Index="{i}" Label="{label}">\n{body}  </Rectangle>\n'
    elif kind == 1:
        text = (f'  <Circle Index="{i}" Label="{label}"><Center>{x:g},{y:g}</Center>\n'
                f'{point(x - 12.5, y)}  </Circle>\n')
    else:
        body = "".join(point(x + p * 0.125, y + p % 17) for p in range(polygon_points))
        text = f'  <Polygon Index="{i}" Label="{label}" Color="#00FF00">\n{body}  </Polygon>\n'
    if i % 4 == 0:
        text = f'  <Mask Index="{i}" Color="#FF000080" Description="Lesion {i}">\n{text}  </Mask>\n'
    return text


def frame(name, shapes, polygon_points):
    return (HEADER.format(name=name) + "".join(shape(i, polygon_points) for i in range(shapes)) +
            "</Annotation>\n")


def tiny(n):
    x, y = n % 600, n % 400
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:05}.png</FileName><Height>480</Height><Width>640</Width></ImageInformation>
  <User UserID="bench" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp"/><Label LabelType="Œdème"/></LabelList>
  <Mask Index="1" Color="#FF000080" Description="Lesion">
    <Polygon Index="1" Label="Polyp"><Point>{x},{y}</Point><Point>{x + 30},{y + 5}</Point><Point>{x + 12},{y + 40}</Point></Polygon>
  </Mask>
  <Rectangle Index="2" Label="Polyp"><Point>{x},{y}</Point><Point>{x + 20},{y}</Point><Point>{x + 20},{y + 20}</Point><Point>{x},{y + 20}</Point></Rectangle>
  <Circle Index="3" Label="Œdème"><Center>{x + 50},{y + 50}</Center><Point>{x + 40},{y + 50}</Point></Circle>
  <Line Index="4"><StartPoint>{x},{y}</StartPoint><EndPoint>{x + 9},{y + 9}</EndPoint></Line>
</Annotation>"""


def write_many(folder, count, make):
    for n in range(count):
        path = pathlib.Path(folder) / f"batch-{n // 1000:02}" / f"frame-{n:05}.xml"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(make(n), encoding="utf-8")


def main(args):
    if len(args) == 2 and args[0] == "large":
        pathlib.Path(args[1]).write_text(frame("large", 10000, 234), encoding="utf-8")
    elif len(args) == 3 and args[0] == "tiny":
        write_many(args[1], int(args[2]), tiny)
    elif len(args) == 3 and args[0] == "medium":
        write_many(args[1], int(args[2]), lambda n: frame(f"frame-{n:05}", 30, 235))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
