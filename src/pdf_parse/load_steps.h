// Steps of the loader shared between its files.
#ifndef PDF_PARSE_LOAD_STEPS_H
#define PDF_PARSE_LOAD_STEPS_H

#include "pdf_parse.h"

// The length pass over every stream entry; first_by_num (when not null)
// gives the first entry of each number below map_len, or -1.
void settle_stream_extents(pdfp_doc *doc, const int32_t *first_by_num, int32_t map_len);
// The integer value of the object whose header starts at hdr, or negative.
int32_t indirect_int_value(const unsigned char *data, int32_t size, int32_t hdr);

#endif
