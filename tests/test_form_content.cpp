// The content that a page's form carries: one content stream goes in as it
// is stored (bytes, /Filter, /DecodeParms), whatever our own decoder makes
// of it, and the page shows as it did; content joined from a /Contents
// array is compressed when its parts were. Read back with zlib, qpdf,
// pdftoppm and pdftotext.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "messages.h"
#include "writer_support.h"

namespace {

// Enough rectangles in enough colours that a part of them missing, or
// bytes drawn that should not be, shows on the page.
std::string drawing(int rects, unsigned seed) {
    std::string s;
    for (int k = 0; k < rects; ++k) {
        seed = seed * 1103515245u + 12345u;
        unsigned x = seed >> 8;
        s += std::to_string(x % 5) + "." + std::to_string(x / 7 % 10) + " " + std::to_string(x / 11 % 2) + " " +
             std::to_string(x / 13 % 2) + " rg " + std::to_string(20 + x / 17 % 240) + " " +
             std::to_string(20 + x / 19 % 240) + " " + std::to_string(5 + x / 23 % 30) + " " +
             std::to_string(5 + x / 29 % 30) + " re f\n";
    }
    return s;
}

const std::string kDrawing = drawing(300, 7);

// PNG rows of 16 bytes, each with predictor type 0 (none) in front.
std::string png_rows(std::string data) {
    data.append((16 - data.size() % 16) % 16, ' ');
    std::string out;
    for (size_t i = 0; i < data.size(); i += 16) out += '\0' + data.substr(i, 16);
    return out;
}

struct stored_form {
    std::string header;  // "<< ... >> stream\n"
    std::string data;    // /Length bytes after it
};

// Page index i's form in an output: its header and its stored data.
stored_form form_of(const std::string &out, int i) {
    std::string obj = object_at(out, 4 + 3 * i);
    size_t h = obj.find("<<"), s = obj.find(">> stream\n");
    size_t l = obj.find("/Length ");
    if (h == std::string::npos || s == std::string::npos || l == std::string::npos) return {};
    size_t n = std::stoul(obj.substr(l + 8));
    return {obj.substr(h, s + 10 - h), obj.substr(s + 10, n)};
}

std::string inflated(const std::string &z) {
    std::string out(64u << 20, '\0');
    uLongf n = out.size();
    if (uncompress(reinterpret_cast<Bytef *>(&out[0]), &n, reinterpret_cast<const Bytef *>(z.data()), z.size()) != Z_OK)
        return "(zlib refuses)";
    out.resize(n);
    return out;
}

// Numbers in into out with an invisible label; "" on success, else the message.
std::string number_file(const std::string &in, const std::string &out) {
    if (dedediruzurud_add(in.c_str(), out.c_str(), 0, " ", 12, 1, 0, 0, 0)) return "";
    return dedediruzurud_last_error();
}

// ---------------------------------------------------------------------------
// One content stream: carried as stored.
// ---------------------------------------------------------------------------

struct carried_case {
    const char *name;
    std::string dict;      // the content stream's entries besides /Length
    std::string stored;    // its stored data
    std::string more;      // object 5, when the dictionary names it
    std::string encoding;  // what the form says after /Length
};

std::string hex(const std::string &bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        out += "0123456789ABCDEF"[b >> 4];
        out += "0123456789ABCDEF"[b & 15];
    }
    return out + ">";
}

std::vector<carried_case> carried_cases() {
    std::string z = zlib_compress(kDrawing);
    return {
        {"uncompressed", "", kDrawing, "", ""},
        {"flate", "/Filter /FlateDecode", z, "", " /Filter /FlateDecode"},
        // Our own decoder refuses the next five (data cut short, parameters
        // or filter named indirectly, a filter it does not know, no data);
        // a viewer shows what it can of them, and so does the copy.
        {"flate_cut_short", "/Filter /FlateDecode", z.substr(0, z.size() / 2), "", " /Filter /FlateDecode"},
        // Object 5 is copied as output object 6 (after the page's three).
        {"indirect_parms", "/Filter /FlateDecode /DecodeParms 5 0 R", zlib_compress(png_rows(kDrawing)),
         "<< /Predictor 12 /Columns 16 >>", " /Filter /FlateDecode /DecodeParms 6 0 R"},
        {"indirect_filter", "/Filter 5 0 R", z, "/FlateDecode", " /Filter 6 0 R"},
        {"unknown_filter", "/Filter /JBIG2Decode", kDrawing, "", " /Filter /JBIG2Decode"},
        {"empty", "/Filter /FlateDecode", "", "", " /Filter /FlateDecode"},
        {"png_predictor", "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 16 >>",
         zlib_compress(png_rows(kDrawing)), "", " /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 16 >>"},
        {"filter_array", "/Filter [/ASCIIHexDecode /FlateDecode]", hex(z), "",
         " /Filter [/ASCIIHexDecode /FlateDecode]"},
        {"null_filter", "/Filter null /DecodeParms << /Predictor 12 >>", kDrawing, "", ""},
    };
}

class Carried : public ::testing::TestWithParam<carried_case> {};

