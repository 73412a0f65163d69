// The copy table and every rewrite of references in the output. The table
// lists the input objects that the output copies, each under its output
// number, and says what the references to every other object become. It
// starts from seeds - the references of every page's resources dictionary
// (pages in order, references in text order, first appearance wins), then
// the document's structure that the new pages and catalog carry: each
// page's annotations and other own entries, the catalog's outlines, name
// trees, labels, form and the rest, the document information - and is
// closed breadth-first over the references inside the listed objects, so
// that fonts keep their descriptors and font files, images their soft masks
// and forms their own resources, and bookmarks their whole outline.
// References to input pages name their new page objects, to the catalog the
// new catalog. Every text that reaches the output with input references in
// it (a page's resources, a carried entry, a copy) is rewritten through the
// table by the reader's pdfp_remap_res_text; stream data is copied
// unchanged.
//
// Lookups go through a direct map indexed by input object number, so that
// listing, closing and rewriting stay linear in the bytes copied.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "writer_parts.h"

namespace {

// A plain object body longer than this is not copied (written as null).
constexpr int64_t MAX_BODY = 268435455;
// Resource inheritance depth: the page plus up to 32 ancestors.
constexpr int RESOURCES_DEPTH = 32;

struct free_deleter {
    void operator()(void *p) const { std::free(p); }
};

// What the references to an input object become when it is not copied, or
// 0 when it is. Following page objects and page-tree nodes (their /Parent
// above all) would drag the whole input document along: the pages the tree
// lists have their new page objects (name_pages_and_catalog), and the
// references to the other ones become null.
int32_t not_copied_as(const pdfp_doc *doc, const pdfp_obj *obj) {
    return obj && obj_type(doc->data, doc->size, obj) != OBJ_OTHER ? PDFP_REF_TO_NULL : 0;
}

// References to an input page name its new page object (the first, for a
// page listed twice), references to the catalog the new catalog: what
// makes bookmarks, destinations, an annotation's /P and a widget's page
// point where they did. A page is what the page tree walk found, whatever
// its /Type says.
void name_pages_and_catalog(const pdfp_doc *doc, copy_table *t) {
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        int32_t n = doc->pages.items[i].obj_num;
        if (n > 0 && static_cast<size_t>(n) < t->new_by_old.size() && t->new_by_old[static_cast<size_t>(n)] == 0)
            t->new_by_old[static_cast<size_t>(n)] = static_cast<int32_t>(page_obj(i));
    }
    const pdfp_obj *catalog = input_catalog(doc);
    if (catalog && t->new_by_old[static_cast<size_t>(catalog->num)] == 0)
        t->new_by_old[static_cast<size_t>(catalog->num)] = static_cast<int32_t>(CATALOG_OBJ);
}

// Adds num to the table unless it is there already.
void list_ref(const pdfp_doc *doc, copy_table *t, int32_t num) {
    // No object can have such a number, in the input or in the output.
    if (num <= 0 || num > PDFP_MAX_OBJ_NUM) return;
    size_t n = static_cast<size_t>(num);
    if (n >= t->new_by_old.size()) {
        size_t grown = std::max(n + 1, std::min<size_t>(2 * t->new_by_old.size(), PDFP_MAX_OBJ_NUM + 1));
        t->new_by_old.resize(grown, 0);
    }
    if (t->new_by_old[n] != 0) return;
    int32_t as = not_copied_as(doc, pdfp_obj_find(&doc->objs, num));
    if (as != 0) {
        t->new_by_old[n] = as;
        return;
    }
    t->new_by_old[n] = t->first_out + static_cast<int32_t>(t->nums.size());
    t->nums.push_back(num);
}

// The bytes of an object that are copied with their references rewritten:
// an object-stream object's text, a stream's dictionary (never its data),
// a plain object's body. n < 0 when the object has nothing usable.
struct copy_source {
    const unsigned char *p = nullptr;
    int64_t n = -1;
};

bool stream_extent_ok(const pdfp_doc *doc, const pdfp_obj *o) {
    return o->dict_pos >= 0 && o->stream_pos > o->dict_pos && o->data_start >= 0 &&
           o->data_start <= o->data_end && o->data_end <= doc->size;
}

copy_source source_of(const pdfp_doc *doc, const pdfp_obj *o) {
    copy_source s;
    if (o->in_objstm) {
        if (o->text && o->text_len > 0) {
            s.p = o->text;
            s.n = o->text_len;
        }
    } else if (pdfp_obj_has_stream(o)) {
        if (stream_extent_ok(doc, o)) {
            s.p = doc->data + o->dict_pos;
            s.n = o->stream_pos - o->dict_pos;
        }
    } else {
        int32_t start = obj_value_start(doc->data, doc->size, o->hdr_pos);
        if (start >= 0 && start < doc->size && o->endobj_pos > start && o->endobj_pos <= doc->size &&
            o->endobj_pos - start <= MAX_BODY) {
            s.p = doc->data + start;
            s.n = o->endobj_pos - start;
        }
    }
    return s;
}

