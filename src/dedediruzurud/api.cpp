// The six exported functions and the internal entry that keeps a call's
// message in the caller's own buffer: load, select the pages, write.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "dedediruzurud/label_plan.h"
#include "dedediruzurud_internal.h"
#include "label.h"
#include "dedediruzurud.h"
#include "pdf_parse/security.h"

namespace {

// Frees the document on every path out of a working call.
struct doc_guard {
    pdfp_doc doc{};
    ~doc_guard() { pdfp_doc_free(&doc); }
};

// The labelled pages of a count-page document as 0-based indexes, with
// their numbers; false (with the message recorded) for an empty selection.
bool select_pages(const numbering_job *job, int32_t count, page_selection *r) {
    int first = 0, last = count - 1;
    if (job->selection == SELECT_RANGE) {
        // 64-bit so that INT_MIN/INT_MAX pages cannot wrap.
        if (!page_range_clip(static_cast<int64_t>(job->start_page) - 1, static_cast<int64_t>(job->end_page) - 1,
                             count, &first, &last)) {
            set_error(MSG_EMPTY_RANGE, job->start_page, job->end_page, static_cast<long>(count));
            return false;
        }
    } else if (job->selection == SELECT_SKIP) {
        if (!page_range_clip(job->skip_pages, last, count, &first, &last)) {
            set_error(MSG_SKIP_ALL, job->skip_pages, static_cast<long>(count));
            return false;
        }
    }
    r->first_index = first;
    r->last_index = last;
    r->first_number = job->first_number;
    r->total = job->total;
    return true;
}

// The one road of every numbering: load, select, write (or build).
int run_job(const numbering_job *job, numbering_result *r) noexcept {
    try {
        bool has_target = job->output_path || job->output_image || job->count_only;
        if (!job->input_path || !has_target) {
            set_error(MSG_NULL_PATH);
            return 0;
        }
        pdfp_notices notices{job->notice, job->notice_ctx, 0};
        doc_guard g;
        int loaded = job->input_bytes ? pdfp_doc_load_mem(job->input_bytes, job->input_size,
                                                          job->input_path, &g.doc, set_error, &notices)
                                      : pdfp_doc_load(job->input_path, &g.doc, set_error, &notices);
        if (loaded != 0) {
            r->needs_password = g.doc.needs_password != 0;
            return 0;
        }
        // Numbering changes the content: an encrypted document must permit
        // that. Counting its pages changes nothing.
        if (!job->count_only && g.doc.encryption && !pdfp_security_may_modify(&g.doc.encryption->sec)) {
            set_error(MSG_NO_PERMISSION, job->input_path);
            return 0;
        }
        r->page_count = g.doc.pages.count;
        if (!select_pages(job, g.doc.pages.count, &r->labelled)) return 0;
        if (job->options && job->options->total_labelled)
            r->labelled.total = static_cast<int64_t>(r->labelled.first_number) + r->labelled.last_index -
                                r->labelled.first_index;
        label_look look = job->look;
        label_plan plan;
        if (job->options && !job->count_only) {
            if (!label_plan_make(&g.doc, job->options, &r->labelled, &plan)) return 0;
            look.plan = &plan;
        }
        int ok = 1;
        if (job->output_image)
            ok = numbered_doc_build(&g.doc, job->output_image, &look, &r->labelled);
        else if (!job->count_only)
            ok = numbered_doc(&g.doc, job->output_path, &look, &r->labelled);
        if (!ok) return 0;
        clear_error();
        return 1;
    } catch (const std::bad_alloc &) {
        set_error(MSG_OUT_OF_MEMORY);
    } catch (...) {
        set_error(MSG_BUILD_FAILED);
    }
    return 0;
}

// One call of an exported function: its paths, the label's look (the size
// becomes a double for the writer) and the selection with its two numbers
// (dedediruzurud_range's first and last page, dedediruzurud_skip's count).
int run_export(const char *input_path, const char *output_path, const label_look &look,
               numbering_selection selection, int a, int b, int first_number) {
    numbering_job job{};
    job.input_path = input_path;
    job.output_path = output_path;
    job.look = look;
    job.selection = selection;
    job.start_page = job.skip_pages = a;
    job.end_page = b;
    job.first_number = first_number;
    job.total = -1;
    numbering_result r{};
    return run_job(&job, &r);
}

// The record as this library reads it: the caller's bytes up to what both
// know, the rest as DEDEDIRUZURUD_OPTIONS_INIT; false (with the message)
// for a size below the first version's, or bytes past what we know that
// are not zero.
bool read_record(const dedediruzurud_options *given, dedediruzurud_options *o) {
    *o = DEDEDIRUZURUD_OPTIONS_INIT;
    if (!given) return true;
    size_t size = given->size;
    if (size < sizeof *o) {
        set_error(MSG_OPTIONS_SIZE, given->size, static_cast<unsigned>(sizeof *o));
        return false;
    }
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(given);
    if (std::any_of(bytes + sizeof *o, bytes + size, [](unsigned char b) { return b != 0; })) {
        set_error(MSG_OPTIONS_SIZE, given->size, static_cast<unsigned>(sizeof *o));
        return false;
    }
    std::memcpy(o, given, sizeof *o);
    return true;
}

// The job of one dedediruzurud_number call; false (with the message) for
// options refused before anything is read.
bool job_of_record(const dedediruzurud_options &o, numbering_job *job, label_options *extras) {
    if (o.total_mode < DEDEDIRUZURUD_TOTAL_DOCUMENT || o.total_mode > DEDEDIRUZURUD_TOTAL_LABELLED) {
        set_error(MSG_BAD_TOTAL_MODE, o.total_mode);
        return false;
    }
    *extras = label_options{o.format,
                            o.font,
                            o.font_index,
                            (o.flags & DEDEDIRUZURUD_MARGIN) != 0,
                            o.margin_x,
                            o.margin_y,
                            (o.flags & DEDEDIRUZURUD_OPACITY) != 0,
                            o.opacity,
                            (o.flags & DEDEDIRUZURUD_BACKING) != 0,
                            (o.flags & DEDEDIRUZURUD_PAGE_LABELS) != 0,
                            o.total_mode == DEDEDIRUZURUD_TOTAL_LABELLED};
    if (!label_options_check(extras)) return false;
    job->look = label_look{o.position, o.format, static_cast<double>(o.font_size), o.red, o.green, o.blue};
    job->selection = SELECT_RANGE;
    job->start_page = o.start_page > 0 ? o.start_page : 1;
    job->end_page = o.end_page > 0 ? o.end_page : INT_MAX;
    job->first_number = o.first_number;
    job->total = o.total_mode == DEDEDIRUZURUD_TOTAL_GIVEN ? o.total : -1;
    job->options = extras;
    return true;
}

// One dedediruzurud_number call, its messages in result->message.
int run_number(const char *input_path, const char *output_path, const dedediruzurud_options *given,
               void (*notice)(void *ctx, const char *text), void *notice_ctx, numbering_result *r) noexcept {
    numbering_job job{};
    job.input_path = input_path;
    job.output_path = output_path;
    job.notice = notice;
    job.notice_ctx = notice_ctx;
    job.count_only = output_path == nullptr;
    dedediruzurud_options o;
    label_options extras;
    if (!read_record(given, &o) || !job_of_record(o, &job, &extras)) return 0;
    return run_job(&job, r);
}

}  // namespace

