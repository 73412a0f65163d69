// AES (FIPS 197) as four table lookups per column and round: each table
// entry is a column of MixColumns applied to one S-box output, so SubBytes,
// ShiftRows and MixColumns of a round become 16 lookups and XORs. State
// words are big-endian columns. The S-box and the tables are computed at
// compile time from the field arithmetic of section 4, so there is no
// table to mistype and nothing to build at run time.
#include "aes.h"

#include <array>
#include <cstring>

namespace {

using table = std::array<uint32_t, 256>;

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (4.2).
constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t p = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & 1) p ^= a;
        a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
        b >>= 1;
    }
    return p;
}

// 5.1.1: the multiplicative inverse (a^254; 0 maps to 0), then the affine map.
constexpr std::array<uint8_t, 256> make_sbox() {
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; ++x) {
        uint8_t inv = 1, base = static_cast<uint8_t>(x);
        for (int e = 254; e; e >>= 1, base = gmul(base, base))
            if (e & 1) inv = gmul(inv, base);
        if (x == 0) inv = 0;
        uint8_t r = 0x63;
        for (int i = 0; i < 5; ++i) r ^= static_cast<uint8_t>((inv << i) | (inv >> (8 - i)));
        s[static_cast<size_t>(x)] = r;
    }
    return s;
}

constexpr std::array<uint8_t, 256> SBOX = make_sbox();

constexpr std::array<uint8_t, 256> make_inv_sbox() {
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; ++x) s[SBOX[static_cast<size_t>(x)]] = static_cast<uint8_t>(x);
    return s;
}

constexpr std::array<uint8_t, 256> INV_SBOX = make_inv_sbox();

constexpr uint32_t rotr8(uint32_t w, int times) {
    for (int i = 0; i < times; ++i) w = (w >> 8) | (w << 24);
    return w;
}

// Column (c0 s, c1 s, c2 s, c3 s) of s = box[x], rotated right by 8 * rot bits.
constexpr table make_table(const std::array<uint8_t, 256> &box, uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3,
                           int rot) {
    table t{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = box[static_cast<size_t>(x)];
        const uint32_t w = uint32_t(gmul(s, c0)) << 24 | uint32_t(gmul(s, c1)) << 16 | uint32_t(gmul(s, c2)) << 8 |
                           gmul(s, c3);
        t[static_cast<size_t>(x)] = rotr8(w, rot);
    }
    return t;
}

// MixColumns' column {02 01 01 03} (5.1.3) and InvMixColumns' {0e 09 0d 0b} (5.3.3).
constexpr table TE0 = make_table(SBOX, 2, 1, 1, 3, 0), TE1 = make_table(SBOX, 2, 1, 1, 3, 1),
                TE2 = make_table(SBOX, 2, 1, 1, 3, 2), TE3 = make_table(SBOX, 2, 1, 1, 3, 3);
constexpr table TD0 = make_table(INV_SBOX, 14, 9, 13, 11, 0), TD1 = make_table(INV_SBOX, 14, 9, 13, 11, 1),
                TD2 = make_table(INV_SBOX, 14, 9, 13, 11, 2), TD3 = make_table(INV_SBOX, 14, 9, 13, 11, 3);

inline uint32_t load_be32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void store_be32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline uint32_t b0(uint32_t w) { return w >> 24; }
inline uint32_t b1(uint32_t w) { return (w >> 16) & 0xff; }
inline uint32_t b2(uint32_t w) { return (w >> 8) & 0xff; }
inline uint32_t b3(uint32_t w) { return w & 0xff; }

inline uint32_t sub_word(uint32_t w) {
    return uint32_t(SBOX[b0(w)]) << 24 | uint32_t(SBOX[b1(w)]) << 16 | uint32_t(SBOX[b2(w)]) << 8 | SBOX[b3(w)];
}

// InvMixColumns of one word, through the tables: TD of S(x) is the column of x.
inline uint32_t inv_mix(uint32_t w) {
    return TD0[SBOX[b0(w)]] ^ TD1[SBOX[b1(w)]] ^ TD2[SBOX[b2(w)]] ^ TD3[SBOX[b3(w)]];
}

inline void xor_block(unsigned char *dst, const unsigned char *a, const unsigned char *b) {
    for (size_t i = 0; i < AES_BLOCK_BYTES; ++i) dst[i] = a[i] ^ b[i];
}

}  // namespace

int aes_key_init(aes_key *k, const unsigned char *key, size_t key_len) {
    if (key_len != 16 && key_len != 24 && key_len != 32) return -1;
    const int nk = static_cast<int>(key_len / 4);
    k->rounds = nk + 6;
    const int words = 4 * (k->rounds + 1);
    // 5.2: KeyExpansion.
    uint32_t rcon = 1;
    for (int i = 0; i < words; ++i) {
        if (i < nk) {
            k->enc[i] = load_be32(key + 4 * i);
            continue;
        }
        uint32_t t = k->enc[i - 1];
        if (i % nk == 0) {
            t = sub_word((t << 8) | (t >> 24)) ^ (rcon << 24);
            rcon = gmul(static_cast<uint8_t>(rcon), 2);
        } else if (nk > 6 && i % nk == 4) {
            t = sub_word(t);
        }
        k->enc[i] = k->enc[i - nk] ^ t;
    }
    // 5.3.5: the round keys in reverse order, the inner ones through InvMixColumns.
    for (int r = 0; r <= k->rounds; ++r)
        for (int c = 0; c < 4; ++c) {
            const uint32_t w = k->enc[4 * (k->rounds - r) + c];
            k->dec[4 * r + c] = (r == 0 || r == k->rounds) ? w : inv_mix(w);
        }
    return 0;
}

