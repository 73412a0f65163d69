// The temporary files in flight sit in a fixed table that the signal
// handler can read without taking a lock or allocating: each slot is
// claimed with a compare-and-swap, filled, and only then marked ready; the
// handler unlinks the ready ones. A slot is released after the file is
// renamed or removed, so the handler at worst unlinks a name that no longer
// exists. Names that do not fit a slot, or a full table, go unwatched (the
// unnamed temporary files of Linux need no watching at all).
#include <atomic>
#include <csignal>
#include <cstring>

#include "cli_signals.h"
#include "dedediruzurud/output_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int SLOTS = 64;           // more than the tool has files in flight
constexpr size_t NAME_BYTES = 4096;  // PATH_MAX on Linux

enum slot_state : int { FREE, FILLING, READY };

struct slot {
    std::atomic<int> state{FREE};
    char name[NAME_BYTES];
};

slot g_slots[SLOTS];

void watch_temporary(const char *name, bool exists) {
    size_t n = std::strlen(name);
    if (n >= NAME_BYTES) return;
    if (!exists) {
        for (slot &s : g_slots)
            if (s.state.load(std::memory_order_acquire) == READY && std::strcmp(s.name, name) == 0) {
                s.state.store(FREE, std::memory_order_release);
                return;
            }
        return;
    }
    for (slot &s : g_slots) {
        int expected = FREE;
        if (!s.state.compare_exchange_strong(expected, FILLING, std::memory_order_acquire)) continue;
        std::memcpy(s.name, name, n + 1);
        s.state.store(READY, std::memory_order_release);
        return;
    }
}

void remove_ready() {
    for (slot &s : g_slots)
        if (s.state.load(std::memory_order_acquire) == READY) {
#if defined(_WIN32)
            DeleteFileA(s.name);
#else
            unlink(s.name);
#endif
        }
}

#if defined(_WIN32)

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) remove_ready();
    return FALSE;  // the next handler (the default) ends the process
}

#else

void on_signal(int sig) {
    int saved = errno;
    remove_ready();
    // Ended by the signal itself, as the caller (a shell, make) expects.
    std::signal(sig, SIG_DFL);
    errno = saved;
    raise(sig);
}

#endif

}  // namespace

void watch_own_temporary(const char *name, bool exists) { watch_temporary(name, exists); }

void remove_temporaries_when_stopped() {
    output_temp_watch = watch_temporary;
#if defined(_WIN32)
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {}, before {};
        // A signal ignored when we started (nohup, a background job) stays ignored.
        if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        now.sa_handler = on_signal;
        sigemptyset(&now.sa_mask);
        for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&now.sa_mask, other);
        sigaction(sig, &now, nullptr);
    }
#endif
}
