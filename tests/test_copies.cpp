// The copies of the objects that pages' resources need: which objects are
// copied, in which order and under which numbers, how each kind of object
// is written, and that references inside the copies follow them. Then the
// corpus: real files number, check clean, and look as they did.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../fuzz/harness.h"
#include "writer_support.h"

namespace {

using strings = std::vector<std::string>;

// Bodies for objects first .. last (first follows the page objects of
// pages_pdf): "null" fillers, so that chosen numbers get real objects with at().
struct more_objects {
    int first;
    strings bodies;
    more_objects(int first_num, int last_num)
        : first(first_num), bodies(static_cast<size_t>(last_num - first_num + 1), "null") {}
    more_objects &at(int num, const std::string &body) {
        bodies[static_cast<size_t>(num - first)] = body;
        return *this;
    }
};

std::string font_dict(const std::string &name) {
    return "<< /Type /Font /Subtype /Type1 /BaseFont /" + name + " >>";
}

// The copied object's text between its header and "endobj".
std::string body_of(const std::string &pdf, int num) {
    std::string o = object_at(pdf, num);
    std::string head = std::to_string(num) + " 0 obj\n";
    return o.empty() ? "" : o.substr(head.size(), o.size() - head.size() - 7);
}

int font_number(const std::string &pdf) { return static_cast<int>(xref_offsets(pdf).size()) - 1; }

TEST(Copies, OneFontBecomesObjectSix) {
    std::string in = pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /Font << /F1 12 0 R >> >>"},
                               more_objects(4, 12).at(4, stream_body("", "q Q")).at(12, font_dict("Times-Roman")).bodies);
    std::string out = number_all(in);
    EXPECT_EQ(object_at(out, 6), "6 0 obj\n" + font_dict("Times-Roman") + "\nendobj\n");
    EXPECT_NE(object_at(out, 4).find("/Resources << /Font << /F1 6 0 R >> >> >> stream"), std::string::npos);
    EXPECT_NE(object_at(out, 3).find("/PN 7 0 R"), std::string::npos);
    EXPECT_EQ(font_number(out), 7);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Copies, TwoPagesShareOneCopy) {
    // Each page its own content, or the two would share one form as well.
    std::string res = " /MediaBox [0 0 300 300] /Resources << /Font << /F1 6 0 R >> >>";
    std::string out = number_all(pages_pdf({"/Contents 5 0 R" + res, "/Contents 7 0 R" + res},
                                           {stream_body("", "q Q"), font_dict("Helvetica-Bold"), stream_body("", "Q q")}));
    EXPECT_EQ(font_number(out), 10);  // pages 3, 6; forms 4, 7; contents 5, 8; copy 9
    EXPECT_EQ(body_of(out, 9), font_dict("Helvetica-Bold") + "\n");
    EXPECT_NE(object_at(out, 4).find("/F1 9 0 R"), std::string::npos);
    EXPECT_NE(object_at(out, 7).find("/F1 9 0 R"), std::string::npos);
}

TEST(Copies, NoReferencesNoCopies) {
    std::string out = number_all(pages_pdf({"/MediaBox [0 0 300 300] /Resources << /ProcSet [/PDF] >>"}));
    EXPECT_EQ(font_number(out), 6);
    std::vector<long> offs = xref_offsets(out);
    EXPECT_EQ(offs[6], offs[5] + static_cast<long>(object_at(out, 5).size()));
}

