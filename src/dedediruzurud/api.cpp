// The six exported functions and the process-wide last-error text.
#include <cstdarg>
#include <cstdio>
#include <new>

#include "dedediruzurud_internal.h"
#include "dedediruzurud.h"

namespace {

char g_err[1024];
// Bumped by every message, so that a caller can tell whether anything was
// recorded since it looked.
unsigned g_err_epoch;

// Frees the document on every path out of a working call.
struct doc_guard {
    pdfp_doc doc{};
    ~doc_guard() { pdfp_doc_free(&doc); }
};

// Shared road of the three working functions: load, select, write.
// first_index/last_index come from select(page_count), which returns false
// (with its message recorded) for an empty selection.
template <typename Select>
int run_numbering(const char *input_path, const char *output_path, int position,
                  const char *format, int font_size, int red, int green, int blue,
                  Select select) noexcept {
    try {
        if (!input_path || !output_path) {
            set_error("NULL path argument");
            return 0;
        }
        doc_guard g;
        if (pdfp_doc_load(input_path, &g.doc, set_error) != 0) return 0;
        int first_index = 0, last_index = 0, first_number = 1;
        if (!select(g.doc.pages.count, &first_index, &last_index, &first_number)) return 0;
        int ok = numbered_doc(&g.doc, output_path, position, format, static_cast<double>(font_size),
                              first_index, last_index, first_number, red, green, blue);
        if (!ok) return 0;
        clear_error();
        return 1;
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
    } catch (...) {
        set_error("failed to build output");
    }
    return 0;
}

}  // namespace

void set_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(g_err, sizeof g_err, fmt, ap);
    va_end(ap);
    if (n < 0) g_err[0] = 0;
    g_err[sizeof g_err - 1] = 0;
    ++g_err_epoch;
}

void clear_error() { g_err[0] = 0; }

unsigned error_epoch() { return g_err_epoch; }

extern "C" {

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_init(void) {
    clear_error();
    return 1;
}

DEDEDIRUZURUD_API void DEDEDIRUZURUD_CALL dedediruzurud_cleanup(void) { clear_error(); }

DEDEDIRUZURUD_API const char *DEDEDIRUZURUD_CALL dedediruzurud_last_error(void) { return g_err; }

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_add(const char *input_path,
                                                           const char *output_path, int position,
                                                           const char *format, int font_size,
                                                           int first_number, int red, int green,
                                                           int blue) {
    return run_numbering(input_path, output_path, position, format, font_size, red, green, blue,
                         [&](int32_t count, int *fi, int *li, int *fn) {
                             *fi = 0;
                             *li = count - 1;
                             *fn = first_number;
                             return true;
                         });
}

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_range(const char *input_path,
                                                             const char *output_path, int position,
                                                             const char *format, int font_size,
                                                             int start_page, int end_page,
                                                             int first_number, int red, int green,
                                                             int blue) {
    return run_numbering(input_path, output_path, position, format, font_size, red, green, blue,
                         [&](int32_t count, int *fi, int *li, int *fn) {
                             // 64-bit so that INT_MIN/INT_MAX pages cannot wrap.
                             long long f = static_cast<long long>(start_page) - 1;
                             long long l = static_cast<long long>(end_page) - 1;
                             if (f < 0) f = 0;
                             if (l >= count) l = count - 1;
                             if (f > l) {
                                 set_error("range %d..%d is empty (document has %ld pages)",
                                           start_page, end_page, static_cast<long>(count));
                                 return false;
                             }
                             *fi = static_cast<int>(f);
                             *li = static_cast<int>(l);
                             *fn = first_number;
                             return true;
                         });
}

DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_skip(const char *input_path,
                                                            const char *output_path, int position,
                                                            const char *format, int font_size,
                                                            int skip_pages, int red, int green,
                                                            int blue) {
    return run_numbering(input_path, output_path, position, format, font_size, red, green, blue,
                         [&](int32_t count, int *fi, int *li, int *fn) {
                             int f = skip_pages < 0 ? 0 : skip_pages;
                             if (f >= count) {
                                 set_error("skip_pages %d >= page count %ld \xE2\x80\x94 nothing to number",
                                           skip_pages, static_cast<long>(count));
                                 return false;
                             }
                             *fi = f;
                             *li = count - 1;
                             *fn = 1;
                             return true;
                         });
}

}  // extern "C"
