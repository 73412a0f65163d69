// Stream filters other than Flate (LZW, ASCII85, ASCIIHex, run-length),
// the PNG and TIFF predictors that follow Flate and LZW, and the reading of
// /Filter and /DecodeParms from a stream dictionary. Every decoder appends
// to a pdfp_buf, so its output grows by doubling and stops at
// MAX_DECODED_BYTES bytes instead of growing without bound.
#include <cstring>

#include "filters.h"
#include "scan.h"

namespace {

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

// Room for n more bytes after out->len, within the limit counted from start.
bool room(pdfp_buf *out, uint64_t start, uint64_t n, uint64_t limit) {
    if (out->len - start + n > limit) return false;
    if (out->data && out->len + n < out->cap) return true;
    return pdfp_buf_reserve(out, n) && out->data;
}

void put_byte(pdfp_buf *out, unsigned char c) { out->data[out->len++] = c; }

int finish(pdfp_buf *out) {
    if (!room(out, out->len, 0, MAX_DECODED_BYTES)) return -1;  // an empty output still gets storage
    out->data[out->len] = 0;
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// LZW: 9- to 12-bit codes, high bit first; 256 clears the table, 257 ends.
// ---------------------------------------------------------------------------

namespace {

constexpr int LZW_CLEAR = 256;
constexpr int LZW_EOD = 257;
constexpr int LZW_FIRST = 258;
constexpr int LZW_SIZE = 4096;

struct lzw_table {
    uint16_t prefix[LZW_SIZE];
    uint16_t length[LZW_SIZE];
    unsigned char suffix[LZW_SIZE];
    unsigned char first[LZW_SIZE];
};

// Writes the string of code c, last byte first along the prefix chain.
bool lzw_emit(const lzw_table *t, int c, pdfp_buf *out, uint64_t start, uint64_t limit) {
    uint16_t n = t->length[c];
    if (!room(out, start, n, limit)) return false;
    unsigned char *p = out->data + out->len + n;
    for (uint16_t k = 0; k < n; ++k) {
        *--p = t->suffix[c];
        c = t->prefix[c];
    }
    out->len += n;
    return true;
}

}  // namespace

int lzw_decode(const unsigned char *src, uint64_t n, int early_change, pdfp_buf *out, uint64_t limit) {
    lzw_table t;
    for (int c = 0; c < 256; ++c) {
        t.prefix[c] = 0;
        t.length[c] = 1;
        t.suffix[c] = t.first[c] = static_cast<unsigned char>(c);
    }
    uint64_t start = out->len, pos = 0;
    uint32_t bits = 0;
    int nbits = 0, width = 9, next = LZW_FIRST, prev = -1;
    for (;;) {
        while (nbits < width && pos < n) {
            bits = (bits << 8) | src[pos++];
            nbits += 8;
        }
        if (nbits < width) break;  // data ending without the end code still means its bytes
        int code = static_cast<int>((bits >> (nbits - width)) & ((1u << width) - 1));
        nbits -= width;
        if (code == LZW_CLEAR) {
            width = 9;
            next = LZW_FIRST;
            prev = -1;
            continue;
        }
        if (code == LZW_EOD) break;
        if (prev < 0 ? code > 255 : code > next) return -1;  // a code no encoder can have sent
        if (prev >= 0 && next < LZW_SIZE) {
            // The new entry is the previous string plus the first byte of this one,
            // which for code == next is the previous string's own first byte.
            t.prefix[next] = static_cast<uint16_t>(prev);
            t.length[next] = static_cast<uint16_t>(t.length[prev] + 1);
            t.first[next] = t.first[prev];
            t.suffix[next] = code < next ? t.first[code] : t.first[prev];
            ++next;
            if (next + early_change >= (1 << width) && width < 12) ++width;
        }
        if (!lzw_emit(&t, code, out, start, limit)) return -1;
        prev = code;
    }
    return finish(out);
}

// ---------------------------------------------------------------------------
// ASCII85, ASCIIHex, run-length
// ---------------------------------------------------------------------------

int a85_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit) {
    uint64_t start = out->len, pos = 0;
    while (pos < n && is_pdf_ws(src[pos])) ++pos;
    // PostScript's opening bracket, which some producers keep.
    if (pos + 1 < n && src[pos] == '<' && src[pos + 1] == '~') pos += 2;
    uint64_t value = 0;
    int k = 0;
    for (; pos < n; ++pos) {
        unsigned char c = src[pos];
        if (is_pdf_ws(c)) continue;
        if (c == '~') break;  // the end marker; a missing '>' after it is harmless
        if (c == 'z' && k == 0) {
            if (!room(out, start, 4, limit)) return -1;
            for (int j = 0; j < 4; ++j) put_byte(out, 0);
            continue;
        }
        if (c < '!' || c > 'u') return -1;
        value = value * 85 + (c - '!');
        if (++k < 5) continue;
        if (value > 0xFFFFFFFFu || !room(out, start, 4, limit)) return -1;
        for (int j = 3; j >= 0; --j) put_byte(out, static_cast<unsigned char>(value >> (8 * j)));
        value = 0;
        k = 0;
    }
    // Data ending without "~>" keeps its groups: the marker carries no bytes.
    if (k == 1) return -1;  // one digit cannot encode a byte
    if (k > 1) {
        for (int j = k; j < 5; ++j) value = value * 85 + 84;
        if (value > 0xFFFFFFFFu || !room(out, start, 4, limit)) return -1;
        for (int j = 0; j < k - 1; ++j) put_byte(out, static_cast<unsigned char>(value >> (24 - 8 * j)));
    }
    return finish(out);
}

int ahx_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit) {
    uint64_t start = out->len;
    int high = -1;
    for (uint64_t pos = 0; pos < n; ++pos) {
        unsigned char c = src[pos];
        if (is_pdf_ws(c)) continue;
        if (c == '>') break;  // without the '>' the data simply ends at its last digit
        int v = hex_value(c);
        if (v < 0) return -1;
        if (high < 0) {
            high = v;
            continue;
        }
        if (!room(out, start, 1, limit)) return -1;
        put_byte(out, static_cast<unsigned char>(high << 4 | v));
        high = -1;
    }
    if (high >= 0) {  // an odd final digit stands for its high half
        if (!room(out, start, 1, limit)) return -1;
        put_byte(out, static_cast<unsigned char>(high << 4));
    }
    return finish(out);
}

