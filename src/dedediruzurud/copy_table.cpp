// Building the copy table. It starts from seeds - the references of every
// page's resources dictionary (pages in order, references in text order,
// first appearance wins), then the document's structure that the new pages
// and catalog carry (carried.h): each page's annotations and other own
// entries, the catalog's outlines, name trees, labels, form and the rest,
// the document information - and is closed breadth-first over the
// references inside the listed objects, so that fonts keep their
// descriptors and font files, images their soft masks and forms their own
// resources, and bookmarks their whole outline. References to input pages
// name their new page objects, to the catalog the new catalog.
//
// Turned and shifted pages: the annotations such a page lists are written
// in the new page's frame, and their appearances turn with the page. Each
// appearance object (the /AP dictionary, a dictionary of states, the form
// stream) that an annotation on a turned page uses gets a copy of its own
// for that turn, so that one shared by pages of different turns is copied
// once per turn and the annotations of unturned pages keep the plain copy.
//
// Lookups go through a direct map indexed by input object number, so that
// listing and closing stay linear in the bytes copied.
#include "copy_table.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "carried.h"
#include "frame_map.h"
#include "object_numbers.h"

namespace {

// A plain object body longer than this is not copied (written as null).
constexpr int64_t MAX_BODY = 268435455;
// Resource inheritance depth: the page plus up to 32 ancestors.
constexpr int RESOURCES_DEPTH = 32;

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

// Lists every reference of [p, p + n) that the rewrite renumbers, in text order.
void list_refs_in(const pdfp_doc *doc, copy_table *t, const unsigned char *p, int64_t n) {
    int32_t at = 0, start, num;
    while (pdfp_next_ref(p, static_cast<int32_t>(n), at, true, &start, &num, &at)) list_ref(doc, t, num);
}

// What makes two pages draw the same: their /Contents naming the same
// stored object (or an array of the same objects), and the same frame and
// structure key; empty for a page without content of its own, which is
// never shared.
std::string drawing_key(const pdfp_doc *doc, const copy_table *t, int32_t i, const pdfp_obj *page) {
    const unsigned char *b;
    int32_t vs, ve;
    if (!obj_dict_value(doc->data, doc->size, page, "Contents", &b, &vs, &ve)) return {};
    std::string key;
    if (const pdfp_obj *c = obj_named_by(&doc->objs, b, vs, ve))
        key = "R" + std::to_string(c->num);
    else if (b[vs] == '[')
        key = "A" + std::string(reinterpret_cast<const char *>(b) + vs, static_cast<size_t>(ve - vs));
    else
        return {};
    page_frame frame;
    const pdfp_pageinfo *info = &doc->pages.items[i];
    if (!page_frame_of(doc, info, page, &frame)) return {};
    for (double v : {info->box_llx, info->box_lly, info->box_urx, info->box_ury}) key += " " + pdfp_fmt_num(v);
    key += " " + std::to_string(frame.rot) + " " + std::to_string(page_struct_parents(doc, &t->structure, page));
    return key + '\n';
}

// Seeds: the direct references of every page's resources, in page and text
// order. A page that draws what an earlier page draws, with the same
// resources, gets that page's form.
void list_page_resources(const pdfp_doc *doc, copy_table *t) {
    std::vector<int32_t> refs;
    std::unordered_map<std::string, int64_t> drawn;
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        const pdfp_obj *page = pdfp_obj_find(&doc->objs, doc->pages.items[i].obj_num);
        if (!page) continue;
        pdfp_owned<char> text = page_resources_text(doc, page, t->resources.get());
        std::string key = drawing_key(doc, t, i, page);
        if (!key.empty()) {
            if (text) key += text.get();
            t->form_of[static_cast<size_t>(i)] = drawn.emplace(std::move(key), form_obj(i)).first->second;
        }
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
// Turned and shifted pages
// ---------------------------------------------------------------------------

// Calls each(start, end) for every element of the array [vs, ve), in order,
// up to its end or the first damage.
template <typename Each>
void array_elements(const unsigned char *b, int32_t vs, int32_t ve, Each each) {
    if (vs >= ve || b[vs] != '[') return;
    for (int32_t p = vs + 1;;) {
        p = skip_ws_comments(b, p, ve);
        if (p >= ve || b[p] == ']') return;
        int32_t e = value_end(b, p, ve);
        if (e <= p) return;
        each(p, e);
        p = e;
    }
}

// Records the map of every annotation that the page's /Annots lists by
// reference (inline annotations are mapped where the page is written).
void note_page_annots(const pdfp_doc *doc, const pdfp_obj *page, const frame_map *m, frame_copies *fc) {
    const unsigned char *b;
    int32_t vs, ve, end;
    if (!obj_dict_value(doc->data, doc->size, page, "Annots", &b, &vs, &ve)) return;
    if (const pdfp_obj *array = obj_named_by(&doc->objs, b, vs, ve)) {
        vs = obj_value_at(doc->data, doc->size, array, &b, &end);
        if (vs < 0) return;
        ve = object_end(b, vs, end);
    }
    if (vs < 0 || ve <= vs) return;
    array_elements(b, vs, ve, [&](int32_t s, int32_t e) {
        int32_t start, num, after;
        // Only the array's own references: those inside an inline
        // annotation name its page, popup or appearances.
        if (pdfp_next_ref(b, e, s, true, &start, &num, &after) && start == s && after == e)
            fc->annots.emplace(num, m);  // an annotation listed by two pages keeps the first page's map
    });
}

// Finds the moved pages and the annotations they list.
void frame_copies_build(const pdfp_doc *doc, frame_copies *fc) {
    fc->annots.clear();
    fc->turned_out.clear();
    fc->turn_of_entry.clear();
    page_frames_build(doc, &fc->frames);
    if (fc->frames.maps.empty()) return;
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        int32_t num = doc->pages.items[i].obj_num;
        const frame_map *m = page_frames_find(fc->frames, num);
        const pdfp_obj *page = m ? pdfp_obj_find(&doc->objs, num) : nullptr;
        if (page) note_page_annots(doc, page, m, fc);
    }
}

bool is_optional_content_group(const pdfp_doc *doc, const pdfp_obj *o) {
    const unsigned char *b;
    int32_t vs, ve;
    return obj_dict_value(doc->data, doc->size, o, "Type", &b, &vs, &ve) &&
           (name_is(b, vs, ve, "OCG") || name_is(b, vs, ve, "OCMD"));
}

// Lists num's copy for the turn, unless it has one.
void list_turned(const pdfp_doc *doc, copy_table *t, int32_t num, int turn) {
    if (num <= 0 || num > PDFP_MAX_OBJ_NUM) return;
    frame_copies &fc = t->framed;
    if (fc.turned_out.count(turned_key(num, turn))) return;
    const pdfp_obj *o = pdfp_obj_find(&doc->objs, num);
    // A page or a missing object is what the plain table makes of it, and
    // an optional-content group stays one object, or a viewer would show
    // what names the second copy.
    if (!o || obj_type(doc->data, doc->size, o) != OBJ_OTHER || is_optional_content_group(doc, o)) {
        list_ref(doc, t, num);
        return;
    }
    int32_t out = t->first_out + static_cast<int32_t>(t->nums.size());
    fc.turned_out.emplace(turned_key(num, turn), out);
    fc.turn_of_entry.emplace(t->nums.size(), turn);
    t->nums.push_back(num);
}

// The references of [p, p + n): those in [ts, te) for the turn, the rest plain.
void list_split(const pdfp_doc *doc, copy_table *t, const unsigned char *p, int64_t n, int32_t ts, int32_t te,
                int turn) {
    int32_t at = 0, start, num;
    while (pdfp_next_ref(p, static_cast<int32_t>(n), at, true, &start, &num, &at)) {
        if (start >= ts && start < te)
            list_turned(doc, t, num, turn);
        else
            list_ref(doc, t, num);
    }
}

// Lists the references of an annotation's text written with map m: its
// appearances for the page's turn. False when they do not turn.
bool list_annot(const pdfp_doc *doc, copy_table *t, const frame_map *m, const unsigned char *p, int64_t n) {
    int32_t as, ae;
    if (!annot_turned_appearances(m, p, n, &as, &ae)) return false;
    list_split(doc, t, p, n, as, ae, m->turn);
    return true;
}

// Lists the references of entry k's text [p, p + n) when the entry is an
// annotation of a moved page or a turned appearance; false (nothing
// listed) for any other entry.
bool list_framed_entry(const pdfp_doc *doc, copy_table *t, size_t k, const unsigned char *p, int64_t n) {
    if (t->framed.frames.maps.empty()) return false;
    if (int turn = copy_turn_of(t, k)) {
        // A turned appearance: a dictionary leads on to further appearances
        // of the same turn; a form is drawn turned by a small form around
        // its plain copy (frame_map_wrapper).
        if (copies_stream(pdfp_obj_find(&doc->objs, t->nums[k])))
            list_ref(doc, t, t->nums[k]);
        else
            list_split(doc, t, p, n, 0, static_cast<int32_t>(n), turn);
        return true;
    }
    return list_annot(doc, t, copy_annot_map(t, k), p, n);
}

// A moved page's own /Annots value [vs, ve) in b (page: the input page's
// number): its references listed, and those of inline annotations'
// appearances for the page's turn; false (nothing listed) when the page
// does not move.
bool list_moved_annots(const pdfp_doc *doc, copy_table *t, int32_t page, const unsigned char *b, int32_t vs,
                       int32_t ve) {
    const frame_map *m = page_frames_find(t->framed.frames, page);
    if (!m) return false;
    int32_t listed = vs;
    for (const auto &[s, e] : inline_annots(b, vs, ve)) {
        int32_t at = listed, start, num;
        while (pdfp_next_ref(b, s, at, true, &start, &num, &at)) list_ref(doc, t, num);
        if (!list_annot(doc, t, m, b + s, e - s)) {
            for (at = s; pdfp_next_ref(b, e, at, true, &start, &num, &at);) list_ref(doc, t, num);
        }
        listed = e;
    }
    int32_t at = listed, start, num;
    while (pdfp_next_ref(b, ve, at, true, &start, &num, &at)) list_ref(doc, t, num);
    return true;
}

// ---------------------------------------------------------------------------
// The document's structure, and the closure
// ---------------------------------------------------------------------------

void list_carried(const pdfp_doc *doc, copy_table *t, const pdfp_obj *obj, carried_set set) {
    for (const carried_entry &e : carried_entries(doc, obj, set))
        if (!is_page_annots(set, e) || !list_moved_annots(doc, t, obj->num, e.buf, e.vs, e.ve))
            list_refs_in(doc, t, e.buf + e.vs, e.ve - e.vs);
}

// The document information: copied like the rest; info_out stays 0 when
// there is none to carry.
void list_info(const pdfp_doc *doc, copy_table *t) {
    const pdfp_obj *info = input_info(doc);
    if (!info) return;
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
        copy_source s = copy_source_of(doc, o);
        if (s.n > 0 && !list_framed_entry(doc, t, k, s.p, s.n)) list_refs_in(doc, t, s.p, s.n);
    }
}

