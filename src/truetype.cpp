// truetype: the reader. One function per part of the format, in the order
// tt_open meets them: the collection header, the table directory, head,
// maxp and hhea, OS/2, post, name, the character map; then the lookups
// (characters, metrics, glyph outlines, components).
//
// Format notes: all numbers are big-endian. Offsets in the table directory
// count from the start of the file, also inside a collection. A table's
// recorded checksum is not checked: fonts in use often carry wrong ones,
// and every field we read is range-checked instead.
#include "truetype.h"

#include <cstdarg>
#include <cstdio>

#include "messages.h"

namespace {

// Sizes of the fixed parts of the tables, as the format defines them.
constexpr uint32_t SFNT_HEADER = 12;        // version, numTables, search fields
constexpr uint32_t SFNT_RECORD = 16;        // tag, checksum, offset, length
constexpr uint32_t TTC_HEADER = 12;         // 'ttcf', version, numFonts
constexpr uint32_t HEAD_LENGTH = 54;
constexpr uint32_t HEAD_MAGIC = 0x5F0F3CF5;
constexpr uint32_t MAXP_MIN_LENGTH = 6;
constexpr uint32_t HHEA_LENGTH = 36;
constexpr uint32_t OS2_MIN_LENGTH = 78;     // version 0
constexpr uint32_t OS2_CAP_HEIGHT_END = 90; // sCapHeight, from version 2
constexpr uint32_t POST_HEADER = 32;
constexpr uint32_t GLYPH_HEADER = 10;       // numberOfContours and the box
constexpr uint32_t CMAP4_HEADER = 14;
constexpr uint32_t CMAP12_HEADER = 16;
constexpr uint32_t CMAP12_GROUP = 12;
constexpr size_t MAX_PS_NAME = 63;          // PostScript's limit on a name

// Composite glyph flags.
constexpr uint16_t ARGS_ARE_WORDS = 0x0001;
constexpr uint16_t HAVE_SCALE = 0x0008;
constexpr uint16_t MORE_COMPONENTS = 0x0020;
constexpr uint16_t HAVE_XY_SCALE = 0x0040;
constexpr uint16_t HAVE_TWO_BY_TWO = 0x0080;

// A tag as text for messages; bytes that are not printable become '?'.
std::string tag_text(uint32_t tag) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>(tag >> shift & 0xFF);
        s += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return s;
}

const unsigned char *at(const tt_font *f, uint64_t offset) { return f->data + offset; }

bool table_fits(const tt_table &t, uint64_t from, uint64_t n) { return from + n <= t.length; }

bool short_table(const tt_font *f, const char *tag, std::string *error) {
    return tt_fail(error, MSG_FONT_TABLE_SHORT, f->name.c_str(), tag);
}

bool bad_value(const tt_font *f, const char *tag, std::string *error) {
    return tt_fail(error, MSG_FONT_BAD_VALUE, f->name.c_str(), tag);
}

// ---- collection header and table directory --------------------------------

// The offset of face's table directory.
bool face_directory(const tt_font *f, int face, uint32_t *dir, std::string *error) {
    const char *name = f->name.c_str();
    if (f->size < SFNT_HEADER) return tt_fail(error, MSG_FONT_NOT_TRUETYPE, name);
    uint32_t faces = tt_face_count(f->data, f->size);
    if (faces == 0) return tt_fail(error, MSG_FONT_NOT_TRUETYPE, name);
    if (face < 0 || static_cast<uint32_t>(face) >= faces)
        return tt_fail(error, MSG_FONT_NO_FACE, name, face, faces > 2147483647u ? 2147483647 : int(faces));
    *dir = tt_u32(at(f, 0)) == tt_tag("ttcf") ? tt_u32(at(f, TTC_HEADER + 4u * uint32_t(face))) : 0;
    if (uint64_t(*dir) + SFNT_HEADER > f->size) return tt_fail(error, MSG_FONT_NOT_TRUETYPE, name);
    uint32_t version = tt_u32(at(f, *dir));
    if (version == tt_tag("OTTO")) return tt_fail(error, MSG_FONT_CFF, name);
    if (version != 0x00010000 && version != tt_tag("true")) return tt_fail(error, MSG_FONT_NOT_TRUETYPE, name);
    return true;
}

