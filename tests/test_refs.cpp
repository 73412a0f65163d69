// Listing and rewriting the indirect references of resource dictionary texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <random>
// GCC 12's <regex> trips -Wmaybe-uninitialized under the sanitizers, a
// false positive inside std::function.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <string>
#include <vector>

#include "pdf_parse.h"
#include "support.h"

namespace {

std::vector<int32_t> refs_of(const std::string &text, int32_t cap = 64) {
    std::vector<int32_t> out(cap > 0 ? cap : 1);
    int32_t n = pdfp_collect_text_refs(text.data(), static_cast<int32_t>(text.size()), out.data(), cap);
    out.resize(n);
    return out;
}

// The rewrite of text through map, or "<failed>".
std::string remapped(const std::string &text, const std::vector<int32_t> &map, int32_t len = -1,
                     uint64_t limit = MAX_FILE_BYTES) {
    pdfp_buf out{};
    int ok = pdfp_remap_res_text(reinterpret_cast<const unsigned char *>(text.data()),
                                 len < 0 ? static_cast<int32_t>(text.size()) : len, map.data(),
                                 static_cast<int32_t>(map.size()), &out, limit);
    std::string s = ok ? std::string(reinterpret_cast<const char *>(out.data), out.len) : "<failed>";
    pdfp_buf_free(&out);
    return s;
}

struct list_case {
    const char *name;
    std::string text;
    std::vector<int32_t> refs;
};
void PrintTo(const list_case &c, std::ostream *os) { *os << c.name; }

class ListRefs : public ::testing::TestWithParam<list_case> {};

TEST_P(ListRefs, FindsReferencesInTextOrder) { EXPECT_EQ(refs_of(GetParam().text), GetParam().refs); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ListRefs,
    ::testing::Values(
        list_case{"nested_dicts", "<< /Font << /F1 5 0 R /F2 6 0 R >> /XObject << /Im1 7 0 R >> >>", {5, 6, 7}},
        list_case{"repeats_kept", "<< /A 5 0 R /B 5 0 R >>", {5, 5}},
        list_case{"long_generation", "5 12 R", {5}},
        list_case{"no_generation", "<< /F 7 R >>", {7}},
        list_case{"letter_after_r", "12 0 Rx", {}},
        list_case{"digit_after_r", "12 0 R1", {}},
        list_case{"r_at_end", "12 0 R", {12}},
        list_case{"delimiter_after_r", "[12 0 R]", {12}},
        list_case{"trailing_number_ends_scan", "<< /A 5 0 R /B 6", {5}},
        list_case{"name_digits_not_refs", "/F1 5 0 R", {5}},
        list_case{"no_whitespace_before_r", "/X 3 0R/Y 4 0R", {3, 4}},
        list_case{"matrix_is_not_refs", "[1 0 0 1 0 0]", {}},
        list_case{"zero_is_listed", "0 0 R", {0}},
        list_case{"all_whitespace_kinds", std::string("9\x00\t\n\f\r 0\x00 R", 11), {9}},
        list_case{"vertical_tab_is_not_ws", "9\v0 R", {0}},
        list_case{"wraps_at_32_bits", "4294967301 0 R", {5}},
        list_case{"empty", "", {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ListRefs, StopsAtCapacity) {
    std::string text = "<<";
    for (int k = 1; k <= 20; ++k) text += " /R" + std::to_string(k) + " " + std::to_string(100 + k) + " 0 R";
    text += " >>";
    std::vector<int32_t> want;
    for (int k = 1; k <= 16; ++k) want.push_back(100 + k);
    EXPECT_EQ(refs_of(text, 16), want);
    EXPECT_EQ(refs_of(text, 0), std::vector<int32_t>{});
    EXPECT_EQ(refs_of(text, -3), std::vector<int32_t>{});
}

TEST(ListRefs, LengthBoundsTheScan) {
    // The text's length, not its NUL, ends the scan: "5 0 R" cut before the R.
    int32_t out[4];
    EXPECT_EQ(pdfp_collect_text_refs("5 0 R", 4, out, 4), 0);
    EXPECT_EQ(pdfp_collect_text_refs("5 0 R", 0, out, 4), 0);
}

struct remap_case {
    const char *name;
    std::string text;
    std::string want;
};
void PrintTo(const remap_case &c, std::ostream *os) { *os << c.name; }

class RemapRefs : public ::testing::TestWithParam<remap_case> {};

// Map: 5 -> 20, 7 -> 21, 8 -> 0 (kept), 9 -> 30, 11 -> null.
TEST_P(RemapRefs, RewritesMappedReferencesOnly) {
    const remap_case &c = GetParam();
    std::vector<int32_t> map(12, 0);
    map[5] = 20, map[7] = 21, map[9] = 30, map[11] = PDFP_REF_TO_NULL;
    EXPECT_EQ(remapped(c.text, map), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemapRefs,
    ::testing::Values(
        remap_case{"dicts", "<< /Font << /F1 5 0 R >> /XObject << /Im1 7 0 R >> >>",
                   "<< /Font << /F1 20 0 R >> /XObject << /Im1 21 0 R >> >>"},
        remap_case{"generation_becomes_0", "5 3 R", "20 0 R"},
        remap_case{"any_pdf_whitespace", std::string("5\f\x00 \r\n3\t\x00R>>", 12), "20 0 R>>"},
        remap_case{"no_generation_kept", "7 R", "7 R"},
        remap_case{"unmapped_kept", "/F 6 0 R", "/F 6 0 R"},
        remap_case{"mapped_to_zero_kept", "8 0 R", "8 0 R"},
        remap_case{"another", "9 0 R", "30 0 R"},
        remap_case{"to_null", "<< /P 11 0 R /Q [11 2 R] >>", "<< /P null /Q [null] >>"},
        remap_case{"to_null_needs_generation", "11 R", "11 R"},
        remap_case{"nul_bytes_kept", std::string("(\0) 5 0 R\0", 10), std::string("(\0) 20 0 R\0", 11)},
        remap_case{"matrix_kept", "[1 0 0 1 5 7]", "[1 0 0 1 5 7]"},
        remap_case{"name_digits_kept", "/F5 7 0 R", "/F5 21 0 R"},
        remap_case{"digits_inside_name_kept", "/Im5 0 R1", "/Im5 0 R1"},
        remap_case{"r_followed_by_letter", "5 0 Rx 5 0 R", "5 0 Rx 20 0 R"},
        remap_case{"r_at_end", "[5 0 R", "[20 0 R"},
        remap_case{"tight", "/A 5 0R/B 7 0R", "/A 20 0 R/B 21 0 R"},
        remap_case{"leading_zeros", "005 0 R", "20 0 R"},
        remap_case{"trailing_digits", "<< /N 5", "<< /N 5"},
        remap_case{"high_bytes_kept", "(\xe9\xff) 5 0 R", "(\xe9\xff) 20 0 R"},
        remap_case{"empty", "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RemapRefs, WorstCaseGrowthFits) {
    // Every reference as short as it can be, each mapped to a ten-digit number.
    std::string text;
    for (int k = 0; k < 500; ++k) text += "1 0R/";
    text += "1 0R";
    std::string want;
    for (int k = 0; k < 500; ++k) want += "2147483647 0 R/";
    want += "2147483647 0 R";
    EXPECT_TRUE(remapped(text, {0, 2147483647}) == want);
}

TEST(RemapRefs, AppendsAndKeepsToTheLimit) {
    pdfp_buf out{};
    pdfp_buf_str(&out, "x ");
    const std::string text = "5 0 R";
    const int32_t map[] = {0, 0, 0, 0, 0, 123};
    ASSERT_EQ(pdfp_remap_res_text(reinterpret_cast<const unsigned char *>(text.data()), 5, map, 6, &out, 1000), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data), out.len), "x 123 0 R");
    pdfp_buf_free(&out);
    // "123 0 R" is 7 bytes: a limit of 6 refuses it, 7 takes it.
    EXPECT_EQ(remapped(text, {0, 0, 0, 0, 0, 123}, -1, 6), "<failed>");
    EXPECT_EQ(remapped(text, {0, 0, 0, 0, 0, 123}, -1, 7), "123 0 R");
}

TEST(RemapRefs, DirectMapIgnoresNumbersOutsideIt) {
    std::vector<int32_t> map{0, 0, 12};
    EXPECT_EQ(remapped("2 0 R 3 0 R 4294967298 0 R", map), "12 0 R 3 0 R 12 0 R");
    EXPECT_EQ(remapped("2 0 R", {}), "2 0 R");
}

TEST(RemapRefs, DirectMapHonoursLength) { EXPECT_EQ(remapped("2 0 R 2 0 R", {0, 0, 9}, 5), "9 0 R"); }

// An independent statement of the reference syntax, as a regular
// expression over maximal digit runs; the generation is optional for the
// listing only.
const char *WS = "[\\x00\\t\\n\\f\\r ]*";
std::regex ref_regex(bool need_gen) {
    std::string gen = std::string("[0-9]+") + WS;
    return std::regex(std::string("(^|[^0-9])([0-9]+)(?![0-9])") + WS + (need_gen ? gen : "(?:" + gen + ")?") +
                      "R(?![A-Za-z0-9])");
}

int32_t wrapped(const std::string &digits) {
    uint32_t v = 0;
    for (char c : digits) v = v * 10u + static_cast<uint32_t>(c - '0');
    return static_cast<int32_t>(v);
}

// What the rewrite with "odd n below 100 becomes 1000 + n" must give.
std::string oracle_remap(const std::string &text, const std::regex &full) {
    std::string want;
    size_t last = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), full), e; it != e; ++it) {
        const std::smatch &m = *it;
        int32_t v = wrapped(m[2].str());
        size_t at = static_cast<size_t>(m.position(2));
        want += text.substr(last, at - last);
        bool mapped = v > 0 && v < 100 && v % 2 == 1;
        want += mapped ? std::to_string(1000 + v) + " 0 R" : m.str().substr(m[1].length());
        last = static_cast<size_t>(m.position() + m.length());
    }
    return want + text.substr(last);
}

TEST(RemapRefs, AgreesWithRegularExpressionOnRandomTexts) {
    std::mt19937 rng(7);
    const std::string alphabet = std::string("0123456789  \n\t\f\r\vRRRx/<>[]") + '\0';
    std::vector<int32_t> map(100, 0);
    for (int32_t k = 1; k < 100; k += 2) map[k] = 1000 + k;
    const std::regex full = ref_regex(true), loose = ref_regex(false);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        size_t n = rng() % 40;
        for (size_t k = 0; k < n; ++k) text += alphabet[rng() % alphabet.size()];
        std::vector<int32_t> listed;
        for (std::sregex_iterator it(text.begin(), text.end(), loose), e; it != e; ++it)
            listed.push_back(wrapped((*it)[2].str()));
        ASSERT_EQ(remapped(text, map), oracle_remap(text, full)) << text;
        ASSERT_EQ(refs_of(text, 1000), listed) << text;
    }
}

// Real resource dictionaries: renumbering every object by +100000 and
// listing again gives the same references, shifted.
TEST(RefsOnCorpus, RenumberingRealResourcesShiftsEveryReference) {
    for (const char *name : {"gropdf-groff-man.pdf", "reportlab-mixed-sizes-ttf.pdf",
                             "variant-qdf-uncompressed-article.pdf"}) {
        pdfp_doc doc{};
        ASSERT_EQ(pdfp_doc_load(corpus_file(name).c_str(), &doc, capture_report), 0) << name << g_captured;
        std::vector<int32_t> map(doc.max_num + 1);
        for (int32_t k = 0; k <= doc.max_num; ++k) map[k] = k + 100000;
        int texts = 0;
        for (int32_t i = 0; i < doc.pages.count; ++i) {
            const pdfp_obj *page = pdfp_obj_find(&doc.objs, doc.pages.items[i].obj_num);
            ASSERT_NE(page, nullptr);
            const unsigned char *buf = nullptr;
            int32_t end = 0;
            if (obj_text_region(doc.data, doc.size, page, &buf, &end) < 0) continue;
            char *res = pdfp_page_resources_dict_deep(doc.data, doc.size, &doc.objs, buf, end, 32);
            if (!res) continue;
            ++texts;
            std::string text = res;
            std::free(res);
            std::vector<int32_t> before = refs_of(text, 4096), want;
            for (int32_t v : before) want.push_back(v + 100000);
            std::string out = remapped(text, map);
            EXPECT_EQ(refs_of(out, 4096), want) << name << " page " << i;
        }
        EXPECT_GT(texts, 0) << name;
        pdfp_doc_free(&doc);
    }
}

}  // namespace
