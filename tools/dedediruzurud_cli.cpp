// dedediruzurud: the command-line face of the library. It turns options
// into one call of dedediruzurud_add, dedediruzurud_range or
// dedediruzurud_skip and reports the library's message on failure.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "dedediruzurud.h"

namespace {

constexpr const char *PROGRAM = "dedediruzurud";
constexpr const char *VERSION = "1.0.0";
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char *HELP_TEXT =
    "Usage: dedediruzurud [options] INPUT.pdf OUTPUT.pdf\n"
    "\n"
    "Writes a copy of INPUT.pdf to OUTPUT.pdf with a page number stamped on\n"
    "its pages. Every page is kept, in order; the selected pages (all of them\n"
    "unless --pages or --skip says otherwise) carry a one-line label in\n"
    "Helvetica.\n"
    "\n"
    "Options:\n"
    "  --format TEXT     label text: {n} is the page's number, {total} the number\n"
    "                    of pages in the document, {{ and {} give { and }\n"
    "                    (default \"{n}\"; example \"Page {n} of {total}\")\n"
    "  --position POS    where the label stands, as a name or a code:\n"
    "                      bottom-center 0 (default)   top-center 3\n"
    "                      bottom-right  1             top-right  4\n"
    "                      bottom-left   2             top-left   5\n"
    "  --size PT         text size in whole points (default 12; 0 or less means\n"
    "                    12, larger than 300 means 300)\n"
    "  --color R,G,B     label colour, components 0..255, or #rrggbb in\n"
    "                    hexadecimal (default 0,0,0, black)\n"
    "  --first N         number shown on the first labelled page (default 1;\n"
    "                    may be 0 or negative)\n"
    "  --pages FROM-TO   label only pages FROM to TO, counted from 1, both\n"
    "                    included; FROM- runs to the last page, -TO starts at\n"
    "                    the first, N labels page N alone\n"
    "  --skip N          leave the first N pages without a label; the first\n"
    "                    labelled page shows 1 (not with --pages or --first)\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Options may also be written --option=VALUE; \"--\" ends the options.\n"
    "OUTPUT.pdf is only replaced once the whole numbered copy has been\n"
    "written, so it may name INPUT.pdf itself.\n"
    "\n"
    "Exit status: 0 on success, 1 when the document cannot be numbered (the\n"
    "reason is printed), 2 for a usage error.\n"
    "\n"
    "Examples:\n"
    "  dedediruzurud report.pdf report-numbered.pdf\n"
    "  dedediruzurud --format \"Page {n} of {total}\" --position bottom-right in.pdf out.pdf\n"
    "  dedediruzurud --skip 2 --size 10 --color \"#336699\" thesis.pdf thesis-numbered.pdf\n"
    "  dedediruzurud --pages 5-20 --first 1 --position top-right book.pdf book-numbered.pdf\n";

struct options {
    const char *input = nullptr;
    const char *output = nullptr;
    const char *format = "{n}";
    int position = DEDEDIRUZURUD_BOTTOM_CENTER;
    int size = 12;
    int red = 0, green = 0, blue = 0;
    int first = 1;
    bool has_first = false;
    bool has_pages = false;
    int from = 1, to = INT_MAX;
    bool has_skip = false;
    int skip = 0;
};

// A usage error was printed; the program exits with EXIT_USAGE.
struct usage_error {};

[[noreturn]] void usage(const std::string &message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM, message.c_str(), PROGRAM);
    throw usage_error{};
}

