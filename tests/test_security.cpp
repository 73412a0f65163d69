// The standard security handler against real encrypted files (qpdf's, R2 to
// R6, and the two dev samples): the file key and permissions qpdf shows,
// streams and strings decrypted as qpdf decrypts them; damaged and foreign
// dictionaries refused; which streams stay in the clear; and encryption for
// output read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pdf_parse/load_steps.h"
#include "pdf_parse/security.h"
#include "support.h"

namespace {

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
int32_t n(const std::string &s) { return static_cast<int32_t>(s.size()); }

std::string hex(const unsigned char *p, size_t len) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < len; ++i) s += (std::snprintf(two, sizeof two, "%02x", p[i]), two);
    return s;
}

// Where the dictionary of object num opens ("num 0 obj" at a line start), or -1.
int32_t object_dict(const std::string &s, int32_t num) {
    const std::string header = "\n" + std::to_string(num) + " 0 obj";
    size_t h = s.find(header);
    return h == std::string::npos ? -1 : skip_ws(u(s), static_cast<int32_t>(h + header.size()), n(s));
}

// The trailer that names /Encrypt (classic, or a cross-reference stream's
// dictionary), the /Encrypt dictionary, and the first /ID.
struct located {
    int32_t trailer = -1, enc = -1;
    std::string id;
    bool has_id = false;
};
located locate(const std::string &s) {
    located l;
    size_t e = s.rfind("/Encrypt ");
    size_t t = s.rfind("trailer", e), o = s.rfind(" obj", e);
    size_t from = t != std::string::npos && (o == std::string::npos || t > o) ? t : o;
    l.trailer = static_cast<int32_t>(s.find("<<", from));
    int32_t vs, ve;
    if (dict_value(u(s), l.trailer, n(s), "Encrypt", &vs, &ve)) l.enc = object_dict(s, std::atoi(s.c_str() + vs));
    l.has_id = pdfp_trailer_first_id(u(s), l.trailer, n(s), &l.id) == 0;
    return l;
}

// A value that qpdf --show-encryption prints ("R = 6" gives "6").
std::string shown(const std::string &out, const std::string &label) {
    size_t p = out.find(label);
    if (p == std::string::npos) return "";
    p += label.size();
    return out.substr(p, out.find('\n', p) - p);
}

const char *const QPDF_METHOD[] = {"None", "RC4", "AESv2", "AESv3"};

struct file_case {
    const char *path;  // under tests/
    int status;
    int32_t r;
    bool may_modify;
};
const file_case FILES[] = {
    {"data/encrypted/r2-nomodify.pdf", PDFP_SECURITY_OPEN, 2, false},
    {"data/encrypted/r3-rc4.pdf", PDFP_SECURITY_OPEN, 3, true},
    {"data/encrypted/r3-userpw.pdf", PDFP_SECURITY_NEEDS_PASSWORD, 3, true},
    {"data/encrypted/r4-rc4-nomodify.pdf", PDFP_SECURITY_OPEN, 4, false},
    {"data/encrypted/r4-aes.pdf", PDFP_SECURITY_OPEN, 4, true},
    {"data/encrypted/r4-aes-clearmeta.pdf", PDFP_SECURITY_OPEN, 4, true},
    {"data/encrypted/r5.pdf", PDFP_SECURITY_OPEN, 5, true},
    {"data/encrypted/r6-nomodify.pdf", PDFP_SECURITY_OPEN, 6, false},
    {"data/encrypted/r6-userpw.pdf", PDFP_SECURITY_NEEDS_PASSWORD, 6, true},
    {"corpus/variant-encrypted-aes256-emptyuser.pdf", PDFP_SECURITY_OPEN, 6, true},
    {"corpus/variant-encrypted-rc4-xrefstream.pdf", PDFP_SECURITY_OPEN, 3, true},
};

