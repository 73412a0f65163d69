// The page tree: walking it into the page list, and what a page inherits
// (box and resources through /Parent, rotation down the walk).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "load_steps.h"

namespace {

constexpr int BOX_DEPTH = 32;
constexpr int32_t EXTRA_CHILD_ROOM = 4096;

int32_t reduce_rotation(int32_t v) { return ((v % 360) + 360) % 360; }

// Number written after the first /Parent of [start, end), or -1.
int32_t parent_number(const unsigned char *buf, int32_t start, int32_t end) {
    int32_t k = find_name(buf, end, start, end, "Parent");
    if (k < 0) return -1;
    int32_t p = skip_ws(buf, name_end(k, "Parent"), end);
    int32_t v = parse_int_at(buf, end, &p);
    return v > 0 ? v : -1;
}

// A box number: optional sign, digits, optional fraction, built in doubles.
double read_box_number(const unsigned char *buf, int32_t end, int32_t *pos) {
    int32_t p = *pos;
    bool neg = false;
    if (buf[p] == '+' || buf[p] == '-') neg = buf[p++] == '-';
    double v = 0;
    while (p < end && is_digit(buf[p])) v = v * 10 + (buf[p++] - '0');
    if (p < end && buf[p] == '.') {
        ++p;
        double s = 0.1;
        for (; p < end && is_digit(buf[p]); ++p, s *= 0.1) v += (buf[p] - '0') * s;
    }
    *pos = p;
    return neg ? -v : v;
}

// Reads four numbers of the array at "[" p; true when they form a usable
// box: one with an area. A rectangle may name any two opposite corners
// ([700 0 600 792] is 100 wide), so out is normalised to lower left, upper
// right.
bool read_box(const unsigned char *buf, int32_t end, int32_t p, double out[4]) {
    int n = 0;
    p = skip_ws(buf, p + 1, end);
    while (p < end && n < 4) {
        unsigned char c = buf[p];
        if (c == ']') return false;
        if (c == '+' || c == '-' || c == '.' || is_digit(c)) {
            out[n++] = read_box_number(buf, end, &p);
            p = skip_ws(buf, p, end);
        } else {
            ++p;
        }
    }
    if (n != 4) return false;
    double x0 = std::min(out[0], out[2]), y0 = std::min(out[1], out[3]);
    double x1 = std::max(out[0], out[2]), y1 = std::max(out[1], out[3]);
    out[0] = x0;
    out[1] = y0;
    out[2] = x1;
    out[3] = y1;
    return x1 - x0 > 0 && y1 - y0 > 0 && std::isfinite(x1 - x0) && std::isfinite(y1 - y0);
}

// Child references of the /Kids array whose "[" is at p.
int read_kids(const unsigned char *buf, int32_t end, int32_t p, std::vector<int32_t> *kids, size_t room) {
    for (++p; p < end && buf[p] != ']';) {
        unsigned char c = buf[p];
        if (c == '<' && p + 1 < end && buf[p + 1] == '<') return WALK_INLINE_KIDS;
        if (!is_digit(c)) {
            ++p;
            continue;
        }
        int32_t v = parse_int_at(buf, end, &p);
        if (v > 0 && kids->size() < room) kids->push_back(v);
        p = skip_ref_rest(buf, p, end);
    }
    return 0;
}

// The box array at p, or the array object that "N G R" at p names: linearizers
// push inherited boxes down to the pages as shared indirect arrays.
bool box_value(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const unsigned char *buf,
               int32_t p, int32_t end, double v[4]) {
    if (buf[p] == '[') return read_box(buf, end, p, v);
    if (!is_digit(buf[p])) return false;
    int32_t num = parse_int_at(buf, end, &p);
    p = skip_ws(buf, p, end);
    if (p >= end || !is_digit(buf[p])) return false;
    parse_int_at(buf, end, &p);
    p = skip_ws(buf, p, end);
    if (p >= end || buf[p] != 'R') return false;
    const pdfp_obj *o = num > 0 ? pdfp_obj_find(objs, num) : nullptr;
    if (!o || o->has_stream) return false;
    if (o->in_objstm) {
        int32_t q = skip_ws(o->text, 0, o->text_len);
        return q < o->text_len && o->text[q] == '[' && read_box(o->text, o->text_len, q, v);
    }
    if (o->endobj_pos <= o->hdr_pos) return false;
    int32_t q = obj_value_start(data, len, o->hdr_pos);
    return q >= 0 && q < o->endobj_pos && data[q] == '[' && read_box(data, o->endobj_pos, q, v);
}

// Offset of the "[" of the node's /Kids array, or -1.
int32_t kids_array(const unsigned char *buf, int32_t start, int32_t end) {
    for (int32_t k = find_name(buf, end, start, end, "Kids"); k >= 0; k = find_name(buf, end, k + 1, end, "Kids")) {
        int32_t p = skip_ws(buf, name_end(k, "Kids"), end);
        if (p < end && buf[p] == '[') return p;
    }
    return -1;
}

size_t child_room(const pdfp_obj *node) {
    if (node->in_objstm) return static_cast<size_t>(node->text_len / 4) + EXTRA_CHILD_ROOM;
    if (node->endobj_pos > node->hdr_pos)
        return static_cast<size_t>((node->endobj_pos - node->hdr_pos) / 4) + EXTRA_CHILD_ROOM;
    return EXTRA_CHILD_ROOM;
}

// The two boxes a page sees. /CropBox and /MediaBox are inherited each on
// its own: a page with its own /MediaBox still takes the /CropBox of a Pages
// node above it (imposition tools set one there for the whole document).
enum { CROP = 0, MEDIA = 1 };
constexpr const char *BOX_NAMES[2] = {"CropBox", "MediaBox"};

struct page_boxes {
    bool found[2] = {false, false};
    std::array<double, 4> box[2] = {};
};

// The first usable box under this name in the object's own dictionary.
bool own_box(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *obj,
             const char *name, double v[4]) {
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(data, len, obj, &buf, &end);
    if (start < 0) return false;
    for (int32_t k = find_name(buf, end, start, end, name); k >= 0; k = find_name(buf, end, k + 1, end, name)) {
        int32_t p = skip_ws(buf, name_end(k, name), end);
        if (p < end && box_value(data, len, objs, buf, p, end, v)) return true;
    }
    return false;
}

}  // namespace

