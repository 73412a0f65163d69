// Damage that viewers take in their stride is numbered: pages without a
// usable box or with its corners in another order, streams without a usable
// /Length or without an end, empty content streams, /Contents arrays with a
// damaged part, objects of other generations, object streams inside object
// streams, page-tree nodes without their /Type, and catalogs that lead
// nowhere; each damage is told as a notice. What stays refused is refused
// with its message. Every output is read back with qpdf, pdfinfo and
// pdftotext.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "dedediruzurud.h"
#include "dedediruzurud_internal.h"
#include "messages.h"
#include "support.h"

namespace {

const std::string CATALOG = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string TEXT = "BT /F1 24 Tf 100 100 Td (Hello) Tj ET";
const std::string RES = "/Resources << /Font << /F1 9 0 R >> >>";
const std::string FONT = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// Objects 1..n as given; object 9 is the font when the list is shorter.
std::string doc(std::vector<std::string> bodies, int root = 1) {
    while (bodies.size() < 8) bodies.push_back("null");
    bodies.push_back(FONT);
    return make_pdf(bodies, root);
}

std::string page(const std::string &keys, int contents = 4) {
    return "<< /Type /Page /Parent 2 0 R " + RES + " /Contents " + std::to_string(contents) + " 0 R " + keys + " >>";
}

struct tolerant_case {
    const char *name;
    std::string pdf;
    std::vector<std::string> sizes;  // pdfinfo's "W x H" of each output page
    bool hello;                      // "Hello" drawn on the first page
    std::vector<std::string> notices = {};  // the start of each notice told, in order
    std::string form = {};  // what qpdf shows of the first page's form (its dictionary and data), when given
    std::string form_lacks = {};  // and what it must not show
};
void PrintTo(const tolerant_case &c, std::ostream *os) { *os << c.name; }

// The "W x H" of every page, as pdfinfo reports them.
std::vector<std::string> page_sizes(const std::string &path) {
    std::string out;
    run_command("pdfinfo -f 1 -l 1000 '" + path + "' 2>/dev/null", &out);
    std::vector<std::string> sizes;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
        size_t at = l.find(" size: ");
        if (l.rfind("Page", 0) != 0 || at == std::string::npos) continue;
        size_t from = l.find_first_not_of(' ', at + 7);
        sizes.push_back(l.substr(from, l.find(" pts") - from));
    }
    return sizes;
}

class Tolerated : public ::testing::TestWithParam<tolerant_case> {};

TEST_P(Tolerated, NumberedAsViewersShowIt) {
    if (!have_tool("qpdf") || !have_tool("pdfinfo") || !have_tool("pdftotext"))
        GTEST_SKIP() << "qpdf and poppler-utils needed";
    const tolerant_case &c = GetParam();
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, c.pdf);
    numbering_job job{};
    job.input_path = in.c_str();
    job.output_path = out.c_str();
    job.look = label_look{0, "N{n}", 12, 0, 0, 0};
    job.first_number = 1;
    job.total = -1;
    std::vector<std::string> told;
    job.notice = [](void *ctx, const char *text) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); };
    job.notice_ctx = &told;
    numbering_result r;
    ASSERT_EQ(numbering_run(&job, &r), 1) << r.message;
    ASSERT_EQ(told.size(), c.notices.size()) << ::testing::PrintToString(told);
    for (size_t k = 0; k < told.size(); ++k) EXPECT_EQ(told[k].rfind(c.notices[k], 0), 0u) << told[k];
    std::string check;
    EXPECT_EQ(run_command("qpdf --check '" + out + "' 2>&1", &check), 0) << check;
    EXPECT_EQ(page_sizes(out), c.sizes);
    std::string text;
    run_command("pdftotext -q -f 1 -l 1 '" + out + "' - 2>/dev/null", &text);
    EXPECT_NE(text.find("N1"), std::string::npos) << text;
    EXPECT_EQ(text.find("Hello") != std::string::npos, c.hello) << text;
    if (c.form.empty() && c.form_lacks.empty()) return;
    // Page 1's form is object 4 of the copy.
    std::string form, data;
    run_command("qpdf --show-object=4 '" + out + "'", &form);
    run_command("qpdf --show-object=4 --filtered-stream-data '" + out + "'", &data);
    form += data;
    EXPECT_NE(form.find(c.form), std::string::npos) << form;
    if (!c.form_lacks.empty()) {
        EXPECT_EQ(form.find(c.form_lacks), std::string::npos) << form;
    }
}

const std::string HELLO = stream_body("", TEXT);
const std::string PAGES1 = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const std::string BOXED = "/MediaBox [0 0 300 400]";

