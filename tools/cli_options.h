// The tool's options (cli_options.cpp): the command line read into an
// options record, the usage text and usage errors.
//
// Results: a usage error prints its message and throws usage_error, which
// main turns into exit status 2.
#ifndef DEDEDIRUZURUD_CLI_OPTIONS_H
#define DEDEDIRUZURUD_CLI_OPTIONS_H

#include <climits>
#include <cstddef>
#include <string>
#include <vector>

#include "cli_extras.h"
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
    extra_options extras;           // --font, --margin, ... --manifest
    // What the tool says besides errors.
    bool quiet = false;    // -q: errors only
    bool verbose = false;  // -v: each file's page count and the reader's repairs
};

// A usage error was printed; the program exits with EXIT_USAGE.
struct usage_error {};
// Prints "dedediruzurud: MESSAGE" and the --help hint, then throws usage_error.
[[noreturn]] void usage(const std::string &message);

// Reads the command line into *o and checks the file arguments and the
// options' combinations: -1 to go on, or the exit status once --help or
// --version has printed what it asks for.
int parse_options(int argc, char **argv, options *o);

#endif