// What ancestors hand down, by (object number, depth left): the pages of one
// node share it, and reading a node with a /Kids of 100,000 pages once per
// page made the walk quadratic.
struct box_memo {
    std::map<std::pair<int32_t, int>, page_boxes> found;
};

namespace {

// Each box from the object itself, else from the nearest of up to depth
// ancestors that holds a usable one.
page_boxes boxes_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *obj,
                      int depth, box_memo *memo) {
    page_boxes b;
    for (int i : {CROP, MEDIA}) b.found[i] = own_box(data, len, objs, obj, BOX_NAMES[i], b.box[i].data());
    if ((b.found[CROP] && b.found[MEDIA]) || depth <= 0) return b;
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(data, len, obj, &buf, &end);
    int32_t parent = start < 0 ? -1 : parent_number(buf, start, end);
    const pdfp_obj *up = parent < 0 ? nullptr : pdfp_obj_find(objs, parent);
    if (!up) return b;
    auto key = std::make_pair(parent, depth - 1);
    auto it = memo->found.find(key);
    if (it == memo->found.end())
        it = memo->found.emplace(key, boxes_deep(data, len, objs, up, depth - 1, memo)).first;
    for (int i : {CROP, MEDIA}) {
        if (b.found[i] || !it->second.found[i]) continue;
        b.found[i] = true;
        b.box[i] = it->second.box[i];
    }
    return b;
}

std::array<double, 4> normalised(const std::array<double, 4> &r) {
    return {std::min(r[0], r[2]), std::min(r[1], r[3]), std::max(r[0], r[2]), std::max(r[1], r[3])};
}

// The area a viewer shows: the CropBox clipped to the MediaBox. A box found
// alone is taken as read; a clip that leaves nothing shows the MediaBox.
bool visible_box(const page_boxes &b, double v[4]) {
    if (!b.found[CROP] && !b.found[MEDIA]) return false;
    std::array<double, 4> r = b.box[b.found[CROP] ? CROP : MEDIA];
    if (b.found[CROP] && b.found[MEDIA]) {
        std::array<double, 4> c = normalised(b.box[CROP]), m = normalised(b.box[MEDIA]);
        r = {std::max(c[0], m[0]), std::max(c[1], m[1]), std::min(c[2], m[2]), std::min(c[3], m[3])};
        if (!(r[2] > r[0] && r[3] > r[1])) r = m;
    }
    std::memcpy(v, r.data(), sizeof(double) * 4);
    return true;
}

// Whether a box encloses an area a page can be drawn on.
bool box_has_area(const pdfp_pageinfo &p) {
    double w = p.box_urx - p.box_llx, h = p.box_ury - p.box_lly;
    return w > 0 && h > 0 && std::isfinite(w) && std::isfinite(h);
}