bool stream_extent_ok(const pdfp_doc *doc, const pdfp_obj *o) {
    return o->dict_pos >= 0 && o->stream_pos > o->dict_pos && o->data_start >= 0 &&
           o->data_start <= o->data_end && o->data_end <= doc->size;
}

}  // namespace

void copy_table_build(const pdfp_doc *doc, int32_t first_out, copy_table *t) {
    t->first_out = first_out;
    t->nums.clear();
    t->new_by_old.assign(static_cast<size_t>(std::max(doc->max_num, 0)) + 1, 0);
    t->info_out = 0;
    t->resources.reset(pdfp_res_memo_new());
    frame_copies_build(doc, &t->framed);
    structure_marks_build(doc, &t->structure);
    t->form_of.resize(static_cast<size_t>(std::max(doc->pages.count, 0)));
    for (size_t i = 0; i < t->form_of.size(); ++i) t->form_of[i] = form_obj(static_cast<int64_t>(i));
    name_pages_and_catalog(doc, t);
    list_page_resources(doc, t);
    list_content_encodings(doc, t);
    list_structure(doc, t);
    close_table(doc, t);
}

copy_source copy_source_of(const pdfp_doc *doc, const pdfp_obj *o) {
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

pdfp_owned<char> page_resources_text(const pdfp_doc *doc, const pdfp_obj *page, pdfp_res_memo *memo) {
    const unsigned char *buf;
    int32_t end;
    // For a file object this is the file from its first byte to the end of
    // the page's text region; for an object-stream object, its own text.
    if (obj_text_region(doc->data, doc->size, page, &buf, &end) < 0) return nullptr;
    return pdfp_owned<char>(
        pdfp_page_resources_dict_deep(doc->data, doc->size, &doc->objs, buf, end, RESOURCES_DEPTH, memo));
}

bool copies_stream(const pdfp_obj *obj) { return obj && !obj->in_objstm && pdfp_obj_has_stream(obj); }

int copy_turn_of(const copy_table *t, size_t k) {
    auto it = t->framed.turn_of_entry.find(k);
    return it == t->framed.turn_of_entry.end() ? 0 : it->second;
}

const frame_map *copy_annot_map(const copy_table *t, size_t k) {
    if (t->framed.annots.empty() || copy_turn_of(t, k) != 0) return nullptr;
    auto it = t->framed.annots.find(t->nums[k]);
    return it == t->framed.annots.end() ? nullptr : it->second;
}

bool annot_turned_appearances(const frame_map *m, const unsigned char *p, int64_t n, int32_t *as, int32_t *ae) {
    int32_t len = static_cast<int32_t>(n);
    return m && m->turn != 0 && !annot_no_rotate(p, len) && dict_value(p, 0, len, "AP", as, ae);
}

std::vector<std::pair<int32_t, int32_t>> inline_annots(const unsigned char *b, int32_t vs, int32_t ve) {
    std::vector<std::pair<int32_t, int32_t>> found;
    array_elements(b, vs, ve, [&](int32_t s, int32_t e) {
        if (b[s] == '<' && s + 1 < e && b[s + 1] == '<') found.emplace_back(s, e);
    });
    return found;
}
