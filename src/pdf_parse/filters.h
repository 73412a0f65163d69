// Stream filters inside the reader (decode.cpp, filters.cpp): reading a
// dictionary's /Filter chain, the byte filters other than Flate, the
// predictors, and the one inflate retry loop that stream decoding and the
// object-stream reader share.
//
// Results: 1 on success, -1 when the data is refused; parse_filters gives
// the number of filters, 0 for none.
#ifndef PDF_PARSE_FILTERS_H
#define PDF_PARSE_FILTERS_H

#include <algorithm>

#include "inflate.h"
#include "pdf_parse.h"

// ---------------------------------------------------------------------------
// /Filter and /DecodeParms (filters.cpp)
// ---------------------------------------------------------------------------

constexpr int PDFP_MAX_FILTERS = 16;

// PDFP_CRYPT is the /Crypt filter of an encrypted document, whose data the
// loader has decrypted already: it passes the data on unchanged.
enum pdfp_filter_kind { PDFP_FLATE, PDFP_LZW, PDFP_AHX, PDFP_A85, PDFP_RL, PDFP_CRYPT };

// One filter of a chain with its parameters (defaults when none given).
struct pdfp_filter {
    int kind;              // pdfp_filter_kind
    int32_t predictor;     // 1 none, 2 TIFF, 10..15 PNG
    int32_t colors;
    int32_t bpc;           // /BitsPerComponent
    int32_t columns;
    int32_t early_change;  // LZW only
};

struct pdfp_filter_chain {
    pdfp_filter f[PDFP_MAX_FILTERS];
    int32_t count;
};

// Reads the top-level /Filter and /DecodeParms of the dictionary that opens
// at buf[from] (bound to): the number of filters (> 0), 0 when none is
// named, -1 for an unknown, indirect or malformed filter or parameter.
int parse_filters(const unsigned char *buf, int32_t from, int32_t to, pdfp_filter_chain *chain);

// ---------------------------------------------------------------------------
// Byte filters and predictors (filters.cpp)
// ---------------------------------------------------------------------------

// Each appends its output to out (growing it by doubling) and returns 1, or
// -1 when it refuses the data or would pass limit output bytes; out->len may
// then have advanced and the caller restores it.
int lzw_decode(const unsigned char *src, uint64_t n, int early_change, pdfp_buf *out,
               uint64_t limit = MAX_DECODED_BYTES);
int a85_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit = MAX_DECODED_BYTES);
int ahx_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit = MAX_DECODED_BYTES);
int rl_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit = MAX_DECODED_BYTES);
// Undoes f's predictor in place on out's bytes from start on: 1, or -1 for
// a row the predictor cannot have written.
int undo_predictor(pdfp_buf *out, uint64_t start, const pdfp_filter *f);

// ---------------------------------------------------------------------------
// Inflate with growing room (decode.cpp)
// ---------------------------------------------------------------------------

// Deflate cannot expand more than 1032:1 (a 258-byte match costs at least
// two bits), so no room beyond this can make a failed attempt succeed.
inline uint64_t flate_cap_limit(uint64_t n) { return std::min<uint64_t>(1032 * (n + 1), INFLATE_MAX_OUTPUT); }

// Headers the decoder refuses whatever the room: no attempt is made.
inline bool flate_header_refused(const unsigned char *src, uint64_t n) {
    return n < 2 || (src[0] & 0x0F) != 8 || (src[1] & 0x20) != 0;
}

// The one inflate retry loop: room for first_cap bytes, then four times as
// much after each failed attempt (most often the output did not fit), up to
// most bytes and never beyond flate_cap_limit. room(cap) gives the block
// for an attempt (null: give up). 1 with *produced bytes in the last block
// given, else -1. Damaged data inside the stream is a success with the
// bytes before it.
template <typename Room>
int inflate_growing(const unsigned char *src, uint64_t n, uint64_t first_cap, uint64_t most, Room room,
                    uint64_t *produced) {
    const uint64_t limit = std::min(flate_cap_limit(n), most);
    uint64_t cap = std::min(first_cap, limit);
    *produced = 0;
    if (flate_header_refused(src, n)) return -1;
    for (;;) {
        unsigned char *dst = room(cap);
        if (!dst) return -1;
        if (inflate_decompress(src, n, dst, cap, produced) == 0) return 1;
        if (cap >= limit) return -1;
        cap = std::min(cap * 4, limit);
    }
}

#endif