// pdf with the header of object num written with generation gen (one
// digit: the cross-reference offsets still hold).
std::string with_generation(std::string pdf, int num, int gen) {
    std::string h = "\n" + std::to_string(num) + " 0 obj";
    pdf[pdf.find(h) + h.size() - 5] = static_cast<char>('0' + gen);
    return pdf;
}

// A Flate object stream holding the objects (number, text).
std::string object_stream(const std::vector<std::pair<int, std::string>> &objs) {
    std::string head, body;
    for (const auto &[num, text] : objs) {
        head += std::to_string(num) + " " + std::to_string(body.size()) + " ";
        body += text + "\n";
    }
    head += "\n";
    return stream_body("/Type /ObjStm /N " + std::to_string(objs.size()) + " /First " + std::to_string(head.size()) +
                           " /Filter /FlateDecode",
                       zlib_compress(head + body));
}

// Page 10 draws object 12; object 11 before it states a /Length that is
// wrong and has no "endstream" before its "endobj".
std::string wrong_length(int length) {
    return make_pdf({CATALOG, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>", "null", "null", "null", "null", "null",
                     "null", FONT, "<< /Type /Page /Parent 2 0 R " + BOXED + " /Contents 12 0 R >>",
                     "<< /Length " + std::to_string(length) + " >> stream JUNK", "<< /Length 3 >> stream q Q endstream"});
}

// A page drawing image 5, whose dictionary ends in dict_end.
std::string copied_image(const std::string &dict_end) {
    return doc({CATALOG, PAGES1,
                "<< /Type /Page /Parent 2 0 R " + BOXED + " /Resources << /XObject << /Im1 5 0 R >> >> /Contents 4 0 R >>",
                stream_body("", "q 50 0 0 50 0 0 cm /Im1 Do Q"),
                "<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8" +
                    dict_end + "\nstream\nabcdefghijkl\nendstream"});
}

const std::string PAGE_GEN1 = "<< /Type /Page /Parent 2 0 R " + RES + " " + BOXED + " /Contents 4 1 R >>";
const std::vector<std::string> BOX_NOTE = {"page 1: no usable page box; shown as US Letter (612 x 792)"};
const std::string LENGTH_NOTE = "object 4: the stream's /Length is missing or wrong; its length was recovered";