void append_page(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                 int32_t parent, int32_t rot, pdfp_pagevec *pages, box_memo *memo) {
    pdfp_pageinfo info{};
    info.obj_num = page->num;
    info.parent_num = parent;
    info.rotate = reduce_rotation(rot);
    obj_box_deep(data, len, objs, page, &info.box_llx, &info.box_lly, &info.box_urx, &info.box_ury, BOX_DEPTH,
                 memo);
    // No box, or none with an area: viewers show such a page as US Letter,
    // so the page is kept at that size rather than losing the document.
    if (!box_has_area(info)) {
        info.box_llx = info.box_lly = 0;
        info.box_urx = PDFP_DEFAULT_PAGE_WIDTH;
        info.box_ury = PDFP_DEFAULT_PAGE_HEIGHT;
        info.box_default = 1;
    }
    pagevec_push(pages, &info);
}

// Whether the dictionary [start, end) has a /Kids entry of its own.
bool has_own_kids(const unsigned char *buf, int32_t start, int32_t end) {
    return find_name_top(buf, end, start, end, "Kids") >= 0;
}

}  // namespace

int node_kids(const unsigned char *data, int32_t len, const pdfp_obj *node, std::vector<int32_t> *kids) {
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(data, len, node, &buf, &end);
    if (start < 0 || end <= start) return 0;
    int32_t p = kids_array(buf, start, end);
    if (p < 0 || skip_ws(buf, p + 1, end) >= end) return 0;
    return read_kids(buf, end, p, kids, child_room(node));
}

int tree_node_kind(const unsigned char *data, int32_t len, const pdfp_obj *node, bool from_kids) {
    int t = obj_type(data, len, node);
    if (t != OBJ_OTHER) return t;
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(data, len, node, &buf, &end);
    if (start < 0) return OBJ_OTHER;
    start = skip_ws(buf, start, end);
    if (start + 1 >= end || buf[start] != '<' || buf[start + 1] != '<') return OBJ_OTHER;
    if (has_own_kids(buf, start, end)) return OBJ_PAGES;
    // A stream is content or an image, never a page.
    return from_kids && !node->has_stream ? OBJ_PAGE : OBJ_OTHER;
}

namespace {

// What one walk remembers: the boxes ancestors hand down, and the kind of
// every node listed in /Kids (a page listed 100,000 times is read once).
struct walk_memo {
    box_memo boxes;
    std::unordered_map<int32_t, int> kid_kinds;
};

int kid_kind(const unsigned char *data, int32_t len, const pdfp_obj *kid, walk_memo *memo) {
    auto it = memo->kid_kinds.find(kid->num);
    if (it == memo->kid_kinds.end()) it = memo->kid_kinds.emplace(kid->num, tree_node_kind(data, len, kid, true)).first;
    return it->second;
}

int32_t walk(const unsigned char *data, int32_t len, const pdfp_objvec *objs, int32_t node_num,
             int32_t max_num, pdfp_pagevec *pages, unsigned char *visited, int32_t rot, int depth,
             walk_memo *memo) {
    const pdfp_obj *node = pdfp_obj_find(objs, node_num);
    if (!node) return WALK_BROKEN;
    int t = tree_node_kind(data, len, node, false);
    if (t == OBJ_PAGE) {
        append_page(data, len, objs, node, -1, rot, pages, &memo->boxes);
        return 1;
    }
    if (t != OBJ_PAGES) return WALK_BROKEN;
    // A tree this deep is hostile; recursing further could exhaust the stack.
    if (depth > PDFP_MAX_TREE_DEPTH) return WALK_BROKEN;
    if (max_num >= 0 && node_num >= 0 && node_num <= max_num) {
        if (visited[node_num]) return WALK_BROKEN;
        visited[node_num] = 1;
    }
    std::vector<int32_t> kids;
    if (node_kids(data, len, node, &kids) == WALK_INLINE_KIDS) return WALK_INLINE_KIDS;
    if (kids.empty()) return 0;
    int32_t own = obj_rotate_own(data, len, node);
    int32_t node_rot = own >= 0 ? own : rot;
    for (int32_t kid : kids) {
        const pdfp_obj *child = pdfp_obj_find(objs, kid);
        if (!child) return WALK_BROKEN;
        int ct = kid_kind(data, len, child, memo);
        if (ct == OBJ_PAGE) {
            append_page(data, len, objs, child, node_num, node_rot, pages, &memo->boxes);
        } else if (ct == OBJ_PAGES) {
            // An inline dictionary below the root counts as a broken tree.
            if (walk(data, len, objs, kid, max_num, pages, visited, node_rot, depth + 1, memo) < 0) return WALK_BROKEN;
        } else {
            return WALK_BROKEN;
        }
    }
    return pages->count;
}

// Where a resource search starts: after the last "endobj" of the text, so
// that for a file-body object only its own header and dictionary are seen.
int32_t resource_window(const unsigned char *text, int32_t text_len) {
    for (int32_t i = text_len - 6; i >= 0; --i)
        if (text[i] == 'e' && std::memcmp(text + i, "endobj", 6) == 0) return kw_end(i, "endobj");
    return 0;
}

}  // namespace

