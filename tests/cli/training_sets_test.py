#!/usr/bin/env python3
"""End-to-end tests of the training-set commands: dataset, check, masks and yolo.

Each output is read back and checked against an independent computation from the input points.
Run by ctest with ANNOXML (the built binary) and ANNOXML_SOURCE_DIR; arguments select classes.
"""
import json
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")
SOURCE = Path(os.environ.get("ANNOXML_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BATCH = SOURCE / "examples" / "batch"
GOLDEN = SOURCE / "tests" / "cli" / "data" / "dataset" / "instances.json"

FRAME = """<Annotation>
  <ImageInformation><FileName>{name}.png</FileName><Height>20</Height><Width>30</Width></ImageInformation>
  <User UserID="u" Time="2026/01/02 03:04:05"/>
  <LabelList><Label LabelType="{label}" LabelColor="#FF0000"/></LabelList>
  <Rectangle Index="1" Label="{label}"><Point>2,3</Point><Point>12,3</Point><Point>12,8</Point><Point>2,8</Point></Rectangle>
  <Polygon Index="2" Label="{label}"><Point>20,2</Point><Point>28,2</Point><Point>24,10</Point></Polygon>
</Annotation>"""
RECTANGLE = [(2, 3), (12, 3), (12, 8), (2, 8)]
TRIANGLE = [(20, 2), (28, 2), (24, 10)]


def run(*args):
    return subprocess.run([*TOOL, *map(str, args)], capture_output=True, text=True, timeout=120)


def shoelace(points):
    twice = sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(points, points[1:] + points[:1]))
    return abs(twice) / 2


def box(points):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return [min(xs), min(ys), max(xs) - min(xs), max(ys) - min(ys)]


def inside(points, x, y):
    """Even-odd point-in-polygon test."""
    result = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def read_png(path):
    """Width, height, bit depth and rows of a grey PNG without interlacing."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = header[:4]
    assert colour == 0, f"{path}: colour type {colour}"
    raw = zlib.decompress(idat)
    step = width * depth // 8
    rows, previous, pos = [], bytearray(step), 0
    unit = max(1, depth // 8)
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + step])
        pos += 1 + step
        for i in range(step):
            left = line[i - unit] if i >= unit else 0
            up, corner = previous[i], previous[i - unit] if i >= unit else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append([int.from_bytes(line[i:i + unit], "big") for i in range(0, step, unit)])
        previous = line
    return width, height, depth, rows


class TrainingSetTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="annoxml-sets-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def frames(self, names, label="Polyp"):
        for name in names:
            path = self.tmp / "in" / f"{name}.xml"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(FRAME.format(name=Path(name).name, label=label), encoding="utf-8")
        return self.tmp / "in"


class DatasetTest(TrainingSetTest):
    def test_examples_give_a_consistent_coco_file(self):
        out = self.tmp / "instances.json"
        result = run("dataset", BATCH, "-o", out, "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        data = json.loads(out.read_text(encoding="utf-8"))
        images = {image["id"]: image for image in data["images"]}
        categories = {category["id"] for category in data["categories"]}
        self.assertEqual(len(images), 4)
        self.assertEqual(len({a["id"] for a in data["annotations"]}), len(data["annotations"]))
        for annotation in data["annotations"]:
            with self.subTest(annotation=annotation["id"]):
                self.assertIn(annotation["image_id"], images)
                self.assertIn(annotation["category_id"], categories)
                flat = annotation["segmentation"][0]
                self.assertGreaterEqual(len(flat), 6)
                points = list(zip(flat[0::2], flat[1::2]))
                self.assertEqual(annotation["bbox"], box(points))
                self.assertAlmostEqual(annotation["area"], shoelace(points), places=6)
        self.assertTrue(all(isinstance(image["width"], int) for image in images.values()))

    def test_examples_match_the_golden_data_set(self):
        out = self.tmp / "instances.json"
        self.assertEqual(run("dataset", BATCH, "-o", out, "--indent", 2, "--quiet").returncode, 0)
        self.assertEqual(out.read_bytes(), GOLDEN.read_bytes(), f"{out} differs from {GOLDEN}")

    def test_numbers_are_shortest_and_sampled_vertices_hundredths(self):
        """Python's own shortest repr against each written number; the outline of a circle and
        an ellipse read back: hundredths, within 0.25 px of the curve, area and box its own."""
        (self.tmp / "in").mkdir()
        (self.tmp / "in" / "f.xml").write_text(FRAME.replace(
            "<Polygon", '<Circle Index="3" Label="{label}"><Center>12.345,9.8765</Center>'
            '<Point>19.1,9.8765</Point></Circle><Ellipse Index="4" Label="{label}"><AxisPoints>'
            "<Point>1.5,2</Point><Point>9.25,6.5</Point></AxisPoints><HeightPoint>3,6</HeightPoint>"
            "</Ellipse><Polygon").format(name="f", label="Polyp"), encoding="utf-8")
        out = self.tmp / "set.json"
        self.assertEqual(run("dataset", self.tmp / "in", "-o", out).returncode, 0)
        texts = []
        data = json.loads(out.read_text(), parse_float=lambda t: texts.append(t) or float(t))

        def digits(text):
            return text.split("e")[0].replace("-", "").replace(".", "").strip("0")
        for text in texts:
            self.assertEqual(len(digits(text)), len(digits(repr(float(text)))), text)
        kinds = {a["attributes"]["kind"]: a for a in data["annotations"]}
        radius = 19.1 - 12.345
        for kind in ("Circle", "Ellipse"):
            flat = kinds[kind]["segmentation"][0]
            self.assertTrue(all(abs(v * 100 - round(v * 100)) < 1e-6 for v in flat), kind)
            points = list(zip(flat[0::2], flat[1::2]))
            self.assertEqual(kinds[kind]["bbox"], box(points))
            self.assertAlmostEqual(kinds[kind]["area"], shoelace(points), places=9)
        flat = kinds["Circle"]["segmentation"][0]
        points = list(zip(flat[0::2], flat[1::2]))
        for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
            for t in (0, 0.25, 0.5, 0.75):
                x, y = x1 + (x2 - x1) * t, y1 + (y2 - y1) * t
                self.assertLessEqual(abs(((x - 12.345) ** 2 + (y - 9.8765) ** 2) ** 0.5 - radius),
                                     0.25)

    def test_geometry_and_file_names_of_a_small_tree(self):
        out = self.tmp / "set.json"
        self.assertEqual(run("dataset", self.frames(["v1/a", "b"]), "-o", out).returncode, 0)
        data = json.loads(out.read_text())
        self.assertEqual([i["file_name"] for i in data["images"]], ["b.png", "v1/a.png"])
        first, second = data["annotations"][:2]
        self.assertEqual(first["bbox"], [2, 3, 10, 5])
        self.assertEqual(first["area"], 50)
        self.assertEqual(second["area"], shoelace(TRIANGLE))
        self.assertEqual(first["attributes"]["kind"], "Rectangle")

    def test_any_number_of_threads_gives_the_same_bytes(self):
        # Labels in order of first appearance, ids and failures all follow input order, however
        # the files are spread over the threads that read them.
        folder = self.tmp / "in"
        for i in range(300):
            path = folder / f"s{i % 7}" / f"{i:03}.xml"
            path.parent.mkdir(parents=True, exist_ok=True)
            text = FRAME.format(name=f"{i:03}", label=f"L{(i * 37) % 11}")
            if i % 41 == 5:
                text = text.replace("<Point>2,3</Point>", "<Point>2,x</Point>")
            path.write_text(text, encoding="utf-8")
        outputs = []
        for jobs in (1, 2, 3, 8):
            with self.subTest(jobs=jobs):
                out = self.tmp / "set.json"
                result = run("dataset", folder, "-o", out, "-j", jobs, "--indent", 1, "-q")
                self.assertEqual(result.returncode, 1)
                outputs.append((out.read_bytes(), result.stderr))
        self.assertEqual(outputs[0][1].count("is not a number"), 8)
        for other in outputs[1:]:
            self.assertEqual(other, outputs[0])

    def test_a_failing_file_is_left_out_and_strict_writes_nothing(self):
        folder = self.frames(["good"])
        (folder / "bad.xml").write_text(FRAME.format(name="bad", label="Polyp").replace(
            'Label="Polyp"><Point>2', 'Label="Polpy"><Point>2'), encoding="utf-8")
        out = self.tmp / "set.json"
        result = run("dataset", folder, "-o", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn('bad.xml: Rectangle with Index 1: label "Polpy" is not in the label list',
                      result.stderr)
        self.assertEqual(len(json.loads(out.read_text())["images"]), 1)
        strict = self.tmp / "strict.json"
        self.assertEqual(run("dataset", folder, "-o", strict, "--strict").returncode, 1)
        self.assertFalse(strict.exists())
        self.assertEqual([p.name for p in self.tmp.iterdir() if p.name.startswith(".")], [])

    def test_splits_are_stable_and_keep_folders_whole(self):
        names = [f"p{p}/f{f}" for p in range(12) for f in range(3)]
        folder = self.frames(names[:24])
        # Seed 1: every split gets a folder of the 8 and of the 12 (an empty split fails).
        args = ["--split", "train=0.6,val=0.2,test=0.2", "--group-by", "folder", "--seed", "1"]

        def assignment():
            out = self.tmp / "s.json"
            self.assertEqual(run("dataset", folder, "-o", out, *args, "--quiet").returncode, 0)
            result = {}
            for split in ("train", "val", "test"):
                data = json.loads((self.tmp / f"s_{split}.json").read_text())
                self.assertEqual(len(data["categories"]), 1)
                result.update({i["file_name"]: split for i in data["images"]})
            return result

        before = assignment()
        self.frames(names[24:])
        after = assignment()
        self.assertEqual({k: after[k] for k in before}, before)
        for patient in range(12):
            self.assertEqual(len({s for k, s in after.items() if k.startswith(f"p{patient}/")}), 1)


class CheckTest(TrainingSetTest):
    def test_findings_as_lines_and_json(self):
        folder = self.frames(["ok"])
        (folder / "odd.xml").write_text(FRAME.format(name="odd", label="Polyp").replace(
            "<Point>28,2</Point>", "<Point>38,2</Point>").replace('Index="2"', 'Index="1"'),
            encoding="utf-8")
        result = run("check", folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("odd.xml: warning: Polygon with Index 1: partly outside the 30x20 image",
                      result.stderr)
        self.assertEqual(run("check", folder, "--warnings-as-errors").returncode, 1)
        findings = [json.loads(line) for line in run("check", folder, "--json").stdout.splitlines()]
        self.assertTrue(findings)
        self.assertTrue(all(f["severity"] == "warning" for f in findings))


class MasksTest(TrainingSetTest):
    def test_pixels_agree_with_point_in_polygon(self):
        out = self.tmp / "masks"
        for mode, depth, values in (("binary", 8, (255, 255)), ("category", 8, (1, 1)),
                                    ("instance", 16, (1, 2))):
            with self.subTest(mode=mode):
                result = run("masks", self.frames(["f"]), "--out-dir", out, "--mode", mode)
                self.assertEqual(result.returncode, 0, result.stderr)
                width, height, bits, rows = read_png(out / "f.png")
                self.assertEqual((width, height, bits), (30, 20, depth))
                for y in range(height):
                    for x in range(width):
                        expected = 0
                        for outline, value in zip((RECTANGLE, TRIANGLE), values):
                            if inside(outline, x + 0.5, y + 0.5):
                                expected = value
                        self.assertEqual(rows[y][x], expected, f"{mode} pixel {x},{y}")
        self.assertTrue((out / "categories.json").exists())


class YoloTest(TrainingSetTest):
    def test_labels_read_back_to_the_boxes_and_outlines(self):
        out = self.tmp / "yolo"
        for task in ("detect", "segment"):
            with self.subTest(task=task):
                result = run("yolo", self.frames(["f"]), "--out-dir", out, "--task", task)
                self.assertEqual(result.returncode, 0, result.stderr)
                lines = (out / "labels" / "train" / "f.txt").read_text().splitlines()
                self.assertEqual(len(lines), 2)
                for line, outline in zip(lines, (RECTANGLE, TRIANGLE)):
                    numbers = [float(v) for v in line.split()[1:]]
                    self.assertEqual(line.split()[0], "0")
                    if task == "detect":
                        x, y, w, h = box(outline)
                        expected = [(x + w / 2) / 30, (y + h / 2) / 20, w / 30, h / 20]
                    else:
                        expected = [v / s for p in outline for v, s in zip(p, (30, 20))]
                    for got, want in zip(numbers, expected):
                        self.assertAlmostEqual(got, want, delta=1e-6)
        self.assertIn('0: "Polyp"', (out / "data.yaml").read_text())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
