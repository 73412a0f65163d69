// The page-number label: format expansion, escaping, placement and the
// text block; and, through real viewers' text extraction, that each label
// stands on its page, upright, where its position says.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dedediruzurud/label.h"
#include "writer_support.h"

namespace {

struct text_case {
    const char *format;
    const char *expected;  // for number 3 of 10
};

const text_case kTextCases[] = {
    {nullptr, "3"},
    {"", "3"},
    {"{n}", "3"},
    {"Page {n} of {total}", "Page 3 of 10"},
    {"{{n}}", "{n}}"},
    {"{}", "}"},
    {"{{}", "{}"},
    {"{x}", "{x}"},
    {"end{", "end{"},
    {"{total", "{total"},
    {"{n", "{n"},
    {"}{n}{", "}3{"},
    {"{n}{n}{total}{n}", "33103"},
    {"{N}", "{N}"},
};

class LabelText : public ::testing::TestWithParam<text_case> {};

TEST_P(LabelText, Expansion) {
    EXPECT_EQ(label_text(GetParam().format, 3, 10), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, LabelText, ::testing::ValuesIn(kTextCases));

TEST(LabelText, NegativeNumbersAndManyPlaceholders) {
    EXPECT_EQ(label_text("{n}", -5, 10), "-5");
    std::string format, expected;
    for (int k = 0; k < 5000; ++k) {
        format += "{total}/";
        expected += "123456/";
    }
    EXPECT_EQ(label_text(format.c_str(), 1, 123456), expected);
}

TEST(LabelEscape, Bytes) {
    EXPECT_EQ(label_escape("a(b)c\\d"), "a\\(b\\)c\\\\d");
    EXPECT_EQ(label_escape("\xE9"), "\\351");
    EXPECT_EQ(label_escape(std::string("\n\x7F\x1F ~", 5)), "\\012\\177\\037 ~");
    EXPECT_EQ(label_escape(std::string(1, '\0')), "\\000");
}

TEST(LabelWidth, HelveticaTableAndOtherBytes) {
    EXPECT_DOUBLE_EQ(label_raw_width("3"), 0.556);
    EXPECT_DOUBLE_EQ(label_raw_width(" @W~"), 0.278 + 1.015 + 0.944 + 0.584);
    EXPECT_DOUBLE_EQ(label_raw_width("\xE9\x7F\x01"), 3 * 0.278);
}

// ---------------------------------------------------------------------------
// Placement: W 612, H 792, size 12, label "3": margin 18.36, width 6.672.
// ---------------------------------------------------------------------------

struct place_case {
    int position;
    const char *td;  // the Td operands
};

const place_case kPlaces[] = {
    {0, "302.6640 21.2400"}, {1, "586.9680 21.2400"}, {2, "18.3600 21.2400"},
    {3, "302.6640 759.2400"}, {4, "586.9680 759.2400"}, {5, "18.3600 759.2400"},
};

class Placement : public ::testing::TestWithParam<place_case> {};

TEST_P(Placement, Letter) {
    label_look s{GetParam().position, nullptr, 12, 0, 0, 0};
    std::string block;
    ASSERT_TRUE(label_block(&s, 3, 10, 612, 792, &block));
    EXPECT_EQ(block, std::string("BT\n/PN 12 Tf\n0 0 0 rg\n") + GetParam().td + " Td\n(3) Tj\nET\n");
}

INSTANTIATE_TEST_SUITE_P(Positions, Placement, ::testing::ValuesIn(kPlaces));

std::string td_of(const std::string &block) {
    size_t rg = block.find(" rg\n");
    return block.substr(rg + 4, block.find(" Td") - rg - 4);
}

TEST(Placement, MarginLimits) {
    label_look s{2, "{n}", 12, 0, 0, 0};
    std::string block;
    ASSERT_TRUE(label_block(&s, 1, 1, 100, 100, &block));  // 3 would be below 12
    EXPECT_EQ(td_of(block), "12 14.8800");
    ASSERT_TRUE(label_block(&s, 1, 1, 3000, 3000, &block));  // 90 would be above 36
    EXPECT_EQ(td_of(block), "36 38.8800");
}

TEST(Placement, TooSmallPagesFail) {
    label_look s{0, "{n}", 12, 0, 0, 0};
    std::string block;
    EXPECT_FALSE(label_block(&s, 1, 1, 20, 792, &block));
    EXPECT_FALSE(label_block(&s, 1, 1, 792, 24, &block));
    EXPECT_TRUE(label_block(&s, 1, 1, 24.5, 24.5, &block));
}

// A label wider than the inner width is placed as if exactly that wide.
TEST(Placement, WideLabelsStartAtTheMargin) {
    std::string wide(200, 'W');
    for (int position : {0, 1, 2}) {
        label_look s{position, wide.c_str(), 12, 0, 0, 0};
        std::string block;
        ASSERT_TRUE(label_block(&s, 1, 1, 612, 792, &block));
        EXPECT_EQ(td_of(block), "18.3600 21.2400") << position;
    }
}

// The baseline never sinks below 0.24 of the size, even on a low page.
TEST(Placement, TopLabelOnALowPageKeepsItsBaseline) {
    label_look s{3, "{n}", 300, 0, 0, 0};
    std::string block;
    ASSERT_TRUE(label_block(&s, 1, 1, 612, 100, &block));
    EXPECT_EQ(td_of(block).substr(td_of(block).find(' ') + 1), "72");
}

TEST(LabelBlock, ColourFractions) {
    struct {
        int r, g, b;
        const char *rg;
    } cases[] = {{255, 0, 0, "1 0 0 rg"}, {128, 128, 128, "0.5020 0.5020 0.5020 rg"}, {0, 51, 255, "0 0.2000 1 rg"}};
    for (const auto &c : cases) {
        label_look s{0, "{n}", 12, c.r, c.g, c.b};
        std::string block;
        ASSERT_TRUE(label_block(&s, 1, 1, 612, 792, &block));
        EXPECT_NE(block.find(std::string("\n") + c.rg + "\n"), std::string::npos) << block;
    }
}

TEST(LabelBlock, EscapedTextInTheStream) {
    label_look s{0, "(\xE9) \\{n}", 12, 0, 0, 0};
    std::string block;
    ASSERT_TRUE(label_block(&s, 7, 9, 612, 792, &block));
    EXPECT_NE(block.find("(\\(\\351\\) \\\\7) Tj\nET\n"), std::string::npos) << block;
}

// ---------------------------------------------------------------------------
// Through pdftotext: the label is on its page, where the position says.
// ---------------------------------------------------------------------------

struct seen_case {
    const char *name;
    const char *rotate;
    int position;
    double page_w, page_h;  // the page as a viewer shows it
};

const seen_case kSeen[] = {
    {"upright_bottom_center", "", 0, 400, 600},     {"r90_bottom_center", "/Rotate 90", 0, 600, 400},
    {"r180_top_right", "/Rotate 180", 4, 400, 600}, {"r270_bottom_left", "/Rotate 270", 2, 600, 400},
    {"r90_top_left", "/Rotate 90", 5, 600, 400},
};

class AsSeen : public ::testing::TestWithParam<seen_case> {};

TEST_P(AsSeen, LabelUprightAtItsEdge) {
    const seen_case &c = GetParam();
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string doc = pages_pdf({std::string("/MediaBox [0 0 400 600] ") + c.rotate});
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, doc);
    ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), c.position, "ZQ{n}", 12, 1, 0, 0, 0), 1);
    word_box b = find_word(out, 1, "ZQ1");
    ASSERT_TRUE(b.found);
    EXPECT_DOUBLE_EQ(b.page_w, c.page_w);
    EXPECT_DOUBLE_EQ(b.page_h, c.page_h);
    EXPECT_LT(b.x_max - b.x_min, 40);  // upright: a short word, not a tall column
    double margin = 12;                // 0.03 of 400
    int column = c.position % 3;
    double centre = (b.x_min + b.x_max) / 2;
    double expected_x = column == 0 ? c.page_w / 2 : column == 1 ? c.page_w - margin : margin;
    EXPECT_NEAR(column == 0 ? centre : column == 1 ? b.x_max : b.x_min, expected_x, 2);
    // y grows downwards in pdftotext's boxes.
    bool near_edge = c.position < 3 ? b.y_min > c.page_h - 3 * margin : b.y_max < 3 * margin;
    EXPECT_TRUE(near_edge) << b.y_min << " " << b.y_max;
}