int numbering_run(const numbering_job *job, numbering_result *result) noexcept {
    *result = numbering_result{};
    char *outer = redirect_errors(result->message);
    uint64_t overwide = label_overwide_count();
    int ok = run_job(job, result);
    result->overwide_labels = static_cast<int64_t>(label_overwide_count() - overwide);
    redirect_errors(outer);
    return ok;
}

int numbering_run_record(const char *input_path, const char *output_path, const dedediruzurud_options *options,
                         void (*notice)(void *ctx, const char *text), void *notice_ctx,
                         numbering_result *result) noexcept {
    *result = numbering_result{};
    char *outer = redirect_errors(result->message);
    uint64_t overwide = label_overwide_count();
    int ok = run_number(input_path, output_path, options, notice, notice_ctx, result);
    result->overwide_labels = static_cast<int64_t>(label_overwide_count() - overwide);
    redirect_errors(outer);
    return ok;
}

extern "C" {

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_init(void) {
    clear_error();
    return 1;
}

DEDEDIRUZURUD_API void DEDEDIRUZURUD_CALL dedediruzurud_cleanup(void) { clear_error(); }

DEDEDIRUZURUD_API const char *DEDEDIRUZURUD_CALL dedediruzurud_last_error(void) { return process_error_text(); }

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_add(const char *input_path, const char *output_path,
                                                           int position, const char *format, int font_size,
                                                           int first_number, int red, int green, int blue) {
    label_look look{position, format, static_cast<double>(font_size), red, green, blue};
    return run_export(input_path, output_path, look, SELECT_ALL, 0, 0, first_number);
}

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_range(const char *input_path, const char *output_path,
                                                             int position, const char *format, int font_size,
                                                             int start_page, int end_page, int first_number,
                                                             int red, int green, int blue) {
    label_look look{position, format, static_cast<double>(font_size), red, green, blue};
    return run_export(input_path, output_path, look, SELECT_RANGE, start_page, end_page, first_number);
}

// The first labelled page shows 1.
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_skip(const char *input_path, const char *output_path,
                                                            int position, const char *format, int font_size,
                                                            int skip_pages, int red, int green, int blue) {
    return run_export(input_path, output_path, {position, format, static_cast<double>(font_size), red, green, blue},
                      SELECT_SKIP, skip_pages, 0, 1);
}

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_number(const char *input_path, const char *output_path,
                                                              const dedediruzurud_options *options, char *error,
                                                              size_t error_size) {
    numbering_result r;
    int ok = numbering_run_record(input_path, output_path, options, nullptr, nullptr, &r);
    publish_error(r.message);
    if (error && error_size) std::snprintf(error, error_size, "%s", r.message);
    return ok ? std::max(r.page_count, 1) : 0;
}

}  // extern "C"
