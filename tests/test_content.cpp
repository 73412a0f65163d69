// A page's content: its /Contents streams decoded and joined.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "pdf_parse.h"
#include "pdf_parse/scan.h"
#include "support.h"

namespace {

// Outcome of one call: ok, the content, and whether a block came back.
struct content_result {
    int ok;
    bool has_block;
    std::string bytes;
};

content_result page_content(const pdfp_doc &doc, int32_t page_num) {
    const pdfp_obj *page = pdfp_obj_find(&doc.objs, page_num);
    if (!page) return {-1, false, "<no page object>"};
    unsigned char *out = reinterpret_cast<unsigned char *>(1);
    int32_t n = -1;
    int ok = pdfp_get_page_content(doc.data, doc.size, &doc.objs, page, &out, &n);
    content_result r{ok, out != nullptr, out ? std::string(reinterpret_cast<char *>(out), n) : ""};
    if (!out) {
        EXPECT_EQ(n, 0);
    }
    std::free(out);
    return r;
}

// One page (object 3) whose dictionary ends with `entries`; objects 4... follow.
std::string one_page_pdf(const std::string &entries, const std::vector<std::string> &extra) {
    std::vector<std::string> bodies{"<< /Type /Catalog /Pages 2 0 R >>",
                                    "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] " + entries + " >>"};
    bodies.insert(bodies.end(), extra.begin(), extra.end());
    return make_pdf(bodies);
}

enum outcome { FAILS, EMPTY_PAGE, BYTES };

struct content_case {
    const char *name;
    std::string entries;
    std::vector<std::string> objects;  // objects 4, 5, ...
    outcome expect;
    std::string bytes;
};
void PrintTo(const content_case &c, std::ostream *os) { *os << c.name; }

class PageContent : public ::testing::TestWithParam<content_case> {};

TEST_P(PageContent, JoinsDecodedStreams) {
    const content_case &c = GetParam();
    pdfp_doc doc{};
    std::string msg;
    ASSERT_EQ(load_bytes(one_page_pdf(c.entries, c.objects), &doc, &msg), 0) << msg;
    content_result r = page_content(doc, 3);
    switch (c.expect) {
    case FAILS:
        EXPECT_EQ(r.ok, 0);
        EXPECT_FALSE(r.has_block);
        break;
    case EMPTY_PAGE:  // success without a block
        EXPECT_EQ(r.ok, 1);
        EXPECT_FALSE(r.has_block);
        break;
    case BYTES:
        EXPECT_EQ(r.ok, 1);
        EXPECT_TRUE(r.has_block);  // also for zero bytes
        EXPECT_EQ(r.bytes, c.bytes);
        break;
    }
    pdfp_doc_free(&doc);
}

const std::string draw = "0 0 m 10 10 l S";
std::string flate(const std::string &data) { return stream_body("/Filter /FlateDecode", zlib_compress(data)); }
std::string plain(const std::string &data) { return stream_body("", data); }

INSTANTIATE_TEST_SUITE_P(
    Cases, PageContent,
    ::testing::Values(
        content_case{"flate_stream", "/Contents 4 0 R", {flate(draw)}, BYTES, draw},
        content_case{"raw_stream", "/Contents 4 0 R", {plain(draw)}, BYTES, draw},
        content_case{"hex_stream", "/Contents 4 0 R",
                     {stream_body("/Filter /ASCIIHexDecode", "30 20 30 20 6d>")}, BYTES, "0 0 m"},
        // Streams that end mid-line get a line feed, so tokens do not merge.
        content_case{"array_in_order", "/Contents [4 0 R 5 0 R]", {plain("q 1 0 0 1 5 5 cm"), flate("Q 2 w")},
                     BYTES, "q 1 0 0 1 5 5 cm\nQ 2 w"},
        content_case{"array_no_extra_gap", "/Contents [4 0 R 5 0 R 6 0 R]", {plain("q\r"), plain(" Q "), plain("S")},
                     BYTES, "q\r Q S"},
        content_case{"array_empty_stream_adds_nothing", "/Contents [4 0 R 5 0 R 6 0 R]",
                     {plain("A"), flate(""), plain("B")}, BYTES, "A\nB"},
        content_case{"array_tight", "/Contents[4 0 R 5 0 R]", {plain("A"), plain("B")}, BYTES, "A\nB"},
        content_case{"array_r_optional", "/Contents [4 0 5 0 R]", {plain("A"), plain("B")}, BYTES, "A\nB"},
        content_case{"array_skips_missing", "/Contents [4 0 R 99 0 R 5 0 R]", {plain("A"), plain("B")},
                     BYTES, "A\nB"},
        content_case{"array_skips_non_stream", "/Contents [5 0 R 4 0 R]", {plain("A"), "(not a stream)"},
                     BYTES, "A"},
        content_case{"array_of_missing_fails", "/Contents [99 0 R]", {}, FAILS, ""},
        content_case{"array_unclosed_empty_fails", "/Contents [", {}, FAILS, ""},
        content_case{"empty_array", "/Contents []", {}, EMPTY_PAGE, ""},
        content_case{"empty_array_spaced", "/Contents [ \n ]", {}, EMPTY_PAGE, ""},
        content_case{"null", "/Contents null", {}, EMPTY_PAGE, ""},
        content_case{"absent", "/Resources << >>", {}, EMPTY_PAGE, ""},
        content_case{"indirect_array_fails", "/Contents 4 0 R", {"[5 0 R]", plain("A")}, FAILS, ""},
        content_case{"missing_object_fails", "/Contents 9 0 R", {}, FAILS, ""},
        content_case{"object_zero_fails", "/Contents 0 0 R", {}, FAILS, ""},
        content_case{"name_fails", "/Contents /Foo", {}, FAILS, ""},
        content_case{"hex_string_fails", "/Contents <00>", {}, FAILS, ""},
        content_case{"flate_to_nothing", "/Contents 4 0 R", {flate("")}, BYTES, ""},
        content_case{"stream_without_data", "/Contents 4 0 R", {plain("")}, BYTES, ""},
        content_case{"flate_stream_without_data", "/Contents 4 0 R", {stream_body("/Filter /FlateDecode", "")}, BYTES,
                     ""},
        content_case{"array_of_empty_streams", "/Contents [4 0 R 5 0 R]", {plain(""), plain("")}, BYTES, ""},
        content_case{"unknown_filter_fails", "/Contents 4 0 R", {stream_body("/Filter /JBIG2Decode", "xx")},
                     FAILS, ""},
        content_case{"first_contents_counts", "/Contents 4 0 R /PieceInfo << /Contents 5 0 R >>",
                     {plain("A"), plain("B")}, BYTES, "A"},
        content_case{"inline_crlf", "/Contents << /Length 5 >> stream\r\nABCDEFG\nendstream", {}, BYTES,
                     "ABCDE"},
        content_case{"inline_lf", "/Contents << /Length 5 >> stream\nABCDEFG\nendstream", {}, BYTES, "ABCDE"},
        content_case{"inline_spaces_before_line_end", "/Contents << /Length 5 >> stream  \r\nABCDEFG\nendstream", {},
                     BYTES, "ABCDE"},
        content_case{"inline_any_byte", "/Contents << /Length 2 >> stream AB endstream", {}, BYTES, "AB"},
        content_case{"inline_filter_not_applied", "/Contents << /Filter /AHx /Length 3 >> stream\n41>\nendstream",
                     {}, BYTES, "41>"},
        content_case{"inline_indirect_length", "/Contents << /Length 4 0 R >> stream\nABCDEFG\nendstream", {"3"},
                     BYTES, "ABC"},
        // Without a usable /Length the data ends at "endstream", less one line end.
        content_case{"inline_length_is_stream", "/Contents << /Length 4 0 R >> stream\nABC\nendstream",
                     {plain("3")}, BYTES, "ABC"},
        content_case{"inline_length_missing", "/Contents << /Length 9 0 R >> stream\nABC\r\nendstream", {},
                     BYTES, "ABC"},
        content_case{"inline_no_length", "/Contents << /X 1 >> stream\nABC\nendstream", {}, BYTES, "ABC"},
        content_case{"inline_past_region", "/Contents << /Length 500 >> stream\nABC\nendstream", {}, BYTES,
                     "ABC"},
        content_case{"inline_no_length_no_endstream_fails", "/Contents << /X 1 >> stream\nABC", {}, FAILS, ""},
        content_case{"inline_without_keyword_fails", "/Contents << /Length 3 >> /X 1", {}, FAILS, ""}),
    [](const auto &info) { return std::string(info.param.name); });

// The reading the page wrapper makes: /Contents naming one stream gives
// that stream as stored (whatever its filter), every other /Contents what
// pdfp_get_page_content gives, with whether an array's streams were filtered.
TEST_P(PageContent, OneReadingForTheForm) {
    const content_case &c = GetParam();
    pdfp_doc doc{};
    std::string msg;
    ASSERT_EQ(load_bytes(one_page_pdf(c.entries, c.objects), &doc, &msg), 0) << msg;
    const pdfp_obj *page = pdfp_obj_find(&doc.objs, 3);
    pdfp_page_content pc;
    int ok = pdfp_page_content_read(doc.data, doc.size, &doc.objs, page, &pc);
    pdfp_owned<unsigned char> hold(pc.joined);
    const pdfp_obj *named = pdfp_obj_find(&doc.objs, 4);
    bool one_stream = c.entries.rfind("/Contents 4 0 R", 0) == 0 && named && named->has_stream;
    EXPECT_EQ(pc.is_stored, one_stream);
    if (one_stream) {
        EXPECT_EQ(ok, 1);
        EXPECT_EQ(pc.stored.bytes, doc.data + named->data_start);
        EXPECT_EQ(pc.stored.len, named->data_end - named->data_start);
        EXPECT_EQ(pc.joined, nullptr);
    } else {
        content_result r = page_content(doc, 3);
        EXPECT_EQ(ok, r.ok);
        EXPECT_EQ(pc.joined != nullptr, r.has_block);
        EXPECT_EQ(pc.joined ? std::string(reinterpret_cast<char *>(pc.joined), pc.joined_len) : "", r.bytes);
    }
    std::string name = c.name;
    EXPECT_EQ(pc.filtered, name == "array_in_order" || name == "array_empty_stream_adds_nothing");
    pdfp_doc_free(&doc);
}

// A page held in an object stream is read through its own text: here a
// hand-built table with the page as an object-stream entry and its content
// stream in the file.
TEST(PageContent, PageInsideObjectStream) {
    const std::string file = "4 0 obj\n<< /Length 5 >>\nstream\nHELLO\nendstream\nendobj\n";
    const std::string page_text = "<< /Type /Page /Contents 4 0 R >>";
    const auto *data = reinterpret_cast<const unsigned char *>(file.data());
    pdfp_obj objs[2] = {};
    objs[0] = {3, 0, -1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 1,
               reinterpret_cast<const unsigned char *>(page_text.data()), static_cast<int32_t>(page_text.size())};
    int32_t dict = static_cast<int32_t>(file.find("<<")), kw = static_cast<int32_t>(file.find("stream"));
    int32_t start = kw + 7, stop = start + 5, endobj = static_cast<int32_t>(file.find("endobj"));
    objs[1] = {4, 0, 0, dict, kw, start, stop, endobj, endobj + 6, 5, 1, 0, 0, nullptr, 0};
    pdfp_objvec vec{};
    vec.items = objs;
    vec.count = vec.cap = 2;
    unsigned char *out = nullptr;
    int32_t n = 0;
    ASSERT_EQ(pdfp_get_page_content(data, static_cast<int32_t>(file.size()), &vec, &objs[0], &out, &n), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), "HELLO");
    std::free(out);
    // An entry without a text region has no content to read.
    pdfp_obj bare = objs[1];
    bare.dict_pos = -1;
    out = reinterpret_cast<unsigned char *>(1);
    EXPECT_EQ(pdfp_get_page_content(data, static_cast<int32_t>(file.size()), &vec, &bare, &out, &n), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(n, 0);
}

// The page objects and their /Contents streams as qpdf lists them.
std::vector<std::pair<int, std::vector<int>>> qpdf_pages(const std::string &path) {
    std::string text;
    run_command("qpdf --show-pages '" + path + "'", &text);
    std::vector<std::pair<int, std::vector<int>>> pages;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        if (word == "page") {
            std::string idx;
            int num;
            in >> idx >> num;
            pages.push_back({num, {}});
        } else if (!pages.empty() && word != "content:" && word != "0" && word != "R") {
            pages.back().second.push_back(std::stoi(word));
        }
    }
    return pages;
}

