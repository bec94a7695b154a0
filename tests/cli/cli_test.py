#!/usr/bin/env python3
"""End-to-end tests of the annoxml command-line tool.

Run by ctest with the environment variables ANNOXML (the built binary) and ANNOXML_SOURCE_DIR;
the arguments select unittest test classes.
"""
import json
import os
import re
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

BINARY = os.path.abspath(os.environ["ANNOXML"]) if "ANNOXML" in os.environ else "annoxml"
# The command that runs the tool: ANNOXML_TOOL_COMMAND when set (scripts/test-windows gives
# "wine .../annoxml.exe"), otherwise the binary. Tests of what only POSIX systems have skip under
# wine (ON_WINDOWS).
TOOL = shlex.split(os.environ.get("ANNOXML_TOOL_COMMAND", "")) or [BINARY]
ON_WINDOWS = TOOL[0] == "wine" or TOOL[0].endswith(".exe")
SOURCE = Path(os.environ.get("ANNOXML_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "examples"
EXPECTED = SOURCE / "tests" / "cli" / "data" / "expected"
MAIN_EXAMPLE = EXAMPLES / "colonoscopy-frame-0142.xml"

GOOD_XML = """<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n}.png</FileName><Height>480</Height><Width>640</Width></ImageInformation>
  <User UserID="tester" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp"/></LabelList>
  <Rectangle Index="1" Label="Polyp"><Point>1,2</Point><Point>5,2</Point><Point>5,9</Point><Point>1,9</Point></Rectangle>
</Annotation>"""
MALFORMED_XML = "<Annotation><User/>"
UNKNOWN_LABEL_XML = GOOD_XML.replace('Label="Polyp">', 'Label="Ulcer">')


def run(*args, **kwargs):
    kwargs.setdefault("text", True)
    return subprocess.run([*TOOL, *map(str, args)], capture_output=True, timeout=120, **kwargs)


def mask_dates(text):
    text = re.sub(r'("year": )"[^"]*"', r'\1"<year>"', text)
    return re.sub(r'("date_created": )"[^"]*"', r'\1"<date>"', text)


def write_files(folder, contents_by_name):
    for name, contents in contents_by_name.items():
        path = Path(folder) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(contents, encoding="utf-8")


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="annoxml-cli-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)


class ConvertTest(TempDirTest):
    def test_examples_match_expected_files(self):
        result = run("convert", EXAMPLES, "--out-dir", self.tmp / "out")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        expected = sorted(p.relative_to(EXPECTED) for p in EXPECTED.rglob("*.json"))
        produced = sorted(p.relative_to(self.tmp / "out") for p in (self.tmp / "out").rglob("*"))
        produced = [p for p in produced if (self.tmp / "out" / p).is_file()]
        self.assertEqual(produced, expected)
        for relative in expected:
            with self.subTest(file=str(relative)):
                actual = (self.tmp / "out" / relative).read_text(encoding="utf-8")
                self.assertEqual(mask_dates(actual),
                                 (EXPECTED / relative).read_text(encoding="utf-8"))
        self.assertIn("5 files converted, 0 failed", result.stderr)

    def test_output_locations(self):
        write_files(self.tmp / "in", {"a.xml": GOOD_XML, "deep/b.xml": GOOD_XML,
                                      "notes.txt": "not an annotation file"})
        cases = [
            # arguments, files expected to exist afterwards
            (["in"], ["in/a.json", "in/deep/b.json"]),
            (["in/a.xml"], ["in/a.json"]),
            (["in/deep/b.xml", "-o", "single.json"], ["single.json"]),
            (["in", "--out-dir", "mirror"], ["mirror/a.json", "mirror/deep/b.json"]),
            (["in/deep/b.xml", "--out-dir", "flat/x"], ["flat/x/b.json"]),
        ]
        for args, outputs in cases:
            with self.subTest(args=args):
                result = run("convert", *args, cwd=self.tmp)
                self.assertEqual(result.returncode, 0, result.stderr)
                for output in outputs:
                    self.assertEqual(json.loads((self.tmp / output).read_text())["images"]["id"], 1)
                    (self.tmp / output).unlink()
        leftovers = sorted(str(p.relative_to(self.tmp)) for p in self.tmp.rglob("*.json"))
        self.assertEqual(leftovers, [])

    def test_many_files_on_several_threads_give_sequential_bytes(self):
        write_files(self.tmp / "in", {f"f{n:03}.xml": GOOD_XML.format(n=n) for n in range(200)})
        self.assertEqual(run("convert", "in", "--out-dir", "seq", "-j", 1, cwd=self.tmp).returncode, 0)
        self.assertEqual(run("convert", "in", "--out-dir", "par", "-j", 8, cwd=self.tmp).returncode, 0)
        for n in range(200):
            name = f"f{n:03}.json"
            self.assertEqual(mask_dates((self.tmp / "par" / name).read_text()),
                             mask_dates((self.tmp / "seq" / name).read_text()), name)


class ReadTest(unittest.TestCase):
    def test_every_section_is_json_on_stdout(self):
        kinds = {"image": dict, "user": dict, "labels": list, "masks": list, "shapes": dict,
                 "all": dict}
        for section, kind in kinds.items():
            with self.subTest(section=section):
                result = run("read", MAIN_EXAMPLE, "--section", section)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIsInstance(json.loads(result.stdout), kind)

    def test_all_sections_hold_what_the_file_holds(self):
        result = run("read", MAIN_EXAMPLE)
        sections = json.loads(result.stdout)
        self.assertEqual(list(sections), ["image", "user", "labels", "masks", "shapes"])
        self.assertEqual(sections["image"]["height"], "1080")
        self.assertIn("Œdème", [label["LabelType"] for label in sections["labels"]])
        self.assertIn("Œdème", result.stdout, "non-ASCII text is written as it is, not escaped")
        self.assertEqual(len(sections["shapes"]), 15)
        self.assertTrue(all(sections["shapes"].values()), "the example has every shape kind")
        self.assertEqual([m["index"] for m in sections["masks"]], ["1", "2"])
        self.assertEqual(sections["shapes"]["Ellipse"][0]["mask_id"], "2")

    def test_unreadable_files_are_reported_on_stderr_only(self):
        with tempfile.TemporaryDirectory(prefix="annoxml-cli-") as tmp:
            bad_text = Path(tmp) / "bad-text.xml"
            bad_text.write_bytes(GOOD_XML.replace("tester", "te\xffster").encode("latin-1"))
            cases = {"no-such-file.xml": "Failed to load xml file: ",
                     str(bad_text): ".*invalid UTF-8 byte"}
            for path, message in cases.items():
                with self.subTest(path=path):
                    result = run("read", path)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(result.stdout, "")
                    self.assertRegex(result.stderr, "^annoxml: " + re.escape(path) + ": " + message)


class FailuresTest(TempDirTest):
    def test_bad_files_are_reported_and_the_good_ones_converted(self):
        write_files(self.tmp / "in", {"1-good.xml": GOOD_XML, "2-broken.xml": MALFORMED_XML,
                                      "3-good.xml": GOOD_XML, "sub/4-label.xml": UNKNOWN_LABEL_XML})
        result = run("convert", "in", "-j", 2, cwd=self.tmp)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        lines = result.stderr.splitlines()
        self.assertIn("annoxml: in/2-broken.xml: Failed to load xml file: ", result.stderr)
        self.assertIn("annoxml: in/sub/4-label.xml: invalid map<K, T> key", lines)
        self.assertEqual(lines[-1][:len("annoxml: 2 files converted, 2 failed in ")],
                         "annoxml: 2 files converted, 2 failed in ")
        self.assertEqual(sorted(p.name for p in self.tmp.rglob("*.json")),
                         ["1-good.json", "3-good.json"])

    def test_unwritable_out_dir_is_reported_per_file(self):
        write_files(self.tmp / "in", {"a.xml": GOOD_XML, "sub/b.xml": GOOD_XML})
        (self.tmp / "blocker").write_text("a regular file where a folder is needed")
        for out_dir in ["blocker/out", "blocker"]:
            with self.subTest(out_dir=out_dir):
                result = run("convert", "in", "--out-dir", out_dir, "--quiet", cwd=self.tmp)
                self.assertEqual(result.returncode, 1)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 2, result.stderr)
                self.assertEqual(sorted(line.split(":")[1] for line in lines),
                                 [" in/a.xml", " in/sub/b.xml"])
        self.assertEqual(list(self.tmp.rglob("*.json")), [])
        self.assertEqual(list(self.tmp.rglob(".annoxml-*")), [])

    def test_outputs_that_would_destroy_data_are_refused(self):
        write_files(self.tmp, {"x/same.xml": GOOD_XML, "y/same.xml": GOOD_XML,
                               "data.json": GOOD_XML})
        clash = run("convert", "x", "y", "--out-dir", "out", cwd=self.tmp)
        self.assertEqual(clash.returncode, 1)
        self.assertIn("annoxml: y/same.xml: output out/same.json is also the output of x/same.xml",
                      clash.stderr)
        overwrite = run("convert", "data.json", cwd=self.tmp)
        self.assertEqual(overwrite.returncode, 1)
        self.assertEqual((self.tmp / "data.json").read_text(), GOOD_XML)


class UsageTest(unittest.TestCase):
    def test_usage_errors_exit_2(self):
        cases = [
            ["convert", MAIN_EXAMPLE, MAIN_EXAMPLE, "-o", "x.json"],
            ["convert", EXAMPLES / "batch", "-o", "x.json"],
            ["convert", MAIN_EXAMPLE, "-o", "x.json", "--out-dir", "out"],
            ["convert", MAIN_EXAMPLE, "-j", 0],
            ["convert"],
            ["convert", MAIN_EXAMPLE, "--no-such-option"],
            ["read", MAIN_EXAMPLE, "--section", "everything"],
            ["read", MAIN_EXAMPLE, MAIN_EXAMPLE],
            ["convert", "-"],
            ["convert", "-", "--out-dir", "out"],
            ["convert", "-", MAIN_EXAMPLE, "-o", "-"],
            [],
        ]
        for args in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertIn("--help", result.stderr)
        self.assertFalse(Path("x.json").exists())

    def test_help_and_version_on_stdout(self):
        for args in [["--help"], ["convert", "--help"], ["read", "--help"], ["--version"]]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 0)
                self.assertRegex(result.stdout, r"Usage: annoxml|^annoxml \d+\.\d+\.\d+$")


