// The page-number label: format expansion, a Helvetica width estimate,
// placement along the bottom or top edge of the page as seen, escaping for
// a PDF string, and the text block drawn after the wrapped page.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "label.h"
#include "label_plan.h"

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
// The backing box reaches this far (in units of the size) around the text.
constexpr double BACKING_PAD = 0.2;

void append_int(std::string *s, int64_t v) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    s->append(tmp, r.ptr);
}

// Where a label of the given width (in units of the size) stands on a
// w x h frame with margins mx, my: its start and baseline, and the width
// it is placed as (no wider than the room between the margins).
struct placement {
    double x, y, tw;
};

// Labels placed on this thread wider than the room between their margins
// (drawn anyway): the tool warns of them.
thread_local uint64_t g_overwide = 0;

// The default margin: 3 % of the page's shorter side, held between 12 and 36 points.
double default_margin(double w, double h) { return std::clamp(MARGIN_SHARE * std::min(w, h), MARGIN_MIN, MARGIN_MAX); }

bool place(int position, double size, double w, double h, double mx, double my, double raw_width, placement *p) {
    if (w - 2 * mx <= 0 || h - 2 * my <= 0) return false;
    double tw = std::min(w - 2 * mx, raw_width * size);
    if (raw_width * size > w - 2 * mx) ++g_overwide;
    int column = position % 3;  // 0 centre, 1 right, 2 left
    bool top = label_at_top(position);
    double x = column == 0 ? (w - tw) * 0.5 : column == 1 ? w - mx - tw : mx;
    if (x < 0) x = 0;
    double y = top ? h - my - ASCENT_SHARE * size : my + DESCENT_SHARE * size;
    if (y < DESCENT_SHARE * size) y = DESCENT_SHARE * size;
    *p = {x, y, tw};
    return true;
}

// The text object: font, colour, position and the shown operand.
std::string text_block(const label_look *look, const placement &p, const std::string &operand) {
    std::string b = "BT\n/PN " + pdfp_fmt_num(look->font_size) + " Tf\n";
    b += pdfp_fmt_num(look->red / 255.0) + " " + pdfp_fmt_num(look->green / 255.0) + " " +
         pdfp_fmt_num(look->blue / 255.0) + " rg\n";
    b += pdfp_fmt_num(p.x) + " " + pdfp_fmt_num(p.y) + " Td\n";
    return b + operand + " Tj\nET\n";
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

std::string label_literal(const std::string &text) {
    std::string s = "(";
    s += label_escape(text);
    s += ')';
    return s;
}

uint64_t label_overwide_count() { return g_overwide; }

bool label_block(const label_look *look, int64_t number, int64_t total, double w, double h,
                 std::string *block) {
    std::string text = label_text(look->format, number, total);
    double m = default_margin(w, h);
    placement p;
    if (!place(look->position, look->font_size, w, h, m, m, label_raw_width(text), &p)) return false;
    *block = text_block(look, p, label_literal(text));
    return true;
}

bool label_block_planned(const label_look *look, size_t k, int32_t page, double w, double h, std::string *block) {
    const label_plan *plan = look->plan;
    double size = look->font_size;
    double m = default_margin(w, h);
    double mx = plan->margin ? plan->margin_x : m, my = plan->margin ? plan->margin_y : m;
    placement p;
    if (!place(look->position, size, w, h, mx, my, plan->widths[k], &p)) {
        set_error(MSG_MARGIN_NO_ROOM, pdfp_fmt_num(mx).c_str(), pdfp_fmt_num(my).c_str(), page + 1,
                  pdfp_fmt_num(w).c_str(), pdfp_fmt_num(h).c_str());
        return false;
    }
    std::string text = text_block(look, p, plan->operands[k]);
    if (!plan->opacity && !plan->backing) {
        *block = text;
        return true;
    }
    // Extras in a saved state, so that the opacity and the box's white end with the label.
    std::string &b = *block;
    b = "q\n";
    if (plan->opacity) b += std::string("/") + LABEL_GS + " gs\n";
    if (plan->backing)
        b += "1 1 1 rg\n" + pdfp_fmt_num(p.x - BACKING_PAD * size) + " " +
             pdfp_fmt_num(p.y - (DESCENT_SHARE + BACKING_PAD) * size) + " " +
             pdfp_fmt_num(p.tw + 2 * BACKING_PAD * size) + " " + pdfp_fmt_num((1 + 2 * BACKING_PAD) * size) +
             " re f\n";
    b += text + "Q\n";
    return true;
}
