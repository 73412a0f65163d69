// The Flate decoder: zlib as oracle for good data, hand-built streams for the
// failure table, and a plain bit-at-a-time decoder as the reference for
// damaged and cut-short data, where zlib's answers differ from ours by design.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corpus_streams.h"
#include "inflate.h"
#include "support.h"

namespace {

// ---- reference: the straightforward bit-serial decoder ---------------------

namespace ref {

struct abort_to_top {};  // input ran out, output full, stored block short

struct state {
    const unsigned char *in;
    uint64_t in_len, in_pos;
    int bit_buf, bit_count;
    unsigned char *out;
    uint64_t cap, len;
};

struct huffman {
    short count[16];
    short symbol[288];
};

const short lens[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const short dists[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const short dext[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

int bits(state &s, int n) {
    long v = s.bit_buf;
    while (s.bit_count < n) {
        if (s.in_pos == s.in_len) throw abort_to_top{};
        v |= long(s.in[s.in_pos++]) << s.bit_count;
        s.bit_count += 8;
    }
    s.bit_buf = int(v >> n);
    s.bit_count -= n;
    return int(v & ((1L << n) - 1));
}

int construct(huffman &h, const short *length, int n) {
    for (short &c : h.count) c = 0;
    for (int i = 0; i < n; i++) h.count[length[i]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left = 2 * left - h.count[len];
        if (left < 0) return left;
    }
    short offs[16] = {};
    for (int len = 1; len < 15; len++) offs[len + 1] = short(offs[len] + h.count[len]);
    for (int i = 0; i < n; i++)
        if (length[i]) h.symbol[offs[length[i]]++] = short(i);
    return left;
}

int decode(state &s, const huffman &h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
        code |= bits(s, 1);
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -10;
}

int codes(state &s, const huffman &lc, const huffman &dc) {
    for (;;) {
        int sym = decode(s, lc);
        if (sym < 0) return sym;
        if (sym < 256) {
            if (s.len == s.cap) throw abort_to_top{};
            s.out[s.len++] = (unsigned char)sym;
        } else if (sym == 256) {
            return 0;
        } else {
            sym -= 257;
            if (sym >= 29) return -10;
            int len = lens[sym] + bits(s, lext[sym]);
            sym = decode(s, dc);
            if (sym < 0) return sym;
            uint64_t dist = dists[sym] + bits(s, dext[sym]);
            if (dist > s.len) return -11;
            if (s.len + len > s.cap) throw abort_to_top{};
            while (len--) {
                s.out[s.len] = s.out[s.len - dist];
                s.len++;
            }
        }
    }
}

int stored(state &s) {
    s.bit_buf = s.bit_count = 0;
    if (s.in_len - s.in_pos < 4) throw abort_to_top{};
    const unsigned char *p = s.in + s.in_pos;
    unsigned len = p[0] | (p[1] << 8);
    if (p[2] != (~p[0] & 0xff) || p[3] != (~p[1] & 0xff)) return -2;
    s.in_pos += 4;
    if (len > s.in_len - s.in_pos || s.len + len > s.cap) throw abort_to_top{};
    std::memcpy(s.out + s.len, p + 4, len);
    s.in_pos += len;
    s.len += len;
    return 0;
}

int fixed(state &s) {
    huffman lc, dc;
    short length[288];
    for (int i = 0; i < 288; i++) length[i] = short(i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8);
    construct(lc, length, 288);
    for (int i = 0; i < 30; i++) length[i] = 5;
    construct(dc, length, 30);
    return codes(s, lc, dc);
}

int dynamic(state &s) {
    int nlen = bits(s, 5) + 257, ndist = bits(s, 5) + 1, ncode = bits(s, 4) + 4;
    if (nlen > 286 || ndist > 30) return -3;
    short length[316] = {};
    for (int i = 0; i < ncode; i++) length[order[i]] = short(bits(s, 3));
    huffman lc, dc;
    if (construct(lc, length, 19) != 0) return -4;
    for (int index = 0; index < nlen + ndist;) {
        int sym = decode(s, lc);
        if (sym < 0) return sym;
        if (sym < 16) {
            length[index++] = short(sym);
            continue;
        }
        short len = 0;
        if (sym == 16) {
            if (index == 0) return -5;
            len = length[index - 1];
            sym = 3 + bits(s, 2);
        } else {
            sym = sym == 17 ? 3 + bits(s, 3) : 11 + bits(s, 7);
        }
        if (index + sym > nlen + ndist) return -6;
        while (sym--) length[index++] = len;
    }
    if (length[256] == 0) return -9;
    int err = construct(lc, length, nlen);
    if (err && (err < 0 || nlen != lc.count[0] + lc.count[1])) return -7;
    err = construct(dc, length + nlen, ndist);
    if (err && (err < 0 || ndist != dc.count[0] + dc.count[1])) return -8;
    return codes(s, lc, dc);
}

// Same contract as inflate_decompress.
int inflate(const std::string &src, unsigned char *dst, uint64_t cap, uint64_t *produced) {
    *produced = 0;
    if (src.size() < 2 || cap > INFLATE_MAX_OUTPUT) return -1;
    const auto *p = reinterpret_cast<const unsigned char *>(src.data());
    if ((p[0] & 0x0f) != 8 || (p[1] & 0x20)) return -1;
    state s = {p + 2, src.size() - 2, 0, 0, 0, dst, cap, 0};
    try {
        int last, err = 0;
        do {
            last = bits(s, 1);
            int type = bits(s, 2);
            err = type == 0 ? stored(s) : type == 1 ? fixed(s) : type == 2 ? dynamic(s) : -1;
        } while (err == 0 && !last);
    } catch (const abort_to_top &) {
        return -1;
    }
    *produced = s.len;
    return 0;
}

}  // namespace ref

// ---- helpers ---------------------------------------------------------------

struct decoded {
    int rc;
    std::string bytes;
    bool operator==(const decoded &o) const { return rc == o.rc && bytes == o.bytes; }
};

std::ostream &operator<<(std::ostream &os, const decoded &d) {
    return os << "rc " << d.rc << ", " << d.bytes.size() << " bytes";
}

decoded ours(const std::string &src, uint64_t cap) {
    std::vector<unsigned char> out(cap);  // exact, so that the sanitizer sees any overrun
    uint64_t produced = 12345;  // must be reset on every path
    int rc = inflate_decompress(reinterpret_cast<const unsigned char *>(src.data()), src.size(),
                                out.data(), cap, &produced);
    if (rc != 0) {
        EXPECT_EQ(produced, 0u);
    }
    return {rc, std::string(reinterpret_cast<char *>(out.data()), produced)};
}

decoded reference(const std::string &src, uint64_t cap) {
    std::vector<unsigned char> out(cap);  // exact, so that the sanitizer sees any overrun
    uint64_t produced = 0;
    int rc = ref::inflate(src, out.data(), cap, &produced);
    return {rc, std::string(reinterpret_cast<char *>(out.data()), produced)};
}

std::string deflate_with(const std::string &data, int level, int strategy, int window = 15,
                         int mem = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window, mem, strategy), Z_OK);
    std::string out(2 * data.size() + 1024, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Test data in the shapes that PDF streams have, and some that they do not.
std::string sample(std::mt19937 &rng, int kind, size_t n) {
    std::string s;
    auto pick = [&](int k) { return int(rng() % unsigned(k)); };
    static const char *const words[] = {"BT", "ET", "Tf", "Td", "Tj", "re", "f", "q", "Q", "cm",
                                        "/F1", "(Hello)", "0", "1", "12", "612", "792", "m", "l", "S"};
    while (s.size() < n) {
        switch (kind) {
            case 0: s += char(rng()); break;                       // incompressible
            case 1: s += words[pick(20)], s += pick(6) ? ' ' : '\n'; break;  // content stream
            case 2: s.append(size_t(1 + pick(300)), char(pick(4))); break;  // runs
            case 3: s += char((s.size() % 97) * (s.size() / 97 % 5)); break;  // image rows
            case 4: s += char('a' + std::countr_zero(unsigned(rng()) | 1u << 24)); break;  // long codes
            default: s += char('a' + pick(3)); break;               // tiny alphabet
        }
    }
    s.resize(n);
    return s;
}

const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

// ---- zlib as oracle --------------------------------------------------------

class ZlibOracle : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ZlibOracle, DecodesZlibOutputExactly) {
    const int level = std::get<0>(GetParam()), strategy = std::get<1>(GetParam());
    std::mt19937 rng(unsigned(level * 10 + strategy));
    const size_t sizes[] = {0, 1, 2, 3, 258, 259, 32767, 32768, 32769, 70000};
    for (int i = 0; i < 50; i++) {
        int kind = i % 6;
        size_t n = i < 10 ? sizes[i] : rng() % (i % 7 == 0 ? 60000 : 6000);
        std::string data = sample(rng, kind, n);
        // Small windows and memory levels give other headers and many small blocks.
        std::string z = deflate_with(data, level, strategy, 9 + int(rng() % 7), 1 + int(rng() % 9));
        decoded d = ours(z, data.size());
        ASSERT_EQ(d.rc, 0) << "kind " << kind << " size " << n;
        ASSERT_EQ(d.bytes, data) << "kind " << kind << " size " << n;
        if (!data.empty()) {
            ASSERT_EQ(ours(z, data.size() - 1).rc, -1) << "one byte short";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LevelsAndStrategies, ZlibOracle,
                         ::testing::Combine(::testing::Range(0, 10), ::testing::ValuesIn(strategies)));

TEST(Inflate, HugeRepeatsDecode) {
    for (size_t n : {size_t(1) << 24, size_t(3000000)}) {
        std::string data(n, 'A');
        data[n / 2] = 'B';
        std::string z = zlib_compress(data, 9);
        ASSERT_LT(z.size() * 100, n);  // far past a 20:1 ratio
        decoded d = ours(z, n);
        ASSERT_EQ(d.rc, 0);
        EXPECT_TRUE(d.bytes == data);
    }
}

TEST(Inflate, EmptyInputAtEveryLevel) {
    for (int level = 0; level <= 9; level++)
        for (int strategy : strategies) EXPECT_EQ(ours(deflate_with("", level, strategy), 0), (decoded{0, ""}));
}

// ---- hand-built streams ----------------------------------------------------

// Writes deflate bits lowest first; Huffman codes go most significant bit first.
struct bit_writer {
    std::string bytes = "\x78\x9c";
    unsigned acc = 0;
    int n = 0;
    bit_writer &put(uint64_t v, int bits) {
        for (int i = 0; i < bits; i++) {
            acc |= unsigned((v >> i) & 1u) << n;
            if (++n == 8) bytes += char(acc), acc = 0, n = 0;
        }
        return *this;
    }
    bit_writer &code(unsigned c, int len) {
        for (int i = len - 1; i >= 0; i--) put((c >> i) & 1u, 1);
        return *this;
    }
    bit_writer &stored(const std::string &data, bool final) {
        put(final, 1).put(0, 2);
        if (n) put(0, 8 - n);
        unsigned len = unsigned(data.size());
        bytes += char(len & 0xff), bytes += char(len >> 8);
        bytes += char(~len & 0xff), bytes += char((~len >> 8) & 0xff);
        bytes += data;
        return *this;
    }
    // Fixed-code symbols: literal/length and distance.
    bit_writer &fix_lit(unsigned sym) {
        if (sym < 144) return code(0x30 + sym, 8);
        if (sym < 256) return code(0x190 + sym - 144, 9);
        if (sym < 280) return code(sym - 256, 7);
        return code(0xc0 + sym - 280, 8);
    }
    bit_writer &fix_dist(unsigned sym) { return code(sym, 5); }
    std::string done() {
        std::string s = bytes;
        if (n) s += char(acc);
        return s;
    }
};

// Canonical codes for a list of code lengths.
std::vector<unsigned> canonical(const std::vector<int> &length) {
    int count[16] = {};
    for (int l : length) count[l]++;
    count[0] = 0;
    unsigned next[16] = {}, code = 0;
    for (int len = 1; len < 16; len++) next[len] = code = (code + unsigned(count[len - 1])) << 1;
    std::vector<unsigned> c(length.size());
    for (size_t i = 0; i < length.size(); i++)
        if (length[i]) c[i] = next[length[i]]++;
    return c;
}

// Code-length code of sixteen 4-bit codes for 0..15 (complete, no repeats),
// and one that also codes the repeat symbols 16..18.
const std::vector<int> plain_clen = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0};
const std::vector<int> repeat_clen = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};

struct dynamic_writer {
    bit_writer &w;
    std::vector<int> clen;
    std::vector<unsigned> cc = canonical(clen);
    // Block header with nlen/ndist counts and all 19 code-length code lengths.
    dynamic_writer(bit_writer &bw, bool final, int nlen, int ndist, std::vector<int> cl)
        : w(bw), clen(std::move(cl)) {
        w.put(final, 1).put(2, 2).put(unsigned(nlen - 257), 5).put(unsigned(ndist - 1), 5).put(15, 4);
        for (int i = 0; i < 19; i++) w.put(unsigned(clen[ref::order[i]]), 3);
    }
    dynamic_writer &sym(int s, unsigned extra = 0, int extra_bits = 0) {
        w.code(cc[size_t(s)], clen[size_t(s)]).put(extra, extra_bits);
        return *this;
    }
    dynamic_writer &lengths(const std::vector<int> &l) {
        for (int x : l) sym(x);
        return *this;
    }
};

std::vector<int> lit_lengths(std::initializer_list<std::pair<int, int>> set, int n = 257) {
    std::vector<int> l(size_t(n), 0);
    for (auto [sym, len] : set) l.at(size_t(sym)) = len;
    return l;
}

// A final dynamic block with the given code lengths, after an optional stored
// block; the caller adds the coded data.
bit_writer dynamic_block(const std::vector<int> &lit, const std::vector<int> &dist,
                         const std::string &prefix = "") {
    bit_writer w;
    if (!prefix.empty()) w.stored(prefix, false);
    dynamic_writer dw(w, true, int(lit.size()), int(dist.size()), plain_clen);
    std::vector<int> all = lit;
    all.insert(all.end(), dist.begin(), dist.end());
    dw.lengths(all);
    return w;
}

// A final dynamic block with a damaged code description, after "ok".
std::string damaged_description(const std::vector<int> &lit, const std::vector<int> &dist) {
    return dynamic_block(lit, dist, "ok").put(0, 40).done();
}

struct hand_case {
    const char *name;
    std::string src;
    uint64_t cap;
    int rc;
    std::string out;
};

std::vector<hand_case> hand_cases() {
    std::vector<hand_case> v;
    const std::string empty_stored("\x78\x9c\x01\x00\x00\xff\xff", 7);
    v.push_back({"src shorter than two bytes", "\x78", 10, -1, ""});
    v.push_back({"header only", "\x78\x9c", 10, -1, ""});
    v.push_back({"method other than deflate", "\x77\x9c" + empty_stored.substr(2), 10, -1, ""});
    v.push_back({"preset dictionary flag", "\x78\xbb" + empty_stored.substr(2), 10, -1, ""});
    v.push_back({"empty stored final block", empty_stored, 10, 0, ""});
    v.push_back({"header check value ignored (0x78 0x00)", std::string("\x78\x00", 2) + empty_stored.substr(2), 10, 0, ""});
    v.push_back({"window nibble ignored", "\xf8\x9c" + empty_stored.substr(2), 10, 0, ""});
    v.push_back({"bad Adler-32 ignored", zlib_compress("hello hello hello") + "\x00\x00", 100, 0, "hello hello hello"});
    {
        std::string z = zlib_compress("stream data");
        z[z.size() - 1] ^= 0x55;
        v.push_back({"corrupted Adler-32 ignored", z, 100, 0, "stream data"});
    }
    v.push_back({"type 3 after a good block", bit_writer().stored("abc", false).put(1, 1).put(3, 2).put(0, 16).done(), 100, 0, "abc"});
    {
        std::string s = bit_writer().stored("abc", false).stored("defg", true).done();
        s[13] ^= 1;  // NLEN of the second block
        v.push_back({"bad NLEN", s, 100, 0, "abc"});
    }
    v.push_back({"stored: fewer than 4 bytes for LEN/NLEN", bit_writer().stored("abc", false).done() + "\x01\x03", 100, -1, ""});
    v.push_back({"stored: LEN beyond input", bit_writer().stored("abcdef", true).done().substr(0, 12), 100, -1, ""});
    v.push_back({"stored: output does not fit", bit_writer().stored("abcdef", true).done(), 5, -1, ""});
    v.push_back({"stored: exactly fits", bit_writer().stored("abcdef", true).done(), 6, 0, "abcdef"});

    // Fixed code.
    v.push_back({"distance 1 length 258 after a literal",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('z').fix_lit(285).fix_dist(0).fix_lit(256).done(),
                 259, 0, std::string(259, 'z')});
    for (unsigned sym : {286u, 287u})
        v.push_back({"fixed symbol 286/287", bit_writer().put(1, 1).put(1, 2).fix_lit('x').fix_lit(sym).put(0, 16).done(), 100, 0, "x"});
    v.push_back({"fixed distance code 30 matches nothing",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('x').fix_lit(257).fix_dist(30).put(0, 16).done(), 100, 0, "x"});
    v.push_back({"fixed distance code 31 cut short before 15 bits",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('x').fix_lit(257).fix_dist(31).done(), 100, -1, ""});
    v.push_back({"distance too far",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('a').fix_lit('b').fix_lit(257).fix_dist(2).fix_lit(256).done(),
                 100, 0, "ab"});
    v.push_back({"distance reaching the very first byte",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('a').fix_lit('b').fix_lit(257).fix_dist(1).fix_lit(256).done(),
                 100, 0, "ababa"});
    v.push_back({"match does not fit",
                 bit_writer().put(1, 1).put(1, 2).fix_lit('a').fix_lit(258).fix_dist(0).fix_lit(256).done(), 4, -1, ""});
    v.push_back({"fixed block without end-of-block", bit_writer().put(1, 1).put(1, 2).fix_lit('a').done(), 100, -1, ""});

    // Dynamic code descriptions.
    const auto two_bit = lit_lengths({{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}, 258);
    {
        bit_writer w;
        dynamic_writer dw(w, true, 258, 1, plain_clen);
        dw.lengths(two_bit).lengths({1});
        w.code(0, 2).code(3, 2).code(0, 1).code(2, 2);  // 'a', length 3 at distance 1, end
        v.push_back({"single distance code of length 1", w.done(), 100, 0, "aaaa"});
    }
    {
        bit_writer w;
        dynamic_writer dw(w, true, 258, 1, plain_clen);
        dw.lengths(two_bit).lengths({1});
        w.code(0, 2).code(3, 2).code(1, 1).put(0, 16);  // the unused one-bit distance code
        v.push_back({"unused code of an incomplete distance code", w.done(), 100, 0, "a"});
    }
    v.push_back({"distance code without codes, literals only", dynamic_block(two_bit, {0}).code(1, 2).code(2, 2).done(), 100, 0, "b"});
    v.push_back({"only end-of-block, one bit", dynamic_block(lit_lengths({{256, 1}}), {0}).code(0, 1).done(), 100, 0, ""});
    {
        bit_writer w;
        w.stored("ok", false).put(1, 1).put(2, 2).put(30, 5).put(0, 5).put(0, 4).put(0, 16);
        v.push_back({"more than 286 literal/length codes", w.done(), 100, 0, "ok"});
    }
    {
        bit_writer w;
        w.stored("ok", false).put(1, 1).put(2, 2).put(0, 5).put(30, 5).put(0, 4).put(0, 16);
        v.push_back({"more than 30 distance codes", w.done(), 100, 0, "ok"});
    }
    {
        bit_writer w;
        w.stored("ok", false).put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(0, 9).put(0, 16);
        v.push_back({"incomplete code-length code", w.done(), 100, 0, "ok"});
    }
    {
        bit_writer w;
        w.stored("ok", false).put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(1, 3).put(1, 3).put(0, 3).put(0, 16);
        v.push_back({"over-subscribed code-length code", w.done(), 100, 0, "ok"});
    }
    {
        bit_writer w;
        dynamic_writer(w, true, 257, 1, repeat_clen).sym(16, 0, 2);
        v.push_back({"repeat code first in the sequence", w.done() + std::string(40, '\0'), 100, 0, ""});
    }
    {
        bit_writer w;
        dynamic_writer dw(w, true, 257, 1, repeat_clen);
        dw.sym(18, 127, 7).sym(18, 106, 7).sym(17, 7, 3);  // 138 + 117 + 10 > 258
        v.push_back({"repeat past the end of the sequence", w.done() + std::string(40, '\0'), 100, 0, ""});
    }
    v.push_back({"no code for end-of-block", damaged_description(lit_lengths({{'a', 1}, {'b', 1}}), {1}), 100, 0, "ok"});
    v.push_back({"over-subscribed literal/length code", damaged_description(lit_lengths({{'a', 1}, {'b', 1}, {256, 1}}), {1}), 100, 0, "ok"});
    v.push_back({"incomplete literal/length code", damaged_description(lit_lengths({{'a', 2}, {256, 2}}), {1}), 100, 0, "ok"});
    v.push_back({"incomplete distance code with two-bit codes", damaged_description(two_bit, {2, 2}), 100, 0, "ok"});
    v.push_back({"over-subscribed distance code", damaged_description(two_bit, {1, 1, 1}), 100, 0, "ok"});
    return v;
}

class HandBuilt : public ::testing::TestWithParam<hand_case> {};

TEST_P(HandBuilt, GivesResultCountAndBytes) {
    const hand_case &c = GetParam();
    decoded want{c.rc, c.out};
    EXPECT_EQ(ours(c.src, c.cap), want);
    EXPECT_EQ(reference(c.src, c.cap), want) << "the reference decoder disagrees";
}

INSTANTIATE_TEST_SUITE_P(FailureTable, HandBuilt, ::testing::ValuesIn(hand_cases()),
                         [](const ::testing::TestParamInfo<hand_case> &i) {
                             std::string n;
                             for (const char *p = i.param.name; *p; p++) n += std::isalnum((unsigned char)*p) ? *p : '_';
                             return n + "_" + std::to_string(i.index);
                         });

TEST(Inflate, OutputLimitIsTwoToThe30) {
    std::string z = zlib_compress("abc");
    std::vector<unsigned char> small(16);
    uint64_t produced = 7;
    EXPECT_EQ(inflate_decompress(reinterpret_cast<const unsigned char *>(z.data()), z.size(), small.data(),
                                 INFLATE_MAX_OUTPUT + 1, &produced), -1);
    EXPECT_EQ(produced, 0u);
    // Exactly 2^30 is allowed; the pages stay untouched, so this costs no memory.
    auto *big = static_cast<unsigned char *>(std::malloc(INFLATE_MAX_OUTPUT));
    if (big == nullptr) GTEST_SKIP() << "no 1 GiB of address space";
    EXPECT_EQ(inflate_decompress(reinterpret_cast<const unsigned char *>(z.data()), z.size(), big,
                                 INFLATE_MAX_OUTPUT, &produced), 0);
    EXPECT_EQ(produced, 3u);
    EXPECT_EQ(std::memcmp(big, "abc", 3), 0);
    std::free(big);
}

// ---- damaged and cut-short data: the reference decides ---------------------

TEST(Inflate, EveryCutOfAStreamFails) {
    std::mt19937 rng(7);
    for (int strategy : strategies) {
        for (int level : {0, 1, 6}) {
            std::string data = sample(rng, 1, 700) + sample(rng, 0, 100);
            std::string z = deflate_with(data, level, strategy);
            size_t end = z.size() - 4;  // the Adler-32 is not needed
            for (size_t cut = 0; cut < end; cut++)
                ASSERT_EQ(ours(z.substr(0, cut), data.size()), (decoded{-1, ""})) << "cut at " << cut;
            EXPECT_EQ(ours(z.substr(0, end), data.size()), (decoded{0, data}));
        }
    }
}

// Damage anywhere (flipped bits, overwritten bytes, cuts, tight output) must
// give exactly the reference's result, count and bytes.
TEST(Inflate, DamagedDataMatchesReference) {
    std::mt19937 rng(2024);
    int damaged = 0, failed = 0;
    for (int i = 0; i < 3000; i++) {
        std::string data = sample(rng, int(rng() % 6), 1 + rng() % 3000);
        std::string z = deflate_with(data, int(rng() % 10), strategies[rng() % 5], 15, 1 + int(rng() % 9));
        switch (i % 4) {
            case 0: z[2 + rng() % (z.size() - 2)] ^= char(1u << (rng() % 8)); break;
            case 1: z[2 + rng() % (z.size() - 2)] = char(rng()); break;
            case 2:
                for (int k = 0; k < 3; k++) z[2 + rng() % (z.size() - 2)] ^= char(1u << (rng() % 8));
                break;
            default: z.resize(2 + rng() % (z.size() - 2)); break;
        }
        uint64_t cap = i % 3 == 0 ? rng() % (data.size() + 1) : 2 * data.size() + 64;
        decoded want = reference(z, cap);
        ASSERT_EQ(ours(z, cap), want) << "case " << i;
        damaged += want.rc == 0 && want.bytes != data;
        failed += want.rc == -1;
    }
    // Both outcomes must be well represented for the comparison to mean much.
    EXPECT_GT(damaged, 300);
    EXPECT_GT(failed, 300);
}

TEST(Inflate, RandomBodiesMatchReference) {
    std::mt19937 rng(99);
    for (int i = 0; i < 3000; i++) {
        std::string z = "\x78\x9c";
        // Mostly dynamic-block headers with random code descriptions.
        z += char((rng() & ~6u) | (i % 4 ? 4u : 2u));
        for (size_t n = 1 + rng() % 200; n > 0; n--) z += char(rng());
        uint64_t cap = rng() % 600;
        ASSERT_EQ(ours(z, cap), reference(z, cap)) << "case " << i;
    }
}

// ---- real files ------------------------------------------------------------

// Every Flate stream in the corpus, by zlib where zlib accepts it.
TEST(Inflate, CorpusStreamsMatchZlib) {
    int streams = 0;
    std::vector<unsigned char> out(1 << 22);
    for (const auto &file : pdf_files(TEST_CORPUS_DIR)) {
        const std::string name = file.filename().string();
        std::string pdf = read_file(file.string());
        ASSERT_FALSE(pdf.empty()) << name;
        for (const pdf_stream &s : pdf_streams(pdf)) {
            const std::string &z = s.data;
            if (z.size() < 2 || (z[0] & 0x0f) != 8 || ((unsigned char)z[0] * 256 + (unsigned char)z[1]) % 31) continue;
            uLongf n = out.size();
            if (uncompress(out.data(), &n, reinterpret_cast<const Bytef *>(z.data()), uLong(z.size())) != Z_OK) {
                EXPECT_EQ(ours(z, 1 << 20), reference(z, 1 << 20)) << name << " at " << s.offset;
                continue;
            }
            decoded d = ours(z, n);
            ASSERT_EQ(d.rc, 0) << name << " at " << s.offset;
            ASSERT_EQ(d.bytes, std::string(reinterpret_cast<char *>(out.data()), n)) << name << " at " << s.offset;
            streams++;
        }
    }
    EXPECT_GT(streams, 1000);
}

// ---- threads ---------------------------------------------------------------

// The fixed tables are built at the first fixed-code block in the process;
// each test runs in its own process, so here that happens under contention.
TEST(Inflate, FixedCodeStreamsFromManyThreads) {
    std::vector<std::string> data, z;
    std::mt19937 rng(5);
    for (int i = 0; i < 32; i++) {
        data.push_back(sample(rng, i % 6, 1000 + rng() % 20000));
        z.push_back(deflate_with(data.back(), 6, Z_FIXED));
    }
    std::vector<int> bad(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([&, t] {
            std::vector<unsigned char> out(21000);
            for (int round = 0; round < 4; round++)
                for (size_t i = 0; i < z.size(); i++) {
                    size_t k = (i + size_t(t)) % z.size();
                    uint64_t n = 0;
                    int rc = inflate_decompress(reinterpret_cast<const unsigned char *>(z[k].data()), z[k].size(),
                                                out.data(), out.size(), &n);
                    bad[size_t(t)] += rc != 0 || n != data[k].size() || std::memcmp(out.data(), data[k].data(), n) != 0;
                }
        });
    for (auto &th : threads) th.join();
    for (int t = 0; t < 8; t++) EXPECT_EQ(bad[size_t(t)], 0) << "thread " << t;
}

}  // namespace
