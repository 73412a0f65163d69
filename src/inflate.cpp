// inflate: decodes zlib-format Flate data (RFC 1950 header, RFC 1951 body)
// straight into the caller's array, without allocating.
//
// The results are those of the plain bit-at-a-time canonical decoder: the
// same result code, count and bytes on good, damaged and cut-short input.
// Speed comes from lookup tables over a 64-bit bit buffer instead (about 1.7
// times zlib's uncompress on PDF streams, see bench/bench_inflate.cpp); the
// one thing that needs care for that is the end of the input (see need_bits
// and decode_entry): bits that were peeked at but not used never fail a call.
//
// Damaged data ends decoding early with the bytes decoded so far (result 0):
// a PDF page whose stream is broken near its end still shows what came before.
// Running out of input or out of output space fails the call (-1), since the
// caller may try again with more room and a partial result would hide that.
#include "inflate.h"

#include <cstring>

#include "flate_format.h"

namespace {

using namespace flate;

// How a block, or the whole call, ended.
enum inflate_status {
    ST_OK = 0,        // block ended at its end-of-block symbol
    ST_FAIL = -1,     // input ran out or output did not fit: the call fails
    ST_DAMAGED = -2,  // damaged data: decoding stops with the bytes so far
    ST_MORE = 1,      // within a block: more symbols follow
};

struct inflate_state {
    unsigned char *out;
    uint32_t out_cap;
    uint32_t out_len;
    const unsigned char *in;  // after the two header bytes
    uint64_t in_len;
    uint64_t in_pos;
    // Bits not yet used, lowest first. Bits above bit_count are either zero or
    // the true next input bits (a refill may load a byte before counting it).
    uint64_t bit_buf;
    unsigned bit_count;
};

// ---- bit input -------------------------------------------------------------

// Tops the bit buffer up to at least 56 bits, or with all that the input has.
inline void refill(inflate_state *s) {
    if (s->in_len - s->in_pos >= 8) {
        // Whole bytes that fit are counted; the rest of the word stays above
        // bit_count as true next bits, which the next refill ORs in again.
        s->bit_buf |= load_le64(s->in + s->in_pos) << s->bit_count;
        s->in_pos += (63 - s->bit_count) >> 3;
        s->bit_count |= 56;
        return;
    }
    while (s->bit_count < 56 && s->in_pos < s->in_len) {
        s->bit_buf |= uint64_t(s->in[s->in_pos++]) << s->bit_count;
        s->bit_count += 8;
    }
}

// True when n (at most 56) more bits exist; false means a bit-at-a-time reader
// would have run past the end of the input while reading them.
inline bool need_bits(inflate_state *s, unsigned n) {
    if (s->bit_count < n) refill(s);
    return s->bit_count >= n;
}

// Returns the next n bits (n <= bit_count) and drops them.
inline unsigned take_bits(inflate_state *s, unsigned n) {
    unsigned v = unsigned(s->bit_buf & ((uint64_t(1) << n) - 1));
    s->bit_buf >>= n;
    s->bit_count -= n;
    return v;
}

// ---- canonical codes -------------------------------------------------------

// A canonical Huffman code: codes per length and symbols in code order.
struct huffman_table {
    int16_t count[MAXBITS + 1];
    int16_t symbol[FIXLCODES];
};

// Builds h from n code lengths. Returns 0 for a complete code (or one without
// any symbols), a positive count of unused codes for an incomplete code, and a
// negative value for an over-subscribed one.
int construct(huffman_table *h, const int16_t *length, int n) {
    for (int len = 0; len <= MAXBITS; len++) h->count[len] = 0;
    for (int sym = 0; sym < n; sym++) h->count[length[sym]]++;
    if (h->count[0] == n) return 0;

    int left = 1;
    for (int len = 1; len <= MAXBITS; len++) {
        left <<= 1;
        left -= h->count[len];
        if (left < 0) return left;
    }
    int16_t offs[MAXBITS + 1];
    offs[1] = 0;
    for (int len = 1; len < MAXBITS; len++) offs[len + 1] = int16_t(offs[len] + h->count[len]);
    for (int sym = 0; sym < n; sym++)
        if (length[sym] != 0) h->symbol[offs[length[sym]]++] = int16_t(sym);
    return left;
}

// ---- lookup tables ---------------------------------------------------------
//
// A table is indexed by the next `root` input bits. Codes up to root bits fill
// every slot that starts with them; longer codes go to a subtable linked from
// the slot of their first root bits. One 32-bit entry says:
//   bits 0-4   bits the code uses in all (root and subtable bits together);
//              bits 5-7 are zero, so that the mask of a 64-bit shift's count
//              (which x86 applies by itself) takes the length out
//   bits 8-11  extra bits after the code; for a link, the subtable's index bits
//   bits 12-14 kind (below)
//   bits 16-31 value: literal byte, base length or distance, symbol, or the
//              subtable's offset for a link

enum entry_kind { K_LITERAL = 0, K_VALUE = 1, K_END = 2, K_BAD = 3, K_LINK = 4 };

constexpr uint32_t make_entry(unsigned kind, unsigned extra, unsigned value, unsigned len) {
    return len | (extra << 8) | (kind << 12) | (value << 16);
}
inline unsigned entry_len(uint32_t e) { return e & 63; }
inline unsigned entry_extra(uint32_t e) { return (e >> 8) & 15; }
inline unsigned entry_kind_of(uint32_t e) { return (e >> 12) & 7; }
inline unsigned entry_value(uint32_t e) { return e >> 16; }

// Bit patterns that start no code: a bit-serial decoder reads all 15 bits
// before it gives up, so that is what such a slot needs from the input.
constexpr uint32_t NO_CODE = make_entry(K_BAD, 0, 0, MAXBITS);

constexpr unsigned LIT_ROOT = 10;
constexpr unsigned DIST_ROOT = 8;
constexpr unsigned CL_ROOT = MAXCLBITS;  // every code-length code fits the root
// Only complete codes have codes longer than the root (the incomplete ones that
// are accepted have a single code of one bit). In a complete code every
// subtable holds at least two codes and has at most 2^(15 - root) slots.
constexpr unsigned LIT_ENOUGH = (1u << LIT_ROOT) + (MAXLCODES / 2) * (1u << (MAXBITS - LIT_ROOT));
constexpr unsigned DIST_ENOUGH = (1u << DIST_ROOT) + (MAXDCODES / 2) * (1u << (MAXBITS - DIST_ROOT));

enum code_use { LITLEN_CODE, DIST_CODE, CLEN_CODE };

uint32_t symbol_entry(code_use use, int sym, unsigned len) {
    if (use == CLEN_CODE) return make_entry(K_VALUE, 0, unsigned(sym), len);
    if (use == DIST_CODE) return make_entry(K_VALUE, dext[sym], dists[sym], len);
    if (sym < 256) return make_entry(K_LITERAL, 0, unsigned(sym), len);
    if (sym == 256) return make_entry(K_END, 0, 0, len);
    if (sym > 285) return make_entry(K_BAD, 0, 0, len);  // 286, 287: fixed code only
    return make_entry(K_VALUE, lext[sym - 257], lens[sym - 257], len);
}

// Index bits of the subtable that starts with a code of length len: the fewest
// that the remaining codes (rem, by length) fill.
unsigned subtable_bits(const int *rem, unsigned len, unsigned root) {
    unsigned cur = len - root;
    int left = 1 << cur;
    while (cur + root < MAXBITS) {
        left -= rem[cur + root];
        if (left <= 0) break;
        cur++;
        left <<= 1;
    }
    return cur;
}

void fill(uint32_t *t, unsigned n, uint32_t e) {
    for (unsigned i = 0; i < n; i++) t[i] = e;
}

// Fills table (cap entries) for the code h. Returns false if it does not fit,
// which the bound above rules out for every code that is accepted.
bool build_lookup(uint32_t *table, unsigned cap, unsigned root, const huffman_table *h,
                  code_use use) {
    const unsigned size = 1u << root;
    int rem[MAXBITS + 1], left = 1;
    for (int len = 0; len <= MAXBITS; len++) rem[len] = h->count[len];
    for (int len = 1; len <= MAXBITS; len++) left = 2 * left - rem[len];
    const bool complete = left == 0;
    if (!complete) fill(table, size, NO_CODE);  // a complete code covers every slot

    unsigned used = size, code = 0, idx = 0;
    unsigned sub_prefix = ~0u, sub_off = 0, sub_bits = 0;
    for (unsigned len = 1; len <= MAXBITS; len++, code <<= 1) {
        for (int k = 0; k < h->count[len]; k++, code++, rem[len]--) {
            uint32_t e = symbol_entry(use, h->symbol[idx++], len);
            unsigned rev = reverse_bits(code, len);
            if (len <= root) {
                for (unsigned i = rev; i < size; i += 1u << len) table[i] = e;
                continue;
            }
            if ((rev & (size - 1)) != sub_prefix) {
                sub_prefix = rev & (size - 1);
                sub_bits = subtable_bits(rem, len, root);
                if (used + (1u << sub_bits) > cap) return false;
                sub_off = used;
                used += 1u << sub_bits;
                if (!complete) fill(table + sub_off, 1u << sub_bits, NO_CODE);
                table[sub_prefix] = make_entry(K_LINK, sub_bits, sub_off, root);
            }
            for (unsigned i = rev >> root; i < (1u << sub_bits); i += 1u << (len - root))
                table[sub_off + i] = e;
        }
    }
    return true;
}

// Looks up the entry for the bits at the bottom of bb, following a link.
inline uint32_t lookup(const uint32_t *table, unsigned root, uint64_t bb) {
    uint32_t e = table[bb & ((1u << root) - 1)];
    if (entry_kind_of(e) == K_LINK)
        e = table[entry_value(e) + ((bb >> root) & ((1u << entry_extra(e)) - 1))];
    return e;
}

// Looks up the next code. Returns false when the input ends inside it: the
// code needs more bits than are left, or (for bits that start no code) fewer
// than 15 are left. Otherwise *e is the entry and its code bits are used.
inline bool decode_entry(inflate_state *s, const uint32_t *table, unsigned root, uint32_t *e) {
    if (s->bit_count < MAXBITS) refill(s);
    uint32_t t = lookup(table, root, s->bit_buf);
    if (entry_len(t) > s->bit_count) return false;
    s->bit_buf >>= entry_len(t);
    s->bit_count -= entry_len(t);
    *e = t;
    return true;
}

struct lit_lookup {
    uint32_t entry[LIT_ENOUGH];
};
struct dist_lookup {
    uint32_t entry[DIST_ENOUGH];
};

// ---- blocks ----------------------------------------------------------------

// Copies chunks of w bytes (w <= dist, len >= w). Each chunk reads bytes that
// are already final; the last one ends exactly at the match end, overlapping
// the one before, so nothing past the match is written.
template <unsigned w>
inline void copy_chunks(unsigned char *d, unsigned dist, unsigned len) {
    unsigned char *end = d + len;
    for (; end - d > w; d += w) std::memcpy(d, d - dist, w);
    std::memcpy(end - w, end - w - dist, w);
}

// Copies a match of len bytes from dist bytes back; overlapping copies repeat
// the recent bytes, as the format wants.
inline void copy_match(unsigned char *d, unsigned dist, unsigned len) {
    if (dist >= 8 && len >= 8) {
        copy_chunks<8>(d, dist, len);
    } else if (dist >= 4 && len >= 4) {
        copy_chunks<4>(d, dist, len);
    } else if (dist == 1) {
        std::memset(d, d[-1], len);
    } else {
        for (const unsigned char *from = d - dist; len--;) *d++ = *from++;
    }
}

// The careful step of codes: one literal or match, with every check of the
// end of the input and of the output.
int careful_symbol(inflate_state *s, const uint32_t *lit, const uint32_t *dist) {
    uint32_t e;
    if (!decode_entry(s, lit, LIT_ROOT, &e)) return ST_FAIL;
    unsigned kind = entry_kind_of(e);
    if (kind == K_LITERAL) {
        if (s->out_len == s->out_cap) return ST_FAIL;
        s->out[s->out_len++] = (unsigned char)entry_value(e);
        return ST_MORE;
    }
    if (kind == K_END) return ST_OK;
    if (kind == K_BAD) return ST_DAMAGED;

    if (!need_bits(s, entry_extra(e))) return ST_FAIL;
    unsigned len = entry_value(e) + take_bits(s, entry_extra(e));
    if (!decode_entry(s, dist, DIST_ROOT, &e)) return ST_FAIL;
    if (entry_kind_of(e) == K_BAD) return ST_DAMAGED;
    if (!need_bits(s, entry_extra(e))) return ST_FAIL;
    unsigned d = entry_value(e) + take_bits(s, entry_extra(e));
    if (d > s->out_len) return ST_DAMAGED;
    if (len > s->out_cap - s->out_len) return ST_FAIL;
    copy_match(s->out + s->out_len, d, len);
    s->out_len += len;
    return ST_MORE;
}

constexpr unsigned MAXMATCH = 258;
// The fast path may write this many bytes past a match's end (later output
// replaces them): matches then go out in whole chunks, without a tail.
constexpr unsigned COPY_OVERRUN = 16;

// Copies a match in the fast path. A distance of 8 or more lets each 8-byte
// chunk read bytes that are already final; shorter ones repeat a pattern.
inline void copy_match_fast(unsigned char *d, unsigned dist, unsigned len) {
    unsigned char *const end = d + len;
    if (dist >= 8) {
        const unsigned char *from = d - dist;
        do {
            std::memcpy(d, from, 8);
            std::memcpy(d + 8, from + 8, 8);
            d += 16;
            from += 16;
        } while (d < end);
    } else if (dist == 1) {
        uint64_t v = d[-1] * 0x0101010101010101ull;
        do {
            std::memcpy(d, &v, 8);
            std::memcpy(d + 8, &v, 8);
            d += 16;
        } while (d < end);
    } else {
        copy_match(d, dist, len);
    }
}

inline unsigned low_bits(uint64_t bb, unsigned n) { return unsigned(bb & ((1u << n) - 1)); }

// The fast path's bit input: the state's fields, held in locals while it runs.
struct fast_bits {
    const unsigned char *in;
    uint64_t pos, bb;
    unsigned bc;
};

// Holds at least 56 bits afterwards (see refill).
inline void refill_fast(fast_bits *f) {
    f->bb |= load_le64(f->in + f->pos) << f->bc;
    f->pos += (63 - f->bc) >> 3;
    f->bc |= 56;
}

inline void consume(fast_bits *f, unsigned k) {
    f->bb >>= k;
    f->bc -= k;
}

// The match whose length entry e was just decoded and consumed: copies it
// to out + *n and returns ST_MORE, or ST_DAMAGED.
inline int fast_match(fast_bits *f, const uint32_t *dist, uint32_t e, unsigned char *out, uint32_t *n) {
    // At least 11 bits remain, enough for the length's extra bits.
    unsigned len = entry_value(e) + low_bits(f->bb, entry_extra(e));
    consume(f, entry_extra(e));
    refill_fast(f);  // 16 bytes were left at the top; the first refill took at most 7
    e = lookup(dist, DIST_ROOT, f->bb);
    consume(f, entry_len(e));
    if (entry_kind_of(e) == K_BAD) return ST_DAMAGED;
    unsigned d = entry_value(e) + low_bits(f->bb, entry_extra(e));
    consume(f, entry_extra(e));
    if (d > *n) return ST_DAMAGED;
    copy_match_fast(out + *n, d, len);
    *n += len;
    return ST_MORE;
}

// The bulk of codes, while at least 16 input bytes and room for two literals
// and a longest match (and what its copy may write past its end) remain: no
// step can then run out of either, so no check of the ends is needed.
// Returns ST_MORE when near an end, else as codes.
int fast_codes(inflate_state *s, const uint32_t *lit, const uint32_t *dist) {
    fast_bits f{s->in, s->in_pos, s->bit_buf, s->bit_count};
    const uint64_t in_len = s->in_len;
    unsigned char *out = s->out;
    const uint32_t cap = s->out_cap;
    uint32_t n = s->out_len;
    int st = ST_MORE;
    while (st == ST_MORE && in_len - f.pos >= 16 && cap - n >= MAXMATCH + 2 + COPY_OVERRUN) {
        refill_fast(&f);
        uint32_t e = lookup(lit, LIT_ROOT, f.bb);
        // Up to three literals from one refill: each code takes at most 15
        // bits, and a lookup is safe while 15 bits are held.
        int k = 0;
        for (; k < 3 && entry_kind_of(e) == K_LITERAL; ++k) {
            consume(&f, entry_len(e));
            out[n++] = (unsigned char)entry_value(e);
            if (k < 2) e = lookup(lit, LIT_ROOT, f.bb);
        }
        if (k == 3) continue;
        consume(&f, entry_len(e));
        if (entry_kind_of(e) == K_VALUE)
            st = fast_match(&f, dist, e, out, &n);
        else
            st = entry_kind_of(e) == K_END ? ST_OK : ST_DAMAGED;
    }
    s->in_pos = f.pos;
    s->bit_buf = f.bb;
    s->bit_count = f.bc;
    s->out_len = n;
    return st;
}

// Decodes one block's literals, lengths and distances up to end-of-block.
// Returns ST_OK at the end of the block; ST_FAIL when the input ends or the
// output is full; ST_DAMAGED for bits that match no code, symbols 286/287,
// or a distance farther back than the output so far.
int codes(inflate_state *s, const uint32_t *lit, const uint32_t *dist) {
    int st;
    do {
        st = fast_codes(s, lit, dist);
        if (st == ST_MORE) st = careful_symbol(s, lit, dist);
    } while (st == ST_MORE);
    return st;
}

// Stored block: LEN, NLEN and LEN bytes, starting at the next byte boundary.
int stored(inflate_state *s) {
    // Give back the whole bytes still held; the partial one is dropped.
    s->in_pos -= s->bit_count >> 3;
    s->bit_buf = 0;
    s->bit_count = 0;
    if (s->in_len - s->in_pos < 4) return ST_FAIL;
    const unsigned char *p = s->in + s->in_pos;
    unsigned len = p[0] | (p[1] << 8);
    if (p[2] != (~p[0] & 0xff) || p[3] != (~p[1] & 0xff)) return ST_DAMAGED;
    s->in_pos += 4;
    if (len > s->in_len - s->in_pos) return ST_FAIL;
    if (len > s->out_cap - s->out_len) return ST_FAIL;
    if (len != 0) std::memcpy(s->out + s->out_len, s->in + s->in_pos, len);
    s->in_pos += len;
    s->out_len += len;
    return ST_OK;
}

struct fixed_tables {
    lit_lookup lit;
    dist_lookup dist;
};

fixed_tables build_fixed() {
    fixed_tables t;
    huffman_table h;
    int16_t length[FIXLCODES];
    int sym = 0;
    for (; sym < FIXLCODES; sym++) length[sym] = int16_t(fixed_length(sym));
    construct(&h, length, FIXLCODES);
    build_lookup(t.lit.entry, LIT_ENOUGH, LIT_ROOT, &h, LITLEN_CODE);
    // 30 five-bit codes leave two unused: they decode as damaged data.
    for (sym = 0; sym < MAXDCODES; sym++) length[sym] = FIXDBITS;
    construct(&h, length, MAXDCODES);
    build_lookup(t.dist.entry, DIST_ENOUGH, DIST_ROOT, &h, DIST_CODE);
    return t;
}

// Fixed codes: built once, on first use, race-free (a function-local static).
int fixed(inflate_state *s) {
    static const fixed_tables tables = build_fixed();
    return codes(s, tables.lit.entry, tables.dist.entry);
}

// Reads the HCLEN + 4 code-length code lengths and builds their lookup table.
int read_clen_code(inflate_state *s, unsigned ncode, uint32_t *table) {
    int16_t length[CLCODES] = {};
    for (unsigned i = 0; i < ncode; i++) {
        if (!need_bits(s, 3)) return ST_FAIL;
        length[order[i]] = int16_t(take_bits(s, 3));
    }
    huffman_table h;
    if (construct(&h, length, CLCODES) != 0) return ST_DAMAGED;  // must be complete
    build_lookup(table, 1u << CL_ROOT, CL_ROOT, &h, CLEN_CODE);
    return ST_OK;
}

// Reads n literal/length and distance code lengths as one sequence.
int read_lengths(inflate_state *s, const uint32_t *clen, int16_t *length, unsigned n) {
    unsigned index = 0;
    while (index < n) {
        uint32_t e;
        if (!decode_entry(s, clen, CL_ROOT, &e)) return ST_FAIL;
        if (entry_kind_of(e) == K_BAD) return ST_DAMAGED;
        unsigned sym = entry_value(e);
        if (sym < 16) {
            length[index++] = int16_t(sym);
            continue;
        }
        int16_t len = 0;
        unsigned rep;
        if (sym == 16) {
            if (index == 0) return ST_DAMAGED;  // no previous length to repeat
            len = length[index - 1];
            if (!need_bits(s, 2)) return ST_FAIL;
            rep = 3 + take_bits(s, 2);
        } else if (sym == 17) {
            if (!need_bits(s, 3)) return ST_FAIL;
            rep = 3 + take_bits(s, 3);
        } else {
            if (!need_bits(s, 7)) return ST_FAIL;
            rep = 11 + take_bits(s, 7);
        }
        if (index + rep > n) return ST_DAMAGED;
        while (rep--) length[index++] = len;
    }
    return ST_OK;
}

// A code is usable when complete, or incomplete with exactly one code of one
// bit (a block may need only one distance, or no literals at all).
bool usable_code(huffman_table *h, const int16_t *length, int n) {
    int left = construct(h, length, n);
    return left == 0 || (left > 0 && n == h->count[0] + h->count[1]);
}

struct dynamic_tables {
    lit_lookup lit;
    dist_lookup dist;
};

// Dynamic block: the code descriptions, then the data coded with them.
int dynamic(inflate_state *s) {
    if (!need_bits(s, 14)) return ST_FAIL;
    unsigned nlen = take_bits(s, 5) + 257;
    unsigned ndist = take_bits(s, 5) + 1;
    unsigned ncode = take_bits(s, 4) + 4;
    if (nlen > MAXLCODES || ndist > MAXDCODES) return ST_DAMAGED;

    uint32_t clen[1u << CL_ROOT];
    int st = read_clen_code(s, ncode, clen);
    if (st != ST_OK) return st;
    int16_t length[MAXCODES];
    st = read_lengths(s, clen, length, nlen + ndist);
    if (st != ST_OK) return st;
    if (length[256] == 0) return ST_DAMAGED;  // no end-of-block code

    huffman_table h;
    dynamic_tables t;
    if (!usable_code(&h, length, int(nlen))) return ST_DAMAGED;
    if (!build_lookup(t.lit.entry, LIT_ENOUGH, LIT_ROOT, &h, LITLEN_CODE)) return ST_DAMAGED;
    if (!usable_code(&h, length + nlen, int(ndist))) return ST_DAMAGED;
    if (!build_lookup(t.dist.entry, DIST_ENOUGH, DIST_ROOT, &h, DIST_CODE)) return ST_DAMAGED;
    return codes(s, t.lit.entry, t.dist.entry);
}

int blocks(inflate_state *s) {
    unsigned last;
    do {
        if (!need_bits(s, 3)) return ST_FAIL;
        last = take_bits(s, 1);
        unsigned type = take_bits(s, 2);
        int st = type == 0 ? stored(s) : type == 1 ? fixed(s) : type == 2 ? dynamic(s) : ST_DAMAGED;
        if (st != ST_OK) return st;
    } while (!last);
    return ST_OK;
}

}  // namespace

int inflate_decompress(const unsigned char *src, uint64_t src_len, unsigned char *dst,
                       uint64_t dst_cap, uint64_t *produced) {
    if (produced) *produced = 0;
    if (src == nullptr || src_len < 2 || dst_cap > INFLATE_MAX_OUTPUT) return -1;
    if ((src[0] & 0x0f) != 8) return -1;  // compression method must be deflate
    if (src[1] & 0x20) return -1;         // preset dictionaries are not supported
    // The window size and the header check value are not examined: producers
    // that get them wrong still write good deflate data. Adler-32 is not read.
    if (dst == nullptr) dst_cap = 0;
    inflate_state s = {dst, uint32_t(dst_cap), 0, src + 2, src_len - 2, 0, 0, 0};
    int st = blocks(&s);
    if (st == ST_FAIL) return -1;
    if (produced) *produced = s.out_len;
    return 0;
}
