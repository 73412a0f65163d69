// The label's fonts as readers see them: a TrueType subset embedded as a
// Type0 font (pdffonts, pdftotext and qpdf read it back; it draws what the
// whole font draws), its size, the standard fonts' tables and the UTF-8
// decoding of label text.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "deflate.h"
#include "dedediruzurud/cid_font.h"
#include "dedediruzurud/standard_fonts.h"
#include "dedediruzurud/label.h"
#include "messages.h"
#include "support.h"
#include "truetype.h"
#include "utf8.h"

namespace {

const char *const k_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const k_droid = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf";

std::string flate(const std::vector<unsigned char> &data) {
    std::vector<unsigned char> out(deflate_bound(data.size()));
    uint64_t n = 0;
    EXPECT_EQ(deflate_compress(data.data(), data.size(), out.data(), out.size(), &n), 0);
    return std::string(reinterpret_cast<char *>(out.data()), n);
}

std::string flate(const std::string &s) { return flate(std::vector<unsigned char>(s.begin(), s.end())); }

std::string utf8_of(const std::u32string &text) {
    std::string s;
    for (char32_t c : text) utf8_append(&s, c);
    return s;
}

// A one-page document that shows `operand` (a string for Tj) in the font
// whose dictionary is object 5 of font_objects (numbered from 5 on).
std::string one_page(const std::vector<std::string> &font_objects, const std::string &operand) {
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 200] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        stream_body("", "BT /F1 36 Tf 20 80 Td " + operand + " Tj ET")};
    bodies.insert(bodies.end(), font_objects.begin(), font_objects.end());
    return make_pdf(bodies);
}

// The objects of an embedded TrueType font, numbered from 5: the Type0 font,
// its CIDFont, the ToUnicode map, the descriptor and the font file.
std::vector<std::string> type0_objects(const cid_font &f) {
    const cid_descriptor &d = f.descriptor;
    std::string name = "/" + f.base_font;
    char descriptor[512];
    std::snprintf(descriptor, sizeof descriptor,
                  "<< /Type /FontDescriptor /FontName %s /Flags %d /FontBBox [%d %d %d %d] /ItalicAngle %s "
                  "/Ascent %d /Descent %d /CapHeight %d /StemV %d /FontFile2 9 0 R >>",
                  name.c_str(), d.flags, d.bbox[0], d.bbox[1], d.bbox[2], d.bbox[3], pdfp_fmt_num(d.italic_angle).c_str(),
                  d.ascent, d.descent, d.cap_height, d.stem_v);
    return {"<< /Type /Font /Subtype /Type0 /BaseFont " + name +
                " /Encoding /Identity-H /DescendantFonts [6 0 R] /ToUnicode 7 0 R >>",
            "<< /Type /Font /Subtype /CIDFontType2 /BaseFont " + name +
                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor 8 0 R"
                " /W " + cid_font_widths(&f) + " /CIDToGIDMap /Identity >>",
            stream_body("/Filter /FlateDecode", flate(cid_font_to_unicode(&f))), descriptor,
            stream_body("/Length1 " + std::to_string(f.file.size()) + " /Filter /FlateDecode", flate(f.file))};
}

// The document showing text in the TrueType font `path` (its fsType
// replaced when fs_type is set), or "" with the failure in *error.
std::string type0_document(const std::string &path, const std::u32string &text, cid_font *font, std::string *error,
                           int fs_type = -1) {
    std::string bytes = read_file(path);
    tt_font face;
    if (!tt_open(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), 0, path.c_str(), &face, error))
        return "";
    if (fs_type >= 0) face.fs_type = static_cast<uint16_t>(fs_type);
    std::string hex;
    double width = 0;
    if (!cid_font_make(&face, text, font, error) || !cid_font_show(font, text, &hex, &width, error)) return "";
    return one_page(type0_objects(*font), hex);
}

// pdffonts' line for the font, pdftotext's text, and qpdf --check's status.
struct read_back {
    std::string fonts, text;
    int check;
};

