// The numbered document: exact bytes of the output, page wrapping per
// rotation and box, the argument checks and page selections of the three
// entry points, and what a failure does (and does not do) to the output file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../fuzz/harness.h"
#include "dedediruzurud_internal.h"
#include "dedediruzurud/emitter.h"
#include "writer_support.h"

namespace {

const std::string kLabel3 = "BT\n/PN 12 Tf\n0 0 0 rg\n302.6640 21.2400 Td\n(3) Tj\nET\n";

// The whole file for a one-page 612 x 792 document drawing "0 0 m 10 10 l S"
// without resources, labelled "3": pieces in file order, offsets summed up.
std::string expected_one_page() {
    std::vector<std::string> objs = {
        "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n",
        "2 0 obj\n<< /Type /Pages /Count 1 /Kids [3 0 R]>>\nendobj\n",
        "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources <</Font <</PN 6 0 R>> "
        "/XObject <</Fm1 4 0 R>>>> /Contents 5 0 R >>\nendobj\n",
        "4 0 obj\n<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 15 >> stream\n"
        "0 0 m 10 10 l S\nendstream\nendobj\n",
        "5 0 obj\n<< /Length " + std::to_string(12 + kLabel3.size()) + " >> stream\nq /Fm1 Do Q\n" + kLabel3 +
            "endstream\nendobj\n",
        "6 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj\n"};
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::string xref = "xref\n0 7\n0000000000 65535 f \n";
    for (const auto &o : objs) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", out.size());
        xref += line;
        out += o;
    }
    size_t x = out.size();
    return out + xref + "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref " + std::to_string(x) + "\n%%EOF\n";
}

