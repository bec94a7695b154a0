#!/usr/bin/env python3
"""The Python package against pure-Python peers, whole processes timed with /usr/bin/time -v.

    python_bench.py run RUNS [WORK_DIR]   generate the inputs, alternate the programs RUNS times,
                                          print medians of wall time and peak memory, and ratios
    python_bench.py CASE DIR              one program (what `run` times)

Cases (each reads DIR and keeps what it builds as a training loop would):
    read-annoxml     annoxml.Study(DIR, threads=2): every frame and every region's outline
    read-peer        ElementTree + NumPy: the same frames as dicts, outlines as (N, 2) arrays
    targets-annoxml  boxes, labels and instance masks of every frame (annoxml.torch's targets)
    targets-peer     the same with ElementTree and PIL's ImageDraw.polygon
    floor            the interpreter importing NumPy and annoxml, nothing else (the read floor)
    floor-torch      the same importing torch and PIL too (the target cases' floor)
Each program prints the seconds its work took after the imports; `run` reports their medians too.
Run with the interpreter that has the package installed (a venv over Debian's python3).
"""
import math
import os
import pathlib
import re
import statistics
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import numpy as np

BENCH = pathlib.Path(__file__).resolve().parent
SMALL_FRAMES = 10_000
LARGE_FRAMES = 1_000
CIRCLE_POINTS = 64

LARGE = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:04}.png</FileName><Height>1080</Height><Width>1920</Width></ImageInformation>
  <User UserID="bench" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#E53935"/><Label LabelType="Ulcer" LabelColor="#1E88E5"/></LabelList>
  <Polygon Index="1" Label="Polyp"><Point>{x},{y}</Point><Point>{x300},{y40}</Point><Point>{x260},{y320}</Point><Point>{x20},{y280}</Point><Point>{x120},{y150}</Point></Polygon>
  <Rectangle Index="2" Label="Ulcer"><Point>{x},{y}</Point><Point>{x200},{y}</Point><Point>{x200},{y120}</Point><Point>{x},{y120}</Point></Rectangle>
  <Circle Index="3" Label="Polyp"><Center>{x500},{y300}</Center><Point>{x650},{y300}</Point></Circle>
