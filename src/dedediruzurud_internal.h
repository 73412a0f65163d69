// dedediruzurud's internal interface: the last-error text
// (dedediruzurud/last_error.cpp), the writer of the numbered document
// (dedediruzurud/writer.cpp) and the numbering entry that the command-line
// tool calls (dedediruzurud/api.cpp). The six exported functions are
// declared in include/dedediruzurud.h.
//
// Results: the working functions return int 1 on success and 0 with a
// message recorded; bool helpers return false with a message recorded.
// Nothing throws across these functions.
#ifndef DEDEDIRUZURUD_INTERNAL_H
#define DEDEDIRUZURUD_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "dedediruzurud.h"
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
// A count that every message recorded on this thread bumps: two readings
// that differ show that a message was recorded between them (so the writer
// tells its own failures from older ones). clear_error leaves it alone.
unsigned error_epoch();
// The process-wide last-error text, as dedediruzurud_last_error shows it.
const char *process_error_text();
// Sends this thread's messages to sink (1024 bytes) instead of the
// process-wide text, or back there when sink is null; returns the sink
// that was set before.
char *redirect_errors(char *sink);
// Copies text into the process-wide last-error text under a lock, so that
// the numbering entry's calls on many threads never write it at once.
void publish_error(const char *text);

struct label_plan;  // dedediruzurud/label_plan.h

// The label's look, as a caller gives it; the writer checks it and adjusts
// the size.
struct label_look {
    int position;          // 0..5: bottom centre, right, left; top centre, right, left
    const char *format;    // with {n} and {total}; null or "" means "{n}"
    double font_size;      // points; 0 or less means 12, above 300 means 300
    int red, green, blue;  // 0..255
    // The numbering entry's labels, fonts and extras, decided before the
    // writer runs; null for the six functions (Windows-1252 format, Helvetica).
    const label_plan *plan = nullptr;
};

// What dedediruzurud_number adds to a numbering, read from its record.
struct label_options {
    const char *format;  // UTF-8, with the styles of number_format.h; null or "" means "{n}"
    const char *font;    // null or "" means Helvetica; a standard font's name or a font file's path
    int font_index;      // the face of a collection
    bool has_margin;
    double margin_x, margin_y;  // points from the side and from the top or bottom edge
    bool has_opacity;
    double opacity;  // 0..1
    bool backing;    // a white box behind the label
    bool page_labels;  // write /PageLabels
    bool total_labelled;  // {total} is the last number shown
};

// The pages that carry a label and the numbers they show: what a selection
// comes to once the document's page count is known. The writer clips the
// range to the document.
struct page_selection {
    int first_index, last_index;  // 0-based, inclusive
    int first_number;             // shown on the page at first_index; the next ones count on
    int64_t total;                // shown for {total}; below 0: the document's page count
};

// The one check of a page range: the 0-based inclusive range [first, last]
// clipped to a document of page_count pages (first below 0 becomes 0, last
// past the end the last page) into *first_index and *last_index; false when
// nothing is left. Each caller records its own message.
bool page_range_clip(int64_t first, int64_t last, int32_t page_count, int *first_index, int *last_index);

// Writes the numbered copy of doc to output_path. 1 on success (last-error
// emptied), 0 with a message.
int numbered_doc(const pdfp_doc *doc, const char *output_path, const label_look *look,
                 const page_selection *labelled);

// Assembles the numbered copy into out (no file is touched). 1 on success,
// 0 with a message. numbered_doc is this plus the single write.
int numbered_doc_build(const pdfp_doc *doc, pdfp_buf *out, const label_look *look,
                       const page_selection *labelled);

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
    label_look look;
    numbering_selection selection;
    int start_page, end_page;  // SELECT_RANGE, as dedediruzurud_range takes them
    int skip_pages;            // SELECT_SKIP
    int first_number;          // shown on the first labelled page (any selection)
    int64_t total;             // shown for {total}; below 0: the document's page count
    // The numbering entry's options (checked); null for the six functions.
    const label_options *options = nullptr;
    // Told each damage that reading the input tolerated (pdfp_notices),
    // on the calling thread; null tells nobody.
    void (*notice)(void *ctx, const char *text) = nullptr;
    void *notice_ctx = nullptr;
};

struct numbering_result {
    int32_t page_count;       // pages of the input, 0 when it was not loaded
    page_selection labelled;  // the labelled pages and their numbers
    char message[1024];       // "" on success
    bool needs_password;      // refused as encrypted, and only a password would open it
    int64_t overwide_labels;  // labels wider than the room on their page (drawn anyway)
};

// 1 on success, 0 with result->message set. Never throws.
int numbering_run(const numbering_job *job, numbering_result *result) noexcept;
// dedediruzurud_number's road, open to the tool: the record's numbering
// (output_path null: the page count only) with the reader's notices told to
// notice (null tells nobody). 1 on success, 0 with result->message set.
int numbering_run_record(const char *input_path, const char *output_path, const dedediruzurud_options *options,
                         void (*notice)(void *ctx, const char *text), void *notice_ctx,
                         numbering_result *result) noexcept;

#endif
