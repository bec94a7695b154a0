#!/usr/bin/env python3
"""End-to-end tests of `annoxml preview` and `annoxml stats` on small trees of files."""
import json
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from cli_test import ON_WINDOWS, TOOL, EXAMPLES, GOOD_XML, MALFORMED_XML, SKIPPED, TempDirTest, run, write_files  # noqa: E402

RICH_XML = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>rich.png</FileName><Height>480</Height><Width>640</Width></ImageInformation>
  <User UserID="tester" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Ulcer" LabelColor="#FB8C00"/><Label LabelType="Polyp" LabelColor="#E53935"/></LabelList>
  <Mask Index="1" Color="#FF000080">
    <Circle Index="1" Label="Polyp"><Center>50,50</Center><Point>60,50</Point></Circle>
    <Polygon Index="2" Label="Ulcer"><Point>0,0</Point><Point>9,0</Point><Point>0,9</Point></Polygon>
  </Mask>
  <Mask Index="2" Color="#00FF0080"/>
  <Polygon Index="3" Label="Polyp"><Point>0,0</Point><Point>9,0</Point><Point>0,9</Point></Polygon>
  <Ruler Index="4"><StartPoint>0,0</StartPoint><EndPoint>3,4</EndPoint></Ruler>
  <PointObject Index="5"><Point>1,1</Point></PointObject>
