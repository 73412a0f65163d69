// cid_font: the glyph numbering, the file and the object texts of a
// TrueType font embedded for the labels.
#include "cid_font.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "messages.h"
#include "truetype_subset.h"
#include "utf8.h"

namespace {

// A subset's name begins with six capitals and a plus sign.
constexpr int SUBSET_TAG_LENGTH = 6;
// Descriptor flags.
constexpr int FLAG_FIXED_PITCH = 1;
constexpr int FLAG_SERIF = 2;
constexpr int FLAG_SYMBOLIC = 4;  // glyphs outside the standard Latin set, as every CIDFont may show
constexpr int FLAG_ITALIC = 64;
// PANOSE: family 2 is Latin text; its serif styles 2..10 have serifs, 11 on are sans.
constexpr uint8_t PANOSE_LATIN_TEXT = 2;
constexpr uint8_t PANOSE_SERIF_FIRST = 2;
constexpr uint8_t PANOSE_SERIF_LAST = 10;
constexpr uint16_t MAC_STYLE_ITALIC = 2;
constexpr uint16_t FS_SELECTION_ITALIC = 1;
constexpr uint16_t DEFAULT_WEIGHT = 400;
// A CMap's bfchar block holds at most 100 entries.
constexpr size_t CMAP_BLOCK = 100;

int scaled(const tt_font *f, int v) { return static_cast<int>(std::lround(v * 1000.0 / f->units_per_em)); }

bool no_glyph(const tt_font *f, char32_t c, std::string *error) {
    return tt_fail(error, MSG_FONT_NO_GLYPH, f->name.c_str(), utf8_char_name(c).c_str());
}

// The distinct characters, ascending, each with its glyph in the face.
bool glyphs_of_chars(const tt_font *f, const std::u32string &chars, std::vector<std::pair<char32_t, uint16_t>> *found,
                     std::string *error) {
    std::u32string distinct = chars;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    for (char32_t c : distinct) {
        uint16_t g = 0;
        if (!tt_glyph_of(f, c, &g, error)) return false;
        if (g == 0) return no_glyph(f, c, error);
        found->emplace_back(c, g);
    }
    return true;
}

// Six capitals from the face's name and the glyph list (FNV-1a), so that
// the same labels in the same font give the same name, and other glyph
// sets other names.
std::string subset_tag(const tt_font *f, const std::vector<uint16_t> &glyphs) {
    uint64_t h = 0xcbf29ce484222325u;
    auto mix = [&h](unsigned char b) { h = (h ^ b) * 0x100000001b3u; };
    for (char c : f->postscript_name) mix(static_cast<unsigned char>(c));
    for (uint16_t g : glyphs) mix(static_cast<unsigned char>(g >> 8)), mix(static_cast<unsigned char>(g));
    std::string tag;
    for (int k = 0; k < SUBSET_TAG_LENGTH; ++k, h /= 26) tag += static_cast<char>('A' + h % 26);
    return tag;
}

// The PostScript name as a PDF name may carry it without escapes.
std::string base_name(const tt_font *f) {
    std::string name;
    for (char c : f->postscript_name)
        if (c > 0x20 && c < 0x7F && !std::strchr("()<>[]{}/%#", c)) name += c;
    return name.empty() ? "TrueTypeFont" : name;
}

int cap_height_of(const tt_font *f, int ascent) {
    if (f->cap_height > 0) return scaled(f, f->cap_height);
    uint16_t g = 0;
    uint32_t offset = 0, length = 0;
    std::string ignored;
    if (tt_glyph_of(f, 'H', &g, &ignored) && g && tt_glyph_bytes(f, g, &offset, &length, &ignored) && length)
        return scaled(f, tt_s16(f->data + offset + 8));  // the outline's yMax
    return ascent;
}

cid_descriptor describe(const tt_font *f) {
    cid_descriptor d{};
    bool italic = f->italic_angle != 0 || (f->mac_style & MAC_STYLE_ITALIC) || (f->fs_selection & FS_SELECTION_ITALIC);
    bool serif = f->panose[0] == PANOSE_LATIN_TEXT && f->panose[1] >= PANOSE_SERIF_FIRST &&
                 f->panose[1] <= PANOSE_SERIF_LAST;
    d.flags = FLAG_SYMBOLIC | (f->fixed_pitch ? FLAG_FIXED_PITCH : 0) | (serif ? FLAG_SERIF : 0) |
              (italic ? FLAG_ITALIC : 0);
    d.bbox[0] = scaled(f, f->x_min);
    d.bbox[1] = scaled(f, f->y_min);
    d.bbox[2] = scaled(f, f->x_max);
    d.bbox[3] = scaled(f, f->y_max);
    d.italic_angle = f->italic_angle / 65536.0;
    d.ascent = scaled(f, f->ascender ? f->ascender : f->typo_ascender);
    d.descent = scaled(f, f->descender ? f->descender : f->typo_descender);
    d.cap_height = cap_height_of(f, d.ascent);
    // The usual estimate: 10 for the lightest weight, 230 for the heaviest.
    int weight = f->weight_class >= 1 && f->weight_class <= 1000 ? f->weight_class : DEFAULT_WEIGHT;
    d.stem_v = static_cast<int>(std::lround(10 + 220 * (weight - 50) / 900.0));
    return d;
}

// The glyphs the file holds and the code of each face glyph: a subset
// numbered from 0, or the whole face under its own ids.
bool number_glyphs(const tt_font *f, bool whole, const std::vector<std::pair<char32_t, uint16_t>> &found,
                   cid_font *font, std::vector<uint16_t> *face_glyphs, std::string *error) {
    for (const auto &entry : found) face_glyphs->push_back(entry.second);
    if (whole) {
        face_glyphs->push_back(0);
        std::sort(face_glyphs->begin(), face_glyphs->end());
        face_glyphs->erase(std::unique(face_glyphs->begin(), face_glyphs->end()), face_glyphs->end());
        tt_face_file(f, &font->file);
        return true;
    }
    return tt_glyph_closure(f, face_glyphs, error) && tt_subset(f, *face_glyphs, &font->file, error);
}

}  // namespace

