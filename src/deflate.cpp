// deflate: encodes bytes as zlib-format Flate data (RFC 1950 header and
// Adler-32, RFC 1951 blocks) into the caller's array.
//
// LZ77 over hash chains with lazy matching, at an effort below zlib's
// default level: 16 candidates per position (a quarter of them after a
// match of 8), a match of 48 bytes ends the search, one of 16 is taken
// without looking one byte further. On the corpus's page content and
// object streams that costs about 1 % of size against zlib's level 6 and
// is as fast as libdeflate's level 6 (bench/bench_deflate.cpp); 128
// candidates, zlib's own limit, won the last per cent at twice the time.
// What it gives up beyond that is what an optimal parse or cost-driven
// block splitting would win. Its speed comes from having the whole input in
// memory (no sliding window, tables sized to the input), chains of
// four-byte strings, and matches compared eight bytes at a time.
//
// The fast effort, for packed objects, is greedy over buckets of the two
// latest positions of each four-byte hash (no chains, no three-byte
// matches), and enters only the tail of a match longer than 32 bytes: on
// the writer's object streams about 2.2 times the standard effort's speed
// for 2 % more bytes (4.7 % on the corpus's own object streams, which
// repeat less; docs/flate.md).
//
// Every block of about BLOCK_SYMBOLS symbols is written in the smallest of
// its three forms: stored, fixed codes, or dynamic codes that are optimal
// under the format's length limits. The output depends on the input alone,
// never on the room given for it.
#include "deflate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "flate_format.h"

namespace {

using namespace flate;

// Limits of the format.
constexpr uint32_t WINDOW = 32768;     // farthest distance a match may reach back
constexpr unsigned MIN_MATCH = 3;
constexpr unsigned MAX_MATCH = 258;
constexpr uint32_t STORED_MAX = 65535;  // bytes in one stored block

// Effort: see the top of the file.
constexpr unsigned MAX_CHAIN = 16;     // candidates tried for one position
constexpr unsigned GOOD_LENGTH = 8;    // after a match this long, a quarter of them
constexpr unsigned LAZY_LENGTH = 16;   // a match this long is taken at once
constexpr unsigned NICE_LENGTH = 48;   // a match this long ends the search
constexpr uint32_t TOO_FAR = 4096;     // a 3-byte match farther back costs about its literals

// Layout of the work.
constexpr unsigned BLOCK_SYMBOLS = 16384;  // symbols gathered before a block is written
// One parse step adds at most this many symbols: literals while ever longer
// matches turn up one byte further (each at least one byte longer, up to
// LAZY_LENGTH), then the match.
constexpr unsigned STEP_SYMBOLS = LAZY_LENGTH;
constexpr unsigned MIN_TABLE_BITS = 8;
// Three-byte matches reach back at most TOO_FAR: a table of that many
// entries keeps them, and stays in the nearest cache.
constexpr unsigned MAX_HEAD3_BITS = 12;
constexpr uint32_t NO_POS = 0xffffffff;  // empty hash chain

// ---- symbol tables ---------------------------------------------------------

struct symbol_tables {
    uint8_t length_sym[MAX_MATCH + 1];  // match length -> length symbol - 257
    uint8_t dist_sym[512];              // see dist_symbol
};

constexpr symbol_tables make_symbol_tables() {
    symbol_tables t{};
    // Later symbols win: 258 has a symbol of its own (285), although 284
    // with its five extra bits would reach it.
    for (int s = 0; s < 29; s++)
        for (int len = lens[s]; len < lens[s] + (1 << lext[s]) && len <= int(MAX_MATCH); len++)
            t.length_sym[len] = uint8_t(s);
    for (int s = 0; s < MAXDCODES; s++)
        for (int d = dists[s]; d < dists[s] + (1 << dext[s]); d++)
            t.dist_sym[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)] = uint8_t(s);
    return t;
}
constexpr symbol_tables tables = make_symbol_tables();

// Distances beyond 256 share their symbol within runs of 128 (those symbols
// have at least seven extra bits), so 512 entries cover them all.
inline unsigned dist_symbol(unsigned d) {
    return tables.dist_sym[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)];
}

// ---- zlib wrapper ----------------------------------------------------------

