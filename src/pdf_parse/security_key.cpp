// The file key from the empty user password. Revisions 2-4: the key is an
// MD5 of the padded password, /O, /P, the first /ID and (revision 4 with
// metadata in the clear) four 0xFF bytes, hashed again 50 times from
// revision 3 on; the password is right when /U is what that key makes of
// the padding. Revision 5 (Adobe's extension level 3, as `qpdf --force-R5`
// writes it): SHA-256 of the password and /U's salts. Revision 6: the
// iterated SHA-256/384/512 hash of the 2.0 standard; both then unwrap /UE
// with AES-256, and /Perms confirms /P.
#include <cstring>

#include "md5.h"
#include "rc4.h"
#include "security.h"
#include "sha2.h"

namespace {

// The padding that fills a password up to 32 bytes; the empty password is
// this padding whole.
constexpr unsigned char PASSWORD_PAD[PDFP_PASSWORD_PAD_BYTES] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// Revisions 3 and 4 hash the key 50 times more and run RC4 over /U's
// digest 20 times, with the key XORed by the pass number.
constexpr int KEY_REHASHES = 50;
constexpr int U_RC4_PASSES = 20;
// Revisions 5-6: /U is a 32-byte hash, an 8-byte validation salt and an
// 8-byte key salt.
constexpr int HASH_BYTES = 32;
constexpr int SALT_BYTES = 8;

// Revisions 2-4: the file key of the empty password into sec->key.
void rc4_file_key(pdfp_security *sec, const unsigned char *id, int32_t id_len) {
    md5_state s;
    md5_init(&s);
    md5_update(&s, PASSWORD_PAD, sizeof PASSWORD_PAD);
    md5_update(&s, sec->o, PDFP_OU_BYTES_R4);
    const uint32_t p = static_cast<uint32_t>(sec->p);
    const unsigned char p_le[4] = {static_cast<unsigned char>(p), static_cast<unsigned char>(p >> 8),
                                   static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 24)};
    md5_update(&s, p_le, 4);
    md5_update(&s, id, static_cast<size_t>(id_len));
    if (sec->r >= 4 && !sec->encrypt_metadata) {
        static const unsigned char all_ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        md5_update(&s, all_ones, 4);
    }
    unsigned char digest[MD5_DIGEST_BYTES];
    md5_final(&s, digest);
    const size_t n = static_cast<size_t>(sec->key_len);
    if (sec->r >= 3)
        for (int i = 0; i < KEY_REHASHES; ++i) md5(digest, n, digest);
    std::memcpy(sec->key, digest, n);
}

// Revisions 2-4: whether the key in sec->key makes /U (all 32 bytes for
// revision 2, the first 16 from revision 3 on, the rest being arbitrary).
bool rc4_user_matches(const pdfp_security *sec, const unsigned char *id, int32_t id_len) {
    rc4_state st;
    unsigned char out[PDFP_PASSWORD_PAD_BYTES];
    const size_t n = static_cast<size_t>(sec->key_len);
    if (sec->r == 2) {
        rc4_init(&st, sec->key, n);
        rc4_crypt(&st, PASSWORD_PAD, out, sizeof out);
        return std::memcmp(out, sec->u, PDFP_OU_BYTES_R4) == 0;
    }
    md5_state s;
    md5_init(&s);
    md5_update(&s, PASSWORD_PAD, sizeof PASSWORD_PAD);
    md5_update(&s, id, static_cast<size_t>(id_len));
    md5_final(&s, out);
    unsigned char k[16];
    for (int pass = 0; pass < U_RC4_PASSES; ++pass) {
        for (size_t i = 0; i < n; ++i) k[i] = sec->key[i] ^ static_cast<unsigned char>(pass);
        rc4_init(&st, k, n);
        rc4_crypt(&st, out, out, MD5_DIGEST_BYTES);
    }
    return std::memcmp(out, sec->u, MD5_DIGEST_BYTES) == 0;
}

// Revision 6 (ISO 32000-2, algorithm 2.B) for the empty password and a
// user check (no /U data mixed in): the 32-byte hash of salt.
void hash_2b(const unsigned char *salt, unsigned char out[HASH_BYTES]) {
    unsigned char k[SHA512_DIGEST_BYTES];
    size_t k_len = SHA256_DIGEST_BYTES;
    sha256(salt, SALT_BYTES, k);
    // K1 is the password, K and the /U data, 64 times over; with the empty
    // password and no data, K itself 64 times: at most 64 x 64 bytes.
    unsigned char k1[64 * SHA512_DIGEST_BYTES];
    for (int round = 0;; ++round) {
        for (int i = 0; i < 64; ++i) std::memcpy(k1 + i * k_len, k, k_len);
        const size_t k1_len = 64 * k_len;
        aes_key aes;
        aes_key_init(&aes, k, 16);
        aes_cbc_encrypt(&aes, k + 16, k1, k1, k1_len);
        // The first 16 bytes of E as a big number, mod 3, pick the next hash:
        // 256 is 1 mod 3, so that is the sum of the bytes mod 3.
        unsigned sum = 0;
        for (int i = 0; i < 16; ++i) sum += k1[i];
        if (sum % 3 == 0) {
            sha256(k1, k1_len, k);
            k_len = SHA256_DIGEST_BYTES;
        } else if (sum % 3 == 1) {
            sha384(k1, k1_len, k);
            k_len = SHA384_DIGEST_BYTES;
        } else {
            sha512(k1, k1_len, k);
            k_len = SHA512_DIGEST_BYTES;
        }
        // At least 64 rounds, then until E's last byte is at most round - 32.
        if (round >= 63 && k1[k1_len - 1] <= round + 1 - 32) break;
    }
    std::memcpy(out, k, HASH_BYTES);
}

