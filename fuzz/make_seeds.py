#!/usr/bin/env python3
"""Writes the hand-built seed inputs of the fuzz targets.

usage: make_seeds.py OUT_DIR
Creates OUT_DIR/numbering, OUT_DIR/decode, OUT_DIR/scan, OUT_DIR/deflate,
OUT_DIR/font and OUT_DIR/security. Font seeds are Debian's DejaVu Sans and
Droid Sans Fallback cut to the fuzzer's longest input (run.sh's -m), behind
the nine parameter bytes of the font target. Numbering seeds are small PDFs,
each preceded by the four parameter bytes that the numbering target reads
(appearance and selection); small whole copies of the files of tests/corpus
(fuzz/seeds, written by make_page_seeds.py) are added by run.sh the same way.
"""
import os
import re
import struct
import sys
import zlib


def pdf(bodies, root=1, trailer_extra="", header="%PDF-1.4\n"):
    """A classic PDF: bodies[k] is object k + 1, then xref and trailer."""
    out = bytearray(header.encode("latin-1"))
    offsets = []
    for k, body in enumerate(bodies):
        offsets.append(len(out))
        if isinstance(body, str):
            body = body.encode("latin-1")
        out += b"%d 0 obj\n" % (k + 1) + body + b"\nendobj\n"
    x = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d" % (len(bodies) + 1)
    if root > 0:
        out += b" /Root %d 0 R" % root
    out += trailer_extra.encode("latin-1") + b" >>\nstartxref\n%d\n%%%%EOF\n" % x
    return bytes(out)


def stream(dict_entries, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    return b"<< " + dict_entries.encode("latin-1") + b" /Length %d >>stream\n" % len(data) + data + b"\nendstream"


CONTENT = "BT /F1 12 Tf 72 720 Td (Hello) Tj ET 0 0 m 100 100 l S\n"
FONT = "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"


def simple(pages=1, content=CONTENT, page_extra=""):
    kids = " ".join("%d 0 R" % (3 + 2 * i) for i in range(pages))
    bodies = ["<< /Type /Catalog /Pages 2 0 R >>",
              "<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, pages)]
    font = 3 + 2 * pages
    for i in range(pages):
        bodies.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                      "/Resources << /Font << /F1 %d 0 R >> >>%s >>" % (4 + 2 * i, font, page_extra))
        bodies.append(stream("", content))
    bodies.append(FONT)
    return pdf(bodies)


def flate_page():
    data = zlib.compress((CONTENT * 40).encode())
    return pdf(["<< /Type /Catalog /Pages 2 0 R >>",
                "<< /Type /Pages /Kids [3 0 R] /Count 1 /Rotate 90 >>",
                "<< /Type /Page /Parent 2 0 R /CropBox [10 20 300 400] /MediaBox [0 0 612 792] "
                "/Contents [4 0 R 5 0 R] /Resources 6 0 R >>",
                stream("/Filter /FlateDecode", data),
                stream("/Filter [/AHx /Fl]", zlib.compress(b"0 1 0 rg 0 0 50 50 re f").hex() + ">"),
                "<< /Font << /F1 7 0 R >> /XObject << /Im1 8 0 R >> >>",
                "<< /Type /Font /Subtype /TrueType /FontDescriptor 9 0 R >>",
                stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
                       "/ColorSpace /DeviceGray /SMask 10 0 R", b"\x00\xff\xff\x00"),
                "<< /Type /FontDescriptor /FontName /X >>",
                stream("/Type /XObject /Subtype /Image /Width 1 /Height 1", b"\x80")])


def objstm_doc():
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 200 300] >>",
            b"<< /Type /Page /Parent 2 0 R /Contents 6 0 R /Rotate 270 >>",
            b"<< /Type /Page /Parent 2 0 R /Contents 6 0 R /Resources << /ExtGState << /G 7 0 R >> >> >>"]
    nums = [1, 2, 3, 4]
    header, body = b"", b""
    for n, o in zip(nums, objs):
        header += b"%d %d " % (n, len(body))
        body += o + b"\n"
    packed = zlib.compress(header + body)
    out = bytearray(b"%PDF-1.5\n")
    pieces = [(5, stream("/Type /ObjStm /N 4 /First %d /Filter /FlateDecode" % len(header), packed)),
              (6, stream("/Length 8 0 R", b"0 0 m 10 10 l S")),
              (7, b"<< /Type /ExtGState /CA 0.5 >>"),
              (8, b"15")]
    for n, body in pieces:
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    out += b"startxref\n0\n%%EOF\n"
    return bytes(out)


