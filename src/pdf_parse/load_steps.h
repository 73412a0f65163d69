// Steps of the loader shared between its files.
#ifndef PDF_PARSE_LOAD_STEPS_H
#define PDF_PARSE_LOAD_STEPS_H

#include "pdf_parse.h"

#include <vector>

// Whether arrays indexed by object number (up to max_num) suit a table of
// count entries; otherwise entries sorted by number serve. A tiny file
// naming object 8388607 must not cost 32 MB.
inline bool numbers_dense(int32_t max_num, int32_t count) {
    return static_cast<int64_t>(max_num) <= 4 * static_cast<int64_t>(count) + 4096;
}

// An object header that can hold a stream's indirect /Length: every header
// the scan found, including those it did not keep because they lie inside
// the data of a stream whose direct /Length already fixed its extent.
struct length_source {
    int32_t num;
    int32_t hdr_pos;
    int32_t is_stream;
};

// Every occurrence of a keyword, found once: a search per object from its
// own start made files of many headers or streams without "endstream" or
// "endobj" quadratic. first_from gives find_kw's answer for that start.
struct kw_positions {
    const char *kw;
    std::vector<int32_t> at;
    bool built = false;
    int32_t first_from(const unsigned char *data, int32_t size, int32_t start);
};

// Whether the keyword "endstream" follows at (inside the file) after wide
// whitespace: the test that a stream's /Length is right.
bool endstream_at(const unsigned char *data, int32_t size, int64_t at);

// The length pass over every stream entry; sources are sorted by number,
// then by file position, so the first of a number is the one in file order.
// endobj is shared with the object scan, so the keyword is found once.
void settle_stream_extents(pdfp_doc *doc, const std::vector<length_source> &sources, kw_positions *endobj);

// The bytes that the object scan's dictionary walks may take together for a
// file of size bytes: 16 per file byte, and 16 MiB more.
inline int64_t dict_walk_budget(int32_t size) { return 16 * static_cast<int64_t>(size) + (int64_t{1} << 24); }

// dict_stream_kw for each of the ascending dictionary offsets starts, with
// work shared between overlapping walks and bounded by budget bytes walked
// (past it, -1).
std::vector<int32_t> stream_keywords(const unsigned char *data, int32_t size,
                                     const std::vector<int32_t> &starts, int64_t budget);

#endif
