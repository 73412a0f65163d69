// The tool's options: parsing the command line into an options record,
// the checks of the file arguments and of the options' combinations, and
// the usage text.
#include "cli_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *VERSION = "1.0.0";

constexpr const char *HELP_TEXT =
    "Usage: dedediruzurud [options] INPUT.pdf OUTPUT.pdf\n"
    "       dedediruzurud [options] INPUT.pdf... -o DIR\n"
    "       dedediruzurud [options] INPUT.pdf... --suffix TEXT\n"
    "\n"
    "Writes a copy of INPUT.pdf to OUTPUT.pdf with a page number stamped on\n"
    "its pages. Every page is kept, in order; the selected pages (all of them\n"
    "unless --pages or --skip says otherwise) carry a one-line label, in\n"
    "Helvetica unless --font names another. With -o or --suffix it numbers\n"
    "many files, on all cores.\n"
    "\n"
    "Options:\n"
    "  --format TEXT     label text: {n} is the page's number, {total} the number\n"
    "                    of pages in the document, {{ and {} give { and }\n"
    "                    (default \"{n}\"; example \"Page {n} of {total}\"); {n:r}\n"
    "                    and {n:R} in roman numerals, {n:a} and {n:A} in letters\n"
    "                    (a..z, aa..zz, ...), {n:06} padded with zeros to 6\n"
    "                    digits, the same for {total}. The label shows the\n"
    "                    characters its font has: with the standard fonts those\n"
    "                    of Windows-1252 (accented Latin letters, dashes,\n"
    "                    quotes, the euro sign ...), with a TrueType font any\n"
    "                    of its own\n"
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
    "  -o, --output-dir DIR\n"
    "                    number every INPUT.pdf into DIR under its own name\n"
    "                    (DIR is created when missing)\n"
    "  --suffix TEXT     number every INPUT.pdf into a file beside it, TEXT\n"
    "                    added before the extension (--suffix -numbered:\n"
    "                    a.pdf gives a-numbered.pdf)\n"
    "  -j, --jobs N      number N files at a time (default: one per core)\n"
    "  -q, --quiet       print errors only (no warnings, notes or summary)\n"
    "  -v, --verbose     also print each file's page count and what the reader\n"
    "                    repaired in a damaged file\n"
    "  --continue        number the files, in the order given, as one document:\n"
    "                    each file's first number follows the last number of\n"
    "                    the file before, {total} counts the pages of all\n"
    "  --font NAME|FILE  the label's font: a standard font by name (Helvetica,\n"
    "                    the default; Helvetica-Bold, Times-Roman, Times-Italic,\n"
    "                    Courier, Symbol, ZapfDingbats ...) or a TrueType font\n"
    "                    file (.ttf, .ttc, .otf with TrueType outlines), which\n"
    "                    is embedded with only the characters the labels use\n"
    "  --font-index N    the face of a .ttc font collection (default 0)\n"
    "  --margin X[,Y]    the label's distance in points from the page's side (X)\n"
    "                    and from its bottom or top edge (Y, default X); by\n"
    "                    default 3% of the page's shorter side, 12 to 36\n"
    "  --opacity A       the label's opacity, from 0 (unseen) to 1 (the default)\n"
    "  --backing         a white box behind the label, to read it over content\n"
    "  --total N|labelled\n"
    "                    what {total} shows: N, or the last number shown\n"
    "                    (labelled); by default the page count\n"
    "  --page-labels     the viewer's page box shows the numbers the pages print\n"
    "                    (the document's page labels)\n"
    "  --manifest FILE.csv\n"
    "                    once every file is numbered, list them in FILE.csv:\n"
    "                    input,output,first,last,pages (first and last label\n"
    "                    as printed)\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Options may also be written --option=VALUE; \"--\" ends the options.\n"
    "INPUT.pdf - reads standard input and OUTPUT.pdf - writes standard output.\n"
    "OUTPUT.pdf is only replaced once the whole numbered copy has been\n"
    "written, so it may name INPUT.pdf itself (with -o or --suffix an output\n"
    "may not replace any input). A stopped run (Ctrl-C, a kill) leaves no\n"
    "temporary file, and with many files the outputs already finished.\n"
    "With --suffix, inputs that are numbered copies of other inputs from an\n"
    "earlier run (a-numbered.pdf beside a.pdf) are skipped with a note.\n"
    "\n"
    "With many files a progress line shows on a terminal, each file that\n"
    "fails is named with the reason, and a summary closes. With --continue\n"
    "nothing is written unless every file can be read.\n"
    "\n"
    "An encrypted file that opens without a password is numbered when its\n"
    "permissions allow changes, and the copy keeps its passwords and\n"
    "permissions; otherwise it is refused: \"the document's permissions do not\n"
    "allow changes\", or \"encrypted PDFs are not supported\" (with \"it needs a\n"
    "password to open\" when a password is what is missing). No option\n"
    "overrides a document's permissions.\n"
    "\n"
    "Exit status: 0 on success, 1 when a document cannot be numbered (the\n"
    "reason is printed, after the file's name), 2 for a usage error, a value\n"
    "out of range or a label character the font cannot show (nothing is read\n"
    "then).\n"
    "\n"
    "Examples:\n"
    "  dedediruzurud report.pdf report-numbered.pdf\n"
    "  dedediruzurud --format \"Page {n} of {total}\" --position bottom-right in.pdf out.pdf\n"
    "  dedediruzurud --skip 2 --size 10 --color \"#336699\" thesis.pdf thesis-numbered.pdf\n"
    "  dedediruzurud --pages 5-20 --first 1 --position top-right book.pdf book-numbered.pdf\n"
    "  dedediruzurud --format \"Página {n} — {total}\" in.pdf out.pdf\n"
    "  dedediruzurud scans/*.pdf -o numbered\n"
    "  dedediruzurud --continue --format \"Page {n} of {total}\" ch1.pdf ch2.pdf ch3.pdf --suffix -numbered\n"
    "  dedediruzurud --continue --format \"ACME-{n:06}\" --first 1000 --backing \\\n"
    "      --manifest production.csv a.pdf b.pdf c.pdf -o production\n"
    "  dedediruzurud --font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf \\\n"
    "      --format \"Страница {n} из {total}\" in.pdf out.pdf\n"
    "  curl -s https://example.org/a.pdf | dedediruzurud - - > a-numbered.pdf\n";

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
        o->format_arg = value;
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
    } else if (name == "-o" || name == "--output-dir") {
        o->out_dir = value;
    } else if (name == "--suffix") {
        o->suffix = value;
    } else if (name == "-j" || name == "--jobs") {
        o->jobs = int_value(name.c_str(), value);
        if (o->jobs < 1) usage("option " + name + " needs a number of 1 or more, not '" + value + "'");
    } else if (std::string error; apply_extra_option(name, value, &o->extras, &error)) {
        if (!error.empty()) usage(error);
    } else {
        usage("unknown option '" + name + "'");
    }
}