// The field of *f that holds the table `tag`, or null for a table we do not read.
tt_table *table_slot(tt_font *f, uint32_t tag) {
    static const std::pair<uint32_t, tt_table tt_font::*> slots[] = {
        {tt_tag("head"), &tt_font::head}, {tt_tag("hhea"), &tt_font::hhea}, {tt_tag("maxp"), &tt_font::maxp},
        {tt_tag("hmtx"), &tt_font::hmtx}, {tt_tag("loca"), &tt_font::loca}, {tt_tag("glyf"), &tt_font::glyf},
        {tt_tag("cmap"), &tt_font::cmap}, {tt_tag("OS/2"), &tt_font::os2}, {tt_tag("post"), &tt_font::post},
        {tt_tag("name"), &tt_font::names}, {tt_tag("cvt "), &tt_font::cvt}, {tt_tag("fpgm"), &tt_font::fpgm},
        {tt_tag("prep"), &tt_font::prep},
    };
    for (const auto &[t, field] : slots)
        if (t == tag) return &(f->*field);
    return nullptr;
}

bool read_directory(tt_font *f, uint32_t dir, std::string *error) {
    uint32_t count = tt_u16(at(f, dir + 4));
    if (uint64_t(dir) + SFNT_HEADER + uint64_t(count) * SFNT_RECORD > f->size)
        return tt_fail(error, MSG_FONT_NOT_TRUETYPE, f->name.c_str());
    bool has_cff = false;
    for (uint32_t k = 0; k < count; ++k) {
        const unsigned char *r = at(f, uint64_t(dir) + SFNT_HEADER + uint64_t(k) * SFNT_RECORD);
        uint32_t tag = tt_u32(r);
        tt_table t{tt_u32(r + 8), tt_u32(r + 12), true};
        if (uint64_t(t.offset) + t.length > f->size)
            return tt_fail(error, MSG_FONT_TABLE_PAST_END, f->name.c_str(), tag_text(tag).c_str());
        has_cff = has_cff || tag == tt_tag("CFF ") || tag == tt_tag("CFF2");
        f->tables.emplace_back(tag, t);
        tt_table *slot = table_slot(f, tag);
        if (slot && !slot->present) *slot = t;  // a repeated tag: the first one counts
    }
    if (!f->glyf.present && has_cff) return tt_fail(error, MSG_FONT_CFF, f->name.c_str());
    const std::pair<const char *, const tt_table *> needed[] = {
        {"head", &f->head}, {"maxp", &f->maxp}, {"hhea", &f->hhea},
        {"hmtx", &f->hmtx}, {"loca", &f->loca}, {"glyf", &f->glyf}};
    for (const auto &[tag, table] : needed)
        if (!table->present) return tt_fail(error, MSG_FONT_NO_TABLE, f->name.c_str(), tag);
    return true;
}

// ---- head, maxp, hhea, hmtx, loca ------------------------------------------

bool read_head(tt_font *f, std::string *error) {
    if (f->head.length < HEAD_LENGTH) return short_table(f, "head", error);
    const unsigned char *h = at(f, f->head.offset);
    f->units_per_em = tt_u16(h + 18);
    f->x_min = tt_s16(h + 36);
    f->y_min = tt_s16(h + 38);
    f->x_max = tt_s16(h + 40);
    f->y_max = tt_s16(h + 42);
    f->mac_style = tt_u16(h + 44);
    int16_t loca_format = tt_s16(h + 50);
    if (tt_u32(h + 12) != HEAD_MAGIC || f->units_per_em < TT_MIN_UNITS_PER_EM ||
        f->units_per_em > TT_MAX_UNITS_PER_EM || (loca_format != 0 && loca_format != 1))
        return bad_value(f, "head", error);
    f->long_loca = loca_format == 1;
    return true;
}

