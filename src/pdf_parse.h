// pdf_parse: the document reader, the page model, the byte buffer and
// stream decoding, as the writer, the exported functions and the tool use
// them. Everything works on the raw bytes of the file image; nothing is
// tokenised into a tree. Offsets and lengths are signed 32-bit with an
// exclusive end; -1 means absent. A function that hands out a block gives
// it to its caller, who frees it (pdfp_owned holds such a block);
// pointers into a loaded document live as long as the document.
//
// Results, throughout the reader: the loader returns 0 on success and -1
// on failure (its one message through the report function); a function
// that does work returns 1 on success and 0 on failure (int, as C callers
// read it; pdfp_decode_filters adds 0 for "no filter" and -1 for failure,
// as documented there); a function that finds returns an offset or a
// pointer, -1 or null for nothing; a yes/no question returns bool; a list
// builder returns its count. Nothing throws.
//
// The reader's own scanners and steps are in src/pdf_parse/: scan.h (the
// byte scanners), load_steps.h (the loader's steps and the page walk),
// filters.h (stream filters and the inflate retry loop).
#ifndef PDF_PARSE_H
#define PDF_PARSE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "size_limits.h"

// Owns a block that a reader function handed out (malloc'd) and frees it.
struct pdfp_free {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using pdfp_owned = std::unique_ptr<T, pdfp_free>;

// ---------------------------------------------------------------------------
// Byte buffer and number formatting (buf.cpp)
// ---------------------------------------------------------------------------

// Growable byte buffer: 4 KiB first storage, doubling, a NUL always kept
// after the content. Owned by whoever declares it; released by pdfp_buf_free.
// The first storage is small because most buffers stay small (a page's
// joined content, a decoded stream): a larger one cost a fresh block from
// the system, and its page faults, for every stream.
struct pdfp_buf {
    unsigned char *data;
    uint64_t len;
    uint64_t cap;
};

constexpr uint64_t PDFP_BUF_INITIAL = 4096;  // a buffer's first storage

// From this size on the file image, the object table and the output ask
// for big pages (pdfp_advise_big_pages). Decoding buffers do not: a hostile
// stream would get its refused output backed in 2 MiB steps.
constexpr uint64_t PDFP_BUF_BIG = uint64_t{4} << 20;

// Asks the system to back the untouched parts of the block [p, p + n) with
// big pages where it can (Linux: transparent huge pages): filling a big
// block then takes a few hundred page faults rather than one per 4 KiB,
// which costs more than the copying itself. Does nothing elsewhere.
void pdfp_advise_big_pages(void *p, uint64_t n);

// Storage for a big block that is filled at once and kept (the file image,
// the object table, decoded object streams): from PDFP_BIG_PAGE bytes on it
// starts on a 2 MiB boundary and is advised as above, so that all of it
// can take big pages, not only its inner part. Null on failure; released
// with std::free.
constexpr uint64_t PDFP_BIG_PAGE = uint64_t{2} << 20;
void *pdfp_big_alloc(uint64_t n);

// Fresh first storage holding the empty string; returns data (null on failure).
unsigned char *pdfp_buf_init(pdfp_buf *b);
// Ensures cap >= len + extra + 1. Non-zero on success; on a failed resize the
// buffer loses its content (data null, len 0, cap 0).
int pdfp_buf_reserve(pdfp_buf *b, uint64_t extra);
// Appends n bytes; returns data after the append, or null on failure.
unsigned char *pdfp_buf_bytes(pdfp_buf *b, const void *src, uint64_t n);
// Appends a NUL-terminated string (without its NUL); as pdfp_buf_bytes.
unsigned char *pdfp_buf_str(pdfp_buf *b, const char *s);
// Appends the decimal text of v.
void pdfp_buf_int(pdfp_buf *b, int32_t v);
// Releases the storage and zeroes the record; safe on a zeroed record.
void pdfp_buf_free(pdfp_buf *b);
// Writes the short text of x into out (size bytes, always NUL-terminated):
// a plain integer when x is integral and fits 32 bits, else exactly four
// decimals with a full stop. Returns the full text's length.
int pdfp_fmt_f(char *out, size_t size, double x);
// The same text as a string: how every real number of the output is written.
std::string pdfp_fmt_num(double x);

// ---------------------------------------------------------------------------
// Reading PDF text (scan.cpp)
// ---------------------------------------------------------------------------

// The scanners that the writer shares with the reader: it reads values in
// input dictionaries (rectangles, destinations, matrices, annotation flags)
// with these, never with a second reader of PDF tokens. Offsets are signed
// 32-bit, a bound is exclusive, -1 means nothing found; none reads past
// its bound. The reader's other scanners are in src/pdf_parse/scan.h.

// PDF whitespace: NUL HT LF FF CR SP (no VT).
inline bool is_pdf_ws(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The integer after whitespace at *pos (optional "-"), wrapping at 32 bits;
// *pos moves past its digits. -1 and *pos unchanged when there is none.
int32_t parse_int_at(const unsigned char *buf, int32_t end, int32_t *pos);

// Offset after the ")" that closes the literal string opened at pos
// (backslash escapes and nested parentheses respected), or -1 when the
// string is still open at end.
int32_t skip_literal(const unsigned char *buf, int32_t pos, int32_t end);
// Offset after the ">" that closes the hexadecimal string opened at pos, or -1.
int32_t skip_hex_string(const unsigned char *buf, int32_t pos, int32_t end);

// Reading a dictionary strictly, one token at a time (all bounded by end).
// The value of key in the dictionary that opens at from (after whitespace
// and comments): its range in [*vs, *ve). Keys are read in key position
// only, so nested dictionaries, strings, comments and name values never
// pass for the key; false when it is absent, or damage comes before it.
// Every new reader of a dictionary's entries uses this.
bool dict_value(const unsigned char *buf, int32_t from, int32_t end, const char *key, int32_t *vs,
                int32_t *ve);
// dict_value for n keys in one reading of the dictionary: key k's value
// in [vs[k], ve[k]), or vs[k] = -1 where dict_value would return false.
void dict_values(const unsigned char *buf, int32_t from, int32_t end, const char *const *keys, int n,
                 int32_t *vs, int32_t *ve);
// Offset of the first byte at or after p that is neither whitespace nor in a comment.
int32_t skip_ws_comments(const unsigned char *buf, int32_t p, int32_t end);
// End of the one object that starts at p (not whitespace), or -1.
int32_t object_end(const unsigned char *buf, int32_t p, int32_t end);
// End of the value at p: one object, or the three tokens of a reference "n g R".
int32_t value_end(const unsigned char *buf, int32_t p, int32_t end);
// Whether the name token [p, e) (slash included) spells name, #xx escapes decoded.
bool name_is(const unsigned char *buf, int32_t p, int32_t e, const char *name);

// ---------------------------------------------------------------------------
// The loaded document (load.cpp)
// ---------------------------------------------------------------------------

// One entry of the object table. Offsets are into the file image; the
// stream fields are -1 for an object that is not a stream.
struct pdfp_obj {
    int32_t num;         // object number, 1..PDFP_MAX_OBJ_NUM
    int32_t gen;         // generation in the header; 0 inside an object stream
    int32_t hdr_pos;     // first digit of the header "N G obj"; -1 inside an object stream
    int32_t dict_pos;    // the "<" after "obj" when the value starts with one, else -1
    int32_t stream_pos;  // the "stream" keyword
    int32_t data_start;  // first byte of the stream data
    int32_t data_end;    // one past its last byte
    int32_t endobj_pos;  // the "endobj" keyword that ends the object, -1 when none
    int32_t obj_end;     // endobj_pos + 6
    int32_t data_len;    // data_end - data_start
    int32_t has_stream;  // 1 for a stream object
    int32_t no_endstream;  // 1 when no "endstream" came, so the data runs to the end of the file
    int32_t in_objstm;     // 1 for an object read from an object stream
    // Inside an object stream: the object's value in the decoded data (held
    // by the document's arena), text_len bytes, not NUL-terminated. Else
    // null and 0.
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
    // the page's own or the nearest ancestor's (a clip that leaves nothing
    // gives the /MediaBox; a box found alone is taken as read). US Letter,
    // 0 0 612 792, when no box with an area was found.
    double box_llx;
    double box_lly;
    double box_urx;
    double box_ury;
    int32_t box_default;  // 1 when no box with an area was found, so US Letter stands
};

// The object table: one entry per object number, the objects found in the
// file first (in file order), then those from object streams.
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

// Blocks owned by the document: the decoded data of object streams. Most
// are packed into shared chunks (blocks too), each twice the last up to
// PDFP_BIG_PAGE bytes; the last is open: chunk_used of its chunk_cap bytes
// are taken.
struct pdfp_arena {
    unsigned char **blocks;
    int32_t count;
    int32_t cap;
    unsigned char *chunk;
    uint64_t chunk_used;
    uint64_t chunk_cap;
};

// The page list.
struct pdfp_pagevec {
    pdfp_pageinfo *items;
    int32_t count;
    int32_t cap;
};

// Where the reader tells of damage it tolerated - a rebuilt
// cross-reference, a recovered stream length, a default page box, a
// dropped /Contents part - one short text each, for a host that shows
// them (the tool's -v). The library prints nothing itself. Owned by the
// caller of the load; fn null tells nobody.
struct pdfp_notices {
    void (*fn)(void *ctx, const char *text);
    void *ctx;
    int32_t told;  // notices sent so far (PDFP_MAX_NOTICES at most, then one "more")
};
constexpr int32_t PDFP_MAX_NOTICES = 100;

// What an encrypted document keeps of its protection (pdf_parse/security.h).
struct pdfp_encryption;

// A loaded document; it owns every pointer in it but notices.
struct pdfp_doc {
    unsigned char *data;  // the whole input file
    int32_t size;
    int32_t root;         // the trailers' /Root, -1 when none gave one
    int32_t encrypted;    // 1 when a trailer names /Encrypt
    pdfp_objvec objs;
    pdfp_arena arena;
    pdfp_pagevec pages;  // at least one page once loaded
    int32_t catalog;     // the object used as the catalog
    int32_t max_num;     // the highest object number in objs
    int32_t info;        // the trailers' /Info (document information), -1 when none gave one
    pdfp_notices *notices;  // null: damage is tolerated silently
    // An encrypted document read in the clear: its protection, which the
    // numbered copy takes over; null for a document in the clear.
    pdfp_encryption *encryption;
    // After a load refused as encrypted: 1 when only a password would open it.
    int32_t needs_password;
};

// The highest object number the table keeps (2^23 - 1); entries above it are dropped.
constexpr int32_t PDFP_MAX_OBJ_NUM = 8388607;

// Where the loader reports its one failure: printf-style (set_error).
typedef void (*pdfp_report_fn)(const char *fmt, ...);

// Loads the file at path into doc: 0 on success (release it with
// pdfp_doc_free), -1 on failure (report called once with a message of
// messages.h, "%s" the path; doc then holds no storage). The damage the
// load tolerates goes to notices (may be null), and so does what later
// readers of doc tolerate.
int pdfp_doc_load(const char *path, pdfp_doc *doc, pdfp_report_fn report, pdfp_notices *notices = nullptr);
// The same from bytes already in memory (they are copied); "%s" in
// messages receives name.
int pdfp_doc_load_mem(const unsigned char *bytes, size_t size, const char *name,
                      pdfp_doc *doc, pdfp_report_fn report, pdfp_notices *notices = nullptr);
// Tells doc's notices one tolerated damage, printf-style (a notice of
// messages.h); past PDFP_MAX_NOTICES, one last notice says more were left out.
void pdfp_notice(const pdfp_doc *doc, const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Releases everything doc holds and zeroes it; safe on a zeroed record.
void pdfp_doc_free(pdfp_doc *doc);

// ---------------------------------------------------------------------------
// The object table (objtable.cpp)
// ---------------------------------------------------------------------------

// The entry with this number (the first in table order), or null.
const pdfp_obj *pdfp_obj_find(const pdfp_objvec *objs, int32_t num);
// The entry's has_stream.
int pdfp_obj_has_stream(const pdfp_obj *obj);
// The text region of an entry, through which every reader looks at it (an
// object-stream entry's text, else the file from dict_pos to stream_pos,
// endobj_pos or the file's end): sets *buf and *end (the bound for the
// scanners) and returns the region's start, or -1 when it has none.
int32_t obj_text_region(const unsigned char *data, int32_t size, const pdfp_obj *obj,
                        const unsigned char **buf, int32_t *end);
// The value of key in the dictionary of the entry's text region, read
// strictly (keys in key position only): true with its range [*vs, *ve) in
// *buf; false when the key is absent or damage comes before it.
bool obj_dict_value(const unsigned char *data, int32_t size, const pdfp_obj *obj, const char *key,
                    const unsigned char **buf, int32_t *vs, int32_t *ve);
// Where the entry's value begins (past its header and whitespace) in *buf,
// bounded by *end, or -1 when it has none.
int32_t obj_value_at(const unsigned char *data, int32_t size, const pdfp_obj *obj, const unsigned char **buf,
                     int32_t *end);
// The entry that the value [vs, ve) of b names when the value is exactly
// one reference "N G R", else null.
const pdfp_obj *obj_named_by(const pdfp_objvec *objs, const unsigned char *b, int32_t vs, int32_t ve);
// What obj_type finds: a top-level /Type /Page, /Type /Pages, or neither.
enum obj_kind { OBJ_OTHER = 0, OBJ_PAGE = 1, OBJ_PAGES = 2 };
// The kind of an entry, by the first top-level /Type in its text region
// whose value is a name beginning with "Page".
int obj_type(const unsigned char *data, int32_t len, const pdfp_obj *obj);
// Offset of the value of the object whose header "N G obj" starts at hdr:
// past the two numbers, the keyword and the whitespace behind it. Where the
// keyword does not follow the numbers (the scan also reads a header whose
// parts a vertical tab separates), the offset where reading stopped. -1
// when no number stands at hdr.
int32_t obj_value_start(const unsigned char *data, int32_t size, int32_t hdr);

// The /Length that a stream entry of the file states, directly or through
// the object it names, or -1 when it states none that can be read. Where
// it differs from data_len, the length was recovered.
int32_t pdfp_stream_stated_length(const pdfp_doc *doc, const pdfp_obj *obj);

// ---------------------------------------------------------------------------
// Page model (pages.cpp, content.cpp)
// ---------------------------------------------------------------------------

// The object's own /Rotate reduced into 0..359, or -1 when it has none.
int32_t obj_rotate_own(const unsigned char *data, int32_t len, const pdfp_obj *obj);
// What the ancestors hand down, remembered for pdfp_page_resources_dict_deep
// (one per document and caller, made and freed by these two), so that the
// pages of a node with 100,000 kids do not read that node once each.
struct pdfp_res_memo;
pdfp_res_memo *pdfp_res_memo_new();
void pdfp_res_memo_free(pdfp_res_memo *memo);
// The resources dictionary text of the object whose bytes end text (a
// file object: the file up to the end of its text region; an object-stream
// object: its text), or of the nearest of up to depth ancestors that has
// one: malloc'd and NUL-terminated, the caller frees it; null when there is
// none. memo may be null (nothing remembered).
char *pdfp_page_resources_dict_deep(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                                    const unsigned char *text, int32_t text_len, int depth,
                                    pdfp_res_memo *memo = nullptr);
// The page's /Contents decoded and joined: 1 with a malloc'd block in *out
// (the caller frees it; null with *out_len 0 for a page that draws
// nothing), 0 on failure (*out null, *out_len 0).
int pdfp_get_page_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const pdfp_obj *page, unsigned char **out, int32_t *out_len);

// A page's one content stream as it is stored.
struct pdfp_raw_content {
    const unsigned char *bytes;  // the stored data, in the file
    int32_t len;
    // The file ranges of the stream dictionary's /Filter and /DecodeParms
    // values; -1 when absent (a null /Filter counts as absent, and
    // /DecodeParms is only read beside a /Filter).
    int32_t filter_at, filter_end;
    int32_t parms_at, parms_end;
};
// 1 with *rc filled when the page's /Contents names one stream object,
// however its data is encoded (the data is not looked at); 0 for every
// other /Contents (absent, null, an array, a dictionary in place, an
// object that is no stream).
int pdfp_page_raw_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                          pdfp_raw_content *rc);

// The elements of a /Contents array, and those passed over because they
// name no object or no stream that can be read.
struct pdfp_content_parts {
    int32_t listed;
    int32_t dropped;
};

// What the form that wraps a page carries of its content: the one stream
// that /Contents names, as it is stored, or else the content decoded and
// joined.
struct pdfp_page_content {
    bool is_stored;            // stored holds the one stream, as pdfp_page_raw_content gives it
    pdfp_raw_content stored;
    // Otherwise the content as pdfp_get_page_content gives it (malloc'd,
    // the caller frees it; null with joined_len 0 for a page that draws
    // nothing), and whether a stream of a /Contents array named a /Filter:
    // the joined content was stored encoded.
    unsigned char *joined;
    int32_t joined_len;
    bool filtered;
    pdfp_content_parts parts;  // of a /Contents array; zero otherwise
};
// Reads the page's /Contents once into *pc: 1 on success, 0 on failure
// (nothing to free).
int pdfp_page_content_read(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                           pdfp_page_content *pc);

// ---------------------------------------------------------------------------
// References (refs.cpp)
// ---------------------------------------------------------------------------

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
// Stream decoding (decode.cpp)
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

// The bytes of a stream entry after its filters, or null: decoded bytes
// are appended to buf (valid until buf changes), a stream without a filter
// points into file. *byte_count receives their count.
const unsigned char *pdfp_decoded_stream(const pdfp_obj *obj, const unsigned char *file,
                                         int32_t file_len, pdfp_buf *buf, int32_t *byte_count);

// Decodes raw stream data through the /Filter chain (and /DecodeParms)
// named in the dictionary bytes buf[from, to). Returns 1 with the decoded
// bytes appended to out, 0 when the dictionary names no filter (out
// untouched), -1 when a filter is unknown or refuses the data (out's len
// unchanged). No stage produces more than limit bytes (a stage that would
// fails).
int pdfp_decode_filters(const unsigned char *buf, int32_t from, int32_t to,
                        const unsigned char *raw, int32_t raw_len, pdfp_buf *out,
                        uint64_t limit = MAX_DECODED_BYTES);

#endif
