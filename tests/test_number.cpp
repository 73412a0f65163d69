// dedediruzurud_number through the public entry, read back with real
// readers: pdftotext (the labels as printed, and where they stand),
// pdffonts (the embedded subset), qpdf --check, and pikepdf (the viewer's
// page labels).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dedediruzurud.h"
#include "messages.h"
#include "support.h"

namespace {

const char *const k_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char *const k_droid = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf";
const char *const k_cff = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";

dedediruzurud_options init() { return DEDEDIRUZURUD_OPTIONS_INIT; }

// Numbers in into a fresh output; the message in *error.
int number(const std::string &in, const dedediruzurud_options *o, std::string *out, std::string *error = nullptr) {
    *out = temp_path("number.pdf");
    char message[1024] = "unchanged";
    int r = dedediruzurud_number(in.c_str(), out->c_str(), o, message, sizeof message);
    if (error) *error = message;
    EXPECT_STREQ(message, dedediruzurud_last_error());
    return r;
}

std::string page_text(const std::string &pdf, int page) {
    std::string text;
    run_command("pdftotext -q -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + pdf + " -", &text);
    while (!text.empty() && std::strchr("\n\f ", text.back())) text.pop_back();
    return text;
}

// pikepdf's page labels, one a line.
std::vector<std::string> viewer_labels(const std::string &pdf) {
    std::string out;
    run_command("/usr/bin/python3 -c \"import pikepdf,sys\npdf = pikepdf.open(sys.argv[1])\nfor p in pdf.pages: print(p.label)\" " + pdf,
                &out);
    std::vector<std::string> labels;
    std::istringstream s(out);
    for (std::string line; std::getline(s, line);) labels.push_back(line);
    return labels;
}

// The first word's box on page 1 from pdftotext -bbox: xMin, xMax.
std::pair<double, double> word_box(const std::string &pdf) {
    std::string out;
    run_command("pdftotext -q -bbox -f 1 -l 1 " + pdf + " - | grep -m1 '<word'", &out);
    std::smatch m;
    std::regex re("xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\"");
    if (!std::regex_search(out, m, re)) return {-1, -1};
    return {std::stod(m[1]), std::stod(m[2])};
}

#define TOOLS_OR_SKIP()                                                                                  \
    if (!have_tool("pdftotext") || !have_tool("pdffonts") || !have_tool("qpdf"))                         \
    GTEST_SKIP() << "poppler-utils or qpdf missing"

// ---------------------------------------------------------------------------

TEST(Number, DefaultRecordGivesTheBytesOfAdd) {
    for (const char *name : {"pdftex-R-intro.pdf", "reportlab-userguide.pdf", "generated-annots-links-rotated.pdf"}) {
        std::string in = corpus_file(name), added = temp_path("added.pdf"), out;
        ASSERT_EQ(dedediruzurud_add(in.c_str(), added.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 1) << name;
        dedediruzurud_options o = init();
        int pages = number(in, &o, &out);
        EXPECT_GT(pages, 1) << name;
        EXPECT_EQ(read_file(out), read_file(added)) << name;
        EXPECT_EQ(number(in, nullptr, &out), pages);
        EXPECT_EQ(read_file(out), read_file(added)) << name;
        // Without an output the page count alone, nothing written.
        char error[8];
        EXPECT_EQ(dedediruzurud_number(in.c_str(), nullptr, nullptr, error, sizeof error), pages);
    }
}

struct style_case {
    const char *format;
    int first;
    std::vector<std::string> printed;  // pages 1..3 of a three-page document
    // The range's entries, for letters past z: pikepdf (qpdf) counts them in
    // base 26 (27 is ab), unlike the PDF standard and viewers (27 is aa).
    const char *range = nullptr;
};

class Style : public ::testing::TestWithParam<style_case> {};

TEST_P(Style, PrintsAndLabelsPages) {
    TOOLS_OR_SKIP();
    const style_case &c = GetParam();
    std::string in = temp_path("three.pdf"), out;
    write_file(in, simple_pdf(3));
    dedediruzurud_options o = init();
    o.format = c.format;
    o.first_number = c.first;
    o.flags = DEDEDIRUZURUD_PAGE_LABELS;
    ASSERT_EQ(number(in, &o, &out), 3);
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(page_text(out, p), c.printed[p - 1]) << c.format << " page " << p;
    if (!c.range) {
        EXPECT_EQ(viewer_labels(out), c.printed) << c.format;
    } else {
        EXPECT_NE(read_file(out).find(c.range), std::string::npos) << c.range;
    }
    EXPECT_EQ(run_command("qpdf --check " + out + " >/dev/null 2>&1"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Style,
    ::testing::Values(style_case{"{n:r}", 1, {"i", "ii", "iii"}}, style_case{"{n:R}", 1993, {"MCMXCIII", "MCMXCIV", "MCMXCV"}},
                      style_case{"{n:R}", 3998, {"MMMCMXCVIII", "MMMCMXCIX", "4000"}},
                      style_case{"{n:a}", 26, {"z", "aa", "bb"}, "0 << /S /a /St 26 >>"},
                      style_case{"{n:A}", 52, {"ZZ", "AAA", "BBB"}, "0 << /S /A /St 52 >>"},
                      style_case{"{n:r}", -1, {"-1", "0", "i"}}, style_case{"ACME-{n:06}", 999, {"ACME-000999", "ACME-001000", "ACME-001001"}},
                      style_case{"{n:03}", -5, {"-05", "-04", "-03"}},
                      style_case{"p. {n} of {total:r}", 1, {"p. 1 of iii", "p. 2 of iii", "p. 3 of iii"}},
                      style_case{"{{n}} {} {x} {n:q}", 1, {"{n}} } {x} {n:q}", "{n}} } {x} {n:q}", "{n}} } {x} {n:q}"}},
                      style_case{"Année {n:A}", 1, {"Année A", "Année B", "Année C"}}));

TEST(Number, TotalsAndUnlabelledPagesKeepTheirLabels) {
    TOOLS_OR_SKIP();
    std::string in = temp_path("five.pdf"), out;
    write_file(in, simple_pdf(5));
    dedediruzurud_options o = init();
    o.format = "{n} of {total}";
    o.start_page = 2;
    o.end_page = 4;
    o.total_mode = DEDEDIRUZURUD_TOTAL_LABELLED;
    o.flags = DEDEDIRUZURUD_PAGE_LABELS;
    ASSERT_EQ(number(in, &o, &out), 5);
    EXPECT_EQ(page_text(out, 2), "1 of 3");
    EXPECT_EQ(page_text(out, 4), "3 of 3");
    EXPECT_EQ(viewer_labels(out), (std::vector<std::string>{"1", "1 of 3", "2 of 3", "3 of 3", "5"}));
    o.total_mode = DEDEDIRUZURUD_TOTAL_GIVEN;
    o.total = 250;
    ASSERT_EQ(number(in, &o, &out), 5);
    EXPECT_EQ(page_text(out, 3), "2 of 250");
    // A document with labels of its own keeps them where nothing is printed.
    std::string r_intro = corpus_file("pdftex-R-intro.pdf");
    std::vector<std::string> before = viewer_labels(r_intro);
    o = init();
    o.format = "x{n:a}";
    o.end_page = 2;
    o.flags = DEDEDIRUZURUD_PAGE_LABELS;
    ASSERT_EQ(number(r_intro, &o, &out), 113);
    std::vector<std::string> after = viewer_labels(out);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[0], "xa");
    EXPECT_EQ(after[1], "xb");
    EXPECT_TRUE(std::equal(after.begin() + 2, after.end(), before.begin() + 2));
}

struct script_case {
    const char *name, *font, *format, *printed;
};

class Script : public ::testing::TestWithParam<script_case> {};

TEST_P(Script, EmbedsASubsetReadersRead) {
    TOOLS_OR_SKIP();
    const script_case &c = GetParam();
    if (c.font[0] == '/' && !file_exists(c.font)) GTEST_SKIP() << c.font << " is not installed";
    std::string in = corpus_file("gropdf-groff-man.pdf"), out, error, fonts;
    dedediruzurud_options o = init();
    o.font = c.font;
    o.format = c.format;
    o.first_number = 12;
    ASSERT_EQ(number(in, &o, &out, &error), 10) << error;
    EXPECT_NE(page_text(out, 1).find(c.printed), std::string::npos) << page_text(out, 1);
    EXPECT_EQ(run_command("qpdf --check " + out + " >/dev/null 2>&1"), 0);
    run_command("pdffonts " + out, &fonts);
    if (c.font[0] == '/') {
        // One subset for every page, a small part of the font's file.
        std::regex line("[A-Z]{6}\\+\\S+ +CID TrueType +Identity-H +yes +yes +yes");
        EXPECT_EQ(std::distance(std::sregex_iterator(fonts.begin(), fonts.end(), line), std::sregex_iterator()), 1)
            << fonts;
        std::string added = temp_path("added.pdf");
        dedediruzurud_add(in.c_str(), added.c_str(), 0, nullptr, 12, 1, 0, 0, 0);
        EXPECT_LT((read_file(out).size() - read_file(added).size()) * 10, read_file(c.font).size());
    } else {
        EXPECT_NE(fonts.find(std::string(c.font) + " "), std::string::npos) << fonts;
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, Script,
                         ::testing::Values(script_case{"Cyrillic", k_dejavu, "Страница {n} из {total}", "Страница 12 из 10"},
                                           script_case{"Greek", k_dejavu, "Σελίδα {n:r}", "Σελίδα xii"},
                                           script_case{"Chinese", k_droid, "第十二页 共三百页", "第十二页 共三百页"},
                                           script_case{"Japanese", k_droid, "ページ １２／３００", "ページ １２／３００"},
                                           script_case{"Accented", "Times-Italic", "Página {n} — çà", "Página 12 — çà"}),
                         [](const auto &info) { return std::string(info.param.name); });

// The label is measured with the chosen font: centred labels are centred.
class Measure : public ::testing::TestWithParam<const char *> {};

TEST_P(Measure, CentresTheLabel) {
    TOOLS_OR_SKIP();
    if (GetParam()[0] == '/' && !file_exists(GetParam())) GTEST_SKIP();
    std::string in = temp_path("one.pdf"), out;
    write_file(in, simple_pdf(1, 600, 400));
    dedediruzurud_options o = init();
    o.font = GetParam();
    o.font_size = 30;
    o.format = "WWWiii{n}";
    ASSERT_EQ(number(in, &o, &out), 1);
    auto [x0, x1] = word_box(out);
    EXPECT_NEAR((x0 + x1) / 2, 300, 1.5) << x0 << " " << x1;
}

INSTANTIATE_TEST_SUITE_P(Fonts, Measure, ::testing::Values("Helvetica-Bold", "Times-Roman", "Courier", k_dejavu));

TEST(Number, MarginOpacityAndBacking) {
    TOOLS_OR_SKIP();
    std::string in = temp_path("one.pdf"), out, error;
    write_file(in, simple_pdf(1, 600, 400));
    dedediruzurud_options o = init();
    o.position = DEDEDIRUZURUD_BOTTOM_LEFT;
    o.flags = DEDEDIRUZURUD_MARGIN | DEDEDIRUZURUD_OPACITY | DEDEDIRUZURUD_BACKING;
    o.margin_x = 100;
    o.margin_y = 50;
    o.opacity = 0.25;
    ASSERT_EQ(number(in, &o, &out), 1);
    EXPECT_NEAR(word_box(out).first, 100, 0.5);
    std::string dump;
    run_command("qpdf --qdf --object-streams=disable " + out + " -", &dump);
    EXPECT_NE(dump.find("/GS1 gs"), std::string::npos);
    EXPECT_NE(dump.find("/ca 0.2500"), std::string::npos);
    EXPECT_NE(dump.find("1 1 1 rg"), std::string::npos);
    o.margin_x = 300;  // leaves no room across a 600-point page
    EXPECT_EQ(number(in, &o, &out, &error), 0);
    EXPECT_EQ(error, "margins 300, 50 leave no room on page 1 (600 x 400 points)");
}

TEST(Number, RefusesBeforeWriting) {
    std::string in = corpus_file("gropdf-groff-man.pdf");
    struct refusal {
        void (*set)(dedediruzurud_options *);
        std::string message;
    };
    std::vector<refusal> cases = {
        {[](dedediruzurud_options *o) { o->size -= 8; }, "options record size "},
        {[](dedediruzurud_options *o) { o->format = "\xC3("; }, "the label format is not valid UTF-8 (byte 0)"},
        {[](dedediruzurud_options *o) { o->format = "{n:033}"; }, "zero padding to 33 digits is wider than 32"},
        {[](dedediruzurud_options *o) { o->flags = DEDEDIRUZURUD_OPACITY, o->opacity = 1.5; },
         "opacity must be a number from 0 to 1 (got 1.5000)"},
        {[](dedediruzurud_options *o) { o->flags = DEDEDIRUZURUD_OPACITY, o->opacity = NAN; },
         "opacity must be a number from 0 to 1 (got NaN)"},
        {[](dedediruzurud_options *o) { o->flags = DEDEDIRUZURUD_MARGIN, o->margin_x = -1; },
         "margins must be numbers of points from 0 up (got -1, 0)"},
        {[](dedediruzurud_options *o) { o->total_mode = 3; }, "total_mode must be 0..2 (got 3)"},
        {[](dedediruzurud_options *o) { o->font = "Zapf Chancery"; }, "cannot open font Zapf Chancery"},
        {[](dedediruzurud_options *o) { o->font = "Symbol", o->format = "page {n}"; },
         "the font Symbol cannot show 'p' (U+0070)"},
        {[](dedediruzurud_options *o) { o->font = k_dejavu, o->format = "\xE4\xB8\x80{n}"; },
         std::string("the font ") + k_dejavu + " cannot show '\xE4\xB8\x80' (U+4E00)"},
        {[](dedediruzurud_options *o) { o->font = k_cff; }, std::string("font ") + k_cff + " has PostScript (CFF)"},
    };
    for (const refusal &c : cases) {
        dedediruzurud_options o = init();
        c.set(&o);
        std::string out, error;
        EXPECT_EQ(number(in, &o, &out, &error), 0) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
        EXPECT_FALSE(file_exists(out)) << c.message;
    }
    // A longer record whose unknown bytes are zero is read as the known part.
    struct {
        dedediruzurud_options o;
        char later[16];
    } longer = {init(), {}};
    longer.o.size = sizeof longer;
    std::string out, error;
    EXPECT_EQ(number(in, &longer.o, &out, &error), 10) << error;
    longer.later[3] = 1;
    EXPECT_EQ(number(in, &longer.o, &out, &error), 0);
}

TEST(Number, FontLicencesAreObeyed) {
    if (!file_exists(k_dejavu)) GTEST_SKIP();
    std::string font = read_file(k_dejavu);
    size_t dir = 12;
    size_t os2 = 0;
    for (int t = 0; t < 30; ++t, dir += 16)
        if (font.compare(dir, 4, "OS/2") == 0) os2 = static_cast<uint8_t>(font[dir + 8]) << 24 | static_cast<uint8_t>(font[dir + 9]) << 16 |
                                                     static_cast<uint8_t>(font[dir + 10]) << 8 | static_cast<uint8_t>(font[dir + 11]);
    ASSERT_GT(os2, 0u);
    struct { uint16_t fs_type; const char *message; } cases[] = {
        {0x0002, "its licence restricts embedding (fsType 0x0002)"},
        {0x0200, "its licence allows bitmap embedding only (fsType 0x0200)"},
        {0x0100, ""},
    };
    for (const auto &c : cases) {
        std::string patched = font, path = temp_path("licensed.ttf"), out, error;
        patched[os2 + 8] = static_cast<char>(c.fs_type >> 8);
        patched[os2 + 9] = static_cast<char>(c.fs_type & 0xFF);
        write_file(path, patched);
        dedediruzurud_options o = init();
        o.font = path.c_str();
        int r = number(corpus_file("gropdf-groff-man.pdf"), &o, &out, &error);
        if (*c.message) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(error, "font " + path + " may not be embedded: " + c.message);
        } else {  // no subsetting: the whole font goes in
            EXPECT_EQ(r, 10) << error;
            EXPECT_GT(read_file(out).size(), read_file(corpus_file("gropdf-groff-man.pdf")).size() + font.size() / 3);
        }
    }
}

TEST(Number, ThreadsKeepTheirOwnMessages) {
    std::string in = corpus_file("gropdf-groff-man.pdf");
    std::vector<std::thread> threads;
    std::vector<std::string> got(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 20; ++k) {
                dedediruzurud_options o = init();
                std::string format = "{n:0" + std::to_string(33 + t) + "}";
                o.format = format.c_str();
                char error[256];
                dedediruzurud_number(in.c_str(), "/nonexistent/x.pdf", &o, error, sizeof error);
                if (got[t].empty() || got[t] == error) got[t] = error;
                else got[t] = "mixed";
            }
        });
    for (std::thread &t : threads) t.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(got[t], "zero padding to " + std::to_string(33 + t) + " digits is wider than 32");
}

}  // namespace