bool read_metrics(tt_font *f, std::string *error) {
    if (f->maxp.length < MAXP_MIN_LENGTH) return short_table(f, "maxp", error);
    f->glyph_count = tt_u16(at(f, f->maxp.offset + 4));
    if (f->glyph_count == 0) return bad_value(f, "maxp", error);
    if (f->hhea.length < HHEA_LENGTH) return short_table(f, "hhea", error);
    const unsigned char *h = at(f, f->hhea.offset);
    f->ascender = tt_s16(h + 4);
    f->descender = tt_s16(h + 6);
    f->line_gap = tt_s16(h + 8);
    f->hmetric_count = tt_u16(h + 34);
    if (f->hmetric_count == 0) return bad_value(f, "hhea", error);
    // More metrics than glyphs: the extra ones are never read.
    if (f->hmetric_count > f->glyph_count) f->hmetric_count = f->glyph_count;
    // The side bearings of the glyphs past hmetric_count may be missing:
    // tt_left_side_bearing falls back on the outline's box.
    if (f->hmtx.length < 4u * f->hmetric_count) return short_table(f, "hmtx", error);
    uint64_t entry = f->long_loca ? 4 : 2;
    if (f->loca.length < (uint64_t(f->glyph_count) + 1) * entry) return short_table(f, "loca", error);
    return true;
}

// ---- OS/2, post, name ------------------------------------------------------

bool read_os2(tt_font *f, std::string *error) {
    if (!f->os2.present) return true;
    if (f->os2.length < OS2_MIN_LENGTH) return short_table(f, "OS/2", error);
    const unsigned char *o = at(f, f->os2.offset);
    f->has_os2 = true;
    f->weight_class = tt_u16(o + 4);
    f->fs_type = tt_u16(o + 8);
    for (int k = 0; k < 10; ++k) f->panose[k] = o[32 + k];
    f->fs_selection = tt_u16(o + 62);
    f->typo_ascender = tt_s16(o + 68);
    f->typo_descender = tt_s16(o + 70);
    if (tt_u16(o) >= 2 && f->os2.length >= OS2_CAP_HEIGHT_END) f->cap_height = tt_s16(o + 88);
    return true;
}

bool read_post(tt_font *f, std::string *error) {
    if (!f->post.present) return true;
    if (f->post.length < POST_HEADER) return short_table(f, "post", error);
    const unsigned char *p = at(f, f->post.offset);
    f->italic_angle = static_cast<int32_t>(tt_u32(p + 4));
    f->fixed_pitch = tt_u32(p + 12) != 0;
    return true;
}

// The PostScript name in ASCII from one name record's bytes: UTF-16BE for
// the Unicode and Windows platforms, single bytes for Macintosh.
std::string ascii_name(const unsigned char *p, uint32_t n, bool wide) {
    std::string s;
    for (uint32_t k = wide ? 1 : 0; k < n && s.size() < MAX_PS_NAME; k += wide ? 2 : 1)
        if (p[k] > 0x20 && p[k] < 0x7F && (!wide || p[k - 1] == 0)) s += static_cast<char>(p[k]);
    return s;
}

// Name ID 6, preferring Windows records, then Macintosh, then Unicode. A
// damaged name table only costs the name: it serves nothing but display.
void read_postscript_name(tt_font *f) {
    const tt_table &t = f->names;
    if (!t.present || t.length < 6) return;
    const unsigned char *n = at(f, t.offset);
    uint32_t count = tt_u16(n + 2), strings = tt_u16(n + 4);
    int best_rank = 3;
    for (uint32_t k = 0; k < count && table_fits(t, 6 + 12 * uint64_t(k), 12); ++k) {
        const unsigned char *r = n + 6 + 12 * k;
        uint16_t platform = tt_u16(r), name_id = tt_u16(r + 6);
        uint32_t length = tt_u16(r + 8), offset = strings + tt_u16(r + 10);
        int rank = platform == 3 ? 0 : platform == 1 ? 1 : platform == 0 ? 2 : 3;
        if (name_id != 6 || rank >= best_rank || !table_fits(t, offset, length)) continue;
        std::string s = ascii_name(n + offset, length, platform != 1);
        if (s.empty()) continue;
        f->postscript_name = s;
        best_rank = rank;
    }
}