class InterruptTest(TempDirTest):
    FILES = 4000

    def test_interrupted_run_leaves_only_complete_files(self):
        write_files(self.tmp / "in", {f"f{n:04}.xml": GOOD_XML.format(n=n)
                                      for n in range(self.FILES)})
        process = subprocess.Popen([*TOOL, "convert", "in", "-j", "2"], cwd=self.tmp,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        while not any((self.tmp / "in").glob("*.json")) and process.poll() is None:
            time.sleep(0.002)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)

        outputs = list((self.tmp / "in").glob("*.json"))
        if process.returncode == 0 and len(outputs) == self.FILES:
            self.skipTest("the run finished before the signal arrived")
        self.assertEqual(process.returncode, 130, stderr)
        self.assertEqual(stdout, "")
        self.assertIn("stopped by signal 2", stderr)
        self.assertLess(len(outputs), self.FILES)
        self.assertEqual(list(self.tmp.rglob(".annoxml-*")), [])
        for output in outputs:
            json.loads(output.read_text())


class StreamsTest(TempDirTest):
    EXPECTED_MAIN = (EXPECTED / "colonoscopy-frame-0142.json").read_text(encoding="utf-8")

    def test_standard_input_to_standard_output(self):
        with open(MAIN_EXAMPLE, "rb") as stdin:
            result = run("convert", "-", "-o", "-", stdin=stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(mask_dates(result.stdout), self.EXPECTED_MAIN)
        self.assertIn("1 file converted, 0 failed", result.stderr)

    def test_standard_input_to_a_file_and_a_file_to_standard_output(self):
        with open(MAIN_EXAMPLE, "rb") as stdin:
            from_stdin = run("convert", "-", "-o", "out.json", "-q", stdin=stdin, cwd=self.tmp)
        self.assertEqual((from_stdin.returncode, from_stdin.stdout, from_stdin.stderr), (0, "", ""))
        self.assertEqual(mask_dates((self.tmp / "out.json").read_text()), self.EXPECTED_MAIN)
        to_stdout = run("convert", MAIN_EXAMPLE, "-o", "-", "-q")
        self.assertEqual(mask_dates(to_stdout.stdout), self.EXPECTED_MAIN)

    def test_standard_output_redirected_to_a_file_is_written_through(self):
        target = self.tmp / "appended.json"
        target.write_text("before\n")
        with open(target, "a") as stdout:
            result = subprocess.run([*TOOL, "convert", MAIN_EXAMPLE, "-o", "-", "-q"],
                                    stdout=stdout, stderr=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        text = target.read_text()
        self.assertTrue(text.startswith("before\n"), "the shell's file is appended to, not replaced")
        self.assertEqual(mask_dates(text[len("before\n"):]), self.EXPECTED_MAIN)

    def test_bad_standard_input_is_named_as_such(self):
        for command in [["convert", "-", "-o", "-"], ["read", "-"]]:
            with self.subTest(command=command):
                result = run(*command, input=MALFORMED_XML)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertTrue(result.stderr.startswith(
                    "annoxml: standard input: Failed to load xml file: "), result.stderr)

    @unittest.skipIf(ON_WINDOWS, "FIFOs and bash's process substitution: POSIX only")
    def test_fifos_and_process_substitution_as_inputs(self):
        fifo = self.tmp / "in.fifo"
        os.mkfifo(fifo)
        for command in [["convert", fifo, "-o", "-", "-q"], ["read", fifo, "-s", "image"]]:
            with self.subTest(command=command):
                process = subprocess.Popen([*TOOL, *map(str, command)], stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True)
                fifo.write_bytes(MAIN_EXAMPLE.read_bytes())
                stdout, stderr = process.communicate(timeout=120)
                self.assertEqual(process.returncode, 0, stderr)
                self.assertIn("patient-0318/frame-0142.png", stdout)
        shell = f'"{BINARY}" convert <(cat "{MAIN_EXAMPLE}") -o - -q'
        result = subprocess.run(["bash", "-c", shell], capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(mask_dates(result.stdout), self.EXPECTED_MAIN)

    @unittest.skipIf(ON_WINDOWS, "the Windows build has no iconv (README)")
    def test_declared_encodings_are_converted(self):
        cases = {"windows-1252": "Œdème", "Shift_JIS": "ポリープ", "GB18030": "息肉",
                 "EUC-KR": "용종", "ISO-8859-2": "Łódź", "ISO-8859-15": "€dème"}
        for encoding, label in cases.items():
            with self.subTest(encoding=encoding):
                xml = GOOD_XML.replace('encoding="utf-8"', f'encoding="{encoding}"')
                xml = xml.replace("Polyp", label).format(n=1)
                result = run("convert", "-", "-o", "-", input=xml.encode(encoding), text=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(json.loads(result.stdout.decode())["categories"][0]["name"], label)
        unknown = run("convert", "-", "-o", "-",
                      input=GOOD_XML.replace("utf-8", "x-martian").format(n=1))
        self.assertEqual(unknown.returncode, 1)
        self.assertIn("annoxml: standard input: Failed to load xml file: unsupported encoding "
                      "x-martian", unknown.stderr)


class OutputPathsTest(TempDirTest):
    def convert(self, output):
        return run("convert", MAIN_EXAMPLE, "-o", output, "-q", cwd=self.tmp)

    def test_links_are_followed_and_kept(self):
        (self.tmp / "real.json").write_text("old")
        (self.tmp / "link.json").symlink_to("real.json")
        (self.tmp / "dangling.json").symlink_to("made/by/link.json")
        (self.tmp / "made" / "by").mkdir(parents=True)
        for link, target in [("link.json", "real.json"), ("dangling.json", "made/by/link.json")]:
            with self.subTest(link=link):
                self.assertEqual(self.convert(link).returncode, 0)
                self.assertTrue((self.tmp / link).is_symlink())
                self.assertEqual(json.loads((self.tmp / target).read_text())["images"]["id"], 1)

    def test_permission_bits_of_a_replaced_file_are_kept(self):
        for mode in [0o600, 0o640, 0o755]:
            with self.subTest(mode=oct(mode)):
                target = self.tmp / "out.json"
                target.write_text("old")
                target.chmod(mode)
                self.assertEqual(self.convert("out.json").returncode, 0)
                self.assertEqual(target.stat().st_mode & 0o7777, mode)
                self.assertNotEqual(target.read_text(), "old")

    def test_fifo_output_is_written_not_replaced(self):
        fifo = self.tmp / "out.fifo"
        os.mkfifo(fifo)
        process = subprocess.Popen([*TOOL, "convert", MAIN_EXAMPLE, "-o", fifo, "-q"],
                                   stderr=subprocess.PIPE, text=True)
        received = fifo.read_text()
        process.communicate(timeout=120)
        self.assertEqual(process.returncode, 0)
        self.assertEqual(json.loads(received)["images"]["id"], 1)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))

    def test_a_name_at_the_length_limit_works(self):
        name = "n" * (os.pathconf(self.tmp, "PC_NAME_MAX") - len(".json")) + ".json"
        self.assertEqual(self.convert(name).returncode, 0)
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), [name])

    def test_full_device_is_reported_and_kept(self):
        if os.geteuid() != 0:
            self.skipTest("making device nodes needs root")
        full = self.tmp / "full"
        try:
            os.mknod(full, 0o666 | stat.S_IFCHR, os.makedev(1, 7))
        except OSError as error:
            self.skipTest(f"no device node here: {error}")
        result = self.convert(full)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, f"annoxml: {MAIN_EXAMPLE}: Cannot write {full}: "
                                        "No space left on device\n")
        self.assertTrue(stat.S_ISCHR(os.lstat(full).st_mode))


SKIPPED = 77  # ctest's SKIP_RETURN_CODE, so that a skipped case does not pass unseen

if __name__ == "__main__":
    outcome = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[1:]], exit=False).result
    if not outcome.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if outcome.skipped else 0)
