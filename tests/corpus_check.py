#!/usr/bin/env python3
"""Real-world fidelity check: numbers every PDF in tests/corpus (and a few
generated ones for the stream filters the corpus lacks) and checks each
output against its input:

  qpdf     qpdf --check reports no errors
  pages    the same page count
  sizes    every output page is the input page's visible size (the crop
           box that pdfinfo -box reports, turned by /Rotate)
  labels   pdftotext finds the label on each labelled page and on no other
  size     at most 1.10 x the input plus 600 bytes a page
  render   rendered at a low resolution, each sampled page matches its input
           outside the label's band

  protection  an encrypted input's copy is encrypted the same way (qpdf
           --show-encryption: the same R, P and methods)

Files whose manifest line expects "refused-encrypted" must instead be
refused with the loader's message and leave no output.

Standard library only; needs qpdf, poppler-utils (pdfinfo, pdftotext,
pdftoppm) and, for a second opinion on rendering, mupdf-tools (mutool).
"""

import argparse
import base64
import concurrent.futures
import ctypes
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zlib

FORMAT = "Pg {n}/{total}"  # distinctive, so pdftotext cannot find it by chance
FONT_SIZE = 12
DPI = 36
# A pixel differs when no pixel within one pixel of it in the other image
# lies within GRAY_TOL grey levels: at 36 dpi a hairline can move by a pixel
# when the page's transform is rewritten, and anti-aliased edges shift in
# grey by a few levels.
GRAY_TOL = 24
# Fraction of differing pixels (outside the label band) below which a page
# counts as unchanged. Measured with poppler on this corpus: faithful pages
# differ in 0.00% of their pixels (0.08% was the worst seen, on a page whose
# content streams had run together); pages drawn 4 pt (two pixels) off
# differ in 0.6% to 9.5%, pages without their fonts in 3.7% to 19%. The
# poppler-only drift of thin rules inside forms goes to the MuPDF second
# opinion instead of raising this threshold.
MAX_DIFF = 0.0025
SAMPLE_PAGES = 12
# An output may be at most this much larger than its input: every page gets
# a page object, a form and a content stream (pages that share their content
# share their form).
GROWTH = 1.10
PAGE_BYTES = 600
# pdfinfo -box prints corners to 0.01 pt, so a width read from it is off by
# up to 0.01, and two of them compared by up to 0.02.
SIZE_TOL = 0.021


# ---------------------------------------------------------------------------
# Generated inputs: one small PDF per stream filter the corpus lacks.
# ---------------------------------------------------------------------------