// ---- cmap ------------------------------------------------------------------

// Format 4: segments of 16-bit codes, ascending and apart, or the binary
// search that looks characters up would miss some (and a reader that walks
// them in order could run on forever).
bool check_cmap4(const tt_font *f) {
    uint64_t a = f->cmap_at;
    if (a + CMAP4_HEADER > f->cmap_end) return false;
    uint32_t seg2 = tt_u16(at(f, a + 6));
    if (seg2 == 0 || seg2 % 2 != 0 || a + 16 + 4 * uint64_t(seg2) > f->cmap_end) return false;
    const unsigned char *ends = at(f, a + 14), *starts = at(f, a + 16 + seg2);
    int64_t previous_end = -1;
    for (uint32_t k = 0; k < seg2; k += 2) {
        uint16_t start = tt_u16(starts + k), end = tt_u16(ends + k);
        if (start > end || start <= previous_end) return false;
        previous_end = end;
    }
    return true;
}

// Format 12: groups of code points, ascending and apart.
bool check_cmap12(const tt_font *f) {
    uint64_t a = f->cmap_at;
    if (a + CMAP12_HEADER > f->cmap_end) return false;
    uint64_t groups = tt_u32(at(f, a + 12));
    if (a + CMAP12_HEADER + groups * CMAP12_GROUP > f->cmap_end) return false;
    int64_t previous_end = -1;
    for (uint64_t k = 0; k < groups; ++k) {
        const unsigned char *g = at(f, a + CMAP12_HEADER + k * CMAP12_GROUP);
        uint32_t start = tt_u32(g), end = tt_u32(g + 4);
        if (start > end || end > TT_MAX_CHAR || start <= previous_end) return false;
        previous_end = end;
    }
    return true;
}

// How much we want a subtable: 0 best; -1 not a Unicode map we read.
int cmap_rank(uint16_t platform, uint16_t encoding, uint16_t format) {
    if (format == 12) return platform == 3 && encoding == 10 ? 0 : platform == 0 ? 1 : -1;
    if (format == 4) return platform == 3 && encoding == 1 ? 2 : platform == 0 ? 3 : -1;
    return -1;
}

bool choose_cmap(tt_font *f, std::string *error) {
    const tt_table &t = f->cmap;
    if (!t.present) return true;  // fonts made for embedding carry none
    const char *name = f->name.c_str();
    if (t.length < 4) return tt_fail(error, MSG_FONT_BAD_CMAP, name);
    uint32_t count = tt_u16(at(f, t.offset + 2));
    if (!table_fits(t, 4, 8 * uint64_t(count))) return tt_fail(error, MSG_FONT_BAD_CMAP, name);
    int best = 4;
    for (uint32_t k = 0; k < count; ++k) {
        const unsigned char *r = at(f, t.offset + 4 + 8 * k);
        uint32_t offset = tt_u32(r + 4);
        if (!table_fits(t, offset, 2)) return tt_fail(error, MSG_FONT_BAD_CMAP, name);
        uint16_t format = tt_u16(at(f, uint64_t(t.offset) + offset));
        int rank = cmap_rank(tt_u16(r), tt_u16(r + 2), format);
        if (rank < 0 || rank >= best) continue;
        best = rank;
        f->cmap_format = format;
        f->cmap_at = t.offset + offset;
    }
    if (best == 4) return true;
    // The 16-bit length of a large format 4 subtable overflows in real
    // fonts, so the cmap table's end bounds every subtable instead.
    f->cmap_end = t.offset + t.length;
    bool ok = f->cmap_format == 4 ? check_cmap4(f) : check_cmap12(f);
    return ok || tt_fail(error, MSG_FONT_BAD_CMAP, name);
}

