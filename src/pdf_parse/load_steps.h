// The loader's steps and the page walk, shared between the reader's files:
// the document's vectors (objtable.cpp), the trailer chain (trailer.cpp),
// object streams (objstm.cpp), stream extents (extent.cpp), the object
// scan (object_scan.cpp), the page-tree root (tree_root.cpp) and the page
// tree (pages.cpp), which load.cpp runs in order.
//
// Results as throughout the reader (pdf_parse.h): 1 or 0 for work done or
// not, -1 or null for nothing found, counts for lists.
#ifndef PDF_PARSE_LOAD_STEPS_H
#define PDF_PARSE_LOAD_STEPS_H

#include <vector>

#include "scan.h"

// ---------------------------------------------------------------------------
// The document's vectors (objtable.cpp)
// ---------------------------------------------------------------------------

// Append one entry (copied), giving the vector room for 128 (objects) or
// 64 (pages) at first and doubling it; 0 when it cannot grow (nothing
// added).
int objvec_push(pdfp_objvec *objs, const pdfp_obj *entry);
// Room for extra more entries, made at once and exactly (a big table then
// holds no unused room that big pages would fill); 0 when it cannot be had.
int objvec_reserve(pdfp_objvec *objs, int32_t extra);
int pagevec_push(pdfp_pagevec *pages, const pdfp_pageinfo *entry);
// A block of n bytes that the arena owns, or null.
unsigned char *arena_alloc(pdfp_arena *arena, size_t n);
// Records a block allocated elsewhere (malloc) in the arena; on failure the
// block is released and 0 returned.
int arena_adopt(pdfp_arena *arena, unsigned char *block);
// Releases a block that was the last one recorded (a failed decode attempt).
void arena_release_last(pdfp_arena *arena, unsigned char *block);
// Room for n bytes in the open chunk (a new one when they do not fit), or
// null when n is too big for chunks or no chunk can be had; the room is
// only taken by arena_chunk_take, with the bytes actually used.
unsigned char *arena_chunk_room(pdfp_arena *arena, uint64_t n);
void arena_chunk_take(pdfp_arena *arena, uint64_t n);
// Builds the lookup index of a finished table (falls back to linear search
// when memory is short).
void objvec_build_index(pdfp_objvec *objs);

// Whether arrays indexed by object number (up to max_num) suit a table of
// count entries; otherwise entries sorted by number serve. A tiny file
// naming object 8388607 must not cost 32 MB.
inline bool numbers_dense(int32_t max_num, int32_t count) {
    return static_cast<int64_t>(max_num) <= 4 * static_cast<int64_t>(count) + 4096;
}

// ---------------------------------------------------------------------------
// Trailer chain (trailer.cpp) and object streams (objstm.cpp)
// ---------------------------------------------------------------------------

// Sets doc->root, doc->info and doc->encrypted from the trailers that
// "startxref" and /Prev lead to.
void read_trailer_chain(pdfp_doc *doc);
// Whether the cross-reference section that "startxref" leads to is sound:
// a classic table whose in-use entries point at their objects' headers, or
// an object there (a cross-reference stream, its entries not read). The
// scan finds objects either way; a host is told when it had to.
bool xref_sound(const pdfp_doc *doc);
// Sets doc->encrypted when a cross-reference stream of the object table
// names /Encrypt, and doc->info from their /Info when no classic trailer of
// the chain gave one, else from the last classic trailer in the file (run
// once headers inside stream data are dropped).
void read_xref_stream_trailers(pdfp_doc *doc);
// Where the dictionary of an object-stream container ends (a stream in the
// file whose dictionary names /ObjStm), or -1 when o is not one.
int32_t objstm_dict_end(const pdfp_doc *doc, const pdfp_obj &o);
// Whether an object-stream entry is itself an object-stream container
// (listed inside another one): true with its "stream" keyword's offset in
// its text.
bool nested_objstm(const pdfp_obj &o, int32_t *stream_kw);
// Appends the objects of every object stream to doc->objs, those of
// containers nested inside others too.
void load_objstms(pdfp_doc *doc);

// ---------------------------------------------------------------------------
// Stream extents (extent.cpp)
// ---------------------------------------------------------------------------

// The /Length of the dictionary [from, to): *direct, a plain value, or
// *indirect, the number of the object that holds it (each -1 when absent).
void parse_length(const unsigned char *text, int32_t text_len, int32_t from, int32_t to,
                  int32_t *direct, int32_t *indirect);
// The integer value of the object whose header "N G obj" starts at hdr, as
// an indirect /Length holds it; negative when there is none.
int32_t indirect_int_value(const unsigned char *data, int32_t size, int32_t hdr);
// Offset of the first data byte for a "stream" keyword at k: past one line
// end after optional spaces and tabs, else past the one byte after it.
int32_t stream_data_start(const unsigned char *data, int32_t size, int32_t k);
// The data end for an "endstream" keyword at k: the one line end before
// the keyword is not data (a CR LF only when it lies after data_start).
int32_t end_before_endstream(const unsigned char *data, int32_t data_start, int32_t k);
// Tells the notices of every stream of the final table whose length was
// recovered or that runs to the end of the file.
void notice_stream_extents(const pdfp_doc *doc);
// Whether the keyword "endstream" follows at (inside the file) after wide
// whitespace: the test that a stream's /Length is right.
bool endstream_at(const unsigned char *data, int32_t size, int64_t at);