def incremental():
    base = simple(2)
    update = (b"3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R >>\nendobj\n"
              b"trailer\n<< /Root 1 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n")
    prev = base.rfind(b"xref")
    return base + update % (prev, len(base) + update.find(b"trailer"))


def deep_tree(levels=40):
    bodies = ["<< /Type /Catalog /Pages 2 0 R >>"]
    for i in range(levels):
        bodies.append("<< /Type /Pages /Kids [%d 0 R] /Count 1 /Parent %d 0 R >>" % (i + 3, i + 1))
    n = len(bodies)
    bodies.append("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 100 100] /Contents %d 0 R >>" % (n, n + 2))
    bodies.append(stream("", "0 0 m 1 1 l S"))
    return pdf(bodies)


def filters_doc():
    lzw = bytes.fromhex("800B6050220C0C8501")  # "-----A---B" with EarlyChange 1
    return pdf(["<< /Type /Catalog /Pages 2 0 R >>",
                "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 7 0 R >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 8 0 R >>",
                stream("/Filter /LZWDecode", lzw),
                stream("/Filter /ASCII85Decode", "9jqo^BlbD-BleB1DJ+*+F(f,q~>"),
                stream("/Filter /RunLengthDecode", b"\x02abc\xfdx\x80")])


def broken_docs():
    yield pdf(["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [<< /Type /Page >>] >>"])
    yield pdf(["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R] >>"])
    yield pdf(["<< /Type /Catalog /Pages 0 0 R >>"])
    yield simple(1, page_extra=" /Rotate -450")[:-40]
    yield b"1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj 2 0 obj << /Type /Page /MediaBox [0 0 9 9] >> endobj"
    yield simple(1, content="").replace(b"/Contents 4 0 R", b"/Contents []")
    yield simple(1).replace(b"/Length", b"/Length 99 0 R /L")
    yield pdf(["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
               "<< /Type /Page /MediaBox [0 0 612 792] /Contents << /Length 5 >>stream\r\nq Q 1\nendstream >>"])
    yield simple(1, page_extra=" /Encrypt 9 0 R").replace(b"trailer\n<<", b"trailer\n<< /Encrypt 9 0 R")


