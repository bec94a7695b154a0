#!/usr/bin/env python3
"""End-to-end tests of exports run again and again, as users do: re-runs into the same folder,
read-only image folders, splits that come out empty, study folders named like the YOLO layout,
one region rule across exports, unique image names and one image lookup.

Run by ctest with ANNOXML (the built binary); arguments select classes.
"""
import json
import os
import stat
import subprocess
import sys
import tempfile
import shlex
import shutil
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from training_sets_test import read_png  # noqa: E402

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")

POLYGON = '<Polygon Index="{index}" Label="{label}">{points}</Polygon>'


def frame_xml(file_name, shapes, width=30, height=20, label="Polyp"):
    """An annotation file with one Polygon per entry of `shapes` (lists of points)."""
    polygons = "".join(
        POLYGON.format(index=i + 1, label=label,
                       points="".join(f"<Point>{x},{y}</Point>" for x, y in points))
        for i, points in enumerate(shapes))
    return (f"<Annotation><ImageInformation><FileName>{file_name}</FileName>"
            f"<Height>{height}</Height><Width>{width}</Width></ImageInformation>"
            f'<User UserID="u" Time="2026/01/02 03:04:05"/>'
            f'<LabelList><Label LabelType="{label}" LabelColor="#FF0000"/></LabelList>'
            f"{polygons}</Annotation>")


SQUARE = [(2, 2), (12, 2), (12, 12), (2, 12)]
TRIANGLE = [(16, 2), (28, 2), (22, 14)]
ON_A_LINE = [(1, 1), (5, 5), (9, 9)]  # zero area
OUTSIDE = [(40, 30), (50, 30), (50, 40), (40, 40)]  # wholly outside 30 x 20


def run(*args, cwd=None):
    return subprocess.run([*TOOL, *map(str, args)], capture_output=True, text=True, timeout=120,
                          cwd=cwd)


def label_path(image):
    """Ultralytics' img2label_paths for one image path."""
    sa, sb = f"{os.sep}images{os.sep}", f"{os.sep}labels{os.sep}"
    return sb.join(str(image).rsplit(sa, 1)).rsplit(".", 1)[0] + ".txt"


def fnv1a(text):
    value = 0xCBF29CE484222325
    for byte in text.encode():
        value = ((value ^ byte) * 0x100000001B3) % 2**64
    return value


def mix(value):
    value = (value + 0x9E3779B97F4A7C15) % 2**64
    value = ((value ^ (value >> 30)) * 0xBF58476D1CE4E5B9) % 2**64
    value = ((value ^ (value >> 27)) * 0x94D049BB133111EB) % 2**64
    return value ^ (value >> 31)


def assign_split(key, shares, seed):
    """The split of a group key, computed apart from the tool: a hash placed on the shares."""
    position = (mix(fnv1a(key) ^ mix(seed)) >> 11) * 2.0**-53 * sum(s for _, s in shares)
    end = 0
    for name, share in shares:
        end += share
        if position < end:
            return name
    return shares[-1][0]


def seed_for(keys, shares):
    """The first seed that gives every split at least one of the keys."""
    return next(seed for seed in range(1000)
                if len({assign_split(k, shares, seed) for k in keys}) == len(shares))


def tree(root):
    """Every file below `root` with its bytes; links as ('link', target)."""
    result = {}
    for path in sorted(Path(root).rglob("*")):
        if path.is_symlink():
            result[str(path.relative_to(root))] = ("link", os.readlink(path))
        elif path.is_file():
            result[str(path.relative_to(root))] = path.read_bytes()
    return result


class ExportTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="annoxml-exports-"))
        self.addCleanup(self.remove_tmp)

    def remove_tmp(self):
        for path in [self.tmp, *self.tmp.rglob("*")]:
            if path.is_dir() and not path.is_symlink():
                path.chmod(0o755)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def study(self, files, folder="study"):
        """Writes {relative path: xml text} below tmp/folder and returns the folder."""
        root = self.tmp / folder
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text, encoding="utf-8")
        return root

    def images(self, names, folder="images-src"):
        root = self.tmp / folder
        for name in names:
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_bytes(b"\x89PNG fake " + name.encode())
        return root

    def flat_study(self, count):
        files = {f"f{n:03}.xml": frame_xml(f"f{n:03}.png", [SQUARE]) for n in range(count)}
        return self.study(files), self.images([f"f{n:03}.png" for n in range(count)])


