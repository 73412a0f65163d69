// label_font: the font the numbering entry's labels are set in - one of
// the 14 standard fonts by name (standard_fonts.h), or a TrueType font
// file embedded as a subset (cid_font.h) - chosen once per document: the
// characters of every label are known before it is made, so that one
// subset serves every page. It turns label text into the operand of Tj
// with its width, and writes the font's objects.
//
// Return convention: label_font_open and label_font_show return true, or
// false with *error set to a message of messages.h.
#ifndef LABEL_FONT_H
#define LABEL_FONT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cid_font.h"
#include "emitter.h"
#include "standard_fonts.h"
#include "truetype.h"

struct label_font {
    const standard_font *standard = nullptr;  // set for a standard font
    cid_font cid;                              // else the embedded TrueType font
};

// The font named by name (null or "" means Helvetica: a standard font's
// name, else a font file's path; index: the face of a collection) for
// labels made of chars (UTF-8 strings, any order): checks that every
// character has a glyph, and embeds what the labels need.
bool label_font_open(const char *name, int index, const std::vector<std::string> &labels, label_font *font,
                     std::string *error);
// The operand of Tj for text (UTF-8) - "(...)" for a standard font, "<...>"
// for a TrueType one - and its width in units of the text size.
bool label_font_show(const label_font *font, const std::string &text, std::string *operand, double *width,
                     std::string *error);
// How many objects the font takes in the output.
int label_font_object_count(const label_font *font);
// Writes the font's objects as first, first + 1, ... (the font dictionary
// that pages name is first).
void label_font_append(const label_font *font, int64_t first, out_buf *o);

#endif
