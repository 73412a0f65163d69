// sha2: the SHA-256, SHA-384 and SHA-512 message digests (FIPS 180-4),
// which the PDF standard security handler of revisions 5 and 6 builds its
// keys from. Nothing in it knows PDF. SHA-256 hashes about 260 MB/s,
// SHA-512 375 MB/s (bench/bench_crypto).
//
// Return convention: nothing fails. Every function returns void and writes
// into the caller's record or array; the caller owns all memory. A state is
// used by one caller at a time; separate states are independent.
#ifndef SHA2_H
#define SHA2_H

#include <cstddef>
#include <cstdint>

// Limits of the formats: SHA-256 hashes 64-byte blocks into 32 bytes;
// SHA-384 and SHA-512 hash 128-byte blocks into 48 and 64 bytes.
constexpr size_t SHA256_DIGEST_BYTES = 32;
constexpr size_t SHA256_BLOCK_BYTES = 64;
constexpr size_t SHA384_DIGEST_BYTES = 48;
constexpr size_t SHA512_DIGEST_BYTES = 64;
constexpr size_t SHA512_BLOCK_BYTES = 128;

// A SHA-256 digest in progress.
struct sha256_state {
    uint32_t h[8];
    uint64_t total;  // bytes hashed so far
    unsigned char buf[SHA256_BLOCK_BYTES];
};

// A SHA-384 or SHA-512 digest in progress (they differ in their initial
// values and in how much of the result they give).
struct sha512_state {
    uint64_t h[8];
    uint64_t total;  // bytes hashed so far (messages below 2^64 bytes)
    unsigned char buf[SHA512_BLOCK_BYTES];
};

// SHA-256: start, add n bytes, end into out (the state must be started
// again before further use), or all in one call.
void sha256_init(sha256_state *s);
void sha256_update(sha256_state *s, const unsigned char *data, size_t n);
void sha256_final(sha256_state *s, unsigned char out[SHA256_DIGEST_BYTES]);
void sha256(const unsigned char *data, size_t n, unsigned char out[SHA256_DIGEST_BYTES]);

// SHA-384 and SHA-512: the same, sharing the update.
void sha384_init(sha512_state *s);
void sha512_init(sha512_state *s);
void sha512_update(sha512_state *s, const unsigned char *data, size_t n);
void sha384_final(sha512_state *s, unsigned char out[SHA384_DIGEST_BYTES]);
void sha512_final(sha512_state *s, unsigned char out[SHA512_DIGEST_BYTES]);
void sha384(const unsigned char *data, size_t n, unsigned char out[SHA384_DIGEST_BYTES]);
void sha512(const unsigned char *data, size_t n, unsigned char out[SHA512_DIGEST_BYTES]);

#endif
