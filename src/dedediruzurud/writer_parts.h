// The parts of the numbered-document writer: the output buffer with a
// sticky failure, the page-number label (label.cpp), the wrapping of a page
// as a form XObject (wrap.cpp) and the copies of the objects the pages'
// resources need (copies.cpp). writer.cpp puts them together.
#ifndef WRITER_PARTS_H
#define WRITER_PARTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdf_parse.h"

// ---------------------------------------------------------------------------
// Output buffer (writer.cpp)
// ---------------------------------------------------------------------------

// The output file image. After the first failed append nothing more is
// appended and failed stays set: a buffer that could not grow loses its
// content, and a later append must not start it afresh behind our back.
// An append that would take the length past limit fails the same way.
struct out_buf {
    pdfp_buf *buf;
    bool failed;
    uint64_t limit = MAX_FILE_BYTES;  // cross-reference offsets are 32-bit
};

void out_bytes(out_buf *o, const void *p, uint64_t n);
void out_str(out_buf *o, const char *s);
void out_str(out_buf *o, const std::string &s);
// Decimal integer.
void out_int(out_buf *o, int64_t v);
// A real number through pdfp_fmt_f.
void out_num(out_buf *o, double x);
// Current length: the offset of the next byte in the file.
uint64_t out_len(const out_buf *o);
// Records the current length as object num's offset.
void out_mark(out_buf *o, std::vector<int64_t> *offsets, int32_t num);
// pdfp_fmt_f as a string.
std::string fmt_num(double x);

// ---------------------------------------------------------------------------
// Label (label.cpp)
// ---------------------------------------------------------------------------

// Appearance of the label, as checked and adjusted by the writer.
struct label_style {
    int position;        // 0..5
    const char *format;  // null or "" means "{n}"
    double font_size;    // in (0, 300]
    int red, green, blue;  // 0..255
};

// The format with {n}, {total}, {{ and {} expanded.
std::string label_text(const char *format, int64_t number, int64_t total);
// Advance width of text in units of the font size (Helvetica).
double label_raw_width(const std::string &text);
// The text escaped for a PDF literal string (without the parentheses).
std::string label_escape(const std::string &text);
// The label block for page number `number` of `total` on a w x h frame;
// false when the page is too small for the margins.
bool label_block(const label_style *style, int64_t number, int64_t total, double w, double h,
                 std::string *block);

// ---------------------------------------------------------------------------
// Resource copies (copies.cpp)
// ---------------------------------------------------------------------------

struct res_memo_deleter {
    void operator()(pdfp_res_memo *m) const { pdfp_res_memo_free(m); }
};

// The input objects to copy, in copy order, the output number of each, and
// what the references to every other input object become.
struct copy_table {
    std::vector<int32_t> nums;  // input numbers; nums[k] becomes first_out + k
    // By input number, the map of pdfp_remap_res_text: the output number of
    // a copy, PDFP_REF_TO_NULL for an object that is not copied (a page or
    // page-tree node), 0 for a number that no listed text names.
    std::vector<int32_t> new_by_old;
    int32_t first_out = 0;
    // What the pages' ancestors hand down, shared by every page's lookup.
    std::unique_ptr<pdfp_res_memo, res_memo_deleter> resources;
};

// Lists every object the pages' resources need, directly or through other
// copies, numbered from first_out.
void copy_table_build(const pdfp_doc *doc, int32_t first_out, copy_table *table);
// Appends [p, p + n) with its references rewritten through the table.
void copy_remap(const copy_table *table, const unsigned char *p, int64_t n, out_buf *o);
// The page's resources dictionary text rewritten through the table; empty
// when the page has none.
std::string page_resources_remapped(const pdfp_doc *doc, const pdfp_obj *page, const copy_table *table);
// Appends the copies, recording their offsets.
void copies_append(const pdfp_doc *doc, const copy_table *table, out_buf *o,
                   std::vector<int64_t> *offsets);

// ---------------------------------------------------------------------------
// Page wrapping (wrap.cpp)
// ---------------------------------------------------------------------------

// The new page's rotation and frame.
struct page_frame {
    int rot;   // effective rotation, 0..359
    double w;  // width of the new page as seen
    double h;  // height
};

// Rotation and frame of a page: false when the frame is not positive.
bool page_frame_of(const pdfp_doc *doc, const pdfp_pageinfo *page, const pdfp_obj *obj,
                   page_frame *frame);
// The form XObject's header (through "stream\n") for box, rotation,
// content length and resources text (may be empty).
std::string form_header(const pdfp_pageinfo *page, int rot, int32_t length,
                        const std::string &resources);
// Appends page object 3 + 3i and form object 4 + 3i of page i; false when
// the page cannot be wrapped. Sets *frame for the label.
bool wrap_page(const pdfp_doc *doc, int32_t i, int32_t font_obj, const copy_table *table,
               out_buf *o, std::vector<int64_t> *offsets, page_frame *frame);

#endif