def tolerated_docs():
    """Damage that viewers show anyway: no box, no usable /Length, empty
    content, untyped tree nodes, catalogs that lead nowhere."""
    cat = "<< /Type /Catalog /Pages 2 0 R >>"
    kids = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
    res = "/Resources << /Font << /F1 5 0 R >> >>"
    page = "<< /Type /Page /Parent 2 0 R %s /Contents 4 0 R %%s >>" % res
    text = CONTENT.encode()
    yield "no-box", pdf([cat, kids, page % "", stream("", CONTENT), FONT])
    yield "box-without-area", pdf([cat, kids, page % "/MediaBox [9 9 5 5] /CropBox [0 0 0 0]",
                                   stream("", CONTENT), FONT])
    yield "no-length", pdf([cat, kids, page % "", b"<< >>\nstream\n" + text + b"\nendstream", FONT])
    yield "length-a-name", pdf([cat, kids, page % "", b"<< /Length /X >>\r\nstream\r\n" + text +
                                b"\r\nendstream", FONT])
    yield "flate-no-length", pdf([cat, kids, page % "",
                                  b"<< /Filter /FlateDecode >>\nstream\n" + zlib.compress(text) + b"\nendstream",
                                  FONT])
    yield "inline-no-length", pdf([cat, kids, "<< /Type /Page /Parent 2 0 R /Contents << >> stream\n%s\n"
                                   "endstream >>" % CONTENT.strip()])
    yield "empty-contents", pdf([cat, "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 >>", page % "",
                                 stream("", ""), FONT,
                                 "<< /Type /Page /Parent 2 0 R /Contents [4 0 R 7 0 R] >>",
                                 stream("/Filter /FlateDecode", "")])
    yield "untyped-nodes", pdf([cat, "<< /Kids [6 0 R 3 0 R] >>", "<< /Parent 2 0 R /Contents 4 0 R >>",
                                stream("", CONTENT), FONT, "<< /Type /Font /Kids [3 0 R] /Parent 2 0 R >>"])
    yield "root-missing", pdf(["<< /Foo 1 >>", kids, page % "", stream("", CONTENT), FONT], root=12)
    yield "catalog-pages-wrong", pdf(["<< /Type /Catalog /Pages 5 0 R >>", kids, page % "", stream("", CONTENT),
                                      FONT, "<< /Type /Pages /Kids [3 0 R] /Count 7 >>"])
    yield "untyped-loop", pdf([cat, "<< /Kids [3 0 R] >>", "<< /Kids [2 0 R] >>"])
    # A wrong /Length with no "endstream" before its "endobj"; streams to the end of the file.
    for length in (1, 5000):
        yield "wrong-length-%d" % length, pdf(
            [cat, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>"] + ["null"] * 6 +
            [FONT, "<< /Type /Page /Parent 2 0 R /Contents 12 0 R >>", "<< /Length %d >> stream JUNK" % length,
             "<< /Length 3 >> stream q Q endstream"])
    yield "stream-to-eof", pdf([cat, kids, (page % "").replace("4 0 R", "6 0 R"), "null", FONT]) + \
        b"6 0 obj\n<< /Length 5000 >>\nstream\n" + text + b"\n"
    yield "copied-length-wrong", pdf([cat, kids, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /I 5 0 R >> >>"
                                      " /Contents 4 0 R >>", stream("", "/I Do"),
                                      b"<< /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray"
                                      b" /Length 1 >>\nstream\nabcd\nendstream"])
    yield "contents-part-damaged", pdf([cat, kids, page.replace("4 0 R", "[4 0 R 6 0 R 7 0 R]") % "",
                                        stream("", CONTENT), FONT, stream("/Filter /NoSuch", "xyz"), "null"])
    # Generations other than 0: the one named, else the one there is.
    gen = pdf([cat, kids, page.replace("4 0 R", "4 1 R") % "/MediaBox [700 0 600 792]", stream("", CONTENT), FONT])
    yield "generation", gen.replace(b"\n4 0 obj", b"\n4 1 obj") + b"4 0 obj\n" + stream("", "0 0 m 1 1 l S") + \
        b"\nendobj\n"
    yield "generation-other", gen
    # An object stream listed inside another one.
    def packed(objs):
        head, body = b"", b""
        for num, text_ in objs:
            head += b"%d %d " % (num, len(body))
            body += text_ + b"\n"
        return stream("/Type /ObjStm /N %d /First %d /Filter /FlateDecode" % (len(objs), len(head)),
                      zlib.compress(head + body))
    inner = packed([(20, b"<< /Type /Pages /Kids [21 0 R] /Count 1 >>"),
                    (21, b"<< /Type /Page /Parent 20 0 R /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>")])
    yield "objstm-nested", pdf(["<< /Type /Catalog /Pages 20 0 R >>", packed([(6, inner)]), "null",
                                stream("", CONTENT), FONT])


def structure_docs():
    """The document's structure, sound and damaged: outlines whose /Next
    chain loops, a name tree with a cycle, /Annots that is not an array,
    destinations naming a font, the page tree or a missing object, an
    information dictionary that is not one."""
    page = ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
            "/Resources << /Font << /F1 5 0 R >> >>%s >>")
    common = [None, "<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>", None, stream("", CONTENT), FONT]
    catalog = ("<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /Names << /Dests 9 0 R >> /OpenAction [5 0 R /Fit] "
               "/PageLabels << /Nums [0 << /S /r >>] >> /AcroForm << /Fields [11 0 R] >> /Lang (en) >>")
    more = ["<< /First 7 0 R /Last 8 0 R /Count 2 >>",
            "<< /Title (a) /Parent 6 0 R /Next 8 0 R /Dest [3 0 R /XYZ 0 792 0] >>",
            "<< /Title (b) /Parent 6 0 R /Next 7 0 R /Dest [2 0 R /Fit] /A << /S /GoTo /D (x) >> >>",
            "<< /Kids [10 0 R] >>",
            "<< /Kids [9 0 R] /Names [(x) [3 0 R /FitH 700] (y) [99 0 R /Fit]] >>",
            "<< /Type /Annot /Subtype /Widget /FT /Tx /T (f) /V (v) /Rect [10 10 90 30] /P 3 0 R >>",
            "<< /Title (info) /Author (fuzz) >>"]
    annots = " /Annots [11 0 R << /Type /Annot /Subtype /Text /Rect [1 1 9 9] /Contents (n) >> 40 0 R] /Group << /S /Transparency >> /Tabs /S"
    bodies = list(common)
    bodies[0], bodies[2] = catalog, page % annots
    yield pdf(bodies + more, trailer_extra=" /Info 12 0 R")
    bodies[2] = page % " /Annots 7 /Trans 1 0 R"
    yield pdf(bodies + more, trailer_extra=" /Info 4 0 R")
    bodies[2] = page % " /Annots 9 0 R"
    yield pdf(bodies + more, trailer_extra=" /Info 1 0 R")


