// The options of the numbering entry beyond the six functions' (font,
// margins, opacity, backing box, {total}, viewer page labels) and the
// manifest of a run (cli_extras.cpp): read from the command line into an
// extra_options record, and written into the entry's options record.
//
// Results: apply_extra_option returns false for a name that is not one of
// these; a value it cannot read gives true with *error set to the usage
// message (otherwise left empty).
#ifndef DEDEDIRUZURUD_CLI_EXTRAS_H
#define DEDEDIRUZURUD_CLI_EXTRAS_H

#include <string>

#include "dedediruzurud.h"

struct extra_options {
    const char *font = nullptr;  // --font: a standard font's name or a font file; null: Helvetica
    int font_index = 0;          // --font-index: the face of a .ttc
    bool has_margin = false;     // --margin X[,Y]
    double margin_x = 0, margin_y = 0;
    bool has_opacity = false;  // --opacity A
    double opacity = 1;
    bool backing = false;                            // --backing
    int total_mode = DEDEDIRUZURUD_TOTAL_DOCUMENT;   // --total N|labelled
    int total = 0;
    bool page_labels = false;        // --page-labels
    const char *manifest = nullptr;  // --manifest FILE.csv
};

// Whether the option takes a value (--font ...) or is a flag (--backing ...).
bool extra_option_takes_value(const std::string &name);
bool extra_flag(const std::string &name, extra_options *x);
// Applies one option that takes a value.
bool apply_extra_option(const std::string &name, const char *value, extra_options *x, std::string *error);
// Writes the options into the entry's record (flags, font, margins, opacity, total).
void extra_record(const extra_options &x, dedediruzurud_options *record);

#endif
