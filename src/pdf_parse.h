// pdf_parse: the document reader, the page model, the byte buffer and
// stream decoding. Everything works on raw bytes of the file image; nothing
// is tokenised into a tree. Offsets and lengths are signed 32-bit with an
// exclusive end; -1 means absent.
#ifndef PDF_PARSE_H
#define PDF_PARSE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "size_limits.h"

// ---------------------------------------------------------------------------
// Byte buffer and number formatting (buf.cpp)
// ---------------------------------------------------------------------------

// Growable byte buffer: 1 MiB first storage, doubling, a NUL always kept
// after the content. Owned by whoever declares it; released by pdfp_buf_free.
struct pdfp_buf {
    unsigned char *data;
    uint64_t len;
    uint64_t cap;
};

constexpr uint64_t PDFP_BUF_INITIAL = 1048576;

// Fresh 1 MiB storage holding the empty string; returns data (null on failure).
unsigned char *pdfp_buf_init(pdfp_buf *b);
// Ensures cap >= len + extra + 1. Non-zero on success; on a failed resize the
// buffer loses its content (data null, len 0, cap 0).
int pdfp_buf_reserve(pdfp_buf *b, uint64_t extra);
// Appends n bytes; returns data after the append, or null on failure.
unsigned char *pdfp_buf_bytes(pdfp_buf *b, const void *src, uint64_t n);
// Appends a NUL-terminated string (without its NUL).
unsigned char *pdfp_buf_str(pdfp_buf *b, const char *s);
// Appends the decimal text of v.
void pdfp_buf_int(pdfp_buf *b, int32_t v);
// Releases the storage and zeroes the record; safe on a zeroed record.
void pdfp_buf_free(pdfp_buf *b);
// Short text of x: a plain integer when x is integral and fits 32 bits,
// else exactly four decimals with a full stop. Returns the full length.
int pdfp_fmt_f(char *out, size_t size, double x);

// ---------------------------------------------------------------------------
// Scanners (scan.cpp)
// ---------------------------------------------------------------------------