read_back read_with_tools(const std::string &pdf) {
    std::string path = temp_path("font.pdf"), fonts, text;
    write_file(path, pdf);
    run_command("pdffonts " + path + " | tail -n 1", &fonts);
    run_command("pdftotext -q " + path + " -", &text);
    return {fonts, text, run_command("qpdf --check " + path + " >/dev/null 2>&1")};
}

#define TOOLS_OR_SKIP()                                                           \
    if (!have_tool("pdffonts") || !have_tool("pdftotext") || !have_tool("qpdf")) \
    GTEST_SKIP() << "poppler-utils or qpdf missing"

// ---------------------------------------------------------------------------
// Embedded TrueType subsets
// ---------------------------------------------------------------------------

struct script_case {
    const char *name;
    const char *path;
    std::u32string text;
};

const script_case k_scripts[] = {
    {"Cyrillic", k_dejavu, U"Страница 12 из 300"},
    {"Greek", k_dejavu, U"Σελίδα 12 από 300"},
    {"Chinese", k_droid, U"第十二页 共三百页"},
    {"Japanese", k_droid, U"ページ １２／３００"},
};

class Script : public ::testing::TestWithParam<script_case> {};

TEST_P(Script, ReadersGetTheCharactersBack) {
    TOOLS_OR_SKIP();
    const script_case &x = GetParam();
    if (!file_exists(x.path)) GTEST_SKIP() << x.path << " is not installed";
    cid_font font;
    std::string error, pdf = type0_document(x.path, x.text, &font, &error);
    ASSERT_FALSE(pdf.empty()) << error;
    read_back r = read_with_tools(pdf);
    EXPECT_TRUE(std::regex_search(r.fonts, std::regex("^[A-Z]{6}\\+\\S+ +CID TrueType +Identity-H +yes +yes +yes")))
        << r.fonts;
    EXPECT_NE(r.text.find(utf8_of(x.text)), std::string::npos) << r.text;
    EXPECT_EQ(r.check, 0);
    EXPECT_LT(font.file.size() * 20, read_file(x.path).size());  // a subset, not a renamed whole
}

INSTANTIATE_TEST_SUITE_P(Fonts, Script, ::testing::ValuesIn(k_scripts),
                         [](const auto &info) { return std::string(info.param.name); });

// A font whose licence forbids subsetting goes in whole under its own glyph
// ids, and draws the same pixels as the subset.
TEST(Type0, WholeFontDrawsAsTheSubset) {
    TOOLS_OR_SKIP();
    if (!file_exists(k_dejavu) || !have_tool("pdftoppm")) GTEST_SKIP() << "DejaVu Sans or pdftoppm missing";
    const std::u32string text = U"Àǖé Страница ½ 12";  // composites, one nested
    cid_font subset, whole;
    std::string error, a = type0_document(k_dejavu, text, &subset, &error),
                       b = type0_document(k_dejavu, text, &whole, &error, 0x0100);
    ASSERT_FALSE(a.empty() || b.empty()) << error;
    EXPECT_FALSE(subset.whole);
    ASSERT_TRUE(whole.whole);
    EXPECT_EQ(whole.base_font, "DejaVuSans");
    read_back r = read_with_tools(b);
    EXPECT_TRUE(std::regex_search(r.fonts, std::regex("^DejaVuSans +CID TrueType +Identity-H +yes +no +yes"))) << r.fonts;
    EXPECT_NE(r.text.find(utf8_of(text)), std::string::npos) << r.text;
    std::string pa = temp_path("subset.pdf"), pb = temp_path("whole.pdf"), ra, rb;
    write_file(pa, a);
    write_file(pb, b);
    ASSERT_EQ(run_command("pdftoppm -r 72 -gray " + pa, &ra), 0);
    ASSERT_EQ(run_command("pdftoppm -r 72 -gray " + pb, &rb), 0);
    EXPECT_EQ(ra, rb);
    EXPECT_NE(ra.find_first_not_of('\xff', 64), std::string::npos);  // something was drawn
}

