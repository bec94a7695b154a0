"""Shared fixtures: a small generated study with images, and the annoxml tool to compare with.

The tool is $ANNOXML, else build/annoxml of the source tree; comparisons with it are skipped
when neither exists.
"""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

SOURCE = Path(__file__).resolve().parents[2]

# Frames of 48 x 32 with every area kind, a mask, marks, two labels and a rename candidate.
FRAME = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>{name}.png</FileName><Height>32</Height><Width>48</Width></ImageInformation>
  <User UserID="u{n}" Time="2026/01/02 03:04:{n:02}"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#FF0000"/><Label LabelType="{other}" LabelColor="#00FF00"/></LabelList>
  <Mask Index="1" Color="#FF000080" Description="Lesion">
    <Polygon Index="1" Label="Polyp"><Point>{x},2</Point><Point>{x8}.5,3</Point><Point>{x4},12.25</Point></Polygon>
  </Mask>
  <Rectangle Index="2" Label="{other}"><Point>2,14</Point><Point>14,14</Point><Point>14,22</Point><Point>2,22</Point></Rectangle>
  <Circle Index="3" Label="Polyp"><Center>30,20</Center><Point>{r},20</Point></Circle>
  <Ellipse Index="4" Label="{other}"><Center>20,8</Center><HeightPoint>20,12</HeightPoint>
    <AxisPoints><Point>14,8</Point><Point>26,8</Point></AxisPoints></Ellipse>
  <FreehandContour Index="5" Label="Polyp"><Points><Point>40,25</Point><Point>47,28</Point><Point>44,31.5</Point><Point>38,30</Point></Points></FreehandContour>
  <Line Index="6"><StartPoint>0,0</StartPoint><EndPoint>10,10</EndPoint></Line>
  <Text Index="7" TextColor="#FFFFFF"><Position>20,20</Position><Content>note {n}</Content></Text>
  <CobbAngle Index="8"><PolyLine><Point>0,0</Point><Point>1,1</Point></PolyLine><Angle><Center>2,2</Center></Angle></CobbAngle>
</Annotation>"""

EMPTY = """<Annotation>
  <ImageInformation><FileName>{name}.png</FileName><Height>32</Height><Width>48</Width></ImageInformation>
  <User UserID="u" Time="2026/01/02 03:04:05"/>
</Annotation>"""

BROKEN = """<Annotation>
  <ImageInformation><FileName>broken.png</FileName><Height>32</Height><Width>48</Width></ImageInformation>
  <Circle Index="3" Label="Polyp"><Point>1,1</Point></Circle>
</Annotation>"""


def write_study(root: Path, count: int = 12, images: bool = True) -> Path:
    """COUNT frames in two folders (ward-a, ward-b), one without regions, one that fails."""
    from PIL import Image

    for n in range(count):
        folder = root / ("ward-a" if n % 2 else "ward-b")
        folder.mkdir(parents=True, exist_ok=True)
        name = f"frame-{n:03}"
        text = FRAME.format(
            name=name, n=n, x=2 + n % 5, x8=10 + n % 5, x4=6 + n % 5, r=34 + n % 3,
            other="Ulcer" if n % 3 else "ulcer")
        (folder / f"{name}.xml").write_text(text, encoding="utf-8")
        if images:
            pixels = np.full((32, 48, 3), n * 10 % 256, dtype=np.uint8)
            Image.fromarray(pixels).save(folder / f"{name}.png")
    (root / "ward-a" / "empty.xml").write_text(EMPTY.format(name="empty"), encoding="utf-8")
    if images:
        Image.fromarray(np.zeros((32, 48, 3), dtype=np.uint8)).save(root / "ward-a" / "empty.png")
    (root / "ward-b" / "broken.xml").write_text(BROKEN, encoding="utf-8")
    return root


@pytest.fixture(scope="session")
def study_dir(tmp_path_factory: pytest.TempPathFactory) -> Path:
    return write_study(tmp_path_factory.mktemp("study"))


@pytest.fixture(scope="session")
def tool() -> str:
    path = os.environ.get("ANNOXML") or str(SOURCE / "build" / "annoxml")
    if not os.access(path, os.X_OK):
        pytest.skip(f"the annoxml tool is not built at {path}")
    return path


def run_tool(tool: str, *args: object) -> subprocess.CompletedProcess:
    return subprocess.run([tool, *map(str, args)], capture_output=True, text=True, timeout=120)