class RerunTest(ExportTest):
    """Case 1 and 4: exporting again into the same folder."""

    @unittest.skipIf(ON_WINDOWS, "links and read-only folders: POSIX only")
    def test_copying_after_linking_writes_nothing_into_a_read_only_image_folder(self):
        study, images = self.flat_study(3)
        for path in images.iterdir():
            path.chmod(0o444)
        images.chmod(0o555)
        before = {p.name: (p.stat().st_ino, p.stat().st_mtime_ns, p.read_bytes())
                  for p in images.iterdir()}
        out = self.tmp / "yolo"
        self.assertEqual(run("yolo", study, "--images", images, "--out-dir", out).returncode, 0)
        link = out / "images" / "train" / "f000.png"
        self.assertTrue(link.is_symlink())
        target = os.readlink(link)
        result = run("yolo", study, "--images", images, "--out-dir", out, "--copy-images")
        self.assertEqual(result.returncode, 0, result.stderr)
        after = {p.name: (p.stat().st_ino, p.stat().st_mtime_ns, p.read_bytes())
                 for p in images.iterdir()}
        self.assertEqual(after, before)
        self.assertFalse(os.path.isabs(target), target)
        for name, (_, _, data) in before.items():
            copy = out / "images" / "train" / name
            self.assertFalse(copy.is_symlink(), copy)
            self.assertEqual(copy.read_bytes(), data)

    def test_another_seed_leaves_no_file_of_the_first_run(self):
        study, images = self.flat_study(30)
        out = self.tmp / "yolo"
        for seed in (0, 1):
            result = run("yolo", study, "--images", images, "--out-dir", out,
                         "--split", "train=0.7,val=0.3", "--seed", seed)
            self.assertEqual(result.returncode, 0, result.stderr)
        labels = sorted((out / "labels").rglob("*.txt"))
        linked = sorted((out / "images").rglob("*.png"))
        self.assertEqual((len(labels), len(linked)), (30, 30))
        splits = {}
        for label in labels:
            splits.setdefault(label.stem, set()).add(label.parent.name)
        self.assertTrue(all(len(s) == 1 for s in splits.values()), splits)
        for label in labels:
            self.assertEqual(label.parent.name, assign_split(f"{label.stem}.xml",
                                                             [("train", 0.7), ("val", 0.3)], 1))
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["images-src", "study", "yolo"])

    def test_masks_and_preview_replace_their_folder_and_refuse_one_not_theirs(self):
        study, _ = self.flat_study(4)
        foreign = self.tmp / "photos"
        foreign.mkdir()
        (foreign / "holiday.jpg").write_bytes(b"jpg")
        for command in ("masks", "preview", "yolo"):
            with self.subTest(command=command):
                result = run(command, study, "--out-dir", foreign)
                self.assertEqual(result.returncode, 1)
                self.assertIn("is not empty and was not written by annoxml", result.stderr)
                self.assertIn("--force", result.stderr)
                self.assertEqual(tree(foreign), {"holiday.jpg": b"jpg"})
        self.assertEqual(run("masks", study, "--out-dir", foreign, "--force").returncode, 0)
        self.assertNotIn("holiday.jpg", tree(foreign))
        out = self.tmp / "masks"
        seed = seed_for([f"f{n:03}.xml" for n in range(4)], [("a", 0.5), ("b", 0.5)])
        run("masks", study, "--out-dir", out, "--split", "a=0.5,b=0.5", "--seed", seed)
        first = set(tree(out))
        self.assertEqual(run("masks", study, "--out-dir", out).returncode, 0)
        self.assertEqual(set(tree(out)), {".annoxml-export", "categories.json",
                                          *(f"f{n:03}.png" for n in range(4))})
        self.assertNotEqual(first, set(tree(out)))

    def test_dataset_names_split_files_an_earlier_run_left(self):
        study, _ = self.flat_study(12)
        out = self.tmp / "set" / "instances.json"
        out.parent.mkdir()
        seed = seed_for([f"f{n:03}.xml" for n in range(12)],
                        [("train", 0.5), ("val", 0.25), ("test", 0.25)])
        run("dataset", study, "-o", out, "--split", "train=0.5,val=0.25,test=0.25", "--seed", seed)
        self.assertTrue((out.parent / "instances_test.json").exists())
        result = run("dataset", study, "-o", out, "--split", "train=0.5,val=0.5", "--seed",
                     seed_for([f"f{n:03}.xml" for n in range(12)], [("train", 0.5), ("val", 0.5)]))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"{out.parent / 'instances_test.json'} is left from an earlier run",
                      result.stderr)
        self.assertNotIn("instances_train.json is left", result.stderr)


