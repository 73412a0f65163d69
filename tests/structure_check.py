#!/usr/bin/env python3
"""Structure check: does a numbered copy keep the document's own structure?

Compares an input PDF with its numbered output and counts, per kind, what
the output keeps of the input's:

  bookmarks  outline entries, in order: level, title, target page
  links      link annotations: target (a page, or the URI or other action)
             and the words printed under the link
  annots     every other annotation: subtype, /Contents, words under it
  fields     form fields: full name, type, value, pages of their widgets
  info       entries of the document information dictionary
  labels     page labels (style, prefix, number), page by page
  points     coordinates of explicit destinations (/XYZ left top, /FitH
             top, /FitR ...): the point must show the same spot of the page

Targets are resolved as a viewer does: explicit destinations, names
through the catalog's /Dests and the /Names /Dests tree, GoTo actions.
Words, because a rectangle is only right if it still covers what it
covered: the words under an annotation are the `pdftotext -bbox` words
whose box centre lies in its /Rect. Poppler reports words in display
coordinates (the MediaBox turned by /Rotate, origin at its top left) while
/Rect is in the page's user space, so each file's rectangles are mapped with
that file's own boxes and rotation: an input page may be turned or offset,
its numbered page is upright at the origin, and the words must be the same.
Points are compared in the same display frames, related by the quarter
turn and shift that carry the page's words from input to output; where
too few words settle that relation, a point is unsettled, not lost.

Usage:
  structure_check.py IN OUT                   one pair
  structure_check.py --cli TOOL [--corpus DIR] [--expect-loss] [--allow-unmapped]
      numbers every `ok` file of DIR/MANIFEST.tsv with the tool, checks each
  structure_check.py --self-test [--corpus DIR]
      checks the checker on qpdf copies of every file: as is, turned a
      quarter, MediaBox grown to the lower left, destinations named instead
      of explicit must keep everything; annotations moved aside must lose

Exit status: 0 nothing lost, 1 something lost or broken, 77 a tool missing.
With --expect-loss, 0 when losses are reported and 1 when nothing is lost:
the flag marks structure the tool does not keep yet, and must go the day it
does. With --allow-unmapped, what is lost only on turned or offset pages
(links and annotations that no longer cover their words, destination
points that moved) is counted apart as unmapped and does not fail; the
check fails when nothing is unmapped, the day the flag is to go. Standard library only; needs qpdf (11, JSON v2) and pdftotext.
"""

import argparse
import bisect
import collections
import concurrent.futures
import html
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

