#!/usr/bin/env python3
"""End-to-end tests of `annoxml eval`.

Eval: annotation files and the data set written from them score alike, the --json document has
the documented keys, --plots writes its pages, bad results fail with their entry named.
EvalReference: numbers equal to the reference COCO evaluation's on generated data; runs only when
COCOAPI_PYTHONPATH names a folder where pycocotools can be imported (built from its source; it is
no part of this project) by COCOAPI_PYTHON (default /usr/bin/python3), and is skipped (exit 77)
otherwise.

Run by ctest with ANNOXML (the built binary) and ANNOXML_SOURCE_DIR; arguments select classes.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")
SOURCE = Path(os.environ.get("ANNOXML_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SKIPPED = 77

FRAME = """<Annotation>
  <ImageInformation><FileName>{name}.png</FileName><Height>120</Height><Width>160</Width></ImageInformation>
  <User UserID="u" Time="2026/01/02 03:04:05"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#FF0000"/><Label LabelType="Ulcer"/></LabelList>
  <Rectangle Index="1" Label="Polyp"><Point>{x},10</Point><Point>{x2},10</Point><Point>{x2},50</Point><Point>{x},50</Point></Rectangle>
  <Polygon Index="2" Label="Ulcer"><Point>80,60</Point><Point>150,62</Point><Point>110,110</Point></Polygon>