def page_drawing(title, seed, scribbles=0):
    """A content stream of a few kilobytes: text, a grid of grey boxes and
    lines, varied enough that any decoding slip shows on the page. Scribbles
    (pseudo-random strokes) make it long and hard to compress, so that LZW
    codes reach 12 bits and the table is reset."""
    ops = ["BT /F1 28 Tf 60 720 Td (%s) Tj ET" % title]
    x = seed
    for _ in range(scribbles):
        x = (x * 1103515245 + 12345) % 2147483648
        ops.append("0.8 G %d %d m %d %d l S" % (x % 500 + 50, x // 500 % 500 + 150,
                                                x // 7 % 500 + 50, x // 11 % 500 + 150))
    for row in range(14):
        for col in range(10):
            g = ((row * 10 + col) * 37 + seed * 11) % 100 / 100.0
            ops.append("%.2f g %d %d 40 30 re f" % (g, 60 + col * 48, 640 - row * 38))
    for k in range(40):
        ops.append("%.1f w %d %d m %d %d l S" % (0.5 + k % 4, 60 + k * 12, 100, 560 - k * 9, 96 + k * 3))
    ops.append("BT /F1 11 Tf 60 80 Td (%s) Tj ET" % ("decoded " * 8))
    return ("\n".join(ops) + "\n").encode("latin-1")


def lzw_encode(data, early=1):
    """LZW as PDF reads it: 9- to 12-bit codes, most significant bit first,
    256 clears the table and 257 ends the data; with early change the code
    grows one code before the table needs it."""
    CLEAR, EOD = 256, 257
    out_bits, nbits = 0, 0
    out = bytearray()
    since_clear = 0  # codes written since the last clear code

    def emit(code):
        nonlocal out_bits, nbits, since_clear
        since_clear += 1
        # The reader's next free code when it reads this one: 258, plus one
        # per code after the first since the clear.
        nxt = 258 + max(since_clear - 2, 0)
        width = 9
        while width < 12 and nxt + early >= (1 << width):
            width += 1
        out_bits = (out_bits << width) | code
        nbits += width
        while nbits >= 8:
            nbits -= 8
            out.append((out_bits >> nbits) & 0xFF)
        out_bits &= (1 << nbits) - 1
        if code == CLEAR:
            since_clear = 0

    table = {bytes([i]): i for i in range(256)}
    nxt = 258
    emit(CLEAR)
    w = b""
    for c in data:
        wc = w + bytes([c])
        if wc in table:
            w = wc
            continue
        emit(table[w])
        table[wc] = nxt
        nxt += 1
        w = bytes([c])
        if nxt >= 4000:  # well before the 4096-entry limit
            emit(CLEAR)
            table = {bytes([i]): i for i in range(256)}
            nxt = 258
    if w:
        emit(table[w])
    emit(EOD)
    if nbits:
        out.append((out_bits << (8 - nbits)) & 0xFF)
    return bytes(out)


def lzw_decode(data, early=1):
    """The reader's side, to prove the encoder before any PDF tool sees it."""
    pos, bits, nbits = 0, 0, 0
    out = bytearray()
    table, width, prev = None, 9, None
    while True:
        while nbits < width and pos < len(data):
            bits = (bits << 8) | data[pos]
            pos += 1
            nbits += 8
        if nbits < width:
            break
        nbits -= width
        code = (bits >> nbits) & ((1 << width) - 1)
        if code == 256:
            table, width, prev = [bytes([i]) for i in range(256)] + [b"", b""], 9, None
            continue
        if code == 257:
            break
        if prev is None:
            entry = table[code]
        else:
            entry = table[code] if code < len(table) else table[prev] + table[prev][:1]
            table.append(table[prev] + entry[:1])
        out += entry
        prev = code
        while width < 12 and len(table) + early >= (1 << width):
            width += 1
    return bytes(out)


def runlength_encode(data):
    out = bytearray()
    i = 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, data[i]])
            i += run
            continue
        start = i
        while i < len(data) and i - start < 128:
            if i + 2 < len(data) and data[i] == data[i + 1] == data[i + 2]:
                break
            i += 1
        out += bytes([i - start - 1]) + data[start:i]
    return bytes(out + b"\x80")


def ascii85_encode(data):
    return base64.a85encode(data, wrapcol=72) + b"~>"


def asciihex_encode(data):
    text = data.hex()
    return ("\n".join(text[k:k + 64] for k in range(0, len(text), 64)) + ">").encode()


def png_predict(data, columns):
    """Rows of `columns` bytes, each behind a PNG filter byte that cycles
    through None, Sub, Up, Average and Paeth."""
    data += b" " * (-len(data) % columns)
    out, prev = bytearray(), bytes(columns)
    for r in range(len(data) // columns):
        row = data[r * columns:(r + 1) * columns]
        kind = r % 5
        enc = bytearray()
        for x in range(columns):
            left = row[x - 1] if x else 0
            up, ul = prev[x], (prev[x - 1] if x else 0)
            if kind == 0:
                pred = 0
            elif kind == 1:
                pred = left
            elif kind == 2:
                pred = up
            elif kind == 3:
                pred = (left + up) // 2
            else:
                p = left + up - ul
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - ul)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else ul)
            enc.append((row[x] - pred) & 0xFF)
        out += bytes([kind]) + enc
        prev = row
    return bytes(out)


def tiff_predict(data, columns):
    data += b" " * (-len(data) % columns)
    out = bytearray()
    for r in range(0, len(data), columns):
        row = data[r:r + columns]
        out += bytes([row[0]]) + bytes((row[x] - row[x - 1]) & 0xFF for x in range(1, columns))
    return bytes(out)