bool takes_value(const std::string &name) {
    static const char *const names[] = {"--format", "--position", "--size",       "--color",  "--first",
                                        "--pages",  "--skip",     "--output-dir", "--suffix", "--jobs",
                                        "-o",       "-j"};
    for (const char *n : names)
        if (name == n) return true;
    return extra_option_takes_value(name);
}

// The file arguments and the options' combinations.
void check_files(options *o) {
    const auto &f = o->files;
    if (!o->out_dir && !o->suffix) {
        if (f.size() < 2) usage("expected INPUT.pdf and OUTPUT.pdf");
        if (f.size() > 2) usage(std::string("unexpected argument '") + f[2] + "'");
        if (o->chain) usage("--continue numbers many files: give them with -o DIR or --suffix TEXT");
    } else {
        if (o->out_dir && o->suffix) usage("-o and --suffix cannot be used together");
        if (f.empty()) usage("expected INPUT.pdf files to number");
        if (o->suffix && !*o->suffix) usage("option --suffix needs a text that is not empty");
        for (const char *name : f)
            if (std::strcmp(name, "-") == 0) usage("'-' (standard input) cannot be used with -o or --suffix");
    }
    if (o->out_dir && std::strcmp(o->out_dir, "-") == 0)
        usage("-o needs a directory: '-' (standard output) cannot take many files");
    if (o->has_skip && o->has_pages) usage("--skip and --pages cannot be used together");
    if (o->has_skip && o->has_first) usage("--first cannot be used with --skip (numbering after skipped pages starts at 1)");
}

// The values' ranges, checked before any file is read, so that a slip
// costs nothing. The size keeps its documented clamp, with a warning.
void check_values(options *o) {
    if (o->position < 0 || o->position > 5)
        usage("option --position needs a code 0-5 or a name, not '" + std::to_string(o->position) + "'");
    for (int c : {o->red, o->green, o->blue})
        if (c < 0 || c > 255)
            usage("option --color needs components 0..255, not '" + std::to_string(o->red) + "," +
                  std::to_string(o->green) + "," + std::to_string(o->blue) + "'");
    if (o->has_pages) {
        std::string given = o->from == o->to ? std::to_string(o->from) : std::to_string(o->from) + "-" +
                                                                              (o->to == INT_MAX ? "" : std::to_string(o->to));
        if (o->from < 1 || o->to < 1) usage("option --pages counts pages from 1, not '" + given + "'");
        if (o->from > o->to) usage("option --pages needs FROM no greater than TO, not '" + given + "'");
    }
    if (o->has_skip && o->skip < 0) usage("option --skip needs 0 or more pages, not '" + std::to_string(o->skip) + "'");
    int clamped = o->size <= 0 ? 12 : o->size > 300 ? 300 : o->size;
    if (clamped != o->size && !o->quiet)
        std::fprintf(stderr, "%s: warning: --size %d %s: %d is used\n", PROGRAM, o->size,
                     o->size <= 0 ? "is not a size" : "is more than 300", clamped);
    o->size = clamped;
}

}  // namespace

int parse_options(int argc, char **argv, options *o) {
    bool options_done = false;
    for (int k = 1; k < argc; ++k) {
        const char *arg = argv[k];
        bool is_option = !options_done && arg[0] == '-' && arg[1] != 0;
        if (!is_option) {
            o->files.push_back(arg);
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
        } else if (name == "--continue") {
            o->chain = true;
        } else if (extra_flag(name, &o->extras)) {
        } else if (name == "-q" || name == "--quiet") {
            o->quiet = true;
        } else if (name == "-v" || name == "--verbose") {
            o->verbose = true;
        } else if (size_t eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            std::string key = name.substr(0, eq);
            if (!takes_value(key)) usage("unknown option '" + key + "'");
            apply(key, arg + eq + 1, o);
            if (key == "--format") {
                o->format_index = k;
                o->format_offset = eq + 1;
            }
        } else if (name.size() > 2 && name[1] != '-' && takes_value(name.substr(0, 2))) {
            apply(name.substr(0, 2), arg + 2, o);  // -j2, -oDIR
        } else if (takes_value(name)) {
            if (k + 1 >= argc) usage("option " + name + " needs a value");
            apply(name, argv[++k], o);
            if (name == "--format") {
                o->format_index = k;
                o->format_offset = 0;
            }
        } else {
            usage("unknown option '" + name + "'");
        }
    }
    check_files(o);
    check_values(o);
    return -1;
}

[[noreturn]] void usage(const std::string &message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM, message.c_str(), PROGRAM);
    throw usage_error{};
}