// What a subset adds to a document: the five objects, the file compressed.
TEST(Type0, SubsetSizes) {
    if (!file_exists(k_dejavu) || !file_exists(k_droid)) GTEST_SKIP() << "fonts missing";
    struct size_case {
        const char *path;
        std::u32string text;
        size_t glyphs, limit;  // at least the characters' glyphs and .notdef; bytes
    } cases[] = {
        {k_dejavu, U"Страница 0123456789 из Page of Seite von Σελίδα", 40, 20480},
        {k_droid, U"第页共十二三百ページ", 11, 8192},
    };
    for (const size_case &c : cases) {
        cid_font font;
        std::string error, added;
        ASSERT_FALSE(type0_document(c.path, c.text, &font, &error).empty()) << error;
        for (const std::string &o : type0_objects(font)) added += o;
        EXPECT_GE(font.glyphs.size(), c.glyphs) << c.path;  // components come on top
        EXPECT_LT(added.size(), c.limit) << c.path;
        std::printf("[ size     ] %s: %zu glyphs, font file %zu bytes, %zu bytes added compressed\n", c.path,
                    font.glyphs.size(), font.file.size(), added.size());
    }
}

TEST(Type0, ObjectTexts) {
    cid_font f;
    f.glyphs = {{0, 600, 0}, {1, 651, U' '}, {2, 1303, U'1'}, {7, 500, U'😀'}};
    f.chars = {{U' ', 1, 651}, {U'1', 2, 1303}, {U'😀', 7, 500}};
    f.base_font = "ABCDEF+X";
    EXPECT_EQ(cid_font_widths(&f), "[0 [600 651 1303] 7 [500]]");
    std::string cmap = cid_font_to_unicode(&f);
    EXPECT_NE(cmap.find("3 beginbfchar\n<0001> <0020>\n<0002> <0031>\n<0007> <D83DDE00>\nendbfchar\n"),
              std::string::npos);
    std::string hex, error;
    double width = 0;
    ASSERT_TRUE(cid_font_show(&f, U"1 1", &hex, &width, &error));
    EXPECT_EQ(hex, "<000200010002>");
    EXPECT_DOUBLE_EQ(width, 1.303 + 0.651 + 1.303);
    EXPECT_FALSE(cid_font_show(&f, U"2", &hex, &width, &error));
    EXPECT_EQ(error, "the font ABCDEF+X cannot show '2' (U+0032)");
}

TEST(Type0, CharacterWithoutGlyphNamed) {
    if (!file_exists(k_dejavu)) GTEST_SKIP() << "DejaVu Sans missing";
    cid_font font;
    std::string error;
    EXPECT_TRUE(type0_document(k_dejavu, U"Page 中", &font, &error).empty());
    EXPECT_EQ(error, std::string("the font ") + k_dejavu + " cannot show '中' (U+4E2D)");
}

// ---------------------------------------------------------------------------
// The standard fonts
// ---------------------------------------------------------------------------

// The label's Helvetica estimate and the table agree on every code it measures.
TEST(StandardFonts, HelveticaWidthsAsTheLabelMeasures) {
    const standard_font *h = standard_font_named("Helvetica");
    ASSERT_NE(h, nullptr);
    for (int b = 32; b <= 126; ++b)
        EXPECT_EQ(standard_font_width(h, static_cast<unsigned char>(b)) / 1000.0,
                  label_raw_width(std::string(1, static_cast<char>(b))))
            << b;
}

struct standard_case {
    const char *font;
    char32_t c;
    int code, width;
};

const standard_case k_standard[] = {
    {"Times-Roman", U'é', 0xE9, 444},    {"Times-Bold", U'€', 0x80, 500},    {"Courier-Oblique", U'Ÿ', 0x9F, 600},
    {"Helvetica-Bold", U'\u00A0', 0xA0, 278}, {"Helvetica", U'Ж', -1, 0}, {"Symbol", U'α', 0x61, 631},
    {"Symbol", U'Ω', 0x57, 768},         {"Symbol", U'\u2126', 0x57, 768}, {"Symbol", U'Α', 0x41, 722},
    {"ZapfDingbats", U'✁', 0x21, 974},  {"ZapfDingbats", U'★', 0x48, 816}, {"ZapfDingbats", U'a', -1, 0},
};

