// dedediruzurud: the exported functions, the last-error text and the writer
// of the numbered document.
#ifndef DEDEDIRUZURUD_INTERNAL_H
#define DEDEDIRUZURUD_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "messages.h"
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
// emptied), 0 with a message. total is what {total} shows; below 0 it is
// the document's page count.
int numbered_doc(const pdfp_doc *doc, const char *output_path, int position, const char *format,
                 double font_size, int first_index, int last_index, int first_number, int red,
                 int green, int blue, int64_t total = -1);

// Assembles the numbered copy into out (no file is touched). 1 on success,
// 0 with a message. numbered_doc is this plus the single write.
int numbered_doc_build(const pdfp_doc *doc, pdfp_buf *out, int position, const char *format,
                       double font_size, int first_index, int last_index, int first_number,
                       int red, int green, int blue, int64_t total = -1);

// One numbering for hosts inside this project (the command-line tool):
// the work of the three exported functions, with the message kept in the
// caller's result instead of the process-wide text, so that calls on
// several threads keep their own messages. Not exported.
enum numbering_selection { SELECT_ALL, SELECT_RANGE, SELECT_SKIP };

struct numbering_job {
    const char *input_path;  // the file to read; with input_bytes, its name in messages
    const unsigned char *input_bytes;  // when set: the input's image, input_size bytes
    size_t input_size;
    const char *output_path;  // the file to write, or null with output_image or count_only
    pdfp_buf *output_image;   // when set: receives the output (caller frees); no file is written
    bool count_only;          // load and select only, nothing is built
    int position;
    const char *format;
    int font_size;
    int red, green, blue;
    numbering_selection selection;
    int start_page, end_page;  // SELECT_RANGE, as dedediruzurud_range takes them
    int skip_pages;            // SELECT_SKIP
    int first_number;          // shown on the first labelled page (any selection)
    int64_t total;             // shown for {total}; below 0: the document's page count
};

struct numbering_result {
    int32_t page_count;              // pages of the input, 0 when it was not loaded
    int first_index, last_index;     // the labelled pages, 0-based inclusive
    char message[1024];              // "" on success
};

// 1 on success, 0 with result->message set. Never throws.
int numbering_run(const numbering_job *job, numbering_result *result) noexcept;

#endif
