// cid_font: a TrueType font embedded for the labels, as PDF draws it: a
// Type0 font over a CIDFontType2 with Identity-H encoding and /CIDToGIDMap
// /Identity, so that a code in the content stream (two bytes, big-endian)
// is a glyph id of the embedded font file. This unit decides that file (a
// subset renumbered from 0, or the whole face where the licence forbids
// subsetting) and gives the values and texts of the font's objects: the
// name with its subset tag, /W, /ToUnicode, the descriptor's values and the
// codes of a label. The writer writes the objects.
//
// Return convention: true, or false with *error set to a message of
// messages.h (the font's own ones, or MSG_FONT_NO_GLYPH naming the font and
// the character).
#ifndef CID_FONT_H
#define CID_FONT_H

#include <cstdint>
#include <string>
#include <vector>

#include "truetype.h"

// One glyph of the embedded file: its code (= its glyph id there), width in
// thousandths of the text size (hmtx scaled by 1000 / unitsPerEm) and the
// character it shows (0: none, as for .notdef and components).
struct cid_glyph {
    uint16_t code;
    int width;
    char32_t unicode;
};

// One character of the labels and its glyph's code and width.
struct cid_char {
    char32_t unicode;
    uint16_t code;
    int width;
};

// The values of the /FontDescriptor, in thousandths of the text size.
struct cid_descriptor {
    int flags;            // FixedPitch 1, Serif 2, Symbolic 4, Italic 64
    int bbox[4];          // head's box: llx lly urx ury
    double italic_angle;  // post's, in degrees
    int ascent, descent;  // hhea's (OS/2's typographic ones where hhea's are zero)
    int cap_height;       // OS/2's; else the top of "H"; else the ascent
    int stem_v;           // estimated from the weight class
};

struct cid_font {
    // The licence forbids subsetting: file is the whole face and the codes
    // are the face's own glyph ids (then base_font has no subset tag).
    bool whole = false;
    std::string base_font;            // /BaseFont and /FontName: "ABCDEF+DejaVuSans"
    std::vector<unsigned char> file;  // /FontFile2 before compression (its size is /Length1)
    std::vector<cid_glyph> glyphs;    // ascending codes: those the file holds (subset), or those used (whole)
    std::vector<cid_char> chars;      // every character of the labels, ascending
    cid_descriptor descriptor{};
};

// The embedded font for labels made of chars (any order, repeats allowed)
// in the open face: checks the licence and that every character has a
// glyph, then makes the file.
bool cid_font_make(const tt_font *face, const std::u32string &chars, cid_font *font, std::string *error);

// The codes of text as a PDF hex string ("<0003000A>") for Tj, and its
// width in units of the text size; false when text holds a character that
// cid_font_make was not given.
bool cid_font_show(const cid_font *font, const std::u32string &text, std::string *hex, double *width,
                   std::string *error);

// The CIDFont's /W array: "[0 [500 651] 7 [1303]]".
std::string cid_font_widths(const cid_font *font);

// The /ToUnicode CMap (the stream's content): each code to its character.
std::string cid_font_to_unicode(const cid_font *font);

#endif
