// The last-error text: one process-wide text that the exported functions
// show, and per thread the place where messages go while the command-line
// tool's numbering runs (the caller's own buffer), so that concurrent runs
// keep their own messages.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

// Guards g_err. A spin lock rather than std::mutex: the Windows DLL's
// compiler (MinGW's win32 thread model) has no std::mutex, and the
// critical section is a copy of at most 1 KiB.
std::atomic_flag g_err_lock = ATOMIC_FLAG_INIT;

struct err_guard {
    err_guard() {
        while (g_err_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~err_guard() { g_err_lock.clear(std::memory_order_release); }
};

}  // namespace

void set_error(const char *fmt, ...) {
    char text[ERR_SIZE];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text, ERR_SIZE, fmt, ap);
    va_end(ap);
    if (n < 0) text[0] = 0;
    text[ERR_SIZE - 1] = 0;
    if (t_err_sink)
        std::memcpy(t_err_sink, text, ERR_SIZE);
    else
        publish_error(text);
    ++t_err_epoch;
}

void clear_error() {
    if (t_err_sink)
        t_err_sink[0] = 0;
    else
        publish_error("");
}

void publish_error(const char *text) {
    err_guard lock;
    std::snprintf(g_err, ERR_SIZE, "%s", text);
}

unsigned error_epoch() { return t_err_epoch; }

const char *process_error_text() { return g_err; }

char *redirect_errors(char *sink) {
    char *outer = t_err_sink;
    t_err_sink = sink;
    return outer;
}
