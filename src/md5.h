// md5: the MD5 message digest (RFC 1321), which the PDF standard security
// handler of revisions 2 to 4 builds its keys from. Nothing in it knows PDF.
// About 415 MB/s (bench/bench_crypto).
//
// Return convention: nothing fails. Every function returns void and writes
// into the caller's record or array; the caller owns all memory. A state is
// used by one caller at a time; separate states are independent.
#ifndef MD5_H
#define MD5_H

#include <cstddef>
#include <cstdint>

// Limits of the format: a 128-bit digest over 512-bit blocks.
constexpr size_t MD5_DIGEST_BYTES = 16;
constexpr size_t MD5_BLOCK_BYTES = 64;

// A digest in progress.
struct md5_state {
    uint32_t h[4];                     // chaining values A, B, C, D
    uint64_t total;                    // bytes hashed so far
    unsigned char buf[MD5_BLOCK_BYTES];  // a partial block, total % 64 bytes
};

// Starts a digest.
void md5_init(md5_state *s);
// Adds n bytes.
void md5_update(md5_state *s, const unsigned char *data, size_t n);
// Ends the digest into out; s must be started again before further use.
void md5_final(md5_state *s, unsigned char out[MD5_DIGEST_BYTES]);
// The digest of data[0, n) in one call.
void md5(const unsigned char *data, size_t n, unsigned char out[MD5_DIGEST_BYTES]);

#endif