// A stream is copied with its dictionary (/Filter and /Length included)
// and its encoded bytes unchanged.
TEST(Copies, StreamKeepsEncodedBytes) {
    std::string pixels = zlib_compress(std::string("\x00\xff\xff\x00", 4));
    std::string image = stream_body(
        "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8 "
        "/Filter /FlateDecode",
        pixels);
    std::string out = number_all(
        pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /XObject << /Im1 5 0 R >> >>"},
                  {stream_body("", "q 100 0 0 100 0 0 cm /Im1 Do Q"), image}));
    EXPECT_EQ(object_at(out, 6), "6 0 obj\n" + image + "\nendobj\n");
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// An object from an object stream is written as a plain object.
TEST(Copies, ObjectStreamObjectKeepsItsText) {
    std::string font = font_dict("Courier");
    std::string objstm = stream_body("/Type /ObjStm /N 1 /First 6", "40 0 \n" + font);
    std::string out = number_all(
        pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /Font << /F1 40 0 R >> >>"},
                  {stream_body("", "q Q"), objstm}));
    ASSERT_NE(out, "") << dedediruzurud_last_error();
    // The input kept objects in a stream, so the output packs them too.
    EXPECT_EQ(fuzz::packed_object_text(out, 6), font + "\n");
}

TEST(Copies, EveryReferenceOfAPageNoLimit) {
    std::string res = "/MediaBox [0 0 300 300] /Resources << /ExtGState << ";
    more_objects more(4, 23);
    for (int k = 0; k < 20; ++k) {
        res += "/G" + std::to_string(k) + " " + std::to_string(4 + k) + " 0 R ";
        more.at(4 + k, "<< /Type /ExtGState /LW " + std::to_string(k) + " >>");
    }
    std::string out = number_all(pages_pdf({res + ">> >>"}, more.bodies));
    EXPECT_EQ(font_number(out), 6 + 20);
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(body_of(out, 6 + k), "<< /Type /ExtGState /LW " + std::to_string(k) + " >>\n");
        EXPECT_NE(object_at(out, 4).find("/G" + std::to_string(k) + " " + std::to_string(6 + k) + " 0 R"),
                  std::string::npos);
    }
}