class RealFile : public ::testing::TestWithParam<file_case> {
protected:
    void SetUp() override {
        if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
        path = std::string(TEST_SOURCE_DIR) + "/" + GetParam().path;
        s = read_file(path);
        l = locate(s);
        ASSERT_GE(l.enc, 0);
        status = pdfp_security_open(u(s), l.enc, n(s), l.has_id ? u(l.id) : nullptr, n(l.id), &sec);
    }
    // Our bytes of object num's stream and qpdf's; false when it has none we can find.
    bool stream_pair(int32_t num, std::string *ours, std::string *theirs) {
        int32_t d = object_dict(s, num), vs, ve;
        int32_t kw = d < 0 ? -1 : dict_stream_kw(u(s), n(s), d);
        if (kw < 0 || !dict_value(u(s), d, kw, "Length", &vs, &ve)) return false;
        const int32_t start = stream_data_start(u(s), n(s), kw), len = std::atoi(s.c_str() + vs);
        const int32_t method = pdfp_stream_method(&sec, u(s), d, kw);
        if (pdfp_is_xref_stream(u(s), d, kw)) {
            EXPECT_EQ(method, PDFP_CRYPT_IDENTITY);
            return false;
        }
        pdfp_crypt c;
        pdfp_crypt_init(&c, &sec, method, num, 0);
        ours->assign(static_cast<size_t>(len), '\0');
        uint64_t got = 0;
        EXPECT_EQ(pdfp_crypt_decrypt(&c, u(s) + start, len, reinterpret_cast<unsigned char *>(ours->data()), &got), 0);
        ours->resize(got);
        run_command("qpdf --show-object=" + std::to_string(num) + " --raw-stream-data '" + path + "'", theirs);
        return true;
    }
    std::string path, s;
    located l;
    pdfp_security sec;
    int status = -1;
};

TEST_P(RealFile, KeyAndPermissionsAsQpdfShowsThem) {
    const file_case &c = GetParam();
    std::string out;
    run_command("qpdf --show-encryption-key --show-encryption '" + path + "' 2>&1", &out);
    ASSERT_EQ(status, c.status);
    EXPECT_EQ(sec.r, c.r);
    EXPECT_EQ(std::to_string(sec.r), shown(out, "R = "));
    EXPECT_EQ(std::to_string(sec.p), shown(out, "P = "));
    EXPECT_EQ(pdfp_security_may_modify(&sec), c.may_modify);
    EXPECT_EQ(shown(out, "modify other: "), c.may_modify ? "allowed" : "not allowed");
    if (sec.v >= 4) {
        EXPECT_EQ(QPDF_METHOD[sec.stream_method], shown(out, "stream encryption method: "));
        EXPECT_EQ(QPDF_METHOD[sec.string_method], shown(out, "string encryption method: "));
        EXPECT_EQ(QPDF_METHOD[sec.embedded_method], shown(out, "file encryption method: "));
    }
    if (status == PDFP_SECURITY_OPEN) {
        EXPECT_EQ(hex(sec.key, size_t(sec.key_len)), shown(out, "Encryption key = "));
    }
}

