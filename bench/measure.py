#!/usr/bin/env python3
"""Times whole processes of annoxml against the floor programs and the Python peer (see bench/run).

    measure.py BUILD_DIR RUNS

Each case runs its programs in turn, RUNS times over (annoxml, floor, peer, annoxml, ...), and
reports medians of the wall time and of the peak resident memory that /usr/bin/time -v gives.
Before each case, written files are flushed and the machine is left alone for SETTLE_SECONDS:
on the virtual machines this was measured on, creating thousands of files slows the processors
for tens of seconds after, and a process busy on both of them (annoxml) more than one that is
not (a floor).

The study rows (a data set of three splits grouped by folder, from a generated study of 23
recordings, bench/generate_study.py) take their sizes from BENCH_STUDY_FRAMES (default
"250000,1000000"; empty for none). The studies are written in the temporary folder and deleted
after, unless BENCH_STUDY_DIR names a folder to keep them in for the next run.
BENCH_ONLY=dataset measures the data-set rows alone.
"""
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH = pathlib.Path(__file__).resolve().parent
THREADS = "2"
SETTLE_SECONDS = 30
STUDY_SPLITS = "train=0.7,val=0.15,test=0.15"


class Case:
    def __init__(self, name, annoxml, floor, peer=None, clean=()):
        self.name, self.annoxml, self.floor, self.peer = name, annoxml, floor, peer
        self.clean = clean  # folders and files removed before every run


def run(command, clean):
    for path in clean:
        shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else \
            pathlib.Path(path).unlink(missing_ok=True)
    os.sync()  # nothing from earlier runs left to write back during this one
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-v", *command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"measure: {' '.join(command)} failed:\n{done.stderr}")
    peak_kb = next(int(line.split(":")[1]) for line in done.stderr.splitlines()
                   if "Maximum resident set size" in line)
    return elapsed, peak_kb / 1024


def measure(case, runs):
    programs = [p for p in (case.annoxml, case.floor, case.peer) if p]
    samples = {id(p): [] for p in programs}
    for _ in range(runs):
        for program in programs:
            samples[id(program)].append(run(program, case.clean))
    median = lambda p, i: statistics.median(s[i] for s in samples[id(p)]) if p else None
    return {key: (median(p, 0), median(p, 1)) for key, p in
            (("annoxml", case.annoxml), ("floor", case.floor), ("peer", case.peer))}


def output_bytes(folder, suffix=".json"):
    return {p: p.stat().st_size for p in pathlib.Path(folder).rglob("*" + suffix)}


def batch_manifest(work, name, inputs, outputs):
    """Input, floor output and byte count of every file that annoxml converted."""
    lines = []
    for xml in sorted(pathlib.Path(inputs).rglob("*.xml")):
        relative = xml.relative_to(inputs).with_suffix(".json")
        size = (pathlib.Path(outputs) / relative).stat().st_size
        lines.append(f"{xml}\t{work / (name + '-floor') / relative}\t{size}\n")
    manifest = work / (name + ".manifest")
    manifest.write_text("".join(lines))
    return manifest


def cases(build, work):
    annoxml, floor = str(build / "annoxml"), str(build / "bench" / "annoxml_floor")
    readers = str(build / "bench" / "annoxml_readers")
    peer = [sys.executable, str(BENCH / "peer.py")]
    if os.environ.get("BENCH_ONLY") == "dataset":
        return [dataset_case(annoxml, floor, work),
                *(study_case(annoxml, floor, work, frames) for frames in study_sizes())]
    large = work / "large.xml"
    subprocess.run([sys.executable, BENCH / "generate.py", "large", large], check=True)
    subprocess.run([annoxml, "convert", "-q", large, "-o", work / "large.json"], check=True)
    large_bytes = (work / "large.json").stat().st_size
    result = [
        Case("large frame (30 MB)", [annoxml, "convert", "-q", str(large), "-o",
                                     str(work / "large.json")],
             [floor, "file", str(large), str(work / "large-floor.json"), str(large_bytes)],
             [*peer, str(large), str(work / "large-peer.json")]),
        Case("readers: GetAllAnnotations", [readers, str(large)], [floor, "load", str(large)]),
    ]
    for name, kind, count in (("tiny", "tiny", 5000), ("medium", "medium", 2000)):
        inputs, outputs = work / name, work / (name + "-out")
        subprocess.run([sys.executable, BENCH / "generate.py", kind, inputs, str(count)], check=True)
        subprocess.run([annoxml, "convert", "-q", inputs, "--out-dir", outputs, "-j", THREADS],
                       check=True)
        manifest = batch_manifest(work, name, inputs, outputs)
        label = f"batch: {count} {'tiny frames' if kind == 'tiny' else 'frames of 83 KB'}"
        result.append(Case(
            label,
            [annoxml, "convert", "-q", str(inputs), "--out-dir", str(outputs), "-j", THREADS],
            [floor, "batch", str(manifest), THREADS],
            [*peer, str(inputs), "--out-dir", str(work / (name + "-peer"))],
            clean=[outputs, work / (name + "-floor"), work / (name + "-peer")]))
    if "dataset" in subprocess.run([annoxml, "--help"], capture_output=True, text=True).stdout:
        result.append(dataset_case(annoxml, floor, work))
        for frames in study_sizes():
            result.append(study_case(annoxml, floor, work, frames))
    return result


