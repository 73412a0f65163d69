// The byte buffer's growth rules and the short number formatting.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

#include "pdf_parse.h"

namespace {

TEST(Buffer, FreshBufferHoldsEmptyString) {
    pdfp_buf b{};
    ASSERT_NE(pdfp_buf_init(&b), nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, PDFP_BUF_INITIAL);
    EXPECT_EQ(b.data[0], 0);
    pdfp_buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.cap, 0u);
}

struct growth_case {
    uint64_t first;   // bytes appended first
    uint64_t second;  // then these
    uint64_t cap;     // capacity expected afterwards
};

class BufferGrowth : public ::testing::TestWithParam<growth_case> {};

TEST_P(BufferGrowth, CapacityDoublesFromOneMiB) {
    const growth_case &c = GetParam();
    pdfp_buf b{};
    std::string a(c.first, 'a'), z(c.second, 'z');
    ASSERT_NE(pdfp_buf_bytes(&b, a.data(), a.size()), nullptr);
    ASSERT_NE(pdfp_buf_bytes(&b, z.data(), z.size()), nullptr);
    EXPECT_EQ(b.len, c.first + c.second);
    EXPECT_EQ(b.cap, c.cap);
    EXPECT_EQ(b.data[b.len], 0);
    EXPECT_EQ(std::memcmp(b.data + c.first, z.data(), z.size()), 0);
    pdfp_buf_free(&b);
}

constexpr uint64_t MiB = 1048576;
INSTANTIATE_TEST_SUITE_P(Cases, BufferGrowth,
                         ::testing::Values(growth_case{0, 0, PDFP_BUF_INITIAL},      // zero bytes
                                           growth_case{10, MiB - 11, MiB},           // exact fit
                                           growth_case{10, MiB - 10, 2 * MiB},       // one byte over
                                           growth_case{0, 3 * MiB, 4 * MiB},         // 3 MiB append
                                           growth_case{MiB, 4 * MiB, 8 * MiB}));

TEST(Buffer, AppendToFreedBufferStartsAfresh) {
    pdfp_buf b{};
    pdfp_buf_str(&b, "hello");
    pdfp_buf_free(&b);
    ASSERT_NE(pdfp_buf_str(&b, "xy"), nullptr);
    EXPECT_EQ(b.len, 2u);
    EXPECT_EQ(b.cap, PDFP_BUF_INITIAL);
    EXPECT_STREQ(reinterpret_cast<char *>(b.data), "xy");
    pdfp_buf_free(&b);
}

TEST(Buffer, IntegersAreDecimalWithoutFiller) {
    pdfp_buf b{};
    for (int32_t v : {0, 17, -5, 2147483647, static_cast<int32_t>(-2147483647 - 1)}) {
        pdfp_buf_int(&b, v);
        pdfp_buf_str(&b, ",");
    }
    EXPECT_STREQ(reinterpret_cast<char *>(b.data), "0,17,-5,2147483647,-2147483648,");
    pdfp_buf_free(&b);
}

struct fmt_case {
    double x;
    const char *text;
};

class NumberFormat : public ::testing::TestWithParam<fmt_case> {};

TEST_P(NumberFormat, MatchesTable) {
    char out[64];
    int n = pdfp_fmt_f(out, sizeof out, GetParam().x);
    EXPECT_STREQ(out, GetParam().text);
    EXPECT_EQ(n, static_cast<int>(std::strlen(GetParam().text)));
}

INSTANTIATE_TEST_SUITE_P(Table, NumberFormat,
                         ::testing::Values(fmt_case{612, "612"}, fmt_case{595.0, "595"},
                                           fmt_case{-90, "-90"}, fmt_case{-0.0, "0"},
                                           fmt_case{0.5, "0.5000"}, fmt_case{841.89, "841.8900"},
                                           fmt_case{-12.25, "-12.2500"}, fmt_case{1.23456, "1.2346"},
                                           fmt_case{1.0 / 3, "0.3333"}, fmt_case{0.03125, "0.0312"},
                                           fmt_case{0.09375, "0.0938"}, fmt_case{-0.00001, "-0.0000"},
                                           fmt_case{2147483647, "2147483647"},
                                           fmt_case{2147483648.0, "2147483648.0000"},
                                           fmt_case{-2147483648.0, "-2147483648"},
                                           fmt_case{1e15, "1000000000000000.0000"},
                                           fmt_case{302.664, "302.6640"}, fmt_case{128.0 / 255, "0.5020"}));

TEST(NumberFormatting, CutToTheArrayAndTerminated) {
    char out[5];
    int n = pdfp_fmt_f(out, sizeof out, 841.89);
    EXPECT_EQ(n, 8);
    EXPECT_STREQ(out, "841.");
}

TEST(NumberFormatting, FullStopWhateverTheLocale) {
    // de_DE may be absent; any locale with a comma shows the point.
    const char *names[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"};
    for (const char *name : names) {
        if (!std::setlocale(LC_NUMERIC, name)) continue;
        char out[64];
        pdfp_fmt_f(out, sizeof out, 0.5);
        EXPECT_STREQ(out, "0.5000") << name;
    }
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
