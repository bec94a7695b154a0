#!/usr/bin/env python3
"""Writes COUNT small annotation files (640 x 480, three regions, one in a mask, and four marks)
into FOLDER/batch-NN/frame-NNNNN.xml, 1000 to a folder.

Usage: bench/generate_frames.py FOLDER COUNT
"""
import pathlib
import sys

TEMPLATE = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:05}.png</FileName><Height>480</Height><Width>640</Width></ImageInformation>
  <User UserID="bench" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#E53935"/><Label LabelType="Œdème" LabelColor="#1E88E5"/></LabelList>
  <Mask Index="1" Color="#FF000080" Description="Lesion">
    <Polygon Index="1" Label="Polyp"><Point>{x},{y}</Point><Point>{x30},{y5}</Point><Point>{x12},{y40}</Point></Polygon>
  </Mask>
  <Rectangle Index="2" Label="Polyp"><Point>{x},{y}</Point><Point>{x20},{y}</Point><Point>{x20},{y20}</Point><Point>{x},{y20}</Point></Rectangle>
  <Circle Index="3" Label="Œdème"><Center>{x50},{y50}</Center><Point>{x40},{y50}</Point></Circle>
  <Line Index="4"><StartPoint>{x},{y}</StartPoint><EndPoint>{x9},{y9}</EndPoint></Line>
  <Ruler Index="5" Color="#FFEB3B"><StartPoint>{x},{y50}</StartPoint><EndPoint>{x40},{y50}</EndPoint></Ruler>
  <Angle Index="6" Color="#FFEB3B"><Point>{x},{y}</Point><Point>{x20},{y20}</Point><Point>{x40},{y}</Point></Angle>
  <Text Index="7" TextColor="#FFFFFF"><Position>{x},{y}</Position><Content>frame {n}</Content></Text>
</Annotation>"""


def main():
    folder, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
    for n in range(count):
        x, y = n % 560, n % 400
        path = folder / f"batch-{n // 1000:02}" / f"frame-{n:05}.xml"
        path.parent.mkdir(parents=True, exist_ok=True)
        offsets = {f"x{d}": x + d for d in (5, 9, 12, 20, 30, 40, 50)}
        offsets.update({f"y{d}": y + d for d in (5, 9, 12, 20, 30, 40, 50)})
        path.write_text(TEMPLATE.format(n=n, x=x, y=y, **offsets), encoding="utf-8")


if __name__ == "__main__":
    main()