// Every stream in the file (the first few, and every metadata stream and
// object stream) and the strings of the document information.
TEST_P(RealFile, DecryptsAsQpdfDoes) {
    if (status != PDFP_SECURITY_OPEN) return;
    int compared = 0, plain = 0;
    for (int32_t num = 1; num < 200; ++num) {
        const int32_t d = object_dict(s, num), kw = d < 0 ? -1 : dict_stream_kw(u(s), n(s), d);
        if (kw < 0) continue;
        const bool special = pdfp_is_metadata_stream(u(s), d, kw) || find_name(u(s), n(s), d, kw, "ObjStm") >= 0;
        if (compared >= 2 && !special) continue;
        std::string ours, theirs;
        if (!stream_pair(num, &ours, &theirs)) continue;
        EXPECT_EQ(ours, theirs) << "object " << num;
        ++compared;
        plain += pdfp_stream_method(&sec, u(s), d, kw) == PDFP_CRYPT_IDENTITY;
    }
    EXPECT_GE(compared, 2);
    EXPECT_EQ(plain, std::string(GetParam().path).find("clearmeta") != std::string::npos ? 1 : 0);

    int32_t vs, ve;
    if (!dict_value(u(s), l.trailer, n(s), "Info", &vs, &ve)) return;
    const int32_t info = std::atoi(s.c_str() + vs), d = object_dict(s, info);
    if (d < 0) return;  // in an object stream: not encrypted on its own
    std::string shown_info;
    run_command("qpdf --show-object=" + std::to_string(info) + " '" + path + "'", &shown_info);
    int strings = 0;
    for (const char *key : {"Title", "Producer", "Creator", "Author", "CreationDate", "ModDate"}) {
        int32_t qs, qe;
        std::string cipher, want;
        if (!dict_value(u(s), d, n(s), key, &vs, &ve) || string_bytes(u(s), vs, ve, &cipher) < 0) continue;
        ASSERT_TRUE(dict_value(u(shown_info), 0, n(shown_info), key, &qs, &qe)) << key;
        string_bytes(u(shown_info), qs, qe, &want);
        pdfp_crypt c;
        pdfp_crypt_init(&c, &sec, sec.string_method, info, 0);
        uint64_t got = 0;
        unsigned char *p = reinterpret_cast<unsigned char *>(cipher.data());
        ASSERT_EQ(pdfp_crypt_decrypt(&c, p, cipher.size(), p, &got), 0);  // in place
        EXPECT_EQ(cipher.substr(0, got), want) << key;
        ++strings;
    }
    EXPECT_GE(strings, 1);
}
// The document information encrypted again by us, for its own object, in
// place of qpdf's strings (the same lengths, so the file stays whole): qpdf
// reads the same values from it.
TEST_P(RealFile, StringsWeEncryptReadBackInQpdf) {
    int32_t vs, ve;
    if (status != PDFP_SECURITY_OPEN || !dict_value(u(s), l.trailer, n(s), "Info", &vs, &ve)) return;
    const int32_t info = std::atoi(s.c_str() + vs), d = object_dict(s, info);
    if (d < 0) return;
    const int32_t e = object_end(u(s), d, n(s));
    pdfp_crypt c;
    pdfp_crypt_init(&c, &sec, sec.string_method, info, 0);
    pdfp_buf plain{}, again{};
    uint32_t counter = 0;
    ASSERT_EQ(pdfp_crypt_strings(u(s) + d, e - d, &c, nullptr, &counter, &plain), 1);
    ASSERT_EQ(pdfp_crypt_strings(plain.data, static_cast<int32_t>(plain.len), nullptr, &c, &counter, &again), 1);
    ASSERT_EQ(again.len, static_cast<uint64_t>(e - d));
    if (sec.string_method != PDFP_CRYPT_RC4) {
        EXPECT_NE(std::string(reinterpret_cast<char *>(again.data), again.len), s.substr(d, e - d));  // new IVs
    }
    std::string spliced = s;
    spliced.replace(d, e - d, reinterpret_cast<char *>(again.data), again.len);
    const std::string copy = temp_path("spliced.pdf");
    write_file(copy, spliced);
    std::string before, after;
    run_command("qpdf --show-object=" + std::to_string(info) + " '" + path + "'", &before);
    run_command("qpdf --show-object=" + std::to_string(info) + " '" + copy + "' 2>&1", &after);
    EXPECT_EQ(after, before);
    pdfp_buf_free(&plain);
    pdfp_buf_free(&again);
}
INSTANTIATE_TEST_SUITE_P(Files, RealFile, ::testing::ValuesIn(FILES));

// ---- dictionaries that are damaged or not ours -------------------------------

std::string dict_of(const char *file) {
    std::string s = read_file(std::string(TEST_SOURCE_DIR) + "/data/encrypted/" + file);
    located l = locate(s);
    return s.substr(static_cast<size_t>(l.enc), s.find("endobj", static_cast<size_t>(l.enc)) - l.enc) + "|" + l.id;
}

