// The byte scanners: character classes, keyword and name boundaries,
// integers, dictionary ends and /Type classification.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "pdf_parse.h"
#include "pdf_parse/scan.h"

namespace {

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
int32_t n(const std::string &s) { return static_cast<int32_t>(s.size()); }

TEST(Scan, SkipWsStepsOverPdfWhitespaceOnly) {
    std::string s("\0\t\n\f\r x", 7);
    EXPECT_EQ(skip_ws(u(s), 0, n(s)), 6);
    for (char c : {'\x0b', '\x01', '\x08', '\x0e', '\x1f'}) {
        std::string t = std::string(" ") + c;
        EXPECT_EQ(skip_ws(u(t), 0, n(t)), 1) << int(c);
    }
    EXPECT_EQ(skip_ws(u(s), 9, 7), 9);
}

struct kw_case {
    std::string text;
    int32_t pos;
    const char *kw;
    int want;
};
class KwAt : public ::testing::TestWithParam<kw_case> {};
TEST_P(KwAt, BoundaryRule) {
    const kw_case &c = GetParam();
    EXPECT_EQ(kw_at(u(c.text), c.pos, n(c.text), c.kw), c.want) << c.text;
}
INSTANTIATE_TEST_SUITE_P(Cases, KwAt,
                         ::testing::Values(kw_case{"endobj", 3, "obj", 0}, kw_case{"12 0 obj", 5, "obj", 1},
                                           kw_case{"12 0 obj\n", 5, "obj", 1}, kw_case{"objx", 0, "obj", 0},
                                           kw_case{"ob", 0, "obj", 0}, kw_case{"obj", -1, "obj", 0},
                                           kw_case{"endstream", 3, "stream", 0}, kw_case{"streams", 0, "stream", 0},
                                           kw_case{"\xE9obj", 1, "obj", 1}));

TEST(Scan, FindKwRespectsBoundariesAndStart) {
    std::string s = "xstartxref1 startxref 9";
    EXPECT_EQ(find_kw(u(s), n(s), 0, "startxref"), 12);
    EXPECT_EQ(find_kw(u(s), n(s), -5, "startxref"), 12);
    std::string t = "xstartxref1";
    EXPECT_EQ(find_kw(u(t), n(t), 0, "startxref"), -1);
    EXPECT_EQ(find_kw(u(s), n(s), 13, "startxref"), -1);
}

// The last whole word, as the forward search would find it by going on
// until there is no more.
TEST(Scan, FindLastKwIsTheForwardSearchsLast) {
    const char *texts[] = {"", "startxref", "startxref 1 startxref 2 xstartxref", "startxrefs startxref1",
                           "%%startxref\nstartxref\n9\n%%EOF", "trailer<<>>trailer<< >>xtrailer", "startxre"};
    for (const char *kw : {"startxref", "trailer"})
        for (std::string t : texts) {
            int32_t last = -1;
            for (int32_t k = find_kw(u(t), n(t), 0, kw); k >= 0; k = find_kw(u(t), n(t), kw_end(k, kw), kw)) last = k;
            EXPECT_EQ(find_last_kw(u(t), n(t), kw), last) << t << " / " << kw;
        }
}

struct name_case {
    std::string text;
    int want;
};
class FindName : public ::testing::TestWithParam<name_case> {};
TEST_P(FindName, NameEndsAtNonContinuation) {
    const name_case &c = GetParam();
    EXPECT_EQ(find_name(u(c.text), n(c.text), 0, n(c.text), "Length"), c.want) << c.text;
}
INSTANTIATE_TEST_SUITE_P(Cases, FindName,
                         ::testing::Values(name_case{"/Length1 5", -1}, name_case{"/Length_ 5", -1},
                                           name_case{"/Length-2", -1}, name_case{"/Length 42", 0},
                                           name_case{"/Length/Filter", 0}, name_case{"<</Length", 2},
                                           name_case{"/Length1 /Length 3", 9}));

TEST(Scan, FindNameBoundIsCutToLength) {
    std::string s = "/Page";
    EXPECT_EQ(find_name(u(s), n(s), 0, 1000, "Page"), 0);
    EXPECT_EQ(find_name(u(s), n(s), 0, 4, "Page"), -1);
}

struct int_case {
    std::string text;
    int32_t value;
    int32_t pos_after;  // -1: unchanged
};
class ParseInt : public ::testing::TestWithParam<int_case> {};
TEST_P(ParseInt, ReadsSignedWrappingIntegers) {
    const int_case &c = GetParam();
    int32_t pos = 0;
    EXPECT_EQ(parse_int_at(u(c.text), n(c.text), &pos), c.value) << c.text;
    EXPECT_EQ(pos, c.pos_after < 0 ? 0 : c.pos_after) << c.text;
}
INSTANTIATE_TEST_SUITE_P(Cases, ParseInt,
                         ::testing::Values(int_case{" \r\n -12 0 R", -12, 7}, int_case{"+5", -1, -1},
                                           int_case{"-", -1, -1}, int_case{"12abc", 12, 2},
                                           int_case{"4294967297", 1, 10}, int_case{"", -1, -1},
                                           int_case{"\x0b" "5", -1, -1}, int_case{"   ", -1, -1}));

TEST(Scan, ReadIntAdvAcceptsPlus) {
    std::string s = "+7";
    int32_t pos = 0;
    EXPECT_EQ(read_int_adv(u(s), n(s), &pos), 7);
    EXPECT_EQ(pos, 2);
}

struct type_case {
    std::string dict;
    int want;
};
class ObjType : public ::testing::TestWithParam<type_case> {};
TEST_P(ObjType, TopLevelTypeOnly) {
    const type_case &c = GetParam();
    std::string file = "1 0 obj\n" + c.dict + "\nendobj\n";
    pdfp_obj o{};
    o.num = 1;
    o.dict_pos = 8;
    o.stream_pos = -1;
    o.endobj_pos = static_cast<int32_t>(file.find("endobj"));
    EXPECT_EQ(obj_type(u(file), n(file), &o), c.want) << c.dict;
    // The same text held in an object stream classifies alike.
    pdfp_obj s{};
    s.in_objstm = 1;
    s.text = u(c.dict);
    s.text_len = n(c.dict);
    EXPECT_EQ(obj_type(nullptr, 0, &s), c.want) << c.dict;
}
INSTANTIATE_TEST_SUITE_P(Cases, ObjType,
                         ::testing::Values(type_case{"<< /Type /Page /Parent 3 0 R >>", 1},
                                           type_case{"<</Type/Page>>", 1}, type_case{"<< /Type /Pages /Kids [] >>", 2},
                                           type_case{"<< /Type /PageLabel >>", 0},
                                           type_case{"<< /A << /Type /Page >> >>", 0},
                                           type_case{"<< /Type (x) /Type /Page >>", 1},
                                           type_case{"<< /Type /Catalog /X << /Type /Page >> >>", 1},
                                           type_case{"<< % /Type /Page\n>>", 0},
                                           type_case{"<< /S (/Type /Page) >>", 0},
                                           type_case{"<< /Type /Pagesx >>", 0}));

TEST(Scan, DictStreamKeyword) {
    std::string a = "<< /Length 5 /S (a>>b) >>\r\nstream\r\n";
    EXPECT_EQ(dict_stream_kw(u(a), n(a), 0), static_cast<int32_t>(a.find("stream")));
    std::string b = "<< /A 1 >> endobj";
    EXPECT_EQ(dict_stream_kw(u(b), n(b), 0), -1);
    std::string c = "<< /A 1 >>";
    EXPECT_EQ(dict_stream_kw(u(c), n(c), 0), -1);
    std::string d = "<< /A << /B 1 >> >> stream";
    EXPECT_EQ(dict_stream_kw(u(d), n(d), 0), 20);
}

// The one literal-string skip that the dictionary walks, the object scan
// and the filter reader share.
struct literal_case {
    std::string text;
    int32_t want;
};
class SkipLiteral : public ::testing::TestWithParam<literal_case> {};
TEST_P(SkipLiteral, EndsAfterTheMatchingParenthesis) {
    const literal_case &c = GetParam();
    EXPECT_EQ(skip_literal(u(c.text), 0, n(c.text)), c.want) << c.text;
}
INSTANTIATE_TEST_SUITE_P(Cases, SkipLiteral,
                         ::testing::Values(literal_case{"(a) x", 3}, literal_case{"(a(b)c) x", 7},
                                           literal_case{"(a\\) x)", 7}, literal_case{"(\\\\) x", 4},
                                           literal_case{"(a(b) x", -1}, literal_case{"(a\\", -1},
                                           literal_case{"(", -1}));

// The one way past an object header "N G obj" to the object's value.
struct header_case {
    std::string text;
    int32_t hdr;
    int32_t want;
};
class ObjValueStart : public ::testing::TestWithParam<header_case> {};
TEST_P(ObjValueStart, SkipsNumbersKeywordAndWhitespace) {
    const header_case &c = GetParam();
    EXPECT_EQ(obj_value_start(u(c.text), n(c.text), c.hdr), c.want) << c.text;
}
INSTANTIATE_TEST_SUITE_P(Cases, ObjValueStart,
                         ::testing::Values(header_case{"12 0 obj << >>", 0, 9}, header_case{"x 7 3 obj\r\n [1]", 2, 12},
                                           header_case{"12 0 obj", 0, 8}, header_case{"12\v0 obj 5", 0, 2},
                                           header_case{"12 0\vobj 5", 0, 4}, header_case{"12 obj 5", 0, 7},
                                           header_case{"obj 5", 0, -1}, header_case{"12 0 obj", -1, -1},
                                           header_case{"12 0 obj", 8, -1}));

// The one strict reader of "the value of key K in this dictionary".
struct value_case {
    const char *name;
    std::string dict;
    const char *key;
    const char *want;  // the value's text, null when there is none
};
void PrintTo(const value_case &c, std::ostream *os) { *os << c.name; }
class DictValue : public ::testing::TestWithParam<value_case> {};
TEST_P(DictValue, ReadsKeysInKeyPositionOnly) {
    const value_case &c = GetParam();
    int32_t vs = -1, ve = -1;
    bool found = dict_value(u(c.dict), 0, n(c.dict), c.key, &vs, &ve);
    ASSERT_EQ(found, c.want != nullptr) << c.dict;
    if (found) {
        EXPECT_EQ(c.dict.substr(vs, ve - vs), c.want);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Cases, DictValue,
    ::testing::Values(value_case{"integer", "<< /A 1 /Length 42 >>", "Length", "42"},
                      value_case{"reference", "<</Length 12 0 R/X 1>>", "Length", "12 0 R"},
                      value_case{"two_numbers_not_a_reference", "<< /W [1 2] /Length 5 >>", "Length", "5"},
                      value_case{"name_value", "<< /Type /Length /Length 3 >>", "Length", "3"},
                      value_case{"nested_key_is_not_ours", "<< /P << /Length 9 >> /Length 3 >>", "Length", "3"},
                      value_case{"only_nested", "<< /P << /Length 9 >> >>", "Length", nullptr},
                      value_case{"in_string", "<< /S (/Length 9) >>", "Length", nullptr},
                      value_case{"in_comment", "<< % /Length 9\n /K 1 >>", "Length", nullptr},
                      value_case{"comment_before_dict", "% x\n<< /Length 4 >>", "Length", "4"},
                      value_case{"escaped_name", "<< /Le#6egth 6 >>", "Length", "6"},
                      value_case{"longer_name", "<< /Length1 6 >>", "Length", nullptr},
                      value_case{"dict_value", "<< /D << /A (>>) >> >>", "D", "<< /A (>>) >>"},
                      value_case{"array_value", "<< /F [/A85 /Fl] >>", "F", "[/A85 /Fl]"},
                      value_case{"hex_string_value", "<< /H <41> >>", "H", "<41>"},
                      value_case{"damage_before_key", "<< 7 /Length 3 >>", "Length", nullptr},
                      value_case{"key_without_value", "<< /Length >>", "Length", nullptr},
                      value_case{"not_a_dictionary", "[ /Length 3 ]", "Length", nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

struct text_case {
    std::string in;
    const char *want;  // null: no result
};
class DictText : public ::testing::TestWithParam<text_case> {};
TEST_P(DictText, CopiesThroughMatchingClose) {
    const text_case &c = GetParam();
    char *t = dict_text_at(u(c.in), n(c.in), 0);
    if (!c.want) {
        EXPECT_EQ(t, nullptr);
    } else {
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t, c.want);
    }
    std::free(t);
}
INSTANTIATE_TEST_SUITE_P(Cases, DictText,
                         ::testing::Values(text_case{"<</T (x)>> rest", "<</T (x)>>"},
                                           text_case{"<< /A << /B 1 >> >>", "<< /A << /B 1 >> >>"},
                                           text_case{"<< /A (>>) >>x", "<< /A (>>) >>"},
                                           text_case{"<< /A 1", nullptr}, text_case{"<A", nullptr},
                                           text_case{std::string("<< /A 1\0/B (x\0\\\0) >>", 20),
                                                     "<< /A 1 /B (x\\000\\000) >>"}));


// String values as viewers read them: escapes, octal, line ends, odd hex.
struct string_case {
    std::string text;
    std::string want;  // "!" when no string can be read
    int32_t end;       // offset after the string
};
class StringBytes : public ::testing::TestWithParam<string_case> {};
TEST_P(StringBytes, DecodesLiteralAndHex) {
    const string_case &c = GetParam();
    std::string out;
    int32_t e = string_bytes(u(c.text), 0, n(c.text), &out);
    EXPECT_EQ(e, c.want == "!" ? -1 : c.end) << c.text;
    if (e >= 0) {
        EXPECT_EQ(out, c.want) << c.text;
    }
}
INSTANTIATE_TEST_SUITE_P(
    Cases, StringBytes,
    ::testing::Values(string_case{"(a(b)c) x", "a(b)c", 7}, string_case{"(\\(\\)\\\\\\n\\r\\t\\b\\f)", "()\\\n\r\t\b\f", 18},
                      string_case{"(\\0053\\101\\7)", std::string("\0053A\7", 4), 13},
                      string_case{"(\\501)", "A", 6},  // the high bit of three digits is dropped
                      string_case{"(a\\\r\nb\\\nc)", "abc", 10}, string_case{"(a\r\nb\rc\n)", "a\nb\nc\n", 9},
                      string_case{"(\\q)", "q", 4}, string_case{"<41 42\n4>", "AB@", 9}, string_case{"<>", "", 2},
                      string_case{"<4x1>", "A", 5}, string_case{"(open", "!", 0}, string_case{"<41", "!", 0},
                      string_case{"<< /A 1 >>", "!", 0}, string_case{"/Name", "!", 0}));

}  // namespace