// Lists every reference of [p, p + n) that the rewrite renumbers, in text order.
void list_refs_in(const pdfp_doc *doc, copy_table *t, const unsigned char *p, int64_t n) {
    int32_t at = 0, start, num;
    while (pdfp_next_ref(p, static_cast<int32_t>(n), at, true, &start, &num, &at)) list_ref(doc, t, num);
}

// The page's resources dictionary text (malloc'd), or null.
char *page_resources_text(const pdfp_doc *doc, const pdfp_obj *page, pdfp_res_memo *memo) {
    const unsigned char *buf;
    int32_t end;
    // For a file object this is the file from its first byte to the end of
    // the page's text region; for an object-stream object, its own text.
    if (obj_text_region(doc->data, doc->size, page, &buf, &end) < 0) return nullptr;
    return pdfp_page_resources_dict_deep(doc->data, doc->size, &doc->objs, buf, end, RESOURCES_DEPTH, memo);
}

// Seeds: the direct references of every page's resources, in page and text order.
void list_page_resources(const pdfp_doc *doc, copy_table *t) {
    std::vector<int32_t> refs;
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        const pdfp_obj *page = pdfp_obj_find(&doc->objs, doc->pages.items[i].obj_num);
        if (!page) continue;
        std::unique_ptr<char, free_deleter> text(page_resources_text(doc, page, t->resources.get()));
        if (!text) continue;
        int32_t len = static_cast<int32_t>(std::strlen(text.get()));
        // The shortest reference, "1 R", takes two bytes and a separator.
        refs.resize(static_cast<size_t>(len) / 2 + 1);
        int32_t count = pdfp_collect_text_refs(text.get(), len, refs.data(), static_cast<int32_t>(refs.size()));
        for (int32_t k = 0; k < count; ++k) list_ref(doc, t, refs[static_cast<size_t>(k)]);
    }
}

// Seeds: what the /Filter and /DecodeParms of a page's one content stream
// name, since the form that carries the stream carries those values too.
void list_content_encodings(const pdfp_doc *doc, copy_table *t) {
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        const pdfp_obj *page = pdfp_obj_find(&doc->objs, doc->pages.items[i].obj_num);
        pdfp_raw_content raw;
        if (!page || !pdfp_page_raw_content(doc->data, doc->size, &doc->objs, page, &raw)) continue;
        if (raw.filter_at >= 0) list_refs_in(doc, t, doc->data + raw.filter_at, raw.filter_end - raw.filter_at);
        if (raw.parms_at >= 0) list_refs_in(doc, t, doc->data + raw.parms_at, raw.parms_end - raw.parms_at);
    }
}

// ---------------------------------------------------------------------------
// The document's structure: entries the new catalog and pages carry
// ---------------------------------------------------------------------------

// What a carried entry's value must be, else it is left out: a viewer that
// finds /Annots 5 or /AcroForm [] may stop reading the document.
enum value_kind { ANY_VALUE, ARRAY_VALUE, DICT_VALUE, NAME_VALUE };

struct carried_key {
    const char *key;
    value_kind kind;
};

// The catalog's entries, in the order the new catalog writes them. Not
// carried: the tagged structure (/StructTreeRoot, /MarkInfo), which points
// into page content by marked-content numbers that the wrapping changes.
constexpr carried_key CATALOG_KEYS[] = {
    {"Outlines", DICT_VALUE},   {"Names", DICT_VALUE},      {"Dests", DICT_VALUE},
    {"PageLabels", DICT_VALUE}, {"OpenAction", ANY_VALUE},  {"PageMode", NAME_VALUE},
    {"PageLayout", NAME_VALUE}, {"ViewerPreferences", DICT_VALUE}, {"Lang", ANY_VALUE},
    {"Metadata", DICT_VALUE},   {"AcroForm", DICT_VALUE}};

// A page's own entries (none of them is inherited), in the order the new
// page writes them. /Group is the page's transparency group: it changes how
// the page composites.
constexpr carried_key PAGE_KEYS[] = {{"Annots", ARRAY_VALUE}, {"Group", DICT_VALUE}, {"AA", DICT_VALUE},
                                     {"Trans", DICT_VALUE},   {"Dur", ANY_VALUE},    {"Tabs", NAME_VALUE}};

bool value_fits(const unsigned char *b, int32_t p, int32_t end, value_kind kind) {
    switch (kind) {
        case ARRAY_VALUE: return b[p] == '[';
        case DICT_VALUE: return p + 1 < end && b[p] == '<' && b[p + 1] == '<';
        case NAME_VALUE: return b[p] == '/';
        default: return true;
    }
}