struct damage_case {
    const char *file;
    const char *from, *to;  // the first from becomes to
    int want;
};
const damage_case DAMAGE[] = {
    {"r4-aes.pdf", "", "", PDFP_SECURITY_OPEN},
    {"r4-aes.pdf", "/Filter /Standard", "/Filter /Adobe.PubSec", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/V 4", "/V 3", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/R 4", "/R 7", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/CFM /AESV2", "/CFM /AESV9", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/CFM /AESV2", "/CFM /AESV3", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/StmF /StdCF", "/StmF /Other", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/O <", "/Q <", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "c4> /V", "> /V", PDFP_SECURITY_UNSUPPORTED},  // /U one byte short
    {"r4-aes.pdf", "/P -4", "/P (x)", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "/P -4", "/p -4", PDFP_SECURITY_UNSUPPORTED},
    {"r4-aes.pdf", "|", "", PDFP_SECURITY_UNSUPPORTED},  // no /ID at all
    {"r4-aes.pdf", "/P -4", "/P -8", PDFP_SECURITY_NEEDS_PASSWORD},  // /P is part of the key
    {"r4-aes.pdf", "|\x84", "|\x85", PDFP_SECURITY_NEEDS_PASSWORD},  // so is the /ID
    {"r4-aes.pdf", "/P -4", "/P 4294967292", PDFP_SECURITY_OPEN},   // unsigned, as some write it
    {"r3-rc4.pdf", "/Length 128", "/Length 44", PDFP_SECURITY_UNSUPPORTED},
    {"r6-nomodify.pdf", "", "", PDFP_SECURITY_OPEN},
    {"r6-nomodify.pdf", "/P -1324", "/P -1", PDFP_SECURITY_UNSUPPORTED},  // /Perms says otherwise
    {"r6-nomodify.pdf", "/R 6", "/R 6 /EncryptMetadata false", PDFP_SECURITY_UNSUPPORTED},
    {"r6-nomodify.pdf", "/Perms", "/Parms", PDFP_SECURITY_UNSUPPORTED},
    {"r6-nomodify.pdf", "/UE <", "/UF <", PDFP_SECURITY_UNSUPPORTED},
    {"r6-nomodify.pdf", "/U <", "/U <00", PDFP_SECURITY_NEEDS_PASSWORD},
    {"r5.pdf", "/Perms", "/Parms", PDFP_SECURITY_OPEN},  // optional in the extension
};

class Damage : public ::testing::TestWithParam<damage_case> {};
TEST_P(Damage, IsRefusedWithItsStatus) {
    const damage_case &c = GetParam();
    std::string text = dict_of(c.file);
    if (*c.from) {
        size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, std::strlen(c.from), c.to);
    }
    const size_t bar = text.find('|');
    const std::string dict = text.substr(0, bar), id = bar == std::string::npos ? "" : text.substr(bar + 1);
    pdfp_security sec;
    EXPECT_EQ(pdfp_security_open(u(dict), 0, n(dict), bar == std::string::npos ? nullptr : u(id), n(id), &sec),
              c.want)
        << c.from << " -> " << c.to;
}
INSTANTIATE_TEST_SUITE_P(Dictionaries, Damage, ::testing::ValuesIn(DAMAGE));

// ---- streams left in the clear ---------------------------------------------------