// Format 4 lookup of c (below 0x10000): 0 when no segment holds it, -1 when
// the segment points outside the map.
int32_t cmap4_glyph(const tt_font *f, uint32_t c) {
    uint64_t a = f->cmap_at;
    uint32_t seg2 = tt_u16(at(f, a + 6));
    const unsigned char *ends = at(f, a + 14);
    uint32_t lo = 0, hi = seg2 / 2;  // the first segment whose end is >= c
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (tt_u16(ends + 2 * mid) < c) lo = mid + 1; else hi = mid;
    }
    if (lo == seg2 / 2) return 0;
    uint64_t start_at = a + 16 + seg2 + 2 * lo, delta_at = start_at + seg2, range_at = delta_at + seg2;
    uint32_t start = tt_u16(at(f, start_at));
    if (c < start) return 0;
    uint16_t delta = tt_u16(at(f, delta_at)), range = tt_u16(at(f, range_at));
    if (range == 0) return uint16_t(c + delta);
    uint64_t glyph_at = range_at + range + 2 * uint64_t(c - start);
    if (glyph_at + 2 > f->cmap_end) return -1;
    uint16_t g = tt_u16(at(f, glyph_at));
    return g == 0 ? 0 : uint16_t(g + delta);
}

int32_t cmap12_glyph(const tt_font *f, uint32_t c) {
    uint64_t a = f->cmap_at;
    uint32_t lo = 0, hi = tt_u32(at(f, a + 12));
    while (lo < hi) {  // the first group whose end is >= c
        uint32_t mid = lo + (hi - lo) / 2;
        if (tt_u32(at(f, a + CMAP12_HEADER + uint64_t(mid) * CMAP12_GROUP + 4)) < c) lo = mid + 1; else hi = mid;
    }
    if (lo == tt_u32(at(f, a + 12))) return 0;
    const unsigned char *g = at(f, a + CMAP12_HEADER + uint64_t(lo) * CMAP12_GROUP);
    if (c < tt_u32(g)) return 0;
    uint64_t glyph = uint64_t(tt_u32(g + 8)) + (c - tt_u32(g));
    return glyph > TT_MAX_GLYPHS ? -1 : int32_t(glyph);
}

}  // namespace

bool tt_fail(std::string *error, const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    *error = text;
    return false;
}

uint32_t tt_face_count(const unsigned char *data, uint64_t size) {
    if (size < SFNT_HEADER) return 0;
    if (tt_u32(data) != tt_tag("ttcf")) return 1;
    uint64_t faces = tt_u32(data + 8);
    return TTC_HEADER + 4 * faces <= size ? uint32_t(faces) : 0;
}

bool tt_open(const unsigned char *data, uint64_t size, int face, const char *name, tt_font *font,
             std::string *error) {
    *font = tt_font{};
    font->data = data;
    font->size = size;
    font->name = name ? name : "";
    uint32_t dir = 0;
    if (!face_directory(font, face, &dir, error) || !read_directory(font, dir, error) ||
        !read_head(font, error) || !read_metrics(font, error) || !read_os2(font, error) ||
        !read_post(font, error) || !choose_cmap(font, error))
        return false;
    read_postscript_name(font);
    return true;
}

bool tt_glyph_of(const tt_font *font, char32_t c, uint16_t *glyph, std::string *error) {
    *glyph = 0;
    if (font->cmap_format == 0) return tt_fail(error, MSG_FONT_NO_UNICODE_MAP, font->name.c_str());
    if (c > TT_MAX_CHAR || (font->cmap_format == 4 && c > 0xFFFF)) return true;
    int32_t g = font->cmap_format == 4 ? cmap4_glyph(font, c) : cmap12_glyph(font, c);
    // A map that names a glyph the font lacks is as damaged as one that overruns.
    if (g < 0 || g >= font->glyph_count) return tt_fail(error, MSG_FONT_BAD_CMAP, font->name.c_str());
    *glyph = uint16_t(g);
    return true;
}

