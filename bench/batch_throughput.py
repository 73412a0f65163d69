#!/usr/bin/env python3
"""Batch throughput of the command-line tool.

Every readable file of the corpus, copied COPIES times under names of its
own, is numbered with one command at each -j level (median of ROUNDS runs,
levels interleaved). Prints wall time, pages per second, the CPU time the
tool used and the speed-up over the first level. Not a test: the figures
depend on the machine and on whatever else runs on it, so the script also
measures how much two plain busy processes gain over one at that moment.

    bench/batch_throughput.py [--tool PATH] [--corpus DIR] [--copies N] [--rounds N] [--jobs 1 2]

Without --tool it builds the tool in build-bench/ (Release). The copies and
outputs go to TMPDIR; TMPDIR=/dev/shm keeps the disk out of the figures.
"""
import argparse
import multiprocessing
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_tool():
    subprocess.run(["cmake", "-S", ROOT, "-B", os.path.join(ROOT, "build-bench"), "-DCMAKE_BUILD_TYPE=Release",
                    "-DDEDEDIRUZURUD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", os.path.join(ROOT, "build-bench"), "--target", "dedediruzurud_cli",
                    "-j", str(os.cpu_count() or 2)], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(ROOT, "build-bench", "dedediruzurud")


def readable_files(corpus):
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    return [r[0] for r in rows if len(r) > 4 and r[4] == "ok"]


def children_cpu():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def one_run(tool, jobs, inputs, out):
    shutil.rmtree(out, ignore_errors=True)
    cpu, start = children_cpu(), time.perf_counter()
    r = subprocess.run([tool, "-j", str(jobs), "--format", "Page {n} of {total}", *inputs, "-o", out],
                       capture_output=True, text=True)
    wall = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"the tool failed (-j{jobs}):\n{r.stderr}")
    pages = int(re.search(r"\((\d+) pages\)", r.stdout).group(1))
    return wall, children_cpu() - cpu, pages


def spin(_):
    n = 0
    for k in range(3_000_000):
        n += k
    return n


def machine_parallelism():
    """How much faster two busy processes finish two loops than one does."""
    with multiprocessing.Pool(2) as pool:
        pool.map(spin, [0, 0])  # start both workers
        start = time.perf_counter()
        pool.map(spin, [0], chunksize=1)
        one = time.perf_counter() - start
        start = time.perf_counter()
        pool.map(spin, [0, 0], chunksize=1)
        two = time.perf_counter() - start
    return 2 * one / two


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tool")
    ap.add_argument("--corpus", default=os.path.join(ROOT, "tests", "corpus"))
    ap.add_argument("--copies", type=int, default=8)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--jobs", type=int, nargs="+", default=[1, 2])
    a = ap.parse_args()
    tool = a.tool or build_tool()
    with tempfile.TemporaryDirectory(prefix="dedediruzurud-bench.") as work:
        inputs = []
        for name in readable_files(a.corpus):
            for k in range(a.copies):
                inputs.append(os.path.join(work, f"{k}-{name}"))
                shutil.copyfile(os.path.join(a.corpus, name), inputs[-1])
        size = sum(os.path.getsize(p) for p in inputs)
        print(f"corpus: {len(inputs)} files, {size / 1e6:.1f} MB ({a.corpus}, {a.copies} copies of each "
              f"readable file); {a.rounds} rounds; {os.cpu_count()} cores")
        print(f"machine now: two busy processes run {machine_parallelism():.2f}x as fast as one")
        runs = {j: [] for j in a.jobs}
        for _ in range(a.rounds):
            for j in a.jobs:
                runs[j].append(one_run(tool, j, inputs, os.path.join(work, "out")))
        base = None
        for j in a.jobs:
            wall = statistics.median(r[0] for r in runs[j])
            cpu = statistics.median(r[1] for r in runs[j])
            pages = runs[j][0][2]
            base = base or pages / wall
            print(f"-j{j}: {pages} pages in {wall:.3f} s (median), {pages / wall:.0f} pages/s, "
                  f"CPU {cpu:.3f} s, {pages / wall / base:.2f}x the -j{a.jobs[0]} rate")
        print(f"machine after: two busy processes run {machine_parallelism():.2f}x as fast as one")


if __name__ == "__main__":
    main()
