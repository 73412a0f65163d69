// The ciphers and hashes of the low floor: the published test vectors
// (RFC 1321, RFC 6229, FIPS 197 appendices B and C, FIPS 180-4 examples,
// NIST SP 800-38A), then random inputs against Python's hashlib and
// python3-cryptography.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "aes.h"
#include "md5.h"
#include "rc4.h"
#include "sha2.h"
#include "support.h"

namespace {

std::string unhex(const std::string &h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hex(const unsigned char *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}
std::string hex(const std::string &s) { return hex(reinterpret_cast<const unsigned char *>(s.data()), s.size()); }
const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// ---- digests -----------------------------------------------------------------

// The digest of data by name, fed in pieces of piece bytes (0: one call).
std::string digest(const std::string &alg, const std::string &data, size_t piece) {
    unsigned char out[SHA512_DIGEST_BYTES];
    size_t step = piece ? piece : data.size() + 1;
    auto feed = [&](auto update, auto *state) {
        for (size_t i = 0; i < data.size(); i += step) update(state, u(data) + i, std::min(step, data.size() - i));
    };
    if (alg == "md5") {
        md5_state s;
        md5_init(&s);
        feed(md5_update, &s);
        md5_final(&s, out);
        return hex(out, MD5_DIGEST_BYTES);
    }
    if (alg == "sha256") {
        sha256_state s;
        sha256_init(&s);
        feed(sha256_update, &s);
        sha256_final(&s, out);
        return hex(out, SHA256_DIGEST_BYTES);
    }
    sha512_state s;
    alg == "sha384" ? sha384_init(&s) : sha512_init(&s);
    feed(sha512_update, &s);
    alg == "sha384" ? sha384_final(&s, out) : sha512_final(&s, out);
    return hex(out, alg == "sha384" ? SHA384_DIGEST_BYTES : SHA512_DIGEST_BYTES);
}

struct digest_case {
    const char *alg;
    std::string message;
    const char *want;
};

const std::string TWO_BLOCKS = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string FOUR_BLOCKS =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
const std::string MILLION_A(1000000, 'a');

const digest_case DIGESTS[] = {
    // RFC 1321, A.5: the whole test suite.
    {"md5", "", "d41d8cd98f00b204e9800998ecf8427e"},
    {"md5", "a", "0cc175b9c0f1b6a831c399e269772661"},
    {"md5", "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"md5", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"md5", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"md5", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"md5", "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    // FIPS 180-4 examples (NIST's one-block, two-block and long messages).
    {"sha256", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"sha256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha256", TWO_BLOCKS, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"sha256", MILLION_A, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"sha384", "", "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {"sha384", "abc", "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {"sha384", FOUR_BLOCKS,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {"sha384", MILLION_A,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {"sha512", "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a8"
     "1a538327af927da3e"},
    {"sha512", "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80"
     "e2a9ac94fa54ca49f"},
    {"sha512", FOUR_BLOCKS,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd265"
     "45e96e55b874be909"},
    {"sha512", MILLION_A,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2"
     "e4eadb217ad8cc09b"},
};

class Digest : public ::testing::TestWithParam<digest_case> {};

// Whole, and fed in pieces that straddle the block boundaries every way.
TEST_P(Digest, PublishedVector) {
    const digest_case &c = GetParam();
    for (size_t piece : {0, 1, 55, 63, 64, 65, 127, 129, 4096}) {
        if (c.message.size() > 1000 && piece && piece < 63) continue;  // a million calls say nothing more
        EXPECT_EQ(digest(c.alg, c.message, piece), c.want) << c.alg << " in pieces of " << piece;
    }
}
INSTANTIATE_TEST_SUITE_P(Vectors, Digest, ::testing::ValuesIn(DIGESTS));

// ---- RC4 --------------------------------------------------------------------------

// RFC 6229: the key stream at given offsets for three keys.
struct rc4_case {
    const char *key;
    size_t offset;
    const char *stream;
};
const rc4_case RC4_STREAMS[] = {
    {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
    {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
    {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
    {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
    {"0102030405", 496, "42b7d0cdd918a8a33dd51781c81f4041"},
    {"0102030405", 512, "6459844432a7da923cfb3eb4980661f6"},
    {"0102030405", 4080, "068326a2118416d21f9d04b2cd1ca050"},
    {"0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
    {"0102030405060708090a0b0c0d0e0f10", 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
    {"0102030405060708090a0b0c0d0e0f10", 16, "5248c4959014126a6e8a84f11d1a9e1c"},
    {"0102030405060708090a0b0c0d0e0f10", 4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
    {"0102030405060708090a0b0c0d0e0f10", 4096, "a36a4c301ae8ac13610ccbc12256cacc"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 0, "eaa6bd25880bf93d3f5d1e4ca2611d91"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 16, "cfa45c9f7e714b54bdfa80027cb14380"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 4080, "a13a7c79c7e119b5ab0296ab28c300b9"},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20", 4096, "f3e4c0a2e02d1d01f7f0a74618af2b48"},
};

class Rc4 : public ::testing::TestWithParam<rc4_case> {};

// The stream reached in one call, and in odd pieces from a state carried along.
TEST_P(Rc4, KeyStreamAtOffset) {
    const rc4_case &c = GetParam();
    const std::string key = unhex(c.key);
    std::string zeros(c.offset + 16, '\0'), once(zeros.size(), '\0'), pieces(zeros.size(), '\0');
    rc4_state st;
    rc4_init(&st, u(key), key.size());
    rc4_crypt(&st, u(zeros), reinterpret_cast<unsigned char *>(once.data()), zeros.size());
    EXPECT_EQ(hex(once.substr(c.offset)), c.stream);
    rc4_init(&st, u(key), key.size());
    for (size_t i = 0; i < zeros.size(); i += 7) {
        unsigned char *p = reinterpret_cast<unsigned char *>(pieces.data()) + i;
        std::copy_n(zeros.data() + i, std::min<size_t>(7, zeros.size() - i), p);
        rc4_crypt(&st, p, p, std::min<size_t>(7, zeros.size() - i));  // in place
    }
    EXPECT_EQ(pieces, once);
}
INSTANTIATE_TEST_SUITE_P(Rfc6229, Rc4, ::testing::ValuesIn(RC4_STREAMS));

// ---- AES -------------------------------------------------------------------------

struct block_case {
    const char *key, *plain, *cipher;
};
// FIPS 197: appendix B, and C.1-C.3 (one per key size).
const block_case BLOCKS[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
};

class AesBlock : public ::testing::TestWithParam<block_case> {};
TEST_P(AesBlock, EncryptsAndDecryptsTheExample) {
    const block_case &c = GetParam();
    const std::string key = unhex(c.key), plain = unhex(c.plain);
    aes_key k;
    ASSERT_EQ(aes_key_init(&k, u(key), key.size()), 0);
    unsigned char out[16], back[16];
    aes_encrypt_block(&k, u(plain), out);
    EXPECT_EQ(hex(out, 16), c.cipher);
    aes_decrypt_block(&k, out, back);
    EXPECT_EQ(hex(back, 16), c.plain);
}
INSTANTIATE_TEST_SUITE_P(Fips197, AesBlock, ::testing::ValuesIn(BLOCKS));

TEST(Aes, RefusesKeysOfOtherLengths) {
    aes_key k;
    const unsigned char key[33] = {};
    for (size_t n : {0, 5, 15, 17, 31, 33}) EXPECT_EQ(aes_key_init(&k, key, n), -1) << n;
}

// NIST SP 800-38A, F.2.1-F.2.6: CBC over four blocks, each key size, both
// ways; decrypting also in place, and over the IV as PDF data lies.
struct cbc_case {
    const char *key, *cipher;
};
const char CBC_PLAIN[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17"
    "ad2b417be66c3710";
const cbc_case CBCS[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac0"
     "9120eca307586e1a7"},
    {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e008b0e27988598881"
     "d920a9e64f5615cd"},
    {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fc"
     "da6c19078c6a9d1b"},
};

class AesCbc : public ::testing::TestWithParam<cbc_case> {};
TEST_P(AesCbc, Sp800_38a) {
    const cbc_case &c = GetParam();
    const std::string key = unhex(c.key), plain = unhex(CBC_PLAIN), iv = unhex("000102030405060708090a0b0c0d0e0f");
    aes_key k;
    ASSERT_EQ(aes_key_init(&k, u(key), key.size()), 0);
    std::string buf = plain;
    unsigned char *b = reinterpret_cast<unsigned char *>(buf.data());
    aes_cbc_encrypt(&k, u(iv), b, b, buf.size());
    EXPECT_EQ(hex(buf), c.cipher);
    aes_cbc_decrypt(&k, u(iv), b, b, buf.size());
    EXPECT_EQ(buf, plain);
    std::string stored = iv + unhex(c.cipher);  // IV first, as a PDF string holds it
    unsigned char *s = reinterpret_cast<unsigned char *>(stored.data());
    aes_cbc_decrypt(&k, s, s + 16, s, stored.size() - 16);
    EXPECT_EQ(stored.substr(0, plain.size()), plain);
}
INSTANTIATE_TEST_SUITE_P(Vectors, AesCbc, ::testing::ValuesIn(CBCS));

TEST(Pkcs7, PaddingLengthsAndChecks) {
    for (size_t n : {0, 1, 15, 16, 17, 31, 32}) EXPECT_EQ(pkcs7_padded_len(n), (n / 16 + 1) * 16) << n;
    struct {
        std::string data;
        int64_t want;
    } cases[] = {
        {std::string(15, 'x') + "\x01", 15},
        {std::string(16, '\x10'), 0},
        {std::string(20, 'x') + std::string(12, '\x0c'), 20},
        {std::string(16, 'x') + std::string(15, '\x0f') + "\x0e", -1},  // one pad byte is wrong
        {std::string(15, 'x') + "\x00", -1},
        {std::string(15, 'x') + "\x11", -1},
        {std::string(15, '\x01'), -1},  // not whole blocks
        {"", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(pkcs7_unpadded_len(u(c.data), c.data.size()), c.want) << hex(c.data);
}

// ---- against Python's hashlib and python3-cryptography --------------------------

// tests/crypto_reference.py prints random cases with the reference results,
// one per line: "md5|sha256|sha384|sha512 DATA DIGEST", "rc4 KEY DATA OUT",
// "cbc KEY IV DATA OUT" (OUT padded as PKCS #7 says). Hex throughout; an
// empty field is "-".
TEST(CryptoReference, RandomInputsAgreeWithPython) {
    std::string out;
    const std::string script = std::string(TEST_SOURCE_DIR) + "/crypto_reference.py";
    int st = run_command("/usr/bin/python3 '" + script + "' 20240601", &out);
    if (st == 77) GTEST_SKIP() << "python3-cryptography is not installed";
    ASSERT_EQ(st, 0) << out;
    std::istringstream lines(out);
    std::string line;
    int checked = 0;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string alg;
        f >> alg;
        std::vector<std::string> v = {alg};
        for (std::string w; f >> w;) v.push_back(w == "-" ? "" : unhex(w));
        ++checked;
        if (alg == "rc4") {
            std::string got(v[2].size(), '\0');
            rc4_state st4;
            rc4_init(&st4, u(v[1]), v[1].size());
            rc4_crypt(&st4, u(v[2]), reinterpret_cast<unsigned char *>(got.data()), got.size());
            EXPECT_EQ(hex(got), hex(v[3])) << line;
        } else if (alg == "cbc") {
            aes_key k;
            ASSERT_EQ(aes_key_init(&k, u(v[1]), v[1].size()), 0);
            std::string got(pkcs7_padded_len(v[3].size()), '\0');
            aes_cbc_encrypt_padded(&k, u(v[2]), u(v[3]), reinterpret_cast<unsigned char *>(got.data()), v[3].size());
            EXPECT_EQ(hex(got), hex(v[4])) << line;
            aes_cbc_decrypt(&k, u(v[2]), u(got), reinterpret_cast<unsigned char *>(got.data()), got.size());
            EXPECT_EQ(pkcs7_unpadded_len(u(got), got.size()), static_cast<int64_t>(v[3].size()));
            EXPECT_EQ(got.substr(0, v[3].size()), v[3]);
        } else {
            EXPECT_EQ(digest(alg, v[1], 0), hex(v[2])) << line;
            EXPECT_EQ(digest(alg, v[1], 100), hex(v[2])) << line;
        }
    }
    EXPECT_GT(checked, 300);
}

}  // namespace
