#!/usr/bin/python3
"""Writes fuzz/seeds/: small whole copies of the files of tests/corpus.

usage: make_page_seeds.py [CORPUS_DIR [OUT_DIR]]
Needs pikepdf; the files it writes are kept in the repository, so run it
again only when tests/corpus changes (the encrypted copies then differ: their
salts are random).

Each seed keeps the first six pages of its file (three or one when that
makes it larger than 16 KB; a later page that shares the first page's
content comes along) with the producer's own structures: page tree depth
and inherited attributes, object and cross-reference streams, encryption,
tagged trees, forms, layers, annotations. Content streams are cut to about
600 bytes, font tables to 16 entries and every other stream (fonts,
images, profiles) to a few dozen bytes of its stored data, filters kept:
the numbering path copies those without decoding them. Outlines and name
trees keep a few entries; references to the pages left out are dropped.
The file's layout variant is written again: linearized, QDF, an
incremental update, a damaged startxref. Each seed also comes cut after
three fifths (cut-NAME), without its cross-reference section, as a file
cut short is: the reader then scans for its objects.

A fuzzer mutating a whole 10 KB file reaches the code that one mutating
the first 64 KB of a 500 KB file (its cross-reference section cut off)
reaches, and more, in a fraction of the time per input; libFuzzer's
length control also starts from the longest seed.
"""
import os
import re
import sys
import zlib

import pikepdf
from pikepdf import Name

CONTENT_BYTES = 600
OTHER_BYTES = 48
PAGES_KEPT = (6, 3, 1)  # fewer while the seed is larger than SEED_BYTES
SEED_BYTES = 16384
RESOURCES_KEPT = 24  # names per resource kind, when one page is still too large


def leaves(node, out, seen):
    if node.objgen in seen:
        return
    seen.add(node.objgen)
    if "/Kids" in node:
        for kid in node.Kids:
            leaves(kid, out, seen)
    else:
        out.append(node)


def trim(node, keep):
    """Drops the leaves not in keep (by object id); the page count of each
    node left is set anew. Returns the number of pages kept under node."""
    if "/Kids" not in node:
        return 1 if node.objgen in keep else 0
    kids, count = [], 0
    for kid in node.Kids:
        n = trim(kid, keep)
        if n:
            kids.append(kid)
            count += n
    node.Kids = pikepdf.Array(kids)
    node.Count = count
    return count


def filters(stream):
    f = stream.get("/Filter")
    if f is None:
        return []
    return [f] if isinstance(f, pikepdf.Name) else list(f)


def encode(data, chain):
    """data encoded again with a chain of Flate and ASCIIHex filters."""
    for f in reversed(chain):
        if f in (Name.FlateDecode, Name.Fl):
            data = zlib.compress(data)
        elif f in (Name.ASCIIHexDecode, Name.AHx):
            data = data.hex().encode() + b">"
        else:
            return None
    return data


def cut_content(stream):
    chain = filters(stream)
    try:
        data = stream.read_bytes()
    except pikepdf.PdfError:
        return
    if len(data) <= CONTENT_BYTES:
        return
    end = data.rfind(b"\n", 0, CONTENT_BYTES)
    data = data[: end + 1 if end > 0 else CONTENT_BYTES]
    encoded = encode(data, chain)
    if encoded is not None:
        stream.write(encoded, filter=stream.get("/Filter"), decode_parms=stream.get("/DecodeParms"))


def shrink_font(font):
    """Font tables cut to a few entries: the numbering path copies them."""
    widths = font.get("/Widths")
    if isinstance(widths, pikepdf.Array) and len(widths) > 16 and "/FirstChar" in font:
        font.Widths = pikepdf.Array(list(widths)[:16])
        font.LastChar = int(font.FirstChar) + 15
    for key in ("/Differences", "/W"):
        a = font.get(key)
        if isinstance(a, pikepdf.Array) and len(a) > 16:
            font[key] = pikepdf.Array(list(a)[:16])