TEST(Copies, ThreeHundredObjectsAcrossPages) {
    strings pages;
    more_objects more(6, 305);
    for (int p = 0; p < 3; ++p) {
        std::string res = "/MediaBox [0 0 300 300] /Resources << /ExtGState << ";
        for (int k = 0; k < 100; ++k) {
            int num = 6 + 100 * p + k;
            res += "/G" + std::to_string(k) + " " + std::to_string(num) + " 0 R ";
            more.at(num, "<< /LW " + std::to_string(num) + " >>");
        }
        pages.push_back(res + ">> >>");
    }
    std::string out = number_all(pages_pdf(pages, more.bodies));
    EXPECT_EQ(font_number(out), 12 + 300);
    for (int k = 0; k < 300; ++k) EXPECT_EQ(body_of(out, 12 + k), "<< /LW " + std::to_string(6 + k) + " >>\n");
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// ---------------------------------------------------------------------------
// The closure: references inside the copies are followed and rewritten.
// ---------------------------------------------------------------------------

// Follows "/Key N 0 R" in an output object.
int ref_after(const std::string &pdf, int num, const std::string &key) {
    std::string o = object_at(pdf, num);
    size_t k = o.find("/" + key + " ");
    return k == std::string::npos ? -1 : std::atoi(o.c_str() + k + key.size() + 2);
}

TEST(Closure, FontDescriptorAndFontFile) {
    std::string file = stream_body("/Length1 9", "fontbytes");
    std::string in = pages_pdf(
        {"/MediaBox [0 0 300 300] /Resources << /Font << /F1 4 0 R >> >>"},
        {"<< /Type /Font /Subtype /TrueType /BaseFont /X /FontDescriptor 6 0 R /Widths 5 0 R >>",  // 4
         "[500 600]",                                                                              // 5
         "<< /Type /FontDescriptor /FontName /X /FontFile2 7 0 R >>",                              // 6
         file});                                                                                   // 7
    std::string out = number_all(in);
    int font = ref_after(out, 4, "F1");
    ASSERT_EQ(font, 6);
    // Discovery order: the descriptor, then the widths, then the font file.
    EXPECT_EQ(ref_after(out, font, "FontDescriptor"), 7);
    EXPECT_EQ(ref_after(out, font, "Widths"), 8);
    EXPECT_EQ(body_of(out, 8), "[500 600]\n");
    EXPECT_EQ(ref_after(out, 7, "FontFile2"), 9);
    EXPECT_EQ(object_at(out, 9), "9 0 obj\n" + file + "\nendobj\n");
    EXPECT_EQ(font_number(out), 10);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Closure, ImageSoftMaskAndFormResources) {
    std::string mask = stream_body("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                   "/BitsPerComponent 8",
                                   "\x80");
    std::string image = stream_body("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                    "/BitsPerComponent 8 /SMask 6 0 R",
                                    "\x10");
    std::string form = stream_body("/Type /XObject /Subtype /Form /BBox [0 0 10 10] "
                                   "/Resources << /Font << /F9 8 0 R >> /XObject << /I 5 0 R >> >>",
                                   "BT /F9 5 Tf (x) Tj ET /I Do");
    std::string in = pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /XObject << /Fx 7 0 R >> >>"},
                               {stream_body("", "/Fx Do"), image, mask, form, font_dict("Symbol")});
    std::string out = number_all(in);
    ASSERT_EQ(ref_after(out, 4, "Fx"), 6);
    EXPECT_EQ(ref_after(out, 6, "F9"), 7);  // the form's font, then its image
    EXPECT_EQ(ref_after(out, 6, "I"), 8);
    EXPECT_EQ(body_of(out, 7), font_dict("Symbol") + "\n");
    EXPECT_EQ(ref_after(out, 8, "SMask"), 9);
    EXPECT_NE(object_at(out, 9).find("stream\n\x80\nendstream"), std::string::npos);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Closure, IndirectLengthIsCopiedToo) {
    std::string stream = "<< /Type /XObject /Subtype /Form /BBox [0 0 5 5] /Length 5 0 R >>\nstream\n0 0 m\nendstream";
    std::string out = number_all(
        pages_pdf({"/MediaBox [0 0 300 300] /Resources << /XObject << /X 4 0 R >> >>"}, {stream, "  5 "}));
    EXPECT_EQ(ref_after(out, 6, "Length"), 7);
    EXPECT_EQ(body_of(out, 7), "5 \n");
    EXPECT_NE(object_at(out, 6).find("stream\n0 0 m\nendstream"), std::string::npos);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Closure, CycleIsCopiedOnce) {
    std::string out = number_all(pages_pdf({"/MediaBox [0 0 300 300] /Resources << /ExtGState << /A 4 0 R >> >>"},
                                           {"<< /Next 5 0 R >>", "<< /Back 4 0 R /Self 5 0 R >>"}));
    EXPECT_EQ(body_of(out, 6), "<< /Next 7 0 R >>\n");
    EXPECT_EQ(body_of(out, 7), "<< /Back 6 0 R /Self 7 0 R >>\n");
    EXPECT_EQ(font_number(out), 8);
}