def turned_docs():
    """Annotations and destinations on turned and offset pages, sound and
    damaged: an appearance shared by pages of three turns, state
    dictionaries, an upright note, inline annotations, coordinates that are
    short, not numbers, references or huge."""
    kids = " ".join("%d 0 R" % n for n in (3, 4, 5, 3))
    bodies = ["<< /Type /Catalog /Pages 2 0 R /Outlines 12 0 R /OpenAction [4 0 R /FitH 9e9] >>",
              "<< /Type /Pages /Kids [%s] /Count 4 /MediaBox [0 0 300 200] >>" % kids]
    own = ["/Rotate 90", "/Rotate -180 /CropBox [10 20 290 190]", "/Rotate 45 /MediaBox [-5 -5 100 100]"]
    annots = ["[6 0 R 7 0 R << /Subtype /Square /Rect [1 2 3 4] /AP << /N 9 0 R >> >>]",
              "10 0 R", "[6 0 R 8 0 R 11 0 R << /Rect [1 2] >> 99 0 R]"]
    for o, a in zip(own, annots):
        bodies.append("<< /Type /Page /Parent 2 0 R %s /Contents 13 0 R /Annots %s >>" % (o, a))
    bodies += [
        "<< /Type /Annot /Subtype /Square /Rect [10 20 80 60] /AP << /N 9 0 R /D << /On 9 0 R /Off 14 0 R >> >> "
        "/RD [1 2 3 4] /MK << /R 90 >> >>",
        "<< /Type /Annot /Subtype /Ink /Rect [0 0 50 50] /InkList [[1 2 3 4] [5 6 7 R]] /QuadPoints [1 2 3] "
        "/L 7 0 R /Vertices [1 2 3 4 99999999999999999999999999999 6] /F 16 >>",
        "<< /Type /Annot /Subtype /Link /F 0 /Rect [20 20 10 10] /Dest [5 0 R /FitR 1 2 3] /A << /S /GoTo "
        "/D [4 0 R /XYZ null -7.5 null] >> /AP 9 0 R >>",
        stream("/Type /XObject /Subtype /Form /BBox [0 0 70 40] /Matrix [0 1 -1 0 40 0]", "0 0 70 40 re f"),
        "[6 0 R 8 0 R]",
        "<< /Type /Annot /Subtype /Text /Rect [5 5 25 25] /F 20 /Popup 6 0 R /AP << /N << /A 14 0 R >> >> >>",
        "<< /First 15 0 R /Last 15 0 R /Count 1 >>",
        stream("", CONTENT),
        stream("/Subtype /Form /BBox [0 0 1 1] /Matrix 3 0 R", "0 0 1 1 re f"),
        "<< /Title (t) /Parent 12 0 R /Dest [3 0 R /XYZ 10 (x) 0] /Next 15 0 R /A << /D [4 0 R /FitBV 5] >> >>"]
    yield pdf(bodies)
    yield pdf(bodies)[:-300]