def study_sizes():
    sizes = os.environ.get("BENCH_STUDY_FRAMES", "250000,1000000")
    return [int(size) for size in sizes.split(",") if size.strip()]


def study_folder(work, frames):
    """The generated study of `frames` frames; kept in BENCH_STUDY_DIR when that is set."""
    kept = os.environ.get("BENCH_STUDY_DIR")
    folder = pathlib.Path(kept or work) / f"study-{frames}"
    done = folder / "complete"
    if not done.exists():
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([sys.executable, BENCH / "generate_study.py", folder, str(frames)],
                       check=True)
        done.touch()
    return folder


def study_case(annoxml, floor, work, frames):
    """Three split files grouped by recording, against parsing every frame on as many threads
    and writing as many bytes to as many files."""
    inputs = study_folder(work, frames)
    output = work / f"study-{frames}.json"
    command = [annoxml, "dataset", "-q", str(inputs), "-o", str(output), "--split", STUDY_SPLITS,
               "--group-by", "folder", "-j", THREADS]
    subprocess.run(command, check=True)
    written = sorted(work.glob(f"study-{frames}_*.json"))
    manifest = work / f"study-{frames}.manifest"
    manifest.write_text("".join(f"{xml}\t-\t0\n" for xml in sorted(inputs.rglob("*.xml"))))
    floor_command = [floor, "gather", str(manifest), THREADS]
    floor_outputs = []
    for path in written:
        floor_outputs.append(work / f"floor-{path.name}")
        floor_command += [str(floor_outputs[-1]), str(path.stat().st_size)]
    return Case(f"dataset: study of {frames} frames, 3 splits by folder", command, floor_command,
                clean=[*written, *floor_outputs])


def dataset_case(annoxml, floor, work):
    """One data-set file from 10,000 tiny frames, against parsing them all and writing its bytes."""
    inputs, output = work / "dataset", work / "dataset.json"
    subprocess.run([sys.executable, BENCH / "generate.py", "tiny", inputs, "10000"], check=True)
    command = [annoxml, "dataset", "-q", str(inputs), "-o", str(output), "-j", THREADS]
    subprocess.run(command, check=True)
    manifest = work / "dataset.manifest"
    manifest.write_text("".join(f"{xml}\t-\t0\n" for xml in sorted(inputs.rglob("*.xml"))))
    floor_output = work / "dataset-floor.json"
    # Both outputs go before every run: renaming over an existing file costs ext4 a flush.
    return Case("dataset: 10000 tiny frames", command,
                [floor, "gather", str(manifest), THREADS, str(floor_output),
                 str(output.stat().st_size)], clean=[output, floor_output])


def main(build_dir, runs):
    build = pathlib.Path(build_dir).resolve()
    work = pathlib.Path(tempfile.mkdtemp(prefix="annoxml-bench-"))
    try:
        rows = []
        for case in cases(build, work):
            print(f"measure: {case.name} ...", file=sys.stderr, flush=True)
            os.sync()
            time.sleep(SETTLE_SECONDS)
            rows.append((case.name, measure(case, runs)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"medians of {runs} alternating runs; ratio = annoxml / floor; "
          f"peer x = Python peer time / annoxml time")
    header = ("case", "time s", "floor s", "ratio", "peak MB", "floor MB", "mem ratio",
              "peer s", "peer x")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for name, m in rows:
        (t, mem), (ft, fmem), (pt, _) = m["annoxml"], m["floor"], m["peer"]
        peer = (f"{pt:.2f}", f"{pt / t:.1f}") if pt else ("-", "-")
        print(f"| {name} | {t:.3f} | {ft:.3f} | {t / ft:.2f} | {mem:.0f} | {fmem:.0f} | "
              f"{mem / fmem:.2f} | {peer[0]} | {peer[1]} |")
    studies = [(name, m["annoxml"][1]) for name, m in rows if name.startswith("dataset: study")]
    if len(studies) >= 2:
        print(f"study peak memory, largest / smallest: {studies[-1][1]:.0f} / "
              f"{studies[0][1]:.0f} MB = {studies[-1][1] / studies[0][1]:.2f}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], int(sys.argv[2]))