// An object header that can hold a stream's indirect /Length: every header
// the scan found, including those it did not keep because they lie inside
// the data of a stream whose direct /Length already fixed its extent.
struct length_source {
    int32_t num;
    int32_t hdr_pos;
    int32_t is_stream;
};

// Every occurrence of a keyword, found once: a search per object from its
// own start made files of many headers or streams without "endstream" or
// "endobj" quadratic. first_from gives find_kw's answer for that start.
struct kw_positions {
    const char *kw;
    std::vector<int32_t> at;
    bool built = false;
    int32_t first_from(const unsigned char *data, int32_t size, int32_t start);
};

// The length pass over every stream entry; sources are sorted by number,
// then by file position, so the first of a number is the one in file order.
// endobj is shared with the object scan, so the keyword is found once.
void settle_stream_extents(pdfp_doc *doc, const std::vector<length_source> &sources, kw_positions *endobj);

// ---------------------------------------------------------------------------
// The object scan (object_scan.cpp) and the page-tree root (tree_root.cpp)
// ---------------------------------------------------------------------------

// Every "obj" keyword of the file, in file order, into doc->objs. Headers
// inside stream data are found too: those inside a range that a confirmed
// direct /Length fixes only matter as holders of an indirect /Length, so
// they go to sources alone; the others enter the table and are dropped
// later. sources is sorted by number, then file position.
void scan_objects(pdfp_doc *doc, std::vector<length_source> *sources, kw_positions *endobj);
// Drops incomplete streams and headers that lie inside some stream's data.
void remove_false_entries(pdfp_doc *doc);
// One entry per number: the last definition in the file wins, and an
// object-stream definition only counts where the file has none. Sets
// doc->max_num.
void select_definitions(pdfp_doc *doc);
// The root of the page tree, or -1: through the trailer's /Root when that
// leads to one, else through the first object that mentions /Catalog (or
// object 1), else the tree found directly. Sets doc->catalog.
int32_t locate_tree_root(pdfp_doc *doc);

// The bytes that the object scan's dictionary walks may take together for a
// file of size bytes: 16 per file byte, and 16 MiB more.
inline int64_t dict_walk_budget(int32_t size) { return 16 * static_cast<int64_t>(size) + (int64_t{1} << 24); }

// dict_stream_kw for each of the ascending dictionary offsets starts, with
// work shared between overlapping walks and bounded by budget bytes walked
// (past it, -1).
std::vector<int32_t> stream_keywords(const unsigned char *data, int32_t size,
                                     const std::vector<int32_t> &starts, int64_t budget);

// ---------------------------------------------------------------------------
// Page tree (pages.cpp)
// ---------------------------------------------------------------------------

// Deeper trees are refused: recursing further could exhaust the stack.
constexpr int PDFP_MAX_TREE_DEPTH = 1024;

// resolve_pages' failures; its other results count the pages listed.
enum walk_failure { WALK_BROKEN = -1, WALK_INLINE_KIDS = -2 };
// Walks the tree below object node into pages, rotation inherited from
// inherited_rot. visited (max_num + 1 flags, zeroed) marks the Pages nodes
// entered. The number of pages listed, or a walk_failure.
int32_t resolve_pages(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                      int32_t node, int32_t max_num, pdfp_pagevec *pages,
                      unsigned char *visited, int32_t inherited_rot);
// The kind of a page-tree node (an obj_kind). A /Type of /Page or /Pages
// is taken as written; without one (missing, or another name) the node is
// read as viewers read it: a dictionary with /Kids is a Pages node, and a
// plain dictionary listed in /Kids (from_kids) is a page.
int tree_node_kind(const unsigned char *data, int32_t len, const pdfp_obj *node, bool from_kids);
// The object numbers of the node's /Kids array, in order, into kids: 0, or
// WALK_INLINE_KIDS when the array holds a dictionary.
int node_kids(const unsigned char *data, int32_t len, const pdfp_obj *node, std::vector<int32_t> *kids);
// The box of a page that has none with an area: US Letter, as viewers show it.
constexpr double PDFP_DEFAULT_PAGE_WIDTH = 612;
constexpr double PDFP_DEFAULT_PAGE_HEIGHT = 792;
// What ancestors hand down to obj_box_deep, remembered for one walk.
struct box_memo;
// The box a viewer shows of obj (as pdfp_pageinfo holds it), looking up
// to depth ancestors: 1 with the four values set, else 0 (values untouched).
// memo may be null.
int obj_box_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                 const pdfp_obj *obj, double *llx, double *lly, double *urx, double *ury,
                 int depth, box_memo *memo = nullptr);
// The object's own resources dictionary text, malloc'd (the caller frees
// it), or null: the text as for pdfp_page_resources_dict_deep, without
// looking at ancestors.
char *page_resources_dict(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const unsigned char *text, int32_t text_len);

#endif
