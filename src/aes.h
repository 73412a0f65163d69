// aes: the AES block cipher (FIPS 197) with 128-, 192- and 256-bit keys, in
// CBC mode (NIST SP 800-38A) with PKCS #7 padding (RFC 5652, 6.3): what the
// PDF standard security handler encrypts strings and streams with (AESV2:
// AES-128, AESV3: AES-256) and derives its revision 6 keys with. Nothing
// in it knows PDF.
//
// Table-driven (four 1 KiB tables each way, built at compile time), with no
// processor-specific instructions: AES-128-CBC encrypts about 310 MB/s and
// decrypts 360 MB/s, AES-256-CBC 240 and 265 MB/s (bench/bench_crypto, one
// core of the development machine). The table lookups depend on the key and
// the data, so it is not meant for secrets that another program on the same
// machine could time.
//
// Return convention: aes_key_init and pkcs7_unpadded_len return -1 on
// failure (a key of another length; padding that is not PKCS #7); every
// other function returns void and cannot fail. The caller owns all memory.
#ifndef AES_H
#define AES_H

#include <cstddef>
#include <cstdint>

// Limits of the format: 16-byte blocks, keys of 16, 24 or 32 bytes taking
// 10, 12 or 14 rounds, so at most 15 round keys of four words.
constexpr size_t AES_BLOCK_BYTES = 16;
constexpr int AES_MAX_ROUNDS = 14;
constexpr int AES_MAX_SCHEDULE_WORDS = 4 * (AES_MAX_ROUNDS + 1);

// An expanded key: the round keys of the cipher and of the equivalent
// inverse cipher (FIPS 197, 5.3.5).
struct aes_key {
    uint32_t enc[AES_MAX_SCHEDULE_WORDS];
    uint32_t dec[AES_MAX_SCHEDULE_WORDS];
    int rounds;
};

// Expands key[0, key_len): 0, or -1 when key_len is not 16, 24 or 32.
int aes_key_init(aes_key *k, const unsigned char *key, size_t key_len);
// One block each way; out may equal in.
void aes_encrypt_block(const aes_key *k, const unsigned char in[AES_BLOCK_BYTES], unsigned char out[AES_BLOCK_BYTES]);
void aes_decrypt_block(const aes_key *k, const unsigned char in[AES_BLOCK_BYTES], unsigned char out[AES_BLOCK_BYTES]);

// CBC over n bytes, n a multiple of AES_BLOCK_BYTES, starting from iv.
// Encrypting, out may equal in. Decrypting, out may equal in or lie before
// it (the plaintext of data stored as IV then ciphertext can be written over
// the IV: iv = p, in = p + 16, out = p).
void aes_cbc_encrypt(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                     unsigned char *out, size_t n);
void aes_cbc_decrypt(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                     unsigned char *out, size_t n);

// PKCS #7: n bytes padded take pkcs7_padded_len(n) bytes (1 to 16 more).
inline size_t pkcs7_padded_len(size_t n) { return (n / AES_BLOCK_BYTES + 1) * AES_BLOCK_BYTES; }
// CBC over in[0, n) padded: writes pkcs7_padded_len(n) bytes to out, which
// must not overlap in.
void aes_cbc_encrypt_padded(const aes_key *k, const unsigned char iv[AES_BLOCK_BYTES], const unsigned char *in,
                            unsigned char *out, size_t n);
// The length of the padded data[0, n) without its padding, or -1 when n is
// not a positive multiple of 16 or the last byte k is not 1..16 with the
// last k bytes all k.
int64_t pkcs7_unpadded_len(const unsigned char *data, size_t n);

#endif
