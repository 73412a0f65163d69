#!/usr/bin/env python3
"""How the cost of carrying a document's structure grows with its size.

Builds documents of 10 pages whose structure grows: N link annotations
spread over the pages (each with a destination naming a page), N outline
items in one /Next chain, and a named-destination tree of N leaves. Numbers
each with the tool (best of ROUNDS runs) and, for comparison, the same
document with the structure cut off from the catalog and pages (the
objects stay in the file, so the input is as large). Prints the time each
took and the difference per thousand items: it should stay flat as N
grows, the work being linear. Not a test: figures depend on the machine.
With --tagged the structure is a tagged document's instead: a tree of N
elements under one, each marking an id on one of the pages, and a parent
tree that lists them by page.

    bench/structure_scale.py --tool build/dedediruzurud [--sizes 10000 40000] [--rounds 5] [--tagged]
"""
import argparse
import os
import resource
import subprocess
import tempfile
import time

PAGES = 10


def make_pdf(n, carried):
    """The document's bytes: catalog 1, page tree 2, pages 3.., content,
    outline root, items, links, name-tree leaves."""
    bodies = []
    page0 = 3
    content = page0 + PAGES
    outline = content + 1
    items = outline + 1
    links = items + n
    names = links + n
    pages = " ".join("%d 0 R" % (page0 + i) for i in range(PAGES))
    catalog = "<< /Type /Catalog /Pages 2 0 R"
    if carried:
        catalog += " /Outlines %d 0 R /Names << /Dests %d 0 R >>" % (outline, names)
    bodies.append(catalog + " >>")
    bodies.append("<< /Type /Pages /Kids [%s] /Count %d >>" % (pages, PAGES))
    for i in range(PAGES):
        annots = " ".join("%d 0 R" % (links + k) for k in range(i, n, PAGES))
        extra = " /Annots [%s]" % annots if carried else ""
        bodies.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R%s >>" % (content, extra))
    data = b"BT /F1 12 Tf 72 720 Td (Hello) Tj ET"
    bodies.append(b"<< /Length %d >>stream\n" % len(data) + data + b"\nendstream")
    bodies.append("<< /Type /Outlines /First %d 0 R /Last %d 0 R /Count %d >>" % (items, items + n - 1, n))
    for k in range(n):
        nxt = " /Next %d 0 R" % (items + k + 1) if k + 1 < n else ""
        bodies.append("<< /Title (Item %d) /Parent %d 0 R%s /Dest [%d 0 R /XYZ 72 %d 0] >>"
                      % (k, outline, nxt, page0 + k % PAGES, 700 - k % 600))
    for k in range(n):
        y = 700 - (k // PAGES) % 600
        bodies.append("<< /Type /Annot /Subtype /Link /Rect [72 %d 200 %d] /Border [0 0 0] /Dest [%d 0 R /Fit] >>"
                      % (y, y + 10, page0 + (k + 1) % PAGES))
    leaves = " ".join("(d%07d) [%d 0 R /Fit]" % (k, page0 + k % PAGES) for k in range(n))
    bodies.append("<< /Names [%s] >>" % leaves)
    return assemble(bodies)


def assemble(bodies):
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for k, body in enumerate(bodies):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (k + 1) + (body if isinstance(body, bytes) else body.encode()) + b"\nendobj\n"
    x = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(bodies) + 1, x)
    return bytes(out)


def make_tagged_pdf(n, carried):
    """Catalog 1, page tree 2, pages 3.., content, root, document element,
    N elements, parent tree."""
    page0 = 3
    content = page0 + PAGES
    root = content + 1
    doc = root + 1
    elems = doc + 1
    tree = elems + n
    on_page = [list(range(i, n, PAGES)) for i in range(PAGES)]
    catalog = "<< /Type /Catalog /Pages 2 0 R"
    if carried:
        catalog += " /StructTreeRoot %d 0 R /MarkInfo << /Marked true >>" % root
    bodies = [catalog + " >>",
              "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join("%d 0 R" % (page0 + i) for i in range(PAGES)), PAGES)]
    for i in range(PAGES):
        bodies.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R /StructParents %d >>"
                      % (content, i))
    per_page = (n + PAGES - 1) // PAGES
    data = "".join("/P << /MCID %d >> BDC EMC\n" % k for k in range(per_page)).encode()
    bodies.append(b"<< /Length %d >>stream\n" % len(data) + data + b"\nendstream")
    bodies.append("<< /Type /StructTreeRoot /K %d 0 R /ParentTree %d 0 R >>" % (doc, tree))
    bodies.append("<< /S /Document /P %d 0 R /K [%s] >>" % (root, " ".join("%d 0 R" % (elems + k) for k in range(n))))
    for k in range(n):
        bodies.append("<< /S /P /P %d 0 R /Pg %d 0 R /K %d >>" % (doc, page0 + k % PAGES, k // PAGES))
    nums = " ".join("%d [%s]" % (i, " ".join("%d 0 R" % (elems + k) for k in ks)) for i, ks in enumerate(on_page))
    bodies.append("<< /Nums [%s] >>" % nums)
    return assemble(bodies)


def best_time(tool, src, dst, rounds):
    """The best CPU time (user + system) of the runs: on a shared machine
    the wall time mostly measures the neighbours."""
    best = None
    for _ in range(rounds):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([tool, src, dst], check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
        best = min(best or 1e9, cpu)
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tool", required=True)
    ap.add_argument("--sizes", type=int, nargs="+", default=[10000, 20000, 40000, 80000])
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--tagged", action="store_true", help="a tagged document's structure tree")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="dedediruzurud-structure-")
    print("| items N | input MB | with structure CPU s | without CPU s | difference ms | ms per 1000 |")
    print("|---|---|---|---|---|---|")
    for n in args.sizes:
        times = []
        for carried in (True, False):
            src = os.path.join(work, "in-%d-%d.pdf" % (n, carried))
            with open(src, "wb") as f:
                f.write((make_tagged_pdf if args.tagged else make_pdf)(n, carried))
            times.append(best_time(args.tool, src, os.path.join(work, "out.pdf"), args.rounds))
        diff = (times[0] - times[1]) * 1000
        print("| %d | %.1f | %.3f | %.3f | %.1f | %.2f |" % (n, os.path.getsize(src) / 1e6, times[0], times[1], diff,
                                                           diff / n * 1000))
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
    os.rmdir(work)


if __name__ == "__main__":
    main()
