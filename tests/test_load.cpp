// Loading: the failure messages, the object scan, stream extents, one
// definition per number, the trailer chain and the catalog search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dedediruzurud.h"
#include "messages.h"
#include "pdf_parse.h"
#include "pdf_parse/load_steps.h"
#include "support.h"

namespace {

const std::string CATALOG = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string PAGES1 = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const std::string PAGE = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

struct doc_holder {
    pdfp_doc doc{};
    ~doc_holder() { pdfp_doc_free(&doc); }
};

struct fail_case {
    const char *name;
    std::string bytes;
    std::string message;  // "%s" stands for the path
};

class LoadFailure : public ::testing::TestWithParam<fail_case> {};

TEST_P(LoadFailure, ReportsOneMessageAndHoldsNoStorage) {
    const fail_case &c = GetParam();
    std::string path = temp_path("case.pdf");
    write_file(path, c.bytes);
    pdfp_doc doc{};
    g_captured.clear();
    EXPECT_EQ(pdfp_doc_load(path.c_str(), &doc, capture_report), -1);
    std::string want = c.message;
    size_t at = want.find("%s");
    if (at != std::string::npos) want.replace(at, 2, path);
    EXPECT_EQ(g_captured, want);
    EXPECT_EQ(doc.data, nullptr);
    EXPECT_EQ(doc.objs.items, nullptr);
    EXPECT_EQ(doc.pages.items, nullptr);
    pdfp_doc_free(&doc);  // harmless on an empty record
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoadFailure,
    ::testing::Values(
        fail_case{"empty", "", MSG_EMPTY_INPUT},
        fail_case{"abc", "abc", MSG_NOT_A_PDF},
        fail_case{"encrypted", make_pdf({CATALOG, PAGES1, PAGE, "<< /Filter /Standard >>"}, 1, " /Encrypt 4 0 R"),
                  MSG_ENCRYPTED},
        fail_case{"no_catalog", make_pdf({"<< /Foo 1 >>"}, 9), MSG_NO_PAGE_TREE},
        fail_case{"pages_zero_no_tree", make_pdf({"<< /Type /Catalog /Pages 0 0 R >>", PAGE}),
                  MSG_NO_PAGE_TREE},
        fail_case{"inline_kids",
                  make_pdf({CATALOG, "<< /Type /Pages /Kids [<< /Type /Page >>] /Count 1 >>"}),
                  MSG_INLINE_KIDS},
        fail_case{"inline_below_root",
                  make_pdf({CATALOG, "<< /Type /Pages /Kids [3 0 R] >>", "<< /Type /Pages /Kids [<< /Type /Page >>] >>"}),
                  MSG_BROKEN_TREE},
        fail_case{"cycle", make_pdf({CATALOG, "<< /Type /Pages /Kids [3 0 R] >>", "<< /Type /Pages /Kids [2 0 R] >>"}),
                  MSG_BROKEN_TREE},
        fail_case{"missing_kid", make_pdf({CATALOG, "<< /Type /Pages /Kids [3 0 R 99 0 R] >>", PAGE}),
                  MSG_BROKEN_TREE},
        fail_case{"empty_tree", make_pdf({CATALOG, "<< /Type /Pages /Kids [] /Count 0 >>"}), MSG_NO_PAGES},
        fail_case{"indirect_kids", make_pdf({CATALOG, "<< /Type /Pages /Kids 3 0 R >>", "[4 0 R]"}),
                  MSG_NO_PAGES},
        fail_case{"root_not_tree", make_pdf({CATALOG, "<< /Type /Font >>"}), MSG_NO_PAGE_TREE}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Load, MissingFileAndNullPath) {
    pdfp_doc doc{};
    g_captured.clear();
    EXPECT_EQ(pdfp_doc_load("/nonexistent/x.pdf", &doc, capture_report), -1);
    EXPECT_EQ(g_captured, "cannot open /nonexistent/x.pdf");
    EXPECT_EQ(pdfp_doc_load(nullptr, &doc, capture_report), -1);
    EXPECT_EQ(g_captured, "NULL path argument");
}

TEST(Load, InputOfTwoGigabytesIsRefusedBeforeReading) {
    // A sparse file: no disk space is used and nothing is read.
    std::string path = temp_path("huge.pdf");
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, (static_cast<off_t>(1) << 31) - 1, SEEK_SET), 0);
    std::fputc('x', f);
    std::fclose(f);
    pdfp_doc doc{};
    g_captured.clear();
    EXPECT_EQ(pdfp_doc_load(path.c_str(), &doc, capture_report), -1);
    EXPECT_EQ(g_captured, "input file too large: " + path);
    EXPECT_EQ(doc.data, nullptr);
    std::remove(path.c_str());
}