def write_pdf(path, pages):
    """pages: per page a list of (dictionary entries, stream bytes) for its
    /Contents array. Letter pages, Helvetica as /F1."""
    objs = {1: b"<< /Type /Catalog /Pages 2 0 R >>",
            3: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}
    kids, num = [], 4
    for streams in pages:
        page_num, refs = num, []
        num += 1
        for entries, data in streams:
            objs[num] = b"<< %s /Length %d >>\nstream\n" % (entries.encode(), len(data)) + data + b"\nendstream"
            refs.append(b"%d 0 R" % num)
            num += 1
        objs[page_num] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                          b"/Resources << /Font << /F1 3 0 R >> >> /Contents [" + b" ".join(refs) + b"] >>")
        kids.append(b"%d 0 R" % page_num)
    objs[2] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % len(kids)
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for n in sorted(objs):
        offsets[n] = len(out)
        out += b"%d 0 obj\n" % n + objs[n] + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (num)
    for n in range(1, num):
        out += b"%010d 00000 n \n" % offsets[n]
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (num, xref)
    with open(path, "wb") as f:
        f.write(out)


def generated_inputs(work):
    """The generated files: (name, path, page count)."""
    d = page_drawing

    def st(entries, drawing, encode):
        return entries, drawing, encode(drawing)

    families = {
        "gen-lzw.pdf": [
            [st("/Filter /LZWDecode", d("LZW, early change", 1, 600), lzw_encode)],
            [st("/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>", d("LZW, no early change", 2, 600),
                lambda x: lzw_encode(x, 0))],
            [st("/Filter [/AHx /LZW]", d("AHx + LZW, short names", 3), lambda x: asciihex_encode(lzw_encode(x)))],
        ],
        "gen-ascii85.pdf": [
            [st("/Filter /ASCII85Decode", d("ASCII85", 4), ascii85_encode)],
            [st("/Filter [/ASCII85Decode /FlateDecode]", d("ASCII85 + Flate", 5),
                lambda x: ascii85_encode(zlib.compress(x)))],
            # Eight zero bytes make the "z" shorthand appear.
            [st("/Filter /A85", d("A85, short name", 6) + bytes(8), ascii85_encode)],
        ],
        "gen-runlength.pdf": [
            [st("/Filter /RunLengthDecode", d("RunLength", 7) + b" " * 300 + b"\n", runlength_encode)],
            [st("/Filter [/A85 /RL]", d("A85 + RL", 8), lambda x: ascii85_encode(runlength_encode(x)))],
        ],
        "gen-predictors-mixed.pdf": [
            [st("/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 37 >>",
                d("Flate, PNG predictors", 9) + b" " * (-len(d("Flate, PNG predictors", 9)) % 37),
                lambda x: zlib.compress(png_predict(x, 37)))],
            [st("/Filter /Fl /DecodeParms << /Predictor 2 /Columns 29 >>",
                d("Flate, TIFF predictor", 10) + b" " * (-len(d("Flate, TIFF predictor", 10)) % 29),
                lambda x: zlib.compress(tiff_predict(x, 29)))],
            # One page drawn by four streams, each with its own filter.
            [st("/Filter /ASCIIHexDecode", b"q 0.2 g\n", asciihex_encode),
             st("/Filter /LZWDecode", b"60 300 200 150 re f\n", lzw_encode),
             st("/Filter /RunLengthDecode", b"Q\n", runlength_encode),
             st("/Filter /FlateDecode", d("Four streams, four filters", 11), zlib.compress)],
        ],
    }
    out = []
    for name, pages in families.items():
        path = os.path.join(work, name)
        write_pdf(path, [[(e, enc) for e, _, enc in streams] for streams in pages])
        check_generated(path, [(e, orig) for streams in pages for e, orig, _ in streams])
        out.append((name, path, len(pages)))
    return out


def check_generated(path, streams):
    """qpdf must decode every generated stream back to its drawing, so that
    a fault found later lies in the numbering and not in the generator."""
    with open(path, "rb") as f:
        objs = [int(m) for m in re.findall(rb"(\d+) 0 obj\n<< /Filter", f.read())]
    for num, (entries, drawing) in zip(objs, streams):
        r = run(["qpdf", "--show-object=%d" % num, "--filtered-stream-data", path])
        if r.stdout != drawing:
            raise SystemExit("corpus check: qpdf does not decode generated stream %d (%s) of %s to its drawing"
                             % (num, entries, path))


def self_test_encoders():
    sample = page_drawing("self test", 0) * 3
    for early in (0, 1):
        assert lzw_decode(lzw_encode(sample, early), early) == sample
    assert base64.a85decode(ascii85_encode(sample)[:-2]) == sample


