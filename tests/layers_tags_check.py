#!/usr/bin/env python3
"""Layers, tags and shared pages in the numbered copy, read back with
poppler, qpdf and pikepdf:

  layers   pdftotext shows what the input showed plus the labels (a layer
           that was off stays hidden), and every optional-content group is
           one object whether the catalog, a page or an annotation names it
  tags     pdfinfo says "Tagged: yes", pdfinfo -struct-text prints the
           input's tree element for element and text for text, the label is
           a pagination artifact; on turned and cropped pages, a /Contents
           array, a page listed twice
  shared   pages that draw the same stored content share one form and keep
           their own page objects and labels; turned or tagged pages apart

Usage: layers_tags_check.py --cli TOOL --corpus DIR
Exit status: 0 all kept, 1 something lost, 77 a tool or module missing.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    import cairo
    import pikepdf
except ImportError as e:
    print("skipped: %s" % e)
    sys.exit(77)

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAIL: " + what)


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True, errors="replace")


def number(tool, src, dst, *args):
    r = run(tool, *args, src, dst)
    check(r.returncode == 0, "%s: numbering failed: %s" % (os.path.basename(src), r.stderr.strip()))


def struct_text(path):
    # Object numbers of annotations (OBJR) are renumbered with the file.
    return re.sub(r"Object \d+ \d+", "Object", run("pdfinfo", "-struct-text", path).stdout)


def qpdf_ok(path):
    return run("qpdf", "--check", path).returncode == 0


def page_texts(path):
    return run("pdftotext", "-layout", path, "-").stdout.split("\f")[:-1]


# ---------------------------------------------------------------------------
# Tagged inputs, written by cairo and edited with pikepdf
# ---------------------------------------------------------------------------

def cairo_tagged(path, pages=4, link=True):
    surface = cairo.PDFSurface(path, 400, 500)
    ctx = cairo.Context(surface)
    ctx.select_font_face("DejaVu Sans")
    ctx.set_font_size(11)
    ctx.tag_begin("Document", "")
    for p in range(pages):
        ctx.tag_begin("H1", "")
        ctx.move_to(40, 50)
        ctx.show_text("Heading of page %d" % (p + 1))
        ctx.tag_end("H1")
        for k in range(3):
            ctx.tag_begin("P", "")
            ctx.move_to(40, 90 + 30 * k)
            ctx.show_text("Paragraph %d.%d read aloud" % (p + 1, k + 1))
            ctx.tag_end("P")
        if link:
            ctx.tag_begin("Link", "uri='https://example.org/%d'" % p)
            ctx.move_to(40, 300)
            ctx.show_text("Link on page %d" % (p + 1))
            ctx.tag_end("Link")
        ctx.show_page()
    ctx.tag_end("Document")
    surface.finish()


def tagged_variants(work):
    """name -> path: cairo's file as it is, and edited the ways cairo never
    writes: turned and cropped pages, a /Contents array, a page listed twice."""
    base = os.path.join(work, "tagged.pdf")
    cairo_tagged(base)
    out = {"cairo": base}

    pdf = pikepdf.open(base)
    pdf.pages[0].Rotate = 90
    pdf.pages[1].CropBox = [30, 40, 380, 480]
    pdf.pages[2].Rotate = 270
    pdf.pages[2].CropBox = [10, 20, 390, 470]
    page = pdf.pages[3]
    data = page.Contents.read_bytes()
    cut = data.index(b"\n", len(data) // 2) + 1
    page.Contents = pikepdf.Array([pdf.make_stream(data[:cut]), pdf.make_stream(data[cut:])])
    out["turned-cropped-array"] = os.path.join(work, "tagged-edited.pdf")
    pdf.save(out["turned-cropped-array"])

    pdf = pikepdf.open(base)
    pages = pdf.Root.Pages
    pages.Kids.append(pages.Kids[1])
    pages.Count = len(pages.Kids)
    out["page-twice"] = os.path.join(work, "tagged-twice.pdf")
    pdf.save(out["page-twice"])
    return out


def artifact_labels(path, position):
    """Whether every page's content draws its label (the last text block)
    inside a pagination artifact of the right kind."""
    kind = b"/Header" if position >= 3 else b"/Footer"
    with pikepdf.open(path) as pdf:
        for page in pdf.pages:
            data = page.Contents.read_bytes()
            at = data.rfind(b"BT")
            opened = data.rfind(b"/Artifact", 0, at)
            if opened < 0 or kind not in data[opened:at] or b"EMC" not in data[at:]:
                return False
    return True


def check_tags(tool, work):
    for name, src in tagged_variants(work).items():
        want = struct_text(src)
        for position in (0, 4):
            dst = os.path.join(work, "out-%s-%d.pdf" % (name, position))
            number(tool, src, dst, "--position", str(position))
            check("Tagged:          yes" in run("pdfinfo", dst).stdout, "%s: not tagged" % name)
            got = struct_text(dst)
            check(want.count("\n") > 20 and got == want, "%s: structure text differs" % name)
            check(qpdf_ok(dst), "%s: qpdf --check" % name)
            check(artifact_labels(dst, position), "%s: label outside an artifact (position %d)" % (name, position))
        with pikepdf.open(dst) as pdf:
            forms = [p.Resources.XObject.Fm1 for p in pdf.pages]
            keys = [p.get("/StructParents") for p in pdf.pages]
            check(all(k is None for k in keys) and all("/StructParents" in f for f in forms),
                  "%s: /StructParents not moved onto the forms" % name)


def check_damaged_trees(tool, work):
    """Damage numbered as far as it goes: cycles in /K, /P elsewhere, a
    parent tree that is no number tree, integer ids without a page."""
    base = os.path.join(work, "tagged.pdf")
    pdf = pikepdf.open(base)
    root = pdf.Root.StructTreeRoot
    doc = root.K[0] if isinstance(root.K, pikepdf.Array) else root.K
    kids = doc.K
    kids[1].K = pikepdf.Array([kids[1].K, doc, root])  # cycles
    kids[2].P = pdf.pages[0].obj
    del kids[3]["/Pg"]
    root.ParentTree = pikepdf.Array([1, 2, 3])
    src = os.path.join(work, "tagged-damaged.pdf")
    pdf.save(src)
    dst = os.path.join(work, "out-damaged.pdf")
    number(tool, src, dst)
    check(qpdf_ok(dst), "damaged tree: qpdf --check")
    check(len(page_texts(dst)) == 4, "damaged tree: pages lost")


# ---------------------------------------------------------------------------
# Optional content
# ---------------------------------------------------------------------------

def layered_variant(src, work):
    """The corpus sample with a turned first page that has an annotation
    shown only with the hidden layer, its appearance a form of its own."""
    pdf = pikepdf.open(src)
    hidden = pdf.Root.OCProperties.D.OFF[0]
    ap = pdf.make_stream(b"0 0 1 rg 0 0 50 20 re f", Type=pikepdf.Name.XObject, Subtype=pikepdf.Name.Form,
                         BBox=[0, 0, 50, 20], OC=hidden)
    annot = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Square,
                                                 Rect=[100, 100, 150, 120], OC=hidden,
                                                 AP=pikepdf.Dictionary(N=ap)))
    pdf.pages[0].Annots = pdf.make_indirect(pikepdf.Array([annot]))
    pdf.pages[0].Rotate = 90
    dst = os.path.join(work, "layers-turned.pdf")
    pdf.save(dst)
    return dst


def ocg_objects(pdf):
    return {o.objgen for o in pdf.objects if isinstance(o, pikepdf.Dictionary) and o.get("/Type") == "/OCG"}


def check_layers(tool, corpus, work):
    sample = os.path.join(corpus, "generated-optional-content.pdf")
    for src in (sample, layered_variant(sample, work)):
        name = os.path.basename(src)
        dst = os.path.join(work, "out-" + name)
        number(tool, src, dst, "--format", "Pg {n}")
        want, got = page_texts(src), page_texts(dst)
        check(len(want) == len(got) and all(g.replace("Pg %d" % (i + 1), "").split() == w.split()
                                            for i, (w, g) in enumerate(zip(want, got))),
              "%s: text differs beyond the labels" % name)
        check("DRAFTWATERMARK" not in "".join(got), "%s: hidden layer shown" % name)
        check(qpdf_ok(dst), "%s: qpdf --check" % name)
        with pikepdf.open(src) as a, pikepdf.open(dst) as b:
            groups = ocg_objects(b)
            check(len(groups) == len(ocg_objects(a)), "%s: %d groups in, %d out" % (name, len(ocg_objects(a)),
                                                                                     len(groups)))
            named = {g.objgen for g in b.Root.OCProperties.OCGs}
            for page in b.pages:
                form = page.Resources.XObject.Fm1
                props = form.Resources.get("/Properties", pikepdf.Dictionary())
                named_here = {props[k].objgen for k in props.keys()}
                for annot in page.get("/Annots", []):
                    named_here.add(annot.OC.objgen)
                    # On the turned page a small form draws the appearance's one copy.
                    ap = annot.AP.N
                    named_here.add((ap if "/OC" in ap else ap.Resources.XObject.Fm).OC.objgen)
                check(named_here <= named, "%s: a page names a group missing from /OCGs" % name)


# ---------------------------------------------------------------------------
# Shared content
# ---------------------------------------------------------------------------

def check_shared(tool, corpus, work):
    src = os.path.join(corpus, "variant-shared-content-userguide-6x.pdf")
    dst = os.path.join(work, "out-shared.pdf")
    number(tool, src, dst)
    with pikepdf.open(src) as a, pikepdf.open(dst) as b:
        contents = {p.Contents.objgen for p in a.pages}
        forms = [p.Resources.XObject.Fm1.objgen for p in b.pages]
        check(len(set(forms)) == len(contents), "shared: %d forms for %d contents" % (len(set(forms)),
                                                                                   len(contents)))
        check(len({p.objgen for p in b.pages}) == len(b.pages), "shared: page objects shared")
    texts = page_texts(dst)
    check(all(re.search(r"(^|\s)%d\s*$" % (i + 1), t) for i, t in enumerate(texts)), "shared: labels wrong")
    size, bound = os.path.getsize(dst), 1.10 * os.path.getsize(src) + 600 * len(texts)
    print("shared: %d bytes in, %d out (bound %d)" % (os.path.getsize(src), size, bound))
    check(size <= bound, "shared: %d bytes, bound %d" % (size, bound))
    check(qpdf_ok(dst), "shared: qpdf --check")

    # The same content turned, or with another structure key, is drawn by a
    # form of its own.
    pdf = pikepdf.open(os.path.join(work, "tagged.pdf"))
    first = pdf.pages[0]
    for extra in ({"/Rotate": 90}, {}, {}):
        page = pikepdf.Dictionary(Type=pikepdf.Name.Page, MediaBox=first.MediaBox, Contents=first.Contents,
                                  Resources=first.Resources, **{k[1:]: v for k, v in extra.items()})
        pdf.pages.append(pikepdf.Page(page))
    src = os.path.join(work, "tagged-repeats.pdf")
    pdf.save(src)
    dst = os.path.join(work, "out-repeats.pdf")
    number(tool, src, dst)
    with pikepdf.open(dst) as b:
        forms = [p.Resources.XObject.Fm1.objgen for p in b.pages]
        # Page 1 has its /StructParents, 5 is turned, 6 and 7 share a form.
        check(len(set(forms[4:])) == 2 and forms[5] == forms[6] and forms[0] not in forms[4:],
              "repeats: forms %s" % forms)
    check(struct_text(dst) == struct_text(src), "repeats: structure text differs")
    check(qpdf_ok(dst), "repeats: qpdf --check")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--corpus", required=True)
    args = ap.parse_args()
    for t in ("qpdf", "pdfinfo", "pdftotext"):
        if not shutil.which(t):
            print("skipped: %s missing" % t)
            return 77
    with tempfile.TemporaryDirectory() as work:
        check_tags(args.cli, work)
        check_damaged_trees(args.cli, work)
        check_layers(args.cli, args.corpus, work)
        check_shared(args.cli, args.corpus, work)
    print("%d failures" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