TEST(Load, EncryptedWithoutObjectsGetsTheNotAPdfMessage) {
    std::string msg;
    pdfp_doc doc{};
    EXPECT_EQ(load_bytes("trailer << /Encrypt 3 0 R >>\nstartxref\n0\n", &doc, &msg), -1);
    EXPECT_EQ(msg.rfind("no PDF objects found", 0), 0u) << msg;
}

TEST(Load, IncrementalUpdateKeepsTheLaterDefinition) {
    std::string base = make_pdf({CATALOG, PAGES1, PAGE, "<< /V 1 >>"});
    std::string update = "4 0 obj\n<< /V 2 >>\nendobj\n3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] >>\nendobj\n";
    doc_holder h;
    ASSERT_EQ(load_bytes(base + update, &h.doc), 0);
    const pdfp_obj *o = pdfp_obj_find(&h.doc.objs, 4);
    ASSERT_NE(o, nullptr);
    std::string text(reinterpret_cast<char *>(h.doc.data) + o->dict_pos, 10);
    EXPECT_EQ(text, "<< /V 2 >>");
    ASSERT_EQ(h.doc.pages.count, 1);
    EXPECT_EQ(h.doc.pages.items[0].box_urx, 100);
}

TEST(Load, FalseHeadersInsideStreamDataAreDropped) {
    std::string data = "3 0 obj\n<< /Type /Page >>\nendobj\n77 0 obj\n<< >>\nendobj";
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, PAGES1, PAGE, stream_body("", data)}), &h.doc), 0);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 77), nullptr);
    const pdfp_obj *s = pdfp_obj_find(&h.doc.objs, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->data_len, static_cast<int32_t>(data.size()));
    // The real page 3 won, not the one inside the stream.
    EXPECT_EQ(h.doc.pages.items[0].box_urx, 612);
}

struct length_case {
    const char *name;
    std::string stream;  // object 4's full body
    int32_t want_len;    // -1: the stream is not in the table
};

class StreamLength : public ::testing::TestWithParam<length_case> {};