TEST(Closure, MissingTargetsBecomeNullObjects) {
    std::string out = number_all(pages_pdf({"/MediaBox [0 0 300 300] /Resources << /Font << /F1 99 0 R /F2 4 0 R >> >>"},
                                           {"<< /Type /Font /FontDescriptor 77 0 R >>"}));
    EXPECT_EQ(object_at(out, 6), "6 0 obj\nnull\nendobj\n");
    EXPECT_EQ(body_of(out, 7), "<< /Type /Font /FontDescriptor 8 0 R >>\n");
    EXPECT_EQ(object_at(out, 8), "8 0 obj\nnull\nendobj\n");
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// Page objects and page tree nodes are never copied: references to a page
// name its new page, to the catalog the new catalog, and to a page tree
// node become null, in the resources text and in the copies alike.
TEST(Closure, PagesNameTheirNewPagesTreeNodesBecomeNull) {
    std::string out = number_all(
        pages_pdf({"/MediaBox [0 0 300 300] /Resources << /Properties << /P 4 0 R /Q 5 0 R >> >>",
                   "/MediaBox [0 0 300 300]"},
                  {"<< /Type /OCG /Name (x) /Page 4 0 R /Tree 2 0 R /Doc 1 0 R >>"}));
    // Input pages 3 and 4 become 3 and 6; the catalog stays 1.
    EXPECT_NE(object_at(out, 4).find("/Properties << /P 6 0 R /Q 9 0 R >>"), std::string::npos);
    EXPECT_EQ(body_of(out, 9), "<< /Type /OCG /Name (x) /Page 6 0 R /Tree null /Doc 1 0 R >>\n");
    EXPECT_EQ(font_number(out), 10);
}

// Direct references first, pages in order and first appearance winning;
// then the objects they lead to, breadth-first.
TEST(Closure, NumberingOrder) {
    std::string out = number_all(pages_pdf(
        {"/MediaBox [0 0 300 300] /Resources << /ExtGState << /A 5 0 R /B 6 0 R /A2 5 0 R >> >>",
         "/MediaBox [0 0 300 300] /Resources << /ExtGState << /E 7 0 R /B 6 0 R >> >>"},
        {"<< /C 8 0 R >>", "<< /D 9 0 R >>", "<< /E 1 >>", "<< /Cx 10 0 R >>", "<< /D 1 >>", "<< /Deep 1 >>"}));
    // Pages 3, 6; copies from 9: A, B, E, then C, D, then C's own.
    EXPECT_EQ(body_of(out, 9), "<< /C 12 0 R >>\n");
    EXPECT_EQ(body_of(out, 10), "<< /D 13 0 R >>\n");
    EXPECT_EQ(body_of(out, 11), "<< /E 1 >>\n");
    EXPECT_EQ(body_of(out, 12), "<< /Cx 14 0 R >>\n");
    EXPECT_EQ(body_of(out, 13), "<< /D 1 >>\n");
    EXPECT_EQ(body_of(out, 14), "<< /Deep 1 >>\n");
    EXPECT_NE(object_at(out, 4).find("/A 9 0 R /B 10 0 R /A2 9 0 R"), std::string::npos);
    EXPECT_NE(object_at(out, 7).find("/E 11 0 R /B 10 0 R"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The corpus: real files from real producers.
// ---------------------------------------------------------------------------

struct corpus_entry {
    std::string file;
    int pages;
    std::string expect;
};

std::vector<corpus_entry> manifest() {
    std::ifstream f(corpus_file("MANIFEST.tsv"));
    std::vector<corpus_entry> entries;
    std::string line;
    std::getline(f, line);  // header
    while (std::getline(f, line)) {
        std::vector<std::string> cols;
        std::stringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) cols.push_back(c);
        if (cols.size() >= 5) entries.push_back({cols[0], std::stoi(cols[1]), cols[4]});
    }
    return entries;
}

void PrintTo(const corpus_entry &e, std::ostream *os) { *os << e.file; }

class Corpus : public ::testing::TestWithParam<corpus_entry> {};

TEST_P(Corpus, NumbersChecksCleanAndShowsEachLabel) {
    const corpus_entry &e = GetParam();
    std::string in = corpus_file(e.file), out = temp_path("corpus.pdf");
    int ok = dedediruzurud_add(in.c_str(), out.c_str(), 4, "ZQ{n}QZ", 10, 1, 200, 0, 0);
    if (e.expect != "ok") {
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(std::string(dedediruzurud_last_error()), "encrypted PDFs are not supported: " + in);
        return;
    }
    ASSERT_EQ(ok, 1) << dedediruzurud_last_error();
    EXPECT_EQ(qpdf_problems(out), "");
    if (!have_tool("pdftotext")) return;
    std::vector<std::string> pages = page_texts(out);
    ASSERT_EQ(static_cast<int>(pages.size()), e.pages);
    for (int i = 0; i < e.pages; ++i)
        EXPECT_NE(pages[static_cast<size_t>(i)].find("ZQ" + std::to_string(i + 1) + "QZ"), std::string::npos)
            << "page " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(manifest()), [](const auto &info) {
    std::string n = info.param.file.substr(0, info.param.file.size() - 4);
    for (char &c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

}  // namespace
