// The last-error text: one process-wide text that the exported functions
// show, and per thread the place where messages go while the command-line
// tool's numbering runs (the caller's own buffer), so that concurrent runs
// keep their own messages.
#include <cstdarg>
#include <cstdio>

#include "dedediruzurud_internal.h"

namespace {

char g_err[1024];
// Where this thread's messages go: the caller's buffer instead of g_err
// while redirect_errors has set one.
thread_local char *t_err_sink = nullptr;
// Bumped by every message on this thread (a call never leaves its thread),
// so that a caller can tell whether anything was recorded since it looked.
thread_local unsigned t_err_epoch;

constexpr size_t ERR_SIZE = sizeof g_err;
static_assert(sizeof numbering_result::message == ERR_SIZE);

char *err_text() { return t_err_sink ? t_err_sink : g_err; }

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

const char *process_error_text() { return g_err; }

char *redirect_errors(char *sink) {
    char *outer = t_err_sink;
    t_err_sink = sink;
    return outer;
}
