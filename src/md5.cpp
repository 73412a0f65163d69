// MD5 (RFC 1321, section 3). Words are little-endian; the four rounds of
// sixteen steps each are written as one loop over the step tables.
#include "md5.h"

#include <cstring>

namespace {

// T[i] = floor(2^32 * |sin(i + 1)|) (3.4).
constexpr uint32_t T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Shift amounts per round, four per round repeating.
constexpr int SHIFT[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline uint32_t load_le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store_le32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// One 64-byte block into the chaining values (3.4).
void md5_block(uint32_t h[4], const unsigned char *block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i >> 4;
        uint32_t f;
        int k;
        switch (round) {
            case 0: f = (b & c) | (~b & d); k = i; break;
            case 1: f = (d & b) | (~d & c); k = (5 * i + 1) & 15; break;
            case 2: f = b ^ c ^ d; k = (3 * i + 5) & 15; break;
            default: f = c ^ (b | ~d); k = (7 * i) & 15; break;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + T[i] + x[k], SHIFT[round][i & 3]);
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

}  // namespace

void md5_init(md5_state *s) {
    s->h[0] = 0x67452301;
    s->h[1] = 0xefcdab89;
    s->h[2] = 0x98badcfe;
    s->h[3] = 0x10325476;
    s->total = 0;
}

void md5_update(md5_state *s, const unsigned char *data, size_t n) {
    size_t have = static_cast<size_t>(s->total % MD5_BLOCK_BYTES);
    s->total += n;
    if (have) {
        size_t take = MD5_BLOCK_BYTES - have < n ? MD5_BLOCK_BYTES - have : n;
        std::memcpy(s->buf + have, data, take);
        data += take;
        n -= take;
        if (have + take < MD5_BLOCK_BYTES) return;
        md5_block(s->h, s->buf);
    }
    for (; n >= MD5_BLOCK_BYTES; data += MD5_BLOCK_BYTES, n -= MD5_BLOCK_BYTES) md5_block(s->h, data);
    if (n) std::memcpy(s->buf, data, n);
}

void md5_final(md5_state *s, unsigned char out[MD5_DIGEST_BYTES]) {
    // Padding (3.1, 3.2): a 1 bit, zeros up to 56 mod 64, the bit length.
    const uint64_t bits = s->total * 8;
    unsigned char pad[MD5_BLOCK_BYTES + 8] = {0x80};
    const size_t have = static_cast<size_t>(s->total % MD5_BLOCK_BYTES);
    const size_t zeros = (have < 56 ? 56 - have : 120 - have);
    for (int i = 0; i < 8; ++i) pad[zeros + i] = static_cast<unsigned char>(bits >> (8 * i));
    md5_update(s, pad, zeros + 8);
    for (int i = 0; i < 4; ++i) store_le32(out + 4 * i, s->h[i]);
}

void md5(const unsigned char *data, size_t n, unsigned char out[MD5_DIGEST_BYTES]) {
    md5_state s;
    md5_init(&s);
    md5_update(&s, data, n);
    md5_final(&s, out);
}