</Annotation>"""
EMPTY_XML = GOOD_XML.replace(
    '<Rectangle Index="1" Label="Polyp"><Point>1,2</Point><Point>5,2</Point><Point>5,9</Point>'
    '<Point>1,9</Point></Rectangle>', '<Text Index="1"><Position>1,1</Position><Content>x</Content></Text>')
assert EMPTY_XML != GOOD_XML

KINDS = ["Rectangle", "Polygon", "Circle", "FreehandContour", "Ellipse", "Line", "Ruler", "Text",
         "ArrowText", "PolyLine", "FreehandPolyLine", "Angle", "PointObject", "CobbAngle",
         "Deviation"]


def shape_counts(**counts):
    return {kind: counts.get(kind, 0) for kind in KINDS}


class StatsTest(TempDirTest):
    def small_tree(self, with_failure=True):
        files = {"a.xml": GOOD_XML.format(n=1), "deep/rich.xml": RICH_XML,
                 "deep/deeper/empty.xml": EMPTY_XML.format(n=2)}
        if with_failure:
            files["deep/bad.xml"] = MALFORMED_XML
        write_files(self.tmp / "tree", files)
        return self.tmp / "tree"

    def test_json_of_a_small_tree(self):
        tree = self.small_tree()
        result = run("stats", tree, "--json")
        self.assertEqual(result.returncode, 1, result.stderr)
        bad = str(tree / "deep" / "bad.xml")
        self.assertIn(f"annoxml: {bad}: Failed to load xml file: ", result.stderr)
        self.assertIn("3 files converted, 1 failed", result.stderr)
        stats = json.loads(result.stdout)
        message = stats["failed"][0].pop("message")
        self.assertTrue(message.startswith("Failed to load xml file: "), message)
        self.assertEqual(stats, {
            "frames": 3, "frames_without_regions": 1, "regions": 4, "marks": 3, "masks": 2,
            "regions_in_masks": 2,
            "shapes": shape_counts(Rectangle=1, Polygon=2, Circle=1, Ruler=1, PointObject=1, Text=1),
            # Files in byte order of their paths; a colour comes from the first file that gives one
            "categories": [{"name": "Polyp", "color": "#E53935", "regions": 3},
                           {"name": "Ulcer", "color": "#FB8C00", "regions": 1}],
            "failures": 1, "failed": [{"path": bad}]})

    def test_tables_on_standard_output_and_exit_0_when_all_files_are_read(self):
        tree = self.small_tree(with_failure=False)
        result = run("stats", tree)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Frames\n  frames            3\n  without regions   1\n", result.stdout)
        self.assertIn("\n  Polygon           2\n", result.stdout)
        self.assertIn("Regions per category\n  Polyp  3\n  Ulcer  1\n", result.stdout)
        self.assertNotIn("Failed files", result.stdout)
        quiet = run("stats", tree, "-q", "-j", "1")
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, result.stdout, ""))

    def test_the_examples(self):
        result = run("stats", EXAMPLES, "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        stats = json.loads(result.stdout)
        self.assertEqual((stats["frames"], stats["regions"], stats["marks"]), (5, 15, 14))
        self.assertTrue(all(count > 0 for count in stats["shapes"].values()), stats["shapes"])


class PreviewTest(TempDirTest):
    def test_pages_and_index_of_the_examples(self):
        out = self.tmp / "out"
        result = run("preview", EXAMPLES, "--out-dir", out, "--page-size", 2)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertIn("5 files converted, 0 failed", result.stderr)
        self.assertEqual(sorted(p.name for p in out.iterdir()),
                         [".annoxml-export", "index.html", "page-0001.html", "page-0002.html",
                          "page-0003.html"])
        sections = [(out / f"page-000{n}.html").read_text().count('<section class="frame"')
                    for n in (1, 2, 3)]
        self.assertEqual(sections, [2, 2, 1])
        last = (out / "page-0003.html").read_text()
        self.assertIn("colonoscopy/patient-0318/frame-0142.png", last)
        self.assertEqual(last.count('<g class="region"'), 9)
        self.assertEqual(last.count('<g class="mark"'), 10)

    def test_failed_files_are_listed_in_the_index_and_exit_1(self):
        write_files(self.tmp / "in", {"a.xml": GOOD_XML.format(n=1), "b.xml": MALFORMED_XML})
        result = run("preview", self.tmp / "in", "--out-dir", self.tmp / "out", "-q")
        self.assertEqual(result.returncode, 1, result.stderr)
        bad = str(self.tmp / "in" / "b.xml")
        self.assertTrue(result.stderr.startswith(f"annoxml: {bad}: Failed to load xml file: "),
                        result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1)
        index = (self.tmp / "out" / "index.html").read_text()
        self.assertIn(f"<code>{bad}</code>: Failed to load xml file: ", index)
        self.assertIn('<td>failed files</td><td class="n">1</td>', index)

    def test_usage_errors_exit_2(self):
        write_files(self.tmp / "in", {"a.xml": GOOD_XML.format(n=1)})
        cases = [
            ["preview", self.tmp / "in"],
            ["preview", self.tmp / "in", "--out-dir", self.tmp / "out", "--page-size", 0],
            ["preview", self.tmp / "in", "--out-dir", self.tmp / "out", "--images", self.tmp / "no"],
            ["stats"],
            ["stats", self.tmp / "in", "--jason"],
        ]
        for args in cases:
            with self.subTest(args=args[1:]):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertFalse((self.tmp / "out").exists())

    def test_an_output_folder_that_cannot_be_made_fails_cleanly(self):
        write_files(self.tmp, {"in/a.xml": GOOD_XML.format(n=1), "taken": ""})
        result = run("preview", self.tmp / "in", "--out-dir", self.tmp / "taken" / "out")
        self.assertEqual(result.returncode, 1)
        # Windows names the folder by its absolute Windows path (wine: Z:\tmp\...).
        taken = "Z:" + str(self.tmp / "taken").replace("/", "\\") if ON_WINDOWS else self.tmp / "taken"
        self.assertTrue(result.stderr.startswith(f"annoxml: Cannot create {taken}: "),
                        result.stderr)
        self.assertEqual(list(self.tmp.rglob("*.tmp-*")), [])

    def test_an_interrupted_run_leaves_the_earlier_preview_as_it_was(self):
        files = 4000
        write_files(self.tmp / "in", {f"f{n:04}.xml": GOOD_XML.format(n=n) for n in range(files)})
        write_files(self.tmp / "one", {"f.xml": GOOD_XML.format(n=1)})
        self.assertEqual(run("preview", self.tmp / "one", "--out-dir", self.tmp / "out").returncode, 0)
        before = {p.name: p.read_bytes() for p in (self.tmp / "out").iterdir()}
        process = subprocess.Popen([*TOOL, "preview", "in", "--out-dir", "out", "--page-size", "10",
                                    "-j", "2"], cwd=self.tmp, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        while not any(self.tmp.glob(".out.annoxml-new-*/page-*.html")) and process.poll() is None:
            time.sleep(0.002)
        process.send_signal(signal.SIGINT)
        _, stderr = process.communicate(timeout=120)
        if process.returncode == 0:
            self.skipTest("the run finished before the signal arrived")
        self.assertEqual(process.returncode, 130, stderr)
        self.assertIn("stopped by signal 2", stderr)
        self.assertEqual({p.name: p.read_bytes() for p in (self.tmp / "out").iterdir()}, before)
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["in", "one", "out"])


if __name__ == "__main__":
    outcome = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[1:]], exit=False).result
    if not outcome.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if outcome.skipped else 0)
