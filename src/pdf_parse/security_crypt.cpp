// One object's strings and stream data, decrypted for reading and
// encrypted for output. RC4 data is as long as the plain data; AES data is
// a 16-byte IV, then the CBC ciphertext of the data padded as PKCS #7 says.
#include <cstring>
#include <string>
#include <vector>

#include "md5.h"
#include "rc4.h"
#include "scan.h"
#include "security.h"
#include "sha2.h"

namespace {

// Revisions 2-4 key each object apart: the file key, the object number's
// three low bytes and the generation's two, little-endian, and for AES the
// bytes "sAlT", hashed; as many bytes as the file key has and five more,
// at most the 16 of the digest.
int32_t object_key(const pdfp_security *sec, int32_t method, int32_t num, int32_t gen, unsigned char *out) {
    unsigned char tail[9] = {static_cast<unsigned char>(num), static_cast<unsigned char>(num >> 8),
                             static_cast<unsigned char>(num >> 16), static_cast<unsigned char>(gen),
                             static_cast<unsigned char>(gen >> 8), 's', 'A', 'l', 'T'};
    md5_state s;
    md5_init(&s);
    md5_update(&s, sec->key, static_cast<size_t>(sec->key_len));
    md5_update(&s, tail, method == PDFP_CRYPT_AESV2 ? 9 : 5);
    unsigned char digest[MD5_DIGEST_BYTES];
    md5_final(&s, digest);
    const int32_t n = sec->key_len + 5 < 16 ? sec->key_len + 5 : 16;
    std::memcpy(out, digest, static_cast<size_t>(n));
    return n;
}

bool is_aes(int32_t method) { return method == PDFP_CRYPT_AESV2 || method == PDFP_CRYPT_AESV3; }

// Output IVs: a seed per object, SHA-256 of a label, the file key, the
// number and the generation; each IV then the first 16 bytes of SHA-256 of
// the seed and the counter.
constexpr char IV_LABEL[] = "pdf object iv";

void iv_seed(const pdfp_security *sec, int32_t num, int32_t gen, unsigned char out[SHA256_DIGEST_BYTES]) {
    sha256_state s;
    sha256_init(&s);
    sha256_update(&s, reinterpret_cast<const unsigned char *>(IV_LABEL), sizeof IV_LABEL - 1);
    sha256_update(&s, sec->key, static_cast<size_t>(sec->key_len));
    const uint32_t n = static_cast<uint32_t>(num), g = static_cast<uint32_t>(gen);
    const unsigned char ng[8] = {static_cast<unsigned char>(n),       static_cast<unsigned char>(n >> 8),
                                 static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24),
                                 static_cast<unsigned char>(g),       static_cast<unsigned char>(g >> 8),
                                 static_cast<unsigned char>(g >> 16), static_cast<unsigned char>(g >> 24)};
    sha256_update(&s, ng, sizeof ng);
    sha256_final(&s, out);
}

}  // namespace

void pdfp_crypt_init(pdfp_crypt *c, const pdfp_security *sec, int32_t method, int32_t num, int32_t gen) {
    c->method = method;
    if (method == PDFP_CRYPT_AESV3) {
        c->key_len = sec->key_len;
        std::memcpy(c->key, sec->key, static_cast<size_t>(sec->key_len));
    } else {
        c->key_len = object_key(sec, method, num, gen, c->key);
    }
    if (is_aes(method)) aes_key_init(&c->aes, c->key, static_cast<size_t>(c->key_len));
    iv_seed(sec, num, gen, c->iv_seed);
}

int pdfp_crypt_decrypt(const pdfp_crypt *c, const unsigned char *in, uint64_t n, unsigned char *out,
                       uint64_t *out_len) {
    *out_len = 0;
    if (c->method == PDFP_CRYPT_RC4) {
        rc4_state st;
        rc4_init(&st, c->key, static_cast<size_t>(c->key_len));
        rc4_crypt(&st, in, out, static_cast<size_t>(n));
        *out_len = n;
        return 0;
    }
    if (!is_aes(c->method)) {
        if (out != in && n) std::memmove(out, in, static_cast<size_t>(n));
        *out_len = n;
        return 0;
    }
    if (n < AES_BLOCK_BYTES || n % AES_BLOCK_BYTES != 0) return -1;
    // The IV alone is empty data, as viewers read it.
    if (n == AES_BLOCK_BYTES) return 0;
    const size_t body = static_cast<size_t>(n) - AES_BLOCK_BYTES;
    aes_cbc_decrypt(&c->aes, in, in + AES_BLOCK_BYTES, out, body);
    const int64_t plain = pkcs7_unpadded_len(out, body);
    if (plain < 0) return -1;
    *out_len = static_cast<uint64_t>(plain);
    return 0;
}

