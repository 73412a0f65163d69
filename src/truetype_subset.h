// truetype_subset: TrueType font files made for embedding in a document:
// the licence check, the glyphs a set of glyphs needs, a subset holding
// only those glyphs (renumbered compactly), and a face taken whole out of
// its file. Like the reader, it knows nothing of PDF.
//
// Return convention as in truetype.h: true, or false with *error set to a
// font message of messages.h. Nothing throws. Output files are the same
// bytes for the same font and glyphs.
#ifndef TRUETYPE_SUBSET_H
#define TRUETYPE_SUBSET_H

#include <cstdint>
#include <string>
#include <vector>

#include "truetype.h"

// OS/2 fsType bits. Of the usage bits (1 to 3) the least restrictive set one
// counts, as the format asks.
constexpr uint16_t TT_FS_RESTRICTED = 0x0002;
constexpr uint16_t TT_FS_USAGE_BITS = 0x000E;
constexpr uint16_t TT_FS_NO_SUBSETTING = 0x0100;
constexpr uint16_t TT_FS_BITMAP_ONLY = 0x0200;

// How a font may be embedded.
enum tt_embedding {
    TT_EMBED_SUBSET,  // installable, editable or preview & print: a subset
    TT_EMBED_WHOLE,   // no subsetting allowed: the whole face, glyph ids unchanged
};
// False for a restricted-licence font and for one that allows bitmaps only.
bool tt_embedding_of(const tt_font *font, tt_embedding *how, std::string *error);

// Adds .notdef (glyph 0) and every component of the composites among
// *glyphs, at any depth, and sorts them without repeats: the subset's glyph
// list, whose entry k becomes glyph k. False on a composite that contains
// itself or nests deeper than TT_MAX_COMPONENT_DEPTH, or a damaged glyph.
bool tt_glyph_closure(const tt_font *font, std::vector<uint16_t> *glyphs, std::string *error);

// A font file holding glyphs (a list from tt_glyph_closure) renumbered, with
// the component ids of composites rewritten: head, hhea, maxp, hmtx, loca
// (short offsets when they fit), glyf, post (format 3, no glyph names), and
// the hinting tables cvt, fpgm and prep where the font has them; checksums
// and head's checkSumAdjustment set. *file is replaced.
bool tt_subset(const tt_font *font, const std::vector<uint16_t> &glyphs, std::vector<unsigned char> *file,
               std::string *error);

// The face as a font file of its own, every table copied unchanged but for
// the checksums (a face of a collection comes out as a single font).
void tt_face_file(const tt_font *font, std::vector<unsigned char> *file);

#endif