inline bool is_pdf_ws(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool is_word(unsigned char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool is_name_cont(unsigned char c) {
    return is_word(c) || c == '+' || c == '-' || c == '_';
}
// The classic isspace set: SP HT LF VT FF CR (no NUL).
inline bool is_wide_ws(unsigned char c) {
    return c == 32 || (c >= 9 && c <= 13);
}

struct pdfp_obj;

int32_t skip_ws(const unsigned char *buf, int32_t pos, int32_t end);
// Offset just past the name key /name whose slash is at slash, and just
// past the keyword kw that stands at at.
inline int32_t name_end(int32_t slash, const char *name) {
    return slash + 1 + static_cast<int32_t>(std::char_traits<char>::length(name));
}
inline int32_t kw_end(int32_t at, const char *kw) {
    return at + static_cast<int32_t>(std::char_traits<char>::length(kw));
}
int32_t find_kw(const unsigned char *buf, int32_t len, int32_t start, const char *kw);
int kw_at(const unsigned char *buf, int32_t pos, int32_t len, const char *kw);
int32_t find_name(const unsigned char *buf, int32_t len, int32_t start, int32_t end, const char *name);
int32_t find_name_top(const unsigned char *buf, int32_t len, int32_t start, int32_t end, const char *name);
// What obj_type finds: a top-level /Type /Page, /Type /Pages, or neither.
enum obj_kind { OBJ_OTHER = 0, OBJ_PAGE = 1, OBJ_PAGES = 2 };
int obj_type(const unsigned char *data, int32_t len, const pdfp_obj *obj);
// Offset after the ")" that closes the literal string opened at pos
// (backslash escapes and nested parentheses respected), or -1 when the
// string is still open at end.
int32_t skip_literal(const unsigned char *buf, int32_t pos, int32_t end);
// Offset after the ">" that closes the hexadecimal string opened at pos, or -1.
int32_t skip_hex_string(const unsigned char *buf, int32_t pos, int32_t end);
// Offset of the "stream" keyword after the dictionary opened at pos, or -1.
int32_t dict_stream_kw(const unsigned char *buf, int32_t len, int32_t pos);
int32_t parse_int_at(const unsigned char *buf, int32_t end, int32_t *pos);
int32_t read_int_adv(const unsigned char *buf, int32_t end, int32_t *pos);
// Offset of the value of the object whose header "N G obj" starts at hdr:
// past the two numbers, the keyword and the whitespace behind it. Where the
// keyword does not follow the numbers (the scan also reads a header whose
// parts a vertical tab separates), the offset where reading stopped. -1
// when no number stands at hdr.
int32_t obj_value_start(const unsigned char *data, int32_t size, int32_t hdr);
// Malloc'd NUL-terminated copy of the dictionary at pos; the caller frees it.
char *dict_text_at(const unsigned char *buf, int32_t len, int32_t pos);

// Reading a dictionary strictly, one token at a time (all bounded by end).
// The value of key in the dictionary that opens at from (after whitespace
// and comments): its range in [*vs, *ve). Keys are read in key position
// only, so nested dictionaries, strings, comments and name values never
// pass for the key; false when it is absent, or damage comes before it.
// Every new reader of a dictionary's entries uses this.
bool dict_value(const unsigned char *buf, int32_t from, int32_t end, const char *key, int32_t *vs,
                int32_t *ve);
// Offset of the first byte at or after p that is neither whitespace nor in a comment.
int32_t skip_ws_comments(const unsigned char *buf, int32_t p, int32_t end);
// End of the one object that starts at p (not whitespace), or -1.
int32_t object_end(const unsigned char *buf, int32_t p, int32_t end);
// End of the value at p: one object, or the three tokens of a reference "n g R".
int32_t value_end(const unsigned char *buf, int32_t p, int32_t end);
// Whether the name token [p, e) (slash included) spells name, #xx escapes decoded.
bool name_is(const unsigned char *buf, int32_t p, int32_t e, const char *name);
// The value of a hexadecimal digit, or -1.
int hex_value(unsigned char c);


// ---------------------------------------------------------------------------
// Document model (load.cpp, trailer.cpp, objstm.cpp, extent.cpp)
// ---------------------------------------------------------------------------

struct pdfp_obj {
    int32_t num;
    int32_t gen;
    int32_t hdr_pos;
    int32_t dict_pos;
    int32_t stream_pos;
    int32_t data_start;
    int32_t data_end;
    int32_t endobj_pos;
    int32_t obj_end;
    int32_t data_len;
    int32_t has_stream;
    int32_t no_endstream;
    int32_t in_objstm;
    const unsigned char *text;
    int32_t text_len;
};

// One page of the page list, in document order.
struct pdfp_pageinfo {
    int32_t obj_num;     // the page object's number
    int32_t parent_num;  // the Pages node whose /Kids listed it; -1 when the root is the page
    // The rotation inherited from the Pages nodes above the page, reduced
    // into 0..359; the page's own /Rotate is not part of it. The rotation a
    // page is shown with is its own (obj_rotate_own) when it has one, else
    // this.
    int32_t rotate;
    // The box a viewer shows: the /CropBox clipped to the /MediaBox, each
    // the page's own or the nearest ancestor's; one found alone is taken as
    // read. All four 0 when neither was found.
    double box_llx;
    double box_lly;
    double box_urx;
    double box_ury;
};

struct pdfp_objvec {
    pdfp_obj *items;
    int32_t count;
    int32_t cap;
    // Lookup index built once the table is final; null means a plain
    // linear search. Dense: index[num] is the entry's position or -1
    // (index_len = max_num + 1). Sparse (index_sparse set): the positions of
    // all entries sorted by number (index_len = count), for tables whose
    // numbers are few and far apart.
    int32_t *index;
    int32_t index_len;
    int32_t index_sparse;
};

struct pdfp_arena {
    unsigned char **blocks;
    int32_t count;
    int32_t cap;
};

struct pdfp_pagevec {
    pdfp_pageinfo *items;
    int32_t count;
    int32_t cap;
};

struct pdfp_doc {
    unsigned char *data;
    int32_t size;
    int32_t root;
    int32_t encrypted;
    pdfp_objvec objs;
    pdfp_arena arena;
    pdfp_pagevec pages;
    int32_t catalog;
    int32_t max_num;
};

constexpr int32_t PDFP_MAX_OBJ_NUM = 8388607;

typedef void (*pdfp_report_fn)(const char *fmt, ...);

// 0 on success (doc loaded; release with pdfp_doc_free), -1 on failure
// (report called once, doc holds no storage).
int pdfp_doc_load(const char *path, pdfp_doc *doc, pdfp_report_fn report);
// Loads from bytes already in memory (the buffer is copied). Same results;
// "%s" in messages receives name.
int pdfp_doc_load_mem(const unsigned char *bytes, size_t size, const char *name,
                      pdfp_doc *doc, pdfp_report_fn report);
void pdfp_doc_free(pdfp_doc *doc);
// The entry with this number (the first in table order), or null.
const pdfp_obj *pdfp_obj_find(const pdfp_objvec *objs, int32_t num);
int pdfp_obj_has_stream(const pdfp_obj *obj);
int objvec_push(pdfp_objvec *objs, const pdfp_obj *entry);
int pagevec_push(pdfp_pagevec *pages, const pdfp_pageinfo *entry);
unsigned char *arena_alloc(pdfp_arena *arena, size_t n);
// Records a block allocated elsewhere (malloc) in the arena; on failure the
// block is released and 0 returned.
int arena_adopt(pdfp_arena *arena, unsigned char *block);
// Releases a block that was the last one recorded (a failed decode attempt).
void arena_release_last(pdfp_arena *arena, unsigned char *block);
// Builds the lookup index of a finished table (falls back to linear search
// when memory is short).
void objvec_build_index(pdfp_objvec *objs);

// The text region of an entry: sets *buf and *end (the bound for the
// scanners) and returns the region's start, or -1 when it has none.
int32_t obj_text_region(const unsigned char *data, int32_t size, const pdfp_obj *obj,
                        const unsigned char **buf, int32_t *end);

// Trailer chain: sets doc->root and doc->encrypted.
void read_trailer_chain(pdfp_doc *doc);
// Sets doc->encrypted when a cross-reference stream of the object table
// names /Encrypt (run once headers inside stream data are dropped).
void read_xref_stream_encryption(pdfp_doc *doc);
// Appends the objects of every object stream to doc->objs.
void load_objstms(pdfp_doc *doc);

// /Length of the dictionary in [from, to): direct value or indirect object number.
void parse_length(const unsigned char *text, int32_t text_len, int32_t from, int32_t to,
                  int32_t *direct, int32_t *indirect);
// The integer value of the object whose header "N G obj" starts at hdr, as
// an indirect /Length holds it; negative when there is none.
int32_t indirect_int_value(const unsigned char *data, int32_t size, int32_t hdr);
// Offset of the first data byte for a "stream" keyword at k.
int32_t stream_data_start(const unsigned char *data, int32_t size, int32_t k);

// ---------------------------------------------------------------------------
// Page model (pages.cpp, content.cpp, refs.cpp)
// ---------------------------------------------------------------------------

constexpr int PDFP_MAX_TREE_DEPTH = 1024;

// resolve_pages' failures; its other results count the pages listed.
enum walk_failure { WALK_BROKEN = -1, WALK_INLINE_KIDS = -2 };
int32_t resolve_pages(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                      int32_t node, int32_t max_num, pdfp_pagevec *pages,
                      unsigned char *visited, int32_t inherited_rot);
// The visible box of a page: its /CropBox clipped to its /MediaBox, each
// taken from the object or the nearest of up to depth ancestors. 1 when
// either was found (the four values set), else 0.
struct box_memo;
int obj_box_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                 const pdfp_obj *obj, double *llx, double *lly, double *urx, double *ury,
                 int depth, box_memo *memo = nullptr);
int32_t obj_rotate_own(const unsigned char *data, int32_t len, const pdfp_obj *obj);
char *page_resources_dict(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const unsigned char *text, int32_t text_len);
// What the ancestors hand down, remembered for pdfp_page_resources_dict_deep
// (one per document and caller), so that the pages of a node with 100,000
// kids do not read that node once each.
struct pdfp_res_memo;
pdfp_res_memo *pdfp_res_memo_new();
void pdfp_res_memo_free(pdfp_res_memo *memo);
// The resources dictionary text of the object whose bytes end text, or of
// the nearest of up to depth ancestors that has one: malloc'd, the caller
// frees it; null when there is none. memo may be null (nothing remembered).
char *pdfp_page_resources_dict_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                                    const unsigned char *text, int32_t text_len, int depth,
                                    pdfp_res_memo *memo = nullptr);