def shrink(pdf, contents):
    for obj in pdf.objects:
        if isinstance(obj, pikepdf.Dictionary):
            shrink_font(obj)
        if not isinstance(obj, pikepdf.Stream):
            continue
        t = obj.get("/Type")
        if t in (Name.ObjStm, Name.XRef):
            continue
        if obj.objgen in contents or obj.get("/Subtype") == Name.Form:
            cut_content(obj)
            continue
        raw = obj.read_raw_bytes()
        if len(raw) > 4 * OTHER_BYTES:
            obj.write(raw[:OTHER_BYTES], filter=obj.get("/Filter"), decode_parms=obj.get("/DecodeParms"))


def drop_refs(pdf, dead):
    """References to the pages left out go (0 in an array), so that what only
    those pages use is no longer written."""
    def walk(o):
        items = o.items() if isinstance(o, pikepdf.Dictionary) else enumerate(o)
        for k, v in list(items):
            if isinstance(v, (pikepdf.Dictionary, pikepdf.Array)):
                if v.is_indirect:
                    if v.objgen in dead:
                        if isinstance(o, pikepdf.Dictionary):
                            del o[k]
                        else:
                            o[k] = 0
                else:
                    walk(v)
    for obj in pdf.objects:
        if not isinstance(obj, pikepdf.Object) or obj.objgen in dead:
            continue
        if isinstance(obj, pikepdf.Stream):
            walk(obj.stream_dict)
        elif isinstance(obj, (pikepdf.Dictionary, pikepdf.Array)):
            walk(obj)


def cut_outline(parent, depth):
    """Keeps the first two items under parent (and two under each, to a
    depth of three)."""
    item, kept = parent.get("/First"), []
    while item is not None and len(kept) < 2:
        kept.append(item)
        item = item.get("/Next")
    if not kept:
        return
    if "/Next" in kept[-1]:
        del kept[-1].Next
    parent.Last = kept[-1]
    if "/Count" in parent:
        parent.Count = len(kept) if int(parent.Count) >= 0 else -len(kept)
    for k in kept:
        if depth < 3:
            cut_outline(k, depth + 1)
        else:
            for key in ("/First", "/Last", "/Count"):
                if key in k:
                    del k[key]


def name_pairs(node, out):
    if "/Names" in node:
        out.extend(node.Names)
    for kid in node.get("/Kids", []):
        if len(out) >= 10:
            break
        name_pairs(kid, out)


def cut_names(pdf):
    root = pdf.Root
    if "/Outlines" in root:
        cut_outline(root.Outlines, 1)
    if "/Names" in root:
        for key in list(root.Names.keys()):
            pairs = []
            name_pairs(root.Names[key], pairs)
            root.Names[key] = pdf.make_indirect(pikepdf.Dictionary(Names=pikepdf.Array(pairs[:10])))
    if "/Dests" in root:
        for key in sorted(root.Dests.keys())[5:]:
            del root.Dests[key]
    if "/Threads" in root:
        del root.Threads


def cut_resources(pages):
    for p in pages:
        res = p.get("/Resources")
        if not isinstance(res, pikepdf.Dictionary):
            continue
        for kind, d in res.items():
            if isinstance(d, pikepdf.Dictionary) and len(d.keys()) > RESOURCES_KEPT:
                res[kind] = pikepdf.Dictionary({k: d[k] for k in sorted(d.keys())[:RESOURCES_KEPT]})


def chosen_pages(pages, count):
    keep = pages[:count]
    first = pages[0].get("/Contents")
    if first is not None:
        for p in pages[count:]:
            c = p.get("/Contents")
            if c is not None and c.is_indirect and first.is_indirect and c.objgen == first.objgen:
                keep.append(p)
                break
    return keep


def page_contents(pages):
    out = set()
    for p in pages:
        c = p.get("/Contents")
        if c is None:
            continue
        for s in c if isinstance(c, pikepdf.Array) else [c]:
            out.add(s.objgen)
    return out


