// SHA-256 (FIPS 180-4, 6.2) and SHA-512 (6.4), SHA-384 being SHA-512 with
// other initial values, cut to 48 bytes (6.5). Words are big-endian. The
// block buffering and the padding are shared by a template over the word
// type; the compression functions follow the standard's steps.
#include "sha2.h"

#include <cstring>

namespace {

// 4.2.2: the first 32 bits of the fractional parts of the cube roots of
// the first 64 primes.
constexpr uint32_t K256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// 4.2.3: the first 64 bits of the same for the first 80 primes.
constexpr uint64_t K512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

template <typename W>
inline W rotr(W x, int c) { return (x >> c) | (x << (8 * sizeof(W) - c)); }

template <typename W>
inline W load_be(const unsigned char *p) {
    W v = 0;
    for (size_t i = 0; i < sizeof(W); ++i) v = (v << 8) | p[i];
    return v;
}

template <typename W>
inline void store_be(unsigned char *p, W v) {
    for (size_t i = sizeof(W); i-- > 0; v >>= 8) p[i] = static_cast<unsigned char>(v);
}

// 6.2.2: one block into the chaining values.
void sha256_block(uint32_t h[8], const unsigned char *block) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be<uint32_t>(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int t = 0; t < 64; ++t) {
        const uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K256[t] + w[t];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

// 6.4.2: the same with 64-bit words and 80 rounds.
void sha512_block(uint64_t h[8], const unsigned char *block) {
    uint64_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = load_be<uint64_t>(block + 8 * t);
    for (int t = 16; t < 80; ++t) {
        const uint64_t s0 = rotr(w[t - 15], 1) ^ rotr(w[t - 15], 8) ^ (w[t - 15] >> 7);
        const uint64_t s1 = rotr(w[t - 2], 19) ^ rotr(w[t - 2], 61) ^ (w[t - 2] >> 6);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int t = 0; t < 80; ++t) {
        const uint64_t t1 = k + (rotr(e, 14) ^ rotr(e, 18) ^ rotr(e, 41)) + ((e & f) ^ (~e & g)) + K512[t] + w[t];
        const uint64_t t2 = (rotr(a, 28) ^ rotr(a, 34) ^ rotr(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

// Buffering shared by both: whole blocks straight from data, the rest kept.
template <typename State, size_t B, typename Block>
void update(State *s, const unsigned char *data, size_t n, Block block) {
    size_t have = static_cast<size_t>(s->total % B);
    s->total += n;
    if (have) {
        const size_t take = B - have < n ? B - have : n;
        std::memcpy(s->buf + have, data, take);
        data += take;
        n -= take;
        if (have + take < B) return;
        block(s->h, s->buf);
    }
    for (; n >= B; data += B, n -= B) block(s->h, data);
    if (n) std::memcpy(s->buf, data, n);
}

// 5.1: a 1 bit, zeros, and the message's bit length in the last 8 bytes
// of the block (of 16 for SHA-512, whose upper 8 stay zero here).
template <typename State, size_t B, typename Block>
void pad(State *s, Block block) {
    constexpr size_t LEN_BYTES = B / 8;
    const uint64_t bits = s->total * 8;
    unsigned char tail[2 * B] = {0x80};
    const size_t have = static_cast<size_t>(s->total % B);
    const size_t zeros = have < B - LEN_BYTES ? B - LEN_BYTES - have : 2 * B - LEN_BYTES - have;
    store_be<uint64_t>(tail + zeros + LEN_BYTES - 8, bits);
    update<State, B>(s, tail, zeros + LEN_BYTES, block);
}

}  // namespace

void sha256_init(sha256_state *s) {
    static constexpr uint32_t H0[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(s->h, H0, sizeof H0);
    s->total = 0;
}

void sha256_update(sha256_state *s, const unsigned char *data, size_t n) {
    update<sha256_state, SHA256_BLOCK_BYTES>(s, data, n, sha256_block);
}

void sha256_final(sha256_state *s, unsigned char out[SHA256_DIGEST_BYTES]) {
    pad<sha256_state, SHA256_BLOCK_BYTES>(s, sha256_block);
    for (int i = 0; i < 8; ++i) store_be(out + 4 * i, s->h[i]);
}

void sha256(const unsigned char *data, size_t n, unsigned char out[SHA256_DIGEST_BYTES]) {
    sha256_state s;
    sha256_init(&s);
    sha256_update(&s, data, n);
    sha256_final(&s, out);
}

void sha384_init(sha512_state *s) {
    static constexpr uint64_t H0[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                       0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                       0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    std::memcpy(s->h, H0, sizeof H0);
    s->total = 0;
}

void sha512_init(sha512_state *s) {
    static constexpr uint64_t H0[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    std::memcpy(s->h, H0, sizeof H0);
    s->total = 0;
}

void sha512_update(sha512_state *s, const unsigned char *data, size_t n) {
    update<sha512_state, SHA512_BLOCK_BYTES>(s, data, n, sha512_block);
}

void sha384_final(sha512_state *s, unsigned char out[SHA384_DIGEST_BYTES]) {
    pad<sha512_state, SHA512_BLOCK_BYTES>(s, sha512_block);
    for (int i = 0; i < 6; ++i) store_be(out + 8 * i, s->h[i]);
}

void sha512_final(sha512_state *s, unsigned char out[SHA512_DIGEST_BYTES]) {
    pad<sha512_state, SHA512_BLOCK_BYTES>(s, sha512_block);
    for (int i = 0; i < 8; ++i) store_be(out + 8 * i, s->h[i]);
}

void sha384(const unsigned char *data, size_t n, unsigned char out[SHA384_DIGEST_BYTES]) {
    sha512_state s;
    sha384_init(&s);
    sha512_update(&s, data, n);
    sha384_final(&s, out);
}

void sha512(const unsigned char *data, size_t n, unsigned char out[SHA512_DIGEST_BYTES]) {
    sha512_state s;
    sha512_init(&s);
    sha512_update(&s, data, n);
    sha512_final(&s, out);
}
