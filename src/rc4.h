// rc4: the RC4 stream cipher, which the PDF standard security handler of
// revisions 2 to 4 encrypts strings and streams with (and checks its
// passwords with). Nothing in it knows PDF. Encrypting and decrypting are
// the same operation. About 570 MB/s (bench/bench_crypto).
//
// Return convention: nothing fails. Every function returns void and writes
// into the caller's record or array; the caller owns all memory.
#ifndef RC4_H
#define RC4_H

#include <cstddef>
#include <cstdint>

// Limits of the cipher: keys of 1 to 256 bytes.
constexpr size_t RC4_MAX_KEY_BYTES = 256;

// The cipher's state: the permutation and its two indexes.
struct rc4_state {
    unsigned char s[256];
    unsigned char i, j;
};

// Keys the state with key[0, key_len), key_len 1..RC4_MAX_KEY_BYTES.
void rc4_init(rc4_state *st, const unsigned char *key, size_t key_len);
// XORs the next n bytes of the key stream onto in, into out; out may equal in.
void rc4_crypt(rc4_state *st, const unsigned char *in, unsigned char *out, size_t n);

#endif
