// Stream decoding: every filter and predictor round-trips data written by
// the encoders below (checked against qpdf where it is installed), chains
// decode in order, damaged data is refused or kept as documented, and
// pdfp_decoded_stream hands back the bytes where they lie.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pdf_parse.h"
#include "pdf_parse/filters.h"
#include "support.h"

namespace {

// ---------------------------------------------------------------------------
// Encoders
// ---------------------------------------------------------------------------

struct bit_writer {
    std::string out;
    uint32_t acc = 0;
    int n = 0;
    void put(int code, int width) {
        acc = (acc << width) | static_cast<uint32_t>(code);
        for (n += width; n >= 8; n -= 8) out += static_cast<char>(acc >> (n - 8));
    }
    std::string done() { return n ? out + static_cast<char>(acc << (8 - n)) : out; }
};

std::string lzw_codes(const std::vector<int> &codes) {
    bit_writer w;
    for (int c : codes) w.put(c, 9);
    return w.done();
}

// Mirrors the decoder's table so that every code goes out at the width the
// decoder will read it with; clears the table before it fills.
std::string lzw_encode(const std::string &in, int early) {
    bit_writer w;
    std::map<std::pair<int, int>, int> dict;
    int next = 258, dec_next = 258, codes_since_clear = 0;
    auto width = [&] {
        int b = 9;
        while (b < 12 && dec_next + early >= (1 << b)) ++b;
        return b;
    };
    auto emit = [&](int code) {
        w.put(code, width());
        if (code == 256) {
            dec_next = 258;
            codes_since_clear = 0;
        } else if (codes_since_clear++ > 0 && dec_next < 4096) {
            ++dec_next;
        }
    };
    emit(256);
    int cur = -1;
    for (unsigned char c : in) {
        if (cur < 0) {
            cur = c;
            continue;
        }
        auto it = dict.find({cur, c});
        if (it != dict.end()) {
            cur = it->second;
            continue;
        }
        emit(cur);
        dict[{cur, c}] = next++;
        if (next == 4094) {
            emit(256);
            dict.clear();
            next = 258;
        }
        cur = c;
    }
    if (cur >= 0) emit(cur);
    emit(257);
    return w.done();
}

std::string a85_encode(const std::string &in) {
    std::string out;
    for (size_t i = 0; i < in.size(); i += 4) {
        size_t k = std::min<size_t>(4, in.size() - i);
        uint32_t v = 0;
        for (size_t j = 0; j < 4; ++j) v = v << 8 | (j < k ? static_cast<unsigned char>(in[i + j]) : 0);
        if (k == 4 && v == 0) {
            out += 'z';
            continue;
        }
        char g[5];
        for (int j = 4; j >= 0; --j, v /= 85) g[j] = static_cast<char>('!' + v % 85);
        out.append(g, k + 1);
        if (out.size() % 60 > 54) out += "\r\n";  // line breaks are whitespace to the decoder
    }
    return out + "~>";
}

std::string ahx_encode(const std::string &in) {
    static const char *hex = "0123456789abcdefABCDEF";
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = in[i];
        int off = i % 2 ? 0 : 6;  // mixed case
        out += hex[(c >> 4) + (c >> 4 >= 10 ? off : 0)];
        out += hex[(c & 15) + ((c & 15) >= 10 ? off : 0)];
        if (i % 32 == 31) out += '\n';
    }
    return out + ">";
}

std::string rl_encode(const std::string &in) {
    std::string out;
    for (size_t i = 0; i < in.size();) {
        size_t run = 1;
        while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 2) {
            out += static_cast<char>(257 - run);
            out += in[i];
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < in.size() && lit < 128 && (i + lit + 1 >= in.size() || in[i + lit] != in[i + lit + 1])) ++lit;
        out += static_cast<char>(lit - 1);
        out.append(in, i, lit);
        i += lit;
    }
    return out + '\x80';
}

int paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Rows of rowbytes bytes, row r filtered with PNG type types[r % size].
std::string png_encode(const std::string &in, size_t rowbytes, size_t bpp, const std::vector<int> &types) {
    std::string out;
    auto at = [&](size_t i) { return static_cast<unsigned char>(in[i]); };
    for (size_t r = 0; r * rowbytes < in.size(); ++r) {
        int t = types[r % types.size()];
        out += static_cast<char>(t);
        for (size_t j = 0; j < rowbytes && r * rowbytes + j < in.size(); ++j) {
            size_t i = r * rowbytes + j;
            int a = j >= bpp ? at(i - bpp) : 0, b = r ? at(i - rowbytes) : 0;
            int c = r && j >= bpp ? at(i - rowbytes - bpp) : 0;
            int pred[] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
            out += static_cast<char>(at(i) - pred[t]);
        }
    }
    return out;
}

// TIFF predictor 2 for 8-bit samples.
std::string tiff_encode(const std::string &in, size_t rowbytes, size_t colors) {
    std::string out = in;
    for (size_t i = 0; i < in.size(); ++i)
        if (i % rowbytes >= colors) out[i] = static_cast<char>(in[i] - in[i - colors]);
    return out;
}

// Content-stream-like text: compresses well, repeats with variations.
std::string sample_text(size_t n) {
    std::string s;
    uint32_t x = 12345;
    while (s.size() < n) {
        x = x * 1103515245 + 12345;
        s += std::to_string(x >> 20 & 1023) + " " + std::to_string(x >> 10 & 511) + (x & 1 ? " l\n" : " m\n");
    }
    return s.substr(0, n);
}

std::string random_bytes(size_t n, uint32_t seed) {
    std::string s(n, 0);
    for (char &c : s) c = static_cast<char>((seed = seed * 1664525 + 1013904223) >> 24);
    return s;
}

// ---------------------------------------------------------------------------
// Calling the decoders
// ---------------------------------------------------------------------------

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

struct result {
    int r;
    std::string bytes;
};

// pdfp_decode_filters on a buffer already holding prefix; checks that the
// prefix survives, the NUL after the content, and that a refusal leaves len.
result decode(const std::string &dict, const std::string &raw, const std::string &prefix = "abc") {
    pdfp_buf out{};
    pdfp_buf_bytes(&out, prefix.data(), prefix.size());
    int r = pdfp_decode_filters(u(dict), 0, static_cast<int32_t>(dict.size()), u(raw),
                                static_cast<int32_t>(raw.size()), &out);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out.data), prefix.size()), prefix);
    EXPECT_EQ(out.data[out.len], 0);
    if (r <= 0) {
        EXPECT_EQ(out.len, prefix.size());
    }
    result res{r, std::string(reinterpret_cast<char *>(out.data) + prefix.size(), out.len - prefix.size())};
    pdfp_buf_free(&out);
    return res;
}

// One stream object in a file, with its table entry filled as the loader would.
struct stream_file {
    std::string bytes;
    pdfp_obj obj{};
};

stream_file make_stream(const std::string &dict, const std::string &data) {
    stream_file f;
    f.bytes = "%PDF-1.4\n1 0 obj\n";
    f.obj = {1, 0, 9, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, nullptr, 0};
    f.obj.dict_pos = static_cast<int32_t>(f.bytes.size());
    f.bytes += dict + "\n";
    f.obj.stream_pos = static_cast<int32_t>(f.bytes.size());
    f.bytes += "stream\n";
    f.obj.data_start = static_cast<int32_t>(f.bytes.size());
    f.bytes += data;
    f.obj.data_end = static_cast<int32_t>(f.bytes.size());
    f.obj.data_len = f.obj.data_end - f.obj.data_start;
    f.bytes += "\nendstream\n";
    f.obj.endobj_pos = static_cast<int32_t>(f.bytes.size());
    f.bytes += "endobj\n";
    f.obj.obj_end = f.obj.endobj_pos + 6;
    return f;
}

const unsigned char *stream_bytes(const stream_file &f, pdfp_buf *buf, int32_t *count) {
    *count = 0;
    return pdfp_decoded_stream(&f.obj, u(f.bytes), static_cast<int32_t>(f.bytes.size()), buf, count);
}

