// One numbering through dedediruzurud_number. The tool's --pages and --skip
// keep the meaning and the messages of dedediruzurud_range and
// dedediruzurud_skip: the record's start and end page come from them, and
// where the selection leaves nothing the tool names it as those did.
#include "cli_number.h"

#include <climits>
#include <cstdio>

#include "dedediruzurud/number_format.h"

namespace {

// Selections that are empty whatever the page count (--pages 0, --pages
// 5-3): the record's 0 would mean "from the first" or "to the last".
bool empty_before_reading(const options &o) {
    if (o.has_pages) return o.to < 1 || o.to < o.from;
    return o.has_skip && o.skip == INT_MAX;
}

}  // namespace

dedediruzurud_options record_for(const options &o) {
    dedediruzurud_options r = DEDEDIRUZURUD_OPTIONS_INIT;
    r.position = o.position;
    r.font_size = o.size;
    r.red = o.red;
    r.green = o.green;
    r.blue = o.blue;
    r.format = o.format.c_str();
    r.first_number = o.first;
    if (o.has_skip) {
        r.start_page = o.skip > 0 && o.skip < INT_MAX ? o.skip + 1 : 1;
        r.first_number = 1;
    } else if (o.has_pages) {
        r.start_page = o.from > 0 ? o.from : 1;
        r.end_page = o.to > 0 && o.to < INT_MAX ? o.to : 0;
    }
    extra_record(o.extras, &r);
    return r;
}

std::string record_problem(const dedediruzurud_options &record) {
    // The entry checks its record before it looks at the paths, so a call
    // without them answers "NULL path argument" exactly when the record is good.
    char error[1024];
    dedediruzurud_number(nullptr, nullptr, &record, error, sizeof error);
    return error == std::string(MSG_NULL_PATH) ? "" : error;
}

bool labelled_pages(const options &o, const dedediruzurud_options &record, int pages, file_numbers *n,
                    std::string *message) {
    char text[1024];
    n->pages = pages;
    n->first_number = record.first_number;
    if (o.has_skip) {
        if (!page_range_clip(o.skip, pages - 1, pages, &n->first_index, &n->last_index)) {
            std::snprintf(text, sizeof text, MSG_SKIP_ALL, o.skip, static_cast<long>(pages));
            *message = text;
            return false;
        }
    } else if (o.has_pages && !page_range_clip(static_cast<int64_t>(o.from) - 1, static_cast<int64_t>(o.to) - 1,
                                               pages, &n->first_index, &n->last_index)) {
        std::snprintf(text, sizeof text, MSG_EMPTY_RANGE, o.from, o.to, static_cast<long>(pages));
        *message = text;
        return false;
    } else if (!o.has_pages) {
        n->first_index = 0;
        n->last_index = pages - 1;
    }
    int64_t last_number = static_cast<int64_t>(n->first_number) + n->last_index - n->first_index;
    if (record.total_mode == DEDEDIRUZURUD_TOTAL_GIVEN) n->total = record.total;
    else if (record.total_mode == DEDEDIRUZURUD_TOTAL_LABELLED) n->total = last_number;
    else n->total = pages;
    return true;
}

int number_file(const options &o, const dedediruzurud_options &record, const numbering_job &job,
                numbering_result *r) {
    dedediruzurud_options every_page = record;
    every_page.start_page = every_page.end_page = 0;
    bool counting = job.output_path == nullptr;
    bool ran = !empty_before_reading(o);
    if (ran) {
        if (numbering_run_record(job.input_path, job.output_path, counting ? &every_page : &record, job.notice,
                                 job.notice_ctx, r))
            return r->page_count;
        if (counting) return 0;
    }
    // A failure: when the file reads and the selection is what left nothing,
    // say so as the three functions do.
    numbering_result c;
    bool read = numbering_run_record(job.input_path, nullptr, &every_page, nullptr, nullptr, &c) == 1;
    if (!ran) *r = c;  // that reading is all this file came to
    if (!read) return 0;
    file_numbers n;
    std::string message;
    if (!labelled_pages(o, record, c.page_count, &n, &message))
        std::snprintf(r->message, sizeof r->message, "%s", message.c_str());
    return 0;
}

std::string printed_label(const dedediruzurud_options &record, int64_t n, int64_t total) {
    number_format f;
    std::string error;
    if (!number_format_parse(record.format, &f, &error)) return "";
    return number_format_expand(f, n, total);
}