class Standard : public ::testing::TestWithParam<standard_case> {};

TEST_P(Standard, CodeAndWidth) {
    const standard_case &x = GetParam();
    const standard_font *f = standard_font_named(x.font);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(standard_font_code(f, x.c), x.code);
    if (x.code >= 0) {
        EXPECT_EQ(standard_font_width(f, static_cast<unsigned char>(x.code)), x.width);
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, Standard, ::testing::ValuesIn(k_standard));

TEST(StandardFonts, UnknownNameAndMissingCharacter) {
    EXPECT_EQ(standard_font_named("Arial"), nullptr);
    EXPECT_EQ(standard_font_named("helvetica"), nullptr);
    std::string codes, error;
    double width;
    EXPECT_FALSE(standard_font_show(standard_font_named("Times-Italic"), U"Стр", &codes, &width, &error));
    EXPECT_EQ(error, "the font Times-Italic cannot show 'С' (U+0421)");
}

// Simple fonts read back: accented Latin in Times, Greek letters in Symbol's
// own encoding, dingbats in ZapfDingbats'.
TEST(StandardFonts, ReadersGetTheCharactersBack) {
    TOOLS_OR_SKIP();
    const std::pair<const char *, std::u32string> cases[] = {
        {"Times-Roman", U"Numéro 5 — façade €"}, {"Courier-Bold", U"Größe ½"}, {"Symbol", U"αβγ ∑"},
        {"ZapfDingbats", U"✁✈❤"}};
    for (const auto &[name, text] : cases) {
        const standard_font *f = standard_font_named(name);
        std::string codes, error;
        double width = 0;
        ASSERT_TRUE(standard_font_show(f, text, &codes, &width, &error)) << error;
        std::string dict = std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + name +
                           (f->win_ansi ? " /Encoding /WinAnsiEncoding >>" : " >>");
        read_back r = read_with_tools(one_page({dict}, "(" + label_escape(codes) + ")"));
        EXPECT_NE(r.text.find(utf8_of(text)), std::string::npos) << name << ": " << r.text;
        EXPECT_EQ(r.check, 0);
    }
}

// ---------------------------------------------------------------------------
// UTF-8
// ---------------------------------------------------------------------------

struct utf8_case {
    const char *bytes;
    size_t bad_at;  // SIZE_MAX: valid
};

const utf8_case k_utf8[] = {
    {"Page \xD0\xA1 \xE4\xB8\xAD \xF0\x9F\x98\x80", SIZE_MAX},
    {"ab\x80", 2},              // a continuation byte alone
    {"a\xC0\xAF", 1},           // overlong "/"
    {"\xE0\x80\xAF", 0},        // overlong again
    {"x\xED\xA0\x80", 1},       // a surrogate
    {"\xF4\x90\x80\x80", 0},    // past U+10FFFF
    {"ok\xE4\xB8", 2},          // cut short
    {"\xFF", 0},
};

class Utf8 : public ::testing::TestWithParam<utf8_case> {};

TEST_P(Utf8, DecodesOrNamesTheBadByte) {
    const char *s = GetParam().bytes;
    std::u32string chars;
    size_t bad = SIZE_MAX;
    bool ok = utf8_decode(s, std::strlen(s), &chars, &bad);
    EXPECT_EQ(ok, GetParam().bad_at == SIZE_MAX);
    EXPECT_EQ(bad, GetParam().bad_at);
    if (ok) {
        EXPECT_EQ(utf8_of(chars), s);
    }
}

INSTANTIATE_TEST_SUITE_P(Text, Utf8, ::testing::ValuesIn(k_utf8));

TEST(Utf8, CharacterNames) {
    EXPECT_EQ(utf8_char_name(U'Ж'), "'Ж' (U+0416)");
    EXPECT_EQ(utf8_char_name(U'😀'), "'😀' (U+1F600)");
    EXPECT_EQ(utf8_char_name(7), "U+0007");
    EXPECT_EQ(utf8_char_name(0x9F), "U+009F");
}

}  // namespace