int rl_decode(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit) {
    uint64_t start = out->len, pos = 0;
    while (pos < n) {
        unsigned run = src[pos++];
        if (run == 128) break;
        if (run < 128) {
            // A literal run cut short by the end of the data keeps the bytes present.
            uint64_t count = run + 1 < n - pos ? run + 1 : n - pos;
            if (!room(out, start, count, limit)) return -1;
            std::memcpy(out->data + out->len, src + pos, count);
            out->len += count;
            pos += count;
        } else {
            if (pos >= n) break;  // a repeat without its byte carries nothing
            if (!room(out, start, 257 - run, limit)) return -1;
            std::memset(out->data + out->len, src[pos++], 257 - run);
            out->len += 257 - run;
        }
    }
    return finish(out);
}

// ---------------------------------------------------------------------------
// Predictors
// ---------------------------------------------------------------------------

namespace {

int paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// PNG rows are a type byte and rowbytes bytes; decoding in place moves each
// row forward by one byte per row, and never over bytes still to be read.
int undo_png(unsigned char *d, uint64_t n, uint64_t rowbytes, uint64_t bpp, uint64_t *out_n) {
    uint64_t in = 0, w = 0;
    while (in < n) {
        int type = d[in++];
        // A last row cut short is decoded as far as it goes.
        uint64_t count = n - in < rowbytes ? n - in : rowbytes;
        const unsigned char *up = w >= rowbytes ? d + w - rowbytes : nullptr;
        if (type > 4) return -1;
        for (uint64_t j = 0; j < count; ++j) {
            int x = d[in + j];
            int a = j >= bpp ? d[w + j - bpp] : 0;
            int b = up ? up[j] : 0;
            int c = up && j >= bpp ? up[j - bpp] : 0;
            if (type == 1) x += a;
            else if (type == 2) x += b;
            else if (type == 3) x += (a + b) / 2;
            else if (type == 4) x += paeth(a, b, c);
            d[w + j] = static_cast<unsigned char>(x);
        }
        in += count;
        w += count;
    }
    *out_n = w;
    return 1;
}

unsigned sample_at(const unsigned char *row, uint64_t k, int bpc) {
    if (bpc == 8) return row[k];
    if (bpc == 16) return static_cast<unsigned>(row[2 * k] << 8 | row[2 * k + 1]);
    uint64_t bit = k * bpc;
    int shift = 8 - bpc - static_cast<int>(bit % 8);
    return (row[bit / 8] >> shift) & ((1u << bpc) - 1);
}

void set_sample(unsigned char *row, uint64_t k, int bpc, unsigned v) {
    if (bpc == 8) {
        row[k] = static_cast<unsigned char>(v);
    } else if (bpc == 16) {
        row[2 * k] = static_cast<unsigned char>(v >> 8);
        row[2 * k + 1] = static_cast<unsigned char>(v);
    } else {
        uint64_t bit = k * bpc;
        int shift = 8 - bpc - static_cast<int>(bit % 8);
        unsigned mask = ((1u << bpc) - 1) << shift;
        row[bit / 8] = static_cast<unsigned char>((row[bit / 8] & ~mask) | ((v << shift) & mask));
    }
}

// TIFF predictor 2: each sample is stored as its difference from the same
// component of the pixel to its left.
void undo_tiff(unsigned char *d, uint64_t n, uint64_t rowbytes, const pdfp_filter *f) {
    unsigned mask = f->bpc == 16 ? 0xFFFFu : (1u << f->bpc) - 1;
    uint64_t per_row = static_cast<uint64_t>(f->colors) * f->columns;
    for (uint64_t r = 0; r < n; r += rowbytes) {
        uint64_t avail = n - r < rowbytes ? n - r : rowbytes;
        // Only the samples wholly inside a cut-short last row are decoded.
        uint64_t samples = avail * 8 / f->bpc < per_row ? avail * 8 / f->bpc : per_row;
        for (uint64_t k = f->colors; k < samples; ++k)
            set_sample(d + r, k, f->bpc,
                       (sample_at(d + r, k, f->bpc) + sample_at(d + r, k - f->colors, f->bpc)) & mask);
    }
}

}  // namespace