</Annotation>"""


def generate_large(folder: pathlib.Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    for n in range(LARGE_FRAMES):
        x, y = n % 1000, n % 500
        offsets = {f"x{d}": x + d for d in (20, 120, 200, 260, 300, 500, 650)}
        offsets.update({f"y{d}": y + d for d in (40, 120, 150, 280, 300, 320)})
        (folder / f"frame-{n:04}.xml").write_text(LARGE.format(n=n, x=x, y=y, **offsets))


# ---- the annoxml programs

def read_annoxml(folder: str) -> list:
    import annoxml

    frames = []
    for item in annoxml.Study(folder, threads=2):
        frame = item.frame
        frames.append((frame, [region.outline for region in frame.regions]))
    return frames


def targets_annoxml(folder: str) -> int:
    import annoxml
    from annoxml.torch import _target

    count = 0
    for item in annoxml.Study(folder, threads=2):
        # A study item's frame holds only the regions that count: all are kept.
        kept = list(range(len(item.frame.regions)))
        target = _target(item.frame, kept, item.category_ids, item.image_id)
        count += int(target["masks"].shape[0])
    return count


# ---- the pure-Python peers

def points(element) -> np.ndarray:
    return np.array([[float(v) for v in p.text.split(",")] for p in element.iter("Point")])


def circle(element) -> np.ndarray:
    cx, cy = (float(v) for v in element.find("Center").text.split(","))
    px, py = (float(v) for v in element.find("Point").text.split(","))
    radius = math.hypot(px - cx, py - cy)
    angles = np.linspace(0, 2 * math.pi, CIRCLE_POINTS, endpoint=False)
    return np.stack([cx + radius * np.cos(angles), cy + radius * np.sin(angles)], axis=1)


AREA_KINDS = {"Rectangle": points, "Polygon": points, "FreehandContour": points, "Circle": circle}


def peer_frame(path: str) -> dict:
    root = ElementTree.parse(path).getroot()
    info = root.find("ImageInformation")
    frame = {
        "file_name": info.findtext("FileName"),
        "width": int(info.findtext("Width")),
        "height": int(info.findtext("Height")),
        "labels": [(e.get("LabelType"), e.get("LabelColor")) for e in root.iter("Label")],
        "regions": [],
        "marks": [],
    }
    for element in root.iter():
        if element.tag in AREA_KINDS:
            outline = AREA_KINDS[element.tag](element)
            low, high = outline.min(axis=0), outline.max(axis=0)
            x, y = outline[:, 0], outline[:, 1]
            area = abs(np.dot(x, np.roll(y, -1)) - np.dot(y, np.roll(x, -1))) / 2
            frame["regions"].append({"kind": element.tag, "index": element.get("Index"),
                                     "label": element.get("Label"), "outline": outline,
                                     "box": (*low, *(high - low)), "area": area})
        elif element.tag in ("Line", "Ruler", "Angle", "Text"):
            parts = [np.array([[float(v) for v in e.text.split(",")]
                               for e in element if e.text and "," in e.text])]
            frame["marks"].append({"kind": element.tag, "parts": parts})
    return frame


def xml_files(folder: str) -> list:
    return sorted(str(p) for p in pathlib.Path(folder).rglob("*.xml"))


def read_peer(folder: str) -> list:
    return [peer_frame(path) for path in xml_files(folder)]


def targets_peer(folder: str) -> int:
    import torch
    from PIL import Image, ImageDraw

    names = {}
    count = 0
    for path in xml_files(folder):
        frame = peer_frame(path)
        regions = frame["regions"]
        masks = np.zeros((len(regions), frame["height"], frame["width"]), dtype=np.uint8)
        boxes = np.zeros((len(regions), 4), dtype=np.float32)
        for i, region in enumerate(regions):
            image = Image.new("L", (frame["width"], frame["height"]), 0)
            ImageDraw.Draw(image).polygon([tuple(p) for p in region["outline"]], fill=1)
            masks[i] = np.asarray(image)
            x, y, w, h = region["box"]
            boxes[i] = (x, y, x + w, y + h)
        labels = [names.setdefault(r["label"], len(names) + 1) for r in regions]
        target = {"boxes": torch.from_numpy(boxes), "labels": torch.tensor(labels),
                  "masks": torch.from_numpy(masks)}
        count += int(target["masks"].shape[0])
    return count


def floor(folder: str) -> None:
    """The interpreter with NumPy (imported above)."""


def floor_torch(folder: str) -> None:
    import torch  # noqa: F401


CASES = {"read-annoxml": read_annoxml, "read-peer": read_peer,
         "targets-annoxml": targets_annoxml, "targets-peer": targets_peer, "floor": floor,
         "floor-torch": floor_torch}


# ---- the comparison

def timed(command: list) -> tuple:
    """Wall seconds, peak resident kilobytes, and the seconds of the work after the imports."""
    result = subprocess.run(["/usr/bin/time", "-v", *command], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"python_bench: {' '.join(command)} failed:\n{result.stderr}")
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", result.stderr)
    hours, minutes, seconds = int(wall.group(1) or 0), int(wall.group(2)), float(wall.group(3))
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return hours * 3600 + minutes * 60 + seconds, peak, float(result.stdout.split()[-1])


def run(runs: int, work: pathlib.Path) -> None:
    small, large = work / "small", work / "large"
    if not small.exists():
        subprocess.run([sys.executable, str(BENCH / "generate_frames.py"), str(small),
                        str(SMALL_FRAMES)], check=True)
    if not large.exists():
        generate_large(large)
    programs = [("read-annoxml", small), ("read-peer", small), ("targets-annoxml", large),
                ("targets-peer", large), ("floor", small), ("floor-torch", small)]
    samples = {name: [] for name, _ in programs}
    for _ in range(runs):
        for name, folder in programs:
            samples[name].append(timed([sys.executable, __file__, name, str(folder)]))
    medians = {}
    work = {}
    print("median wall s | median peak MB | median s after imports | program")
    for name, taken in samples.items():
        medians[name] = statistics.median(s[0] for s in taken)
        peak = statistics.median(s[1] for s in taken) / 1024
        work[name] = statistics.median(s[2] for s in taken)
        print(f"{medians[name]:13.2f} | {peak:14.0f} | {work[name]:22.3f} | {name}")
    for case, floor_name in (("read", "floor"), ("targets", "floor-torch")):
        peer, ours, base = medians[case + "-peer"], medians[case + "-annoxml"], medians[floor_name]
        print(f"{case}: peer / annoxml = {peer / ours:.1f}x whole process, "
              f"{(peer - base) / max(ours - base, 1e-3):.1f}x above the floor ({floor_name}), "
              f"{work[case + '-peer'] / work[case + '-annoxml']:.1f}x after the imports")


def main() -> None:
    if len(sys.argv) >= 3 and sys.argv[1] == "run":
        work = pathlib.Path(sys.argv[3] if len(sys.argv) > 3 else "/tmp/annoxml-python-bench")
        run(int(sys.argv[2]), work)
    elif len(sys.argv) == 3 and sys.argv[1] in CASES:
        import annoxml  # noqa: F401  (the imports are the floor's, not the work's)
        if sys.argv[1].startswith("targets") or sys.argv[1] == "floor-torch":
            import PIL.ImageDraw  # noqa: F401
            import torch  # noqa: F401

            import annoxml.torch  # noqa: F401
        start = time.perf_counter()
        CASES[sys.argv[1]](sys.argv[2])
        print(f"{time.perf_counter() - start:.6f}")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
