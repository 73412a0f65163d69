// The page-number label (label.cpp): format expansion, a Helvetica width
// estimate, placement along the bottom or top edge of the page as seen,
// escaping for a PDF string, and the text block drawn after the wrapped
// page.
//
// Results: strings by value; label_block returns false when the label does
// not fit.
#ifndef LABEL_H
#define LABEL_H

#include <cstdint>
#include <string>

#include "dedediruzurud_internal.h"

// The format with {n}, {total}, {{ and {} expanded.
std::string label_text(const char *format, int64_t number, int64_t total);
// Advance width of text in units of the font size (Helvetica).
double label_raw_width(const std::string &text);
// The text escaped for a PDF literal string (without the parentheses).
std::string label_escape(const std::string &text);
// The same with its parentheses: the literal string.
std::string label_literal(const std::string &text);
// The label block for page number `number` of `total` on a w x h frame, in
// the look the writer checked (size within (0, 300]); false when the page is
// too small for the margins.
bool label_block(const label_look *look, int64_t number, int64_t total, double w, double h,
                 std::string *block);
// Positions 3..5 stand at the page's top edge, 0..2 at its bottom.
inline bool label_at_top(int position) { return position >= 3; }
// The graphics state a planned label's opacity is drawn with.
constexpr char LABEL_GS[] = "GS1";
// The same for the planned label k (look->plan set) on page index page:
// the plan's text, width, margins, opacity and backing box; false with a
// message recorded when the margins leave no room on the page.
bool label_block_planned(const label_look *look, size_t k, int32_t page, double w, double h, std::string *block);
// Labels that label_block made on this thread so far that are wider than
// the room between their page's margins (they are drawn anyway).
uint64_t label_overwide_count();

#endif
