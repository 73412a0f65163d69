// Page wrapping: every input page becomes an upright page object that draws
// one form XObject, and the form holds the page's decoded content, its
// resources and a matrix that turns the page's box into the frame
// [0 0 W H] of the new page as a viewer showed it (rotation applied, box
// moved to the origin).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "writer_parts.h"

namespace {

struct free_deleter {
    void operator()(void *p) const { std::free(p); }
};

}  // namespace

bool page_frame_of(const pdfp_doc *doc, const pdfp_pageinfo *page, const pdfp_obj *obj,
                   page_frame *frame) {
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
std::string form_header(const pdfp_pageinfo *page, int rot, int32_t length,
                        const std::string &resources) {
    double a = page->box_llx, b = page->box_lly, c = page->box_urx, d = page->box_ury;
    std::string h = "<< /Type /XObject /Subtype /Form /BBox [" + fmt_num(a) + " " + fmt_num(b) + " " +
                    fmt_num(c) + " " + fmt_num(d) + "]";
    if (rot == 90)
        h += " /Matrix [0 -1 1 0 " + fmt_num(-b) + " " + fmt_num(c) + "]";
    else if (rot == 180)
        h += " /Matrix [-1 0 0 -1 " + fmt_num(c) + " " + fmt_num(d) + "]";
    else if (rot == 270)
        h += " /Matrix [0 1 -1 0 " + fmt_num(d) + " " + fmt_num(-a) + "]";
    else if (a != 0 || b != 0)
        h += " /Matrix [1 0 0 1 " + fmt_num(-a) + " " + fmt_num(-b) + "]";
    h += " /Length " + fmt_num(length);
    if (!resources.empty()) h += " /Resources " + resources;
    h += " >> stream\n";
    return h;
}

namespace {

// The page object carries the input page's own annotations, transparency
// group, actions, transition, duration and tab order.
void append_page_object(const pdfp_doc *doc, const pdfp_obj *obj, const copy_table *table, out_buf *o, int32_t i,
                        int64_t font, const page_frame *frame) {
    begin_object(o, page_obj(i));
    out_str(o, "<< /Type /Page /Parent ");
    out_ref(o, PAGE_TREE_OBJ);
    out_str(o, " /MediaBox [0 0 ");
    out_num(o, frame->w);
    out_str(o, " ");
    out_num(o, frame->h);
    out_str(o, "] /Resources <</Font <</PN ");
    out_ref(o, font);
    out_str(o, ">> /XObject <</Fm1 ");
    out_ref(o, form_obj(i));
    out_str(o, ">>>> /Contents ");
    out_ref(o, content_obj(i));
    append_carried(doc, table, obj, CARRY_PAGE, o);
    out_str(o, " >>\n");
    end_object(o);
}

}  // namespace

bool wrap_page(const pdfp_doc *doc, int32_t i, int64_t font, const copy_table *table, out_buf *o,
               page_frame *frame) {
    const pdfp_pageinfo *page = &doc->pages.items[i];
    const pdfp_obj *obj = pdfp_obj_find(&doc->objs, page->obj_num);
    if (!obj || !page_frame_of(doc, page, obj, frame)) return false;
    std::string resources = page_resources_remapped(doc, obj, table);
    unsigned char *content = nullptr;
    int32_t length = 0;
    if (!pdfp_get_page_content(doc->data, doc->size, &doc->objs, obj, &content, &length)) return false;
    std::unique_ptr<unsigned char, free_deleter> hold(content);
    if (!content) length = 0;  // a page without content (/Contents absent, null or []) is blank

    append_page_object(doc, obj, table, o, i, font, frame);
    begin_stream_object(o, form_obj(i));
    out_str(o, form_header(page, frame->rot, length, resources));
    out_bytes(o, content, static_cast<uint64_t>(length));
    out_str(o, "\nendstream\n");
    end_object(o);
    return true;
}