# ---------------------------------------------------------------------------
# Tools
# ---------------------------------------------------------------------------

def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


class Numberer:
    """Numbers a file with the command-line tool, or through the library's
    C interface when only the library is at hand."""

    def __init__(self, cli, lib):
        self.cli, self.lib = cli, None
        if not cli:
            self.lib = ctypes.CDLL(lib)
            self.lib.dedediruzurud_last_error.restype = ctypes.c_char_p

    def number(self, src, dst, plan):
        if self.cli:
            cmd = [self.cli, "--format", FORMAT, "--size", str(FONT_SIZE), "--position", str(plan["position"])]
            if plan["mode"] == "range":
                cmd += ["--pages", "%d-%d" % (plan["from"], plan["to"]), "--first", str(plan["from"])]
            elif plan["mode"] == "skip":
                cmd += ["--skip", str(plan["skip"])]
            r = run(cmd + [src, dst])
            return r.returncode, r.stderr.decode("utf-8", "replace").strip()
        enc = lambda s: s.encode()
        if plan["mode"] == "range":
            ok = self.lib.dedediruzurud_range(enc(src), enc(dst), plan["position"], enc(FORMAT), FONT_SIZE,
                                              plan["from"], plan["to"], plan["from"], 0, 0, 0)
        elif plan["mode"] == "skip":
            ok = self.lib.dedediruzurud_skip(enc(src), enc(dst), plan["position"], enc(FORMAT), FONT_SIZE,
                                             plan["skip"], 0, 0, 0)
        else:
            ok = self.lib.dedediruzurud_add(enc(src), enc(dst), plan["position"], enc(FORMAT), FONT_SIZE, 1, 0, 0, 0)
        msg = self.lib.dedediruzurud_last_error().decode("utf-8", "replace")
        return (0 if ok else 1), ("" if ok else "dedediruzurud: " + msg)


def page_boxes(path, count):
    """Per page: visible width, height (turned by /Rotate) and rotation. The
    visible size is that of the CropBox as poppler settles it: each box
    inherited on its own, the CropBox clipped to the MediaBox."""
    r = run(["pdfinfo", "-box", "-f", "1", "-l", str(count), path])
    sizes, rots = {}, {}
    for line in r.stdout.decode("latin-1").splitlines():
        m = re.match(r"Page\s+(\d+) CropBox:\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)", line)
        if m:
            llx, lly, urx, ury = (float(m.group(k)) for k in range(2, 6))
            sizes[int(m.group(1))] = (urx - llx, ury - lly)
        m = re.match(r"Page\s+(\d+) rot:\s+(-?\d+)", line)
        if m:
            rots[int(m.group(1))] = int(m.group(2)) % 360
    boxes = []
    for p in range(1, count + 1):
        w, h = sizes.get(p, (0.0, 0.0))
        rot = rots.get(p, 0)
        boxes.append((h, w, rot) if rot in (90, 270) else (w, h, rot))
    return boxes


def page_count(path):
    r = run(["pdfinfo", path])
    m = re.search(rb"^Pages:\s+(\d+)", r.stdout, re.M)
    return int(m.group(1)) if m else -1


def qpdf_check(path):
    """(first error, first warning) of qpdf --check, each None when absent."""
    r = run(["qpdf", "--check", path])
    text = (r.stderr + r.stdout).decode("utf-8", "replace").strip().splitlines()
    if r.returncode == 0:
        return None, None
    complaints = [l for l in text if "error" in l.lower() or "warning" in l.lower() or "damaged" in l.lower()]
    first = (complaints or text or ["exit %d" % r.returncode])[0][:160]
    return (None, first) if r.returncode == 3 else (first, None)  # 3: warnings only


def protection(path):
    """qpdf's account of a file's encryption without its key: "" when in the clear."""
    r = run(["qpdf", "--show-encryption", path])
    lines = r.stdout.decode("utf-8", "replace").splitlines()
    return "\n".join(l for l in lines if not l.startswith("User password") and "not encrypted" not in l)


def page_texts(path):
    r = run(["pdftotext", "-enc", "UTF-8", path, "-"])
    return [re.sub(r"\s+", "", t) for t in r.stdout.decode("utf-8", "replace").split("\f")]


