// Page wrapping (wrap.cpp): every input page becomes an upright page object
// that draws one form XObject, and the form holds the page's content, its
// resources and the page frame's matrix (page_frame.h).
//
// Results: bool, false when the page cannot be wrapped (nothing is recorded).
#ifndef WRAP_H
#define WRAP_H

#include <cstdint>
#include <string>

#include "copy_table.h"
#include "emitter.h"
#include "page_frame.h"

// The form XObject's header (through "stream\n") for box, rotation,
// content length, the entries that say how the content is encoded
// (" /Filter ...", may be empty) and resources text (may be empty).
// struct_parents: the page's key in the structure's parent tree, -1 for none.
std::string form_header(const pdfp_pageinfo *page, int rot, int32_t length, const std::string &encoding,
                        const std::string &resources, int64_t struct_parents = -1);
// Appends page i's page object and form object (page_obj(i), form_obj(i); no
// form when the page shares an earlier page's, table->form_of);
// false when the page cannot be wrapped. Sets *frame for the label.
// label_resources: further entries of the page's resources for the label
// (" /ExtGState <<...>>"), empty for none.
bool wrap_page(const pdfp_doc *doc, int32_t i, int64_t font, const copy_table *table, out_buf *o,
               page_frame *frame, const std::string &label_resources = {});

#endif