TEST_P(StreamLength, ExtentIsSettled) {
    const length_case &c = GetParam();
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, PAGES1, PAGE, c.stream, "7", "<< /Type /XObject >>\nstream\nabc\nendstream"}), &h.doc), 0);
    const pdfp_obj *o = pdfp_obj_find(&h.doc.objs, 4);
    if (c.want_len < 0) {
        EXPECT_EQ(o, nullptr);
        return;
    }
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->data_len, c.want_len);
    EXPECT_GE(o->endobj_pos, o->data_end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamLength,
    ::testing::Values(length_case{"correct", "<< /Length 10 >>\r\nstream\r\n0123456789\r\nendstream", 10},
                      length_case{"too_short", "<< /Length 3 >>\nstream\n0123456789\nendstream", 10},
                      length_case{"too_long", "<< /Length 99999 >>\nstream\n0123456789\r\nendstream", 10},
                      length_case{"indirect", "<< /Length 5 0 R >>\nstream\n0123456\nendstream", 7},
                      // No usable /Length: the data runs to "endstream", less one line end.
                      length_case{"indirect_missing", "<< /Length 99 0 R >>\nstream\n01\nendstream", 2},
                      length_case{"indirect_stream", "<< /Length 6 0 R >>\nstream\n01\nendstream", 2},
                      length_case{"missing", "<< /Filter /X >>\nstream\n01\nendstream", 2},
                      length_case{"missing_crlf", "<< >>\r\nstream\r\n01\r\n\r\nendstream", 4},
                      length_case{"missing_empty", "<< >>\nstream\nendstream", 0},
                      length_case{"not_a_number", "<< /Length /Ten >>\nstream\n012\nendstream", 3},
                      length_case{"negative", "<< /Length -3 >>\nstream\n012\nendstream", 3},
                      // An "endobj" before any "endstream": the stream is not taken.
                      length_case{"missing_no_endstream", "<< >>\nstream\n012", -1},
                      length_case{"array", "<< /Length [1 2] >>\nstream\n01\nendstream", 2},
                      length_case{"negative_then_good", "<< /Length -3 /Length 2 >>\nstream\n01\nendstream", 2},
                      length_case{"zero", "<< /Length 0 >>\nstream\nendstream", 0},
                      length_case{"no_line_end", "<< /Length 1 >>stream(x\nendstream", 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Load, IndirectLengthIsReadFromTheFirstHeaderInFileOrder) {
    // Object 6's /Length names 5. The first "5 0 obj" in the file stands
    // inside stream 4's data and says 15 (right); the real object 5 says 3,
    // which would cut the data at the "endstream" inside it.
    std::vector<std::string> b = {CATALOG, PAGES1, PAGE, stream_body("", "5 0 obj 15 endobj"), "3",
                                  "<< /Length 5 0 R >>\nstream\nab endstream cd\nendstream"};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    const pdfp_obj *o = pdfp_obj_find(&h.doc.objs, 6);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->data_len, 15);
    const pdfp_obj *five = pdfp_obj_find(&h.doc.objs, 5);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->in_objstm, 0);
    EXPECT_EQ(h.doc.data[five->hdr_pos + 8], '3');
}

TEST(Load, ObjectNumberLimits) {
    std::string extra = "0 0 obj\n<< /Z 0 >>\nendobj\n8388608 0 obj\n<< /Z 1 >>\nendobj\n8388607 0 obj\n<< /Z 2 >>\nendobj\nx12 0 obj\n<< >>\nendobj\n";
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, PAGES1, PAGE}) + extra, &h.doc), 0);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 0), nullptr);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 8388608), nullptr);
    EXPECT_NE(pdfp_obj_find(&h.doc.objs, 8388607), nullptr);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 12), nullptr);
    EXPECT_EQ(h.doc.max_num, 8388607);
}

TEST(Load, HeaderWithoutEndobjIsNotAdded) {
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, PAGES1, PAGE}) + "12 0 obj\n<< /A 1 >>\n", &h.doc), 0);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 12), nullptr);
}

TEST(Load, WithoutTrailerTheCatalogIsSearched) {
    std::string body = "%PDF-1.4\n5 0 obj\n" + PAGE + "\nendobj\n3 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n" +
                       "2 0 obj\n<< /Type /Pages /Kids [5 0 R] >>\nendobj\n";
    doc_holder h;
    ASSERT_EQ(load_bytes(body, &h.doc), 0);
    EXPECT_EQ(h.doc.root, -1);
    EXPECT_EQ(h.doc.catalog, 3);
    // Nothing mentions /Catalog: object 1 is taken.
    std::string bare = "1 0 obj\n<< /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type /Pages /Kids [5 0 R] >>\nendobj\n5 0 obj\n" + PAGE + "\nendobj\n";
    doc_holder g;
    ASSERT_EQ(load_bytes(bare, &g.doc), 0);
    EXPECT_EQ(g.doc.catalog, 1);
}

