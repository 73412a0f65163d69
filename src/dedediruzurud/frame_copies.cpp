// The copy table's part for turned and shifted pages. Annotations of such
// a page are written with their coordinates in the new page's frame, and
// their appearances turn with the page: each appearance object (the /AP
// dictionary, a dictionary of states, the form stream) that an annotation
// on a turned page uses gets a copy of its own for that turn, so that one
// shared by pages of different turns is copied once per turn and the
// annotations of unturned pages keep the plain copy. Everything else goes
// through the plain table.
#include <algorithm>
#include <cstring>

#include "frame_map.h"
#include "pdf_parse/scan.h"
#include "writer_parts.h"

namespace {

int64_t turned_key(int32_t num, int turn) { return static_cast<int64_t>(num) * 4 + turn; }

// The object a value [vs, ve) names when it is exactly one reference, else null.
const pdfp_obj *named_object(const pdfp_doc *doc, const unsigned char *b, int32_t vs, int32_t ve) {
    int32_t start, num, after;
    if (!pdfp_next_ref(b, ve, vs, true, &start, &num, &after) || start != vs || after != ve) return nullptr;
    return pdfp_obj_find(&doc->objs, num);
}

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
    if (const pdfp_obj *array = named_object(doc, b, vs, ve)) {
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

// The turn entry k of the table was copied for, or 0 for a plain copy.
int turn_of(const copy_table *t, size_t k) {
    auto it = t->framed.turn_of_entry.find(k);
    return it == t->framed.turn_of_entry.end() ? 0 : it->second;
}

// The map entry k is written with when it is an annotation of a moved page.
const frame_map *annot_map_of(const copy_table *t, size_t k) {
    if (t->framed.annots.empty() || turn_of(t, k) != 0) return nullptr;
    auto it = t->framed.annots.find(t->nums[k]);
    return it == t->framed.annots.end() ? nullptr : it->second;
}

// Lists num's copy for the turn, unless it has one.
void list_turned(const pdfp_doc *doc, copy_table *t, int32_t num, int turn) {
    if (num <= 0 || num > PDFP_MAX_OBJ_NUM) return;
    frame_copies &fc = t->framed;
    if (fc.turned_out.count(turned_key(num, turn))) return;
    const pdfp_obj *o = pdfp_obj_find(&doc->objs, num);
    // A page or a missing object is what the plain table makes of it.
    if (!o || obj_type(doc->data, doc->size, o) != OBJ_OTHER) {
        copy_table_list(doc, t, num);
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
            copy_table_list(doc, t, num);
    }
}

// Writes [p, p + n) through the table; the references in [ts, te) that
// have a copy for the turn name that copy.
void remap_split(const copy_table *t, const unsigned char *p, int64_t n, int32_t ts, int32_t te, int turn,
                 out_buf *o) {
    int32_t copied = 0, at = ts, start, num;
    while (pdfp_next_ref(p, te, at, true, &start, &num, &at)) {
        auto it = t->framed.turned_out.find(turned_key(num, turn));
        if (it == t->framed.turned_out.end()) continue;
        copy_remap(t, p + copied, start - copied, o);
        out_ref(o, it->second);
        copied = at;
    }
    copy_remap(t, p + copied, n - copied, o);
}

// Where an annotation's appearances stand in its text, and the turn they
// take: false when they do not turn (no /AP, an unturned page, NoRotate).
bool appearance_range(const frame_map *m, const unsigned char *p, int64_t n, int32_t *as, int32_t *ae) {
    int32_t len = static_cast<int32_t>(n);
    return m && m->turn != 0 && !annot_no_rotate(p, len) && dict_value(p, 0, len, "AP", as, ae);
}

// Lists the references of an annotation's text written with map m: its
// appearances for the page's turn. False when they do not turn.
bool list_annot(const pdfp_doc *doc, copy_table *t, const frame_map *m, const unsigned char *p, int64_t n) {
    int32_t as, ae;
    if (!appearance_range(m, p, n, &as, &ae)) return false;
    list_split(doc, t, p, n, as, ae, m->turn);
    return true;
}

// Writes an annotation's text with map m: coordinates mapped, appearances
// named by their copies for the page's turn.
void write_annot(const copy_table *t, const frame_map *m, const unsigned char *p, int64_t n, out_buf *o) {
    std::string mapped;
    if (frame_map_annot(*m, p, static_cast<int32_t>(n), &mapped)) {
        p = reinterpret_cast<const unsigned char *>(mapped.data());
        n = static_cast<int64_t>(mapped.size());
    }
    int32_t as, ae;
    if (appearance_range(m, p, n, &as, &ae))
        remap_split(t, p, n, as, ae, m->turn, o);
    else
        copy_remap(t, p, n, o);
}

// The inline annotation dictionaries of an /Annots array [vs, ve): calls
// each(start, end) for each, in order.
template <typename Each>
void inline_annots(const unsigned char *b, int32_t vs, int32_t ve, Each each) {
    array_elements(b, vs, ve, [&](int32_t s, int32_t e) {
        if (b[s] == '<' && s + 1 < e && b[s + 1] == '<') each(s, e);
    });
}

}  // namespace

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

bool frame_list_refs(const pdfp_doc *doc, copy_table *t, size_t k, const unsigned char *p, int64_t n) {
    if (t->framed.frames.maps.empty()) return false;
    if (int turn = turn_of(t, k)) {
        // A turned appearance: a dictionary leads on to further appearances
        // of the same turn; a form's resources are the plain ones.
        const pdfp_obj *o = pdfp_obj_find(&doc->objs, t->nums[k]);
        bool form = o && !o->in_objstm && pdfp_obj_has_stream(o);
        list_split(doc, t, p, n, 0, form ? 0 : static_cast<int32_t>(n), turn);
        return true;
    }
    return list_annot(doc, t, annot_map_of(t, k), p, n);
}

bool frame_copy_text(const pdfp_doc *doc, const copy_table *t, size_t k, const unsigned char *p, int64_t n,
                     out_buf *o) {
    if (t->framed.frames.maps.empty()) return false;
    std::string mapped;
    if (int turn = turn_of(t, k)) {
        const pdfp_obj *obj = pdfp_obj_find(&doc->objs, t->nums[k]);
        if (obj && !obj->in_objstm && pdfp_obj_has_stream(obj)) {
            // The form: its matrix takes the turn.
            if (frame_map_matrix(turn, p, static_cast<int32_t>(n), &mapped))
                copy_remap(t, reinterpret_cast<const unsigned char *>(mapped.data()),
                           static_cast<int64_t>(mapped.size()), o);
            else
                copy_remap(t, p, n, o);
        } else {
            remap_split(t, p, n, 0, static_cast<int32_t>(n), turn, o);
        }
        return true;
    }
    const frame_map *m = annot_map_of(t, k);
    if (!m) return false;
    write_annot(t, m, p, n, o);
    return true;
}

bool frame_list_annots_value(const pdfp_doc *doc, copy_table *t, int32_t page, const unsigned char *b, int32_t vs,
                             int32_t ve) {
    const frame_map *m = page_frames_find(t->framed.frames, page);
    if (!m) return false;
    int32_t listed = vs;
    inline_annots(b, vs, ve, [&](int32_t s, int32_t e) {
        int32_t at = listed, start, num;
        while (pdfp_next_ref(b, s, at, true, &start, &num, &at)) copy_table_list(doc, t, num);
        if (!list_annot(doc, t, m, b + s, e - s)) {
            for (at = s; pdfp_next_ref(b, e, at, true, &start, &num, &at);) copy_table_list(doc, t, num);
        }
        listed = e;
    });
    int32_t at = listed, start, num;
    while (pdfp_next_ref(b, ve, at, true, &start, &num, &at)) copy_table_list(doc, t, num);
    return true;
}

bool frame_copy_annots_value(const copy_table *t, int32_t page, const unsigned char *b, int32_t vs, int32_t ve,
                             out_buf *o) {
    const frame_map *m = page_frames_find(t->framed.frames, page);
    if (!m) return false;
    int32_t copied = vs;
    inline_annots(b, vs, ve, [&](int32_t s, int32_t e) {
        copy_remap(t, b + copied, s - copied, o);
        write_annot(t, m, b + s, e - s, o);
        copied = e;
    });
    copy_remap(t, b + copied, ve - copied, o);
    return true;
}
