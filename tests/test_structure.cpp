// The document's own structure in the numbered copy: the catalog's entries
// (outlines, name trees, labels, form ...), the document information, each
// page's annotations and other own entries, and references to pages, read
// back with qpdf, poppler and mutool. Then damaged structure, which must
// never fail a document, and the real files of the corpus.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "writer_support.h"

namespace {

using strings = std::vector<std::string>;

// Object 1 the catalog (with catalog_extra), 2 the page tree, 3.. the pages,
// then `more`, numbered on; trailer_extra goes into the trailer.
std::string doc_pdf(const std::string &catalog_extra, const strings &page_dicts, const strings &more = {},
                    const std::string &trailer_extra = "", const std::string &kids = "") {
    strings bodies = {"<< /Type /Catalog /Pages 2 0 R" + catalog_extra + " >>"};
    std::string listed = kids;
    for (size_t i = 0; kids.empty() && i < page_dicts.size(); ++i)
        listed += (i ? " " : "") + std::to_string(3 + i) + " 0 R";
    int count = static_cast<int>(std::count(listed.begin(), listed.end(), 'R'));
    bodies.push_back("<< /Type /Pages /Kids [" + listed + "] /Count " + std::to_string(count) + " >>");
    for (const auto &p : page_dicts) bodies.push_back(p.empty() || p[0] != '<' ? "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] " + p + " >>" : p);
    for (const auto &m : more) bodies.push_back(m);
    return make_pdf(bodies, 1, trailer_extra);
}

// The text between "N 0 obj\n" and "endobj\n".
std::string body_of(const std::string &pdf, int num) {
    std::string o = object_at(pdf, num);
    std::string head = std::to_string(num) + " 0 obj\n";
    return o.empty() ? "" : o.substr(head.size(), o.size() - head.size() - 7);
}

std::string trailer_of(const std::string &pdf) {
    size_t t = pdf.rfind("trailer\n");
    return t == std::string::npos ? "" : pdf.substr(t, pdf.find(">>", t) + 2 - t);
}

// A command's output on the numbered bytes (`after` follows the file name).
std::string tool_output(const std::string &cmd, const std::string &pdf, const std::string &after = "") {
    std::string path = temp_path("structure.pdf"), out;
    write_file(path, pdf);
    run_command(cmd + " '" + path + "' " + after + " 2>&1", &out);
    return out;
}

bool have_readers() { return have_tool("qpdf") && have_tool("pdfinfo") && have_tool("mutool"); }

const char *const TWO_PAGES_CATALOG =
    " /Outlines 5 0 R /Names << /Dests 10 0 R >> /PageLabels << /Nums [0 << /S /r >> 1 << /S /D /St 7 >>] >>"
    " /OpenAction [4 0 R /Fit] /PageMode /UseOutlines /PageLayout /TwoColumnLeft"
    " /ViewerPreferences << /DisplayDocTitle true >> /Lang (en-GB) /Metadata 8 0 R"
    " /AcroForm << /Fields [9 0 R] /NeedAppearances true /DA (/Helv 0 Tf 0 g) >>"
    " /StructTreeRoot 11 0 R /MarkInfo << /Marked true >>";

std::string two_pages_doc() {
    return doc_pdf(TWO_PAGES_CATALOG, {"/Contents 13 0 R", "/Contents 13 0 R /Annots [9 0 R] /StructParents 0"},
                   {"<< /Type /Outlines /First 6 0 R /Last 7 0 R /Count 2 >>",
                    "<< /Title (One) /Parent 5 0 R /Next 7 0 R /Dest [3 0 R /XYZ 0 400 0] >>",
                    "<< /Title (Two) /Parent 5 0 R /Prev 6 0 R /Dest [4 0 R /Fit] >>",
                    stream_body("/Type /Metadata /Subtype /XML", "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"),
                    "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Hello) /Rect [10 10 100 30] /P 4 0 R >>",
                    "<< /Names [(chap) [4 0 R /FitH 300]] >>", "<< /Type /StructTreeRoot /K [] >>",
                    "<< /Title (Structured) /Author (Me) >>", stream_body("", "0 0 m 10 10 l S")},
                   " /Info 12 0 R");
}

// Pages 3 and 6, forms 4 and 7, contents 5 and 8; copies from 9: the
// widget (page entries come first), the outline root, the name tree, the
// metadata, the structure tree, the information, then what they lead to.
// The second page's /StructParents goes onto its form.
TEST(Catalog, CarriesTheDocumentEntries) {
    std::string out = number_all(two_pages_doc());
    ASSERT_FALSE(out.empty()) << dedediruzurud_last_error();
    EXPECT_EQ(body_of(out, 1),
              "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R /Names << /Dests 11 0 R >>"
              " /PageLabels << /Nums [0 << /S /r >> 1 << /S /D /St 7 >>] >> /OpenAction [6 0 R /Fit]"
              " /PageMode /UseOutlines /PageLayout /TwoColumnLeft /ViewerPreferences << /DisplayDocTitle true >>"
              " /Lang (en-GB) /Metadata 12 0 R /AcroForm << /Fields [9 0 R] /NeedAppearances true"
              " /DA (/Helv 0 Tf 0 g) >> /StructTreeRoot 13 0 R /MarkInfo << /Marked true >> >>\n");
    EXPECT_NE(trailer_of(out).find(" /Root 1 0 R /Info 14 0 R >>"), std::string::npos) << trailer_of(out);
    EXPECT_EQ(body_of(out, 13), "<< /Type /StructTreeRoot /K [] >>\n");
    EXPECT_EQ(body_of(out, 14), "<< /Title (Structured) /Author (Me) >>\n");
    EXPECT_EQ(body_of(out, 9),
              "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Hello) /Rect [10 10 100 30] /P 6 0 R >>\n");
    EXPECT_EQ(count_of(out, "/StructParents"), 1);
    EXPECT_NE(out.find("/StructParents 0 >> stream"), std::string::npos);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

TEST(Catalog, RealReadersSeeTheStructure) {
    if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or mutool missing";
    std::string out = number_all(two_pages_doc());
    std::string info = tool_output("pdfinfo", out);
    EXPECT_NE(info.find("Title:           Structured\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Author:          Me\n"), std::string::npos);
    EXPECT_NE(info.find("Metadata Stream: yes\n"), std::string::npos);
    EXPECT_NE(info.find("Form:            AcroForm\n"), std::string::npos);
    EXPECT_NE(info.find("Tagged:          yes\n"), std::string::npos);
    std::string marks = tool_output("mutool show", out, "outline");
    EXPECT_NE(marks.find("\"One\"\t#page=1"), std::string::npos) << marks;
    EXPECT_NE(marks.find("\"Two\"\t#page=2"), std::string::npos) << marks;
    std::string dests = tool_output("pdfinfo -dests", out);
    EXPECT_TRUE(std::regex_search(dests, std::regex("\\n +2 \\[ FitH +300 +\\] \"chap\""))) << dests;
    std::string json = tool_output("qpdf --json=2 --json-key=pages --json-key=acroform", out);
    EXPECT_TRUE(std::regex_search(json, std::regex("\"label\": \\{\\s*\"/S\": \"/r\",\\s*\"/St\": 1\\s*\\}"))) << json;
    EXPECT_TRUE(std::regex_search(json, std::regex("\"label\": \\{\\s*\"/S\": \"/D\",\\s*\"/St\": 7")));
    EXPECT_NE(json.find("\"fullname\": \"name\""), std::string::npos);
    EXPECT_TRUE(std::regex_search(json, std::regex("\"pageposfrom1\": 2,\\s*\"parent\": null"))) << json;
}

// A page's own entries go onto its new page, inline annotations included;
// the links' /P and destinations name the new pages.
TEST(Pages, CarryTheirOwnEntries) {
    std::string in = doc_pdf(
        "",
        {"/Contents 7 0 R /Annots [5 0 R << /Type /Annot /Subtype /Text /Rect [1 2 3 4] /Contents (inline) >>]"
         " /Group << /Type /Group /S /Transparency /CS /DeviceRGB >> /AA << /O 6 0 R >> /Trans << /S /Dissolve >>"
         " /Dur 3 /Tabs /S /StructParents 4 /Rotate 0",
         "/Contents 7 0 R"},
        {"<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Dest [4 0 R /XYZ null null null] /P 3 0 R >>",
         "<< /S /JavaScript /JS (app.alert\\(1\\)) >>", stream_body("", "0 0 m 10 10 l S")});
    std::string out = number_all(in);
    EXPECT_NE(object_at(out, 3).find(
                  "/Contents 5 0 R /Annots [9 0 R << /Type /Annot /Subtype /Text /Rect [1 2 3 4] /Contents (inline) >>]"
                  " /Group << /Type /Group /S /Transparency /CS /DeviceRGB >> /AA << /O 10 0 R >>"
                  " /Trans << /S /Dissolve >> /Dur 3 /Tabs /S >>\n"),
              std::string::npos)
        << object_at(out, 3);
    EXPECT_EQ(body_of(out, 9), "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Dest [6 0 R /XYZ null null null] /P 3 0 R >>\n");
    EXPECT_EQ(body_of(out, 10), "<< /S /JavaScript /JS (app.alert\\(1\\)) >>\n");
    EXPECT_EQ(object_at(out, 6).find("/Annots"), std::string::npos);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// A page listed twice: references to it name its first new page, and
// both new pages carry its annotations. A reference to a Pages node
// becomes null, to the catalog the new catalog.
TEST(Pages, ReferencesNameTheFirstNewPage) {
    std::string in = doc_pdf("", {"/Contents 7 0 R /Annots [6 0 R]", "/Contents 7 0 R"},
                             {"null", "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /P 3 0 R"
                                      " /A << /S /GoTo /D [4 0 R /Fit] >> /Tree 2 0 R /Cat 1 0 R >>",
                              stream_body("", "0 0 m 10 10 l S")},
                             "", "3 0 R 4 0 R 3 0 R");
    std::string out = number_all(in);
    ASSERT_FALSE(out.empty()) << dedediruzurud_last_error();
    // New pages 3, 6, 9: input page 3 is 3 (and 9), input page 4 is 6.
    EXPECT_EQ(body_of(out, 12),
              "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /P 3 0 R /A << /S /GoTo /D [6 0 R /Fit] >>"
              " /Tree null /Cat 1 0 R >>\n");
    EXPECT_NE(object_at(out, 3).find("/Annots [12 0 R]"), std::string::npos);
    EXPECT_NE(object_at(out, 9).find("/Annots [12 0 R]"), std::string::npos);
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

// Damaged or odd structure: the document numbers as before, carries what
// it can and leaves out (or writes null for) the rest; qpdf finds nothing
// wrong with the result.
struct bad_case {
    const char *name;
    std::string catalog_extra, page_extra;
    strings more;  // objects 4 onwards (the one page is 3)
    std::string trailer_extra;
    strings present, absent;  // texts the output has, and has not
};

std::string page_content() { return stream_body("", "0 0 m 10 10 l S"); }

const bad_case k_bad_cases[] = {
    // One page: page 3, form 4, content 5, copies from 6.
    {"outline_next_loop", " /Outlines 4 0 R", "",
     {"<< /First 5 0 R /Count 2 >>", "<< /Title (a) /Next 6 0 R /Parent 4 0 R /Dest [3 0 R /Fit] >>",
      "<< /Title (b) /Next 5 0 R /Parent 4 0 R >>"},
     "",
     {"/Outlines 6 0 R", "<< /Title (a) /Next 8 0 R /Parent 6 0 R /Dest [3 0 R /Fit] >>",
      "<< /Title (b) /Next 7 0 R /Parent 6 0 R >>"},
     {}},
    {"outline_names_itself", " /Outlines 4 0 R", "", {"<< /First 4 0 R /Last 4 0 R /Next 4 0 R >>"}, "",
     {"/Outlines 6 0 R", "<< /First 6 0 R /Last 6 0 R /Next 6 0 R >>"}, {}},
    {"names_tree_cycle", " /Names << /Dests 4 0 R >>", "",
     {"<< /Kids [5 0 R] >>", "<< /Kids [4 0 R] /Names [(x) [3 0 R /Fit]] >>"}, "",
     {"/Names << /Dests 6 0 R >>", "<< /Kids [7 0 R] >>", "<< /Kids [6 0 R] /Names [(x) [3 0 R /Fit]] >>"}, {}},
    {"annots_a_number", "", " /Annots 4", {}, "", {}, {"/Annots"}},
    {"annots_a_dictionary", "", " /Annots << /Subtype /Link /Rect [0 0 1 1] >>", {}, "", {}, {"/Annots"}},
    {"annots_missing_object", "", " /Annots 40 0 R", {}, "", {}, {"/Annots"}},
    {"annots_an_indirect_array", "", " /Annots 4 0 R", {"[5 0 R]", "<< /Subtype /Square /Rect [0 0 5 5] >>"}, "",
     {"/Annots 6 0 R", "[7 0 R]"}, {}},
    {"annots_naming_missing_objects", "", " /Annots [40 0 R 41 0 R]", {}, "",
     {"/Annots [6 0 R 7 0 R]", "6 0 obj\nnull\nendobj\n7 0 obj\nnull\nendobj\n"}, {}},
    {"destination_naming_a_font", " /OpenAction [4 0 R /Fit]", "", {"<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"},
     "", {"/OpenAction [6 0 R /Fit]", "/BaseFont /Courier"}, {}},
    // A page object that the tree does not list is no page of the output.
    {"destination_naming_a_page_outside_the_tree", " /OpenAction [4 0 R /Fit]", "",
     {"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] >>"}, "", {"/OpenAction [null /Fit]"}, {"[0 0 9 9]"}},
    {"destination_naming_the_page_tree", " /OpenAction [2 0 R /Fit]", "", {}, "", {"/OpenAction [null /Fit]"}, {}},
    {"catalog_entries_of_the_wrong_kind", " /AcroForm [] /PageMode (x) /Outlines 40 0 R /Lang 12", "", {}, "",
     {"/Lang 12 >>"}, {"/AcroForm", "/PageMode", "/Outlines"}},
    {"info_not_a_dictionary", "", "", {"(just text)"}, " /Info 4 0 R", {}, {"/Info", "just text"}},
    {"info_missing", "", "", {}, " /Info 40 0 R", {}, {"/Info"}},
    {"info_is_the_catalog", "", "", {}, " /Info 1 0 R", {}, {"/Info"}},
    {"info_a_stream", "", "", {stream_body("/Title (x)", "abc")}, " /Info 4 0 R", {}, {"/Info"}},
    {"catalog_damaged_before_a_key", " /Oops ) /Outlines 4 0 R", "", {"<< /Count 0 >>"}, "", {}, {"/Outlines"}},
    // Tagged structure: marked-content ids name the page's form, cycles
    // and a parent /P that is missing end nowhere, the label is an artifact.
    {"structure_kids_loop", " /StructTreeRoot 4 0 R", " /StructParents 0",
     {"<< /Type /StructTreeRoot /K 5 0 R /ParentTree 7 0 R >>",
      "<< /S /P /P 4 0 R /Pg 3 0 R /K [0 6 0 R 5 0 R 4 0 R] >>",
      "<< /S /Span /P 40 0 R /K [5 0 R 1 << /Type /MCR /MCID 2 >> << /MCID 3 /Stm 9 0 R >>] >>",
      "<< /Nums [0 [5 0 R 5 0 R 6 0 R]] >>"},
     "",
     {"/StructTreeRoot 6 0 R", "/StructParents 0 >> stream",
      "/K [<< /Type /MCR /Pg 3 0 R /Stm 4 0 R /MCID 0 >> 9 0 R 7 0 R 6 0 R]",
      "/K [7 0 R << /Type /MCR /Pg 3 0 R /Stm 4 0 R /MCID 1 >> << /Pg 3 0 R /Stm 4 0 R /Type /MCR /MCID 2 >> "
      "<< /MCID 3 /Stm ", "/Artifact << /Type /Pagination /Subtype /Footer >> BDC\n"},
     {}},
    {"structure_without_pages_or_number_tree", " /StructTreeRoot << /K [4 0 R 3 0 R] /ParentTree (x) >>", "",
     {"<< /S /P /K [3 5] >>"}, "", {"<< /S /P /K [3 5] >>", "/ParentTree (x)", "/Artifact"}, {"/Stm"}},
    {"marked_without_a_tree", " /MarkInfo << /Marked true >>", " /StructParents 2", {}, "",
     {"/MarkInfo << /Marked true >>", "/Artifact"}, {"/StructParents"}},
    {"structure_root_not_a_dictionary", " /StructTreeRoot 4 0 R", "", {"[1 2]"}, "", {}, {"/StructTreeRoot", "/Artifact"}},
};

void PrintTo(const bad_case &c, std::ostream *os) { *os << c.name; }

class BadStructure : public ::testing::TestWithParam<bad_case> {};

TEST_P(BadStructure, NumbersAndCarriesWhatItCan) {
    const bad_case &c = GetParam();
    strings more = {};
    // The page's content is the last object, after the case's own.
    std::string content_ref = std::to_string(4 + c.more.size()) + " 0 R";
    more = c.more;
    more.push_back(page_content());
    std::string out = number_all(doc_pdf(c.catalog_extra, {"/Contents " + content_ref + c.page_extra}, more, c.trailer_extra));
    ASSERT_FALSE(out.empty()) << dedediruzurud_last_error();
    for (const auto &s : c.present) EXPECT_NE(out.find(s), std::string::npos) << s;
    for (const auto &s : c.absent) EXPECT_EQ(out.find(s), std::string::npos) << s;
    EXPECT_EQ(qpdf_problems_bytes(out), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BadStructure, ::testing::ValuesIn(k_bad_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Tens of thousands of links and outline items are carried whole (each
// copied once, each /Next loop ended by the table).
TEST(Large, ManyLinksAndOutlineItems) {
    const int n = 20000;
    strings more;
    std::string annots;
    for (int k = 0; k < n; ++k) annots += std::to_string(6 + k) + " 0 R ";
    more.push_back("<< /First 6 0 R /Last " + std::to_string(5 + n) + " 0 R /Count " + std::to_string(n) + " >>");
    for (int k = 0; k < n; ++k)
        more.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /Title (t" + std::to_string(k) +
                       ") /Parent 5 0 R /Next " + std::to_string(6 + (k + 1) % n) + " 0 R /Dest [3 0 R /Fit] >>");
    std::string in = doc_pdf(" /Outlines 5 0 R", {"/Contents 4 0 R /Annots [" + annots + "]"},
                             [&] {
                                 strings m = {page_content()};
                                 m.insert(m.end(), more.begin(), more.end());
                                 return m;
                             }());
    std::string out = number_all(in);
    ASSERT_FALSE(out.empty()) << dedediruzurud_last_error();
    EXPECT_EQ(count_of(out, "/Subtype /Link"), n);
    EXPECT_EQ(count_of(out, "/Dest [3 0 R /Fit]"), n);
    // Copies from 6: the page's annotations in order, then the outline
    // root; the last item's /Next closes the loop on the first.
    EXPECT_NE(out.find("/Title (t" + std::to_string(n - 1) + ") /Parent " + std::to_string(6 + n) + " 0 R /Next 6 0 R"),
              std::string::npos);
}

// --- The corpus: what real readers see in the input is in the output ---

std::string without_coordinates(const std::string &outline) {
    return std::regex_replace(outline, std::regex("&[^\\n]*"), "");
}

// The page labels and the fields (name, type, value, widget page) as qpdf
// reports them, object numbers left out.
std::string labels_and_fields(const std::string &path) {
    std::string json, kept;
    run_command("qpdf --json=2 --json-key=pages --json-key=acroform '" + path + "' 2>/dev/null", &json);
    std::regex keep("\"(label|fullname|fieldtype|value|pageposfrom1)\": [^\\n]*\\n(\\s+\"/[A-Za-z]+\": [^\\n]*\\n)*");
    for (std::sregex_iterator it(json.begin(), json.end(), keep), end; it != end; ++it) kept += it->str();
    return kept;
}

std::string info_lines(const std::string &path) {
    std::string out, kept;
    run_command("pdfinfo '" + path + "' 2>/dev/null", &out);
    std::regex keep("(Title|Subject|Keywords|Author|Creator|Producer|CreationDate|ModDate|Metadata Stream|Form|"
                    "Custom Metadata):[^\\n]*\\n");
    for (std::sregex_iterator it(out.begin(), out.end(), keep), end; it != end; ++it) kept += it->str();
    return kept;
}

// Named destinations: page and name (the point may move on turned pages).
std::string dest_pages(const std::string &path) {
    std::string out;
    run_command("pdfinfo -dests '" + path + "' 2>/dev/null", &out);
    return std::regex_replace(out, std::regex("\\[[^\\]]*\\]"), "");
}

class CorpusStructure : public ::testing::TestWithParam<const char *> {};

TEST_P(CorpusStructure, ReadersSeeTheSameStructure) {
    if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or mutool missing";
    std::string in = corpus_file(GetParam()), out = temp_path(std::string("numbered-") + GetParam());
    ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 10, 1, 0, 0, 0), 1) << dedediruzurud_last_error();
    EXPECT_EQ(qpdf_problems(out), "");
    std::string a, b;
    run_command("mutool show '" + in + "' outline 2>/dev/null", &a);
    run_command("mutool show '" + out + "' outline 2>/dev/null", &b);
    EXPECT_EQ(without_coordinates(a), without_coordinates(b));
    EXPECT_EQ(info_lines(in), info_lines(out));
    EXPECT_EQ(labels_and_fields(in), labels_and_fields(out));
    EXPECT_EQ(dest_pages(in), dest_pages(out));
    // Every file here has some of it: the comparisons above are not of nothing.
    EXPECT_NE(a + info_lines(in), "");
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusStructure,
                         ::testing::Values("pdftex-R-intro.pdf", "reportlab-userguide.pdf", "variant-linearized-amc.pdf",
                                           "cairo116-charis-features.pdf", "generated-annots-links-rotated.pdf",
                                           "reportlab-acroform-rotated.pdf", "variant-damaged-badstartxref.pdf",
                                           "distiller21-abyssinica-typesample.pdf", "libreoffice71-padauk-features.pdf"),
                         [](const auto &info) {
                             std::string s = info.param;
                             for (char &ch : s)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return s;
                         });

}  // namespace