def tagged_docs():
    """Tagged structure, layers and shared content, sound and damaged: /K
    cycles, /P and /Pg naming what is no element or page, a parent tree
    that is no number tree, ids without a page, a page listed twice, an
    optional-content group named by a turned annotation's appearance."""
    kids = "3 0 R 4 0 R 3 0 R"
    page = ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 6 0 R /StructParents %d "
            "/Resources << /Properties << /oc 11 0 R >> >>%s >>")
    bodies = ["<< /Type /Catalog /Pages 2 0 R /StructTreeRoot 5 0 R /MarkInfo << /Marked true >> "
              "/OCProperties << /OCGs [11 0 R] /D << /OFF [11 0 R] >> >> >>",
              "<< /Type /Pages /Kids [%s] /Count 3 >>" % kids,
              page % (0, " /Annots [12 0 R]"), page % (1, " /Rotate 90"),
              "<< /Type /StructTreeRoot /K [7 0 R 8 0 R] /ParentTree 10 0 R /RoleMap << /X /P >> >>",
              stream("", "/P << /MCID 0 >> BDC 0 0 m 9 9 l S EMC /OC /oc BDC 1 1 m EMC"),
              "<< /S /P /P 5 0 R /Pg 3 0 R /K [0 << /Type /MCR /MCID 1 /Pg 4 0 R >> 9 0 R 7 0 R] >>",
              "<< /S /X /P 3 0 R /Pg 2 0 R /K [5 -1 99999999999 << /Type /OBJR /Obj 12 0 R >>] >>",
              "<< /Type /MCR /MCID 4 >>",
              "<< /Kids [10 0 R] /Nums 7 >>",
              "<< /Type /OCG /Name (hidden) >>",
              "<< /Type /Annot /Subtype /Square /Rect [1 1 9 9] /OC 11 0 R /StructParent 2 /AP << /N 13 0 R >> >>",
              stream("/Subtype /Form /BBox [0 0 8 8] /OC 11 0 R", "0 0 8 8 re f")]
    yield pdf(bodies)
    yield pdf(bodies)[:-250]


def numbering_seeds():
    yield "simple", simple(1)
    yield "three-pages", simple(3)
    yield "flate-rotate-crop", flate_page()
    yield "objstm", objstm_doc()
    yield "incremental", incremental()
    yield "deep-tree", deep_tree()
    yield "filters", filters_doc()
    for name, doc in tolerated_docs():
        yield "tolerated-" + name, doc
    for i, doc in enumerate(broken_docs()):
        yield "broken-%d" % i, doc
    for i, doc in enumerate(structure_docs()):
        yield "structure-%d" % i, doc
    for i, doc in enumerate(turned_docs()):
        yield "turned-%d" % i, doc
    for i, doc in enumerate(tagged_docs()):
        yield "tagged-%d" % i, doc
    # Encrypted files (R2 to R6, RC4 and AES, refused and numbered): read in
    # the clear, their copies sealed again.
    encrypted = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "encrypted")
    for f in sorted(os.listdir(encrypted)):
        with open(os.path.join(encrypted, f), "rb") as fh:
            yield "encrypted-" + f[:-4], fh.read()


def decode_seeds():
    text = (CONTENT * 30).encode()
    for level in (0, 1, 6, 9):
        yield "inflate-l%d" % level, b"\x01\xff" + zlib.compress(text, level)
    fixed = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_FIXED)
    yield "inflate-fixed", b"\x01\x40" + fixed.compress(text) + fixed.flush()
    yield "inflate-repeat", b"\x01\xff" + zlib.compress(b"\0" * 100000)
    yield "inflate-empty", b"\x01\x00" + zlib.compress(b"")
    chains = [
        ("/Filter /FlateDecode", zlib.compress(text)),
        ("/Filter [/AHx /Fl]", zlib.compress(text).hex().encode() + b">"),
        ("/Filter /A85", b"9jqo^BlbD-BleB1DJ+*+F(f,q~>"),
        ("/Filter /RL", b"\x02abc\xfdx\x80"),
        ("/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>", bytes.fromhex("800B6050220C0C8501")),
        ("/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >>",
         zlib.compress(b"\x02\x01\x02\x03\x04\x02\x01\x01\x01\x01")),
        ("/Filter /FlateDecode /DecodeParms << /Predictor 2 /Colors 3 /BitsPerComponent 8 /Columns 2 >>",
         zlib.compress(b"\x10\x20\x30\x01\x01\x01")),
        ("/Filter [/A85 /LZW /RL] /DecodeParms [null << /EarlyChange 1 >> null]", b"~>"),
        ("/Filter /DCTDecode", b"\xff\xd8\xff"),
    ]
    for i, (d, raw) in enumerate(chains):
        yield "filters-%d" % i, b"\x00<< " + d.encode() + b" >>\nstream\n" + raw