// A cross-reference stream's /Root names the catalog, though an older
// one that mentions /Catalog comes first in the file.
TEST(Load, CrossReferenceStreamNamesTheCatalog) {
    const std::vector<std::string> objects = {CATALOG, PAGES1, PAGE, "<< /Type /Catalog /Pages 5 0 R >>",
                                              "<< /Type /Pages /Kids [6 0 R 7 0 R] /Count 2 >>",
                                              "<< /Type /Page /Parent 5 0 R >>", "<< /Type /Page /Parent 5 0 R >>"};
    std::string pdf = "%PDF-1.5\n";
    for (size_t k = 0; k < objects.size(); ++k) pdf += std::to_string(k + 1) + " 0 obj\n" + objects[k] + "\nendobj\n";
    size_t xref = pdf.size();
    pdf += "8 0 obj\n<< /Type /XRef /Size 9 /W [1 2 1] /Root 4 0 R /Length 0 >>\nstream\n\nendstream\nendobj\n";
    pdf += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    doc_holder h;
    ASSERT_EQ(load_bytes(pdf, &h.doc), 0);
    EXPECT_EQ(h.doc.catalog, 4);
    EXPECT_EQ(h.doc.pages.count, 2);
}

TEST(Load, CatalogThatIsAPagesNode) {
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({"<< /Type /Pages /Kids [2 0 R] /Count 1 >>", "<< /Type /Page /MediaBox [0 0 5 5] >>"}), &h.doc), 0);
    EXPECT_EQ(h.doc.pages.count, 1);
}

// Trailer chain: three classic sections linked by /Prev.
TEST(Trailer, LastReadableRootWinsAndEncryptAnywhere) {
    std::string s = "%PDF-1.4\n";
    std::vector<size_t> xrefs;
    auto section = [&](const std::string &keys) {
        xrefs.push_back(s.size());
        s += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 " + keys + " >>\n";
    };
    section("/Root 1 0 R /Encrypt 5 0 R");
    section("/Root 1 0 R /Prev " + std::to_string(xrefs[0]));
    section("/Root 9 0 R /Prev " + std::to_string(xrefs[1]));
    s += "startxref\n" + std::to_string(xrefs[2]) + "\n%%EOF\n";
    pdfp_doc doc{};
    doc.data = reinterpret_cast<unsigned char *>(&s[0]);
    doc.size = static_cast<int32_t>(s.size());
    doc.root = -1;
    read_trailer_chain(&doc);
    EXPECT_EQ(doc.root, 9);
    EXPECT_EQ(doc.encrypted, 1);
}

