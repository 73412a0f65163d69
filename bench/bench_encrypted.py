#!/usr/bin/env python3
"""Numbering an encrypted copy of a large manual against numbering the plain
file: the time may be at most 1.5 x the plain file's.

The manuals are compare.py's (fetched from Debian packages once and cached).
Each is encrypted with qpdf as RC4 (R3), AES-128 (R4) and AES-256 (R6), with
the empty user password and an owner password; every copy is then numbered
with the tool, best of N runs, and the CPU time (user + system) and wall time
are printed beside the plain file's, with the ratio.

    python3 bench/bench_encrypted.py --cli build/dedediruzurud [--runs 3]
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import compare  # noqa: E402  (the manuals and their cache)

MANUALS = ("fullrefman.pdf", "pgfmanual.pdf")
LIMIT = 1.5
KINDS = [
    ("plain", None),
    ("rc4-r3", ["--encrypt", "", "owner", "128", "--use-aes=n", "--"]),
    ("aes128-r4", ["--encrypt", "", "owner", "128", "--use-aes=y", "--"]),
    ("aes256-r6", ["--encrypt", "", "owner", "256", "--"]),
]


def timed(argv):
    """(wall, cpu) seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", required=True)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cache", default=os.path.expanduser("~/.cache/dedediruzurud-bench"))
    args = ap.parse_args()
    docs = dict((p.name, p) for p, _ in compare.fetch_docs(Path(args.cache)))
    print("| manual | kind | input MB | wall s | cpu s | cpu / plain |")
    print("|---|---|---|---|---|---|")
    worst = 0.0
    with tempfile.TemporaryDirectory(prefix="bench-enc-") as tmp:
        for name in MANUALS:
            plain_cpu = None
            for kind, qpdf_args in KINDS:
                src = docs[name]
                if qpdf_args:
                    src = Path(tmp, f"{kind}-{name}")
                    rc = subprocess.run(["qpdf", "--allow-weak-crypto", *qpdf_args, str(docs[name]), str(src)]).returncode
                    if rc not in (0, 3):
                        sys.exit(f"qpdf failed on {name}")
                out = Path(tmp, "out.pdf")
                runs = [timed([args.cli, str(src), str(out)]) for _ in range(args.runs)]
                wall, cpu = min(r[0] for r in runs), min(r[1] for r in runs)
                if plain_cpu is None:
                    plain_cpu = cpu
                ratio = cpu / plain_cpu if plain_cpu else 0
                if qpdf_args:
                    worst = max(worst, ratio)
                print(f"| {name} | {kind} | {src.stat().st_size / 1e6:.1f} | {wall:.2f} | {cpu:.2f} | {ratio:.2f} |")
    print(f"\nworst ratio {worst:.2f} (limit {LIMIT})")
    return 0 if worst <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
