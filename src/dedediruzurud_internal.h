// dedediruzurud: the exported functions, the last-error text and the writer
// of the numbered document.
#ifndef DEDEDIRUZURUD_INTERNAL_H
#define DEDEDIRUZURUD_INTERNAL_H

#include <cstdint>

#include "pdf_parse.h"

// Replaces the last-error text (at most 1023 bytes, always NUL-terminated).
void set_error(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Empties the last-error text.
void clear_error();
// Whether a message has been recorded since the last clear_error /
// mark_error_epoch (lets the writer tell its own failures from older ones).
unsigned error_epoch();

// Writes the numbered copy of doc to output_path. 1 on success (last-error
// emptied), 0 with a message.
int numbered_doc(const pdfp_doc *doc, const char *output_path, int position, const char *format,
                 double font_size, int first_index, int last_index, int first_number, int red,
                 int green, int blue);

// Assembles the numbered copy into out (no file is touched). 1 on success,
// 0 with a message. numbered_doc is this plus the single write.
int numbered_doc_build(const pdfp_doc *doc, pdfp_buf *out, int position, const char *format,
                       double font_size, int first_index, int last_index, int first_number,
                       int red, int green, int blue);

#endif