INSTANTIATE_TEST_SUITE_P(
    Cases, Tolerated,
    ::testing::Values(
        // Boxes: none in reach, or none with an area, gives US Letter.
        tolerant_case{"no_box", doc({CATALOG, PAGES1, page(""), HELLO}), {"612 x 792"}, true, BOX_NOTE},
        tolerant_case{"no_box_turned", doc({CATALOG, PAGES1, page("/Rotate 90"), HELLO}), {"792 x 612"}, true,
                      BOX_NOTE},
        tolerant_case{"only_unusable_boxes",
                      doc({CATALOG, PAGES1, page("/MediaBox [0 0 0 0] /CropBox [5 0 5 5]"), HELLO}),
                      {"612 x 792"}, true, BOX_NOTE},
        // A rectangle may name any two opposite corners.
        tolerant_case{"box_corners_in_another_order", doc({CATALOG, PAGES1, page("/MediaBox [700 0 600 792]"), HELLO}),
                      {"100 x 792"}, false},
        tolerant_case{"box_corners_swapped_both", doc({CATALOG, PAGES1, page("/MediaBox [300 300 0 100]"), HELLO}),
                      {"300 x 200"}, true},
        tolerant_case{"boxed_and_unboxed",
                      doc({CATALOG, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>", page(BOXED), HELLO,
                           page("")}),
                      {"300 x 400", "612 x 792"}, true, {"page 2: no usable page box"}},
        // Stream ends found at "endstream" without a usable /Length.
        tolerant_case{"length_missing",
                      doc({CATALOG, PAGES1, page(BOXED), "<< >>\nstream\n" + TEXT + "\nendstream"}), {"300 x 400"},
                      true, {LENGTH_NOTE}},
        tolerant_case{"length_a_name",
                      doc({CATALOG, PAGES1, page(BOXED), "<< /Length /L >>\r\nstream\r\n" + TEXT + "\r\nendstream"}),
                      {"300 x 400"}, true, {LENGTH_NOTE}},
        tolerant_case{"length_negative",
                      doc({CATALOG, PAGES1, page(BOXED), "<< /Length -7 >>\nstream\n" + TEXT + "\nendstream"}),
                      {"300 x 400"}, true, {LENGTH_NOTE}},
        tolerant_case{"length_names_missing_object",
                      doc({CATALOG, PAGES1, page(BOXED), "<< /Length 77 0 R >>\nstream\n" + TEXT + "\nendstream"}),
                      {"300 x 400"}, true, {LENGTH_NOTE}},
        tolerant_case{"length_past_the_data",
                      doc({CATALOG, PAGES1, page(BOXED), "<< /Length 5000 >>\nstream\n" + TEXT + "\nendstream"}),
                      {"300 x 400"}, true, {LENGTH_NOTE}},
        tolerant_case{"flate_without_length",
                      doc({CATALOG, PAGES1, page(BOXED),
                           "<< /Filter /FlateDecode >>\nstream\n" + zlib_compress(TEXT) + "\nendstream"}),
                      {"300 x 400"}, true, {LENGTH_NOTE}},
        tolerant_case{"inline_without_length",
                      doc({CATALOG, PAGES1,
                           "<< /Type /Page /Parent 2 0 R " + RES + " " + BOXED + " /Contents << >> stream\n" + TEXT +
                               "\nendstream >>"}),
                      {"300 x 400"}, true},
        // Empty content streams: blank pages that still carry their label.
        tolerant_case{"empty_stream", doc({CATALOG, PAGES1, page(BOXED), stream_body("", "")}), {"300 x 400"},
                      false},
        // No bytes are no Flate data: the carried stream goes without its filter.
        tolerant_case{"empty_flate_stream",
                      doc({CATALOG, PAGES1, page(BOXED), stream_body("/Filter /FlateDecode", "")}), {"300 x 400"},
                      false, {}, "/Length 0", "/Filter"},
        tolerant_case{"array_of_empty_streams",
                      doc({CATALOG, PAGES1,
                           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents [4 0 R 5 0 R] >>",
                           stream_body("", ""), stream_body("", "")}),
                      {"300 x 400"}, false},
        // A wrong /Length runs to no "endstream" past its own "endobj".
        tolerant_case{"wrong_length_stops_at_endobj", wrong_length(1), {"300 x 400"}, false,
                      {"object 11: the stream has no end before its \"endobj\""}, "q Q"},
        tolerant_case{"wrong_length_past_the_file", wrong_length(5000), {"300 x 400"}, false,
                      {"object 11: the stream has no end before its \"endobj\""}, "q Q"},
        tolerant_case{"content_runs_to_end_of_file",
                      doc({CATALOG, PAGES1, page(BOXED, 10)}) + "10 0 obj\n<< /Length 5000 >>\nstream\n" + TEXT + "\r\n",
                      {"300 x 400"}, true, {"object 10: the stream runs to the end of the file"}},
        // Copies of streams whose length was recovered state their true /Length.
        tolerant_case{"copied_stream_length_wrong", copied_image(" /Length 3 >>"), {"300 x 400"}, false,
                      {"object 5: the stream's /Length is missing or wrong; its length was recovered (12 bytes)"}},
        tolerant_case{"copied_stream_length_missing", copied_image(" >>"), {"300 x 400"}, false,
                      {"object 5: the stream's /Length is missing or wrong; its length was recovered (12 bytes)"}},
        // The parts of /Contents that decode make the page.
        tolerant_case{"contents_part_damaged",
                      doc({CATALOG, PAGES1, page(BOXED).replace(page(BOXED).find("4 0 R"), 5, "[4 0 R 5 0 R 6 0 R 7 0 R]"),
                           HELLO, stream_body("/Filter /NoSuchDecode", "xyz"), stream_body("", "0 0 m 10 10 l S")}),
                      {"300 x 400"}, true, {"page 1: 2 of its 4 content streams could not be read"}},
        // A reference names the definition of its own generation, else the one there is.
        tolerant_case{"generation_named",
                      with_generation(doc({CATALOG, PAGES1, PAGE_GEN1, HELLO}), 4, 1) + "4 0 obj\n" +
                          stream_body("", "0 0 m 1 1 l S") + "\nendobj\n",
                      {"300 x 400"}, true},
        tolerant_case{"generation_only_other", doc({CATALOG, PAGES1, PAGE_GEN1, HELLO}), {"300 x 400"}, true},
        tolerant_case{"generation_in_header_only", with_generation(doc({CATALOG, PAGES1, page(BOXED), HELLO}), 4, 3),
                      {"300 x 400"}, true},
        tolerant_case{"object_stream_inside_object_stream",
                      doc({"<< /Type /Catalog /Pages 20 0 R >>",
                           object_stream({{6, object_stream({{20, "<< /Type /Pages /Kids [21 0 R] /Count 1 >>"},
                                                             {21, "<< /Type /Page /Parent 20 0 R " + RES + " " + BOXED +
                                                                      " /Contents 4 0 R >>"}})}}),
                           "null", HELLO}),
                      {"300 x 400"}, true, {"object 6: an object stream inside another object stream was read"}},
        // Page-tree nodes without their /Type.
        tolerant_case{"untyped_nodes",
                      doc({CATALOG, "<< /Kids [5 0 R] /Count 2 " + BOXED + " >>", "<< /Parent 5 0 R " + RES +
                           " /Contents 4 0 R >>", HELLO, "<< /Type /Catalog /Kids [3 0 R 6 0 R] /Parent 2 0 R >>",
                           "<< /Type /Annot /Parent 5 0 R /MediaBox [0 0 100 50] >>"}),
                      {"300 x 400", "100 x 50"}, true},
        tolerant_case{"untyped_page_listed_twice",
                      doc({CATALOG, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>", "<< " + BOXED + " /Contents 4 0 R " +
                           RES + " >>", HELLO}),
                      {"300 x 400", "300 x 400"}, true},
        // Catalogs that lead nowhere: the tree is found without them.
        tolerant_case{"root_names_missing_object", doc({"<< /Foo 1 >>", PAGES1, page(BOXED), HELLO}, 12),
                      {"300 x 400"}, true},
        tolerant_case{"root_names_a_font", doc({CATALOG, PAGES1, page(BOXED), HELLO}, 9), {"300 x 400"}, true},
        tolerant_case{"catalog_pages_zero",
                      doc({"<< /Type /Catalog /Pages 0 0 R >>", PAGES1, page(BOXED), HELLO}), {"300 x 400"}, true},
        tolerant_case{"catalog_pages_missing",
                      doc({"<< /Type /Catalog /Pages 30 0 R >>", PAGES1, page(BOXED), HELLO}), {"300 x 400"}, true},
        tolerant_case{"catalog_pages_not_a_tree", doc({"<< /Type /Catalog /Pages 9 0 R >>", PAGES1, page(BOXED),
                                                       HELLO}),
                      {"300 x 400"}, true},
        tolerant_case{"cut_off_subtree_loses_to_the_root",
                      doc({"<< /Type /Catalog >>", "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>", page(BOXED),
                           HELLO, page("/MediaBox [0 0 100 100]"), "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"}),
                      {"300 x 400", "100 x 100"}, true}),
    [](const auto &info) { return std::string(info.param.name); });