def scan_seeds():
    yield "dict", b"\x05\x00<< /Length 5 /S (a>>b) /Type /Page /Kids [1 0 R 2 0 R] >>\r\nstream\r\nabcde"
    yield "refs", b"\x00\x01<< /Font << /F1 5 0 R /F2 6 0 R >> /XObject << /Im1 12 3 R 7 R >> >> startxref 1"
    yield "comment", b"\x01\x00%PDF-1.7\n<< % /Type /Page\n /Type (x) /Type /Pages >> 12abc -12 +5"


def deflate_seeds():
    # First byte: bit 0 reads the rest as (count, byte) runs, bit 1 also
    # checks that one byte less room fails.
    yield "text", b"\x02" + CONTENT.encode() * 3
    yield "bytes", b"\x00" + bytes(range(256)) + bytes(range(0, 256, 3))
    yield "runs", b"\x01" + b"\xff\x00\x03a\x00b\x80\x00\x02c\xff\x00"
    yield "many-runs", b"\x03" + bytes(b for i in range(3000) for b in (i * 7 % 256, i % 3))
    yield "empty", b"\x00"


FONT_MAX = 65536 - 9  # the fuzzer's longest input less the parameter bytes
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
DROID = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf"
# The tables a cut font keeps: what the reader and the subsetter read.
FONT_TABLES = [b"OS/2", b"cmap", b"cvt ", b"fpgm", b"glyf", b"head", b"hhea", b"hmtx", b"loca", b"maxp", b"name",
               b"post", b"prep"]