struct chain_case {
    const char *name;
    std::string file;
    int32_t root;
    int32_t encrypted;
};
class TrailerChain : public ::testing::TestWithParam<chain_case> {};
TEST_P(TrailerChain, RootAndEncryption) {
    std::string s = GetParam().file;
    pdfp_doc doc{};
    doc.data = reinterpret_cast<unsigned char *>(&s[0]);
    doc.size = static_cast<int32_t>(s.size());
    doc.root = -1;
    read_trailer_chain(&doc);
    EXPECT_EQ(doc.root, GetParam().root);
    EXPECT_EQ(doc.encrypted, GetParam().encrypted);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, TrailerChain,
    ::testing::Values(
        chain_case{"no_startxref", "xref\ntrailer << /Root 3 0 R >>", -1, 0},
        chain_case{"offset_past_end", "xref\ntrailer << /Root 3 0 R >>\nstartxref 9999", -1, 0},
        chain_case{"xref_stream", "15 0 obj << /Root 3 0 R /Encrypt 1 0 R >> endobj startxref 0", -1, 0},
        chain_case{"negative_root", "xref\ntrailer\n<< /Root -3 0 R /Root 4 0 R >>\nstartxref\n0", 4, 0},
        chain_case{"self_prev", "xref\ntrailer\n<< /Root 2 0 R /Prev 0 >>\nstartxref\n0", 2, 0},
        // The older dictionary that /Prev leads to is read after the newer one.
        chain_case{"bare_dict", "<< /Root 3 0 R /Prev 27 >> << /Root 5 0 R >> startxref 0", 5, 0},
        chain_case{"bare_dict_prev_nowhere", "<< /Root 3 0 R /Prev 27 >> xx startxref 0", 3, 0},
        chain_case{"trailer_not_dict", "xref\ntrailer /Root 3 0 R\nstartxref\n0", -1, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// One revision of a file whose cross-reference data are streams: its
// objects (ascending numbers) and more entries for its cross-reference stream.
struct revision {
    std::vector<std::pair<int, std::string>> objs;
    std::string xref_extra;
};

// Each revision's cross-reference stream takes the next free number, lists
// the revision's objects and itself (/W [1 4 2]) and names the one before
// it with /Prev.
std::string xref_stream_file(const std::vector<revision> &revisions) {
    std::string f = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n", prev;
    int top = 0;
    for (const revision &r : revisions) {
        std::string index, rows;
        auto row = [&rows](size_t off) {
            rows += '\1';
            for (int s = 24; s >= 0; s -= 8) rows += static_cast<char>((off >> s) & 0xFF);
            rows += std::string(2, '\0');
        };
        for (const auto &o : r.objs) {
            index += std::to_string(o.first) + " 1 ";
            row(f.size());
            f += std::to_string(o.first) + " 0 obj\n" + o.second + "\nendobj\n";
            top = std::max(top, o.first);
        }
        std::string at = std::to_string(f.size()), num = std::to_string(++top);
        row(f.size());
        f += num + " 0 obj\n" +
             stream_body("/Type /XRef /Size " + std::to_string(top + 1) + " /Index [" + index + num +
                             " 1] /W [1 4 2] /Root 1 0 R" + (prev.empty() ? "" : " /Prev " + prev) + r.xref_extra,
                         rows) +
             "\nendobj\nstartxref\n" + at + "\n%%EOF\n";
        prev = at;
    }
    return f;
}

const std::pair<int, std::string> STANDARD = {4, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>"};

struct xref_stream_case {
    const char *name;
    std::vector<revision> revisions;
    bool refused;
};

const xref_stream_case k_xref_stream_cases[] = {
    {"encrypt_in_newest", {{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}, STANDARD}, " /Encrypt 4 0 R"}}, true},
    {"encrypt_in_older_with_update_after",
     {{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}, STANDARD}, " /Encrypt 4 0 R"}, {{{3, PAGE}}, ""}},
     true},
    // An encrypted file's objects are often unreadable; the refusal still
    // names encryption, not the page tree it could not find.
    {"encrypt_wins_over_a_broken_tree", {{{{1, "<< /Type /Catalog /Pages 9 0 R >>"}, STANDARD}, " /Encrypt 4 0 R"}}, true},
    {"no_encrypt_two_revisions", {{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}}, ""}, {{{3, PAGE}}, ""}}, false},
    {"xref_dictionary_inside_stream_data",
     {{{{1, CATALOG}, {2, PAGES1}, {3, PAGE},
        {4, stream_body("", "9 0 obj\n<< /Type /XRef /Encrypt 4 0 R /Length 0 >>\nstream\n\nendstream\nendobj\n")}},
       ""}},
     false},
    {"encrypt_in_a_stream_that_is_not_xref",
     {{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}, {4, stream_body("/Type /XRefs /Encrypt 9 0 R", "x")}}, ""}},
     false},
};

void PrintTo(const xref_stream_case &c, std::ostream *os) { *os << c.name; }

class XrefStream : public ::testing::TestWithParam<xref_stream_case> {};

