// inflate: our own decoder for zlib-format (RFC 1950/1951) Flate data. A
// format unit: it knows nothing of PDF.
//
// Results: 0 on success, -1 on failure.
#ifndef INFLATE_H
#define INFLATE_H

#include <cstdint>

#include "size_limits.h"

// The most output one call may be asked for.
constexpr uint64_t INFLATE_MAX_OUTPUT = MAX_DECODED_BYTES;

// Decodes src (zlib header included) into dst, at most dst_cap bytes; never
// allocates. Returns 0 when decoding ended (at the final block, or early at
// damaged data) with *produced bytes valid; -1 on failure (bad header, input
// cut short, output does not fit) with *produced 0. Bytes of dst past
// *produced (within dst_cap) may have been written over. Thread-safe.
int inflate_decompress(const unsigned char *src, uint64_t src_len, unsigned char *dst,
                       uint64_t dst_cap, uint64_t *produced);

#endif
