// The parts of the numbered-document writer: the output buffer and its
// object emitter (writer.cpp), the output's object layout, the page-number
// label (label.cpp), the copy table with every rewrite of references
// (copies.cpp) and the wrapping of a page as a form XObject (wrap.cpp).
// writer.cpp puts them together.
#ifndef WRITER_PARTS_H
#define WRITER_PARTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dedediruzurud_internal.h"
#include "deflate.h"
#include "frame_map.h"

// ---------------------------------------------------------------------------
// Output buffer and objects (writer.cpp)
// ---------------------------------------------------------------------------

// Plain objects on their way into object streams. While one is being
// written, the out_* calls append to text instead of the file image; each
// stream is compressed as soon as it is full, and the streams are numbered
// and written behind every other object, so that objects may be emitted in
// any order and under any numbers.
struct packed_stream {
    int32_t count;              // objects in it
    int64_t first;              // /First: where the first object's text begins
    std::vector<unsigned char> data;  // Flate-compressed
};

struct obj_packer {
    bool on = false;            // plain objects go into object streams
    pdfp_buf text{};            // the open stream's object texts, one after another
    std::vector<std::pair<int64_t, uint64_t>> open;  // its objects: number, start in text
    pdfp_buf *file = nullptr;   // the file image while an object is being packed
    int64_t current = -1;       // the object being packed
    uint64_t current_at = 0;
    std::vector<packed_stream> done;
    // By object number, where a packed object went: stream ordinal and
    // index inside it; -1 for an object written plainly.
    std::vector<std::pair<int32_t, int32_t>> at = {};
    obj_packer() = default;
    obj_packer(const obj_packer &) = delete;
    obj_packer &operator=(const obj_packer &) = delete;
    ~obj_packer() { pdfp_buf_free(&text); }
};

// The output file image. After the first failed append nothing more is
// appended and failed stays set: a buffer that could not grow loses its
// content, and a later append must not start it afresh behind our back.
// An append that would take the length past limit fails the same way.
struct out_buf {
    pdfp_buf *buf;
    bool failed;
    uint64_t limit = MAX_FILE_BYTES;  // cross-reference offsets are 32-bit
    // Where each object begins, by object number (-1: not written); the
    // cross-reference table is made from it.
    std::vector<int64_t> offsets = {};
    std::unique_ptr<obj_packer> packer = nullptr;  // null: the classic layout
    // The encoder's tables, kept for every stream this output compresses.
    deflate_scratch deflate_tables = {};
};

void out_bytes(out_buf *o, const void *p, uint64_t n);
void out_str(out_buf *o, const char *s);
void out_str(out_buf *o, const std::string &s);
// Decimal integer.
void out_int(out_buf *o, int64_t v);
// A real number through pdfp_fmt_f.
void out_num(out_buf *o, double x);
// The reference "num 0 R".
void out_ref(out_buf *o, int64_t num);
// Current length: the offset of the next byte in the file.
uint64_t out_len(const out_buf *o);
// pdfp_fmt_f as a string.
std::string fmt_num(double x);

// Every output object is written between a begin and end_object.
// begin_object records where object num begins and writes its header
// "num 0 obj\n"; end_object writes "endobj\n" after the object's value.
// An object whose value is a stream begins with begin_stream_object: only
// objects without a stream may ever be packed into an object stream, which
// begin_object does when o->packer is set (out_len then counts in the
// stream's text, not in the file).
void begin_object(out_buf *o, int64_t num);
void begin_stream_object(out_buf *o, int64_t num);
void end_object(out_buf *o);

// The output's object numbers: 1 the catalog, 2 the page tree, three per
// input page i (its page object, the form that wraps its drawing, its
// content stream), then the copies of input objects, then the font.
constexpr int64_t CATALOG_OBJ = 1;
constexpr int64_t PAGE_TREE_OBJ = 2;
inline int64_t page_obj(int64_t i) { return 3 + 3 * i; }
inline int64_t form_obj(int64_t i) { return 4 + 3 * i; }
inline int64_t content_obj(int64_t i) { return 5 + 3 * i; }
inline int64_t first_copy_obj(int64_t page_count) { return page_obj(page_count); }
inline int64_t font_obj(int64_t page_count, int64_t copies) { return first_copy_obj(page_count) + copies; }

// ---------------------------------------------------------------------------
// Label (label.cpp)
// ---------------------------------------------------------------------------

