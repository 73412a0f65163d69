// The numbering entry's own options on the command line. Values are only
// read here; their ranges (margins from 0 up, opacity 0..1) are the
// library's to check, which the tool asks before any work.
#include "cli_extras.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// A finite number filling [s, end).
bool parse_number(const char *s, const char *end, double *out) {
    std::string text(s, end);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char *stop = nullptr;
    errno = 0;
    *out = std::strtod(text.c_str(), &stop);
    return *stop == 0 && errno != ERANGE && std::isfinite(*out);
}

bool parse_count(const char *value, int *out) {
    char *stop = nullptr;
    errno = 0;
    long v = std::strtol(value, &stop, 10);
    if (!(value[0] >= '0' && value[0] <= '9') || *stop != 0 || errno == ERANGE || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

// X alone sets both margins; X,Y the side and the top or bottom one.
bool margin_value(const char *value, extra_options *x) {
    const char *comma = std::strchr(value, ',');
    const char *end = value + std::strlen(value);
    if (!comma) {
        if (!parse_number(value, end, &x->margin_x)) return false;
        x->margin_y = x->margin_x;
    } else if (!parse_number(value, comma, &x->margin_x) || !parse_number(comma + 1, end, &x->margin_y)) {
        return false;
    }
    x->has_margin = true;
    return true;
}

std::string needs(const std::string &name, const char *what, const char *value) {
    return "option " + name + " needs " + what + ", not '" + value + "'";
}

}  // namespace

bool extra_option_takes_value(const std::string &name) {
    for (const char *n : {"--font", "--font-index", "--margin", "--opacity", "--total", "--manifest"})
        if (name == n) return true;
    return false;
}

bool extra_flag(const std::string &name, extra_options *x) {
    if (name == "--backing") x->backing = true;
    else if (name == "--page-labels") x->page_labels = true;
    else return false;
    return true;
}

bool apply_extra_option(const std::string &name, const char *value, extra_options *x, std::string *error) {
    error->clear();
    if (name == "--font") {
        if (!*value) *error = "option --font needs a font name or a font file";
        x->font = value;
    } else if (name == "--font-index") {
        if (!parse_count(value, &x->font_index)) *error = needs(name, "a face number of 0 or more", value);
    } else if (name == "--margin") {
        if (!margin_value(value, x)) *error = needs(name, "X or X,Y in points", value);
    } else if (name == "--opacity") {
        double a;
        if (!parse_number(value, value + std::strlen(value), &a)) *error = needs(name, "a number from 0 to 1", value);
        x->opacity = a;
        x->has_opacity = true;
    } else if (name == "--total") {
        if (std::strcmp(value, "labelled") == 0) {
            x->total_mode = DEDEDIRUZURUD_TOTAL_LABELLED;
        } else if (parse_count(value, &x->total)) {
            x->total_mode = DEDEDIRUZURUD_TOTAL_GIVEN;
        } else {
            *error = needs(name, "a number of pages or 'labelled'", value);
        }
    } else if (name == "--manifest") {
        if (!*value) *error = "option --manifest needs a file name";
        x->manifest = value;
    } else {
        return false;
    }
    return true;
}

void extra_record(const extra_options &x, dedediruzurud_options *r) {
    r->font = x.font;
    r->font_index = x.font_index;
    if (x.has_margin) {
        r->flags |= DEDEDIRUZURUD_MARGIN;
        r->margin_x = x.margin_x;
        r->margin_y = x.margin_y;
    }
    if (x.has_opacity) {
        r->flags |= DEDEDIRUZURUD_OPACITY;
        r->opacity = x.opacity;
    }
    if (x.backing) r->flags |= DEDEDIRUZURUD_BACKING;
    if (x.page_labels) r->flags |= DEDEDIRUZURUD_PAGE_LABELS;
    r->total_mode = x.total_mode;
    r->total = x.total;
}
