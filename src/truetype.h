// truetype: our own reader of TrueType font files (the sfnt format of
// Apple's TrueType and Microsoft's OpenType): a .ttf, one face of a .ttc
// collection, or an .otf whose outlines are TrueType 'glyf' data. It reads
// what embedding a font needs (metrics, the Unicode character map, each
// glyph's outline bytes and the components of composite glyphs) and knows
// nothing of PDF. OpenType fonts with PostScript (CFF) outlines are refused.
//
// Return convention: a function that can fail returns true, or false with
// *error set to one of the font messages of messages.h, filled in with the
// font's name as the caller gave it. Nothing throws. No read leaves
// [data, data + size), whatever the file's offsets and counts say: every
// table is checked against the file once at tt_open, every field against
// its table where it is read.
//
// The file image is borrowed: the caller keeps it alive and unchanged for
// as long as a tt_font reads it.
#ifndef TRUETYPE_H
#define TRUETYPE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Limits of the format, and our own
// ---------------------------------------------------------------------------

// head.unitsPerEm must lie in this range.
constexpr uint16_t TT_MIN_UNITS_PER_EM = 16;
constexpr uint16_t TT_MAX_UNITS_PER_EM = 16384;
// Glyph ids are 16-bit: a font holds at most this many glyphs.
constexpr uint32_t TT_MAX_GLYPHS = 65535;
// Composite glyphs nest; real fonts go two or three levels deep. Deeper is
// taken for damage (the format sets no bound, maxp's own is advisory).
constexpr int TT_MAX_COMPONENT_DEPTH = 8;
// The characters Unicode character maps may name.
constexpr uint32_t TT_MAX_CHAR = 0x10FFFF;

// Table tags as the file stores them (big-endian), for tt_font::tables.
constexpr uint32_t tt_tag(const char (&t)[5]) {
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 |
           uint8_t(t[3]);
}

// Big-endian fields. The caller has checked that p[0..2) or p[0..4) lies
// inside the file.
inline uint16_t tt_u16(const unsigned char *p) { return uint16_t(p[0] << 8 | p[1]); }
inline int16_t tt_s16(const unsigned char *p) { return int16_t(tt_u16(p)); }
inline uint32_t tt_u32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// ---------------------------------------------------------------------------
// An open face
// ---------------------------------------------------------------------------

// Where a table lies in the file image (checked to lie inside it).
struct tt_table {
    uint32_t offset = 0;
    uint32_t length = 0;
    bool present = false;
};

struct tt_font {
    const unsigned char *data = nullptr;  // the file image, borrowed
    uint64_t size = 0;
    std::string name;  // how messages name the font: the caller's name for it (its path)

    // Every table of the face in directory order, by tag; then the ones read.
    std::vector<std::pair<uint32_t, tt_table>> tables;
    tt_table head, hhea, maxp, hmtx, loca, glyf, cmap, os2, post, names, cvt, fpgm, prep;

    // head
    uint16_t units_per_em = 0;
    int16_t x_min = 0, y_min = 0, x_max = 0, y_max = 0;  // every glyph's box, in font units
    uint16_t mac_style = 0;                              // bit 1: italic
    bool long_loca = false;                              // loca holds 32-bit offsets
    // maxp and hhea
    uint16_t glyph_count = 0;
    uint16_t hmetric_count = 0;  // glyphs with an advance of their own; the rest repeat the last
    int16_t ascender = 0, descender = 0, line_gap = 0;
    // OS/2, where the font has one (all zero otherwise; cap_height needs version 2)
    bool has_os2 = false;
    uint16_t weight_class = 0;
    uint16_t fs_type = 0;  // embedding permissions
    uint16_t fs_selection = 0;
    uint8_t panose[10] = {};
    int16_t typo_ascender = 0, typo_descender = 0, cap_height = 0;
    // post
    int32_t italic_angle = 0;  // degrees, 16.16 fixed point
    bool fixed_pitch = false;
    // name: the PostScript name (name ID 6) in ASCII, "" when the font has none
    std::string postscript_name;
    // The Unicode character map chosen from cmap: format 4 or 12, 0 when
    // the font has none (a subset made for embedding has none).
    uint16_t cmap_format = 0;
    uint32_t cmap_at = 0;   // the subtable's offset in the file
    uint32_t cmap_end = 0;  // the end of the bytes it may use (the cmap table's end)
};

// The number of faces in a font file: the count of a .ttc collection, 1 for
// a single font, 0 when the bytes are neither.
uint32_t tt_face_count(const unsigned char *data, uint64_t size);

// Opens face `face` (0 for a single font) of the file image data[0..size):
// reads the table directory, head, maxp, hhea, OS/2, post and name, checks
// hmtx and loca against them and chooses the Unicode character map (3/10,
// then 0/x in format 12; 3/1, then 0/x in format 4), checking its
// structure. *font is replaced.
bool tt_open(const unsigned char *data, uint64_t size, int face, const char *name, tt_font *font,
             std::string *error);

// The glyph of character c through the Unicode map: true with *glyph, 0
// when the font has no glyph for c; false when the map is damaged where c
// is looked up or the font has no Unicode map.
bool tt_glyph_of(const tt_font *font, char32_t c, uint16_t *glyph, std::string *error);

// Advance width of glyph (below glyph_count) in font units: its own metric,
// or the last one for glyphs past hmetric_count.
uint16_t tt_advance(const tt_font *font, uint16_t glyph);
// Left side bearing of glyph in font units (the glyph's xMin where hmtx
// leaves it out).
int16_t tt_left_side_bearing(const tt_font *font, uint16_t glyph);

// Where glyph's outline lies: offset in the file and length (0 for a glyph
// without outline, such as the space).
bool tt_glyph_bytes(const tt_font *font, uint16_t glyph, uint32_t *offset, uint32_t *length,
                    std::string *error);

// One component of a composite glyph: its glyph id and where that id stands,
// counted from the start of the composite's outline bytes.
struct tt_component {
    uint16_t glyph;
    uint32_t index_at;
};
// The direct components of glyph into *parts (empty for a simple glyph),
// each checked to be a glyph of the font.
bool tt_glyph_components(const tt_font *font, uint16_t glyph, std::vector<tt_component> *parts,
                         std::string *error);

// The sfnt checksum: the sum of p[0..n) as big-endian 32-bit words, the last
// one padded with zeros.
uint32_t tt_checksum(const unsigned char *p, uint64_t n);

// A failure message filled in (printf's rules); returns false for
// `return tt_fail(...)`. Shared by the reader and the subsetter.
bool tt_fail(std::string *error, const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#endif