uint64_t pdfp_crypt_encrypted_len(const pdfp_crypt *c, uint64_t n) {
    return is_aes(c->method) ? AES_BLOCK_BYTES + pkcs7_padded_len(static_cast<size_t>(n)) : n;
}

void pdfp_crypt_encrypt(const pdfp_crypt *c, uint32_t counter, const unsigned char *in, uint64_t n,
                        unsigned char *out) {
    if (c->method == PDFP_CRYPT_RC4) {
        rc4_state st;
        rc4_init(&st, c->key, static_cast<size_t>(c->key_len));
        rc4_crypt(&st, in, out, static_cast<size_t>(n));
        return;
    }
    if (!is_aes(c->method)) {
        if (out != in && n) std::memmove(out, in, static_cast<size_t>(n));
        return;
    }
    unsigned char seed[SHA256_DIGEST_BYTES + 4], iv[SHA256_DIGEST_BYTES];
    std::memcpy(seed, c->iv_seed, SHA256_DIGEST_BYTES);
    for (int i = 0; i < 4; ++i) seed[SHA256_DIGEST_BYTES + i] = static_cast<unsigned char>(counter >> (8 * i));
    sha256(seed, sizeof seed, iv);
    std::memcpy(out, iv, AES_BLOCK_BYTES);
    aes_cbc_encrypt_padded(&c->aes, out, in, out + AES_BLOCK_BYTES, static_cast<size_t>(n));
}

namespace {

// Appends bytes as a hexadecimal string: 1, or 0 when out could not grow.
int append_hex(pdfp_buf *out, const unsigned char *p, uint64_t n) {
    static const char digits[] = "0123456789abcdef";
    if (!pdfp_buf_reserve(out, 2 * n + 2)) return 0;
    unsigned char *w = out->data + out->len;
    *w++ = '<';
    for (uint64_t i = 0; i < n; ++i) {
        *w++ = static_cast<unsigned char>(digits[p[i] >> 4]);
        *w++ = static_cast<unsigned char>(digits[p[i] & 15]);
    }
    *w++ = '>';
    out->len = static_cast<uint64_t>(w - out->data);
    out->data[out->len] = 0;
    return 1;
}

}  // namespace

int pdfp_crypt_strings(const unsigned char *text, int32_t len, const pdfp_crypt *from, const pdfp_crypt *to,
                       uint32_t *counter, pdfp_buf *out) {
    std::string bytes;
    std::vector<unsigned char> sealed;
    int32_t copied = 0;
    for (int32_t i = 0; i < len;) {
        const unsigned char c = text[i];
        if (c == '%') {
            while (i < len && text[i] != '\r' && text[i] != '\n') ++i;
            continue;
        }
        if (c == '<' && i + 1 < len && text[i + 1] == '<') {
            i += 2;
            continue;
        }
        if (c != '(' && c != '<') {
            ++i;
            continue;
        }
        const int32_t e = string_bytes(text, i, len, &bytes);
        if (e < 0) break;
        if (!pdfp_buf_bytes(out, text + copied, static_cast<uint64_t>(i - copied))) return 0;
        unsigned char *p = reinterpret_cast<unsigned char *>(bytes.data());
        uint64_t n = bytes.size();
        if (from && pdfp_crypt_decrypt(from, p, n, p, &n) != 0) n = 0;
        if (to) {
            sealed.resize(pdfp_crypt_encrypted_len(to, n));
            pdfp_crypt_encrypt(to, (*counter)++, p, n, sealed.data());
            p = sealed.data();
            n = sealed.size();
        }
        if (!append_hex(out, p, n)) return 0;
        copied = i = e;
    }
    return pdfp_buf_bytes(out, text + copied, static_cast<uint64_t>(len - copied)) ? 1 : 0;
}