// Whether the Flate decoder has landed: a tiny stream decodes.
bool have_inflate() { return decode("<< /Filter /FlateDecode >>", zlib_compress("x")).r == 1; }

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

struct encoding {
    const char *label;
    std::string dict;
    std::function<std::string(const std::string &)> encode;
    bool flate;
};

void PrintTo(const encoding &e, std::ostream *os) { *os << e.label; }

std::string zlib(const std::string &s) { return zlib_compress(s); }

const std::vector<encoding> &encodings() {
    auto lzw1 = [](const std::string &s) { return lzw_encode(s, 1); };
    auto lzw0 = [](const std::string &s) { return lzw_encode(s, 0); };
    static const std::vector<encoding> all = {
        {"lzw", "<< /Length 9 /Filter /LZWDecode >>", lzw1, false},
        {"lzw_early0", "<< /Filter /LZW /DecodeParms << /EarlyChange 0 >> >>", lzw0, false},
        {"a85", "<< /Filter /ASCII85Decode >>", a85_encode, false},
        {"a85_short", "<</Filter/A85>>", a85_encode, false},
        {"ahx", "<< /Filter /ASCIIHexDecode >>", ahx_encode, false},
        {"ahx_array", "<< /Filter [ /AHx ] /DecodeParms [ null ] >>", ahx_encode, false},
        {"rl", "<< /Filter /RunLengthDecode >>", rl_encode, false},
        {"rl_short", "<< /Filter /RL >>", rl_encode, false},
        {"ahx_lzw_rl", "<< /Filter [/AHx /LZW /RL] >>",
         [=](const std::string &s) { return ahx_encode(lzw1(rl_encode(s))); }, false},
        {"a85_lzw0", "<< /Filter [/A85 /LZW] /DecodeParms [null << /EarlyChange 0 >>] >>",
         [=](const std::string &s) { return a85_encode(lzw0(s)); }, false},
        {"flate", "<< /Filter /FlateDecode >>", zlib, true},
        {"flate_short", "<< /Filter /Fl /Length 3 >>", zlib, true},
        {"a85_flate", "<< /Filter [/A85 /Fl] >>", [](const std::string &s) { return a85_encode(zlib(s)); }, true},
        {"flate_flate", "<< /Filter [/FlateDecode /FlateDecode] >>",
         [](const std::string &s) { return zlib(zlib(s)); }, true},
    };
    return all;
}

class RoundTrip : public ::testing::TestWithParam<encoding> {};

