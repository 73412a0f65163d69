// Coordinates on turned and shifted pages. A page whose rotation is not 0,
// or whose box does not start at the origin, is drawn on its new upright
// page through the form matrix of wrap.cpp; whatever else the input placed
// in that page's user space (annotation rectangles and points, the points
// of destinations, the orientation of appearance streams) must move the
// same way to stay over what it marks. These are pure text transforms over
// input PDF text: they read values with the reader's scanners, write
// numbers with fmt_num, and leave everything they do not understand as it
// stands.
#ifndef FRAME_MAP_H
#define FRAME_MAP_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "dedediruzurud_internal.h"

// The affine map from an input page's user space to its new page:
// x' = a x + c y + e, y' = b x + d y + f (the PDF matrix [a b c d e f]).
struct frame_map {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    int turn = 0;  // quarter turns clockwise, 0..3 (0 for a rotation that is not a multiple of 90)
};

// The map of the form that wraps a page with box [llx lly urx ury] and
// effective rotation rot (0..359): the same matrix form_header writes.
frame_map frame_map_of(const pdfp_pageinfo *page, int rot);
// True when the map moves nothing.
bool frame_map_is_identity(const frame_map &m);

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

// The bit of an annotation's /F that keeps it upright on a turned page.
constexpr int32_t ANNOT_NO_ROTATE = 16;

// The annotation dictionary that opens in t[0, n) with its coordinate
// entries mapped: /Rect (the box around its mapped corners; upright
// annotations keep their size with their upper-left corner mapped),
// /QuadPoints, /Vertices, /InkList, /L, /CL and /RD (turned with the
// page), and a widget's /MK /R (the turn the page no longer gives it).
// Entries that are not plain numbers where numbers belong stay as
// they are. Returns false (out untouched) when nothing changed.
bool frame_map_annot(const frame_map &m, const unsigned char *t, int32_t n, std::string *out);
// Whether the annotation dictionary in t[0, n) has the NoRotate flag.
bool annot_no_rotate(const unsigned char *t, int32_t n);

// t[0, n) with every explicit destination "[N G R /Kind ...]" whose page N
// is listed in frames mapped into that page's new frame: /XYZ left top,
// /FitH and /FitBH top, /FitV and /FitBV left (the two swap on a quarter
// turn, a horizontal edge becoming a vertical one), /FitR left bottom right
// top; null stays null. Strings and comments are passed over. Returns
// false (out untouched) when nothing changed.
bool frame_map_dests(const page_frames &frames, const unsigned char *t, int32_t n, std::string *out);

// The stream dictionary that opens in t[0, n) with its /Matrix (identity
// when absent) followed by turn quarter turns clockwise: an appearance
// drawn through it turns with its page. Returns false (out untouched) when
// turn is 0 or the /Matrix present is not six numbers.
bool frame_map_matrix(int turn, const unsigned char *t, int32_t n, std::string *out);

// ---------------------------------------------------------------------------
// The copy table's part (frame_copies.cpp)
// ---------------------------------------------------------------------------

struct copy_table;
struct out_buf;

// What the copy table keeps for pages whose frame moves; all empty when
// no page does.
struct frame_copies {
    page_frames frames;
    // Annotation object number -> the map of the first page whose /Annots
    // lists it (pointers into frames.maps).
    std::unordered_map<int32_t, const frame_map *> annots;
    // Appearance objects copied for a turn: (number * 4 + turn) -> output
    // number, and the table entry of each such copy -> its turn.
    std::unordered_map<int64_t, int32_t> turned_out;
    std::unordered_map<size_t, int> turn_of_entry;
};

// Finds the moved pages and the annotations they list.
void frame_copies_build(const pdfp_doc *doc, frame_copies *fc);
// Lists the references of entry k's text [p, p + n) when the entry is an
// annotation of a moved page or a turned appearance; false (nothing
// listed) for any other entry.
bool frame_list_refs(const pdfp_doc *doc, copy_table *table, size_t k, const unsigned char *p, int64_t n);
// Writes entry k's text [p, p + n) mapped and rewritten when the entry is
// an annotation of a moved page or a turned appearance; false (nothing
// written) for any other entry.
bool frame_copy_text(const pdfp_doc *doc, const copy_table *table, size_t k, const unsigned char *p, int64_t n,
                     out_buf *o);
// A moved page's own /Annots value [vs, ve) in b (page: the input page's
// number): its references listed, and those of inline annotations'
// appearances for the page's turn; false (nothing listed) when the page
// does not move.
bool frame_list_annots_value(const pdfp_doc *doc, copy_table *table, int32_t page, const unsigned char *b,
                             int32_t vs, int32_t ve);
// Writes that value with its inline annotations mapped; false (nothing
// written) when the page does not move.
bool frame_copy_annots_value(const copy_table *table, int32_t page, const unsigned char *b, int32_t vs, int32_t ve,
                             out_buf *o);

#endif