// Joined decoded content of a page: 1 on success (*out malloc'd, caller
// frees), 0 on failure (*out null, *out_len 0).
int pdfp_get_page_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const pdfp_obj *page, unsigned char **out, int32_t *out_len);

// The next reference "N G R" (with need_gen false, "N R" too) at or after
// from in t[0, end): true with N (wrapping at 32 bits) in *num, the offset
// of its first digit in *start and the offset after its "R" in *after.
bool pdfp_next_ref(const unsigned char *t, int32_t end, int32_t from, bool need_gen, int32_t *start,
                   int32_t *num, int32_t *after);
// The references of text, with or without generation, in text order (at
// most cap of them): their count, their numbers in out.
int32_t pdfp_collect_text_refs(const char *text, int32_t text_len, int32_t *out, int32_t cap);
// In a renumbering map: the references to this object become null.
constexpr int32_t PDFP_REF_TO_NULL = -1;
// Appends text[0, len) to out with its references "N G R" renumbered by
// the map new_by_old[0, map_len): an entry above 0 turns the reference
// into "entry 0 R", PDFP_REF_TO_NULL into "null"; 0, or N outside the map,
// leaves it as it stands. 1 on success; 0 when out could not grow or would
// pass limit bytes (out is then of no further use).
int pdfp_remap_res_text(const unsigned char *text, int32_t len, const int32_t *new_by_old, int32_t map_len,
                        pdfp_buf *out, uint64_t limit);