def read_pgm(data):
    m = re.match(rb"P5\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not m:
        return None
    w, h = int(m.group(1)), int(m.group(2))
    return w, h, data[m.end():m.end() + w * h]


def render(tool, path, page, scratch):
    if tool == "poppler":
        # -cropbox: the visible page, as viewers and MuPDF show it (poppler's
        # default is the media box). -hide-annotations: the output carries
        # the page's content only, and MuPDF does not draw link borders either.
        r = run(["pdftoppm", "-cropbox", "-hide-annotations", "-gray", "-r", str(DPI),
                 "-f", str(page), "-l", str(page), path])
        return read_pgm(r.stdout) if r.returncode == 0 else None
    out = os.path.join(scratch, "mu-%d-%d.pgm" % (os.getpid(), page))
    r = run(["mutool", "draw", "-q", "-r", str(DPI), "-c", "gray", "-o", out, path, str(page)])
    if r.returncode != 0 or not os.path.exists(out):
        return None
    with open(out, "rb") as f:
        img = read_pgm(f.read())
    os.remove(out)
    return img


# ---------------------------------------------------------------------------
# Page comparison
# ---------------------------------------------------------------------------

def label_band(w_pt, h_pt, position, h_px):
    """Rows of the rendered page that the label may cover: the strip between
    the page edge and the label's top (bottom positions) or bottom (top
    positions), with the label placed as the writer's margin rule places it."""
    m = min(max(0.03 * min(w_pt, h_pt), 12.0), 36.0)
    strip = m + 1.5 * FONT_SIZE  # baseline at m + 0.24 size; glyphs reach about 1 size above
    rows = min(h_px, int(math.ceil(strip * DPI / 72.0)) + 2)
    return range(h_px - rows, h_px) if position <= 2 else range(0, rows)


def differing_fraction(a, b, band):
    """Fraction of pixels outside the band where either image has a pixel
    with no counterpart within one pixel in the other."""
    wa, ha, pa = a
    wb, hb, pb = b
    w, h = min(wa, wb), min(ha, hb)
    skip = set(band)
    tol = GRAY_TOL

    def near(v, img, iw, x, y):
        for yy in (y - 1, y, y + 1):
            if 0 <= yy < h:
                base = yy * iw
                for xx in (x - 1, x, x + 1):
                    if 0 <= xx < w and abs(v - img[base + xx]) <= tol:
                        return True
        return False

    total = w * (h - len([y for y in skip if y < h]))
    # Counting stops well past the threshold: a page that changed that much
    # has failed, and the per-pixel search is slow on a page that differs
    # everywhere.
    enough = total * MAX_DIFF * 10
    diff = 0
    for y in range(h):
        if y in skip:
            continue
        if diff > enough:
            break
        ra, rb = pa[y * wa:y * wa + w], pb[y * wb:y * wb + w]
        if ra == rb:
            continue
        for x in range(w):
            va, vb = ra[x], rb[x]
            if abs(va - vb) <= tol:
                continue
            if not near(va, pb, wb, x, y) or not near(vb, pa, wa, x, y):
                diff += 1
    return diff / total if total else 0.0


def compare_page(task):
    """One sampled page: poppler first, MuPDF as a second opinion where
    poppler alone sees a change."""
    src, dst, page, w_pt, h_pt, position, labelled, scratch = task
    result = {"page": page}
    fractions = {}
    for tool in ("poppler", "mupdf"):
        a, b = render(tool, src, page, scratch), render(tool, dst, page, scratch)
        if not a or not b:
            result["error"] = "%s could not render page %d" % (tool, page)
            return result
        band = label_band(w_pt, h_pt, position, min(a[1], b[1])) if labelled else range(0)
        fractions[tool] = differing_fraction(a, b, band)
        if fractions[tool] < MAX_DIFF:
            break
    result["fractions"] = fractions
    result["equal"] = min(fractions.values()) < MAX_DIFF
    return result


# ---------------------------------------------------------------------------
# One file
# ---------------------------------------------------------------------------

def plan_for(index, pages):
    """Vary the selection and the position over the files, so that ranges,
    skips, unlabelled pages and all six positions are exercised."""
    position = index % 6
    if pages >= 4 and index % 3 == 1:
        return {"mode": "range", "from": 2, "to": pages - 1, "position": position}
    if pages >= 2 and index % 3 == 2:
        return {"mode": "skip", "skip": 1, "position": position}
    return {"mode": "all", "position": position}


def label_of(plan, page, total):
    """The label page `page` should carry, or None."""
    if plan["mode"] == "range":
        n = page if plan["from"] <= page <= plan["to"] else None
    elif plan["mode"] == "skip":
        n = page - plan["skip"] if page > plan["skip"] else None
    else:
        n = page
    return None if n is None else FORMAT.replace("{n}", str(n)).replace("{total}", str(total))


def sample_pages(count, most):
    k = min(count, most) if most > 0 else count
    return sorted({1 + round(i * (count - 1) / max(k - 1, 1)) for i in range(k)})


def check_refusal(numberer, src, dst):
    if os.path.exists(dst):
        os.remove(dst)
    rc, err = numberer.number(src, dst, {"mode": "all", "position": 0})
    want = "encrypted PDFs are not supported: %s" % src
    problems = []
    if rc == 0:
        problems.append("numbered instead of refused")
    elif want not in err:
        problems.append("refused with %r" % err)
    if os.path.exists(dst):
        problems.append("output written")
    return problems


def prepare_file(numberer, sample, index, name, src, expect, manifest_pages, out_dir):
    """Numbers one file and runs the cheap checks. Returns the file's report
    and the render tasks for its sampled pages."""
    dst = os.path.join(out_dir, "numbered-" + name)
    report = {"name": name, "failed": [], "notes": []}
    if expect == "refused-encrypted":
        report["failed"] = check_refusal(numberer, src, dst)
        report["refused"] = True
        return report, []
    pages = page_count(src)
    if manifest_pages is not None and pages != manifest_pages:
        report["notes"].append("pdfinfo counts %d pages, manifest %d" % (pages, manifest_pages))
    plan = plan_for(index, pages)
    rc, err = numberer.number(src, dst, plan)
    if rc != 0 or not os.path.exists(dst):
        report["failed"].append("numbering failed: %s" % (err or "exit %d" % rc))
        return report, []
    error, warning = qpdf_check(dst)
    if error:
        report["failed"].append("qpdf: " + error)
    if warning:
        report["notes"].append("qpdf warns: " + warning)
    if protection(src) != protection(dst):
        report["failed"].append("protection differs: %r -> %r" % (protection(src), protection(dst)))
    out_pages = page_count(dst)
    bound = GROWTH * os.path.getsize(src) + PAGE_BYTES * pages
    if os.path.getsize(dst) > bound:
        report["failed"].append("size: %d bytes out, bound %d" % (os.path.getsize(dst), bound))
    if out_pages != pages:
        report["failed"].append("pages: %d in, %d out" % (pages, out_pages))
        return report, []
    want, got = page_boxes(src, pages), page_boxes(dst, pages)
    bad = [p + 1 for p in range(pages)
           if got[p][2] != 0 or abs(got[p][0] - want[p][0]) > SIZE_TOL or abs(got[p][1] - want[p][1]) > SIZE_TOL]
    if bad:
        p = bad[0] - 1
        report["failed"].append("sizes: %d pages differ, first p%d %.3fx%.3f (rot %d) -> %.3fx%.3f (rot %d)" % (
            len(bad), p + 1, want[p][0], want[p][1], want[p][2], got[p][0], got[p][1], got[p][2]))
    texts = page_texts(dst)
    missing, stray = [], []
    for p in range(1, pages + 1):
        text = texts[p - 1] if p - 1 < len(texts) else ""
        label = label_of(plan, p, pages)
        if label and re.sub(r"\s+", "", label) not in text:
            missing.append(p)
        if not label and re.search(r"Pg-?\d+/%d" % pages, text):
            stray.append(p)
    if missing:
        report["failed"].append("labels: missing on %d pages, first p%d" % (len(missing), missing[0]))
    if stray:
        report["failed"].append("labels: found on unlabelled p%d" % stray[0])
    tasks = [(src, dst, p, got[p - 1][0], got[p - 1][1], plan["position"], label_of(plan, p, pages) is not None,
              out_dir) for p in sample_pages(pages, sample)]
    report["pages"] = pages
    return report, tasks


def finish_report(report, results):
    changed = [r for r in results if not r.get("equal")]
    errors = [r["error"] for r in results if "error" in r]
    for e in errors[:1]:
        report["failed"].append("render: " + e)
    changed = [r for r in changed if "error" not in r]
    if changed:
        worst = max(changed, key=lambda r: min(r["fractions"].values()))
        report["failed"].append("render: %d of %d sampled pages differ, worst p%d (%s)" % (
            len(changed), len(results), worst["page"],
            ", ".join("%s %.2f%%" % (k, v * 100) for k, v in worst["fractions"].items())))
    second = [r for r in results if r.get("equal") and "mupdf" in r.get("fractions", {})]
    if second:
        report["notes"].append("%d pages equal only for MuPDF (poppler up to %.2f%%)" % (
            len(second), 100 * max(r["fractions"]["poppler"] for r in second)))
    if results:
        worst = max(min(r.get("fractions", {"x": 1.0}).values()) for r in results)
        report["render"] = "%d pages rendered, worst %.3f%%" % (len(results), worst * 100)


def read_manifest(corpus):
    rows = []
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as f:
        head = f.readline().rstrip("\n").split("\t")
        for line in f:
            if line.strip():
                rows.append(dict(zip(head, line.rstrip("\n").split("\t"))))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", help="the dedediruzurud command-line tool")
    ap.add_argument("--lib", help="libdedediruzurud.so, used when there is no --cli")
    ap.add_argument("--corpus", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    ap.add_argument("--work", help="keep outputs in this directory (default: a temporary one)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", help="check only files whose name contains this text")
    ap.add_argument("--sample", type=int, default=SAMPLE_PAGES,
                    help="pages rendered per file, spread over it (0: every page)")
    ap.add_argument("--verbose", action="store_true", help="print every sampled page's differing fractions")
    args = ap.parse_args()
    if not args.cli and not args.lib:
        ap.error("give --cli or --lib")
    for tool in ("qpdf", "pdfinfo", "pdftotext", "pdftoppm", "mutool"):
        if not shutil.which(tool):
            print("corpus check: %s is not installed" % tool)
            return 77  # skipped, as CTest is told
    self_test_encoders()
    numberer = Numberer(args.cli, args.lib)
    work = args.work or tempfile.mkdtemp(prefix="dedediruzurud-corpus-")
    os.makedirs(work, exist_ok=True)

    files = [(row["file"], os.path.abspath(os.path.join(args.corpus, row["file"])), row["expect"], int(row["pages"]))
             for row in read_manifest(args.corpus)]
    listed = {f[0] for f in files}
    for extra in sorted(os.listdir(args.corpus)):
        if extra.lower().endswith(".pdf") and extra not in listed:
            files.append((extra, os.path.abspath(os.path.join(args.corpus, extra)), "ok", None))
    for name, path, pages in generated_inputs(work):
        files.append((name, path, "ok", pages))
    if args.only:
        files = [f for f in files if args.only in f[0]]

    reports, tasks = [], []
    with concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs) as pool:
        if args.cli:
            prepared = [pool.submit(prepare_file, numberer, args.sample, i, *f, work) for i, f in enumerate(files)]
            prepared = [f.result() for f in prepared]
        else:
            # A library handle does not cross processes: number in this one.
            prepared = [prepare_file(numberer, args.sample, i, *f, work) for i, f in enumerate(files)]
        futures = [[pool.submit(compare_page, t) for t in file_tasks] for _, file_tasks in prepared]
        for (report, _), file_futures in zip(prepared, futures):
            results = [f.result() for f in file_futures]
            finish_report(report, results)
            reports.append(report)
            if args.verbose:
                for r in results:
                    print("  %s p%d %s" % (report["name"], r["page"], r.get("error") or " ".join(
                        "%s %.4f%%" % (k, v * 100) for k, v in r["fractions"].items())))

    failed = 0
    for r in reports:
        if r.get("refused"):
            status = "refused as encrypted" if not r["failed"] else "; ".join(r["failed"])
        elif r["failed"]:
            status = "; ".join(r["failed"])
        else:
            status = "qpdf, pages, sizes, labels ok; %s" % r.get("render", "no pages rendered")
        notes = (" [" + "; ".join(r["notes"]) + "]") if r["notes"] else ""
        print("%-4s %-42s %s%s" % ("FAIL" if r["failed"] else "ok", r["name"], status, notes))
        failed += bool(r["failed"])
    print("%d passed, %d failed" % (len(reports) - failed, failed))
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
