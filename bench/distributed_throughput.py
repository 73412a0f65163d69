#!/usr/bin/env python3
"""Files per second: number_files on a local Dask cluster of 2 worker
processes against the tool's -j2, on the same files.

Small files of the corpus are copied to COUNT inputs (200 by default); both
number them independently and continuously (--continue), median of ROUNDS
runs, the two sides interleaved. The cluster is started once, outside the
timings; its start-up time is printed on its own, and the overhead per file
is the difference of the two medians divided by the file count. Not a test:
the figures depend on the machine and on whatever else runs on it.

    bench/distributed_throughput.py --tool build/dedediruzurud --library build/libdedediruzurud.so.1
        [--count 200] [--rounds 5]

Run it with Debian's /usr/bin/python3 (python3-distributed). TMPDIR=/dev/shm
keeps the disk out of the figures.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SMALL = ["reportlab-acroform-rotated.pdf", "generated-annots-links-rotated.pdf",
         "libreoffice74-writer-fodt.pdf", "enscript-2up-ps2pdf.pdf"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--corpus", default=os.path.join(ROOT, "tests", "corpus"))
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    os.environ["DEDEDIRUZURUD_LIBRARY"] = os.path.abspath(args.library)
    os.environ["PYTHONPATH"] = os.path.join(ROOT, "python")  # for the worker processes
    sys.path.insert(0, os.path.join(ROOT, "python"))
    from distributed import Client, LocalCluster
    from dedediruzurud.distributed import number_files

    work = tempfile.mkdtemp(prefix="distributed-bench-")
    try:
        inputs = []
        for k in range(args.count):
            name = SMALL[k % len(SMALL)]
            inputs.append(os.path.join(work, f"{k:05d}-{name}"))
            shutil.copyfile(os.path.join(args.corpus, name), inputs[-1])
        start = time.perf_counter()
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
        startup = time.perf_counter() - start
        number_files(inputs[:4], os.path.join(work, "warm"), client=client)  # workers import the package

        def tool(chain):
            out = os.path.join(work, "tool")
            shutil.rmtree(out, ignore_errors=True)
            subprocess.run([args.tool, "-j2", *(["--continue"] if chain else []), "-o", out, *inputs],
                           check=True, stdout=subprocess.DEVNULL)

        def dask(chain):
            out = os.path.join(work, "dask")
            shutil.rmtree(out, ignore_errors=True)
            records = number_files(inputs, out, client=client, continue_numbering=chain)
            assert all(r["status"] == "done" for r in records)

        print(f"{args.count} files, 2 workers; cluster start-up {startup:.2f} s (not in the figures)")
        print(f"{'mode':<12} {'tool -j2':>14} {'dask':>14} {'overhead/file':>14}")
        for chain in (False, True):
            times = {tool: [], dask: []}
            for _ in range(args.rounds):
                for side in (tool, dask):
                    begin = time.perf_counter()
                    side(chain)
                    times[side].append(time.perf_counter() - begin)
            t, d = statistics.median(times[tool]), statistics.median(times[dask])
            mode = "continued" if chain else "independent"
            print(f"{mode:<12} {args.count / t:>8.0f} file/s {args.count / d:>8.0f} file/s "
                  f"{1000 * (d - t) / args.count:>11.1f} ms")
        client.close()
        cluster.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
