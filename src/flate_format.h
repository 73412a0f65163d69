// flate_format: the limits and tables of the Flate format (RFC 1951) that
// the decoder (inflate.cpp) and the encoder (deflate.cpp) share.
#ifndef FLATE_FORMAT_H
#define FLATE_FORMAT_H

#include <cstdint>
#include <cstring>

namespace flate {

// Unaligned little-endian loads of 4 or 8 bytes, for the bit buffers and
// the match finder.
template <typename T>
inline T load_le(const unsigned char *p) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    T v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    if constexpr (sizeof(T) == 8)
        v = __builtin_bswap64(v);
    else
        v = __builtin_bswap32(v);
#endif
    return v;
}
inline uint64_t load_le64(const unsigned char *p) { return load_le<uint64_t>(p); }
inline uint32_t load_le32(const unsigned char *p) { return load_le<uint32_t>(p); }

// Deflate sends Huffman codes most significant bit first into a stream
// read lowest bit first: a code as it stands in the stream (and as the
// decoder's tables index it) is the code with its len bits reversed (len
// 1 to 16), looked up a byte at a time: every block's codes are reversed.
struct byte_reversal {
    uint8_t r[256];
};
constexpr byte_reversal make_byte_reversal() {
    byte_reversal t{};
    for (unsigned b = 0; b < 256; b++)
        for (unsigned i = 0; i < 8; i++) t.r[b] = uint8_t(t.r[b] | ((b >> i) & 1) << (7 - i));
    return t;
}
inline constexpr byte_reversal reversed_bytes = make_byte_reversal();
constexpr unsigned reverse_bits(unsigned code, unsigned len) {
    return (unsigned(reversed_bytes.r[code & 0xff]) << 8 | reversed_bytes.r[(code >> 8) & 0xff]) >> (16 - len);
}

// Limits of the format.
constexpr int MAXBITS = 15;       // longest Huffman code
constexpr int MAXLCODES = 286;    // literal/length codes in a dynamic block
constexpr int MAXDCODES = 30;     // distance codes
constexpr int MAXCODES = MAXLCODES + MAXDCODES;
constexpr int FIXLCODES = 288;    // literal/length symbols of the fixed code
constexpr int CLCODES = 19;       // code-length codes
constexpr int MAXCLBITS = 7;      // longest code-length code (3-bit lengths)
constexpr int END_BLOCK = 256;    // end-of-block symbol

// Base lengths and extra bits of length symbols 257..285 (RFC 1951, 3.2.5).
constexpr uint16_t lens[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Base distances and extra bits of distance symbols 0..29.
constexpr uint16_t dists[30] = {1,   2,   3,   4,   5,    7,    9,    13,   17,   25,
                                33,  49,  65,  97,  129,  193,  257,  385,  513,  769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code lengths are stored (3.2.7).
constexpr uint8_t order[CLCODES] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Code lengths of the fixed code (3.2.6): literal/length symbol sym, and
// five bits for every distance.
constexpr int fixed_length(int sym) { return sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8; }
constexpr int FIXDBITS = 5;

}  // namespace flate

#endif