INSTANTIATE_TEST_SUITE_P(Rotations, AsSeen, ::testing::ValuesIn(kSeen),
                         [](const auto &info) { return std::string(info.param.name); });

// Each label on its own page, none on the pages outside the range.
TEST(AsSeen, LabelsOnlyOnTheSelectedPages) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, simple_pdf(6));
    ASSERT_EQ(dedediruzurud_range(in.c_str(), out.c_str(), 3, "Folio {n}/{total}", 12, 2, 4, 10, 0, 0, 0), 1);
    std::vector<std::string> pages = page_texts(out);
    ASSERT_EQ(pages.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        int labelled = i >= 1 && i <= 3;
        EXPECT_EQ(count_of(pages[static_cast<size_t>(i)], "Folio"), labelled) << i;
        if (labelled) {
            EXPECT_NE(pages[static_cast<size_t>(i)].find("Folio " + std::to_string(9 + i) + "/6"), std::string::npos);
        }
    }
}

// Bytes above 126 show as their WinAnsi characters.
TEST(AsSeen, WinAnsiCharacters) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, simple_pdf(1));
    ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "S\xE9ite {n} (\xA7)", 12, 1, 0, 0, 0), 1);
    std::vector<std::string> pages = page_texts(out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NE(pages[0].find("S\xC3\xA9ite 1 (\xC2\xA7)"), std::string::npos) << pages[0];
}

}  // namespace
