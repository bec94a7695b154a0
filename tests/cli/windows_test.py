#!/usr/bin/env python3
"""What the Windows build of the tool does differently, run by scripts/test-windows under wine:

- NonAsciiPaths: a study whose folder has spaces and non-ASCII letters in its name, through every
  export, check and stats;
- Windows: images copied where links cannot be made (with a note), and file names that differ
  only in case refused as one file;
- SameFiles: a generated study through dataset, masks, yolo, preview and check with this tool and
  with the Linux tool (ANNOXML_LINUX_TOOL): the same files.

Environment: ANNOXML_TOOL_COMMAND (e.g. "wine build-win64/annoxml.exe"), ANNOXML_LINUX_TOOL,
ANNOXML_SOURCE_DIR. Without a Windows tool the tests skip (exit status 77 when all skipped).
"""
import filecmp
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_test import EXAMPLES, GOOD_XML, ON_WINDOWS, TOOL, write_files  # noqa: E402

SOURCE = Path(os.environ.get("ANNOXML_SOURCE_DIR", Path(__file__).resolve().parents[2]))
LINUX_TOOL = os.environ.get("ANNOXML_LINUX_TOOL", "")
STUDY_NAME = "Studie mit Leerzeichen/Größe ü 内镜"


def run(command, *args):
    return subprocess.run([*command, *map(str, args)], capture_output=True, text=True,
                          encoding="utf-8", timeout=600)


def files_below(folder):
    """Every file below `folder` (links followed), relative, sorted."""
    folder = Path(folder)
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())


@unittest.skipUnless(ON_WINDOWS, "runs the Windows tool (scripts/test-windows)")
class WindowsToolTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="annoxml-windows-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def tool(self, *args, status=0):
        result = run(TOOL, *args)
        self.assertEqual(result.returncode, status, result.stderr)
        return result


class NonAsciiPathsTest(WindowsToolTest):
    def setUp(self):
        super().setUp()
        self.study = self.tmp / STUDY_NAME
        write_files(self.study, {f"Aufnahme é/frame-{n}.xml": GOOD_XML.format(n=n) for n in range(3)})
        shutil.copy(EXAMPLES / "colonoscopy-frame-0142.xml", self.study / "Übersicht.xml")
        (self.study / "frame-0142.png").write_bytes(b"image 0142")
        for n in range(3):
            (self.study / "Aufnahme é" / f"frame-{n}.png").write_bytes(b"image %d" % n)

    def test_dataset_names_the_frames_by_their_non_ascii_folders(self):
        out = self.tmp / "Ausgabe ä" / "data set.json"
        out.parent.mkdir()
        self.tool("dataset", self.study, "-o", out, "--group-by", "folder")
        coco = json.loads(out.read_text(encoding="utf-8"))
        names = sorted(image["file_name"] for image in coco["images"])
        self.assertEqual(names[:3], [f"Aufnahme é/frame-{n}.png" for n in range(3)])
        self.assertEqual(len(names), 4)

    def test_masks_yolo_and_preview_write_below_a_non_ascii_folder(self):
        self.tool("masks", self.study, "--out-dir", self.tmp / "Masken ö")
        self.assertIn("Aufnahme é/frame-0.png", files_below(self.tmp / "Masken ö"))
        self.tool("yolo", self.study, "--out-dir", self.tmp / "YOLO ß", "--images", self.study)
        labels = files_below(self.tmp / "YOLO ß" / "labels")
        self.assertIn("train/Aufnahme é/frame-1.txt", labels)
        image = self.tmp / "YOLO ß" / "images" / "train" / "Aufnahme é" / "frame-1.png"
        self.assertEqual(image.read_bytes(), b"image 1")
        self.tool("preview", self.study, "--out-dir", self.tmp / "Vorschau ä")
        page = (self.tmp / "Vorschau ä" / "page-0001.html").read_text(encoding="utf-8")
        self.assertIn("/Übersicht.xml", page)
        self.assertIn('<img src="../Studie%20mit%20Leerzeichen/Gr%C3%B6%C3%9Fe%20%C3%BC%20', page)
        self.assertNotIn("image not found", page)

    def test_check_and_stats_read_the_study(self):
        result = self.tool("check", self.study, "--json")
        # The example's FileName holds a folder path: one warning, naming the file in UTF-8.
        finding = json.loads(result.stdout)
        self.assertEqual(finding["path"], f"{self.study.as_posix()}/Übersicht.xml")
        self.assertEqual(finding["severity"], "warning")
        stats = json.loads(self.tool("stats", self.study, "--json").stdout)
        self.assertEqual((stats["frames"], stats["failures"]), (4, 0))