class SplitTest(ExportTest):
    """Case 2 and the YOLO split names."""

    def test_a_split_without_frames_fails_every_export_and_keeps_the_old_output(self):
        study = self.study({f"p{p}/f{f}.xml": frame_xml(f"f{f}.png", [SQUARE])
                            for p in range(3) for f in range(2)})
        shares = [("train", 0.8), ("val", 0.2)]
        seed = next(s for s in range(1000)
                    if {assign_split(f"p{p}", shares, s) for p in range(3)} == {"train"})
        split = ["--split", "train=0.8,val=0.2", "--group-by", "folder", "--seed", seed]
        outputs = {"dataset": ["-o", self.tmp / "d" / "set.json"],
                   "masks": ["--out-dir", self.tmp / "m"], "yolo": ["--out-dir", self.tmp / "y"]}
        (self.tmp / "d").mkdir()
        for command, out in outputs.items():
            with self.subTest(command=command):
                self.assertEqual(run(command, study, *out).returncode, 0)
                before = tree(self.tmp / out[1].relative_to(self.tmp).parts[0])
                result = run(command, study, *out, *split)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn('split "val" receives no frame', result.stderr)
                self.assertIn("3 folders", result.stderr)
                self.assertIn("--group-by file", result.stderr)
                self.assertEqual(tree(self.tmp / out[1].relative_to(self.tmp).parts[0]), before)

    def test_yolo_takes_train_val_test_and_says_where_validation_runs(self):
        study, _ = self.flat_study(20)
        out = self.tmp / "y"
        result = run("yolo", study, "--out-dir", out, "--split", "train=0.5,valid=0.5")
        self.assertEqual(result.returncode, 0, result.stderr)
        yaml = (out / "data.yaml").read_text()
        self.assertIn('val: "images/val"\n', yaml)
        self.assertNotIn("path:", yaml)
        self.assertTrue((out / "images" / "val").is_dir() or (out / "labels" / "val").is_dir())
        self.assertIn("images per split:", result.stderr)
        result = run("yolo", study, "--out-dir", out, "--split", "fit=0.8,val=0.2")
        self.assertEqual(result.returncode, 2)
        self.assertIn('split "fit"', result.stderr)
        result = run("yolo", study, "--out-dir", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("validation runs on training images", result.stderr)


class LayoutTest(ExportTest):
    """Case 3 and the data set's placement: where a trainer looks, it finds."""

    def test_every_image_has_its_label_where_the_trainer_looks(self):
        names = ["images/a", "labels/b", "images/labels/c", "train/images/d", "e"]
        study = self.study({f"{n}.xml": frame_xml(f"{Path(n).name}.png", [SQUARE])
                            for n in names})
        images = self.images([f"{n}.png" for n in names])
        seed = seed_for([f"{n}.xml" for n in names], [("train", 0.5), ("val", 0.5)])
        for task in ("detect", "segment"):
            with self.subTest(task=task):
                out = self.tmp / "set-folder" / "images" / "yolo"
                result = run("yolo", study, "--images", images, "--out-dir", out, "--task", task,
                             "--split", "train=0.5,val=0.5", "--seed", seed)
                self.assertEqual(result.returncode, 0, result.stderr)
                found = sorted((out / "images").rglob("*.png"))
                self.assertEqual(len(found), len(names))
                for image in found:
                    label = Path(label_path(image))
                    self.assertTrue(label.is_file(), f"{image}: no {label}")
                    self.assertEqual(len(label.read_text().splitlines()), 1)
                self.assertEqual(len(list(out.rglob("*.txt"))), len(names))

    def test_a_moved_export_trains_from_where_it_is(self):
        study, images = self.flat_study(2)
        out = self.tmp / "y"
        run("yolo", study, "--images", images, "--out-dir", out, "--copy-images")
        moved = self.tmp / "elsewhere" / "y"
        moved.parent.mkdir()
        out.rename(moved)
        yaml = (moved / "data.yaml").read_text()
        self.assertNotIn("path:", yaml)
        train = yaml.split('train: "')[1].split('"')[0]
        self.assertEqual(len(list((moved / train).glob("*.png"))), 2)

    def test_windows_paths_in_file_name_name_the_files_by_their_last_component(self):
        study = self.study({"w.xml": frame_xml("C:\\Endo\\case 7\\f.png", [SQUARE])})
        images = self.images(["f.png"])
        out = self.tmp / "y"
        self.assertEqual(run("yolo", study, "--images", images, "--out-dir", out).returncode, 0)
        self.assertEqual(sorted(tree(out / "labels")), ["train/f.txt"])
        result = run("check", study)
        self.assertIn('FileName "C:\\Endo\\case 7\\f.png" holds a folder path', result.stderr)


class RegionsTest(ExportTest):
    """Case 5: one region rule for every export."""

    def test_every_export_holds_the_same_regions_and_says_which_it_left_out(self):
        study = self.study({
            "a.xml": frame_xml("a.png", [SQUARE, ON_A_LINE, TRIANGLE]),
            "b.xml": frame_xml("b.png", [OUTSIDE, TRIANGLE]),
        })
        summary = "2 regions left out: 1 zero-area, 1 outside the image"
        counts = {}
        result = run("dataset", study, "-o", self.tmp / "set.json")
        self.assertIn(summary, result.stderr)
        data = json.loads((self.tmp / "set.json").read_text())
        counts["dataset"] = len(data["annotations"])
        result = run("masks", study, "--out-dir", self.tmp / "m", "--mode", "instance")
        self.assertIn(summary, result.stderr)
        counts["masks"] = sum(len({v for row in read_png(p)[3] for v in row} - {0})
                              for p in (self.tmp / "m").glob("*.png"))
        for task in ("detect", "segment"):
            result = run("yolo", study, "--out-dir", self.tmp / task, "--task", task)
            self.assertIn(summary, result.stderr)
            counts[task] = sum(len(p.read_text().splitlines())
                               for p in (self.tmp / task).rglob("*.txt"))
        self.assertEqual(counts, {"dataset": 3, "masks": 3, "detect": 3, "segment": 3})
        result = run("check", study)
        self.assertIn("Polygon with Index 2: zero area; left out of every export", result.stderr)
        self.assertIn("Polygon with Index 1: wholly outside the 30x20 image; left out of every "
                      "export", result.stderr)


class ImagesTest(ExportTest):
    """Cases 6, 7 and 8: unique image names, one lookup, said where it is documented."""

    def test_several_input_folders_keep_their_names_and_a_repeated_image_fails(self):
        for folder in ("a", "b"):
            self.study({"f.xml": frame_xml("frame-00000.png", [SQUARE])}, f"dup/{folder}")
        out = self.tmp / "i.json"
        result = run("dataset", self.tmp / "dup" / "a", self.tmp / "dup" / "b", "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([i["file_name"] for i in json.loads(out.read_text())["images"]],
                         ["a/frame-00000.png", "b/frame-00000.png"])
        same = self.study({"x.xml": frame_xml("frame-00000.png", [SQUARE]),
                           "y.xml": frame_xml("C:\\capture\\frame-00000.png", [SQUARE])}, "same")
        for command, out in (("dataset", ["-o", self.tmp / "s.json"]),
                             ("masks", ["--out-dir", self.tmp / "m"]),
                             ("yolo", ["--out-dir", self.tmp / "y"])):
            with self.subTest(command=command):
                result = run(command, same, *out)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(f"{same / 'y.xml'}: file_name \"frame-00000.png\" is also the "
                              f"file_name of {same / 'x.xml'}", result.stderr)
        result = run("check", same)
        self.assertEqual(result.returncode, 1)
        self.assertIn("y.xml: error: file_name", result.stderr)

    def test_preview_and_yolo_find_an_image_the_same_way(self):
        study = self.study({"v1/x.xml": frame_xml("x.png", [SQUARE]),
                            "v2/y.xml": frame_xml("sub\\y.png", [SQUARE])})
        images = self.images(["x.png", "v2/y.png"])
        out = self.tmp / "y"
        result = run("yolo", study, "--images", images, "--out-dir", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(tree(out / "images")), ["train/v1/x.png", "train/v2/y.png"])
        result = run("preview", study, "--images", images, "--out-dir", self.tmp / "p")
        self.assertEqual(result.returncode, 0, result.stderr)
        page = (self.tmp / "p" / "page-0001.html").read_text()
        self.assertIn("images-src/x.png", page)
        self.assertIn("images-src/v2/y.png", page)

    def test_dataset_says_what_file_name_holds_and_names_the_path_given(self):
        help_text = run("dataset", "--help").stdout
        self.assertIn("file_name is the annotation file's folder", help_text)
        self.assertIn("CocoDetection", help_text)
        study, _ = self.flat_study(2)
        result = run("dataset", study, "-o", self.tmp / "missing" / "dir" / "x.json",
                     "--split", "train=0.5,val=0.5")
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"{self.tmp / 'missing' / 'dir' / 'x.json'}", result.stderr)
        self.assertNotIn("x_train.json", result.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
