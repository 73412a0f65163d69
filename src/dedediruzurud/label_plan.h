// label_plan: what the numbering entry decides before the writer runs, once
// the document is loaded and the labelled pages known: every label's text,
// the font that sets them (one subset for the document, made from every
// label's characters), each label's Tj operand and width, the look's extras
// (margins, opacity, backing box) and the /PageLabels value. A character
// the font lacks is refused here, before anything is built.
//
// Return convention: label_plan_make returns true, or false with the
// message recorded (set_error).
#ifndef LABEL_PLAN_H
#define LABEL_PLAN_H

#include <string>
#include <vector>

#include "dedediruzurud_internal.h"
#include "label_font.h"

struct label_plan {
    label_font font;
    std::vector<std::string> operands;  // by labelled page (0 = first_index)
    std::vector<double> widths;         // in units of the text size
    bool margin = false;
    double margin_x = 0, margin_y = 0;
    bool opacity = false;
    double alpha = 1;
    bool backing = false;
    std::string page_labels;  // the catalog's /PageLabels value; "" for none
};

// The plan for doc's labelled pages sel with the options.
bool label_plan_make(const pdfp_doc *doc, const label_options *options, const page_selection *sel, label_plan *plan);
// Checks of the options that need no document: format, margins, opacity.
bool label_options_check(const label_options *options);

#endif