</Annotation>"""

SUMMARY = ["AP", "AP50", "AP75", "APs", "APm", "APl", "AR1", "AR10", "AR100", "ARs", "ARm", "ARl"]
FRAME_KEYS = ["dice", "iou", "sensitivity", "specificity", "fp_per_frame", "frames"]


def run(*args):
    return subprocess.run([*TOOL, *map(str, args)], capture_output=True, text=True, timeout=300)


def perfect_results(instances):
    """A result per annotation, exact, from a data set written by `annoxml dataset`."""
    return [{"image_id": a["image_id"], "category_id": a["category_id"], "bbox": a["bbox"],
             "score": 0.9, "segmentation": a["segmentation"]} for a in instances["annotations"]]


class EvalCase(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp())
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", str(self.tmp)]))
        self.frames = self.tmp / "frames"
        for video in ("video-a", "video-b"):
            for i in range(3):
                folder = self.frames / video
                folder.mkdir(parents=True, exist_ok=True)
                (folder / f"f{i}.xml").write_text(
                    FRAME.format(name=f"f{i}", x=10 + 7 * i, x2=40 + 9 * i))

    def write(self, name, value):
        path = self.tmp / name
        path.write_text(value if isinstance(value, str) else json.dumps(value))
        return path


class EvalTest(EvalCase):
    def test_annotation_files_score_as_their_data_set(self):
        instances = self.tmp / "instances.json"
        self.assertEqual(run("dataset", self.frames, "-o", instances, "-q").returncode, 0)
        data = json.loads(instances.read_text())
        results = perfect_results(data)
        results[0]["bbox"] = [0, 0, 5, 5]  # one box misplaced, so that not all is 1
        predictions = self.write("results.json", results)
        from_files = run("eval", self.frames, "--predictions", predictions, "--iou-type", "both",
                         "--json", "-q")
        from_set = run("eval", instances, "--predictions", predictions, "--iou-type", "both",
                       "--json")
        self.assertEqual(from_files.returncode, 0, from_files.stderr)
        self.assertEqual(from_set.returncode, 0, from_set.stderr)
        self.assertEqual(from_files.stdout, from_set.stdout)
        doc = json.loads(from_set.stdout)
        self.assertEqual(list(doc), ["bbox", "segm"])
        for kind in ("bbox", "segm"):
            self.assertEqual(list(doc[kind]), SUMMARY + ["per_category"])
            self.assertEqual(list(doc[kind]["per_category"]), ["Polyp", "Ulcer"])
        self.assertEqual(doc["segm"]["AP"], 1.0)
        self.assertLess(doc["bbox"]["per_category"]["Polyp"], 1.0)
        self.assertEqual(doc["bbox"]["per_category"]["Ulcer"], 1.0)
        self.assertEqual(doc["bbox"]["APs"], -1.0)  # no small region

    def test_a_split_scores_as_its_file(self):
        options = ["--split", "train=0.5,val=0.5", "--seed", "2", "--group-by", "folder"]
        base = self.tmp / "set.json"
        self.assertEqual(run("dataset", self.frames, "-o", base, "-q", *options).returncode, 0)
        val = json.loads((self.tmp / "set_val.json").read_text())
        predictions = self.write("results.json", perfect_results(val))
        from_files = run("eval", self.frames, *options, "--subset", "val", "--predictions",
                         predictions, "--json", "--frame-metrics", "-q")
        from_set = run("eval", self.tmp / "set_val.json", "--predictions", predictions, "--json",
                       "--frame-metrics")
        self.assertEqual(from_files.returncode, 0, from_files.stderr)
        self.assertEqual(from_files.stdout, from_set.stdout)
        frames = json.loads(from_set.stdout)["frames"]
        self.assertEqual(list(frames), ["score_threshold", "overall", "per_category", "per_folder"])
        self.assertEqual(frames["score_threshold"], 0.5)
        self.assertEqual(list(frames["overall"]), FRAME_KEYS)
        self.assertEqual(frames["overall"]["dice"], 1.0)  # seed 2 puts one video in val
        self.assertEqual(frames["overall"]["frames"], len(val["images"]))
        folders = {name.split("/")[0] for name in (i["file_name"] for i in val["images"])}
        self.assertEqual(set(frames["per_folder"]), folders)
        for per_category in frames["per_folder"].values():
            self.assertEqual(list(per_category), ["Polyp", "Ulcer"])
            self.assertEqual(list(per_category["Polyp"]), FRAME_KEYS)

    def test_plots_and_table(self):
        instances = self.tmp / "instances.json"
        run("dataset", self.frames, "-o", instances, "-q")
        predictions = self.write("results.json", perfect_results(json.loads(instances.read_text())))
        plots = self.tmp / "plots"
        result = run("eval", instances, "--predictions", predictions, "--plots", plots)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Average Precision  (AP) @[ IoU=0.50:0.95 | area=   all | maxDets=100 ] = 1.000",
                      result.stdout)
        page = (plots / "index.html").read_text()
        for name in ("bbox_1_Polyp.svg", "bbox_2_Ulcer.svg"):
            self.assertIn(name, page)
            self.assertTrue((plots / name).read_text().startswith("<svg"))

    def test_bad_results_name_their_entry(self):
        instances = self.tmp / "instances.json"
        run("dataset", self.frames, "-o", instances, "-q")
        good = '{"image_id": 1, "category_id": 1, "bbox": [1, 2, 3, 4], "score": 0.5}'
        cases = {
            f'[{good}, {{"image_id": 99, "category_id": 1, "bbox": [1,2,3,4], "score": 1}}]':
                "entry 1: unknown image_id 99",
            f'[{good}, {{"image_id": 1, "category_id": 7, "bbox": [1,2,3,4], "score": 1}}]':
                "entry 1: unknown category_id 7",
            f'[{good}, {good}, {{"image_id": 1, "category_id": 1, "bbox": [1,2,3,4], "score": NaN}}]':
                "entry 2: malformed JSON",
            f'[{good}, {{"image_id": 1, "category_id": 1, "score": 1, '
            '"segmentation": {"size": [10, 10], "counts": "0"}}]':
                "entry 1: segmentation of size [10, 10] on an image of size [120, 160]",
            f'[{good}': "entry 1: malformed JSON",
        }
        for text, message in cases.items():
            result = run("eval", instances, "--predictions", self.write("bad.json", text))
            self.assertEqual(result.returncode, 1, text)
            self.assertIn(message, result.stderr)
            self.assertEqual(result.stdout, "")

    def test_usage_errors(self):
        predictions = self.write("results.json", "[]")
        cases = [
            ["--split", "train=0.5,val=0.5"],
            ["--split", "train=0.5,val=0.5", "--subset", "test"],
            ["--subset", "val"],
            ["--iou-type", "keypoints"],
        ]
        for extra in cases:
            result = run("eval", self.frames, "--predictions", predictions, *extra)
            self.assertEqual(result.returncode, 2, extra)
        instances = self.tmp / "instances.json"
        run("dataset", self.frames, "-o", instances, "-q")
        result = run("eval", instances, "--predictions", predictions, "--rename", "Polyp=Ulcer")
        self.assertEqual(result.returncode, 2)


class EvalReferenceTest(unittest.TestCase):
    def test_numbers_equal_the_reference(self):
        path = os.environ.get("COCOAPI_PYTHONPATH")
        if not path:
            self.skipTest("COCOAPI_PYTHONPATH is not set")
        env = dict(os.environ, PYTHONPATH=path)
        # The reference needs NumPy: Debian's interpreter where there is one.
        python = os.environ.get("COCOAPI_PYTHON",
                                "/usr/bin/python3" if Path("/usr/bin/python3").exists()
                                else sys.executable)
        probe = subprocess.run([python, "-c", "import pycocotools._mask"], env=env,
                               capture_output=True)
        if probe.returncode != 0:
            self.skipTest("pycocotools cannot be imported from COCOAPI_PYTHONPATH")
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run([sys.executable, SOURCE / "bench" / "eval_generate.py", tmp,
                            "--images", "120", "--seed", "5"], check=True)
            truth, results = Path(tmp) / "truth.json", Path(tmp) / "results.json"
            reference = subprocess.run(
                [python, SOURCE / "bench" / "eval_reference.py", truth, results, "both"],
                env=env, capture_output=True, text=True, check=True)
            ours = run("eval", truth, "--predictions", results, "--iou-type", "both", "--json")
            self.assertEqual(ours.returncode, 0, ours.stderr)
            self.assertEqual(json.loads(ours.stdout), json.loads(reference.stdout))


if __name__ == "__main__":
    outcome = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[1:]], exit=False).result
    if not outcome.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if outcome.skipped else 0)
