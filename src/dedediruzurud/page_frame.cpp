// The page frame and the matrix of the form that wraps a page.
#include "page_frame.h"

#include <algorithm>
#include <cmath>
#include <utility>

bool page_frame_of(const pdfp_doc *doc, const pdfp_pageinfo *page, const pdfp_obj *obj, page_frame *frame) {
    // The page's own /Rotate wins over the one inherited from the tree;
    // both are in 0..359 already.
    int32_t own = obj_rotate_own(doc->data, doc->size, obj);
    frame->rot = own >= 0 ? own : page->rotate;
    double bw = page->box_urx - page->box_llx;
    double bh = page->box_ury - page->box_lly;
    bool turned = frame->rot == 90 || frame->rot == 270;
    frame->w = turned ? bh : bw;
    frame->h = turned ? bw : bh;
    return frame->w > 0 && frame->h > 0 && std::isfinite(frame->w) && std::isfinite(frame->h);
}

// Format note: for a box [a b c d] the matrices map the box onto [0 0 W H]:
// 90 sends (x, y) to (y - b, c - x), a quarter turn clockwise; 180 to
// (c - x, d - y); 270 to (d - y, x - a). Other rotations (not multiples of
// 90) are not turned at all, only moved to the origin.
frame_map frame_map_of(const pdfp_pageinfo *page, int rot) {
    double a = page->box_llx, b = page->box_lly, c = page->box_urx, d = page->box_ury;
    frame_map m;
    if (rot == 90)
        m = {0, -1, 1, 0, -b, c, 1};
    else if (rot == 180)
        m = {-1, 0, 0, -1, c, d, 2};
    else if (rot == 270)
        m = {0, 1, -1, 0, d, -a, 3};
    else
        m = {1, 0, 0, 1, -a, -b, 0};
    return m;
}

bool frame_map_is_identity(const frame_map &m) { return m.turn == 0 && m.e == 0 && m.f == 0; }

std::string frame_map_text(const frame_map &m) {
    std::string s = "[";
    for (double v : {m.a, m.b, m.c, m.d, m.e, m.f}) {
        if (s.size() > 1) s += ' ';
        s += pdfp_fmt_num(v);
    }
    return s + "]";
}

void page_frames_build(const pdfp_doc *doc, page_frames *frames) {
    frames->maps.clear();
    frames->by_obj.clear();
    std::vector<std::pair<int32_t, frame_map>> found;
    bool any = false;
    for (int32_t i = 0; i < doc->pages.count; ++i) {
        const pdfp_pageinfo *page = &doc->pages.items[i];
        const pdfp_obj *obj = pdfp_obj_find(&doc->objs, page->obj_num);
        page_frame frame;
        if (!obj || !page_frame_of(doc, page, obj, &frame)) continue;
        found.emplace_back(page->obj_num, frame_map_of(page, frame.rot));
        any = any || !frame_map_is_identity(found.back().second);
    }
    if (!any) return;  // the common case costs one pass over the page list
    frames->by_obj.assign(static_cast<size_t>(std::max(doc->max_num, 0)) + 1, 0);
    for (const auto &[num, m] : found) {
        if (num <= 0 || static_cast<size_t>(num) >= frames->by_obj.size()) continue;
        int32_t &slot = frames->by_obj[static_cast<size_t>(num)];
        if (slot != 0) continue;  // a page listed twice: references name its first occurrence
        if (frame_map_is_identity(m)) {
            slot = -1;
        } else {
            frames->maps.push_back(m);
            slot = static_cast<int32_t>(frames->maps.size());
        }
    }
}

const frame_map *page_frames_find(const page_frames &frames, int32_t num) {
    if (num <= 0 || static_cast<size_t>(num) >= frames.by_obj.size()) return nullptr;
    int32_t k = frames.by_obj[static_cast<size_t>(num)];
    return k > 0 ? &frames.maps[static_cast<size_t>(k - 1)] : nullptr;
}