// ---------------------------------------------------------------------------
// Stream decoding (decode.cpp, filters.cpp)
// ---------------------------------------------------------------------------

// The most bytes that one call makes out of an input of input_size bytes,
// for the output file and for any one decoded or joined page content: 1,024
// per input byte plus 64 MiB, and below 2^31. Flate expands at most
// 1,032-fold; only filter chains with several expanding stages, a page
// listed again and again, or one stream listed many times in /Contents go
// further, and refusing those keeps a small hostile file from taking
// gigabytes of memory.
inline uint64_t pdfp_work_limit(int64_t input_size) {
    uint64_t relative = 1024 * static_cast<uint64_t>(input_size > 0 ? input_size : 0) + (64u << 20);
    const uint64_t most = static_cast<uint64_t>(MAX_FILE_BYTES);
    return relative < most ? relative : most;
}

// The bytes of a stream entry after decoding, or null. Decoded bytes are
// appended to buf; raw bytes point into file.
const unsigned char *pdfp_decoded_stream(const pdfp_obj *obj, const unsigned char *file,
                                         int32_t file_len, pdfp_buf *buf, int32_t *byte_count);

// Decodes raw stream data through the /Filter chain (and /DecodeParms)
// named in the dictionary bytes buf[from, to). Returns 1 with the decoded
// bytes appended to out, 0 when the dictionary names no filter (out
// untouched), -1 when a filter is unknown or refuses the data (out's len
// unchanged).
// No stage produces more than limit bytes (a stage that would fails).
int pdfp_decode_filters(const unsigned char *buf, int32_t from, int32_t to,
                        const unsigned char *raw, int32_t raw_len, pdfp_buf *out,
                        uint64_t limit = MAX_DECODED_BYTES);

#endif