int32_t resolve_pages(const unsigned char *data, int32_t len, const pdfp_objvec *objs, int32_t node,
                      int32_t max_num, pdfp_pagevec *pages, unsigned char *visited, int32_t inherited_rot) {
    walk_memo memo;
    return walk(data, len, objs, node, max_num, pages, visited, inherited_rot, 1, &memo);
}

int obj_box_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *obj,
                 double *llx, double *lly, double *urx, double *ury, int depth, box_memo *memo) {
    box_memo own;
    double v[4];
    if (!obj || !visible_box(boxes_deep(data, len, objs, obj, depth, memo ? memo : &own), v)) return 0;
    *llx = v[0];
    *lly = v[1];
    *urx = v[2];
    *ury = v[3];
    return 1;
}

int32_t obj_rotate_own(const unsigned char *data, int32_t len, const pdfp_obj *obj) {
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(data, len, obj, &buf, &end);
    if (start < 0 || end <= start) return -1;
    int32_t k = find_name(buf, end, start, end, "Rotate");
    if (k < 0) return -1;
    int32_t p = skip_ws(buf, name_end(k, "Rotate"), end);
    int32_t before = p;
    int32_t v = parse_int_at(buf, end, &p);
    if (p == before) return -1;  // no integer (a "-1" reads fine)
    return reduce_rotation(v);
}

char *page_resources_dict(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const unsigned char *text, int32_t text_len) {
    if (!text || text_len <= 0) return nullptr;
    int32_t win = resource_window(text, text_len);
    int32_t k = find_name(text, text_len, win, text_len, "Resources");
    if (k < 0) return nullptr;
    int32_t p = skip_ws(text, name_end(k, "Resources"), text_len);
    if (p >= text_len) return nullptr;
    if (text[p] == '<' && p + 1 < text_len && text[p + 1] == '<') return dict_text_at(text, text_len, p);
    if (!is_digit(text[p])) return nullptr;
    int32_t v = parse_int_at(text, text_len, &p);
    if (v <= 0) return nullptr;
    const pdfp_obj *r = pdfp_obj_find(objs, v);
    if (!r) return nullptr;
    if (r->in_objstm) {
        if (!r->text) return nullptr;
        for (int32_t i = 0; i < r->text_len; ++i)
            if (r->text[i] == '<') return dict_text_at(r->text, r->text_len, i);
        return nullptr;
    }
    if (r->dict_pos < 0) return nullptr;
    const unsigned char *buf;
    int32_t end;
    obj_text_region(data, len, r, &buf, &end);
    return dict_text_at(data, end, r->dict_pos);
}

// Resources that ancestors hand down, by (object number, depth left), as
// long as they fit the byte budget: the pages of one node share them, and
// reading a node with a /Kids of 100,000 pages once per page was quadratic.
struct pdfp_res_memo {
    std::map<std::pair<int32_t, int>, std::pair<bool, std::string>> found;
    size_t budget = 64u << 20;
};

pdfp_res_memo *pdfp_res_memo_new() { return new (std::nothrow) pdfp_res_memo; }

void pdfp_res_memo_free(pdfp_res_memo *memo) { delete memo; }

char *pdfp_page_resources_dict_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                                    const unsigned char *text, int32_t text_len, int depth,
                                    pdfp_res_memo *memo) {
    char *r = page_resources_dict(data, len, objs, text, text_len);
    if (r || depth <= 0 || !text) return r;
    int32_t parent = parent_number(text, resource_window(text, text_len), text_len);
    const pdfp_obj *o = parent < 0 ? nullptr : pdfp_obj_find(objs, parent);
    if (!o || (!o->in_objstm && o->dict_pos < 0)) return nullptr;
    const unsigned char *up = o->text;
    int32_t up_len = o->text_len;
    if (!o->in_objstm) {
        const unsigned char *buf;
        obj_text_region(data, len, o, &buf, &up_len);
        up = data;
    }
    if (!memo) return pdfp_page_resources_dict_deep(data, len, objs, up, up_len, depth - 1, nullptr);
    auto key = std::make_pair(parent, depth - 1);
    auto it = memo->found.find(key);
    if (it == memo->found.end()) {
        r = pdfp_page_resources_dict_deep(data, len, objs, up, up_len, depth - 1, memo);
        size_t n = r ? std::strlen(r) : 0;
        if (n + 64 > memo->budget) return r;
        memo->budget -= n + 64;
        it = memo->found.emplace(key, std::make_pair(r != nullptr, std::string(r ? r : "", n))).first;
        std::free(r);
    }
    if (!it->second.first) return nullptr;
    const std::string &t = it->second.second;
    char *copy = static_cast<char *>(std::malloc(t.size() + 1));
    if (copy) std::memcpy(copy, t.c_str(), t.size() + 1);
    return copy;
}