TEST_P(XrefStream, EncryptNamedInAnyRevisionRefusesTheFile) {
    std::string in = temp_path("xrefstm.pdf"), out = temp_path("out.pdf");
    write_file(in, xref_stream_file(GetParam().revisions));
    int ok = dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0);
    if (GetParam().refused) {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(std::string(dedediruzurud_last_error()), "encrypted PDFs are not supported: " + in);
        EXPECT_FALSE(file_exists(out));
    } else {
        EXPECT_EQ(ok, 1) << dedediruzurud_last_error();
        EXPECT_TRUE(file_exists(out));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, XrefStream, ::testing::ValuesIn(k_xref_stream_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// The document information's number: the newest trailer that names one,
// classic or cross-reference stream; with a broken chain, the last classic
// trailer in the file.
std::string updated_with(const std::string &base, const std::string &object, const std::string &trailer) {
    size_t prev = base.rfind("\nxref\n") + 1;
    std::string update = object + "xref\n0 0\ntrailer\n<< /Root 1 0 R /Prev " + std::to_string(prev) + trailer +
                         " >>\nstartxref\n";
    return base + update + std::to_string(base.size() + update.find("xref")) + "\n%%EOF\n";
}

const std::string INFO4 = "<< /Title (four) >>";
const std::string BASE_WITH_INFO = make_pdf({CATALOG, PAGES1, PAGE, INFO4}, 1, " /Info 4 0 R");

struct info_case {
    const char *name;
    std::string file;
    int32_t info;
};

const info_case k_info_cases[] = {
    {"classic", BASE_WITH_INFO, 4},
    {"none", make_pdf({CATALOG, PAGES1, PAGE}), -1},
    {"not_a_reference", make_pdf({CATALOG, PAGES1, PAGE}, 1, " /Info (x)"), -1},
    {"newer_trailer_wins", updated_with(BASE_WITH_INFO, "5 0 obj\n<< /Title (five) >>\nendobj\n", " /Info 5 0 R"), 5},
    {"newer_trailer_without_keeps_older", updated_with(BASE_WITH_INFO, "", ""), 4},
    {"broken_startxref_last_trailer",
     [] {
         std::string f = BASE_WITH_INFO;
         f.replace(f.rfind("startxref\n") + 10, 1, "9");  // the offset now points elsewhere
         return f;
     }(),
     4},
    {"xref_stream", xref_stream_file({{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}, {4, INFO4}}, " /Info 4 0 R"}}), 4},
    {"xref_stream_newest_revision",
     xref_stream_file({{{{1, CATALOG}, {2, PAGES1}, {3, PAGE}, {4, INFO4}}, " /Info 4 0 R"},
                       {{{6, "<< /Title (six) >>"}}, " /Info 6 0 R"}}),
     6},
};

void PrintTo(const info_case &c, std::ostream *os) { *os << c.name; }

class TrailerInfo : public ::testing::TestWithParam<info_case> {};

TEST_P(TrailerInfo, NumberOfTheNewestInformation) {
    doc_holder h;
    std::string msg;
    ASSERT_EQ(load_bytes(GetParam().file, &h.doc, &msg), 0) << msg;
    EXPECT_EQ(h.doc.info, GetParam().info);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrailerInfo, ::testing::ValuesIn(k_info_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Every corpus file that is not encrypted loads with pdfinfo's page count.
TEST(Load, CorpusPageCounts) {
    std::string manifest = read_file(corpus_file("MANIFEST.tsv"));
    size_t pos = manifest.find('\n') + 1;
    int files = 0;
    while (pos < manifest.size()) {
        size_t eol = manifest.find('\n', pos);
        std::string line = manifest.substr(pos, eol - pos);
        pos = eol == std::string::npos ? manifest.size() : eol + 1;
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1),
               t4 = line.find('\t', t3 + 1), t5 = line.find('\t', t4 + 1);
        std::string name = line.substr(0, t1);
        int pages = std::stoi(line.substr(t1 + 1, t2 - t1 - 1));
        std::string expect = line.substr(t4 + 1, t5 - t4 - 1);
        pdfp_doc doc{};
        g_captured.clear();
        int r = pdfp_doc_load(corpus_file(name).c_str(), &doc, capture_report);
        if (expect == "refused-encrypted") {
            EXPECT_EQ(r, -1) << name;
            EXPECT_EQ(g_captured, "encrypted PDFs are not supported: " + corpus_file(name));
        } else {
            EXPECT_EQ(r, 0) << name << ": " << g_captured;
            EXPECT_EQ(doc.pages.count, pages) << name;
        }
        pdfp_doc_free(&doc);
        ++files;
    }
    EXPECT_GE(files, 30);
}

}  // namespace
