// deflate: our own encoder for zlib-format (RFC 1950/1951) Flate data. A
// format unit: it knows nothing of PDF.
//
// Results: 0 on success, -1 on failure; sizes as values.
#ifndef DEFLATE_H
#define DEFLATE_H

#include <cstdint>
#include <vector>

#include "size_limits.h"

constexpr uint64_t DEFLATE_MAX_INPUT = MAX_FILE_BYTES;

// The most bytes deflate_compress produces for n input bytes (n at most
// DEFLATE_MAX_INPUT): the input itself plus about 0.04 %.
uint64_t deflate_bound(uint64_t n);

// Compresses src[0..n) into dst as one zlib stream (header, blocks,
// Adler-32), at most dst_cap bytes. Returns 0 with *produced bytes written;
// -1 with *produced 0 when n exceeds DEFLATE_MAX_INPUT, the stream does not
// fit in dst_cap (deflate_bound(n) always does) or the matcher's tables
// (at most about 450 KB) cannot be allocated. The bytes depend on the input
// and the effort alone, not on dst_cap and not on scratch; bytes of dst past
// *produced (within dst_cap) may have been written over. Thread-safe.
//
// scratch, when given, holds the matcher's tables between calls: a caller
// that compresses many small streams (a page's content each) then reuses
// the same memory instead of taking fresh pages from the system for every
// stream. One call at a time per scratch.
//
// effort: standard compresses within about 1 % of zlib's default level;
// fast, for text that is written once and read rarely (packed objects),
// takes about half the time for a few per cent more bytes.
struct deflate_scratch {
    std::vector<uint32_t> words;
};
enum class deflate_effort { standard, fast };
int deflate_compress(const unsigned char *src, uint64_t n, unsigned char *dst, uint64_t dst_cap,
                     uint64_t *produced, deflate_scratch *scratch = nullptr,
                     deflate_effort effort = deflate_effort::standard);

// Code lengths of an optimal prefix code for freq[0..n) (n at most 288) in
// which no code is longer than max_bits (at most 15, and 2^max_bits at least
// the number of used symbols): length[s] is 0 for an unused symbol, 1 for
// the only used one. Every block's codes are built with it.
void deflate_code_lengths(const uint32_t *freq, int n, int max_bits, uint8_t *length);

#endif
