// size_limits: the two byte limits that every unit shares, stated once.
#ifndef SIZE_LIMITS_H
#define SIZE_LIMITS_H

#include <cstdint>

// Offsets and lengths are signed 32-bit, so no input file, decoded stream
// or output file reaches 2^31 bytes.
constexpr int64_t MAX_FILE_BYTES = 2147483647;  // 2^31 - 1

// No stream, and no stage of a filter chain, decodes to more than this:
// the Flate decoder's output limit, which every other filter keeps too.
constexpr uint64_t MAX_DECODED_BYTES = 1073741824;  // 2^30

#endif
