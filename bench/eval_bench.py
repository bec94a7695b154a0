#!/usr/bin/env python3
"""Times `annoxml eval` against the reference COCO evaluation's whole process.

    eval_bench.py ANNOXML DIR [RUNS] [--reference PYTHONPATH] [--jobs N]

DIR holds truth.json and results.json from bench/eval_generate.py (by default 5,000 images, 10
regions and 100 predictions each). Each run loads both files and evaluates bbox and segm; the two
programs run in turn, RUNS times over (default 5), each under /usr/bin/time -v. Prints the medians
of wall time, CPU time (user + system: steadier than wall on a shared machine) and peak resident
memory, their ratios, and annoxml's rate in images per second. The reference runs only with
--reference, a folder from which pycocotools (built from its source, no part of this project) can
be imported.
"""
import argparse
import json
import pathlib
import re
import statistics
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent


def timed(command, env=None):
    result = subprocess.run(["/usr/bin/time", "-v", *map(str, command)], capture_output=True,
                            text=True, env=env)
    if result.returncode != 0:
        sys.exit(f"eval_bench: {' '.join(map(str, command))} failed:\n{result.stderr[-2000:]}")
    report = result.stderr

    def field(name):
        return re.search(rf"{re.escape(name)}: (.*)", report).group(1).strip()

    wall = 0.0
    for part in field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":"):
        wall = wall * 60 + float(part)
    cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
    return wall, cpu, int(field("Maximum resident set size (kbytes)")) / 1024, result.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("annoxml")
    parser.add_argument("dir", type=pathlib.Path)
    parser.add_argument("runs", type=int, nargs="?", default=5)
    parser.add_argument("--reference")
    parser.add_argument("--jobs", type=int, default=1)
    args = parser.parse_args()
    truth, results = args.dir / "truth.json", args.dir / "results.json"
    images = len(json.loads(truth.read_text())["images"])
    ours = [args.annoxml, "eval", truth, "--predictions", results, "--iou-type", "both", "--json",
            "-j", args.jobs]
    programs = {"annoxml": (ours, None)}
    if args.reference:
        env = {"PYTHONPATH": args.reference, "PATH": "/usr/bin:/bin"}
        programs["reference"] = ([sys.executable, HERE / "eval_reference.py", truth, results,
                                  "both"], env)
    samples = {name: [] for name in programs}
    outputs = {}
    for run in range(args.runs):
        for name, (command, env) in programs.items():
            wall, cpu, memory, out = timed(command, env)
            samples[name].append((wall, cpu, memory))
            outputs[name] = json.loads(out)
            print(f"run {run + 1} {name}: {wall:.2f} s wall, {cpu:.2f} s CPU, {memory:.0f} MB",
                  flush=True)
    medians = {name: [statistics.median(s[i] for s in runs) for i in range(3)]
               for name, runs in samples.items()}
    for name, (wall, cpu, memory) in medians.items():
        print(f"{name}: median {wall:.2f} s wall, {cpu:.2f} s CPU, {memory:.0f} MB peak")
    wall, cpu, memory = medians["annoxml"]
    print(f"annoxml: {images / wall:.0f} images/s wall, {images / cpu:.0f} images/s CPU")
    if "reference" in medians:
        ref = medians["reference"]
        print(f"reference / annoxml: {ref[0] / wall:.1f}x wall, {ref[1] / cpu:.1f}x CPU; "
              f"annoxml's peak memory {memory / ref[2]:.2f}x the reference's")
        print("numbers equal:", outputs["annoxml"] == outputs["reference"])


if __name__ == "__main__":
    main()