int undo_predictor(pdfp_buf *out, uint64_t start, const pdfp_filter *f) {
    if (f->predictor < 2 || out->len <= start) return 1;
    uint64_t pixel_bits = static_cast<uint64_t>(f->colors) * f->bpc;
    uint64_t rowbytes = (pixel_bits * f->columns + 7) / 8;
    unsigned char *d = out->data + start;
    uint64_t n = out->len - start;
    if (f->predictor == 2) {
        undo_tiff(d, n, rowbytes, f);
        return 1;
    }
    uint64_t produced = 0;
    if (undo_png(d, n, rowbytes, (pixel_bits + 7) / 8, &produced) < 0) return -1;
    out->len = start + produced;
    out->data[out->len] = 0;
    return 1;
}

// ---------------------------------------------------------------------------
// /Filter and /DecodeParms
// ---------------------------------------------------------------------------

namespace {

bool is_null(const unsigned char *b, int32_t p, int32_t e) { return e - p == 4 && std::memcmp(b + p, "null", 4) == 0; }

struct filter_name {
    const char *name;
    int kind;
};

constexpr filter_name FILTER_NAMES[] = {
    {"FlateDecode", PDFP_FLATE}, {"Fl", PDFP_FLATE},       {"LZWDecode", PDFP_LZW},
    {"LZW", PDFP_LZW},           {"ASCIIHexDecode", PDFP_AHX}, {"AHx", PDFP_AHX},
    {"ASCII85Decode", PDFP_A85}, {"A85", PDFP_A85},        {"RunLengthDecode", PDFP_RL},
    {"RL", PDFP_RL},             {"Crypt", PDFP_CRYPT},
};

// Appends the filter named by the token at [p, e); false when it is not a known name.
bool add_filter(const unsigned char *b, int32_t p, int32_t e, pdfp_filter_chain *chain) {
    if (b[p] != '/' || chain->count >= PDFP_MAX_FILTERS) return false;
    for (const filter_name &fn : FILTER_NAMES) {
        if (name_is(b, p, e, fn.name)) {
            chain->f[chain->count++] = {fn.kind, 1, 1, 8, 1, 1};
            return true;
        }
    }
    return false;
}

bool takes_parms(const pdfp_filter *f) { return f->kind == PDFP_FLATE || f->kind == PDFP_LZW; }

// A direct integer value of key in the dictionary [p, e), or def when absent
// or null; false for anything else (an indirect value cannot be read here).
bool parm_int(const unsigned char *b, int32_t p, int32_t e, const char *key, int32_t def, int32_t *out) {
    int32_t vs, ve;
    *out = def;
    if (!dict_value(b, p, e, key, &vs, &ve) || is_null(b, vs, ve)) return true;
    int32_t pos = vs;
    int32_t v = parse_int_at(b, ve, &pos);
    if (pos != ve) return false;  // a reference, a real number or garbage
    *out = v;
    return true;
}

// Reads the parameter dictionary [p, e) into f; false for values no encoder writes.
bool read_parm_dict(const unsigned char *b, int32_t p, int32_t e, pdfp_filter *f) {
    if (!parm_int(b, p, e, "Predictor", 1, &f->predictor) || !parm_int(b, p, e, "Colors", 1, &f->colors) ||
        !parm_int(b, p, e, "BitsPerComponent", 8, &f->bpc) || !parm_int(b, p, e, "Columns", 1, &f->columns) ||
        !parm_int(b, p, e, "EarlyChange", 1, &f->early_change))
        return false;
    if (f->early_change != 0 && f->early_change != 1) return false;
    if (f->predictor == 1) return true;
    if (f->predictor != 2 && (f->predictor < 10 || f->predictor > 15)) return false;
    // No colour space has more than a few dozen components.
    if (f->colors < 1 || f->colors > 256 || f->columns < 1) return false;
    if (f->bpc != 1 && f->bpc != 2 && f->bpc != 4 && f->bpc != 8 && f->bpc != 16) return false;
    uint64_t rowbytes = (static_cast<uint64_t>(f->colors) * f->bpc * f->columns + 7) / 8;
    return rowbytes <= MAX_DECODED_BYTES;
}

// Parameters for a filter from the object at [p, e): a dictionary, null, or
// anything else, which is acceptable only for a filter that takes none.
bool parms_for(const unsigned char *b, int32_t p, int32_t e, pdfp_filter *f) {
    if (is_null(b, p, e)) return true;
    bool dict = b[p] == '<' && p + 1 < e && b[p + 1] == '<';
    if (!takes_parms(f)) return true;
    return dict && read_parm_dict(b, p, e, f);
}

bool read_parms(const unsigned char *b, int32_t vs, int32_t ve, pdfp_filter_chain *chain) {
    if (b[vs] != '[') {
        if (chain->count == 1) return parms_for(b, vs, ve, &chain->f[0]);
        // One value for several filters cannot be matched to one of them: it is
        // harmless only when no filter takes parameters or it changes nothing.
        bool any = false;
        for (int32_t i = 0; i < chain->count; ++i) any = any || takes_parms(&chain->f[i]);
        pdfp_filter probe = {PDFP_FLATE, 1, 1, 8, 1, 1};
        return !any || (parms_for(b, vs, ve, &probe) && probe.predictor == 1 && probe.early_change == 1);
    }
    int32_t p = vs + 1;
    for (int32_t i = 0;; ++i) {
        p = skip_ws_comments(b, p, ve);
        if (p >= ve || b[p] == ']') return true;  // missing entries keep their defaults
        int32_t e = value_end(b, p, ve);
        if (e < 0) return false;
        if (i < chain->count && !parms_for(b, p, e, &chain->f[i])) return false;
        p = e;
    }
}

}  // namespace

int parse_filters(const unsigned char *buf, int32_t from, int32_t to, pdfp_filter_chain *chain) {
    chain->count = 0;
    int32_t vs, ve;
    if (!dict_value(buf, from, to, "Filter", &vs, &ve) || is_null(buf, vs, ve)) return 0;
    if (buf[vs] == '[') {
        for (int32_t p = skip_ws_comments(buf, vs + 1, ve); p < ve && buf[p] != ']'; p = skip_ws_comments(buf, p, ve)) {
            int32_t e = object_end(buf, p, ve);
            if (e < 0 || !add_filter(buf, p, e, chain)) return -1;
            p = e;
        }
    } else if (!add_filter(buf, vs, ve, chain)) {
        return -1;  // an unknown name, or a value (such as a reference) that names no filter here
    }
    if (chain->count == 0) return 0;
    if (dict_value(buf, from, to, "DecodeParms", &vs, &ve) && !read_parms(buf, vs, ve, chain)) return -1;
    return chain->count;
}