TEST(Output, OnePageWithoutResourcesByteForByte) {
    std::string out = number_all(simple_pdf(1), "{n}", 0, 12, 3);
    EXPECT_EQ(out, expected_one_page());
    EXPECT_EQ(xref_offsets(out).at(1), 15);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Output, EveryXrefEntryNamesItsObject) {
    std::string out = number_all(simple_pdf(3));
    std::vector<long> offs = xref_offsets(out);
    ASSERT_EQ(offs.size(), 3u * 3 + 3 + 1);  // catalog, tree, 3 triples, font, entry 0
    for (size_t k = 1; k < offs.size(); ++k) EXPECT_NE(object_at(out, static_cast<int>(k)), "") << k;
    EXPECT_EQ(object_at(out, 2), "2 0 obj\n<< /Type /Pages /Count 3 /Kids [3 0 R 6 0 R 9 0 R]>>\nendobj\n");
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// ---------------------------------------------------------------------------
// Page wrapping: the frame and the form's matrix per rotation and box.
// ---------------------------------------------------------------------------

struct wrap_case {
    const char *name;
    const char *box;       // the page's /MediaBox
    const char *rotate;    // the page's own /Rotate entry, or ""
    const char *pages;     // entries of the Pages node, or ""
    const char *media;     // expected /MediaBox of the new page
    const char *bbox_etc;  // expected form header from /BBox up to /Length
};

const wrap_case kWrapCases[] = {
    {"r0", "0 0 612 792", "", "", "0 0 612 792", "/BBox [0 0 612 792] /Length"},
    {"r90", "0 0 612 792", "/Rotate 90", "", "0 0 792 612", "/BBox [0 0 612 792] /Matrix [0 -1 1 0 0 612] /Length"},
    {"r180", "0 0 612 792", "/Rotate 180", "", "0 0 612 792",
     "/BBox [0 0 612 792] /Matrix [-1 0 0 -1 612 792] /Length"},
    {"r270", "0 0 612 792", "/Rotate 270", "", "0 0 792 612", "/BBox [0 0 612 792] /Matrix [0 1 -1 0 792 0] /Length"},
    {"own450", "0 0 612 792", "/Rotate 450", "", "0 0 792 612",
     "/BBox [0 0 612 792] /Matrix [0 -1 1 0 0 612] /Length"},
    {"ownMinus90", "0 0 612 792", "/Rotate -90", "", "0 0 792 612",
     "/BBox [0 0 612 792] /Matrix [0 1 -1 0 792 0] /Length"},
    {"r45", "0 0 612 792", "/Rotate 45", "", "0 0 612 792", "/BBox [0 0 612 792] /Length"},
    {"inherited90", "0 0 612 792", "", " /Rotate 90", "0 0 792 612",
     "/BBox [0 0 612 792] /Matrix [0 -1 1 0 0 612] /Length"},
    {"ownZeroBeatsInherited", "0 0 612 792", "/Rotate 0", " /Rotate 90", "0 0 612 792", "/BBox [0 0 612 792] /Length"},
    {"offset0", "10 20 600 800", "", "", "0 0 590 780", "/BBox [10 20 600 800] /Matrix [1 0 0 1 -10 -20] /Length"},
    {"offset90", "10 20 600 800", "/Rotate 90", "", "0 0 780 590",
     "/BBox [10 20 600 800] /Matrix [0 -1 1 0 -20 600] /Length"},
    {"offset180", "10 20 600 800", "/Rotate 180", "", "0 0 590 780",
     "/BBox [10 20 600 800] /Matrix [-1 0 0 -1 600 800] /Length"},
    {"offset270", "10 20 600 800", "/Rotate 270", "", "0 0 780 590",
     "/BBox [10 20 600 800] /Matrix [0 1 -1 0 800 -10] /Length"},
    {"offset45", "10 20 600 800", "/Rotate 45", "", "0 0 590 780",
     "/BBox [10 20 600 800] /Matrix [1 0 0 1 -10 -20] /Length"},
    {"negativeCorner", "-10 -20 600 800", "", "", "0 0 610 820",
     "/BBox [-10 -20 600 800] /Matrix [1 0 0 1 10 20] /Length"},
    {"onlyLowerLeftY", "0 20 612 792", "", "", "0 0 612 772", "/BBox [0 20 612 792] /Matrix [1 0 0 1 0 -20] /Length"},
    {"fractions", "0 0 595.28 841.89", "", "", "0 0 595.2800 841.8900", "/BBox [0 0 595.2800 841.8900] /Length"},
};

class Wrap : public ::testing::TestWithParam<wrap_case> {};

TEST_P(Wrap, FrameAndMatrix) {
    const wrap_case &c = GetParam();
    std::string page = std::string("/MediaBox [") + c.box + "] " + c.rotate + " /Contents 4 0 R";
    std::string out = number_all(pages_pdf({page}, {stream_body("", "0 0 m 1 1 l S")}, c.pages));
    ASSERT_NE(out, "") << dedediruzurud_last_error();
    EXPECT_NE(object_at(out, 3).find(std::string("/MediaBox [") + c.media + "] /Resources"), std::string::npos)
        << object_at(out, 3);
    std::string form = "4 0 obj\n<< /Type /XObject /Subtype /Form " + std::string(c.bbox_etc) + " 13 >> stream\n";
    EXPECT_EQ(object_at(out, 4).rfind(form, 0), 0u) << object_at(out, 4);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

INSTANTIATE_TEST_SUITE_P(Boxes, Wrap, ::testing::ValuesIn(kWrapCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Shown by a viewer, the new page looks like the input page, whatever its
// rotation and wherever its box lies.
TEST(Wrap, RendersLikeTheInputPage) {
    if (!have_tool("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
    struct box {
        int a, b, c, d;
        const char *crop;  // a /CropBox inside a larger /MediaBox, or ""
    } boxes[] = {{0, 0, 400, 600, ""}, {50, 80, 450, 680, ""}, {-30, -40, 370, 560, ""},
                 {50, 80, 450, 680, "/MediaBox [0 0 612 792] /CropBox [50 80 450 680]"}};
    for (int rot : {0, 90, 180, 270, -90}) {
        for (const box &x : boxes) {
            // Two rectangles of different colours near opposite corners.
            std::string content = "0.2 0.4 0.8 rg " + std::to_string(x.a + 20) + " " + std::to_string(x.b + 20) +
                                  " 120 60 re f 0.8 0 0 rg " + std::to_string(x.c - 80) + " " +
                                  std::to_string(x.d - 150) + " 60 130 re f";
            std::string boxes_text = *x.crop ? std::string(x.crop)
                                             : "/MediaBox [" + std::to_string(x.a) + " " + std::to_string(x.b) + " " +
                                                   std::to_string(x.c) + " " + std::to_string(x.d) + "]";
            std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
            write_file(in, pages_pdf({boxes_text + " /Rotate " + std::to_string(rot) + " /Contents 4 0 R"},
                                     {stream_body("", content)}));
            ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, " ", 12, 1, 0, 0, 0), 1);
            EXPECT_LT(differing_share(render(in, 1, true, 24), render(out, 1, false, 24)), 0.005)
                << "rotate " << rot << " box " << boxes_text;
        }
    }
}

// A page's resources go into its form whole; without any the form has none.
TEST(Wrap, ResourcesTextInFormDictionary) {
    std::string big = "<< /ExtGState << ";
    for (int k = 0; k < 400; ++k) big += "/G" + std::to_string(k) + " << /CA 0.5 >> ";
    big += ">> >>";
    std::string out = number_all(pages_pdf({"/MediaBox [0 0 200 200] /Contents 5 0 R /Resources " + big,
                                            "/MediaBox [0 0 200 200] /Contents 5 0 R"},
                                           {stream_body("", "q Q")}));
    ASSERT_NE(out, "");
    EXPECT_NE(object_at(out, 4).find("/Length 3 /Resources " + big + " >> stream\nq Q\nendstream"), std::string::npos);
    EXPECT_NE(object_at(out, 7).find("/Length 3 >> stream\nq Q\nendstream"), std::string::npos);
}

// No /Contents, /Contents null and /Contents [] are blank pages.
TEST(Wrap, PagesWithoutContentAreEmptyForms) {
    for (const char *contents : {"", "/Contents null", "/Contents []"}) {
        std::string out = number_all(pages_pdf({std::string("/MediaBox [0 0 300 300] ") + contents}));
        ASSERT_NE(out, "") << contents << ": " << dedediruzurud_last_error();
        EXPECT_EQ(object_at(out, 4),
                  "4 0 obj\n<< /Type /XObject /Subtype /Form /BBox [0 0 300 300] /Length 0 >> stream\n"
                  "\nendstream\nendobj\n")
            << contents;
        EXPECT_EQ(qpdf_problems_bytes(out), "") << contents;
    }
}

// One content stream goes into the form as it is stored, filter and all.
TEST(Wrap, ContentCarriedIntoTheForm) {
    std::string data = "BT /F1 9 Tf 72 72 Td (compressed) Tj ET";
    std::string z = zlib_compress(data);
    std::string out = number_all(pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R"},
                                           {stream_body("/Filter /FlateDecode", z)}));
    ASSERT_NE(out, "");
    EXPECT_NE(object_at(out, 4).find("/Length " + std::to_string(z.size()) + " /Filter /FlateDecode >> stream\n" + z +
                                     "\nendstream"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Page selection and argument checks through the entry points.
// ---------------------------------------------------------------------------

struct file_pair {
    std::string in = temp_path("in.pdf");
    std::string out = temp_path("out.pdf");
    explicit file_pair(const std::string &bytes) { write_file(in, bytes); }
};

// The label of page index i (its content stream), or "" when unlabelled.
std::string label_of(const std::string &out, int i) {
    std::string c = object_at(out, 5 + 3 * i);
    size_t t = c.find(") Tj");
    size_t o = c.rfind('(', t);
    return t == std::string::npos ? "" : c.substr(o + 1, t - o - 1);
}

std::vector<std::string> labels(const std::string &out, int pages) {
    std::vector<std::string> v;
    for (int i = 0; i < pages; ++i) v.push_back(label_of(out, i));
    return v;
}

using strings = std::vector<std::string>;

struct select_case {
    const char *name;
    int fn;  // 0 add, 1 range, 2 skip
    int a, b, first;
    strings labels;
};

const select_case kSelectCases[] = {
    {"addAll", 0, 0, 0, 1, {"1", "2", "3", "4", "5"}},
    {"addFromZero", 0, 0, 0, 0, {"0", "1", "2", "3", "4"}},
    {"addFromMinus5", 0, 0, 0, -5, {"-5", "-4", "-3", "-2", "-1"}},
    {"rangeMiddle", 1, 2, 3, 1, {"", "1", "2", "", ""}},
    {"rangeStartZero", 1, 0, 2, 7, {"7", "8", "", "", ""}},
    {"rangeStartNegative", 1, -4, 1, 1, {"1", "", "", "", ""}},
    {"rangeEndBeyond", 1, 4, 99, 10, {"", "", "", "10", "11"}},
    {"skipFour", 2, 4, 0, 0, {"", "", "", "", "1"}},
    {"skipNegative", 2, -3, 0, 0, {"1", "2", "3", "4", "5"}},
    {"skipNone", 2, 0, 0, 0, {"1", "2", "3", "4", "5"}},
};

class Select : public ::testing::TestWithParam<select_case> {};

TEST_P(Select, LabelsExactlyTheSelectedPages) {
    const select_case &c = GetParam();
    file_pair f(simple_pdf(5));
    const char *in = f.in.c_str(), *out = f.out.c_str();
    int ok = c.fn == 0   ? dedediruzurud_add(in, out, 0, "{n}", 12, c.first, 0, 0, 0)
             : c.fn == 1 ? dedediruzurud_range(in, out, 0, "{n}", 12, c.a, c.b, c.first, 0, 0, 0)
                         : dedediruzurud_skip(in, out, 0, "{n}", 12, c.a, 0, 0, 0);
    ASSERT_EQ(ok, 1) << dedediruzurud_last_error();
    EXPECT_STREQ(dedediruzurud_last_error(), "");
    std::string bytes = read_file(f.out);
    EXPECT_EQ(labels(bytes, 5), c.labels);
    for (int i = 0; i < 5; ++i) {
        if (c.labels[static_cast<size_t>(i)].empty()) {
            EXPECT_NE(object_at(bytes, 5 + 3 * i).find("<< /Length 12 >> stream\nq /Fm1 Do Q\nendstream"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(qpdf_problems(f.out), "");
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, Select, ::testing::ValuesIn(kSelectCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct refusal_case {
    const char *name;
    int fn;  // 0 add, 1 range, 2 skip
    int position, a, b, red, green, blue;
    const char *message;
};

const refusal_case kRefusals[] = {
    {"positionMinus1", 0, -1, 0, 0, 0, 0, 0, "position must be 0..5 (got -1)"},
    {"position6", 0, 6, 0, 0, 0, 0, 0, "position must be 0..5 (got 6)"},
    {"red256", 0, 0, 0, 0, 256, 0, 0, "colour components must be 0..255"},
    {"green256", 0, 0, 0, 0, 0, 256, 0, "colour components must be 0..255"},
    {"blueMinus1", 0, 0, 0, 0, 0, 0, -1, "colour components must be 0..255"},
    {"range7to3", 1, 0, 7, 3, 0, 0, 0, "range 7..3 is empty (document has 10 pages)"},
    {"range12to12", 1, 0, 12, 12, 0, 0, 0, "range 12..12 is empty (document has 10 pages)"},
    {"skip10", 2, 0, 10, 0, 0, 0, 0, "skip_pages 10 >= page count 10 \xE2\x80\x94 nothing to number"},
    {"skip11", 2, 0, 11, 0, 0, 0, 0, "skip_pages 11 >= page count 10 \xE2\x80\x94 nothing to number"},
};

class Refusal : public ::testing::TestWithParam<refusal_case> {};

// Every refusal has its message, and the output is neither created nor touched.
TEST_P(Refusal, MessageAndNoOutput) {
    const refusal_case &c = GetParam();
    file_pair f(simple_pdf(10));
    for (bool existing : {false, true}) {
        if (existing) write_file(f.out, "previous bytes");
        const char *in = f.in.c_str(), *out = f.out.c_str();
        int ok = c.fn == 0   ? dedediruzurud_add(in, out, c.position, "{n}", 12, 1, c.red, c.green, c.blue)
                 : c.fn == 1 ? dedediruzurud_range(in, out, c.position, "{n}", 12, c.a, c.b, 1, c.red, c.green, c.blue)
                             : dedediruzurud_skip(in, out, c.position, "{n}", 12, c.a, c.red, c.green, c.blue);
        EXPECT_EQ(ok, 0);
        EXPECT_STREQ(dedediruzurud_last_error(), c.message);
        if (existing)
            EXPECT_EQ(read_file(f.out), "previous bytes");
        else
            EXPECT_FALSE(file_exists(f.out));
    }
}

INSTANTIATE_TEST_SUITE_P(Arguments, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Arguments, FontSizeZeroIsTwelveAndLargeIsCapped) {
    for (auto [given, written] : {std::pair{0, "/PN 12 Tf"}, {-4, "/PN 12 Tf"}, {500, "/PN 300 Tf"}, {9, "/PN 9 Tf"}}) {
        std::string out = number_all(simple_pdf(1, 2000, 2000), "{n}", 0, given);
        EXPECT_NE(object_at(out, 5).find(written), std::string::npos) << given;
    }
}

// The writer's own checks, for callers other than the three entry points.
class WriterDirect : public ::testing::Test {
protected:
    void SetUp() override {
        std::string msg;
        ASSERT_EQ(load_bytes(simple_pdf(4), &doc, &msg), 0) << msg;
    }
    void TearDown() override { pdfp_doc_free(&doc); }
    pdfp_doc doc{};
    const label_look look{0, nullptr, 12, 0, 0, 0};
};

page_selection pages(int first_index, int last_index) { return {first_index, last_index, 1, -1}; }

TEST_F(WriterDirect, IndexesAreClampedToTheDocument) {
    std::string out = temp_path("clamped.pdf");
    const page_selection sel = pages(-3, 1000);
    ASSERT_EQ(numbered_doc(&doc, out.c_str(), &look, &sel), 1);
    EXPECT_EQ(labels(read_file(out), 4), (strings{"1", "2", "3", "4"}));
}

TEST_F(WriterDirect, ItsOwnMessages) {
    const page_selection all = pages(0, 3), reversed = pages(3, 1), none = pages(0, 0);
    EXPECT_EQ(numbered_doc(&doc, nullptr, &look, &all), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "NULL output path");
    std::string out = temp_path("never.pdf");
    EXPECT_EQ(numbered_doc(&doc, out.c_str(), &look, &reversed), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "empty page range (start 4 > end 2 of 4)");
    pdfp_doc empty = doc;
    empty.pages.count = 0;
    EXPECT_EQ(numbered_doc(&empty, out.c_str(), &look, &none), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "document has no pages");
    EXPECT_FALSE(file_exists(out));
}

TEST_F(WriterDirect, BuildTouchesNoFileAndFreesOnFailure) {
    pdfp_buf buf{};
    const label_look left{2, "p{n}", 10, 1, 2, 3}, bad_position{9, nullptr, 10, 0, 0, 0};
    const page_selection all = pages(0, 3);
    ASSERT_EQ(numbered_doc_build(&doc, &buf, &left, &all), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf.data), 9), "%PDF-1.4\n");
    pdfp_buf_free(&buf);
    EXPECT_EQ(numbered_doc_build(&doc, &buf, &bad_position, &all), 0);
    EXPECT_EQ(buf.data, nullptr);
}

// Written in pieces as it is made, the file holds the bytes of the image
// made whole in memory: packed objects, stream data long enough to go
// straight from the input, and sealed objects of encrypted inputs across
// the pieces (a big file encrypted by qpdf for the test).
struct streamed_case {
    const char *name;
    const char *file;
    const char *qpdf_encrypt;  // null: the corpus file as it is
};
void PrintTo(const streamed_case &c, std::ostream *os) { *os << c.name; }
class Streamed : public ::testing::TestWithParam<streamed_case> {};

TEST_P(Streamed, FileHoldsTheImageMadeInMemory) {
    const streamed_case &c = GetParam();
    std::string in = corpus_file(c.file);
    if (c.qpdf_encrypt) {
        if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf makes the encrypted input";
        in = temp_path(std::string(c.name) + ".pdf");
        ASSERT_EQ(run_command("qpdf --allow-weak-crypto --encrypt '' owner " + std::string(c.qpdf_encrypt) + " -- " +
                              corpus_file(c.file) + " " + in), 0);
    }
    std::string msg;
    pdfp_doc doc{};
    ASSERT_EQ(load_bytes(read_file(in), &doc, &msg), 0) << msg;
    const label_look look{2, "Page {n} of {total}", 10, 0, 0, 0};
    const page_selection all = pages(0, doc.pages.count - 1);
    std::string out = temp_path(std::string(c.name) + "-out.pdf");
    pdfp_buf image{};
    EXPECT_EQ(numbered_doc(&doc, out.c_str(), &look, &all), 1);
    EXPECT_EQ(numbered_doc_build(&doc, &image, &look, &all), 1);
    EXPECT_GT(image.len, 300000u);  // more than one piece
    EXPECT_TRUE(read_file(out) == std::string(reinterpret_cast<const char *>(image.data), image.len));
    pdfp_buf_free(&image);
    pdfp_doc_free(&doc);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, Streamed,
    ::testing::Values(streamed_case{"images", "quartz-appendmode-felsen.pdf", nullptr},
                      streamed_case{"packed", "variant-objstm-reportlab-userguide.pdf", nullptr},
                      streamed_case{"aes256", "quartz-appendmode-felsen.pdf", "256"},
                      streamed_case{"rc4_packed", "variant-objstm-reportlab-userguide.pdf", "128 --use-aes=n"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Failures of the build and of the write.
// ---------------------------------------------------------------------------

const char *kFallback = MSG_DAMAGED;

TEST(Failure, DamagedPagesFailWithTheFallbackMessage) {
    const std::vector<std::string> damaged = {
        simple_pdf(2, 20, 792),                                   // too narrow for the label's margins
        pages_pdf({"/MediaBox [0 0 300 300] /Contents 9 0 R"}),    // content object missing
    };
    for (const auto &bytes : damaged) {
        file_pair f(bytes);
        set_error("an older message");  // not this call's: the fallback must still come
        EXPECT_EQ(dedediruzurud_add(f.in.c_str(), f.out.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
        EXPECT_STREQ(dedediruzurud_last_error(), kFallback);
        EXPECT_FALSE(file_exists(f.out));
    }
}

TEST(Failure, MissingDirectory) {
    file_pair f(simple_pdf(1));
    std::string out = temp_path("no-such-dir") + "/out.pdf";
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), out.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(std::string(dedediruzurud_last_error()), "cannot write " + out);
}

TEST(Failure, ReadOnlyLocations) {
    file_pair f(simple_pdf(1));
    // /proc takes no new files, whoever we are.
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), "/proc/dedediruzurud-out.pdf", 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_STREQ(dedediruzurud_last_error(), "cannot write /proc/dedediruzurud-out.pdf");
    // An output that is a directory is not replaced.
    std::string dir = fresh_dir("a-directory");
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), dir.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(std::string(dedediruzurud_last_error()), "cannot write " + dir);
}

TEST(Failure, PermissionBits) {
    if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    file_pair f(simple_pdf(1));
    std::string ro = fresh_dir("read-only");
    chmod(ro.c_str(), 0555);
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), (ro + "/out.pdf").c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(std::string(dedediruzurud_last_error()), "cannot write " + ro + "/out.pdf");
    std::string rw = fresh_dir("read-only-file");
    write_file(rw + "/out.pdf", "keep");
    chmod((rw + "/out.pdf").c_str(), 0444);
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), (rw + "/out.pdf").c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(read_file(rw + "/out.pdf"), "keep");
}

TEST(Failure, NumberingAFileOntoItself) {
    std::string dir = fresh_dir("self");
    std::string path = dir + "/doc.pdf";
    std::string original = simple_pdf(2);
    write_file(path, original);
    // A failing call leaves the input as it was.
    EXPECT_EQ(dedediruzurud_add(path.c_str(), path.c_str(), 7, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(read_file(path), original);
    write_file(path, simple_pdf(2, 20, 20));
    EXPECT_EQ(dedediruzurud_add(path.c_str(), path.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 0);
    EXPECT_EQ(read_file(path), simple_pdf(2, 20, 20));
    // A successful one replaces it with the numbered copy, and leaves nothing else.
    write_file(path, original);
    ASSERT_EQ(dedediruzurud_add(path.c_str(), path.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 1);
    EXPECT_EQ(labels(read_file(path), 2), (strings{"1", "2"}));
    EXPECT_EQ(qpdf_problems(path), "");
    EXPECT_EQ(dir_entries(dir), strings{"doc.pdf"});
}

TEST(Failure, SuccessAfterFailureClearsTheMessage) {
    file_pair f(simple_pdf(1));
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), f.out.c_str(), 0, nullptr, 12, 1, 0, 0, 300), 0);
    EXPECT_EQ(dedediruzurud_add(f.in.c_str(), f.out.c_str(), 0, nullptr, 12, 1, 0, 0, 0), 1);
    EXPECT_STREQ(dedediruzurud_last_error(), "");
}

// Offsets are 32-bit: an output may not grow past 2^31 - 1 bytes. Shown on
// the buffer with a small limit, since a real 2 GiB output is too big for a test.
TEST(Failure, OutputPastTheLimitFailsForGood) {
    pdfp_buf b{};
    out_buf o{&b, false, 10};
    out_str(&o, "0123456789");
    EXPECT_FALSE(o.failed);
    out_str(&o, "x");
    EXPECT_TRUE(o.failed);
    out_str(&o, "");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data), b.len), "0123456789");
    pdfp_buf_free(&b);
    EXPECT_EQ(MAX_FILE_BYTES, 2147483647);
}

// ---------------------------------------------------------------------------
// Object streams in, object streams out; a classic file stays classic.
// ---------------------------------------------------------------------------

std::string indirect(int num, const std::string &body) {
    return std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
}

// n pages of 200 x 200 whose catalog, page tree and page objects stand in
// one Flate object stream; page i draws its own content stream. With
// big_len, every page's resources name one plain object of about that size.
std::string packed_input(int n, size_t big_len = 0) {
    int content0 = 3 + n, big = content0 + n, container = big + 1;
    std::vector<std::pair<int, std::string>> texts = {{1, "<< /Type /Catalog /Pages 2 0 R >>"}};
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(3 + i) + " 0 R ";
    texts.push_back({2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>"});
    std::string res = big_len ? " /Resources << /ExtGState << /G " + std::to_string(big) + " 0 R >> >>" : "";
    for (int i = 0; i < n; ++i)
        texts.push_back({3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents " +
                                    std::to_string(content0 + i) + " 0 R" + res + " >>"});
    std::string head, body;
    for (const auto &[num, text] : texts) {
        head += std::to_string(num) + " " + std::to_string(body.size()) + " ";
        body += text + "\n";
    }
    std::string out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    for (int i = 0; i < n; ++i) out += indirect(content0 + i, stream_body("", "0 0 m 150 150 l S"));
    if (big_len) out += indirect(big, "<< /Type /ExtGState /LW 3 /Note (" + std::string(big_len, 'x') + ") >>");
    out += indirect(container, stream_body("/Type /ObjStm /N " + std::to_string(texts.size()) + " /First " +
                                               std::to_string(head.size()) + " /Filter /FlateDecode",
                                           zlib_compress(head + body)));
    return out + "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
}

// qpdf --show-xref: how many objects are packed, and into how many streams.
void packed_counts(const std::string &path, int *objects, int *streams) {
    std::string xref;
    run_command("qpdf --show-xref '" + path + "' 2>/dev/null", &xref);
    *objects = count_of(xref, "compressed; stream = ");
    std::vector<std::string> seen;
    for (size_t p = xref.find("; stream = "); p != std::string::npos; p = xref.find("; stream = ", p + 1)) {
        std::string s = xref.substr(p + 11, xref.find(',', p) - p - 11);
        if (std::find(seen.begin(), seen.end(), s) == seen.end()) seen.push_back(s);
    }
    *streams = static_cast<int>(seen.size());
}

int reloaded_pages(const std::string &pdf) {
    pdfp_doc doc;
    int pages = load_bytes(pdf, &doc) == 0 ? doc.pages.count : -1;
    pdfp_doc_free(&doc);
    return pages;
}

TEST(Packed, ManyPagesGoIntoSeveralObjectStreamsEveryReaderFollows) {
    const int n = 450;
    std::string out = number_all(packed_input(n));
    ASSERT_NE(out, "");
    EXPECT_EQ(out.substr(0, 9), "%PDF-1.5\n");
    EXPECT_EQ(out.find("\nxref\n"), std::string::npos);
    EXPECT_EQ(fuzz::check_output(reinterpret_cast<const unsigned char *>(out.data()), out.size(), n), "");
    EXPECT_EQ(reloaded_pages(out), n);
    std::string path = temp_path("packed.pdf");
    write_file(path, out);
    EXPECT_EQ(qpdf_problems(path), "");
    if (!have_tool("qpdf") || !have_tool("pdftotext")) return;
    int objects = 0, streams = 0;
    packed_counts(path, &objects, &streams);
    EXPECT_EQ(objects, n + 3);  // catalog, tree, pages, font
    EXPECT_GE(streams, 3);
    std::vector<std::string> texts = page_texts(path);
    ASSERT_EQ(texts.size(), static_cast<size_t>(n));
    EXPECT_NE(texts[n - 1].find("450"), std::string::npos);
}

// Readers bound one packed object's text, so a longer one is written plainly.
TEST(Packed, AnObjectTooLongToPackStandsInTheFile) {
    std::string out = number_all(packed_input(2, 1200 * 1000));
    ASSERT_NE(out, "");
    EXPECT_EQ(fuzz::check_output(reinterpret_cast<const unsigned char *>(out.data()), out.size(), 2), "");
    EXPECT_EQ(reloaded_pages(out), 2);
    size_t at = out.find(" 0 obj\n<< /Type /ExtGState /LW 3 /Note (xxx");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(out.compare(at - 2, 2, "\n9"), 0);  // output 9: after 2 pages' triples
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

struct layout_case {
    const char *file;
    bool packed;  // the input keeps objects in object streams
};

const layout_case kLayouts[] = {
    {"pdftex-R-intro.pdf", true},          {"xdvipdfmx-dblatex-amc.pdf", true},
    {"variant-linearized-amc.pdf", true},  {"variant-objstm-reportlab-userguide.pdf", true},
    {"reportlab-userguide.pdf", false},    {"variant-qdf-uncompressed-article.pdf", false},
    {"quartz-appendmode-felsen.pdf", false},
};

class Layout : public ::testing::TestWithParam<layout_case> {};

TEST_P(Layout, FollowsTheInputs) {
    const layout_case &c = GetParam();
    std::string in = read_file(corpus_file(c.file));
    int pages = reloaded_pages(in);
    ASSERT_GT(pages, 0);
    std::string out = number_all(in);
    ASSERT_NE(out, "");
    EXPECT_EQ(out.substr(0, 9), c.packed ? "%PDF-1.5\n" : "%PDF-1.4\n");
    EXPECT_EQ(out.find("\nxref\n0 ") == std::string::npos, c.packed);
    EXPECT_EQ(fuzz::check_output(reinterpret_cast<const unsigned char *>(out.data()), out.size(), pages), "");
    EXPECT_EQ(reloaded_pages(out), pages);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, Layout, ::testing::ValuesIn(kLayouts),
                         [](const auto &info) {
                             std::string n = info.param.file;
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace
