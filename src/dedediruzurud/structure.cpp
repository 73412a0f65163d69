// The tagged structure: one walk of the tree from the catalog's
// /StructTreeRoot down the elements' /K, each object visited once, so that
// a damaged tree (cycles, kids listed twice) costs no more than a sound
// one. What the walk does not understand it leaves as it stands: the
// object is still copied, only its marked content is not given a form.
#include "structure.h"

#include <algorithm>

#include "carried.h"
#include "object_numbers.h"

namespace {

// A value still to be walked: [vs, ve) of b, on the page of index page.
struct pending {
    const unsigned char *b;
    int32_t vs, ve;
    int32_t page;
};

struct walk {
    const pdfp_doc *doc;
    structure_marks *marks;
    std::vector<char> seen;  // by object number
    std::vector<pending> todo;
};

bool opens_dict(const unsigned char *b, int32_t p, int32_t end) { return p + 1 < end && b[p] == '<' && b[p + 1] == '<'; }

// The page index that the /Pg of the dictionary at d names, or page when
// it has none (or names no page).
int32_t own_page(const pdfp_doc *doc, const structure_marks *m, const unsigned char *b, int32_t d, int32_t end,
                 int32_t page) {
    int32_t vs, ve;
    if (!dict_value(b, d, end, "Pg", &vs, &ve)) return page;
    const pdfp_obj *o = obj_named_by(&doc->objs, b, vs, ve);
    if (!o || o->num < 0 || static_cast<size_t>(o->num) >= m->page_index.size()) return page;
    int32_t i = m->page_index[static_cast<size_t>(o->num)];
    return i >= 0 ? i : page;
}

bool has_key(const unsigned char *b, int32_t d, int32_t end, const char *key) {
    int32_t vs, ve;
    return dict_value(b, d, end, key, &vs, &ve);
}

bool type_is(const unsigned char *b, int32_t d, int32_t end, const char *name) {
    int32_t vs, ve;
    return dict_value(b, d, end, "Type", &vs, &ve) && name_is(b, vs, ve, name);
}

// An element (its kids to walk) or a marked-content reference; num is the
// object it is, 0 for a dictionary written inside another.
void visit_dict(walk *w, const unsigned char *b, int32_t d, int32_t end, int32_t page, int32_t num) {
    int32_t dend = object_end(b, d, end);
    if (dend <= d) return;
    page = own_page(w->doc, w->marks, b, d, dend, page);
    if (type_is(b, d, dend, "OBJR")) return;
    if (num > 0) w->marks->page_of[num] = page;
    if (has_key(b, d, dend, "MCID")) return;
    int32_t ks, ke;
    if (dict_value(b, d, dend, "K", &ks, &ke)) w->todo.push_back({b, ks, ke, page});
}

void visit_value(walk *w, const pending &v) {
    const unsigned char *b = v.b;
    int32_t p = skip_ws_comments(b, v.vs, v.ve);
    if (p >= v.ve) return;
    if (b[p] == '[') {
        for (int32_t q = p + 1;;) {
            q = skip_ws_comments(b, q, v.ve);
            if (q >= v.ve || b[q] == ']') return;
            int32_t e = value_end(b, q, v.ve);
            if (e <= q) return;
            w->todo.push_back({b, q, e, v.page});
            q = e;
        }
    }
    if (opens_dict(b, p, v.ve)) {
        visit_dict(w, b, p, v.ve, v.page, 0);
        return;
    }
    const pdfp_obj *o = is_digit(b[p]) ? obj_named_by(&w->doc->objs, b, p, v.ve) : nullptr;
    if (!o || o->num <= 0 || static_cast<size_t>(o->num) >= w->seen.size() || w->seen[static_cast<size_t>(o->num)])
        return;
    w->seen[static_cast<size_t>(o->num)] = 1;
    // Pages are never elements: a /K that names one is damage.
    if (w->marks->page_index[static_cast<size_t>(o->num)] >= 0) return;
    const unsigned char *ob;
    int32_t oend;
    int32_t at = obj_value_at(w->doc->data, w->doc->size, o, &ob, &oend);
    if (at < 0 || at >= oend) return;
    if (ob[at] == '[')
        w->todo.push_back({ob, at, object_end(ob, at, oend), v.page});
    else if (opens_dict(ob, at, oend))
        visit_dict(w, ob, at, oend, v.page, o->num);
}

// Whether the catalog's /MarkInfo says /Marked true.
bool marked(const pdfp_doc *doc, const pdfp_obj *catalog) {
    const unsigned char *b;
    int32_t vs, ve, end;
    if (!obj_dict_value(doc->data, doc->size, catalog, "MarkInfo", &b, &vs, &ve)) return false;
    end = ve;
    if (const pdfp_obj *o = obj_named_by(&doc->objs, b, vs, ve)) {
        vs = obj_value_at(doc->data, doc->size, o, &b, &end);
        if (vs < 0) return false;
    }
    int32_t ms, me;
    return dict_value(b, vs, end, "Marked", &ms, &me) && me - ms == 4 && std::equal(b + ms, b + me, "true");
}

// "<< /Type /MCR /Pg P 0 R /Stm F 0 R /MCID n >>" for MCID n on page i.
std::string mcr_text(int32_t i, int64_t form, int32_t mcid) {
    return "<< /Type /MCR /Pg " + std::to_string(page_obj(i)) + " 0 R /Stm " + std::to_string(form) +
           " 0 R /MCID " + std::to_string(mcid) + " >>";
}

int64_t form_of_page(const std::vector<int64_t> &form_of, int32_t i) {
    return static_cast<size_t>(i) < form_of.size() ? form_of[static_cast<size_t>(i)] : form_obj(i);
}

// The marked-content reference dictionary at [s, e) given /Stm (and /Pg
// when it has none) for its page.
void edit_reference(const structure_marks *m, const unsigned char *p, int32_t s, int32_t e, int32_t page,
                    const std::vector<int64_t> &form_of, std::vector<struct_edit> *edits) {
    if (has_key(p, s, e, "Stm")) return;  // in a form already: it did not move
    bool own = has_key(p, s, e, "Pg");
    int32_t vs, ve;
    if (own && dict_value(p, s, e, "Pg", &vs, &ve)) {
        // Its own page, looked up the way the walk did.
        int32_t at = skip_ws_comments(p, vs, ve), q = at;
        int32_t n = parse_int_at(p, ve, &q);
        page = n > 0 && static_cast<size_t>(n) < m->page_index.size() ? m->page_index[static_cast<size_t>(n)] : -1;
    }
    if (page < 0) return;
    std::string add = " /Stm " + std::to_string(form_of_page(form_of, page)) + " 0 R";
    if (!own) add = " /Pg " + std::to_string(page_obj(page)) + " 0 R" + add;
    edits->push_back({s + 2, s + 2, add});
}

// One kid of an element on page: an integer id becomes a reference.
void edit_kid(const structure_marks *m, const unsigned char *p, int32_t s, int32_t e, int32_t page,
              const std::vector<int64_t> &form_of, std::vector<struct_edit> *edits) {
    if (opens_dict(p, s, e)) {
        int32_t de = object_end(p, s, e);
        if (de > s && has_key(p, s, de, "MCID")) edit_reference(m, p, s, de, page, form_of, edits);
        return;
    }
    // Ids are small; a longer run of digits would wrap.
    constexpr int32_t MAX_ID_DIGITS = 9;
    int32_t q = s;
    int32_t mcid = is_digit(p[s]) && e - s <= MAX_ID_DIGITS ? parse_int_at(p, e, &q) : -1;
    if (page >= 0 && q == e && mcid >= 0) edits->push_back({s, e, mcr_text(page, form_of_page(form_of, page), mcid)});
}

}  // namespace

void structure_marks_build(const pdfp_doc *doc, structure_marks *m) {
    *m = structure_marks{};
    const pdfp_obj *catalog = input_catalog(doc);
    if (!catalog) return;
    const unsigned char *b;
    int32_t vs, ve;
    bool root = obj_dict_value(doc->data, doc->size, catalog, "StructTreeRoot", &b, &vs, &ve);
    m->tagged = marked(doc, catalog);
    if (!root) return;
    const pdfp_obj *r = obj_named_by(&doc->objs, b, vs, ve);
    int32_t end = ve;
    if (r) vs = obj_value_at(doc->data, doc->size, r, &b, &end);
    if (vs < 0 || !opens_dict(b, vs, end)) return;
    m->has_tree = m->tagged = true;
    size_t count = static_cast<size_t>(std::max(doc->max_num, 0)) + 1;
    m->page_index.assign(count, -1);
    for (int32_t i = doc->pages.count - 1; i >= 0; --i) {
        int32_t n = doc->pages.items[i].obj_num;
        if (n > 0 && static_cast<size_t>(n) < count) m->page_index[static_cast<size_t>(n)] = i;
    }
    walk w{doc, m, std::vector<char>(count, 0), {}};
    if (r) w.seen[static_cast<size_t>(r->num)] = 1;
    int32_t ks, ke;
    int32_t rend = object_end(b, vs, end);
    if (rend > vs && dict_value(b, vs, rend, "K", &ks, &ke)) w.todo.push_back({b, ks, ke, -1});
    while (!w.todo.empty()) {
        pending v = w.todo.back();
        w.todo.pop_back();
        visit_value(&w, v);
    }
}

int64_t page_struct_parents(const pdfp_doc *doc, const structure_marks *m, const pdfp_obj *page) {
    const unsigned char *b;
    int32_t vs, ve;
    if (!m->has_tree || !obj_dict_value(doc->data, doc->size, page, "StructParents", &b, &vs, &ve)) return -1;
    int32_t q = vs;
    int32_t v = parse_int_at(b, ve, &q);
    return q == ve && v >= 0 ? v : -1;
}

std::vector<struct_edit> structure_edits(const structure_marks *m, int32_t num, const unsigned char *p, int64_t n,
                                         const std::vector<int64_t> &form_of) {
    std::vector<struct_edit> edits;
    auto it = m->page_of.find(num);
    if (it == m->page_of.end()) return edits;
    int32_t len = static_cast<int32_t>(n), page = it->second;
    int32_t d = skip_ws_comments(p, 0, len);
    int32_t dend = opens_dict(p, d, len) ? object_end(p, d, len) : -1;
    if (dend <= d) return edits;
    if (has_key(p, d, dend, "MCID")) {
        edit_reference(m, p, d, dend, page, form_of, &edits);
        return edits;
    }
    int32_t ks, ke;
    if (!dict_value(p, d, dend, "K", &ks, &ke)) return edits;
    if (p[ks] != '[') {
        edit_kid(m, p, ks, ke, page, form_of, &edits);
        return edits;
    }
    for (int32_t q = ks + 1;;) {
        q = skip_ws_comments(p, q, ke);
        if (q >= ke || p[q] == ']') break;
        int32_t e = value_end(p, q, ke);
        if (e <= q) break;
        edit_kid(m, p, q, e, page, form_of, &edits);
        q = e;
    }
    return edits;
}
