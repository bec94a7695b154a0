#!/usr/bin/env python3
"""End-to-end tests of `annoxml agree`: the JSON numbers on small folders computed by hand,
consensus masks against `annoxml masks`, bad input, and the report page in headless chromium.

Run by ctest with ANNOXML (the built binary); arguments select classes. AgreeBrowserTest exits
77 (skipped) when chromium is not installed.
"""
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from browser_png import Image, write_png  # noqa: E402
from training_sets_test import read_png  # noqa: E402

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
SKIPPED = 77

FRAME_XML = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>{image}</FileName><Height>{height}</Height><Width>{width}</Width></ImageInformation>
  <User UserID="rater" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#E53935"/><Label LabelType="Bleeding" LabelColor="#1E88E5"/></LabelList>
{shapes}
</Annotation>"""

MEASURES = ["dice", "iou", "dice_mean", "iou_mean", "precision", "recall", "f1", "matched_iou",
            "kappa"]


def box(index, label, x, y, w, h):
    return (f'  <Rectangle Index="{index}" Label="{label}"><Point>{x},{y}</Point>'
            f"<Point>{x + w},{y}</Point><Point>{x + w},{y + h}</Point><Point>{x},{y + h}</Point>"
            "</Rectangle>")


def write_frame(path, shapes, width=40, height=20, image=None):
    path.parent.mkdir(parents=True, exist_ok=True)
    image = image or path.stem + ".png"
    path.write_text(FRAME_XML.format(image=image, width=width, height=height,
                                     shapes="\n".join(shapes)), encoding="utf-8")


def run(*args):
    return subprocess.run([*TOOL, *map(str, args)], capture_output=True, text=True, timeout=120)


class Folders:
    """Rater folders a, b, c below a temporary folder; the same three frames in each by
    default (two in v1/, one at the top), and one frame only a has."""

    SHAPES = {
        "v1/f1.xml": [box(1, "Polyp", 2, 2, 10, 10), box(2, "Bleeding", 20, 4, 8, 6)],
        "v1/f2.xml": [box(1, "Polyp", 5, 5, 6, 6)],
        "f3.xml": [],
    }

    def __init__(self, case):
        self.root = Path(tempfile.mkdtemp(prefix="annoxml-agree-"))
        case.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        for rater in "abc":
            for path, shapes in self.SHAPES.items():
                write_frame(self.root / rater / path, shapes)
        write_frame(self.root / "a" / "only-a.xml", [])

    def __getitem__(self, rater):
        return self.root / rater


class AgreeTest(unittest.TestCase):
    def agree_json(self, *args):
        result = run("agree", *args, "--json", "-q")
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def test_identical_raters_agree_completely_in_the_documented_shape(self):
        folders = Folders(self)
        report = self.agree_json(folders["a"], folders["b"], folders["c"])
        self.assertEqual(list(report), ["raters", "frames", "unmatched_frames", "pairs",
                                        "fleiss_kappa", "mean_of_pairs"])
        self.assertEqual(report["raters"], [str(folders[r]) for r in "abc"])
        self.assertEqual(report["frames"], 3)
        self.assertEqual(report["unmatched_frames"], ["only-a.xml"])
        self.assertEqual([(p["a"], p["b"]) for p in report["pairs"]],
                         [(str(folders[a]), str(folders[b])) for a, b in ("ab", "ac", "bc")])
        for pair in report["pairs"] + [report["mean_of_pairs"]]:
            self.assertEqual(sorted(pair["per_category"]), ["Bleeding", "Polyp"])
            self.assertEqual(sorted(pair["per_folder"]), [".", "v1"])
            for scope in [pair["overall"], *pair["per_category"].values(),
                          pair["per_folder"]["v1"]]:
                self.assertEqual(list(scope), MEASURES)
                self.assertEqual(set(scope.values()), {1.0}, scope)
            # f3.xml, at the top, has no region: nothing to measure but presence.
            top = pair["per_folder"]["."]
            self.assertEqual([k for k, v in top.items() if v is not None], [])
        self.assertEqual(report["fleiss_kappa"], {"Polyp": 1.0, "Bleeding": 1.0})

    def test_a_shifted_box_and_a_missed_box_by_hand(self):
        folders = Folders(self)
        # b: the polyp of f1 shifted right by 2 (80 of 100 pixels shared), its bleeding left out.
        write_frame(folders["b"] / "v1" / "f1.xml", [box(1, "Polyp", 4, 2, 10, 10)])
        report = self.agree_json(folders["a"], folders["b"])
        self.assertNotIn("fleiss_kappa", report)
        pair = report["pairs"][0]
        polyp = pair["per_category"]["Polyp"]
        # pooled over f1 (80 shared of 100 + 100) and f2 (36 of 36 + 36)
        self.assertAlmostEqual(polyp["dice"], 2 * 116 / 272)
        self.assertAlmostEqual(polyp["iou"], 116 / 156)
        self.assertAlmostEqual(polyp["dice_mean"], (0.8 + 1) / 2)
        self.assertAlmostEqual(polyp["iou_mean"], (80 / 120 + 1) / 2)
        self.assertAlmostEqual(polyp["matched_iou"], (80 / 120 + 1) / 2)
        self.assertEqual(polyp["recall"], 1.0)
        bleeding = pair["per_category"]["Bleeding"]
        self.assertEqual((bleeding["recall"], bleeding["precision"]), (0.0, None))
        self.assertEqual(bleeding["dice"], 0.0)
        # three regions in a, two matched
        self.assertAlmostEqual(pair["overall"]["recall"], 2 / 3)
        self.assertAlmostEqual(pair["overall"]["f1"], 4 / 5)

    def test_tables_list_the_frames_left_out(self):
        folders = Folders(self)
        result = run("agree", folders["a"], folders["b"], "-q")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Frames compared: 3", result.stdout)
        self.assertIn("only-a.xml", result.stdout)

    def test_consensus_masks_match_the_masks_command(self):
        folders = Folders(self)
        # c disagrees on f1: the consensus is what a and b drew.
        write_frame(folders["c"] / "v1" / "f1.xml", [box(1, "Bleeding", 0, 0, 30, 15)])
        out, masks = folders.root / "consensus", folders.root / "masks"
        for method in ("majority", "staple"):
            with self.subTest(method=method):
                if out.exists():  # written by the run before: replaced as a whole
                    (out / "stale").mkdir()
                result = run("agree", folders["a"], folders["b"], folders["c"], "-q",
                             "--consensus", out, "--method", method)
                self.assertEqual(result.returncode, 0, result.stderr)
                shutil.rmtree(masks, ignore_errors=True)
                result = run("masks", folders["b"], "--out-dir", masks, "--mode", "category",
                             "-q")
                self.assertEqual(result.returncode, 0, result.stderr)
                expected = sorted(p.relative_to(masks) for p in masks.rglob("*.png"))
                self.assertEqual(sorted(p.relative_to(out) for p in out.rglob("*.png")),
                                 expected)
                for name in expected:
                    self.assertEqual(read_png(out / name), read_png(masks / name), name)
                self.assertFalse((out / "stale").exists(), "the folder is replaced as a whole")
                self.assertEqual(json.loads((out / "categories.json").read_text()),
                                 json.loads((masks / "categories.json").read_text()))

    def test_staple_reports_each_raters_estimates(self):
        folders = Folders(self)
        report = self.agree_json(folders["a"], folders["b"], "--consensus",
                                 folders.root / "out", "--method", "staple")
        self.assertEqual(sorted(report["staple"]), ["Bleeding", "Polyp"])
        for estimates in report["staple"].values():
            self.assertEqual([e["rater"] for e in estimates], [str(folders["a"]),
                                                                str(folders["b"])])
            for estimate in estimates:
                self.assertAlmostEqual(estimate["sensitivity"], 1, places=6)
                self.assertAlmostEqual(estimate["specificity"], 1, places=6)

    def test_bad_input(self):
        folders = Folders(self)
        (folders.root / "empty").mkdir()
        write_frame(folders["c"] / "v1" / "f2.xml", [], width=41)
        cases = [
            ((folders["a"],), 2, "two folders or more"),
            ((folders["a"], f"{folders['a']}/"), 2, "given twice"),
            ((folders["a"], folders.root / "missing"), 2, "is not a folder"),
            ((folders["a"], folders["b"], "--consensus", folders.root / "o"), 2,
             "majority needs three folders"),
            ((folders["a"], folders.root / "empty"), 1, "no frame is in every folder"),
            ((folders["a"], folders["c"]), 1, "41x20 here but 40x20"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                result = run("agree", *args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(message, result.stderr)


@unittest.skipIf(CHROMIUM is None, "chromium is not installed")
class AgreeBrowserTest(unittest.TestCase):
    IMAGE = (30, 60, 200)
    RATERS = [(230, 25, 75), (60, 180, 75)]  # the first two rater colours of the page
    FILL = 0.35 * 0.6

    def test_the_frame_of_lowest_agreement_is_drawn_over_its_image(self):
        folders = Folders(self)
        for rater, x in (("a", 40), ("b", 240)):
            write_frame(folders[rater] / "low.xml", [box(1, "Polyp", x, 50, 120, 100)],
                        width=400, height=200, image="low.png")
            write_png(folders[rater] / "low.png", 400, 200, lambda x, y: self.IMAGE)
        out = folders.root / "report"
        result = run("agree", folders["a"], folders["b"], "-q", "--report", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        page = out / "index.html"
        dom = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr",
             "--v=0", "--dump-dom", page.as_uri()], capture_output=True, text=True, timeout=90)
        self.assertEqual([l for l in dom.stderr.splitlines() if ":CONSOLE" in l], [])
        self.assertEqual(dom.stdout.count('<section class="frame"'), 1)
        shot = folders.root / "shot.png"
        subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--force-device-scale-factor=1", "--virtual-time-budget=3000",
             f"--screenshot={shot}", "--window-size=900,2400", page.as_uri()],
            capture_output=True, timeout=90)
        image = Image(shot)
        view = image.box_of(self.IMAGE)
        self.assertIsNotNone(view, "the frame's image is not shown")
        width = view[2] - view[0] + 1
        boxes = []
        for color in self.RATERS:
            blended = tuple(round(self.FILL * c + (1 - self.FILL) * u)
                            for c, u in zip(color, self.IMAGE))
            found = image.box_of(blended, tolerance=4)
            self.assertIsNotNone(found, f"no region filled with {blended}")
            boxes.append(found)
        # a's box covers x 40..160 of 400, b's 240..360: each in its own colour, a left of b.
        for found, left in zip(boxes, (40, 240)):
            self.assertAlmostEqual((found[0] - view[0]) / width, left / 400, delta=0.02)
            self.assertAlmostEqual((found[2] - view[0] + 1) / width, (left + 120) / 400,
                                   delta=0.02)


if __name__ == "__main__":
    if CHROMIUM is None and any("Browser" in arg for arg in sys.argv[1:]):
        print("chromium is not installed; skipped", file=sys.stderr)
        sys.exit(SKIPPED)
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
