// The tagged structure (structure.cpp). A page's content moves into the
// form that wraps it, so the marked-content ids it holds now live in that
// form: a structure element's marked-content child given as a bare
// integer, or as a marked-content reference without /Stm, must name the
// form (and the new page) to be found again. This unit walks the input's
// structure tree once, notes each element and reference with the page its
// content lies on, and gives the edits that write them for the output.
// The copy table copies the tree like any other carried object; the copy
// writer applies the edits.
//
// Results: bool for yes/no; lookups return -1 when there is nothing.
#ifndef STRUCTURE_H
#define STRUCTURE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "pdf_parse.h"

struct structure_marks {
    bool has_tree = false;  // the catalog names a structure tree root
    bool tagged = false;    // has_tree, or /MarkInfo says /Marked true
    // Element or reference object number -> index of the page (its first
    // occurrence in the page list) whose content it marks; -1 when no page
    // is known.
    std::unordered_map<int32_t, int32_t> page_of;
    // By input object number: the index of the page's first occurrence, -1
    // for an object that is no page.
    std::vector<int32_t> page_index;
};

// Walks the structure tree (each object once, whatever cycles it has).
void structure_marks_build(const pdfp_doc *doc, structure_marks *marks);
// The page's /StructParents, or -1 when it has none (or no tree is carried).
int64_t page_struct_parents(const pdfp_doc *doc, const structure_marks *marks, const pdfp_obj *page);

// One replaced range of an object's text, the replacement written as it
// stands (its references are output numbers already).
struct struct_edit {
    int32_t start;
    int32_t end;
    std::string text;
};
// The edits of the copied object num's text [p, p + n): its marked-content
// children given their page's form (form_of: the output form of each page
// index) as /Stm. Empty when it needs none.
std::vector<struct_edit> structure_edits(const structure_marks *marks, int32_t num, const unsigned char *p,
                                         int64_t n, const std::vector<int64_t> &form_of);

#endif