// The object a value "N G R" [vs, ve) names, or null when it is not one
// reference.
const pdfp_obj *referenced(const pdfp_doc *doc, const unsigned char *b, int32_t vs, int32_t ve) {
    int32_t start, num, after;
    if (!pdfp_next_ref(b, ve, vs, true, &start, &num, &after) || start != vs || after != ve) return nullptr;
    return pdfp_obj_find(&doc->objs, num);
}

// Whether the value [vs, ve) is of the kind, directly or through the
// object it names.
bool entry_fits(const pdfp_doc *doc, const unsigned char *b, int32_t vs, int32_t ve, value_kind kind) {
    if (kind == ANY_VALUE) return true;
    const unsigned char *vb = b;
    int32_t p = vs, end = ve;
    if (b[vs] >= '0' && b[vs] <= '9') {
        const pdfp_obj *o = referenced(doc, b, vs, ve);
        if (!o || (p = obj_value_at(doc->data, doc->size, o, &vb, &end)) < 0) return false;
    }
    return value_fits(vb, p, end, kind);
}

struct carried_entry {
    const char *key;
    const unsigned char *buf;
    int32_t vs, ve;
};

// The entries of the set that obj's dictionary holds with a value of the
// right kind, in the set's order.
std::vector<carried_entry> carried_entries(const pdfp_doc *doc, const pdfp_obj *obj, carried_set set) {
    std::vector<carried_entry> out;
    const carried_key *keys = set == CARRY_CATALOG ? CATALOG_KEYS : PAGE_KEYS;
    size_t n = set == CARRY_CATALOG ? std::size(CATALOG_KEYS) : std::size(PAGE_KEYS);
    for (size_t k = 0; k < n; ++k) {
        carried_entry e{keys[k].key, nullptr, 0, 0};
        if (obj_dict_value(doc->data, doc->size, obj, e.key, &e.buf, &e.vs, &e.ve) && e.ve > e.vs &&
            entry_fits(doc, e.buf, e.vs, e.ve, keys[k].kind))
            out.push_back(e);
    }
    return out;
}

// A moved page's /Annots: its inline annotations are written mapped.
bool moved_annots(carried_set set, const carried_entry &e) {
    return set == CARRY_PAGE && std::strcmp(e.key, "Annots") == 0;
}

void list_carried(const pdfp_doc *doc, copy_table *t, const pdfp_obj *obj, carried_set set) {
    for (const carried_entry &e : carried_entries(doc, obj, set))
        if (!moved_annots(set, e) || !frame_list_annots_value(doc, t, obj->num, e.buf, e.vs, e.ve))
            list_refs_in(doc, t, e.buf + e.vs, e.ve - e.vs);
}

// The document information: a dictionary the trailer names, copied like
// the rest; info_out stays 0 when there is none to carry.
void list_info(const pdfp_doc *doc, copy_table *t) {
    const pdfp_obj *info = doc->info > 0 ? pdfp_obj_find(&doc->objs, doc->info) : nullptr;
    const unsigned char *b;
    int32_t end;
    int32_t p = info && !pdfp_obj_has_stream(info) ? obj_value_at(doc->data, doc->size, info, &b, &end) : -1;
    if (p < 0 || !value_fits(b, p, end, DICT_VALUE)) return;
    list_ref(doc, t, info->num);
    int32_t as = t->new_by_old[static_cast<size_t>(info->num)];
    if (as >= t->first_out) t->info_out = as;  // not the catalog or a page under another name
}

// Seeds of the structure: every page's own entries, then the catalog's,
// then the information.
void list_structure(const pdfp_doc *doc, copy_table *t) {
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        const pdfp_obj *page = pdfp_obj_find(&doc->objs, doc->pages.items[i].obj_num);
        if (page) list_carried(doc, t, page, CARRY_PAGE);
    }
    if (const pdfp_obj *catalog = input_catalog(doc)) list_carried(doc, t, catalog, CARRY_CATALOG);
    list_info(doc, t);
}

// Breadth-first over the listed objects: the list grows while it is walked.
void close_table(const pdfp_doc *doc, copy_table *t) {
    for (size_t k = 0; k < t->nums.size(); ++k) {
        const pdfp_obj *o = pdfp_obj_find(&doc->objs, t->nums[k]);
        if (!o) continue;
        copy_source s = source_of(doc, o);
        if (s.n > 0 && !frame_list_refs(doc, t, k, s.p, s.n)) list_refs_in(doc, t, s.p, s.n);
    }
}