bool cid_font_make(const tt_font *face, const std::u32string &chars, cid_font *font, std::string *error) {
    *font = cid_font{};
    tt_embedding how;
    std::vector<std::pair<char32_t, uint16_t>> found;
    std::vector<uint16_t> face_glyphs;  // in code order
    if (!tt_embedding_of(face, &how, error) || !glyphs_of_chars(face, chars, &found, error) ||
        !number_glyphs(face, how == TT_EMBED_WHOLE, found, font, &face_glyphs, error))
        return false;
    font->whole = how == TT_EMBED_WHOLE;
    for (uint16_t g : face_glyphs) {
        uint16_t code = font->whole ? g : static_cast<uint16_t>(font->glyphs.size());
        font->glyphs.push_back({code, scaled(face, tt_advance(face, g)), 0});
    }
    for (const auto &[c, g] : found) {
        size_t k = std::lower_bound(face_glyphs.begin(), face_glyphs.end(), g) - face_glyphs.begin();
        cid_glyph &glyph = font->glyphs[k];
        if (glyph.unicode == 0) glyph.unicode = c;  // a glyph of several characters reads as the first
        font->chars.push_back({c, glyph.code, glyph.width});
    }
    font->base_font = font->whole ? base_name(face) : subset_tag(face, face_glyphs) + "+" + base_name(face);
    font->descriptor = describe(face);
    return true;
}

bool cid_font_show(const cid_font *font, const std::u32string &text, std::string *hex, double *width,
                   std::string *error) {
    *hex = "<";
    *width = 0;
    for (char32_t c : text) {
        auto it = std::lower_bound(font->chars.begin(), font->chars.end(), c,
                                   [](const cid_char &e, char32_t v) { return e.unicode < v; });
        if (it == font->chars.end() || it->unicode != c)
            return tt_fail(error, MSG_FONT_NO_GLYPH, font->base_font.c_str(), utf8_char_name(c).c_str());
        char code[8];
        std::snprintf(code, sizeof code, "%04X", it->code);
        *hex += code;
        *width += it->width / 1000.0;  // summed as the label's width
    }
    *hex += ">";
    return true;
}

std::string cid_font_widths(const cid_font *font) {
    std::string w = "[";
    for (size_t k = 0; k < font->glyphs.size(); ++k) {
        bool run_goes_on = k > 0 && font->glyphs[k].code == font->glyphs[k - 1].code + 1;
        if (!run_goes_on) w += (k ? "] " : "") + std::to_string(font->glyphs[k].code) + " [";
        else w += ' ';
        w += std::to_string(font->glyphs[k].width);
    }
    return w + (font->glyphs.empty() ? "]" : "]]");
}

std::string cid_font_to_unicode(const cid_font *font) {
    std::vector<std::pair<uint16_t, char32_t>> map;
    for (const cid_glyph &g : font->glyphs)
        if (g.unicode) map.emplace_back(g.code, g.unicode);
    std::string t =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    for (size_t k = 0; k < map.size(); k += CMAP_BLOCK) {
        size_t n = std::min(CMAP_BLOCK, map.size() - k);
        t += std::to_string(n) + " beginbfchar\n";
        for (size_t i = k; i < k + n; ++i) {
            char line[32];
            char32_t c = map[i].second;
            if (c < 0x10000)
                std::snprintf(line, sizeof line, "<%04X> <%04X>\n", map[i].first, unsigned(c));
            else  // UTF-16: a surrogate pair
                std::snprintf(line, sizeof line, "<%04X> <%04X%04X>\n", map[i].first,
                              unsigned(0xD800 + ((c - 0x10000) >> 10)), unsigned(0xDC00 + ((c - 0x10000) & 0x3FF)));
            t += line;
        }
        t += "endbfchar\n";
    }
    return t + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}