// The format with {n}, {total}, {{ and {} expanded.
std::string label_text(const char *format, int64_t number, int64_t total);
// Advance width of text in units of the font size (Helvetica).
double label_raw_width(const std::string &text);
// The text escaped for a PDF literal string (without the parentheses).
std::string label_escape(const std::string &text);
// The label block for page number `number` of `total` on a w x h frame, in
// the look the writer checked (size within (0, 300]); false when the page is
// too small for the margins.
bool label_block(const label_look *look, int64_t number, int64_t total, double w, double h,
                 std::string *block);

// ---------------------------------------------------------------------------
// Copy table and reference rewriting (copies.cpp)
// ---------------------------------------------------------------------------

struct res_memo_deleter {
    void operator()(pdfp_res_memo *m) const { pdfp_res_memo_free(m); }
};

// The input objects to copy, in copy order, the output number of each, and
// what the references to every other input object become.
struct copy_table {
    std::vector<int32_t> nums;  // input numbers; nums[k] becomes first_out + k
    // By input number, the map of pdfp_remap_res_text: the output number of
    // a copy, of a page's new page object or of the catalog;
    // PDFP_REF_TO_NULL for an object that is not copied (a page-tree node, a
    // page the tree does not list), 0 for a number that no listed text names.
    std::vector<int32_t> new_by_old;
    int32_t first_out = 0;
    // The copy of the document information, 0 when there is none.
    int32_t info_out = 0;
    // What the pages' ancestors hand down, shared by every page's lookup.
    std::unique_ptr<pdfp_res_memo, res_memo_deleter> resources;
    // Turned and shifted pages: their annotations and turned appearances.
    frame_copies framed;
};

// Lists every object the pages' resources and the document's structure
// need, directly or through other copies, numbered from first_out.
void copy_table_build(const pdfp_doc *doc, int32_t first_out, copy_table *table);
// Lists num (with what it needs, once the table is closed) unless it is listed.
void copy_table_list(const pdfp_doc *doc, copy_table *table, int32_t num);
// Appends [p, p + n) with its references rewritten through the table (and
// the destinations on moved pages mapped).
void copy_remap(const copy_table *table, const unsigned char *p, int64_t n, out_buf *o);
// [p, p + n) rewritten through the table into *s: false (s empty) when
// memory ran short.
bool copy_remap_string(const copy_table *table, const unsigned char *p, int64_t n, std::string *s);
// The page's resources dictionary text rewritten through the table; empty
// when the page has none.
std::string page_resources_remapped(const pdfp_doc *doc, const pdfp_obj *page, const copy_table *table);
// Appends the copies as objects first_out onwards.
void copies_append(const pdfp_doc *doc, const copy_table *table, out_buf *o);
// The input's catalog when it has entries of its own to carry, else null.
const pdfp_obj *input_catalog(const pdfp_doc *doc);
// The entries an output object carries over from its input object.
enum carried_set {
    CARRY_CATALOG,  // outlines, name trees, page labels, open action, viewer settings, metadata, form
    CARRY_PAGE,     // annotations, transparency group, actions, transition, duration, tab order
};
// Appends " /Key value" for each entry of the set that obj's dictionary
// holds (obj may be null), the values rewritten through the table.
void append_carried(const pdfp_doc *doc, const copy_table *table, const pdfp_obj *obj, carried_set set,
                    out_buf *o);

// ---------------------------------------------------------------------------
// Page wrapping (wrap.cpp)
// ---------------------------------------------------------------------------

// The new page's rotation and frame.
struct page_frame {
    int rot;   // effective rotation, 0..359: the page's own /Rotate, else the inherited one
    double w;  // width of the new page as seen
    double h;  // height
};

// Rotation and frame of a page: false when the frame is not positive.
bool page_frame_of(const pdfp_doc *doc, const pdfp_pageinfo *page, const pdfp_obj *obj,
                   page_frame *frame);
// The form XObject's header (through "stream\n") for box, rotation,
// content length, the entries that say how the content is encoded
// (" /Filter ...", may be empty) and resources text (may be empty).
std::string form_header(const pdfp_pageinfo *page, int rot, int32_t length, const std::string &encoding,
                        const std::string &resources);
// Appends page i's page object and form object (page_obj(i), form_obj(i));
// false when the page cannot be wrapped. Sets *frame for the label.
bool wrap_page(const pdfp_doc *doc, int32_t i, int64_t font, const copy_table *table, out_buf *o,
               page_frame *frame);

#endif
