// Writing through the copy table (copy_write.cpp): every text that reaches
// the output with input references in it - a page's resources, a carried
// entry of the catalog or a page, a copied object - is rewritten here by
// the reader's pdfp_remap_res_text, with the destinations that name a
// moved page mapped into its new frame, and the annotations of a moved
// page mapped with their turned appearances. Stream data is copied
// unchanged. The table itself is built before anything is written
// (copy_table.h).
//
// Results: appends go to the out_buf (whose failed flag reports a failure);
// copy_remap_string returns false when memory ran short.
#ifndef COPY_WRITE_H
#define COPY_WRITE_H

#include <cstdint>
#include <string>

#include "carried.h"
#include "copy_table.h"
#include "emitter.h"

// Appends [p, p + n) with its references rewritten through the table (and
// the destinations on moved pages mapped).
void copy_remap(const copy_table *table, const unsigned char *p, int64_t n, out_buf *o);
// [p, p + n) rewritten through the table into *s: false (s empty) when
// memory ran short.
bool copy_remap_string(const copy_table *table, const unsigned char *p, int64_t n, std::string *s);
// The page's resources dictionary text rewritten through the table; empty
// when the page has none.
std::string page_resources_remapped(const pdfp_doc *doc, const pdfp_obj *page, const copy_table *table);
// Appends " /Key value" for each entry of the set that obj's dictionary
// holds (obj may be null), the values rewritten through the table; the
// key `except` (when given) is left out, for an entry written anew.
void append_carried(const pdfp_doc *doc, const copy_table *table, const pdfp_obj *obj, carried_set set,
                    out_buf *o, const char *except = nullptr);
// Appends the copies as objects first_out onwards.
void copies_append(const pdfp_doc *doc, const copy_table *table, out_buf *o);

#endif