// Real files: every sampled page's joined content equals what qpdf
// decodes from the same streams.
TEST(PageContentOnCorpus, MatchesQpdfDecoding) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    for (const char *name : {"variant-inherited-multicontent-blank.pdf", "pymupdf-created-rotations.pdf",
                             "reportlab-mixed-sizes-ttf.pdf", "variant-asciihex-padauk.pdf",
                             "pdftex013-camlidl.pdf", "xdvipdfmx-dblatex-amc.pdf"}) {
        std::string path = corpus_file(name);
        auto pages = qpdf_pages(path);
        pdfp_doc doc{};
        ASSERT_EQ(pdfp_doc_load(path.c_str(), &doc, capture_report), 0) << name << ": " << g_captured;
        ASSERT_EQ(doc.pages.count, static_cast<int32_t>(pages.size())) << name;
        // Six pages spread over the document, the first and last included.
        std::vector<size_t> sample;
        for (size_t k = 0; k < 6; ++k) {
            size_t i = k * (pages.size() - 1) / 5;
            if (sample.empty() || sample.back() != i) sample.push_back(i);
        }
        for (size_t i : sample) {
            ASSERT_EQ(doc.pages.items[i].obj_num, pages[i].first) << name << " page " << i + 1;
            std::string want;
            for (int obj : pages[i].second) {
                std::string part;
                run_command("qpdf --show-object=" + std::to_string(obj) + " --filtered-stream-data '" + path + "'",
                            &part);
                if (!want.empty() && !part.empty() && !is_pdf_ws(static_cast<unsigned char>(want.back())))
                    want += '\n';
                want += part;
            }
            content_result r = page_content(doc, pages[i].first);
            EXPECT_EQ(r.ok, 1) << name << " page " << i + 1;
            EXPECT_EQ(r.has_block, !pages[i].second.empty()) << name << " page " << i + 1;
            EXPECT_TRUE(r.bytes == want) << name << " page " << i + 1 << ": " << r.bytes.size() << " bytes, qpdf "
                                         << want.size();
        }
        pdfp_doc_free(&doc);
    }
}

}  // namespace
