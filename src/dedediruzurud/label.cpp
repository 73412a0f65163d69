// The page-number label: format expansion, a Helvetica width estimate,
// placement along the bottom or top edge of the page as seen, escaping for
// a PDF string, and the text block drawn after the wrapped page.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "label.h"

namespace {

// Advance widths of Helvetica in thousandths of the text size, bytes 32..126.
// Every other byte is estimated as a space-like 278.
constexpr int HELVETICA_FIRST = 32;
constexpr int HELVETICA_LAST = 126;
constexpr int HELVETICA_OTHER = 278;
constexpr int helvetica_widths[HELVETICA_LAST - HELVETICA_FIRST + 1] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,   // 32-47
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,   // 48-63
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // 64-79
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,   // 80-95
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,   // 96-111
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,        // 112-126
};

// Margin between the label and the page edge, as a share of the shorter side.
constexpr double MARGIN_SHARE = 0.03;
constexpr double MARGIN_MIN = 12;
constexpr double MARGIN_MAX = 36;
// Baseline above the bottom margin, and cap height below the top margin,
// in units of the font size.
constexpr double DESCENT_SHARE = 0.24;
constexpr double ASCENT_SHARE = 1.2;

void append_int(std::string *s, int64_t v) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    s->append(tmp, r.ptr);
}

bool starts_with(const char *p, const char *end, const char *pat) {
    size_t n = std::strlen(pat);
    return static_cast<size_t>(end - p) >= n && std::memcmp(p, pat, n) == 0;
}

}  // namespace

std::string label_text(const char *format, int64_t number, int64_t total) {
    if (!format || !*format) format = "{n}";
    const char *p = format;
    const char *end = format + std::strlen(format);
    std::string out;
    while (p < end) {
        if (*p != '{') {
            out += *p++;
        } else if (starts_with(p, end, "{{")) {
            out += '{';
            p += 2;
        } else if (starts_with(p, end, "{}")) {
            out += '}';
            p += 2;
        } else if (starts_with(p, end, "{n}")) {
            append_int(&out, number);
            p += 3;
        } else if (starts_with(p, end, "{total}")) {
            append_int(&out, total);
            p += 7;
        } else {
            out += *p++;  // an unknown placeholder is text, never an error
        }
    }
    return out;
}

double label_raw_width(const std::string &text) {
    double sum = 0;
    for (unsigned char c : text) {
        int w = (c >= HELVETICA_FIRST && c <= HELVETICA_LAST) ? helvetica_widths[c - HELVETICA_FIRST]
                                                              : HELVETICA_OTHER;
        sum += w / 1000.0;
    }
    return sum;
}

std::string label_escape(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 32 || c > 126) {
            char oct[5] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
                           static_cast<char>('0' + (c & 7)), 0};
            out += oct;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {
thread_local uint64_t g_overwide = 0;
}  // namespace

uint64_t label_overwide_count() { return g_overwide; }

bool label_block(const label_look *look, int64_t number, int64_t total, double w, double h,
                 std::string *block) {
    std::string text = label_text(look->format, number, total);
    double size = look->font_size;
    double m = std::clamp(MARGIN_SHARE * std::min(w, h), MARGIN_MIN, MARGIN_MAX);
    if (w - 2 * m <= 0 || h - 2 * m <= 0) return false;
    double tw = std::min(w - 2 * m, label_raw_width(text) * size);
    if (label_raw_width(text) * size > w - 2 * m) ++g_overwide;
    int column = look->position % 3;  // 0 centre, 1 right, 2 left
    bool top = look->position >= 3;
    double x = column == 0 ? (w - tw) * 0.5 : column == 1 ? w - m - tw : m;
    if (x < 0) x = 0;
    double y = top ? h - m - ASCENT_SHARE * size : m + DESCENT_SHARE * size;
    if (y < DESCENT_SHARE * size) y = DESCENT_SHARE * size;

    std::string &b = *block;
    b = "BT\n/PN " + pdfp_fmt_num(size) + " Tf\n";
    b += pdfp_fmt_num(look->red / 255.0) + " " + pdfp_fmt_num(look->green / 255.0) + " " +
         pdfp_fmt_num(look->blue / 255.0) + " rg\n";
    b += pdfp_fmt_num(x) + " " + pdfp_fmt_num(y) + " Td\n(";
    b += label_escape(text);
    b += ") Tj\nET\n";
    return true;
}
