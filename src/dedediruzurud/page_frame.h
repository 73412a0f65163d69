// The page frame: how an input page stands on its new upright page. This
// unit owns the page's geometry - the effective rotation, the size of the
// new page and the matrix of the form that wraps the page (wrap.cpp writes
// it) - so that everything else that moves with the page (frame_map.cpp)
// uses the same numbers. It knows nothing of the rest of the writer.
//
// Results: bool for yes/no and for "could be done"; lookups return null
// when there is nothing.
#ifndef PAGE_FRAME_H
#define PAGE_FRAME_H

#include <cstdint>
#include <string>
#include <vector>

#include "pdf_parse.h"

// The new page's rotation and frame.
struct page_frame {
    int rot;   // effective rotation, 0..359: the page's own /Rotate, else the inherited one
    double w;  // width of the new page as seen
    double h;  // height
};

// Rotation and frame of a page: false when the frame is not positive.
bool page_frame_of(const pdfp_doc *doc, const pdfp_pageinfo *page, const pdfp_obj *obj, page_frame *frame);

// The affine map from an input page's user space to its new page:
// x' = a x + c y + e, y' = b x + d y + f (the PDF matrix [a b c d e f]).
struct frame_map {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    int turn = 0;  // quarter turns clockwise, 0..3 (0 for a rotation that is not a multiple of 90)
};

// The matrix of the form that wraps a page with box [llx lly urx ury] and
// effective rotation rot (0..359): it maps the box onto [0 0 W H].
frame_map frame_map_of(const pdfp_pageinfo *page, int rot);
// True when the map moves nothing.
bool frame_map_is_identity(const frame_map &m);
// The map as a PDF array "[a b c d e f]", numbers through pdfp_fmt_num.
std::string frame_map_text(const frame_map &m);

// The map of every page by input page object number, for the pages whose
// frame differs from their user space (the first occurrence of a page
// listed twice). Pages that map to themselves are not listed.
struct page_frames {
    std::vector<frame_map> maps;  // one per listed page
    std::vector<int32_t> by_obj;  // by input object number: 1 + index into maps, 0 when not listed
};
// Builds the table over the document's page list (pages whose frame is not
// positive are left out: they are not written).
void page_frames_build(const pdfp_doc *doc, page_frames *frames);
// The map of the input page object num, or null when it needs none.
const frame_map *page_frames_find(const page_frames &frames, int32_t num);

#endif