// Adler-32 of the input (RFC 1950, 8.2): sums modulo 65521, reduced after
// 5552 bytes, the most for which the 32-bit second sum cannot overflow.
// Runs of 16 bytes are summed in 16 lanes that the compiler turns into
// vector adds: lane j adds up byte j of each run (sum) and, before that, its
// own sum so far (prior), which is what the runs before add to the second
// sum of the later ones.
uint32_t adler32(const unsigned char *p, uint64_t n) {
    constexpr uint32_t BASE = 65521;
    constexpr uint64_t NMAX = 5552;  // a multiple of the 16 lanes
    uint32_t a = 1, b = 0;
    while (n > 0) {
        uint64_t k = std::min(n, NMAX);
        n -= k;
        const uint32_t runs = uint32_t(k / 16);
        uint32_t sum[16] = {}, prior[16] = {};
        for (uint32_t r = 0; r < runs; r++, p += 16)
            for (int j = 0; j < 16; j++) prior[j] += sum[j], sum[j] += p[j];
        uint32_t s1 = 0, s2 = 0, weighted = 0;
        for (int j = 0; j < 16; j++) s1 += sum[j], s2 += prior[j], weighted += uint32_t(16 - j) * sum[j];
        // Each run adds 16 times a as it was before it, and byte j of it
        // 16 - j times to b.
        b += (16 * runs * a) % BASE + 16 * (s2 % BASE) + weighted;
        a += s1;
        for (k -= 16 * uint64_t(runs); k > 0; k--) a += *p++, b += a;
        a %= BASE;
        b %= BASE;
    }
    return b << 16 | a;
}

// ---- bit output ------------------------------------------------------------

// Bits go out lowest first; the caller has checked that a block fits before
// writing it, so the writer itself never checks.
struct bit_writer {
    unsigned char *out;
    uint64_t pos;    // whole bytes written
    uint64_t acc;    // pending bits, lowest first (none above count)
    unsigned count;  // pending bits, fewer than 32 between calls
};

inline void store_le64(unsigned char *p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

inline void put_bits(bit_writer *w, uint64_t bits, unsigned n) {
    w->acc |= bits << w->count;
    w->count += n;
    if (w->count >= 32) {
        for (int i = 0; i < 4; i++) w->out[w->pos + i] = (unsigned char)(w->acc >> (8 * i));
        w->pos += 4;
        w->acc >>= 32;
        w->count -= 32;
    }
}

// Writes the pending bits, the last byte padded with zeros.
void align(bit_writer *w) {
    for (; w->count > 0; w->count = w->count > 8 ? w->count - 8 : 0) {
        w->out[w->pos++] = (unsigned char)w->acc;
        w->acc >>= 8;
    }
}

// ---- codes -----------------------------------------------------------------

// A prefix code ready for output: codes bit-reversed, since Huffman codes
// go out most significant bit first into a stream written lowest bit first.
struct code_table {
    uint16_t code[FIXLCODES];
    uint8_t len[FIXLCODES];
};

// The canonical code (3.2.2) for the lengths t->len[0..n).
constexpr void assign_codes(code_table *t, int n) {
    int count[MAXBITS + 1] = {};
    for (int s = 0; s < n; s++) count[t->len[s]]++;
    count[0] = 0;
    unsigned next[MAXBITS + 1] = {}, code = 0;
    for (int len = 1; len <= MAXBITS; len++) next[len] = code = (code + unsigned(count[len - 1])) << 1;
    for (int s = 0; s < n; s++)
        if (t->len[s] != 0) t->code[s] = uint16_t(reverse_bits(next[t->len[s]]++, t->len[s]));
}

constexpr code_table make_fixed(bool distances) {
    code_table t{};
    int n = distances ? MAXDCODES : FIXLCODES;
    for (int s = 0; s < n; s++) t.len[s] = uint8_t(distances ? FIXDBITS : fixed_length(s));
    assign_codes(&t, n);
    return t;
}
constexpr code_table fixed_lit = make_fixed(false);
constexpr code_table fixed_dist = make_fixed(true);

// A dynamic code for freq[0..n). Format note: decoders reject incomplete
// codes (ours and zlib's take one exception, which others may not), so a
// code always gets two symbols at least, unused ones if need be.
void build_code(const uint32_t *freq, int n, int max_bits, code_table *t) {
    uint32_t f[FIXLCODES];
    std::copy(freq, freq + n, f);
    int used = int(std::count_if(f, f + n, [](uint32_t x) { return x != 0; }));
    for (int s = 0; used < 2; s++)
        if (f[s] == 0) f[s] = 1, used++;
    deflate_code_lengths(f, n, max_bits, t->len);
    assign_codes(t, n);
}

// Huffman's construction over the symbols sorted by frequency, with two
// queues (leaves, and the nodes made so far, which come out in order);
// returns the longest code. length[sym[i]] gets the depth of leaf i.
int huffman_depths(const uint32_t *freq, const int *sym, int m, uint8_t *length) {
    uint64_t weight[FIXLCODES];
    int parent[2 * FIXLCODES], li = 0, ni = 0;
    auto take = [&](int node) {
        bool leaf = ni == node || (li < m && freq[sym[li]] <= weight[ni]);
        int chosen = leaf ? li++ : m + ni++;
        parent[chosen] = m + node;
        return leaf ? uint64_t(freq[sym[chosen]]) : weight[chosen - m];
    };
    for (int node = 0; node < m - 1; node++) weight[node] = take(node) + take(node);
    uint8_t depth[2 * FIXLCODES];
    depth[2 * m - 2] = 0;
    int longest = 0;
    for (int k = 2 * m - 3; k >= 0; k--) {
        depth[k] = uint8_t(depth[parent[k]] + 1);
        if (k < m) length[sym[k]] = depth[k], longest = std::max<int>(longest, depth[k]);
    }
    return longest;
}

// Package-merge, for the codes that Huffman's construction makes too long:
// at each of max_bits levels, the symbols (as leaves) are merged with the
// pairs of the level below; the cheapest 2m - 2 items of the top level decide
// the lengths, one bit for every level a symbol takes part in.
void package_merge(const uint32_t *freq, const int *sym, int m, int max_bits, uint8_t *length) {
    constexpr int ITEMS = 2 * FIXLCODES;
    uint64_t weight[2][ITEMS];
    bool leaf[MAXBITS][ITEMS];
    int items[MAXBITS];
    for (int i = 0; i < m; i++) weight[0][i] = freq[sym[i]], leaf[0][i] = true;
    items[0] = m;
    for (int level = 1; level < max_bits; level++) {
        const uint64_t *below = weight[(level - 1) & 1];
        uint64_t *here = weight[level & 1];
        int pairs = items[level - 1] / 2, li = 0, pi = 0, k = 0;
        while (li < m || pi < pairs) {
            uint64_t pair = pi < pairs ? below[2 * pi] + below[2 * pi + 1] : 0;
            bool take_leaf = pi == pairs || (li < m && freq[sym[li]] <= pair);
            here[k] = take_leaf ? freq[sym[li++]] : (pi++, pair);
            leaf[level][k++] = take_leaf;
        }
        items[level] = k;
    }
    for (int i = 0; i < m; i++) length[sym[i]] = 0;
    for (int level = max_bits - 1, take = 2 * m - 2; level >= 0; level--) {
        int leaves = 0;
        for (int k = 0; k < take; k++) leaves += leaf[level][k];
        for (int i = 0; i < leaves; i++) length[sym[i]]++;
        take = 2 * (take - leaves);
    }
}

}  // namespace