// A whole decimal int, optionally signed, from [s, end).
bool parse_int(const char *s, const char *end, int *out) {
    if (s == end) return false;
    std::string text(s, end);
    if (!(text[0] == '-' || text[0] == '+' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char *stop = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &stop, 10);
    if (*stop != 0 || stop == text.c_str() || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

int int_value(const char *option, const char *value) {
    int v;
    if (!parse_int(value, value + std::strlen(value), &v))
        usage(std::string("option ") + option + " needs a whole number, not '" + value + "'");
    return v;
}

int position_value(const char *value) {
    static const char *const names[] = {"bottom-center", "bottom-right", "bottom-left",
                                        "top-center",    "top-right",    "top-left"};
    for (int k = 0; k < 6; ++k)
        if (std::strcmp(value, names[k]) == 0) return k;
    int code;
    if (parse_int(value, value + std::strlen(value), &code)) return code;
    usage(std::string("unknown position '") + value +
          "' (use 0-5 or bottom-center, bottom-right, bottom-left, top-center, top-right, top-left)");
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void color_value(const char *value, options *o) {
    int *parts[3] = {&o->red, &o->green, &o->blue};
    if (value[0] == '#') {
        bool ok = std::strlen(value) == 7;
        for (int k = 0; ok && k < 3; ++k) {
            int hi = hex_digit(value[1 + 2 * k]), lo = hex_digit(value[2 + 2 * k]);
            ok = hi >= 0 && lo >= 0;
            if (ok) *parts[k] = hi * 16 + lo;
        }
        if (ok) return;
    } else {
        const char *p = value;
        bool ok = true;
        for (int k = 0; ok && k < 3; ++k) {
            const char *comma = std::strchr(p, ',');
            const char *end = (k < 2) ? comma : p + std::strlen(p);
            ok = end && parse_int(p, end, parts[k]);
            if (ok && k < 2) p = end + 1;
        }
        if (ok) return;
    }
    usage(std::string("option --color needs R,G,B or #rrggbb, not '") + value + "'");
}

void pages_value(const char *value, options *o) {
    const char *dash = std::strchr(value, '-');
    const char *end = value + std::strlen(value);
    bool ok;
    if (!dash) {
        ok = parse_int(value, end, &o->from);
        o->to = o->from;
    } else {
        ok = (dash == value || parse_int(value, dash, &o->from)) &&
             (dash + 1 == end || parse_int(dash + 1, end, &o->to)) && !(dash == value && dash + 1 == end);
    }
    if (!ok) usage(std::string("option --pages needs FROM-TO, FROM-, -TO or N, not '") + value + "'");
    o->has_pages = true;
}

// Applies one option that takes a value.
void apply(const std::string &name, const char *value, options *o) {
    if (name == "--format") {
        o->format = value;
    } else if (name == "--position") {
        o->position = position_value(value);
    } else if (name == "--size") {
        o->size = int_value("--size", value);
    } else if (name == "--color") {
        color_value(value, o);
    } else if (name == "--first") {
        o->first = int_value("--first", value);
        o->has_first = true;
    } else if (name == "--pages") {
        pages_value(value, o);
    } else if (name == "--skip") {
        o->skip = int_value("--skip", value);
        o->has_skip = true;
    } else {
        usage("unknown option '" + name + "'");
    }
}

bool takes_value(const std::string &name) {
    return name == "--format" || name == "--position" || name == "--size" || name == "--color" ||
           name == "--first" || name == "--pages" || name == "--skip";
}

// Returns -1 to go on, or the exit status for --help / --version.
int parse(int argc, char **argv, options *o) {
    const char *files[2];
    int nfiles = 0;
    bool options_done = false;
    for (int k = 1; k < argc; ++k) {
        const char *arg = argv[k];
        bool is_option = !options_done && arg[0] == '-' && arg[1] != 0;
        if (!is_option) {
            if (nfiles == 2) usage(std::string("unexpected argument '") + arg + "'");
            files[nfiles++] = arg;
            continue;
        }
        std::string name = arg;
        if (name == "--") {
            options_done = true;
        } else if (name == "--help" || name == "-h") {
            std::fputs(HELP_TEXT, stdout);
            return 0;
        } else if (name == "--version") {
            std::printf("%s %s\n", PROGRAM, VERSION);
            return 0;
        } else if (size_t eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            std::string key = name.substr(0, eq);
            if (!takes_value(key)) usage("unknown option '" + key + "'");
            apply(key, arg + eq + 1, o);
        } else if (takes_value(name)) {
            if (k + 1 >= argc) usage("option " + name + " needs a value");
            apply(name, argv[++k], o);
        } else {
            usage("unknown option '" + name + "'");
        }
    }
    if (nfiles < 2) usage("expected INPUT.pdf and OUTPUT.pdf");
    if (o->has_skip && o->has_pages) usage("--skip and --pages cannot be used together");
    if (o->has_skip && o->has_first) usage("--first cannot be used with --skip (numbering after skipped pages starts at 1)");
    o->input = files[0];
    o->output = files[1];
    return -1;
}

int run(const options &o) {
    int ok;
    if (o.has_skip)
        ok = dedediruzurud_skip(o.input, o.output, o.position, o.format, o.size, o.skip, o.red, o.green, o.blue);
    else if (o.has_pages)
        ok = dedediruzurud_range(o.input, o.output, o.position, o.format, o.size, o.from, o.to, o.first,
                                 o.red, o.green, o.blue);
    else
        ok = dedediruzurud_add(o.input, o.output, o.position, o.format, o.size, o.first, o.red, o.green,
                               o.blue);
    if (ok) return 0;
    std::fprintf(stderr, "%s: %s\n", PROGRAM, dedediruzurud_last_error());
    return EXIT_FAILED;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    try {
        int status = parse(argc, argv, &o);
        if (status >= 0) return status;
    } catch (const usage_error &) {
        return EXIT_USAGE;
    } catch (const std::exception &) {
        std::fprintf(stderr, "%s: out of memory\n", PROGRAM);
        return EXIT_FAILED;
    }
    return run(o);
}
