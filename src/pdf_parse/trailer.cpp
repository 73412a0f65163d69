// The trailer chain: the catalog's number, the document information's and
// the encryption flag, read from the classic trailers that "startxref" and
// /Prev lead to, and the catalog, information and encryption flag of
// cross-reference streams. The cross-reference entries
// themselves are never read: the scan finds objects.
#include <algorithm>
#include <cstring>

#include "load_steps.h"
#include "messages.h"

namespace {

constexpr int MAX_SECTIONS = 32;  // also ends /Prev loops

// Integer after a name key that ends at name_end, bounded by range_end.
int32_t int_after(const pdfp_doc *doc, int32_t name_end, int32_t range_end) {
    int32_t p = skip_ws(doc->data, name_end, range_end);
    return parse_int_at(doc->data, doc->size, &p);
}

// The object number of the /Info reference in the trailer [d, e), or -1.
int32_t info_in(const unsigned char *data, int32_t d, int32_t e) {
    return int_after_key(data, d, e, e, "Info", [](int32_t v) { return v > 0; });
}

void read_trailer_keys(pdfp_doc *doc, int32_t d, int32_t e) {
    for (int32_t r = find_name(doc->data, doc->size, d, e, "Root"); r >= 0;
         r = find_name(doc->data, doc->size, r + 1, e, "Root")) {
        // The byte that ends the name is passed over unseen.
        int32_t v = int_after(doc, name_end(r, "Root") + 1, e);
        if (v >= 0) {
            doc->root = v;
            break;
        }
    }
    if (find_name(doc->data, doc->size, d, e, "Encrypt") >= 0) doc->encrypted = 1;
    int32_t info = info_in(doc->data, d, e);
    if (info > 0) doc->info = info;
}

// Start and end of the dictionary after the "trailer" keyword at t.
void trailer_range(const pdfp_doc *doc, int32_t t, int32_t *d, int32_t *e) {
    *d = skip_ws(doc->data, kw_end(t, "trailer"), doc->size);
    *e = find_kw(doc->data, doc->size, *d, "startxref");
    if (*e <= 0) *e = doc->size;
}

// Next section offset from the /Prev of [d, e), or -1.
int32_t prev_offset(const pdfp_doc *doc, int32_t d, int32_t e) {
    int32_t k = find_name(doc->data, doc->size, d, e, "Prev");
    if (k < 0) return -1;
    int32_t v = int_after(doc, name_end(k, "Prev"), e);
    return (v >= 0 && v < doc->size) ? v : -1;
}

// A classic "xref" section at p; returns the next section's offset or -1.
int32_t classic_section(pdfp_doc *doc, int32_t p) {
    const int32_t q = kw_end(p, "xref");
    // Every trailer after this section's keyword is read, later ones
    // included, so the last readable /Root in the file wins.
    for (int32_t t = find_kw(doc->data, doc->size, q, "trailer"); t >= 0;
         t = find_kw(doc->data, doc->size, t + 1, "trailer")) {
        int32_t d, e;
        trailer_range(doc, t, &d, &e);
        if (d < e && doc->data[d] == '<') read_trailer_keys(doc, d, e);
    }
    int32_t t = find_kw(doc->data, doc->size, q, "trailer");
    if (t < 0) return -1;
    int32_t d, e;
    trailer_range(doc, t, &d, &e);
    return prev_offset(doc, d, e);
}

// A bare trailer dictionary at p; returns the next section's offset or -1.
int32_t dict_section(pdfp_doc *doc, int32_t p) {
    int depth = 0;
    int32_t i = p, e = -1;
    while (i < doc->size - 1) {
        unsigned char c = doc->data[i];
        if ((c == '<' || c == '>') && doc->data[i + 1] == c) {
            depth += c == '<' ? 1 : -1;
            i += 2;
            if (c == '>' && depth == 0) {
                e = i;
                break;
            }
        } else {
            ++i;
        }
    }
    if (e < 0) return -1;
    read_trailer_keys(doc, p, e);
    return prev_offset(doc, p, e);
}

// Whether the dictionary [d, e) has the top-level entry /Type /XRef.
bool is_xref_dict(const unsigned char *data, int32_t d, int32_t e) {
    int32_t t = find_name_top(data, e, d, e, "Type");
    if (t < 0) return false;
    int32_t p = skip_ws(data, name_end(t, "Type"), e);
    return p + 5 <= e && std::memcmp(data + p, "/XRef", 5) == 0 && (p + 5 == e || !is_name_cont(data[p + 5]));
}

// The /Info of the last classic trailer in the file, for a file whose chain
// is broken (a wrong "startxref" offset) but whose trailer is intact.
void read_last_trailer_info(pdfp_doc *doc) {
    int32_t last = find_last_kw(doc->data, doc->size, "trailer");
    if (last < 0) return;
    int32_t d, e;
    trailer_range(doc, last, &d, &e);
    if (d < e && doc->data[d] == '<') {
        int32_t info = info_in(doc->data, d, e);
        if (info > 0) doc->info = info;
    }
}

// Whether an object header "N G obj" stands at p, with N == num unless num is -1.
bool header_at(const pdfp_doc *doc, int32_t p, int32_t num) {
    if (p < 0 || p >= doc->size) return false;
    int32_t n = parse_int_at(doc->data, doc->size, &p);
    if (n < 0 || (num >= 0 && n != num) || parse_int_at(doc->data, doc->size, &p) < 0) return false;
    return kw_at(doc->data, skip_ws(doc->data, p, doc->size), doc->size, "obj");
}

// Whether the in-use entries of the classic section at p (the "xref"
// keyword) each point at the header of their own object.
bool classic_entries_sound(const pdfp_doc *doc, int32_t p) {
    const unsigned char *d = doc->data;
    p = kw_end(p, "xref");
    while (true) {
        p = skip_ws(d, p, doc->size);
        if (kw_at(d, p, doc->size, "trailer")) return true;
        int32_t first = parse_int_at(d, doc->size, &p);
        int32_t count = parse_int_at(d, doc->size, &p);
        if (first < 0 || count < 0 || count > doc->size / 18) return false;
        for (int32_t i = 0; i < count; ++i) {
            int32_t offset = parse_int_at(d, doc->size, &p);
            if (offset < 0 || parse_int_at(d, doc->size, &p) < 0) return false;
            p = skip_ws(d, p, doc->size);
            if (p >= doc->size || (d[p] != 'n' && d[p] != 'f')) return false;
            bool in_use = d[p++] == 'n';
            if (in_use && offset > 0 && !header_at(doc, offset, first + i)) return false;
        }
    }
}

}  // namespace