// Revision 6's hashes of the salts seen last in this thread. Opening a
// file takes two, and a file read again (a numbered output checked, the
// same file numbered twice) has the same salts: the iterated hash costs
// far more than everything else its opening does. The empty password's
// hash of a salt is no secret: anyone holding the file can compute it.
struct salt_hash {
    unsigned char salt[SALT_BYTES];
    unsigned char hash[HASH_BYTES];
    bool used;
};
constexpr int REMEMBERED_SALTS = 4;
thread_local salt_hash remembered[REMEMBERED_SALTS];
thread_local int next_remembered = 0;

void hash_2b_remembered(const unsigned char *salt, unsigned char out[HASH_BYTES]) {
    for (const salt_hash &m : remembered)
        if (m.used && std::memcmp(m.salt, salt, SALT_BYTES) == 0) {
            std::memcpy(out, m.hash, HASH_BYTES);
            return;
        }
    hash_2b(salt, out);
    salt_hash &m = remembered[next_remembered];
    next_remembered = (next_remembered + 1) % REMEMBERED_SALTS;
    std::memcpy(m.salt, salt, SALT_BYTES);
    std::memcpy(m.hash, out, HASH_BYTES);
    m.used = true;
}

// Revisions 5-6: the hash of the empty password with one 8-byte salt.
void aes_password_hash(int32_t r, const unsigned char *salt, unsigned char out[HASH_BYTES]) {
    if (r == 5)
        sha256(salt, SALT_BYTES, out);
    else
        hash_2b_remembered(salt, out);
}

// Revisions 5-6: checks /U, unwraps /UE into sec->key and checks /Perms.
int aes_open(pdfp_security *sec) {
    unsigned char h[HASH_BYTES];
    aes_password_hash(sec->r, sec->u + HASH_BYTES, h);
    if (std::memcmp(h, sec->u, HASH_BYTES) != 0) return PDFP_SECURITY_NEEDS_PASSWORD;
    // The intermediate key from the key salt decrypts /UE: CBC with a zero
    // IV and no padding.
    aes_password_hash(sec->r, sec->u + HASH_BYTES + SALT_BYTES, h);
    aes_key aes;
    aes_key_init(&aes, h, sizeof h);
    static const unsigned char zero_iv[AES_BLOCK_BYTES] = {};
    aes_cbc_decrypt(&aes, zero_iv, sec->ue, sec->key, PDFP_OUE_BYTES);
    if (!sec->has_perms) return PDFP_SECURITY_OPEN;
    // /Perms: /P in its first 4 bytes (little-endian), 'T' or 'F' for
    // /EncryptMetadata at 8, "adb" at 9. A mismatch means /P was altered.
    unsigned char perms[PDFP_PERMS_BYTES];
    aes_key_init(&aes, sec->key, PDFP_FILE_KEY_MAX);
    aes_decrypt_block(&aes, sec->perms, perms);
    const uint32_t p = static_cast<uint32_t>(sec->p);
    const bool ok = perms[0] == (p & 0xFF) && perms[1] == (p >> 8 & 0xFF) && perms[2] == (p >> 16 & 0xFF) &&
                    perms[3] == (p >> 24) && perms[8] == (sec->encrypt_metadata ? 'T' : 'F') &&
                    std::memcmp(perms + 9, "adb", 3) == 0;
    return ok ? PDFP_SECURITY_OPEN : PDFP_SECURITY_UNSUPPORTED;
}

}  // namespace

int pdfp_security_authenticate(pdfp_security *sec, const unsigned char *id, int32_t id_len) {
    if (sec->r >= 5) return aes_open(sec);
    if (!id || id_len < 0) return PDFP_SECURITY_UNSUPPORTED;
    rc4_file_key(sec, id, id_len);
    return rc4_user_matches(sec, id, id_len) ? PDFP_SECURITY_OPEN : PDFP_SECURITY_NEEDS_PASSWORD;
}

int pdfp_security_open(const unsigned char *buf, int32_t from, int32_t end, const unsigned char *id,
                       int32_t id_len, pdfp_security *sec) {
    if (pdfp_security_read(buf, from, end, sec) != 0) return PDFP_SECURITY_UNSUPPORTED;
    return pdfp_security_authenticate(sec, id, id_len);
}
