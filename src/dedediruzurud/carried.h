// What the output carries of the input's document structure: the entries
// of the input catalog and of each input page that the new catalog and the
// new pages write again (outlines, name trees, labels, form; annotations,
// actions ...), and the document information the trailer names. Which keys
// are carried, in which order, and what their values must be to be carried
// is decided here alone; the copy table lists what the values name, and
// the copy writer writes them.
//
// Results: lookups return null when there is nothing to carry.
#ifndef CARRIED_H
#define CARRIED_H

#include <cstdint>
#include <vector>

#include "pdf_parse.h"

// The entries an output object carries over from its input object.
enum carried_set {
    CARRY_CATALOG,  // outlines, name trees, page labels, open action, viewer settings, metadata, form
    CARRY_PAGE,     // annotations, transparency group, actions, transition, duration, tab order
};

// One carried entry: its key and the range [vs, ve) of its value in buf.
struct carried_entry {
    const char *key;
    const unsigned char *buf;
    int32_t vs, ve;
};

// The entries of the set that obj's dictionary holds with a value of the
// right kind, in the set's order (the order the output writes them).
std::vector<carried_entry> carried_entries(const pdfp_doc *doc, const pdfp_obj *obj, carried_set set);
// Whether the entry is a page's /Annots, whose inline annotations move
// with a turned or shifted page.
bool is_page_annots(carried_set set, const carried_entry &e);
// The input's catalog when it has entries of its own to carry, else null.
const pdfp_obj *input_catalog(const pdfp_doc *doc);
// The document information the trailer names when it is a dictionary
// (not a stream), else null.
const pdfp_obj *input_info(const pdfp_doc *doc);

#endif
