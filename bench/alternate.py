#!/usr/bin/env python3
"""Runs whole commands in turn, RUNS times over, and prints the medians of their wall, user and
system times: an A/B comparison of two builds beside a floor, on a machine too noisy for one run.

    alternate.py RUNS COMMAND [COMMAND...]

Each COMMAND is one argument, split on spaces, e.g.
    bench/alternate.py 11 "build/annoxml dataset -q DIR -o a.json -j 2" \\
        "old/annoxml dataset -q DIR -o b.json -j 2" \\
        "build-bench/bench/annoxml_floor gather MANIFEST 2 c.json BYTES"
"""
import os
import statistics
import subprocess
import sys
import time


def run_once(command):
    os.sync()  # nothing from earlier runs left to write back during this one
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit(f"alternate: {' '.join(command)} failed")
    return time.perf_counter() - start, usage.ru_utime, usage.ru_stime


def main(runs, commands):
    samples = [[] for _ in commands]
    for _ in range(runs):
        for command, taken in zip(commands, samples):
            taken.append(run_once(command))
    print("wall ms | user ms | sys ms | command")
    for command, taken in zip(commands, samples):
        wall, user, system = (statistics.median(s[i] for s in taken) * 1000 for i in range(3))
        print(f"{wall:7.1f} | {user:7.1f} | {system:6.1f} | {' '.join(command)}")


if __name__ == "__main__":
    if len(sys.argv) < 3 or not sys.argv[1].isdigit():
        sys.exit(__doc__)
    main(int(sys.argv[1]), [command.split() for command in sys.argv[2:]])