uint16_t tt_advance(const tt_font *font, uint16_t glyph) {
    uint32_t k = glyph < font->hmetric_count ? glyph : font->hmetric_count - 1u;
    return tt_u16(at(font, font->hmtx.offset + 4 * uint64_t(k)));
}

int16_t tt_left_side_bearing(const tt_font *font, uint16_t glyph) {
    if (glyph < font->hmetric_count) return tt_s16(at(font, font->hmtx.offset + 4 * uint64_t(glyph) + 2));
    uint64_t k = 4 * uint64_t(font->hmetric_count) + 2 * uint64_t(glyph - font->hmetric_count);
    if (table_fits(font->hmtx, k, 2)) return tt_s16(at(font, font->hmtx.offset + k));
    uint32_t offset = 0, length = 0;
    std::string ignored;
    if (tt_glyph_bytes(font, glyph, &offset, &length, &ignored) && length >= GLYPH_HEADER)
        return tt_s16(at(font, offset + 2));
    return 0;
}

bool tt_glyph_bytes(const tt_font *font, uint16_t glyph, uint32_t *offset, uint32_t *length,
                    std::string *error) {
    *offset = *length = 0;
    if (glyph >= font->glyph_count) return tt_fail(error, MSG_FONT_BAD_GLYPH, font->name.c_str(), int(glyph));
    const unsigned char *l = at(font, font->loca.offset);
    uint64_t from = font->long_loca ? tt_u32(l + 4 * glyph) : 2 * uint64_t(tt_u16(l + 2 * glyph));
    uint64_t to = font->long_loca ? tt_u32(l + 4 * glyph + 4) : 2 * uint64_t(tt_u16(l + 2 * glyph + 2));
    if (from > to || to > font->glyf.length)
        return tt_fail(error, MSG_FONT_GLYPH_OUTSIDE, font->name.c_str(), int(glyph));
    if (to - from != 0 && to - from < GLYPH_HEADER)
        return tt_fail(error, MSG_FONT_BAD_GLYPH, font->name.c_str(), int(glyph));
    *offset = uint32_t(font->glyf.offset + from);
    *length = uint32_t(to - from);
    return true;
}

bool tt_glyph_components(const tt_font *font, uint16_t glyph, std::vector<tt_component> *parts,
                         std::string *error) {
    parts->clear();
    uint32_t offset = 0, length = 0;
    if (!tt_glyph_bytes(font, glyph, &offset, &length, error)) return false;
    if (length == 0 || tt_s16(at(font, offset)) >= 0) return true;  // empty or simple
    const unsigned char *g = at(font, offset);
    uint32_t pos = GLYPH_HEADER;
    uint16_t flags = MORE_COMPONENTS;
    while (flags & MORE_COMPONENTS) {
        if (pos + 4 > length) return tt_fail(error, MSG_FONT_BAD_GLYPH, font->name.c_str(), int(glyph));
        flags = tt_u16(g + pos);
        uint16_t part = tt_u16(g + pos + 2);
        uint32_t args = flags & ARGS_ARE_WORDS ? 4 : 2;
        uint32_t scale = flags & HAVE_SCALE ? 2 : flags & HAVE_XY_SCALE ? 4 : flags & HAVE_TWO_BY_TWO ? 8 : 0;
        if (part >= font->glyph_count || pos + 4 + args + scale > length)
            return tt_fail(error, MSG_FONT_BAD_GLYPH, font->name.c_str(), int(glyph));
        parts->push_back({part, pos + 2});
        pos += 4 + args + scale;
    }
    return true;
}

uint32_t tt_checksum(const unsigned char *p, uint64_t n) {
    uint32_t sum = 0;
    uint64_t k = 0;
    for (; k + 4 <= n; k += 4) sum += tt_u32(p + k);
    if (k < n) {
        unsigned char last[4] = {};
        for (uint64_t i = 0; k + i < n; ++i) last[i] = p[k + i];
        sum += tt_u32(last);
    }
    return sum;
}