bool xref_sound(const pdfp_doc *doc) {
    int32_t h = find_last_kw(doc->data, doc->size, "startxref");
    if (h < 0) return false;
    int32_t pos = kw_end(h, "startxref");
    int32_t p = parse_int_at(doc->data, doc->size, &pos);
    if (p < 0 || p >= doc->size) return false;
    p = skip_ws(doc->data, p, doc->size);
    if (kw_at(doc->data, p, doc->size, "xref")) return classic_entries_sound(doc, p);
    // A cross-reference stream: it must at least be an object there.
    return header_at(doc, p, -1);
}

void read_trailer_chain(pdfp_doc *doc) {
    int32_t h = find_last_kw(doc->data, doc->size, "startxref");
    if (h < 0) return;
    int32_t pos = kw_end(h, "startxref");
    int32_t p = parse_int_at(doc->data, doc->size, &pos);
    if (p < 0 || p >= doc->size) return;
    for (int sections = 0; p >= 0;) {
        p = skip_ws(doc->data, p, doc->size);
        if (p >= doc->size) return;
        int32_t next;
        if (kw_at(doc->data, p, doc->size, "xref"))
            next = classic_section(doc, p);
        else if (kw_at(doc->data, p, doc->size, "<<"))
            next = dict_section(doc, p);
        else
            return;
        if (next < 0 || ++sections >= MAX_SECTIONS) return;
        p = next;
    }
}

void read_xref_stream_trailers(pdfp_doc *doc) {
    // A PDF 1.5 file keeps its trailer in such a stream, in every revision;
    // the last one in the file that names /Info is the newest revision's.
    const pdfp_objvec &objs = doc->objs;  // in file order here
    const bool classic_info = doc->info > 0;
    const bool classic_root = doc->root >= 0;
    for (int32_t i = 0; i < objs.count && !doc->encrypted; ++i) {
        const pdfp_obj &o = objs.items[i];
        if (o.in_objstm || !o.has_stream || o.dict_pos < 0) continue;
        // Read no further than the next header: hostile files nest thousands
        // of stream dictionaries, and reading each one whole is quadratic.
        int32_t e = o.stream_pos;
        if (i + 1 < objs.count && !objs.items[i + 1].in_objstm) e = std::min(e, objs.items[i + 1].hdr_pos);
        if (e <= o.dict_pos || !is_xref_dict(doc->data, o.dict_pos, e)) continue;
        if (find_name(doc->data, doc->size, o.dict_pos, e, "Encrypt") >= 0) doc->encrypted = 1;
        int32_t info = classic_info ? -1 : info_in(doc->data, o.dict_pos, e);
        if (info > 0) doc->info = info;
        // Its /Root too, unless a classic trailer gave one: otherwise the
        // catalog is searched for, slowly, and perhaps a stale one found.
        int32_t root = classic_root ? -1 : int_after_key(doc->data, o.dict_pos, e, e, "Root", [](int32_t v) { return v > 0; });
        if (root > 0) doc->root = root;
    }
    if (doc->info < 0) read_last_trailer_info(doc);
}