class WindowsTest(WindowsToolTest):
    def test_images_are_copied_with_a_note_where_links_cannot_be_made(self):
        write_files(self.tmp / "in", {"frame-1.xml": GOOD_XML.format(n=1)})
        (self.tmp / "in" / "frame-1.png").write_bytes(b"picture")
        result = self.tool("yolo", self.tmp / "in", "--out-dir", self.tmp / "out",
                           "--images", self.tmp / "in")
        self.assertIn("1 image was copied: symbolic links cannot be made here", result.stderr)
        image = self.tmp / "out" / "images" / "train" / "frame-1.png"
        self.assertFalse(image.is_symlink())
        self.assertEqual(image.read_bytes(), b"picture")

    def test_file_names_that_differ_only_in_case_are_one_file(self):
        write_files(self.tmp / "in", {
            "a.xml": GOOD_XML.format(n=1),
            "b.xml": GOOD_XML.format(n=1).replace("frame-1.png", "FRAME-1.png"),
        })
        result = self.tool("dataset", self.tmp / "in", "-o", self.tmp / "out.json", status=1)
        self.assertIn("is also the file_name of", result.stderr)
        self.assertIn("both would read the same image", result.stderr)

    def test_an_export_replaces_its_earlier_folder(self):
        write_files(self.tmp / "in", {"frame-1.xml": GOOD_XML.format(n=1)})
        for _ in range(2):
            self.tool("masks", self.tmp / "in", "--out-dir", self.tmp / "out")
        self.assertEqual(files_below(self.tmp / "out"),
                         [".annoxml-export", "categories.json", "frame-1.png"])
        self.assertEqual([p.name for p in self.tmp.iterdir() if p.name.startswith(".")], [])


@unittest.skipUnless(LINUX_TOOL, "needs the Linux tool (ANNOXML_LINUX_TOOL) to compare with")
class SameFilesTest(WindowsToolTest):
    """A generated study through both tools; the outputs are compared byte for byte."""

    @classmethod
    def setUpClass(cls):
        cls.root = Path(tempfile.mkdtemp(prefix="annoxml-same-"))
        cls.study = cls.root / "Studie mit Leerzeichen"
        python = sys.executable
        subprocess.run([python, SOURCE / "bench" / "generate_study.py", cls.study / "colon", "300"],
                       check=True)
        subprocess.run([python, SOURCE / "bench" / "generate_frames.py", cls.study / "small", "120"],
                       check=True)
        # Stand-ins for the images, for yolo --images and the previews.
        for xml in (cls.study / "small").rglob("*.xml"):
            xml.with_name(xml.stem + ".png").write_bytes(xml.name.encode())
        for xml in (cls.study / "colon").rglob("*.xml"):
            xml.with_name(xml.stem + ".jpg").write_bytes(xml.name.encode())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def both(self, name, *args):
        """Runs the command with each tool, {out} standing for the new folder root/SYSTEM/NAME."""
        outputs = {}
        for system, command in (("linux", [LINUX_TOOL]), ("windows", TOOL)):
            out = self.root / system / name
            out.mkdir(parents=True)
            result = run(command, *[str(a).replace("{out}", str(out)) for a in args])
            self.assertEqual(result.returncode, 0, f"{system}: {result.stderr}")
            outputs[system] = (out, result)
        return outputs

    def assertSameTrees(self, linux, windows):
        self.assertEqual(files_below(linux), files_below(windows))
        for relative in files_below(linux):
            with self.subTest(file=relative):
                self.assertTrue(filecmp.cmp(linux / relative, windows / relative, shallow=False))

    def test_dataset(self):
        for indent in ([], ["--indent", "2"]):
            with self.subTest(indent=indent):
                outputs = self.both(f"dataset{len(indent)}", "dataset", self.study,
                                    "-o", "{out}/data set.json", *indent,
                                    "--split", "train=0.8,val=0.2", "--group-by", "folder")
                linux, windows = outputs["linux"][0], outputs["windows"][0]
                self.assertEqual(files_below(linux), ["data set_train.json", "data set_val.json"])
                self.assertSameTrees(linux, windows)

    def test_masks(self):
        for mode in ("binary", "category", "instance"):
            with self.subTest(mode=mode):
                outputs = self.both(f"masks-{mode}", "masks", self.study, "--out-dir", "{out}",
                                    "--mode", mode, "--split", "train=0.7,val=0.3")
                self.assertSameTrees(outputs["linux"][0], outputs["windows"][0])

    def test_yolo(self):
        for task in ("detect", "segment"):
            with self.subTest(task=task):
                outputs = self.both(f"yolo-{task}", "yolo", self.study, "--out-dir", "{out}",
                                    "--task", task, "--images", self.study)
                # Linux links the images, Windows copies them: the same bytes either way.
                self.assertSameTrees(outputs["linux"][0], outputs["windows"][0])
                self.assertIn("images were copied", outputs["windows"][1].stderr)

    def test_check(self):
        outputs = self.both("check", "check", self.study, "--json", "--split", "train=0.5,val=0.5")
        self.assertEqual(outputs["linux"][1].stdout, outputs["windows"][1].stdout)

    def test_preview(self):
        outputs = self.both("preview", "preview", self.study, "--out-dir", "{out}",
                            "--images", self.study, "--page-size", "50")
        self.assertSameTrees(outputs["linux"][0], outputs["windows"][0])


if __name__ == "__main__":
    unittest.main()