TEST_P(Carried, FormHoldsTheStoredStreamAndThePageLooksTheSame) {
    const carried_case &c = GetParam();
    std::vector<std::string> more = {stream_body(c.dict, c.stored)};
    if (!c.more.empty()) more.push_back(c.more);
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R"}, more));
    ASSERT_EQ(number_file(in, out), "") << c.name;
    std::string pdf = read_file(out);
    stored_form f = form_of(pdf, 0);
    // No data is no valid encoding of anything: an empty stream goes plain.
    std::string encoding = c.stored.empty() ? "" : c.encoding;
    EXPECT_EQ(f.header, "<< /Type /XObject /Subtype /Form /BBox [0 0 300 300] /Length " +
                            std::to_string(c.stored.size()) + encoding + " >> stream\n")
        << c.name;
    EXPECT_EQ(f.data, c.stored) << c.name;
    if (!c.more.empty()) {
        EXPECT_EQ(object_at(pdf, 6), "6 0 obj\n" + c.more + "\nendobj\n") << c.name;
    }
    // qpdf finds nothing in the copy that it did not find in the input.
    if (qpdf_problems(in).empty()) {
        EXPECT_EQ(qpdf_problems(out), "") << c.name;
    }
    if (have_tool("pdftoppm")) {
        image a = render(in, 1, false, 24), b = render(out, 1, false, 24);
        EXPECT_LT(differing_share(a, b), 0.002) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, Carried, ::testing::ValuesIn(carried_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// An indirect /Length becomes the direct length of the bytes carried.
TEST(Carried, IndirectLengthBecomesDirect) {
    std::string z = zlib_compress(kDrawing);
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, pages_pdf({"/MediaBox [0 0 300 300] /Contents 4 0 R"},
                             {"<< /Filter /FlateDecode /Length 5 0 R >>\nstream\n" + z + "\nendstream",
                              std::to_string(z.size())}));
    ASSERT_EQ(number_file(in, out), "");
    std::string pdf = read_file(out);
    EXPECT_EQ(form_of(pdf, 0).header, "<< /Type /XObject /Subtype /Form /BBox [0 0 300 300] /Length " +
                                          std::to_string(z.size()) + " /Filter /FlateDecode >> stream\n");
    EXPECT_EQ(inflated(form_of(pdf, 0).data), kDrawing);
    EXPECT_EQ(qpdf_problems(out), "");
}

// Content that cannot be located at all still fails the document: an
// object that is no stream, or no object.
TEST(Carried, ContentThatIsNoStreamStillFails) {
    for (const std::string &more : {std::string("[4 0 R]"), std::string("(not a stream)")}) {
        std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
        write_file(in, pages_pdf({"/MediaBox [0 0 300 300] /Contents 5 0 R"}, {stream_body("", "0 0 m"), more}));
        EXPECT_EQ(number_file(in, out), MSG_DAMAGED) << more;
        EXPECT_FALSE(file_exists(out));
    }
}

// ---------------------------------------------------------------------------
// A /Contents array: decoded, joined, and compressed when its parts were.
// ---------------------------------------------------------------------------

const std::string kFont = "/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";

struct joined_case {
    const char *name;
    std::vector<std::string> streams;  // objects 4, 5, ...
    std::string joined;                // the content the form must hold
    bool compressed;                   // stored with /Filter /FlateDecode
    bool renders_as_input;             // false when a part cannot be decoded
};

std::vector<joined_case> joined_cases() {
    std::string a = "BT /F1 20 Tf 40 200 Td (Carried over) Tj ET\n", b = drawing(80, 3);
    std::string c = "BT /F1 14 Tf 40 100 Td (in three parts) Tj ET\n";
    std::string za = zlib_compress(a);
    return {
        {"mixed",
         {stream_body("/Filter /FlateDecode", za), stream_body("", b), stream_body("/Filter /Fl", zlib_compress(c))},
         a + b + c, true, true},
        {"uncompressed", {stream_body("", a), stream_body("", b), stream_body("", c)}, a + b + c, false, true},
        {"other_filter", {stream_body("", a), stream_body("/Filter /ASCIIHexDecode", "4254 2045 54 0A>")},
         a + "BT ET\n", true, true},
        {"part_undecodable",
         {stream_body("/Filter /FlateDecode", za.substr(0, za.size() - 8)), stream_body("", b), stream_body("", c)},
         b + c, true, false},
    };
}

class Joined : public ::testing::TestWithParam<joined_case> {};

TEST_P(Joined, CompressedOnlyWhenAPartWas) {
    const joined_case &c = GetParam();
    std::string refs;
    for (size_t k = 0; k < c.streams.size(); ++k) refs += std::to_string(4 + k) + " 0 R ";
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, pages_pdf({"/MediaBox [0 0 300 300] " + kFont + " /Contents [" + refs + "]"}, c.streams));
    ASSERT_EQ(number_file(in, out), "") << c.name;
    stored_form f = form_of(read_file(out), 0);
    bool flate = f.header.find(" /Filter /FlateDecode ") != std::string::npos;
    EXPECT_EQ(flate, c.compressed) << c.name;
    EXPECT_EQ(flate ? inflated(f.data) : f.data, c.joined) << c.name;
    EXPECT_EQ(qpdf_problems(out), "") << c.name;
    if (c.renders_as_input && have_tool("pdftoppm")) {
        EXPECT_LT(differing_share(render(in, 1, false, 24), render(out, 1, false, 24)), 0.002) << c.name;
        EXPECT_EQ(page_texts(in), page_texts(out)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Arrays, Joined, ::testing::ValuesIn(joined_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
