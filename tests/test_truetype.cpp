// The TrueType reader and subsetter on Debian's fonts: what they read, the
// two Unicode map formats agreeing, collections, subsets read back glyph
// by glyph, and damaged fonts, each refused with its own message.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dedediruzurud/cid_font.h"
#include "support.h"
#include "truetype.h"
#include "truetype_subset.h"

namespace {

const char *const k_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const k_droid = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf";

const unsigned char *bytes_of(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// The font file's bytes; skips the test when the font is not installed.
#define FONT_OR_SKIP(var, path)                                         \
    const std::string var = read_file(path);                            \
    if (var.empty()) GTEST_SKIP() << path << " is not installed"

std::string open_error(const std::string &bytes, int face = 0) {
    tt_font f;
    std::string error;
    return tt_open(bytes_of(bytes), bytes.size(), face, "f.ttf", &f, &error) ? "" : error;
}

void put16(std::string *s, size_t at, uint32_t v) {
    (*s)[at] = char(v >> 8);
    (*s)[at + 1] = char(v);
}

void put32(std::string *s, size_t at, uint32_t v) {
    put16(s, at, v >> 16);
    put16(s, at + 2, v & 0xFFFF);
}

// The directory record of tag in a single font.
size_t record_of(const std::string &s, const char *tag) {
    for (size_t k = 0, n = tt_u16(bytes_of(s) + 4); k < n; ++k)
        if (s.compare(12 + 16 * k, 4, tag) == 0) return 12 + 16 * k;
    return 0;
}

// A collection of the given single fonts: each one's tables stay where they
// are, behind the collection header, and its directory's offsets move with them.
std::string collection_of(const std::vector<std::string> &fonts) {
    uint32_t header = 12 + 4 * uint32_t(fonts.size());
    std::string out(header, '\0');
    out.replace(0, 4, "ttcf");
    put32(&out, 4, 0x00010000);
    put32(&out, 8, uint32_t(fonts.size()));
    for (size_t k = 0; k < fonts.size(); ++k) {
        uint32_t base = uint32_t(out.size());
        put32(&out, 12 + 4 * k, base);
        std::string font = fonts[k];
        for (size_t t = 0, n = tt_u16(bytes_of(font) + 4); t < n; ++t)
            put32(&font, 12 + 16 * t + 8, tt_u32(bytes_of(font) + 12 + 16 * t + 8) + base);
        out += font;
    }
    return out;
}

struct font_facts {
    const char *path;
    const char *postscript_name;
    int units_per_em, glyph_count, cmap_format, fs_type;
    char32_t present, missing;  // a character the font has, one it lacks
};

const font_facts k_facts[] = {
    {k_dejavu, "DejaVuSans", 2048, 6253, 12, 0x0000, U'Ж', U'中'},
    {k_droid, "DroidSansFallback", 256, 49382, 12, 0x0008, U'中', U'A'},
};

class Facts : public ::testing::TestWithParam<font_facts> {};

TEST_P(Facts, ReadFromTheTables) {
    const font_facts &x = GetParam();
    FONT_OR_SKIP(bytes, x.path);
    tt_font f;
    std::string error;
    ASSERT_TRUE(tt_open(bytes_of(bytes), bytes.size(), 0, x.path, &f, &error)) << error;
    EXPECT_EQ(f.postscript_name, x.postscript_name);
    EXPECT_EQ(f.units_per_em, x.units_per_em);
    EXPECT_EQ(f.glyph_count, x.glyph_count);
    EXPECT_EQ(f.cmap_format, x.cmap_format);
    EXPECT_EQ(f.fs_type, x.fs_type);
    uint16_t g = 0;
    ASSERT_TRUE(tt_glyph_of(&f, x.present, &g, &error));
    EXPECT_GT(g, 0);
    ASSERT_TRUE(tt_glyph_of(&f, x.missing, &g, &error));
    EXPECT_EQ(g, 0);
    // Glyphs past the last own metric repeat its advance.
    ASSERT_LT(f.hmetric_count, f.glyph_count);
    EXPECT_EQ(tt_advance(&f, f.glyph_count - 1), tt_advance(&f, f.hmetric_count - 1));
}

INSTANTIATE_TEST_SUITE_P(Debian, Facts, ::testing::ValuesIn(k_facts));

// Format 4 (found once the format 12 records are hidden) gives every BMP
// character the glyph that format 12 gives it.
TEST(TrueType, UnicodeMapFormatsAgree) {
    FONT_OR_SKIP(bytes, k_dejavu);
    tt_font f12, f4;
    std::string error, hidden = bytes;
    ASSERT_TRUE(tt_open(bytes_of(bytes), bytes.size(), 0, "", &f12, &error));
    size_t cmap = tt_u32(bytes_of(bytes) + record_of(bytes, "cmap") + 8);
    for (size_t k = 0, n = tt_u16(bytes_of(bytes) + cmap + 2); k < n; ++k) {
        size_t r = cmap + 4 + 8 * k;
        if (tt_u16(bytes_of(bytes) + tt_u32(bytes_of(bytes) + r + 4) + cmap) == 12) put16(&hidden, r, 9);
    }
    ASSERT_TRUE(tt_open(bytes_of(hidden), hidden.size(), 0, "", &f4, &error));
    ASSERT_EQ(f4.cmap_format, 4);
    int found = 0;
    for (char32_t c = 0; c < 0x10000; ++c) {
        uint16_t a = 0, b = 0;
        ASSERT_TRUE(tt_glyph_of(&f12, c, &a, &error) && tt_glyph_of(&f4, c, &b, &error));
        ASSERT_EQ(a, b) << "U+" << std::hex << unsigned(c);
        found += a != 0;
    }
    EXPECT_GT(found, 5000);
}

// A collection's faces read as the single fonts they came from; a face taken
// out of it is a font file of its own again.
TEST(TrueType, CollectionFaces) {
    FONT_OR_SKIP(dejavu, k_dejavu);
    FONT_OR_SKIP(droid, k_droid);
    std::string ttc = collection_of({dejavu, droid});
    EXPECT_EQ(tt_face_count(bytes_of(ttc), ttc.size()), 2u);
    tt_font face, alone;
    std::string error;
    ASSERT_TRUE(tt_open(bytes_of(ttc), ttc.size(), 1, "c.ttc", &face, &error)) << error;
    EXPECT_EQ(face.postscript_name, "DroidSansFallback");
    EXPECT_EQ(open_error(ttc, 2), "font collection f.ttf has no face 2 (it holds 2)");
    std::vector<unsigned char> file;
    tt_face_file(&face, &file);
    ASSERT_TRUE(tt_open(file.data(), file.size(), 0, "", &alone, &error)) << error;
    EXPECT_EQ(tt_checksum(file.data(), file.size()), 0xB1B0AFBAu);
    for (uint16_t g : {0, 2, 18628, 49381}) {
        EXPECT_EQ(tt_advance(&alone, g), tt_advance(&face, g));
        uint32_t o1, n1, o2, n2;
        ASSERT_TRUE(tt_glyph_bytes(&face, g, &o1, &n1, &error) && tt_glyph_bytes(&alone, g, &o2, &n2, &error));
        EXPECT_EQ(std::string(ttc, o1, n1), std::string(reinterpret_cast<char *>(file.data()) + o2, n2));
    }
}

// ---------------------------------------------------------------------------
// Subsets, read back by the reader glyph by glyph
// ---------------------------------------------------------------------------

struct subset_case {
    const char *path;
    std::u32string text;
    bool long_loca;  // the subset's outlines are too long for short offsets
};

const subset_case k_subsets[] = {
    {k_dejavu, U"Страница 12 из 300 Àéǖ", false},  // composites, one nested
    {k_droid, U"第十二页 共三百页 ページ", false},
    {k_dejavu, U"", true},  // the test adds the first 3000 glyphs
};

class Subset : public ::testing::TestWithParam<subset_case> {};

TEST_P(Subset, HoldsTheGlyphsRenumbered) {
    const subset_case &x = GetParam();
    FONT_OR_SKIP(bytes, x.path);
    tt_font f, s;
    std::string error;
    ASSERT_TRUE(tt_open(bytes_of(bytes), bytes.size(), 0, x.path, &f, &error));
    std::vector<uint16_t> glyphs;
    for (char32_t c : x.text) {
        uint16_t g;
        ASSERT_TRUE(tt_glyph_of(&f, c, &g, &error));
        glyphs.push_back(g);
    }
    for (uint16_t g = 1; x.text.empty() && g <= 3000; ++g) glyphs.push_back(g);
    ASSERT_TRUE(tt_glyph_closure(&f, &glyphs, &error)) << error;
    std::vector<unsigned char> file, again;
    ASSERT_TRUE(tt_subset(&f, glyphs, &file, &error) && tt_subset(&f, glyphs, &again, &error));
    EXPECT_EQ(file, again);
    ASSERT_TRUE(tt_open(file.data(), file.size(), 0, "subset", &s, &error)) << error;
    EXPECT_EQ(s.long_loca, x.long_loca);
    ASSERT_EQ(s.glyph_count, glyphs.size());
    EXPECT_EQ(tt_checksum(file.data(), file.size()), 0xB1B0AFBAu);
    for (size_t k = 0; k < s.tables.size(); ++k) {  // each table's recorded checksum
        const tt_table &t = s.tables[k].second;
        std::vector<unsigned char> table(file.data() + t.offset, file.data() + t.offset + t.length);
        if (s.tables[k].first == tt_tag("head")) std::fill_n(table.begin() + 8, 4, 0);  // summed without the adjustment
        EXPECT_EQ(tt_checksum(table.data(), table.size()), tt_u32(file.data() + 12 + 16 * k + 4));
    }
    for (uint16_t k = 0; k < s.glyph_count; ++k) {
        uint16_t old = glyphs[k];
        ASSERT_EQ(tt_advance(&s, k), tt_advance(&f, old));
        EXPECT_EQ(tt_left_side_bearing(&s, k), tt_left_side_bearing(&f, old));
        std::vector<tt_component> parts_new, parts_old;
        ASSERT_TRUE(tt_glyph_components(&s, k, &parts_new, &error) && tt_glyph_components(&f, old, &parts_old, &error));
        ASSERT_EQ(parts_new.size(), parts_old.size());
        for (size_t p = 0; p < parts_new.size(); ++p) EXPECT_EQ(glyphs[parts_new[p].glyph], parts_old[p].glyph);
        uint32_t o1, n1, o2, n2;
        ASSERT_TRUE(tt_glyph_bytes(&f, old, &o1, &n1, &error) && tt_glyph_bytes(&s, k, &o2, &n2, &error));
        EXPECT_EQ(n2, n1 + n1 % 2);
        if (parts_old.empty()) {
            EXPECT_EQ(std::string(bytes, o1, n1), std::string(reinterpret_cast<char *>(file.data()) + o2, n1));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Debian, Subset, ::testing::ValuesIn(k_subsets));

// ---------------------------------------------------------------------------
// Damaged fonts: each damage, made in DejaVu Sans, gives its message when
// the font is opened and a label "AÀ" is made from it.
// ---------------------------------------------------------------------------

struct damage_case {
    const char *what;
    std::function<void(std::string *, const tt_font &)> damage;
    const char *message;
};

// The glyph of c in f.
uint16_t glyph_of(const tt_font &f, char32_t c) {
    uint16_t g = 0;
    std::string error;
    tt_glyph_of(&f, c, &g, &error);
    return g;
}

// Where the first component id of composite glyph g stands in the file.
size_t first_component_at(const tt_font &f, uint16_t g) {
    std::vector<tt_component> parts;
    uint32_t offset, length;
    std::string error;
    tt_glyph_components(&f, g, &parts, &error);
    tt_glyph_bytes(&f, g, &offset, &length, &error);
    return offset + parts.at(0).index_at;
}

const damage_case k_damages[] = {
    {"cut short", [](std::string *s, const tt_font &) { s->resize(8); }, "not a TrueType font: d.ttf"},
    {"glyf past the end", [](std::string *s, const tt_font &) { put32(s, record_of(*s, "glyf") + 12, uint32_t(s->size())); },
     "damaged font d.ttf: table 'glyf' runs past the end of the file"},
    {"head offset out of range", [](std::string *s, const tt_font &) { put32(s, record_of(*s, "head") + 8, 0xFFFFFF00); },
     "damaged font d.ttf: table 'head' runs past the end of the file"},
    {"no glyf", [](std::string *s, const tt_font &) { s->replace(record_of(*s, "glyf"), 4, "glyx"); },
     "font d.ttf lacks its 'glyf' table"},
    {"CFF outlines", [](std::string *s, const tt_font &) { s->replace(record_of(*s, "glyf"), 4, "CFF "); },
     "font d.ttf has PostScript (CFF) outlines, which labels cannot embed \xE2\x80\x94 choose a TrueType (.ttf) font"},
    {"OTTO", [](std::string *s, const tt_font &) { s->replace(0, 4, "OTTO"); },
     "font d.ttf has PostScript (CFF) outlines, which labels cannot embed \xE2\x80\x94 choose a TrueType (.ttf) font"},
    {"units per em 0", [](std::string *s, const tt_font &f) { put16(s, f.head.offset + 18, 0); },
     "damaged font d.ttf: table 'head' holds an impossible value"},
    {"hmtx too short", [](std::string *s, const tt_font &f) { put16(s, f.hhea.offset + 34, 0xFFFF); },
     "damaged font d.ttf: table 'hmtx' is too short"},
    {"loca past glyf",
     [](std::string *s, const tt_font &f) { put32(s, f.loca.offset + 4 * (glyph_of(f, U'A') + 1), f.glyf.length + 2); },
     "damaged font d.ttf: glyph 36 lies outside the 'glyf' table"},
    {"cmap subtable out of range", [](std::string *s, const tt_font &f) { put32(s, f.cmap.offset + 4 + 8 * 4 + 4, 0x7FFFFFF0); },
     "damaged font d.ttf: its character map (cmap) is malformed"},
    {"cmap groups out of order (a loop for a walking reader)",
     [](std::string *s, const tt_font &f) { put32(s, f.cmap_at + 16 + 12, 0); },
     "damaged font d.ttf: its character map (cmap) is malformed"},
    {"cmap groups overrun", [](std::string *s, const tt_font &f) { put32(s, f.cmap_at + 12, 0x10000000); },
     "damaged font d.ttf: its character map (cmap) is malformed"},
    {"composite refers to itself",
     [](std::string *s, const tt_font &f) { put16(s, first_component_at(f, glyph_of(f, U'À')), glyph_of(f, U'À')); },
     "damaged font d.ttf: composite glyph 130 refers to itself"},
    {"composites in a loop",
     [](std::string *s, const tt_font &f) {
         put16(s, first_component_at(f, glyph_of(f, U'À')), glyph_of(f, U'Á'));
         put16(s, first_component_at(f, glyph_of(f, U'Á')), glyph_of(f, U'À'));
     },
     "damaged font d.ttf: composite glyph 130 refers to itself"},
    {"composites nest too deep",
     [](std::string *s, const tt_font &f) {
         const char32_t chain[] = U"ÀÁÂÃÄÈÉÊËÌÍ";  // each refers to the next; the last keeps its own
         for (int k = 0; k < 10; ++k) put16(s, first_component_at(f, glyph_of(f, chain[k])), glyph_of(f, chain[k + 1]));
     },
     "damaged font d.ttf: composite glyph 130 nests more than 8 levels deep"},
    {"restricted licence", [](std::string *s, const tt_font &f) { put16(s, f.os2.offset + 8, 0x0002); },
     "font d.ttf may not be embedded: its licence restricts embedding (fsType 0x0002)"},
    {"bitmaps only", [](std::string *s, const tt_font &f) { put16(s, f.os2.offset + 8, 0x0200); },
     "font d.ttf may not be embedded: its licence allows bitmap embedding only (fsType 0x0200)"},
};

class Damaged : public ::testing::TestWithParam<damage_case> {};

TEST_P(Damaged, GivesItsMessage) {
    FONT_OR_SKIP(bytes, k_dejavu);
    tt_font f;
    std::string error, damaged = bytes;
    ASSERT_TRUE(tt_open(bytes_of(bytes), bytes.size(), 0, "", &f, &error));
    GetParam().damage(&damaged, f);
    cid_font font;
    error.clear();
    bool ok = tt_open(bytes_of(damaged), damaged.size(), 0, "d.ttf", &f, &error) &&
              cid_font_make(&f, U"AÀ", &font, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(DejaVu, Damaged, ::testing::ValuesIn(k_damages), [](const auto &info) {
    std::string n = info.param.what;
    for (char &c : n) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
});

}  // namespace