TEST_P(RoundTrip, DecodesWhatWasEncoded) {
    const encoding &e = GetParam();
    if (e.flate && !have_inflate()) GTEST_SKIP() << "Flate decoder not available";
    std::string all256;
    for (int k = 0; k < 3 * 256; ++k) all256 += static_cast<char>(k % 256);
    for (const std::string &data : {std::string(), std::string("a"), std::string("hello hello hello"), all256,
                                    sample_text(200000), random_bytes(50000, 7), std::string(70000, '\0')}) {
        std::string raw = e.encode(data);
        result r = decode(e.dict, raw);
        EXPECT_EQ(r.r, 1) << e.label << " " << data.size();
        EXPECT_TRUE(r.bytes == data) << e.label << " " << data.size();

        // The same through a stream object: the bytes land in the buffer.
        stream_file f = make_stream(e.dict, raw);
        pdfp_buf buf{};
        int32_t count;
        const unsigned char *p = stream_bytes(f, &buf, &count);
        ASSERT_NE(p, nullptr) << e.label;
        EXPECT_EQ(p, buf.data);
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(p), count) == data) << e.label;
        pdfp_buf_free(&buf);
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, RoundTrip, ::testing::ValuesIn(encodings()),
                         [](const auto &info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Predictors
// ---------------------------------------------------------------------------

struct png_shape {
    int colors, bpc, columns;
};

void PrintTo(const png_shape &s, std::ostream *os) {
    *os << s.colors << "x" << s.bpc << " bits, " << s.columns << " columns";
}

class PngPredictor : public ::testing::TestWithParam<png_shape> {};

TEST_P(PngPredictor, EveryRowTypeThroughLzwAndFlate) {
    const png_shape &s = GetParam();
    size_t rowbytes = (s.colors * s.bpc * s.columns + 7) / 8, bpp = (s.colors * s.bpc + 7) / 8;
    std::string data = sample_text(rowbytes * 40);
    char parms[160];
    std::snprintf(parms, sizeof parms, "/DecodeParms << /Predictor 15 /Colors %d /BitsPerComponent %d /Columns %d >>",
                  s.colors, s.bpc, s.columns);
    for (std::vector<int> types : {std::vector<int>{0}, {1}, {2}, {3}, {4}, {4, 0, 3, 1, 2, 2, 4}}) {
        std::string tagged = png_encode(data, rowbytes, bpp, types);
        EXPECT_TRUE(decode(std::string("<< /Filter /LZWDecode ") + parms + " >>", lzw_encode(tagged, 1)).bytes == data)
            << types[0];
        if (have_inflate()) {
            EXPECT_TRUE(decode(std::string("<< /Filter /FlateDecode ") + parms + " >>", zlib(tagged)).bytes == data);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, PngPredictor,
                         ::testing::Values(png_shape{1, 8, 17}, png_shape{3, 8, 5}, png_shape{2, 16, 3},
                                           png_shape{1, 1, 21}, png_shape{4, 4, 3}));

TEST(Predictor, HandComputedPngRows) {
    // Sub, Up, Average, Paeth over three one-byte pixels.
    std::string tagged("\x01\x01\x01\x01\x02\x01\x01\x01\x03\x02\x02\x02\x04\x01\x00\x00", 16);
    result r = decode("<< /Filter /LZW /DecodeParms << /Predictor 12 /Columns 3 >> >>", lzw_encode(tagged, 1));
    EXPECT_EQ(r.r, 1);
    EXPECT_EQ(r.bytes, std::string("\x01\x02\x03\x02\x03\x04\x03\x05\x06\x04\x05\x06", 12));
}

struct tiff_case {
    const char *parms;
    std::string in, out;
};

void PrintTo(const tiff_case &c, std::ostream *os) { *os << c.parms; }

class TiffPredictor : public ::testing::TestWithParam<tiff_case> {};

TEST_P(TiffPredictor, AddsTheSampleToTheLeft) {
    const tiff_case &c = GetParam();
    result r = decode(std::string("<< /Filter /LZW /DecodeParms << /Predictor 2 ") + c.parms + " >> >>",
                      lzw_encode(c.in, 1));
    EXPECT_EQ(r.r, 1);
    EXPECT_EQ(r.bytes, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, TiffPredictor,
    ::testing::Values(tiff_case{"/Columns 2", std::string("\x01\x01\x05\x01", 4), std::string("\x01\x02\x05\x06", 4)},
                      tiff_case{"/Colors 2 /Columns 2", "\x0a\x14\x01\x02", "\x0a\x14\x0b\x16"},
                      tiff_case{"/BitsPerComponent 16 /Columns 2", std::string("\x00\xff\x00\x02", 4),
                                std::string("\x00\xff\x01\x01", 4)},
                      tiff_case{"/BitsPerComponent 4 /Columns 4", "\x11\x1f", "\x12\x32"},
                      tiff_case{"/BitsPerComponent 2 /Columns 4", "\x55", "\x6c"},
                      tiff_case{"/BitsPerComponent 1 /Columns 8", "\x80", "\xff"}));

TEST(Predictor, TiffRoundTripThreeColours) {
    std::string data = random_bytes(3 * 50 * 20, 3);
    result r = decode("<< /Filter /LZW /DecodeParms << /Predictor 2 /Colors 3 /Columns 50 >> >>",
                      lzw_encode(tiff_encode(data, 150, 3), 1));
    EXPECT_TRUE(r.bytes == data);
}

// ---------------------------------------------------------------------------
// Damaged data and filter dictionaries
// ---------------------------------------------------------------------------

struct case_ {
    const char *label;
    std::string dict, raw;
    int r;
    std::string bytes;
};

void PrintTo(const case_ &c, std::ostream *os) { *os << c.label; }

class Cases : public ::testing::TestWithParam<case_> {};

TEST_P(Cases, ResultAndBytes) {
    const case_ &c = GetParam();
    result r = decode(c.dict, c.raw);
    EXPECT_EQ(r.r, c.r);
    if (c.r == 1) {
        EXPECT_EQ(r.bytes, c.bytes);
    }
}

const std::string AHX = "<< /Filter /AHx >>", A85 = "<< /Filter /A85 >>", RL = "<< /Filter /RL >>",
                  LZW = "<< /Filter /LZW >>";

INSTANTIATE_TEST_SUITE_P(
    Damaged, Cases,
    ::testing::Values(
        // Refused: bytes no encoder writes.
        case_{"a85_bad_char", A85, "ab{c~>", -1, ""}, case_{"a85_lone_digit", A85, "!!!!!a~>", -1, ""},
        case_{"a85_overflow", A85, "s8W-\"~>", -1, ""}, case_{"a85_z_in_group", A85, "!z~>", -1, ""},
        case_{"ahx_bad_char", AHX, "4g>", -1, ""}, case_{"lzw_first_code", LZW, lzw_codes({256, 300, 257}), -1, ""},
        case_{"lzw_code_ahead", LZW, lzw_codes({256, 65, 270, 257}), -1, ""},
        case_{"png_row_type", "<< /Filter /LZW /DecodeParms << /Predictor 10 /Columns 3 >> >>",
              lzw_encode("\x05" "abc", 1), -1, ""},
        // Kept: what the data holds before its end.
        case_{"a85_no_marker", A85, a85_encode("Hello world").substr(0, 14), 1, "Hello world"},
        case_{"a85_bracket", A85, " <~" + a85_encode("Hi"), 1, "Hi"},
        case_{"ahx_odd", AHX, "414", 1, "A@"}, case_{"ahx_no_marker", AHX, "4 1\n42", 1, "AB"},
        case_{"ahx_after_end", AHX, "41>zz", 1, "A"}, case_{"rl_cut_literal", RL, "\x04" "ab", 1, "ab"},
        case_{"rl_cut_repeat", RL, std::string("\x00" "a\xfe", 3), 1, "a"},
        case_{"rl_after_end", RL, std::string("\x00" "a\x80\x00" "b", 5), 1, "a"},
        case_{"lzw_no_eod", LZW, lzw_codes({256, 65, 66}), 1, "AB"},
        case_{"lzw_after_eod", LZW, lzw_codes({256, 65, 257, 66}), 1, "A"},
        case_{"png_short_row", "<< /Filter /LZW /DecodeParms << /Predictor 10 /Columns 3 >> >>",
              lzw_encode(std::string("\x00" "abc\x01\x01\x01", 7), 1), 1, "abc\x01\x02"}),
    [](const auto &info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Dictionaries, Cases,
    ::testing::Values(
        case_{"no_filter", "<< /Length 5 >>", "4142>", 0, ""},
        case_{"filter_null", "<< /Filter null >>", "4142>", 0, ""},
        case_{"filter_empty", "<< /Filter [] >>", "4142>", 0, ""},
        case_{"only_nested", "<< /Resources << /Filter /AHx >> >>", "4142>", 0, ""},
        case_{"name_as_value", "<< /Foo /ASCIIHexDecode >>", "4142>", 0, ""},
        case_{"dct", "<< /Filter /DCTDecode >>", "4142>", -1, ""},
        case_{"unknown_in_chain", "<< /Filter [/AHx /JBIG2Decode] >>", "4142>", -1, ""},
        case_{"name_prefix", "<< /Filter /ASCIIHexDecodeX >>", "4142>", -1, ""},
        case_{"indirect_filter", "<< /Filter 5 0 R >>", "4142>", -1, ""},
        case_{"indirect_in_array", "<< /Filter [/AHx 7 0 R] >>", "4142>", -1, ""},
        case_{"filter_as_value", "<< /Type /Filter /Filter /AHx >>", "4142>", 1, "AB"},
        case_{"nested_first", "<< /DecodeParms << /Filter /LZW >> /Filter /AHx >>", "4142>", 1, "AB"},
        case_{"in_string", "<< /S (/Filter /LZW \\) x) /Filter /AHx >>", "4142>", 1, "AB"},
        case_{"in_comment", "<< % /Filter /LZW\n/Filter/AHx>>", "4142>", 1, "AB"},
        case_{"escaped_name", "<< /Filter /ASCIIHex#44ecode >>", "4142>", 1, "AB"},
        case_{"after_ref_value", "<< /Length 9 0 R /Filter /AHx >>", "4142>", 1, "AB"},
        // An indirect /DecodeParms is harmless for filters without parameters only.
        case_{"parms_ref_ahx", "<< /Filter /AHx /DecodeParms 9 0 R >>", "4142>", 1, "AB"},
        case_{"parms_ref_chain", "<< /Filter [/AHx /RL] /DecodeParms 9 0 R >>", "3030>", 1, "0"},
        case_{"parms_ref_lzw", "<< /Filter /LZW /DecodeParms 9 0 R >>", lzw_encode("A", 1), -1, ""},
        case_{"parms_elem_ref", "<< /Filter [/LZW] /DecodeParms [9 0 R] >>", lzw_encode("A", 1), -1, ""},
        case_{"parm_value_ref", "<< /Filter /LZW /DecodeParms << /Predictor 2 0 R >> >>", lzw_encode("A", 1), -1, ""},
        case_{"parms_dict_for_chain", "<< /Filter [/AHx /LZW] /DecodeParms << /Predictor 12 >> >>",
              ahx_encode(lzw_encode("A", 1)), -1, ""},
        case_{"default_dict_for_chain", "<< /Filter [/AHx /LZW] /DecodeParms << /EarlyChange 1 >> >>",
              ahx_encode(lzw_encode("A", 1)), 1, "A"},
        case_{"predictor_3", "<< /Filter /LZW /DecodeParms << /Predictor 3 >> >>", lzw_encode("A", 1), -1, ""},
        case_{"bpc_3", "<< /Filter /LZW /DecodeParms << /Predictor 2 /BitsPerComponent 3 >> >>",
              lzw_encode("A", 1), -1, ""},
        case_{"columns_0", "<< /Filter /LZW /DecodeParms << /Predictor 12 /Columns 0 >> >>", lzw_encode("A", 1), -1,
              ""},
        case_{"early_change_2", "<< /Filter /LZW /DecodeParms << /EarlyChange 2 >> >>", lzw_encode("A", 1), -1,
              ""}),
    [](const auto &info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Stream objects
// ---------------------------------------------------------------------------

TEST(DecodedStream, NoFilterPointsIntoTheFile) {
    stream_file f = make_stream("<< /Length 5 >>", "0 0 m");
    pdfp_buf buf{};
    int32_t count;
    const unsigned char *p = stream_bytes(f, &buf, &count);
    EXPECT_EQ(p, u(f.bytes) + f.obj.data_start);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(buf.data, nullptr);  // untouched
    f = make_stream("<< /Filter /DCTDecode >>", "0 0 m");
    f.obj.dict_pos = -1;  // no dictionary: the data as stored
    EXPECT_EQ(stream_bytes(f, &buf, &count), u(f.bytes) + f.obj.data_start);
    EXPECT_EQ(count, 5);
}

TEST(DecodedStream, NothingToDecodeIsNull) {
    pdfp_buf buf{};
    int32_t count;
    stream_file f = make_stream("<< /Filter /DCTDecode >>", "\xff\xd8\xff");
    EXPECT_EQ(stream_bytes(f, &buf, &count), nullptr);  // a filter we cannot apply fails the stream
    f = make_stream("<< /Filter /AHx >>", "4g>");
    EXPECT_EQ(stream_bytes(f, &buf, &count), nullptr);  // refused data too
    f = make_stream("<< >>", "");
    EXPECT_EQ(stream_bytes(f, &buf, &count), nullptr);  // stored length 0
    f = make_stream("<< >>", "abc");
    f.obj.data_end = -1;  // unresolved extent
    EXPECT_EQ(stream_bytes(f, &buf, &count), nullptr);
    f = make_stream("<< >>", "abc");
    f.obj.has_stream = 0;
    EXPECT_EQ(stream_bytes(f, &buf, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(buf.len, 0u);
    pdfp_buf_free(&buf);
}

class FlateStream : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!have_inflate()) GTEST_SKIP() << "Flate decoder not available";
    }
};

TEST_F(FlateStream, AppendsAfterWhatTheBufferHolds) {
    std::string data = sample_text(100);
    stream_file f = make_stream("<< /Filter /FlateDecode >>", zlib(data));
    pdfp_buf buf{};
    pdfp_buf_bytes(&buf, "1234567", 7);
    int32_t count;
    const unsigned char *p = stream_bytes(f, &buf, &count);
    EXPECT_EQ(p, buf.data + 7);
    EXPECT_EQ(buf.len, 107u);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(buf.data), 107), "1234567" + data);
    pdfp_buf_free(&buf);

    p = stream_bytes(f, &buf, &count);  // a buffer without storage gets some
    EXPECT_EQ(p, buf.data);
    EXPECT_GE(buf.cap, PDFP_BUF_INITIAL);
    EXPECT_EQ(count, 100);
    pdfp_buf_free(&buf);
}

TEST_F(FlateStream, RatiosBeyondTwentyDecodeThroughTheRetry) {
    std::string block = random_bytes(1000, 1), repeated;
    for (int k = 0; k < 100; ++k) repeated += block;
    // About 70:1, 950:1 and 1024:1, the last close to what deflate can reach.
    for (std::string data : {repeated, sample_text(400) + std::string(300000, ' '), std::string(3000000, 'q')}) {
        std::string z = zlib_compress(data, 9);
        ASSERT_GT(data.size(), 20 * z.size() + 4096);
        stream_file f = make_stream("<< /Filter /FlateDecode >>", z);
        pdfp_buf buf{};
        int32_t count;
        const unsigned char *p = stream_bytes(f, &buf, &count);
        ASSERT_NE(p, nullptr) << data.size() / z.size() << ":1";
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(p), count) == data);
        pdfp_buf_free(&buf);
    }
}

TEST_F(FlateStream, DamageKeepsTheBytesBeforeItAndCutsFail) {
    // A stored block "abc", then a block of the reserved type 3.
    std::string damaged("\x78\x9c\x00\x03\x00\xfc\xff" "abc\x07", 11);
    result r = decode("<< /Filter /FlateDecode >>", damaged);
    EXPECT_EQ(r.r, 1);
    EXPECT_EQ(r.bytes, "abc");
    std::string z = zlib(sample_text(5000));
    EXPECT_EQ(decode("<< /Filter /FlateDecode >>", z.substr(0, z.size() / 2)).r, -1);  // len kept
    EXPECT_EQ(decode("<< /Filter /FlateDecode >>", "plain text").r, -1);
    // Stored bytes that merely precede a zlib stream in a chain are not inflated as they stand.
    EXPECT_EQ(decode("<< /Filter [/AHx /FlateDecode] >>", z).r, -1);
}

TEST_F(FlateStream, PredictorsAreUndone) {
    std::string rows = random_bytes(12 * 30, 5);
    stream_file f = make_stream("<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 12 >> >>",
                                zlib(png_encode(rows, 12, 1, {2})));
    pdfp_buf buf{};
    int32_t count;
    const unsigned char *p = stream_bytes(f, &buf, &count);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::string(reinterpret_cast<const char *>(p), count) == rows);
    pdfp_buf_free(&buf);
}

// ---------------------------------------------------------------------------
// Independent checks: qpdf decodes what the encoders wrote, and our decoding
// of every stream of the corpus agrees with qpdf's.
// ---------------------------------------------------------------------------

std::string qpdf_stream(const std::string &path, int num) {
    std::string out;
    int st = run_command("qpdf --show-object=" + std::to_string(num) + " --filtered-stream-data " + path +
                             " 2>/dev/null",
                         &out);
    return st == 0 || st == 3 ? out : "<qpdf failed>";
}

TEST(Oracle, QpdfReadsTheTestEncodings) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    std::string data = sample_text(60000) + random_bytes(3000, 11);
    std::string rgb = random_bytes(3 * 40 * 25, 9);
    std::vector<std::pair<std::string, std::string>> streams = {
        {"/Filter /LZWDecode", lzw_encode(data, 1)},
        {"/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>", lzw_encode(data, 0)},
        {"/Filter /ASCII85Decode", a85_encode(data)},
        {"/Filter /ASCIIHexDecode", ahx_encode(data)},
        {"/Filter /RunLengthDecode", rl_encode(data + std::string(1000, 'x'))},
        {"/Filter /LZWDecode /DecodeParms << /Predictor 15 /Colors 3 /Columns 40 >>",
         lzw_encode(png_encode(rgb, 120, 3, {0, 1, 2, 3, 4}), 1)},
        {"/Filter /LZWDecode /DecodeParms << /Predictor 2 /Colors 3 /Columns 40 >>",
         lzw_encode(tiff_encode(rgb, 120, 3), 1)},
    };
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"};
    for (auto &s : streams) bodies.push_back(stream_body(s.first, s.second));
    std::string path = temp_path("encodings.pdf");
    write_file(path, make_pdf(bodies));
    std::vector<std::string> expect = {data, data, data, data, data + std::string(1000, 'x'), rgb, rgb};
    for (size_t k = 0; k < streams.size(); ++k)
        EXPECT_TRUE(qpdf_stream(path, static_cast<int>(k + 3)) == expect[k]) << streams[k].first;
}