def incremental(path):
    """Appends an update to the saved file: its first page turned and given
    one more content stream, as an editor saving in place does."""
    with pikepdf.open(path) as pdf:
        root = pdf.Root
        leaves_ = []
        leaves(root.Pages, leaves_, set())
        page = leaves_[0]
        num = page.objgen[0]
        size = int(pdf.trailer.Size)
        contents = page.get("/Contents")
        items = list(contents) if isinstance(contents, pikepdf.Array) else [contents]
        d = pikepdf.Dictionary(page)
        d.Contents = pikepdf.Array(items + [pikepdf.Name("/Placeholder")])
        d.Rotate = 90
        body = d.unparse().replace(b"/Placeholder", b"%d 0 R" % size)
    data = open(path, "rb").read()
    prev = int(re.findall(rb"startxref\s+(\d+)", data)[-1])
    trailer = re.findall(rb"trailer\s*(<<.*?>>)\s*startxref", data, re.S)[-1]
    out = bytearray(data)
    offsets = {}
    offsets[num] = len(out)
    out += b"%d 0 obj\n" % num + body + b"\nendobj\n"
    extra = zlib.compress(b"q 1 0 0 rg 72 72 100 20 re f Q\n")
    offsets[size] = len(out)
    out += b"%d 0 obj\n<< /Length %d /Filter /FlateDecode >>\nstream\n" % (size, len(extra)) + extra + b"\nendstream\nendobj\n"
    x = len(out)
    out += b"xref\n"
    for k in sorted(offsets):
        out += b"%d 1\n%010d 00000 n \n" % (k, offsets[k])
    t = re.sub(rb"/Size \d+", b"/Size %d" % (size + 1), trailer)
    t = re.sub(rb"/Prev \d+", b"", t)
    out += b"trailer\n" + t[:-2] + b"/Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (prev, x)
    open(path, "wb").write(out)


def damage_startxref(path):
    data = open(path, "rb").read()
    at = data.rindex(b"startxref")
    m = re.compile(rb"startxref\s+(\d+)").match(data, at)
    wrong = b"%d" % (len(data) // 3)
    open(path, "wb").write(data[: m.start(1)] + wrong + data[m.end(1):])


def make(src, dst):
    for count in PAGES_KEPT:
        write(src, dst, count, False)
        if os.path.getsize(dst) <= SEED_BYTES:
            return
    write(src, dst, 1, True)


def write(src, dst, count, fewer_resources):
    name = os.path.basename(src)
    with pikepdf.open(src, password="") as pdf:
        pages = []
        leaves(pdf.Root.Pages, pages, set())
        keep = chosen_pages(pages, count)
        if fewer_resources:
            cut_resources(keep)
        contents = page_contents(keep)
        kept = {p.objgen for p in keep}
        trim(pdf.Root.Pages, kept)
        drop_refs(pdf, {p.objgen for p in pages} - kept)
        cut_names(pdf)
        shrink(pdf, contents)
        options = dict(static_id=True, encryption=pdf.is_encrypted, fix_metadata_version=False,
                       compress_streams=False)
        if "qdf" in name:
            options["qdf"] = True
        if "classic-xref" in name or "incremental" in name or "damaged" in name:
            options["object_stream_mode"] = pikepdf.ObjectStreamMode.disable
        pdf.save(dst, **options)
    if "linearized" in name:
        # Linearized from the trimmed file as read again: linearizing the
        # file still open would bring back the pages left out.
        with pikepdf.open(dst, allow_overwriting_input=True) as pdf:
            pdf.save(dst, static_id=True, linearize=True, compress_streams=False)
    if "incremental" in name:
        incremental(dst)
    if "damaged" in name:
        damage_startxref(dst)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "corpus")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "seeds")
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(corpus)):
        if name.endswith(".pdf"):
            whole = os.path.join(out, name)
            make(os.path.join(corpus, name), whole)
            data = open(whole, "rb").read()
            open(os.path.join(out, "cut-" + name), "wb").write(data[: len(data) * 3 // 5])
            print("%7d %s" % (len(data), name))


if __name__ == "__main__":
    main()