struct refused_case {
    const char *name;
    std::string pdf;
    const char *message;  // "%s" stands for the path
};
void PrintTo(const refused_case &c, std::ostream *os) { *os << c.name; }

class StillRefused : public ::testing::TestWithParam<refused_case> {};

TEST_P(StillRefused, WithItsMessageAndNoOutput) {
    const refused_case &c = GetParam();
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, c.pdf);
    EXPECT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0), 0);
    std::string want = c.message;
    if (size_t at = want.find("%s"); at != std::string::npos) want.replace(at, 2, in);
    EXPECT_EQ(dedediruzurud_last_error(), want);
    EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StillRefused,
    ::testing::Values(
        refused_case{"encrypted_without_box",
                     make_pdf({CATALOG, PAGES1, "<< /Type /Page >>", "<< /Filter /Standard >>"}, 1, " /Encrypt 4 0 R"),
                     MSG_ENCRYPTED},
        refused_case{"inline_kids", doc({CATALOG, "<< /Kids [<< /Type /Page >>] >>"}), MSG_INLINE_KIDS},
        refused_case{"untyped_loop", doc({CATALOG, "<< /Kids [3 0 R] >>", "<< /Kids [2 0 R] >>"}), MSG_BROKEN_TREE},
        refused_case{"untyped_node_with_two_parents",
                     doc({CATALOG, "<< /Kids [3 0 R 3 0 R] >>", "<< /Kids [4 0 R] >>", "<< >>"}), MSG_BROKEN_TREE},
        refused_case{"kid_that_is_a_stream", doc({CATALOG, PAGES1, HELLO}), MSG_BROKEN_TREE},
        refused_case{"kid_that_is_a_number", doc({CATALOG, PAGES1, "42"}), MSG_BROKEN_TREE},
        refused_case{"no_tree_anywhere", doc({"<< /Type /Catalog >>", "<< /Kids [3 0 R] >>", page("")}),
                     MSG_NO_PAGE_TREE},
        refused_case{"cut_off_tree_still_looped",
                     doc({"<< /Type /Catalog >>", "<< /Type /Pages /Kids [3 0 R] >>", "<< /Type /Pages /Kids [2 0 R] >>",
                          "<< /Type /Pages /Kids [2 0 R] >>"}),
                     MSG_BROKEN_TREE}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