void aes_encrypt_block(const aes_key *k, const unsigned char in[AES_BLOCK_BYTES], unsigned char out[AES_BLOCK_BYTES]) {
    const uint32_t *rk = k->enc;
    uint32_t s0 = load_be32(in) ^ rk[0], s1 = load_be32(in + 4) ^ rk[1], s2 = load_be32(in + 8) ^ rk[2],
             s3 = load_be32(in + 12) ^ rk[3];
    for (int r = 1; r < k->rounds; ++r) {
        rk += 4;
        const uint32_t t0 = TE0[b0(s0)] ^ TE1[b1(s1)] ^ TE2[b2(s2)] ^ TE3[b3(s3)] ^ rk[0];
        const uint32_t t1 = TE0[b0(s1)] ^ TE1[b1(s2)] ^ TE2[b2(s3)] ^ TE3[b3(s0)] ^ rk[1];
        const uint32_t t2 = TE0[b0(s2)] ^ TE1[b1(s3)] ^ TE2[b2(s0)] ^ TE3[b3(s1)] ^ rk[2];
        const uint32_t t3 = TE0[b0(s3)] ^ TE1[b1(s0)] ^ TE2[b2(s1)] ^ TE3[b3(s2)] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    // The last round has no MixColumns.
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(SBOX[b0(a)]) << 24 | uint32_t(SBOX[b1(b)]) << 16 | uint32_t(SBOX[b2(c)]) << 8 | SBOX[b3(d)];
    };
    store_be32(out, last(s0, s1, s2, s3) ^ rk[0]);
    store_be32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
    store_be32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
    store_be32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void aes_decrypt_block(const aes_key *k, const unsigned char in[AES_BLOCK_BYTES], unsigned char out[AES_BLOCK_BYTES]) {
    const uint32_t *rk = k->dec;
    uint32_t s0 = load_be32(in) ^ rk[0], s1 = load_be32(in + 4) ^ rk[1], s2 = load_be32(in + 8) ^ rk[2],
             s3 = load_be32(in + 12) ^ rk[3];
    for (int r = 1; r < k->rounds; ++r) {
        rk += 4;
        const uint32_t t0 = TD0[b0(s0)] ^ TD1[b1(s3)] ^ TD2[b2(s2)] ^ TD3[b3(s1)] ^ rk[0];
        const uint32_t t1 = TD0[b0(s1)] ^ TD1[b1(s0)] ^ TD2[b2(s3)] ^ TD3[b3(s2)] ^ rk[1];
        const uint32_t t2 = TD0[b0(s2)] ^ TD1[b1(s1)] ^ TD2[b2(s0)] ^ TD3[b3(s3)] ^ rk[2];
        const uint32_t t3 = TD0[b0(s3)] ^ TD1[b1(s2)] ^ TD2[b2(s1)] ^ TD3[b3(s0)] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t(INV_SBOX[b0(a)]) << 24 | uint32_t(INV_SBOX[b1(b)]) << 16 | uint32_t(INV_SBOX[b2(c)]) << 8 |
               INV_SBOX[b3(d)];
    };
    store_be32(out, last(s0, s3, s2, s1) ^ rk[0]);
    store_be32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
    store_be32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
    store_be32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

void aes_cbc_encrypt(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                     unsigned char *out, size_t n) {
    const unsigned char *prev = iv;
    for (size_t i = 0; i + AES_BLOCK_BYTES <= n; i += AES_BLOCK_BYTES) {
        xor_block(out + i, in + i, prev);
        aes_encrypt_block(k, out + i, out + i);
        prev = out + i;
    }
}

void aes_cbc_decrypt(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                     unsigned char *out, size_t n) {
    // Both the previous and the current ciphertext block are held apart, so
    // writing a block's plaintext may overwrite them in place.
    unsigned char prev[AES_BLOCK_BYTES], cur[AES_BLOCK_BYTES], plain[AES_BLOCK_BYTES];
    std::memcpy(prev, iv, AES_BLOCK_BYTES);
    for (size_t i = 0; i + AES_BLOCK_BYTES <= n; i += AES_BLOCK_BYTES) {
        std::memcpy(cur, in + i, AES_BLOCK_BYTES);
        aes_decrypt_block(k, cur, plain);
        xor_block(out + i, plain, prev);
        std::memcpy(prev, cur, AES_BLOCK_BYTES);
    }
}

void aes_cbc_encrypt_padded(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                            unsigned char *out, size_t n) {
    const size_t whole = n - n % AES_BLOCK_BYTES;
    aes_cbc_encrypt(k, iv, in, out, whole);
    unsigned char last[AES_BLOCK_BYTES];
    const size_t rest = n - whole;
    if (rest) std::memcpy(last, in + whole, rest);
    std::memset(last + rest, static_cast<int>(AES_BLOCK_BYTES - rest), AES_BLOCK_BYTES - rest);
    aes_cbc_encrypt(k, whole ? out + whole - AES_BLOCK_BYTES : iv, last, out + whole, AES_BLOCK_BYTES);
}

int64_t pkcs7_unpadded_len(const unsigned char *data, size_t n) {
    if (n == 0 || n % AES_BLOCK_BYTES != 0) return -1;
    const unsigned char pad = data[n - 1];
    if (pad < 1 || pad > AES_BLOCK_BYTES) return -1;
    for (size_t i = n - pad; i < n; ++i)
        if (data[i] != pad) return -1;
    return static_cast<int64_t>(n - pad);
}
