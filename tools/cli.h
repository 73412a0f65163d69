// The command-line tool's parts: options, the label format's conversion,
// the batch runner and the few platform services they need.
#ifndef DEDEDIRUZURUD_CLI_H
#define DEDEDIRUZURUD_CLI_H

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dedediruzurud.h"
#include "dedediruzurud_internal.h"

constexpr const char *PROGRAM = "dedediruzurud";
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct options {
    std::vector<const char *> files;  // the file arguments, in order
    const char *format_arg = nullptr; // --format as given
    int format_index = 0;             // the argument that holds it
    size_t format_offset = 0;         // where in that argument it starts
    std::string format = "{n}";       // the label format in the label font's encoding
    int position = DEDEDIRUZURUD_BOTTOM_CENTER;
    int size = 12;
    int red = 0, green = 0, blue = 0;
    int first = 1;
    bool has_first = false;
    bool has_pages = false;
    int from = 1, to = INT_MAX;
    bool has_skip = false;
    int skip = 0;
    const char *out_dir = nullptr;  // -o DIR
    const char *suffix = nullptr;   // --suffix TEXT
    int jobs = 0;                   // 0: one per core
    bool chain = false;             // --continue
};

// A usage error was printed; the program exits with EXIT_USAGE.
struct usage_error {};
// Prints "dedediruzurud: MESSAGE" and the --help hint, then throws usage_error.
[[noreturn]] void usage(const std::string &message);

// The library call for one input, as the options describe it (output unset).
numbering_job job_for(const options &o, const char *input);

// Numbers many files (-o DIR or --suffix TEXT); the exit status.
int run_batch(const options &o);

// The --format value in Windows-1252, the label font's encoding; false
// with *error naming the first character the font cannot show, or the
// first byte that is not part of a character.
bool label_format(const options &o, std::string *cp1252, std::string *error);
// Unicode code point c in Windows-1252, or -1 when that has no such character.
int cp1252_code(char32_t c);

// Platform services (cli_platform.cpp).
// The characters of a command-line value arg, found from byte `offset` of
// argv[index]: UTF-8 on POSIX systems; on Windows the wide command line's
// text (else arg in the ANSI code page). False with *error on bytes that
// are not text.
bool argument_characters(const char *arg, int index, size_t offset, std::u32string *chars, std::string *error);
int cpu_count();
bool is_terminal(FILE *f);
void set_binary(FILE *f);
bool is_directory(const std::string &path);
bool path_exists(const std::string &path);
bool make_directory(const std::string &path);
// Size of a file in bytes, 0 when unknown.
int64_t file_size_of(const std::string &path);
// A text that two names of the same existing file share; "" when the path
// names nothing.
std::string file_identity(const std::string &path);
// Runs work(arg) on `threads` threads while this thread calls tick(tick_arg)
// every 100 ms, and once more as soon as the last of them has ended.
void run_parallel(int threads, void (*work)(void *), void *arg, void (*tick)(void *), void *tick_arg);
// Seconds on a steady clock.
double seconds_now();

#endif
