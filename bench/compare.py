#!/usr/bin/env python3
"""Size, time and memory of the numbering tool on big real documents.

Numbers each document with the tool built from this checkout ("now") and with
the tool built from an earlier git revision ("prev"), copies it with cp, and
prints one markdown table with the three side by side. The targets it checks:

- output <= 1.10 x input + 600 bytes per page: a numbered copy should be about
  the size of its input plus a small form and label per page;
- time now / prev <= 0.5 on the R and pgf manuals (text documents, where
  inflating and rewriting content took much of the time) and time now / cp <= 3
  on the image-heavy map and the uncompressed manual (little to do there but
  copy bytes);
- peak RSS <= input + output + 16 MiB: the file image, the output being built
  and a little working space;
- the encoder on the object streams of tests/corpus (bench_deflate's "objstm"
  set): at least libdeflate level 6's speed, at most 2 % larger than zlib
  level 6.

Times are judged on CPU time (user + system, from wait4): the wall time is
printed beside it, but on a machine shared with other work it mostly counts
the waiting for a core.

The documents come from Debian packages (apt-get download) and are cached, so
later runs work offline. Times are the best of N runs; peak RSS is GNU time's
%M (the maximum over the runs). Output files are checked for their page count.
"""
import argparse
import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
MIB = 1 << 20

# name in the cache, Debian package, file name in the package (possibly .gz),
# rewritten uncompressed by qpdf, time target ("prev": <= 0.5 x prev, "cp": <= 3 x cp)
DOCS = [
    ("fullrefman.pdf", "r-doc-pdf", "fullrefman.pdf", False, "prev"),
    ("pgfmanual.pdf", "texlive-pictures-doc", "pgfmanual.pdf", False, "prev"),
    ("mercatormap.pdf", "texlive-pictures-doc", "mercatormap.pdf", False, "cp"),
    ("ngspice-manual-qdf.pdf", "ngspice-doc", "manual.pdf", True, "cp"),
]


def run(argv, **kw):
    return subprocess.run(argv, check=True, **kw)


def fetch_package(package, wanted, cache):
    """Download one package, take the wanted (cache name, file name, qdf) out of it."""
    with tempfile.TemporaryDirectory(prefix="bench-deb-") as tmp:
        print(f"fetching {package} ...", file=sys.stderr)
        run(["apt-get", "download", package], cwd=tmp, stdout=subprocess.DEVNULL)
        deb = next(Path(tmp).glob("*.deb"))
        run(["dpkg-deb", "-x", str(deb), f"{tmp}/root"])
        files = {p.name: p for p in Path(tmp, "root").rglob("*.pdf*") if p.is_file()}
        for name, member, qdf in wanted:
            src = files.get(member) or files.get(member + ".gz")
            if src is None:
                sys.exit(f"{package} holds no {member}; adjust DOCS in {__file__}")
            plain = Path(tmp, "plain.pdf")
            with (gzip.open if src.suffix == ".gz" else open)(src, "rb") as f, open(plain, "wb") as o:
                shutil.copyfileobj(f, o)
            part = cache / (name + ".part")
            if qdf:
                # qpdf exits 3 when it only warned
                rc = subprocess.run(["qpdf", "--qdf", "--object-streams=disable", str(plain), str(part)]).returncode
                if rc not in (0, 3):
                    sys.exit(f"qpdf failed on {member}")
            else:
                shutil.move(plain, part)
            os.replace(part, cache / name)


def fetch_docs(cache):
    cache.mkdir(parents=True, exist_ok=True)
    missing = {}
    for name, package, member, qdf, _ in DOCS:
        if not (cache / name).exists():
            missing.setdefault(package, []).append((name, member, qdf))
    for package, wanted in missing.items():
        fetch_package(package, wanted, cache)
    return [(cache / name, target) for name, _, _, _, target in DOCS]


