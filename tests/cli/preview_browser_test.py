#!/usr/bin/env python3
"""Renders preview pages in headless chromium and checks the screenshot's pixels.

Run by ctest with ANNOXML (the built binary). Skips (exit 77) when chromium is not installed.
"""
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

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
SKIPPED = 77

GRAY = (128, 128, 128)          # the neutral background of a frame without its image
LABEL = (0, 192, 0)             # the label's colour, #00C000
IMAGE = (30, 60, 200)           # the generated image's only colour
FILL_OPACITY = 0.35

FRAME_XML = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>{image}</FileName><Height>200</Height><Width>400</Width></ImageInformation>
  <User UserID="tester" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Lesion" LabelColor="#00C000"/></LabelList>
  <Rectangle Index="1" Color="#FF00FF" Label="Lesion"><Point>100,50</Point><Point>300,50</Point><Point>300,150</Point><Point>100,150</Point></Rectangle>
  <Ruler Index="2" Color="#FFFF00"><StartPoint>10,190</StartPoint><EndPoint>60,190</EndPoint></Ruler>
  <Text Index="3" TextColor="#FFFFFF"><Position>320,10</Position><Content>&lt;note&gt; &amp; "quote"</Content></Text>
</Annotation>"""


def blend(color, under, opacity=FILL_OPACITY):
    return tuple(round(opacity * c + (1 - opacity) * u) for c, u in zip(color, under))


def chromium(*args):
    """Runs headless chromium (as root it needs --no-sandbox) and returns its standard error."""
    result = subprocess.run(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
         "--force-device-scale-factor=1", "--virtual-time-budget=3000", *args],
        capture_output=True, text=True, timeout=90)
    return result


def screenshot(page, path, size="900,700"):
    result = chromium(f"--screenshot={path}", f"--window-size={size}", page.as_uri())
    if not path.exists():
        raise AssertionError(f"no screenshot of {page}: {result.stderr[-2000:]}")
    return Image(path)


def long_runs_box(image, color, min_run=60, tolerance=3):
    """The box of the pixels near `color` that lie in horizontal runs of at least `min_run`:
    the frame's view, whatever small text of similar colour stands around it."""
    box = None
    for y in range(image.height):
        run_start = None
        for x in range(image.width + 1):
            inside = x < image.width and all(
                abs(a - b) <= tolerance for a, b in zip(image.pixel(x, y), color))
            if inside and run_start is None:
                run_start = x
            elif not inside and run_start is not None:
                if x - run_start >= min_run:
                    left, right = run_start, x - 1
                    box = (left, y, right, y) if box is None else (
                        min(box[0], left), min(box[1], y), max(box[2], right), max(box[3], y))
                run_start = None
    return box


@unittest.skipIf(CHROMIUM is None, "chromium is not installed")
class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="annoxml-browser-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def preview(self, *args):
        result = subprocess.run([*TOOL, "preview", *map(str, args)], capture_output=True,
                                text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)

    def check_filled_rectangle(self, image, background, name):
        view = long_runs_box(image, background)
        self.assertIsNotNone(view, f"{name}: no view of the background colour {background}")
        filled = blend(LABEL, background)
        box = long_runs_box(image, filled, min_run=20)
        self.assertIsNotNone(box, f"{name}: no pixels of the blended colour {filled}")
        width, height = view[2] - view[0] + 1, view[3] - view[1] + 1
        self.assertAlmostEqual(width / height, 2, delta=0.03, msg=name)
        # The rectangle spans x 100..300 of 400 and y 50..150 of 200; its 2 px outline is not
        # part of the translucent fill.
        expected = (view[0] + width * 0.25, view[1] + height * 0.25,
                    view[0] + width * 0.75, view[1] + height * 0.75)
        for got, want in zip(box, expected):
            self.assertAlmostEqual(got, want, delta=3, msg=f"{name}: fill at {box}, view {view}")
        centre = ((box[0] + box[2]) // 2, (box[1] + box[3]) // 2)
        for got, want in zip(image.pixel(*centre), filled):
            self.assertAlmostEqual(got, want, delta=3, msg=f"{name}: inside the rectangle")
        outside = (view[0] + width // 8, view[1] + height // 2)
        self.assertEqual(image.pixel(*outside), background, f"{name}: outside the rectangle")

    def test_filled_rectangle_over_the_background_and_over_the_image(self):
        (self.tmp / "in").mkdir()
        (self.tmp / "in" / "a-plain.xml").write_text(FRAME_XML.format(image="missing.png"))
        (self.tmp / "in" / "b-image.xml").write_text(FRAME_XML.format(image="frame b.png"))
        write_png(self.tmp / "in" / "frame b.png", 400, 200, lambda x, y: IMAGE)
        self.preview(self.tmp / "in", "--out-dir", self.tmp / "out", "--page-size", 1)
        cases = [("page-0001.html", GRAY), ("page-0002.html", IMAGE)]
        for page, background in cases:
            with self.subTest(page=page):
                image = screenshot(self.tmp / "out" / page, self.tmp / f"{page}.png")
                self.check_filled_rectangle(image, background, page)

    def test_a_page_of_100_frames_loads_without_console_messages(self):
        (self.tmp / "in").mkdir()
        write_png(self.tmp / "in" / "shared.png", 40, 20, lambda x, y: IMAGE)
        for n in range(100):
            image = "shared.png" if n % 2 else f"missing-{n}.png"
            (self.tmp / "in" / f"frame-{n:03}.xml").write_text(FRAME_XML.format(image=image))
        self.preview(self.tmp / "in", "--out-dir", self.tmp / "out")
        page = self.tmp / "out" / "page-0001.html"
        result = chromium("--enable-logging=stderr", "--v=0", "--dump-dom", page.as_uri())
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        console = [line for line in result.stderr.splitlines() if ":CONSOLE" in line]
        self.assertEqual(console, [])
        dom = result.stdout
        self.assertEqual(dom.count('<section class="frame"'), 100)
        self.assertEqual(dom.count("<svg"), 100)
        self.assertEqual(dom.count('loading="lazy"'), 50)
        self.assertEqual(dom.count("&lt;note&gt; &amp; \"quote\"</text>"), 100)


if __name__ == "__main__":
    if CHROMIUM is None:
        print("chromium is not installed; skipped", file=sys.stderr)
        sys.exit(SKIPPED)
    outcome = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[1:]], exit=False).result
    sys.exit(0 if outcome.wasSuccessful() else 1)