TEST(Oracle, CorpusStreamsMatchQpdf) {
    if (!have_tool("qpdf")) GTEST_SKIP() << "qpdf not installed";
    if (!have_inflate()) GTEST_SKIP() << "Flate decoder not available";
    std::string list;
    run_command("cut -f1 " + corpus_file("MANIFEST.tsv") + " | grep '\\.pdf$'", &list);
    int compared = 0;
    for (size_t at = 0, nl; (nl = list.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string name = list.substr(at, nl - at), path = corpus_file(name);
        pdfp_doc doc{};
        if (load_bytes(read_file(path), &doc) != 0) continue;  // encrypted, or not for this test
        int plain = 0;
        for (int32_t i = 0; i < doc.objs.count; ++i) {
            const pdfp_obj &o = doc.objs.items[i];
            if (!o.has_stream || o.in_objstm || o.gen != 0) continue;
            pdfp_filter_chain chain;
            int32_t end = o.stream_pos > 0 ? o.stream_pos : doc.size;
            if (parse_filters(doc.data, o.dict_pos, end, &chain) <= 0) continue;
            // Every chain and predictor, and a sample of the plain Flate streams.
            bool is_plain = chain.count == 1 && chain.f[0].kind == PDFP_FLATE && chain.f[0].predictor == 1;
            if (is_plain && ++plain > 6) continue;
            pdfp_buf buf{};
            int32_t count = 0;
            const unsigned char *p = pdfp_decoded_stream(&o, doc.data, doc.size, &buf, &count);
            std::string ours = p ? std::string(reinterpret_cast<const char *>(p), count) : "<null>";
            EXPECT_TRUE(ours == qpdf_stream(path, o.num)) << name << " object " << o.num;
            pdfp_buf_free(&buf);
            ++compared;
        }
        pdfp_doc_free(&doc);
    }
    EXPECT_GT(compared, 50);
}

}  // namespace
