// The six exported functions, the process-wide last-error text, and the
// internal entry that keeps a call's message in the caller's own buffer.
#include <cstdarg>
#include <cstdio>
#include <new>

#include "dedediruzurud_internal.h"
#include "dedediruzurud.h"

namespace {

char g_err[1024];
// Where this thread's messages go while numbering_run works: the caller's
// buffer instead of g_err, so that concurrent runs keep their own.
thread_local char *t_err_sink = nullptr;
// Bumped by every message on this thread (a call never leaves its thread),
// so that a caller can tell whether anything was recorded since it looked.
thread_local unsigned t_err_epoch;

constexpr size_t ERR_SIZE = sizeof g_err;
static_assert(sizeof numbering_result::message == ERR_SIZE);

char *err_text() { return t_err_sink ? t_err_sink : g_err; }

// Frees the document on every path out of a working call.
struct doc_guard {
    pdfp_doc doc{};
    ~doc_guard() { pdfp_doc_free(&doc); }
};

// The labelled pages of a count-page document as 0-based indexes, with
// their numbers; false (with the message recorded) for an empty selection.
bool select_pages(const numbering_job *job, int32_t count, page_selection *r) {
    if (job->selection == SELECT_RANGE) {
        // 64-bit so that INT_MIN/INT_MAX pages cannot wrap.
        long long f = static_cast<long long>(job->start_page) - 1;
        long long l = static_cast<long long>(job->end_page) - 1;
        if (f < 0) f = 0;
        if (l >= count) l = count - 1;
        if (f > l) {
            set_error(MSG_EMPTY_RANGE, job->start_page, job->end_page, static_cast<long>(count));
            return false;
        }
        r->first_index = static_cast<int>(f);
        r->last_index = static_cast<int>(l);
    } else if (job->selection == SELECT_SKIP) {
        int f = job->skip_pages < 0 ? 0 : job->skip_pages;
        if (f >= count) {
            set_error(MSG_SKIP_ALL, job->skip_pages, static_cast<long>(count));
            return false;
        }
        r->first_index = f;
        r->last_index = count - 1;
    } else {
        r->first_index = 0;
        r->last_index = count - 1;
    }
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
        doc_guard g;
        int loaded = job->input_bytes ? pdfp_doc_load_mem(job->input_bytes, job->input_size,
                                                          job->input_path, &g.doc, set_error)
                                      : pdfp_doc_load(job->input_path, &g.doc, set_error);
        if (loaded != 0) return 0;
        r->page_count = g.doc.pages.count;
        if (!select_pages(job, g.doc.pages.count, &r->labelled)) return 0;
        int ok = 1;
        if (job->output_image)
            ok = numbered_doc_build(&g.doc, job->output_image, &job->look, &r->labelled);
        else if (!job->count_only)
            ok = numbered_doc(&g.doc, job->output_path, &job->look, &r->labelled);
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

}  // namespace

void set_error(const char *fmt, ...) {
    char *text = err_text();
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text, ERR_SIZE, fmt, ap);
    va_end(ap);
    if (n < 0) text[0] = 0;
    text[ERR_SIZE - 1] = 0;
    ++t_err_epoch;
}

void clear_error() { err_text()[0] = 0; }

unsigned error_epoch() { return t_err_epoch; }

int numbering_run(const numbering_job *job, numbering_result *result) noexcept {
    *result = numbering_result{};
    char *outer = t_err_sink;
    t_err_sink = result->message;
    int ok = run_job(job, result);
    t_err_sink = outer;
    return ok;
}

extern "C" {

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_init(void) {
    clear_error();
    return 1;
}

DEDEDIRUZURUD_API void DEDEDIRUZURUD_CALL dedediruzurud_cleanup(void) { clear_error(); }

DEDEDIRUZURUD_API const char *DEDEDIRUZURUD_CALL dedediruzurud_last_error(void) { return g_err; }

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

}  // extern "C"