FORMAT = "Pg {n}/{total}"          # the label of --cli mode, as in corpus_check.py
LABEL_WORDS = r"Pg|-?\d+/\d+"      # its words, left out wherever words are compared
TOL = 1.0                          # points: a mapped coordinate may be rounded
SHOWN = 2                          # losses printed in detail per kind and file
MIN_WORDS = 3                      # words that must agree to settle a page's frames
GROW = (37, 23)                    # how far --self-test grows each MediaBox
REF = re.compile(r"^\d+ \d+ R$")   # qpdf's JSON writes references as "7 0 R"
WORD = re.compile(r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">(.*?)</word>')


def run(cmd):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def qpdf_ok(cmd):
    return run(cmd).returncode in (0, 3)  # 3: warnings only, the result is whole


class Broken(Exception):
    """A file that cannot be read or made: an error, never a loss."""


# --- Reading a file: qpdf's objects, poppler's words ---

class Doc:
    def __init__(self, path):
        r = run(["qpdf", "--json=2", "--json-key=qpdf", "--json-key=pages", "--json-key=acroform", path])
        if r.returncode not in (0, 3):
            raise Broken("qpdf cannot read %s: %s" % (path, r.stderr.decode("utf-8", "replace").strip()[:200]))
        j = json.loads(r.stdout)
        objs = j["qpdf"][1]
        self.objects = {k[4:]: v["value"] if "value" in v else v["stream"]["dict"]
                        for k, v in objs.items() if k.startswith("obj:")}
        self.trailer = objs.get("trailer", {}).get("value", {})
        self.catalog = self.get(self.trailer.get("/Root")) or {}
        self.pages = [p["object"] for p in j["pages"]]
        self.page_index = {ref: i for i, ref in reversed(list(enumerate(self.pages)))}  # a page listed twice: its first
        self.labels = [p.get("label") for p in j["pages"]]
        self.fields = j["acroform"]["fields"]
        self.frames = [page_frame(self, ref) for ref in self.pages]
        self.moved = [frame_moved(self, ref, frame) for ref, frame in zip(self.pages, self.frames)]
        # Only the words a viewer shows: those inside the CropBox.
        self.words = [inside(frame, inherited(self, ref, "/CropBox") or frame[0], words) for ref, frame, words
                      in zip(self.pages, self.frames, page_words(path, len(self.pages)))]
        self.named = named_dests(self)

    def get(self, v):
        """The value a reference names (None for a missing object)."""
        for _ in range(32):  # a reference to a reference ... ends somewhere
            if not (isinstance(v, str) and REF.match(v)):
                break
            v = self.objects.get(v)
        return v


def text(v):
    """A qpdf JSON string, name or other value as plain text."""
    if isinstance(v, str):
        if v.startswith(("u:", "n:")):
            return v[2:]
        if v.startswith("b:"):
            return bytes.fromhex(v[2:]).decode("latin-1")
        return v[1:] if v.startswith("/") else v
    return json.dumps(v)


def inherited(doc, ref, key):
    node, seen = doc.get(ref), set()
    while isinstance(node, dict) and id(node) not in seen:
        seen.add(id(node))
        if key in node:
            return doc.get(node[key])
        node = doc.get(node.get("/Parent"))
    return None


def box(v):
    if isinstance(v, (list, tuple)) and len(v) == 4 and all(isinstance(n, (int, float)) for n in v):
        return min(v[0], v[2]), min(v[1], v[3]), max(v[0], v[2]), max(v[1], v[3])
    return None


def page_frame(doc, ref):
    """What poppler's display frame is made of: the MediaBox (Letter when
    missing) and the rotation (0 unless a multiple of 90)."""
    rot = inherited(doc, ref, "/Rotate")
    rot = int(rot) % 360 if isinstance(rot, (int, float)) and rot % 90 == 0 else 0
    return box(inherited(doc, ref, "/MediaBox")) or (0, 0, 612, 792), rot


def frame_moved(doc, ref, frame):
    """Whether a numbered copy must map the page's user space: the page is
    turned, or the box a viewer shows (CropBox clipped to MediaBox) does not
    start at the origin."""
    (x1, y1, x2, y2), rot = frame
    crop = box(inherited(doc, ref, "/CropBox")) or (x1, y1, x2, y2)
    lx, ly, ux, uy = max(crop[0], x1), max(crop[1], y1), min(crop[2], x2), min(crop[3], y2)
    lx, ly = (lx, ly) if lx < ux and ly < uy else (x1, y1)
    return rot != 0 or abs(lx) > 1e-6 or abs(ly) > 1e-6


def opt(v, f):
    return None if v is None else f(v)


def to_display(frame, x, y):
    """A point of the page's user space in poppler's display coordinates.
    Either coordinate may be None (a destination may leave one unset); each
    lands on one display axis, as every rotation is a quarter turn."""
    (x1, y1, x2, y2), rot = frame
    if rot == 90:
        return opt(y, lambda v: v - y1), opt(x, lambda v: v - x1)
    if rot == 180:
        return opt(x, lambda v: x2 - v), opt(y, lambda v: v - y1)
    if rot == 270:
        return opt(y, lambda v: y2 - v), opt(x, lambda v: x2 - v)
    return opt(x, lambda v: v - x1), opt(y, lambda v: y2 - v)


def page_words(path, count):
    """Per page, (centre x, centre y, word) in display coordinates."""
    pages = run(["pdftotext", "-bbox", path, "-"]).stdout.decode("utf-8", "replace").split("<page ")[1:]
    out = [[((float(a) + float(c)) / 2, (float(b) + float(d)) / 2, html.unescape(t))
            for a, b, c, d, t in WORD.findall(p)] for p in pages]
    return out + [[] for _ in range(count - len(out))]


def inside(frame, rect, words):
    """The words whose centre lies in a user-space rectangle."""
    r = box(rect)
    if r is None:
        return []
    (ax, ay), (bx, by) = to_display(frame, r[0], r[1]), to_display(frame, r[2], r[3])
    return [w for w in words if min(ax, bx) <= w[0] <= max(ax, bx) and min(ay, by) <= w[1] <= max(ay, by)]


def words_under(doc, page, rect, ignore):
    return tuple(sorted(t for _, _, t in inside(doc.frames[page], rect, doc.words[page])
                        if not (ignore and ignore.match(t))))


# --- Destinations and actions ---

def named_dests(doc):
    """Every named destination, by the name's text: the catalog's /Dests
    dictionary, then the /Names /Dests tree (each node walked once, so a
    tree with cycles ends)."""
    old = doc.get(doc.catalog.get("/Dests"))
    table = {text(k): v for k, v in old.items()} if isinstance(old, dict) else {}
    names = doc.get(doc.catalog.get("/Names"))
    stack, seen = [names.get("/Dests")] if isinstance(names, dict) else [], set()
    while stack:
        node = doc.get(stack.pop())
        if not isinstance(node, dict) or id(node) in seen:
            continue
        seen.add(id(node))
        pairs = doc.get(node.get("/Names"))
        pairs = pairs if isinstance(pairs, list) else []
        for k in range(0, len(pairs) - 1, 2):
            table.setdefault(text(doc.get(pairs[k])), pairs[k + 1])
        kids = doc.get(node.get("/Kids"))
        stack += kids if isinstance(kids, list) else []
    return table


def dest_target(doc, d, depth=0):
    """(description, explicit destination) of a destination: an array
    naming a page, a name or string to look up, or a dictionary with /D.
    The explicit destination is (page index, [kind, numbers...]) or None."""
    d = doc.get(d)
    if isinstance(d, str) and depth < 2:
        return dest_target(doc, doc.named.get(text(d)), depth + 1)
    if isinstance(d, dict) and depth < 3:
        return dest_target(doc, d.get("/D"), depth + 1)
    if isinstance(d, list) and d:
        page = doc.page_index.get(d[0]) if isinstance(d[0], str) else d[0] if isinstance(d[0], int) else None
        if page is not None and 0 <= page < len(doc.pages):
            return "page %d" % (page + 1), (page, d[1:])
        return "page ?", None  # null, a page-tree node, or no page at all
    return "no destination", None


def target(doc, item):
    """(description, explicit destination) of an outline entry or a link."""
    if "/Dest" in item:
        return dest_target(doc, item["/Dest"])
    a = doc.get(item.get("/A"))
    if not isinstance(a, dict):
        return "no target", None
    kind = text(a.get("/S"))
    if kind == "GoTo":
        return dest_target(doc, a.get("/D"))
    if kind == "URI":
        return "URI " + text(doc.get(a.get("/URI"))), None
    if kind in ("GoToR", "Launch", "GoToE"):
        f = doc.get(a.get("/F"))
        f = doc.get(f.get("/UF", f.get("/F"))) if isinstance(f, dict) else f
        return "%s %s %s" % (kind, text(f), text(doc.get(a.get("/D")))), None
    return "%s %s" % (kind, text(a.get("/N"))) if kind == "Named" else "action " + kind, None


# --- The structure, as comparable signatures ---

def bookmarks(doc):
    """Outline entries in reading order: ((level, title, target), dest).
    Each entry is visited once, so a /Next chain that loops ends."""
    root = doc.get(doc.catalog.get("/Outlines"))
    out, seen = [], set()
    stack = [(root.get("/First"), 1)] if isinstance(root, dict) else []
    while stack:
        ref, level = stack.pop()
        node = doc.get(ref)
        if not isinstance(node, dict) or id(node) in seen:
            continue
        seen.add(id(node))
        desc, dest = target(doc, node)
        out.append(((level, text(doc.get(node.get("/Title"))), desc), dest))
        stack += [(node.get("/Next"), level), (node.get("/First"), level + 1)]
    return out


def annotations(doc, page, ignore):
    """A page's annotations: ((kind, target or contents, words), dest)."""
    node = doc.get(doc.pages[page])
    annots = doc.get(node.get("/Annots")) if isinstance(node, dict) else None
    out = []
    for a in annots if isinstance(annots, list) else []:
        a = doc.get(a)
        if not isinstance(a, dict):
            continue
        kind = text(a.get("/Subtype"))
        words = words_under(doc, page, doc.get(a.get("/Rect")), ignore)
        desc, dest = target(doc, a) if kind == "Link" else (text(doc.get(a.get("/Contents", "u:"))), None)
        out.append(((kind, desc, words), dest))
    return out


def fields(doc):
    """{(full name, type, value): sorted pages of the field's widgets}."""
    table = collections.defaultdict(list)
    for f in doc.fields:
        table[(f.get("fullname"), text(f.get("fieldtype")), text(f.get("value")))].append(f.get("pageposfrom1") or 0)
    return {k: sorted(v) for k, v in table.items()}


def info(doc):
    d = doc.get(doc.trailer.get("/Info"))
    return {text(k): text(doc.get(v)) for k, v in d.items()} if isinstance(d, dict) else {}


def in_order(want, got):
    """For each wanted item its match in got, keeping the order (a greedy
    common subsequence, n log n); None where lost."""
    where = collections.defaultdict(list)
    for k, (sig, _) in enumerate(got):
        where[sig].append(k)
    last, out = -1, []
    for sig, _ in want:
        spots = where.get(sig, [])
        n = bisect.bisect_right(spots, last)
        out.append(got[spots[n]] if n < len(spots) else None)
        last = spots[n] if n < len(spots) else last
    return out


def in_any_order(want, got):
    pool = collections.defaultdict(collections.deque)
    for item in got:
        pool[item[0]].append(item)
    return [pool[sig].popleft() if pool.get(sig) else None for sig, _ in want]


# --- Destination points ---

def dest_points(doc, dest):
    """The coordinates an explicit destination names, in display
    coordinates of its page: [(x or None, y or None)]."""
    page, rest = dest
    kind = text(rest[0]) if rest else ""
    n = [v if isinstance(v, (int, float)) else None for v in rest[1:]] + [None] * 4
    user = {"XYZ": [(n[0], n[1])], "FitH": [(None, n[0])], "FitBH": [(None, n[0])],
            "FitV": [(n[0], None)], "FitBV": [(n[0], None)], "FitR": [(n[0], n[1]), (n[2], n[3])]}.get(kind, [])
    return [to_display(doc.frames[page], x, y) for x, y in user if x is not None or y is not None]


def turn(x, y, k):
    """A display point turned k quarter turns about the origin."""
    for _ in range(k):
        x, y = opt(y, lambda v: -v), x
    return x, y


def frame_relation(a, b, page):
    """(k, dx, dy): the quarter turns and shift that carry the page's
    display frame in a onto b's, fitted on the words each page holds once;
    None unless at least MIN_WORDS words, and most of them, agree."""
    def once(words):
        count = collections.Counter(t for _, _, t in words)
        return {t: (x, y) for x, y, t in words if count[t] == 1}
    wa, wb = once(a.words[page]), once(b.words[page] if page < len(b.words) else [])
    common = [t for t in wa if t in wb]
    best = (0, None)
    for k in range(4 if common else 0):
        d = [(wb[t][0] - p[0], wb[t][1] - p[1]) for t in common for p in [turn(*wa[t], k)]]
        dx, dy = statistics.median(x for x, _ in d), statistics.median(y for _, y in d)
        agree = sum(abs(x - dx) <= TOL and abs(y - dy) <= TOL for x, y in d)
        best = max(best, (agree, (k, dx, dy)), key=lambda t: t[0])
    return best[1] if best[0] >= MIN_WORDS and 2 * best[0] > len(common) else None


def point_verdict(a, b, da, db, relations):
    """('same' | 'moved' | 'unsettled', detail); None when neither
    destination names a point."""
    pa, pb = dest_points(a, da), dest_points(b, db)
    if not pa and not pb:
        return None, ""
    if da[0] not in relations:
        relations[da[0]] = frame_relation(a, b, da[0])
    if relations[da[0]] is None or da[0] != db[0]:
        return "unsettled", ""
    k, dx, dy = relations[da[0]]
    want = [(opt(x, lambda v: v + dx), opt(y, lambda v: v + dy)) for x, y in (turn(x, y, k) for x, y in pa)]
    compared, same = 0, True
    for axis in (0, 1):  # FitR's corners may swap when turned: compare sorted
        u, v = (sorted(p[axis] for p in pts if p[axis] is not None) for pts in (want, pb))
        if u and len(u) == len(v):
            compared += 1
            same = same and all(abs(s - t) <= TOL for s, t in zip(u, v))
    shown = lambda pts: " ".join("(%s %s)" % tuple("-" if v is None else "%.1f" % v for v in p) for p in pts)
    return ("unsettled" if not compared else "same" if same else "moved",
            "display point %s expected on the output page, %s found" % (shown(want), shown(pb)))


# --- One pair ---

def words_text(words):
    s = " ".join(words)
    return repr(s if len(s) <= 50 else s[:47] + "...") if s else "no words"


def check_pair(a, b, ignore, allow_unmapped=False):
    """({kind: (kept, total)}, losses, notes) of the output b against the input a.
    With allow_unmapped, losses of words and points on pages whose frame
    moved are counted in the notes instead."""
    counts, losses, points, relations = {}, [], collections.Counter(), {}
    unmapped = []

    def lose(loss, page):
        (unmapped if allow_unmapped and a.moved[page] else losses).append(loss)
    if len(a.pages) != len(b.pages):
        losses.append("pages: %d in, %d out" % (len(a.pages), len(b.pages)))

    def tally(name, want, got, describe, page=None):
        kept = 0
        for (sig, da), match in zip(want, got):
            if match is None:
                loss = name + ": " + describe(sig)
                lose(loss, page) if page is not None else losses.append(loss)
                continue
            kept += 1
            verdict, detail = point_verdict(a, b, da, match[1], relations) if da and match[1] else (None, "")
            points[verdict] += 1
            if verdict == "moved":
                lose("points: %s: %s" % (describe(sig), detail), da[0])
        old = counts.get(name, (0, 0))
        counts[name] = (old[0] + kept, old[1] + len(want))

    want = bookmarks(a)
    tally("bookmarks", want, in_order(want, bookmarks(b)), lambda s: "level %d %r -> %s" % s)
    counts["links"] = counts["annots"] = (0, 0)
    for p in range(len(a.pages)):
        want = annotations(a, p, ignore)
        got = in_any_order(want, annotations(b, p, ignore) if p < len(b.pages) else [])
        for name, is_link in (("links", True), ("annots", False)):
            pick = [k for k, (sig, _) in enumerate(want) if (sig[0] == "Link") == is_link]
            tally(name, [want[k] for k in pick], [got[k] for k in pick],
                  lambda s: "p%d %s over %s" % (p + 1, "-> " + s[1][:70] if is_link else "%s %r" % (s[0], s[1][:40]),
                                                words_text(s[2])), p)

    want, got = fields(a), fields(b)
    lost = [k for k in want if got.get(k) != want[k]]
    losses += ["fields: %s (%s) = %r on pages %s" % (k + (want[k],)) for k in lost]
    counts["fields"] = (len(want) - len(lost), len(want))
    want, got = info(a), info(b)
    lost = [k for k in want if got.get(k) != want[k]]
    losses += ["info: /%s %r, output %s" % (k, want[k][:60], repr(got[k][:60]) if k in got else "none") for k in lost]
    counts["info"] = (len(want) - len(lost), len(want))
    labelled = [p for p, lab in enumerate(a.labels) if lab is not None]
    lost = [p for p in labelled if p >= len(b.labels) or b.labels[p] != a.labels[p]]
    losses += ["labels: p%d %s, output %s" % (p + 1, json.dumps(a.labels[p]),
                                             json.dumps(b.labels[p]) if p < len(b.labels) and b.labels[p] else "none") for p in lost]
    counts["labels"] = (len(labelled) - len(lost), len(labelled))
    counts["points"] = (points["same"], points["same"] + points["moved"])
    notes = ["%d points unsettled" % points["unsettled"]] if points["unsettled"] else []
    notes += ["%d unmapped on turned or offset pages: %s" % (len(unmapped), unmapped[0])] if unmapped else []
    return counts, losses, notes


def summary(name, result):
    """The per-file lines: counts, then the first losses of each kind."""
    if isinstance(result, str):
        return "%s: ERROR %s" % (name, result)
    counts, losses, notes = result
    line = "%s: %s" % (name, ", ".join("%s %d/%d" % (k, kept, total) for k, (kept, total) in counts.items()))
    line += " [%s]" % "; ".join(notes) if notes else ""
    line += "  LOST %d" % len(losses) if losses else ""
    by_kind = collections.defaultdict(list)
    for loss in losses:
        by_kind[loss.split(":")[0]].append(loss)
    shown = [line]
    for kind, items in by_kind.items():
        shown += ["    " + loss for loss in items[:SHOWN]]
        shown += ["    ... %d more %s" % (len(items) - SHOWN, kind)] if len(items) > SHOWN else []
    return "\n".join(shown)


# --- The corpus: numbered by the tool, or copied by qpdf to check the checker ---

def read_manifest(corpus):
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as f:
        head = f.readline().rstrip("\n").split("\t")
        rows = [dict(zip(head, line.rstrip("\n").split("\t"))) for line in f if line.strip()]
    return [os.path.join(corpus, r["file"]) for r in rows if r["expect"] == "ok"]


def checked(src, dst, ignore, allow_unmapped=False):
    """check_pair's result, or the message of what broke."""
    try:
        return check_pair(Doc(src), Doc(dst), ignore, allow_unmapped)
    except Broken as e:
        return str(e)


def number_and_check(tool, allow_unmapped, src, work, ignore):
    dst = os.path.join(work, "numbered-" + os.path.basename(src))
    r = run([tool, "--format", FORMAT, src, dst])
    result = checked(src, dst, ignore, allow_unmapped) if r.returncode == 0 else \
        "numbering failed: " + r.stderr.decode("utf-8", "replace").strip()[:200]
    return [(os.path.basename(src), result, None)]


def updated(src, dst, objects):
    """A copy of src with some objects replaced; src must hold no object
    streams, as qpdf does not apply an update to an object inside one."""
    with open(dst + ".json", "w") as f:
        json.dump({"qpdf": [{"jsonversion": 2, "pushedinheritedpageresources": False, "calledgetallpages": False,
                             "maxobjectid": 0}, {"obj:" + k: {"value": v} for k, v in objects.items()}]}, f)
    return qpdf_ok(["qpdf", src, "--update-from-json=" + dst + ".json", dst])


def named_instead(doc):
    """Every explicit /Dest made a name: the even ones through the
    catalog's /Dests (as << /D [...] >>), the odd ones through two new
    leaves of the /Names /Dests tree, beside the tree already there."""
    old = doc.get(doc.catalog.get("/Dests"))
    new, leaves, changed = dict(old) if isinstance(old, dict) else {}, [[], []], {}
    for ref, obj in doc.objects.items():
        if isinstance(obj, dict) and isinstance(obj.get("/Dest"), list):
            k, dest = len(changed), obj["/Dest"]
            if k % 2 == 0:
                new["/named%d" % k] = {"/D": dest}
            else:
                leaves[k % 4 // 2] += ["u:named%d" % k, dest]
            changed[ref] = dict(obj, **{"/Dest": ("u:" if k % 2 else "/") + "named%d" % k})
    names = doc.get(doc.catalog.get("/Names"))
    names = dict(names) if isinstance(names, dict) else {}
    kids = [{"/Names": leaf} for leaf in leaves] + ([names["/Dests"]] if "/Dests" in names else [])
    names["/Dests"] = {"/Kids": kids}
    changed[doc.trailer["/Root"]] = dict(doc.catalog, **{"/Dests": new, "/Names": names})
    return changed if len(changed) > 1 else None


def variants(src, work):
    """The qpdf copies of src that --self-test checks: [(tag, path, must
    keep)]. The grown copy moves every display coordinate but not the
    picture; the moved one shifts each annotation right by its own width."""
    base = os.path.join(work, os.path.basename(src)[:-4])
    paths = {tag: "%s-%s.pdf" % (base, tag) for tag in ("copy", "turned", "grown", "named", "moved")}
    if not qpdf_ok(["qpdf", "--object-streams=disable", src, paths["copy"]]) or \
            not qpdf_ok(["qpdf", "--rotate=+90", src, paths["turned"]]):
        raise Broken("qpdf cannot copy " + src)
    doc, grown, moved = Doc(paths["copy"]), {}, {}
    for ref, ((x1, y1, x2, y2), _) in zip(doc.pages, doc.frames):
        grown[ref] = dict(doc.get(ref), **{"/MediaBox": [x1 - GROW[0], y1 - GROW[1], x2, y2]})
        annots = doc.get(doc.get(ref).get("/Annots"))
        for a in annots if isinstance(annots, list) else []:
            r = box(doc.get(doc.get(a).get("/Rect"))) if isinstance(doc.get(a), dict) else None
            if isinstance(a, str) and r:  # inline annotations stay: the control needs only some
                moved[a] = dict(doc.get(a), **{"/Rect": [r[2], r[1], 2 * r[2] - r[0], r[3]]})
    out = [("copy", True), ("turned", True)]
    for tag, objects, keep in (("grown", grown, True), ("named", named_instead(doc), True), ("moved", moved, False)):
        if objects and not updated(paths["copy"], paths[tag], objects):
            raise Broken("qpdf cannot update a copy of " + src)
        out += [(tag, keep)] if objects else []
    return [(tag, paths[tag], keep) for tag, keep in out]


def self_test(src, work, ignore):
    """[(file and copy, check_pair's result, whether it is as it must be)].
    A moved copy must lose something where the file has links: were no link
    found over words, the words would be misread. (Not any annotation: a
    field's words are drawn by the field and move with it.)"""
    name = os.path.basename(src)
    try:
        doc, copies = Doc(src), variants(src, work)
    except Broken as e:
        return [(name, str(e), False)]
    has_links = any(kind == "Link" for p in range(len(doc.pages)) for (kind, _, _), _ in annotations(doc, p, ignore))
    out = []
    for tag, path, keep in copies:
        try:
            other = Doc(path)
            result = check_pair(doc, other, ignore)
            if tag == "grown" and any(f == g for f, g in zip(doc.frames, other.frames)):
                result[1].append("grown: a page's MediaBox did not grow")
        except Broken as e:
            result = str(e)
        fine = not isinstance(result, str) and (not result[1] if keep else bool(result[1]) or not has_links)
        out.append(("%s (%s)" % (name, tag), result, fine))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("pair", nargs="*", metavar="IN OUT")
    ap.add_argument("--cli", help="the dedediruzurud command-line tool")
    ap.add_argument("--self-test", action="store_true", help="check qpdf copies of the corpus instead")
    ap.add_argument("--corpus", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", help="check only files whose name contains this text")
    ap.add_argument("--ignore", help="regular expression: words left out of the comparison "
                                     "(default: none for a pair, the label's words for --cli)")
    ap.add_argument("--expect-loss", action="store_true", help="succeed only when losses are reported")
    ap.add_argument("--allow-unmapped", action="store_true",
                    help="count losses on turned or offset pages apart; fail when there are none")
    ap.add_argument("--work", help="keep outputs in this directory (default: a temporary one)")
    args = ap.parse_args()
    if bool(args.pair) + bool(args.cli) + args.self_test != 1 or len(args.pair) not in (0, 2):
        ap.error("give IN OUT, --cli TOOL or --self-test")
    for tool in ("qpdf", "pdftotext"):
        if not shutil.which(tool):
            print("structure check: %s is not installed" % tool)
            return 77
    pattern = args.ignore or (LABEL_WORDS if args.cli else None)
    ignore = re.compile("^(?:%s)$" % pattern) if pattern else None
    files = [f for f in read_manifest(args.corpus) if not args.only or args.only in os.path.basename(f)]
    work = args.work or tempfile.mkdtemp(prefix="dedediruzurud-structure-")
    os.makedirs(work, exist_ok=True)
    if args.pair:
        rows = [(os.path.basename(args.pair[1]), checked(args.pair[0], args.pair[1], ignore), None)]
    else:
        with concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs) as pool:
            task, extra = (number_and_check, (args.cli, args.allow_unmapped)) if args.cli else (self_test, ())
            rows = [row for job in [pool.submit(task, *extra, f, work, ignore) for f in files] for row in job.result()]
    bad = lost = unmapped = False
    for label, result, as_it_must_be in rows:  # None: a numbered file, which must keep everything
        print(("" if as_it_must_be is None else "ok   " if as_it_must_be else "FAIL ") + summary(label, result))
        bad |= isinstance(result, str) or as_it_must_be is False
        lost |= as_it_must_be is None and not isinstance(result, str) and bool(result[1])
        unmapped |= not isinstance(result, str) and any(" unmapped on " in n for n in result[2])
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    if args.expect_loss and not bad and not lost:
        print("nothing lost: the structure is kept, drop --expect-loss")
    if args.allow_unmapped and not unmapped:
        print("nothing unmapped: turned and offset pages keep everything, drop --allow-unmapped")
        return 1
    return 1 if bad or lost != args.expect_loss else 0


if __name__ == "__main__":
    sys.exit(main())