void deflate_code_lengths(const uint32_t *freq, int n, int max_bits, uint8_t *length) {
    // Sorted by frequency, then symbol: as keys of both, which sort faster
    // than symbols compared through the frequencies.
    uint64_t key[FIXLCODES];
    int sym[FIXLCODES], m = 0;
    for (int s = 0; s < n; s++) {
        length[s] = 0;
        if (freq[s] != 0) key[m++] = uint64_t(freq[s]) << 9 | unsigned(s);
    }
    std::sort(key, key + m);
    for (int i = 0; i < m; i++) sym[i] = int(key[i] & 511);
    if (m < 2) {
        if (m == 1) length[sym[0]] = 1;
        return;
    }
    if (huffman_depths(freq, sym, m, length) > max_bits) package_merge(freq, sym, m, max_bits, length);
}

namespace {

// ---- blocks ----------------------------------------------------------------

// The symbols gathered for the block of input [start, end): a literal byte,
// or for a match MATCH_FLAG with its length symbol (less 257) and distance
// symbol, and the extra bits of each (see add_match), so that the writer
// looks up no symbol again.
struct block_symbols {
    uint32_t *sym;
    size_t count;  // not a uint32_t, which the stores to sym could change for all the compiler knows
    uint32_t start;
    uint32_t lit_freq[MAXLCODES];
    uint32_t dist_freq[MAXDCODES];
};

void clear_block(block_symbols *b, uint32_t start) {
    b->count = 0;
    b->start = start;
    std::fill(b->lit_freq, b->lit_freq + MAXLCODES, 0);
    std::fill(b->dist_freq, b->dist_freq + MAXDCODES, 0);
    b->lit_freq[END_BLOCK] = 1;
}

inline void add_literal(block_symbols *b, unsigned char c) {
    b->sym[b->count++] = c;
    b->lit_freq[c]++;
}

constexpr uint32_t MATCH_FLAG = uint32_t(1) << 31;

// Bits of a match symbol: distance symbol 23-27, length symbol 18-22, the
// length's extra bits 13-17, the distance's 0-12.
inline void add_match(block_symbols *b, unsigned len, unsigned dist) {
    const unsigned ls = tables.length_sym[len], ds = dist_symbol(dist);
    b->sym[b->count++] = MATCH_FLAG | ds << 23 | ls << 18 | (len - lens[ls]) << 13 | (dist - dists[ds]);
    b->lit_freq[END_BLOCK + 1 + ls]++;
    b->dist_freq[ds]++;
}

// Bits of the block's symbols under the given code lengths, extra bits included.
uint64_t symbol_bits(const block_symbols *b, const uint8_t *lit_len, const uint8_t *dist_len) {
    uint64_t bits = 0;
    for (int s = 0; s < MAXLCODES; s++)
        bits += uint64_t(b->lit_freq[s]) * (lit_len[s] + (s > END_BLOCK ? lext[s - END_BLOCK - 1] : 0));
    for (int s = 0; s < MAXDCODES; s++) bits += uint64_t(b->dist_freq[s]) * (dist_len[s] + dext[s]);
    return bits;
}

// Stored block (3.2.4): after the three header bits, padding to a byte
// boundary, LEN and NLEN, then the bytes; longer data takes several blocks.
uint64_t stored_bits(uint64_t bit_pos, uint64_t n) {
    uint64_t blocks = n == 0 ? 1 : (n + STORED_MAX - 1) / STORED_MAX;
    uint64_t first_pad = (8 - (bit_pos + 3) % 8) % 8;
    return 3 + first_pad + 32 + (blocks - 1) * (8 + 32) + 8 * n;
}

void write_stored(bit_writer *w, const unsigned char *p, uint64_t n, bool final) {
    do {
        unsigned len = unsigned(std::min<uint64_t>(n, STORED_MAX));
        put_bits(w, final && len == n ? 1 : 0, 3);
        align(w);
        unsigned char head[4] = {(unsigned char)len, (unsigned char)(len >> 8), (unsigned char)~len,
                                 (unsigned char)(~len >> 8)};
        std::memcpy(w->out + w->pos, head, 4);
        if (len != 0) std::memcpy(w->out + w->pos + 4, p, len);
        w->pos += 4 + len;
        p += len;
        n -= len;
    } while (n > 0);
}

// The symbols of a fixed or dynamic block and its end-of-block code; a match
// goes out as two pieces: length code with extra bits, distance likewise.
// The bits stay in locals, which stores through the output (bytes, that may
// alias anything) would otherwise make the compiler reload. With spare room
// (eight bytes past the block) whole bytes go out after every symbol with
// one eight-byte store; without, one at a time.
template <bool spare>
void write_symbols(bit_writer *w, const block_symbols *b, const code_table *lit, const code_table *dist) {
    uint64_t acc = w->acc;
    unsigned count = w->count;
    unsigned char *out = w->out + w->pos;
    // At most 7 bits are pending after a flush, and a symbol adds at most 48.
    auto flush = [&] {
        if constexpr (spare) {
            store_le64(out, acc);
            out += count >> 3;
            acc >>= count & 56;
            count &= 7;
        } else {
            for (; count >= 8; count -= 8, acc >>= 8) *out++ = (unsigned char)acc;
        }
    };
    const uint32_t *sym = b->sym;
    for (unsigned i = 0, n = b->count; i < n; i++) {
        uint32_t s = sym[i];
        if (s < 256) {
            acc |= uint64_t(lit->code[s]) << count;
            count += lit->len[s];
        } else {
            const unsigned ls = (s >> 18) & 31, lsym = END_BLOCK + 1 + ls, ds = (s >> 23) & 31;
            acc |= uint64_t(lit->code[lsym] | ((s >> 13) & 31) << lit->len[lsym]) << count;
            count += lit->len[lsym] + lext[ls];
            acc |= uint64_t(dist->code[ds] | (s & 8191) << dist->len[ds]) << count;
            count += dist->len[ds] + dext[ds];
        }
        flush();
    }
    acc |= uint64_t(lit->code[END_BLOCK]) << count;
    count += lit->len[END_BLOCK];
    flush();
    w->acc = acc;
    w->count = count;
    w->pos = uint64_t(out - w->out);
}

// ---- dynamic block header --------------------------------------------------

struct dynamic_code {
    code_table lit, dist, clen;
    int nlen, ndist, ncode;  // HLIT + 257, HDIST + 1, HCLEN + 4
    // The literal/length and distance code lengths as one sequence of
    // code-length symbols; extra bits beside each repeat symbol.
    uint8_t rle[MAXCODES], rle_extra[MAXCODES];
    int nrle;
    uint64_t header_bits;
};

constexpr unsigned repeat_bits[3] = {2, 3, 7};  // extra bits of symbols 16, 17, 18

// Run-length codes the lengths (3.2.7): 16 repeats the previous length 3-6
// times, 17 and 18 give 3-10 and 11-138 zeros. Returns the symbol count.
int rle_lengths(const uint8_t *len, int n, uint8_t *sym, uint8_t *extra) {
    int k = 0;
    auto put = [&](int s, int e) { sym[k] = uint8_t(s), extra[k++] = uint8_t(e); };
    for (int i = 0; i < n;) {
        int v = len[i], run = 1;
        while (i + run < n && len[i + run] == v) run++;
        i += run;
        if (v == 0) {
            for (; run >= 11; run -= std::min(run, 138)) put(18, std::min(run, 138) - 11);
            if (run >= 3) put(17, run - 3), run = 0;
        } else {
            put(v, 0), run--;
            for (; run >= 3; run -= std::min(run, 6)) put(16, std::min(run, 6) - 3);
        }
        for (; run > 0; run--) put(v, 0);
    }
    return k;
}

// Builds the block's codes and the header that describes them.
void build_dynamic(const block_symbols *b, dynamic_code *c) {
    build_code(b->lit_freq, MAXLCODES, MAXBITS, &c->lit);
    build_code(b->dist_freq, MAXDCODES, MAXBITS, &c->dist);
    c->nlen = MAXLCODES;
    while (c->nlen > END_BLOCK + 1 && c->lit.len[c->nlen - 1] == 0) c->nlen--;
    c->ndist = MAXDCODES;
    while (c->ndist > 1 && c->dist.len[c->ndist - 1] == 0) c->ndist--;

    uint8_t all[MAXCODES];
    std::copy(c->lit.len, c->lit.len + c->nlen, all);
    std::copy(c->dist.len, c->dist.len + c->ndist, all + c->nlen);
    c->nrle = rle_lengths(all, c->nlen + c->ndist, c->rle, c->rle_extra);
    uint32_t freq[CLCODES] = {};
    for (int i = 0; i < c->nrle; i++) freq[c->rle[i]]++;
    build_code(freq, CLCODES, MAXCLBITS, &c->clen);
    c->ncode = CLCODES;
    while (c->ncode > 4 && c->clen.len[order[c->ncode - 1]] == 0) c->ncode--;

    c->header_bits = 5 + 5 + 4 + 3 * uint64_t(c->ncode);
    for (int i = 0; i < c->nrle; i++)
        c->header_bits += c->clen.len[c->rle[i]] + (c->rle[i] >= 16 ? repeat_bits[c->rle[i] - 16] : 0);
}

void write_dynamic_header(bit_writer *w, const dynamic_code *c) {
    put_bits(w, unsigned(c->nlen - 257), 5);
    put_bits(w, unsigned(c->ndist - 1), 5);
    put_bits(w, unsigned(c->ncode - 4), 4);
    for (int i = 0; i < c->ncode; i++) put_bits(w, c->clen.len[order[i]], 3);
    for (int i = 0; i < c->nrle; i++) {
        unsigned s = c->rle[i];
        put_bits(w, c->clen.code[s], c->clen.len[s]);
        if (s >= 16) put_bits(w, c->rle_extra[i], repeat_bits[s - 16]);
    }
}

// ---- LZ77 matcher ----------------------------------------------------------

// Matches of four bytes or more come from hash chains over the whole input:
// head4 holds the latest position of each hash of four bytes, prev[pos &
// prev_mask] the one before pos. Chains of four bytes rather than three are
// what makes the search fast: a chain then holds few candidates that cannot
// beat a match already found. A three-byte match only pays at a short
// distance, so the latest position of each hash of three bytes (head3) is
// all that is kept for those.
//
// prev needs no clearing: every position on a chain was entered, and an
// entry that a later position overwrote points forward, which ends the walk.
struct matcher {
    const unsigned char *src;
    uint32_t n;
    uint32_t *head3;
    uint32_t *head4;
    uint32_t *prev;
    uint32_t prev_mask;
    unsigned hash_shift;  // 32 - hash bits
    unsigned hash3_shift;  // likewise for head3
    uint32_t next;        // first position not yet entered
};

struct match {
    unsigned len;  // 0: none
    unsigned dist;
};

inline uint32_t hash(uint32_t v, unsigned shift) { return (v * 0x9E3779B1u) >> shift; }

// The latest positions before pos with the same three and four bytes (or
// NO_POS); pos is entered in their place.
struct candidates {
    uint32_t three, four;
};

// Enters pos, which is at least MIN_MATCH bytes before the end.
inline candidates enter(const matcher *m, uint32_t pos) {
    const unsigned char *p = m->src + pos;
    candidates c = {NO_POS, NO_POS};
    uint32_t v;
    if (m->n - pos >= 4) {
        v = load_le32(p);
        uint32_t h = hash(v, m->hash_shift);
        c.four = m->head4[h];
        m->head4[h] = pos;
        m->prev[pos & m->prev_mask] = c.four;
        v &= 0xffffff;
    } else {
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    uint32_t h = hash(v, m->hash3_shift);
    c.three = m->head3[h];
    m->head3[h] = pos;
    return c;
}

// Enters every position before end that is not entered yet. The copy keeps
// the matcher's fields out of reach of the stores to its tables, so that
// they stay in registers.
inline void enter_until(matcher *m, uint32_t end) {
    const matcher local = *m;
    end = std::min(end, local.n >= MIN_MATCH ? local.n - MIN_MATCH + 1 : 0);
    for (uint32_t pos = local.next; pos < end; pos++) enter(&local, pos);
    m->next = std::max(local.next, end);
}

// Bytes in common at a and b, at most limit.
inline unsigned common_length(const unsigned char *a, const unsigned char *b, unsigned limit) {
    unsigned len = 0;
    for (; len + 8 <= limit; len += 8) {
        uint64_t x = load_le64(a + len) ^ load_le64(b + len);
        if (x != 0) return len + unsigned(__builtin_ctzll(x) >> 3);
    }
    while (len < limit && a[len] == b[len]) len++;
    return len;
}

// The longest match for pos longer than best (at least 3) among up to chain
// candidates of the chain from cand; r when there is none.
match longest_match(const matcher *m, uint32_t pos, uint32_t cand, unsigned best, unsigned chain,
                    match r) {
    const unsigned limit = std::min<uint32_t>(MAX_MATCH, m->n - pos);
    if (best >= limit) return r;
    const unsigned nice = std::min(NICE_LENGTH, limit);
    const unsigned char *p = m->src + pos;
    const uint32_t start = load_le32(p);
    while (cand < pos && pos - cand <= WINDOW) {
        const unsigned char *c = m->src + cand;
        // The bytes that decide first: the four that would make it longer, and the start.
        if (load_le32(c + best - 3) == load_le32(p + best - 3) && load_le32(c) == start) {
            unsigned len = common_length(c, p, limit);
            if (len > best) {
                best = len;
                r = {len, pos - cand};
                if (len >= nice) break;
            }
        }
        if (--chain == 0) break;
        uint32_t earlier = m->prev[cand & m->prev_mask];
        if (earlier >= cand) break;
        cand = earlier;
    }
    return r;
}

// Enters pos and finds its best match longer than best, if worth a match.
inline match find_match(matcher *m, uint32_t pos, unsigned best) {
    if (m->n - pos < MIN_MATCH) return {0, 0};
    candidates c = enter(m, pos);
    m->next = pos + 1;
    const unsigned chain = best >= GOOD_LENGTH ? MAX_CHAIN / 4 : MAX_CHAIN;
    match r = {0, 0};
    const unsigned char *p = m->src + pos;
    if (best < MIN_MATCH && c.three < pos && pos - c.three <= TOO_FAR) {
        const unsigned char *q = m->src + c.three;
        if (q[0] == p[0] && q[1] == p[1] && q[2] == p[2]) {
            r = {common_length(q, p, std::min<uint32_t>(MAX_MATCH, m->n - pos)), pos - c.three};
            best = r.len;
        }
    }
    if (m->n - pos < 4) return r;
    return longest_match(m, pos, c.four, std::max(best, MIN_MATCH), chain, r);
}

// ---- fast matcher ----------------------------------------------------------

// The fast effort's matcher: a table of buckets, each holding the latest
// two positions with the same hash of four bytes. The candidates of a
// position are then one load away rather than a walk along a chain, and
// there is no chain table to keep. A bucket is one word: the latest
// position's low 16 bits in its low half, the one before's in its high
// half, which the window's 32K reach back from a position tell apart.
// Positions from further back, and empty buckets, give candidates too that
// are no match of the bytes: the comparison rejects those.
constexpr unsigned FAST_NICE = 32;  // a match this long ends the search
constexpr unsigned FAST_BUCKET_BITS_LESS = 1;  // buckets: the chain table's size over 2^this
constexpr unsigned FAST_ENTER_ALL = 32;  // every position inside a match up to this long is entered
constexpr unsigned FAST_ENTER_TAIL = 4;  // and the last this many of a longer one

struct fast_matcher {
    const unsigned char *src;
    uint32_t *bucket;
    unsigned hash_shift;
};

// Enters pos (at least four bytes before the end); returns the bucket as it
// was: the candidates.
inline uint32_t fast_enter(const fast_matcher *m, uint32_t pos) {
    uint32_t *b = m->bucket + hash(load_le32(m->src + pos), m->hash_shift);
    const uint32_t cand = *b;
    *b = cand << 16 | (pos & 0xffff);
    return cand;
}

// The longest match of four bytes or more for pos among its candidates.
inline match fast_match(const fast_matcher *m, uint32_t pos, uint32_t cand, unsigned limit) {
    match r = {0, 0};
    const unsigned char *p = m->src + pos;
    const uint32_t reach = std::min(pos, WINDOW);
    unsigned best = 3;
    for (int k = 0; k < 2; k++, cand >>= 16) {
        const uint32_t dist = (pos - cand) & 0xffff;
        if (dist - 1 >= reach) continue;  // 0 wraps round
        const unsigned char *q = p - dist;
        if (load_le32(q + best - 3) != load_le32(p + best - 3) || load_le32(q) != load_le32(p)) continue;
        unsigned len = common_length(q, p, limit);
        if (len > best) {
            best = len;
            r = {len, dist};
            // Nothing longer is sought, nor could be read: the next
            // candidate's first test reads the byte after best.
            if (len >= FAST_NICE || len >= limit) break;
        }
    }
    return r;
}

// ---- the stream ------------------------------------------------------------

struct encoder {
    const unsigned char *src;
    uint32_t n;
    matcher mt;
    block_symbols blk;
    bit_writer w;
    uint64_t cap;
};

// Writes the block gathered for src[blk.start, end) in its smallest form.
// Returns false when it does not fit the output.
bool write_block(encoder *e, uint32_t end, bool final) {
    block_symbols *b = &e->blk;
    dynamic_code dyn;
    build_dynamic(b, &dyn);
    const uint64_t bit_pos = e->w.pos * 8 + e->w.count;
    const uint64_t dynamic = 3 + dyn.header_bits + symbol_bits(b, dyn.lit.len, dyn.dist.len);
    const uint64_t fixed = 3 + symbol_bits(b, fixed_lit.len, fixed_dist.len);
    const uint64_t stored = stored_bits(bit_pos, end - b->start);
    const uint64_t bits = std::min({dynamic, fixed, stored});
    const uint64_t end_byte = (bit_pos + bits + 7) / 8;
    if (end_byte > e->cap) return false;
    const bool spare = e->cap - end_byte >= 8;
    if (bits == stored) {
        write_stored(&e->w, e->src + b->start, end - b->start, final);
    } else if (bits == fixed) {
        put_bits(&e->w, final | 1u << 1, 3);
        (spare ? write_symbols<true> : write_symbols<false>)(&e->w, b, &fixed_lit, &fixed_dist);
    } else {
        put_bits(&e->w, final | 2u << 1, 3);
        write_dynamic_header(&e->w, &dyn);
        (spare ? write_symbols<true> : write_symbols<false>)(&e->w, b, &dyn.lit, &dyn.dist);
    }
    clear_block(b, end);
    return true;
}

// The lazy parse: a match found at i is taken only when i + 1 offers no
// longer one; otherwise i goes out as a literal and the longer match is
// weighed against i + 2 in turn. Returns false when the output is full.
bool compress_blocks(encoder *e) {
    const unsigned char *src = e->src;
    uint32_t i = 0;
    while (i < e->n) {
        if (e->blk.count >= BLOCK_SYMBOLS && !write_block(e, i, false)) return false;
        match m = find_match(&e->mt, i, MIN_MATCH - 1);
        if (m.len == 0) {
            add_literal(&e->blk, src[i++]);
            continue;
        }
        while (m.len < LAZY_LENGTH) {
            match later = find_match(&e->mt, i + 1, m.len);
            if (later.len == 0) break;
            add_literal(&e->blk, src[i++]);
            m = later;
        }
        add_match(&e->blk, m.len, m.dist);
        i += m.len;
        enter_until(&e->mt, i);
    }
    return write_block(e, e->n, true);
}

// The fast effort's greedy parse: every match is taken as found. The
// positions inside a match are entered too (on repetitive text that wins
// back more than a longer search would), all of them for short matches,
// the last few of longer ones. Returns false when the output is full.
bool compress_blocks_fast(encoder *e, const fast_matcher fm) {
    const unsigned char *src = e->src;
    const uint32_t n = e->n;
    const uint32_t last = n >= 4 ? n - 3 : 0;  // positions with four bytes ahead
    uint32_t i = 0;
    while (i < last) {
        if (e->blk.count >= BLOCK_SYMBOLS && !write_block(e, i, false)) return false;
        match m = fast_match(&fm, i, fast_enter(&fm, i), std::min<uint32_t>(MAX_MATCH, n - i));
        if (m.len == 0) {
            add_literal(&e->blk, src[i++]);
            continue;
        }
        add_match(&e->blk, m.len, m.dist);
        const uint32_t next = i + m.len, end = std::min(next, last);
        i = m.len > FAST_ENTER_ALL ? next - FAST_ENTER_TAIL : i + 1;
        for (; i < end; i++) fast_enter(&fm, i);
        i = next;
    }
    for (; i < n; i++) {
        if (e->blk.count >= BLOCK_SYMBOLS && !write_block(e, i, false)) return false;
        add_literal(&e->blk, src[i]);
    }
    return write_block(e, n, true);
}

// Bits of the hash and of the chain table's index: enough for n positions
// or the window, whichever is less (the chain table then holds every
// position that a match may reach).
unsigned table_bits_for(uint32_t n) {
    unsigned bits = MIN_TABLE_BITS;
    while ((uint32_t(1) << bits) < std::min(n, WINDOW)) bits++;
    return bits;
}

}  // namespace

uint64_t deflate_bound(uint64_t n) {
    // Every block is at most its stored form, which costs five bytes per
    // stored block beyond the data (header bits and padding, LEN, NLEN).
    // Blocks but the last hold BLOCK_SYMBOLS symbols of a byte or more.
    uint64_t stored_blocks = n / STORED_MAX + n / BLOCK_SYMBOLS + 1;
    return 2 + n + 5 * stored_blocks + 4;
}

int deflate_compress(const unsigned char *src, uint64_t n, unsigned char *dst, uint64_t dst_cap,
                     uint64_t *produced, deflate_scratch *scratch, deflate_effort effort) {
    if (produced) *produced = 0;
    if (n > DEFLATE_MAX_INPUT || (src == nullptr && n != 0) || dst == nullptr || dst_cap < 2) return -1;
    // Tables as large as the input needs: small streams are the common case.
    // Standard effort: prev, head4, head3; fast effort: the buckets. The
    // block's symbols follow.
    const bool fast = effort == deflate_effort::fast;
    const unsigned table_bits = table_bits_for(uint32_t(n));
    const uint32_t table_size = uint32_t(1) << table_bits;
    const uint32_t sym_size = uint32_t(std::min<uint64_t>(n, BLOCK_SYMBOLS)) + STEP_SYMBOLS;
    const unsigned head3_bits = std::min(table_bits, MAX_HEAD3_BITS);
    const unsigned bucket_bits = table_bits - FAST_BUCKET_BITS_LESS;
    const size_t table_words =
        fast ? size_t(1) << bucket_bits : size_t(2) * table_size + (size_t(1) << head3_bits);
    const size_t words = table_words + sym_size;
    std::unique_ptr<uint32_t[]> own;
    uint32_t *base = nullptr;
    if (scratch) {
        try {
            if (scratch->words.size() < words) scratch->words.resize(words);
        } catch (const std::bad_alloc &) {
            return -1;
        }
        base = scratch->words.data();
    } else {
        own.reset(new (std::nothrow) uint32_t[words]);
        if (!own) return -1;
        base = own.get();
    }

    encoder e{};
    e.src = src;
    e.n = uint32_t(n);
    e.blk.sym = base + table_words;
    clear_block(&e.blk, 0);
    e.w = {dst, 0, 0, 0};
    e.cap = dst_cap;
    // Deflate with a 32K window (CMF 0x78), no dictionary, the level said
    // (FLEVEL 1 fast, 2 default); the pair is a multiple of 31 as the
    // header check requires.
    dst[0] = 0x78;
    dst[1] = fast ? 0x5e : 0x9c;
    e.w.pos = 2;
    if (fast) {
        std::fill(base, base + table_words, 0);
        fast_matcher fm = {src, base, 32 - bucket_bits};
        if (!compress_blocks_fast(&e, fm)) return -1;
    } else {
        uint32_t *prev = base, *head4 = prev + table_size, *head3 = head4 + table_size;
        e.mt = {src, uint32_t(n), head3, head4, prev, table_size - 1, 32 - table_bits, 32 - head3_bits, 0};
        std::fill(head4, head3 + (size_t(1) << head3_bits), NO_POS);
        if (!compress_blocks(&e)) return -1;
    }
    align(&e.w);
    if (dst_cap - e.w.pos < 4) return -1;
    uint32_t check = adler32(src, n);
    for (int i = 0; i < 4; i++) dst[e.w.pos++] = (unsigned char)(check >> (24 - 8 * i));
    if (produced) *produced = e.w.pos;
    return 0;
}