TEST(StreamMethod, NamedFiltersMetadataAndCrossReferenceStreams) {
    std::string enc = "<< /Filter /Standard /V 4 /R 4 /P -4 /O <" + std::string(64, '0') + "> /U <" +
                      std::string(64, '0') +
                      "> /CF << /StdCF << /CFM /AESV2 >> /Plain << /CFM /V2 >> >> /StmF /StdCF /StrF /StdCF"
                      " /EFF /Plain /EncryptMetadata false >>";
    pdfp_security sec;
    ASSERT_EQ(pdfp_security_read(u(enc), 0, n(enc), &sec), 0);
    EXPECT_FALSE(sec.encrypt_metadata);
    const struct {
        const char *dict;
        int32_t want;
    } cases[] = {
        {"<< /Length 9 /Filter /FlateDecode >>", PDFP_CRYPT_AESV2},
        {"<< /Type /XRef /W [1 2 1] >>", PDFP_CRYPT_IDENTITY},
        {"<< /Type /Metadata /Subtype /XML >>", PDFP_CRYPT_IDENTITY},
        {"<< /Type /EmbeddedFile >>", PDFP_CRYPT_RC4},
        {"<< /Filter /Crypt >>", PDFP_CRYPT_IDENTITY},
        {"<< /Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /Plain >> null] >>", PDFP_CRYPT_RC4},
        {"<< /Filter [/FlateDecode /Crypt] /DecodeParms [null << /Name /StdCF >>] >>", PDFP_CRYPT_AESV2},
        {"<< /Filter [/FlateDecode /Crypt] /DecodeParms [null] >>", PDFP_CRYPT_IDENTITY},
        {"<< /Filter /Crypt /DecodeParms << /Name /Nothing >> >>", -1},
        {"<< /Filter /Crypt /DecodeParms << /Name (StdCF) >> >>", -1},
        {"<< /Filter [) /Crypt] >>", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pdfp_stream_method(&sec, u(std::string(c.dict)), 0, n(std::string(c.dict))), c.want) << c.dict;
}

// ---- encryption for output -------------------------------------------------------

// Each method encrypts and decrypts back, the same bytes every time, with
// IVs that differ by object and by counter; broken AES data is refused.
TEST(Crypt, EncryptsForOutputAndReadsItBack) {
    for (const char *file : {"r2-nomodify.pdf", "r4-aes.pdf", "r6-nomodify.pdf"}) {
        std::string text = dict_of(file);
        const size_t bar = text.find('|');
        const std::string id = text.substr(bar + 1);
        pdfp_security sec;
        ASSERT_EQ(pdfp_security_open(u(text), 0, static_cast<int32_t>(bar), u(id), n(id), &sec), PDFP_SECURITY_OPEN);
        pdfp_crypt c, other;
        pdfp_crypt_init(&c, &sec, sec.stream_method, 7, 0);
        pdfp_crypt_init(&other, &sec, sec.stream_method, 8, 0);
        const bool aes = sec.stream_method != PDFP_CRYPT_RC4;
        for (size_t len : {0, 1, 15, 16, 17, 1000}) {
            std::string plain(len, '\0');
            for (size_t i = 0; i < len; ++i) plain[i] = static_cast<char>(i * 37 + len);
            auto enc = [&](const pdfp_crypt &k, uint32_t counter) {
                std::string out(pdfp_crypt_encrypted_len(&k, len), '\0');
                pdfp_crypt_encrypt(&k, counter, u(plain), len, reinterpret_cast<unsigned char *>(out.data()));
                return out;
            };
            const std::string a = enc(c, 0);
            EXPECT_EQ(a.size(), aes ? 16 + (len / 16 + 1) * 16 : len);
            EXPECT_EQ(enc(c, 0), a);
            if (aes) {
                EXPECT_NE(enc(c, 1).substr(0, 16), a.substr(0, 16));
            }
            if (len) {
                EXPECT_NE(enc(other, 0), a);
            }
            std::string back(a.size(), '\0');
            uint64_t got = 0;
            ASSERT_EQ(pdfp_crypt_decrypt(&c, u(a), a.size(), reinterpret_cast<unsigned char *>(back.data()), &got), 0);
            EXPECT_EQ(back.substr(0, got), plain) << file << " " << len;
        }
        if (!aes) continue;
        std::string bad = std::string(15, 'x');
        uint64_t got = 0;
        unsigned char out[64];
        for (size_t len : {0, 15, 17, 33}) EXPECT_EQ(pdfp_crypt_decrypt(&c, u(bad + bad + bad), len, out, &got), -1);
        EXPECT_EQ(pdfp_crypt_decrypt(&c, u(bad + "y"), 16, out, &got), 0);  // the IV alone: empty
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(pdfp_crypt_decrypt(&c, u(bad + bad + "yy"), 32, out, &got), -1);  // bad padding, surely
    }
}

// Strings anywhere in an object's text but in comments; a damaged one
// becomes empty.
TEST(Crypt, StringsOfAnObjectText) {
    std::string text = dict_of("r4-aes.pdf");
    const size_t bar = text.find('|');
    const std::string id = text.substr(bar + 1);
    pdfp_security sec;
    ASSERT_EQ(pdfp_security_open(u(text), 0, static_cast<int32_t>(bar), u(id), n(id), &sec), PDFP_SECURITY_OPEN);
    pdfp_crypt c;
    pdfp_crypt_init(&c, &sec, sec.string_method, 12, 0);
    const std::string obj = "<< /A (x\\)y) /B <4142> % (no) <no>\n /C [(z)<>] /D <<>> /E (open";
    pdfp_buf sealed{}, plain{}, damaged{};
    uint32_t counter = 0;
    ASSERT_EQ(pdfp_crypt_strings(u(obj), n(obj), nullptr, &c, &counter, &sealed), 1);
    EXPECT_EQ(counter, 4u);
    ASSERT_EQ(pdfp_crypt_strings(sealed.data, static_cast<int32_t>(sealed.len), &c, nullptr, &counter, &plain), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(plain.data), plain.len),
              "<< /A <782979> /B <4142> % (no) <no>\n /C [<7a><>] /D <<>> /E (open");
    ASSERT_EQ(pdfp_crypt_strings(u(obj), n(obj), &c, nullptr, &counter, &damaged), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(damaged.data), damaged.len),
              "<< /A <> /B <> % (no) <no>\n /C [<><>] /D <<>> /E (open");
    for (pdfp_buf *b : {&sealed, &plain, &damaged}) pdfp_buf_free(b);
}

}  // namespace