// Entry k's text: mapped when it belongs to a moved page, else as it stands.
void copy_entry_text(const pdfp_doc *doc, const copy_table *t, size_t k, const copy_source &s, out_buf *o) {
    if (!frame_copy_text(doc, t, k, s.p, s.n, o)) copy_remap(t, s.p, s.n, o);
}

}  // namespace

void copy_table_build(const pdfp_doc *doc, int32_t first_out, copy_table *t) {
    t->first_out = first_out;
    t->nums.clear();
    t->new_by_old.assign(static_cast<size_t>(std::max(doc->max_num, 0)) + 1, 0);
    t->info_out = 0;
    t->resources.reset(pdfp_res_memo_new());
    frame_copies_build(doc, &t->framed);
    name_pages_and_catalog(doc, t);
    list_page_resources(doc, t);
    list_content_encodings(doc, t);
    list_structure(doc, t);
    close_table(doc, t);
}

const pdfp_obj *input_catalog(const pdfp_doc *doc) {
    const pdfp_obj *c = doc->catalog > 0 ? pdfp_obj_find(&doc->objs, doc->catalog) : nullptr;
    // A catalog that is itself the page tree has nothing of its own to carry.
    return c && obj_type(doc->data, doc->size, c) == OBJ_OTHER ? c : nullptr;
}

void append_carried(const pdfp_doc *doc, const copy_table *t, const pdfp_obj *obj, carried_set set, out_buf *o) {
    if (!obj) return;
    for (const carried_entry &e : carried_entries(doc, obj, set)) {
        out_str(o, " /");
        out_str(o, e.key);
        out_str(o, " ");
        if (!moved_annots(set, e) || !frame_copy_annots_value(t, obj->num, e.buf, e.vs, e.ve, o))
            copy_remap(t, e.buf + e.vs, e.ve - e.vs, o);
    }
}

void copy_table_list(const pdfp_doc *doc, copy_table *t, int32_t num) { list_ref(doc, t, num); }

void copy_remap(const copy_table *t, const unsigned char *p, int64_t n, out_buf *o) {
    if (o->failed) return;
    std::string mapped;  // destinations that name a moved page, in its new frame
    if (frame_map_dests(t->framed.frames, p, static_cast<int32_t>(n), &mapped)) {
        p = reinterpret_cast<const unsigned char *>(mapped.data());
        n = static_cast<int64_t>(mapped.size());
    }
    if (!pdfp_remap_res_text(p, static_cast<int32_t>(n), t->new_by_old.data(),
                             static_cast<int32_t>(t->new_by_old.size()), o->buf, o->limit))
        o->failed = true;
}

bool copy_remap_string(const copy_table *t, const unsigned char *p, int64_t n, std::string *s) {
    pdfp_buf scratch{};
    out_buf o{&scratch, false};
    copy_remap(t, p, n, &o);
    s->clear();
    if (!o.failed && scratch.data) s->assign(reinterpret_cast<const char *>(scratch.data), scratch.len);
    pdfp_buf_free(&scratch);
    return !o.failed;
}

std::string page_resources_remapped(const pdfp_doc *doc, const pdfp_obj *page, const copy_table *t) {
    std::unique_ptr<char, free_deleter> text(page_resources_text(doc, page, t->resources.get()));
    if (!text || !*text) return {};
    std::string s;
    copy_remap_string(t, reinterpret_cast<const unsigned char *>(text.get()),
                      static_cast<int64_t>(std::strlen(text.get())), &s);
    return s;  // short of memory: the form simply goes without resources
}

void copies_append(const pdfp_doc *doc, const copy_table *t, out_buf *o) {
    for (size_t k = 0; k < t->nums.size() && !o->failed; ++k) {
        const pdfp_obj *obj = pdfp_obj_find(&doc->objs, t->nums[k]);
        copy_source s = obj ? source_of(doc, obj) : copy_source{};
        int64_t num = t->first_out + static_cast<int64_t>(k);
        if (s.n > 0 && !obj->in_objstm && pdfp_obj_has_stream(obj))
            begin_stream_object(o, num);
        else
            begin_object(o, num);
        if (s.n <= 0) {
            // Missing, or nothing that can be copied: null keeps every
            // cross-reference entry pointing at a real object.
            out_str(o, "null\n");
        } else if (obj->in_objstm) {
            copy_entry_text(doc, t, k, s, o);
            out_str(o, "\n");
        } else if (pdfp_obj_has_stream(obj)) {
            copy_entry_text(doc, t, k, s, o);  // the dictionary and the whitespace behind it
            out_str(o, "stream\n");
            out_bytes(o, doc->data + obj->data_start, static_cast<uint64_t>(obj->data_end - obj->data_start));
            out_str(o, "\nendstream\n");
        } else {
            copy_entry_text(doc, t, k, s, o);  // the body, up to where "endobj" stood
        }
        end_object(o);
    }
}