def sfnt(tables):
    """A font file of the tables (tag -> bytes), checksums left zero."""
    tags = sorted(tables)
    out = bytearray(struct.pack(">IHHHH", 0x00010000, len(tags), 0, 0, 0))
    offset = 12 + 16 * len(tags)
    body = bytearray()
    for tag in tags:
        data = tables[tag]
        out += struct.pack(">4sIII", tag, 0, offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    return bytes(out + body)


def cut_font(path, budget):
    """The font with only its first glyphs, as many as fit in budget bytes;
    None when the font is not installed."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return None
    count = struct.unpack(">H", data[4:6])[0]
    tables = {}
    for k in range(count):
        tag, _, off, length = struct.unpack(">4sIII", data[12 + 16 * k:28 + 16 * k])
        if tag in FONT_TABLES:
            tables[tag] = data[off:off + length]
    long_loca = struct.unpack(">h", tables[b"head"][50:52])[0] == 1
    metrics = struct.unpack(">H", tables[b"hhea"][34:36])[0]
    tables[b"post"] = b"\x00\x03\x00\x00" + tables[b"post"][4:32]

    def with_glyphs(n):
        entry = 4 if long_loca else 2
        loca = tables[b"loca"][:entry * (n + 1)]
        end = struct.unpack(">I" if long_loca else ">H", loca[-entry:])[0] * (1 if long_loca else 2)
        t = dict(tables)
        t[b"loca"], t[b"glyf"] = loca, tables[b"glyf"][:end]
        own = min(n, metrics)
        t[b"hmtx"] = tables[b"hmtx"][:4 * own + 2 * (n - own)]
        t[b"hhea"] = tables[b"hhea"][:34] + struct.pack(">H", own)
        t[b"maxp"] = tables[b"maxp"][:4] + struct.pack(">H", n) + tables[b"maxp"][6:]
        return sfnt(t)

    lo, hi = 1, struct.unpack(">H", tables[b"maxp"][4:6])[0]
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if len(with_glyphs(mid)) <= budget:
            lo = mid
        else:
            hi = mid - 1
    return with_glyphs(lo)


def font_params(flags, values):
    return bytes([flags]) + struct.pack(">4H", *values)


def font_seeds():
    # Byte 0: face (bits 0-1), glyph ids (bit 2), whole-face copy (bit 3).
    dejavu, droid = cut_font(DEJAVU, FONT_MAX), cut_font(DROID, FONT_MAX)
    if dejavu:
        yield "dejavu", font_params(0, [0x41, 0xC0, 0xE9, 0x20]) + dejavu
        yield "dejavu-glyphs", font_params(4 | 8, [1, 130, 171, 300]) + dejavu
    if droid:
        yield "droid", font_params(0, [0x30DA, 0x30FC, 0x30B8, 0x20]) + droid
        yield "droid-glyphs", font_params(4, [2, 230, 264, 294]) + droid
    if dejavu and droid:
        a, b = cut_font(DEJAVU, FONT_MAX // 2 - 16), cut_font(DROID, FONT_MAX // 2 - 16)
        header = b"ttcf" + struct.pack(">III", 0x00010000, 2, 20)
        fonts = []
        for font, base in ((a, 20), (b, 20 + len(a))):
            font = bytearray(font)
            for k in range(struct.unpack(">H", font[4:6])[0]):
                at = 12 + 16 * k + 8
                font[at:at + 4] = struct.pack(">I", struct.unpack(">I", font[at:at + 4])[0] + base)
            fonts.append(bytes(font))
        header += struct.pack(">I", 20 + len(a))
        yield "collection", font_params(1, [0x30DA, 0x20, 0x41, 0x4E2D]) + header + fonts[0] + fonts[1]
        yield "otto", font_params(0, [0x41, 0, 0, 0]) + b"OTTO" + dejavu[4:]
def security_seeds():
    """The /Encrypt dictionaries and first /ID elements of the encrypted test
    files (R2 to R6, RC4 and AES, with and without a user password), as the
    security target reads them: the /ID's length, the /ID, the dictionary."""
    tests = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests")
    files = [os.path.join(tests, "data", "encrypted", f) for f in sorted(os.listdir(os.path.join(tests, "data", "encrypted")))]
    files += [os.path.join(tests, "corpus", f) for f in ("variant-encrypted-aes256-emptyuser.pdf",
                                                          "variant-encrypted-rc4-xrefstream.pdf")]
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        num = re.findall(rb"/Encrypt (\d+) 0 R", data)[-1]
        start = data.index(b"\n" + num + b" 0 obj") + len(num) + 7
        dictionary = data[start:data.index(b"endobj", start)].strip()
        ident = bytes.fromhex(re.findall(rb"/ID\s*\[\s*<([0-9a-fA-F]*)>", data)[-1].decode())
        yield os.path.basename(path)[:-4], bytes([len(ident)]) + ident + dictionary
    yield "crypt-filters", (b"\x80<< /Filter /Standard /V 4 /R 4 /P -4 /O <" + b"0" * 64 + b"> /U <" + b"0" * 64 +
                            b"> /CF << /StdCF << /CFM /AESV2 >> /X << /CFM /V2 /Length 5 >> >> /StmF /StdCF"
                            b" /StrF /X /EFF /Identity /EncryptMetadata false /Type /XRef"
                            b" /Filter [/Crypt] /DecodeParms [<< /Name /X >>] /ID [(a\\)b) <01>] >>")


def main():
    out = sys.argv[1]
    groups = {"numbering": numbering_seeds(), "decode": decode_seeds(), "scan": scan_seeds(),
              "deflate": deflate_seeds(), "font": font_seeds(), "security": security_seeds()}
    for target, seeds in groups.items():
        d = os.path.join(out, target)
        os.makedirs(d, exist_ok=True)
        for name, data in seeds:
            if target == "numbering":
                data = b"\x00\x00\x0c\x00" + data
            with open(os.path.join(d, "seed-" + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