def build(src, bdir, bench=False):
    run(["cmake", "-S", str(src), "-B", str(bdir), "-DCMAKE_BUILD_TYPE=Release",
         "-DDEDEDIRUZURUD_TESTS=OFF"] + (["-DDEDEDIRUZURUD_BENCH=ON"] if bench else []), stdout=subprocess.DEVNULL)
    run(["cmake", "--build", str(bdir), "-j2", "--target", "dedediruzurud_cli"]
        + (["bench_deflate"] if bench else []), stdout=subprocess.DEVNULL)
    return bdir / "dedediruzurud"


def build_revision(rev, builds):
    """Build REV once in a temporary worktree; the build stays cached by commit."""
    r = subprocess.run(["git", "-C", str(REPO), "rev-parse", "--verify", "--quiet", rev + "^{commit}"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"unknown revision: {rev}")
    sha = r.stdout.strip()
    bdir = builds / ("rev-" + sha[:12])
    if (bdir / "dedediruzurud").exists():
        return bdir / "dedediruzurud"
    shutil.rmtree(bdir, ignore_errors=True)  # a half-finished build of an earlier run
    wt = Path(tempfile.mkdtemp(prefix="bench-wt-"))
    try:
        run(["git", "-C", str(REPO), "worktree", "add", "--detach", str(wt), sha],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print(f"building {rev} ({sha[:12]}) ...", file=sys.stderr)
        return build(wt, bdir)
    finally:
        subprocess.run(["git", "-C", str(REPO), "worktree", "remove", "--force", str(wt)],
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(wt, ignore_errors=True)


def pages_of(path):
    r = subprocess.run(["pdfinfo", str(path)], capture_output=True, text=True)
    for line in r.stdout.splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    return None


def run_once(argv, rss_file, err):
    """Wall time, CPU time (user + system) and peak RSS in bytes of one run;
    None when the command fails. CPU time comes from wait4 (microseconds,
    GNU time's own share is about a millisecond), the RSS from GNU time:
    wait4's would be at least that of the Python process it was forked from."""
    err.seek(0)
    err.truncate()
    t0 = time.perf_counter()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv,
                            stdout=subprocess.DEVNULL, stderr=err)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        err.seek(0)
        print(f"failed ({proc.returncode}): {' '.join(argv)}: {err.read().strip()}", file=sys.stderr)
        return None
    rss = Path(rss_file).read_text().split()[-1]
    return elapsed, usage.ru_utime + usage.ru_stime, int(rss) * 1024


def bench_file(pdf, target, tools, scratch, runs):
    """Runs the tools in turn, N rounds, so that a change in the machine's load
    falls on all of them alike; keeps each one's best time and largest RSS."""
    row = {"name": pdf.name, "target": target, "in": pdf.stat().st_size, "pages": pages_of(pdf)}
    found = {key: {"time": float("inf"), "cpu": float("inf"), "rss": 0} for key, _ in tools}
    with tempfile.NamedTemporaryFile() as rss_file, tempfile.TemporaryFile("w+") as err:
        for _ in range(runs):
            for key, argv in tools:
                if found[key] is None:
                    continue  # failed before
                out = scratch / f"{key}.pdf"
                out.unlink(missing_ok=True)
                m = run_once(argv + [str(pdf), str(out)], rss_file.name, err)
                if not m:
                    found[key] = None
                    continue
                found[key]["time"] = min(found[key]["time"], m[0])
                found[key]["cpu"] = min(found[key]["cpu"], m[1])
                found[key]["rss"] = max(found[key]["rss"], m[2])
                found[key]["size"] = out.stat().st_size
    for key, _ in tools:
        out = scratch / f"{key}.pdf"
        if found[key] and key != "cp" and pages_of(out) != row["pages"]:
            print(f"{key}: {pdf.name}: output has the wrong page count", file=sys.stderr)
            found[key] = None
        row[key] = found[key]
        out.unlink(missing_ok=True)
    return row


def mark(ratio, limit, checks, what):
    """Format a ratio; when it has a target, record (target, document, met)."""
    if ratio is None:
        return "n/a"
    if limit is None:
        return f"{ratio:.2f}"
    checks.append(what + (ratio <= limit,))
    return f"{ratio:.2f} ok" if ratio <= limit else f"**{ratio:.2f} MISSED**"


def cell(m, key, scale, fmt):
    return fmt.format(m[key] / scale) if m else "failed"


def table(rows, now_label, prev_label):
    head = ["document", "pages", "in MB", "out MB now", "out MB prev", "s now", "s prev",
            "s cp", "CPU s now", "CPU s prev", "CPU s cp", "RSS MiB now", "RSS MiB prev", "RSS MiB cp",
            "size / allowed", "CPU now / prev", "CPU now / cp", "wall now / prev", "RSS / allowed"]
    lines = [f"now = {now_label}, prev = {prev_label}; best of the runs (wall and CPU = user + system "
             "separately; the targets on CPU); \"allowed\" size = 1.10 x in + 600 x pages, "
             "RSS = in + out + 16 MiB", "",
             "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    checks = []
    for r in rows:
        now, prev, cp = r["now"], r["prev"], r["cp"]
        size_r = rss_r = w_prev = c_cp = c_prev = None
        if now and r["pages"]:
            size_r = now["size"] / (1.10 * r["in"] + 600 * r["pages"])
            rss_r = now["rss"] / (r["in"] + now["size"] + 16 * MIB)
            w_prev = now["time"] / prev["time"] if prev else None
            c_cp = now["cpu"] / cp["cpu"] if cp and cp["cpu"] > 0 else None
            c_prev = now["cpu"] / prev["cpu"] if prev and prev["cpu"] > 0 else None
        name = r["name"]
        lines.append("| " + " | ".join([
            name, str(r["pages"]), f"{r['in'] / 1e6:.2f}",
            cell(now, "size", 1e6, "{:.2f}"), cell(prev, "size", 1e6, "{:.2f}"),
            cell(now, "time", 1, "{:.3f}"), cell(prev, "time", 1, "{:.3f}"), cell(cp, "time", 1, "{:.3f}"),
            cell(now, "cpu", 1, "{:.3f}"), cell(prev, "cpu", 1, "{:.3f}"), cell(cp, "cpu", 1, "{:.3f}"),
            cell(now, "rss", MIB, "{:.1f}"), cell(prev, "rss", MIB, "{:.1f}"), cell(cp, "rss", MIB, "{:.1f}"),
            mark(size_r, 1.0, checks, ("size", name)),
            mark(c_prev, 0.5 if r["target"] == "prev" else None, checks, ("time vs prev", name)),
            mark(c_cp, 3.0 if r["target"] == "cp" else None, checks, ("time vs cp", name)),
            mark(w_prev, None, checks, ("wall vs prev", name)),
            mark(rss_r, 1.0, checks, ("RSS", name)),
        ]) + " |")
        if not now:
            checks.append(("run", name, False))
    lines += [""]
    for kind in ("run", "size", "time vs prev", "time vs cp", "RSS"):
        mine = [(name, ok) for k, name, ok in checks if k == kind]
        if not mine:
            continue
        missed = [name for name, ok in mine if not ok]
        lines.append(f"- {kind}: met on {len(mine) - len(missed)} of {len(mine)}"
                     + (f", missed on {', '.join(missed)}" if missed else ""))
    return "\n".join(lines)


def encoder_check(bench, runs):
    """Runs bench_deflate on the corpus's object streams; its summary line
    gives bytes and MB/s of ours, zlib 6 and libdeflate 6. Returns table lines."""
    r = subprocess.run([str(bench), "--benchmark_filter=/objstm", "--benchmark_min_time=0.2",
                        f"--benchmark_repetitions={max(runs, 3)}"], capture_output=True, text=True)
    line = next((l.split() for l in r.stdout.splitlines() if l.startswith("target objstm ")), None)
    if r.returncode != 0 or line is None:
        return ["- encoder: bench_deflate failed"]
    mb = float(line[2])
    ours, ours_mbs, z6, z6_mbs, ld6, ld6_mbs = int(line[3]), float(line[4]), int(line[5]), float(line[6]), \
        int(line[7]), float(line[8])
    size_ok, speed_ok = ours <= 1.02 * z6, ours_mbs >= ld6_mbs
    return ["", f"Encoder on the corpus's object streams ({mb:.2f} MB; MB/s of CPU time, best of the repetitions):", "",
            "| coder | bytes | MB/s |", "|---|---|---|",
            f"| ours | {ours} | {ours_mbs:.1f} |", f"| zlib 6 | {z6} | {z6_mbs:.1f} |",
            f"| libdeflate 6 | {ld6} | {ld6_mbs:.1f} |", "",
            f"- encoder size / zlib 6: {ours / z6:.4f} " + ("ok" if size_ok else "**MISSED** (> 1.02)"),
            f"- encoder speed / libdeflate 6: {ours_mbs / ld6_mbs:.2f} " + ("ok" if speed_ok else "**MISSED** (< 1)")]


def corpus_files(manifest):
    lines = manifest.read_text().splitlines()
    cols = lines[0].split("\t")
    for line in lines[1:]:
        f = dict(zip(cols, line.split("\t")))
        if f.get("expect") == "ok":
            yield manifest.parent / f["file"]


def main():
    ap = argparse.ArgumentParser(
        description="Number big real PDFs with the tool of this checkout and of an earlier "
                    "revision, copy them with cp, and print size, time and peak RSS side by "
                    "side as a markdown table, with the targets met or missed.")
    ap.add_argument("rev", nargs="?", help="earlier git revision to compare with (built in a "
                    "temporary worktree, Release, cached by commit); not needed with --prev-tool")
    ap.add_argument("--runs", type=int, default=3, help="runs per measurement, best time kept (default 3)")
    ap.add_argument("--cache", type=Path,
                    default=Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache"), "dedediruzurud-bench"),
                    help="where the documents are kept (default ~/.cache/dedediruzurud-bench)")
    ap.add_argument("--build-dir", type=Path, default=REPO / "build-bench",
                    help="builds and scratch outputs (default build-bench/ in the checkout)")
    ap.add_argument("--tool", type=Path, help="take this tool as 'now' instead of building the checkout")
    ap.add_argument("--prev-tool", type=Path, help="take this tool as 'prev' instead of building REV")
    ap.add_argument("--bench-deflate", type=Path, help="bench_deflate to run for the encoder's targets "
                    "(default: the one built beside the checkout's tool; none with --tool)")
    ap.add_argument("--corpus", action="store_true",
                    help="also every file of tests/corpus/MANIFEST.tsv expected to number ('ok')")
    ap.add_argument("--no-docs", action="store_true", help="skip the big documents (with --corpus)")
    args = ap.parse_args()
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("GNU time is needed for peak RSS: apt-get install time")
    if not args.rev and not args.prev_tool:
        ap.error("give a revision to compare with, or --prev-tool")
    if args.runs < 1:
        ap.error("--runs must be at least 1")

    builds = args.build_dir.resolve()
    files = [] if args.no_docs else fetch_docs(args.cache)
    if args.corpus:
        files += [(p, None) for p in corpus_files(REPO / "tests/corpus/MANIFEST.tsv")]
    prev = args.prev_tool or build_revision(args.rev, builds)
    now = args.tool or build(REPO, builds / "current", bench=not args.bench_deflate)
    bench = args.bench_deflate or (None if args.tool else builds / "current" / "bench" / "bench_deflate")
    tools = [("now", [str(Path(now).resolve())]), ("prev", [str(Path(prev).resolve())]), ("cp", ["cp"])]
    scratch = builds / "scratch"
    scratch.mkdir(parents=True, exist_ok=True)

    rows = []
    for pdf, target in files:
        print(f"measuring {pdf.name} ...", file=sys.stderr)
        rows.append(bench_file(pdf, target, tools, scratch, args.runs))
    now_label = str(args.tool) if args.tool else run(
        ["git", "-C", str(REPO), "describe", "--always", "--dirty"], capture_output=True, text=True).stdout.strip()
    print(table(rows, now_label, args.rev or str(args.prev_tool)))
    if bench:
        print("measuring the encoder ...", file=sys.stderr)
        print("\n".join(encoder_check(bench, args.runs)))


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as e:
        sys.exit(f"failed: {' '.join(map(str, e.cmd))}")
