// label_font: choosing, measuring and writing the labels' font.
#include "label_font.h"

#include <cstdio>

#include "deflate.h"
#include "label.h"
#include "messages.h"
#include "truetype_subset.h"
#include "utf8.h"

namespace {

// Type0 font, CIDFont, ToUnicode map, descriptor, font file.
constexpr int CID_FONT_OBJECTS = 5;

std::u32string decoded(const std::string &text) {
    std::u32string chars;
    size_t bad_at = 0;
    utf8_decode(text.data(), text.size(), &chars, &bad_at);  // the format was checked when it was read
    return chars;
}

// The two-byte codes of a hexadecimal string as a literal string, half as
// long: every byte as it is but the three that need a backslash, and CR,
// which a reader would take for an end of line.
std::string literal_of_hex(const std::string &hex) {
    std::string s = "(";
    for (size_t k = 1; k + 2 < hex.size(); k += 2) {
        char b = static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
        if (b == '(' || b == ')' || b == '\\') s += '\\';
        if (b == '\r') s += "\\r";
        else s += b;
    }
    return s + ")";
}

bool read_font_file(const char *path, std::vector<unsigned char> *bytes) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes->size() + n > MAX_FILE_BYTES) break;
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    bool ok = !std::ferror(f) && !bytes->empty();
    std::fclose(f);
    return ok;
}

// A Flate-compressed stream object with the extra dictionary entries.
void append_flate_stream(out_buf *o, int64_t num, const std::string &entries, const unsigned char *data, size_t n) {
    std::vector<unsigned char> packed(static_cast<size_t>(deflate_bound(n)));
    uint64_t produced = 0;
    if (deflate_compress(data, n, packed.data(), packed.size(), &produced, &o->deflate_tables) != 0) {
        o->failed = true;
        return;
    }
    begin_stream_object(o, num);
    out_str(o, "<< /Length ");
    out_int(o, static_cast<int64_t>(produced));
    out_str(o, entries + " /Filter /FlateDecode >> stream\n");
    out_bytes(o, packed.data(), produced);
    out_str(o, "\nendstream\n");
    end_object(o);
}

void append_cid_font(const cid_font *f, int64_t first, out_buf *o) {
    std::string name = "/" + f->base_font;
    begin_object(o, first);
    out_str(o, "<< /Type /Font /Subtype /Type0 /BaseFont " + name + " /Encoding /Identity-H /DescendantFonts [");
    out_ref(o, first + 1);
    out_str(o, "] /ToUnicode ");
    out_ref(o, first + 2);
    out_str(o, " >>\n");
    end_object(o);
    begin_object(o, first + 1);
    out_str(o, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont " + name +
                   " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor ");
    out_ref(o, first + 3);
    out_str(o, " /W " + cid_font_widths(f) + " /CIDToGIDMap /Identity >>\n");
    end_object(o);
    std::string map = cid_font_to_unicode(f);
    append_flate_stream(o, first + 2, "", reinterpret_cast<const unsigned char *>(map.data()), map.size());
    const cid_descriptor &d = f->descriptor;
    char values[400];
    std::snprintf(values, sizeof values,
                  " /Flags %d /FontBBox [%d %d %d %d] /ItalicAngle %s /Ascent %d /Descent %d /CapHeight %d /StemV %d"
                  " /FontFile2 ",
                  d.flags, d.bbox[0], d.bbox[1], d.bbox[2], d.bbox[3], pdfp_fmt_num(d.italic_angle).c_str(), d.ascent,
                  d.descent, d.cap_height, d.stem_v);
    begin_object(o, first + 3);
    out_str(o, "<< /Type /FontDescriptor /FontName " + name + values);
    out_ref(o, first + 4);
    out_str(o, " >>\n");
    end_object(o);
    append_flate_stream(o, first + 4, " /Length1 " + std::to_string(f->file.size()), f->file.data(), f->file.size());
}

}  // namespace

bool label_font_open(const char *name, int index, const std::vector<std::string> &labels, label_font *font,
                     std::string *error) {
    *font = label_font{};
    if (!name || !*name) name = "Helvetica";
    std::u32string chars;
    for (const std::string &label : labels) chars += decoded(label);
    if ((font->standard = standard_font_named(name))) {
        std::string codes;
        double width = 0;
        return standard_font_show(font->standard, chars, &codes, &width, error);
    }
    std::vector<unsigned char> bytes;
    if (!read_font_file(name, &bytes)) return tt_fail(error, MSG_FONT_CANNOT_OPEN, name);
    tt_font face;
    return tt_open(bytes.data(), bytes.size(), index, name, &face, error) &&
           cid_font_make(&face, chars, &font->cid, error);
}

bool label_font_show(const label_font *font, const std::string &text, std::string *operand, double *width,
                     std::string *error) {
    std::u32string chars = decoded(text);
    if (!font->standard) {
        std::string hex;
        if (!cid_font_show(&font->cid, chars, &hex, width, error)) return false;
        *operand = literal_of_hex(hex);
        return true;
    }
    std::string codes;
    if (!standard_font_show(font->standard, chars, &codes, width, error)) return false;
    *operand = label_literal(codes);
    return true;
}

int label_font_object_count(const label_font *font) { return font->standard ? 1 : CID_FONT_OBJECTS; }

void label_font_append(const label_font *font, int64_t first, out_buf *o) {
    if (!font->standard) return append_cid_font(&font->cid, first, o);
    begin_object(o, first);
    out_str(o, "<< /Type /Font /Subtype /Type1 /BaseFont /");
    out_str(o, font->standard->name);
    out_str(o, font->standard->win_ansi ? " /Encoding /WinAnsiEncoding >>\n" : " >>\n");
    end_object(o);
}
