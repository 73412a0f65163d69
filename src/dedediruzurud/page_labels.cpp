// page_labels: writing the output's page label number tree (one flat
// /Nums array), and reading the input's so that unlabelled pages keep it.
#include "page_labels.h"

#include <algorithm>
#include <cstdio>

#include "label.h"
#include "utf8.h"

namespace {

// Page label trees nest a few levels; deeper is damage (or a loop).
constexpr int MAX_TREE_DEPTH = 32;

// One range of the input's labels: its first page and its entries.
struct input_range {
    int64_t start;
    std::string style;   // " /S /r", or "" for labels without numbers
    std::string prefix;  // " /P (...)", or ""
    int64_t first;       // /St, 1 when absent
};

// The value at *p (bounded by *end) in *b, followed through one reference.
bool resolve(const pdfp_doc *doc, const unsigned char **b, int32_t *p, int32_t *end) {
    if (*p < 0 || *p >= *end) return false;
    if (!is_digit((*b)[*p])) return true;
    int32_t e = value_end(*b, *p, *end);
    const pdfp_obj *obj = e > *p ? obj_named_by(&doc->objs, *b, *p, e) : nullptr;
    if (!obj) return false;
    *p = obj_value_at(doc->data, doc->size, obj, b, end);
    return *p >= 0;
}

input_range range_of(const pdfp_doc *doc, int64_t start, const unsigned char *b, int32_t p, int32_t end) {
    input_range r{start, "", "", 1};
    int32_t vs, ve;
    if (!resolve(doc, &b, &p, &end) || b[p] != '<') return r;
    if (dict_value(b, p, end, "S", &vs, &ve) && b[vs] == '/' && ve - vs == 2 && std::string("DRrAa").find(char(b[vs + 1])) != std::string::npos)
        r.style = " /S " + std::string(reinterpret_cast<const char *>(b + vs), ve - vs);
    if (dict_value(b, p, end, "P", &vs, &ve) && (b[vs] == '(' || (b[vs] == '<' && ve - vs > 1 && b[vs + 1] != '<')))
        r.prefix = " /P " + std::string(reinterpret_cast<const char *>(b + vs), ve - vs);
    if (dict_value(b, p, end, "St", &vs, &ve)) {
        int32_t at = vs, st = parse_int_at(b, ve, &at);
        if (st >= 1) r.first = st;
    }
    return r;
}

// The ranges of the number tree node at [p, end) of b, into *out.
void read_node(const pdfp_doc *doc, const unsigned char *b, int32_t p, int32_t end, int depth,
               std::vector<input_range> *out) {
    int32_t vs, ve;
    if (depth > MAX_TREE_DEPTH || !resolve(doc, &b, &p, &end) || b[p] != '<') return;
    if (dict_value(b, p, end, "Nums", &vs, &ve) && resolve(doc, &b, &vs, &ve) && b[vs] == '[') {
        for (int32_t at = vs + 1;;) {
            at = skip_ws_comments(b, at, ve);
            if (at < 0 || at >= ve || b[at] == ']') break;
            int32_t key = parse_int_at(b, ve, &at);
            at = skip_ws_comments(b, at, ve);
            int32_t e = at >= 0 && at < ve ? value_end(b, at, ve) : -1;
            if (key < 0 || e <= at) break;
            if (key < doc->pages.count) out->push_back(range_of(doc, key, b, at, e));
            at = e;
        }
    }
    // The node's dictionary again: Nums may have moved b into another object.
    if (dict_value(b, p, end, "Kids", &vs, &ve) && resolve(doc, &b, &vs, &ve) && b[vs] == '[') {
        for (int32_t at = vs + 1;;) {
            at = skip_ws_comments(b, at, ve);
            if (at < 0 || at >= ve || b[at] == ']') break;
            int32_t e = value_end(b, at, ve);
            if (e <= at) break;
            read_node(doc, b, at, e, depth + 1, out);
            at = e;
        }
    }
}

std::vector<input_range> input_labels(const pdfp_doc *doc) {
    std::vector<input_range> out;
    const pdfp_obj *catalog = pdfp_obj_find(&doc->objs, doc->catalog);
    const unsigned char *b;
    int32_t vs, ve;
    if (!catalog || !obj_dict_value(doc->data, doc->size, catalog, "PageLabels", &b, &vs, &ve)) return out;
    read_node(doc, b, vs, ve, 0, &out);
    std::stable_sort(out.begin(), out.end(), [](const input_range &x, const input_range &y) { return x.start < y.start; });
    out.erase(std::unique(out.begin(), out.end(), [](const input_range &x, const input_range &y) { return x.start == y.start; }),
              out.end());
    return out;
}

std::string range_text(int64_t page, const std::string &entries) {
    return std::string(" ") + std::to_string(page) + " <<" + entries + " >>";
}

std::string start_entry(int64_t first) { return first == 1 ? "" : " /St " + std::to_string(first); }

const char *style_name(number_style s) {
    switch (s) {
        case STYLE_ROMAN_LOWER: return " /S /r";
        case STYLE_ROMAN_UPPER: return " /S /R";
        case STYLE_LETTERS_LOWER: return " /S /a";
        case STYLE_LETTERS_UPPER: return " /S /A";
        default: return " /S /D";
    }
}

// The ranges of the unlabelled pages [from, to]: the input's, where it had
// labels, else the page numbers.
std::string unlabelled_ranges(const std::vector<input_range> &input, int64_t from, int64_t to) {
    auto after = std::upper_bound(input.begin(), input.end(), from,
                                  [](int64_t v, const input_range &r) { return v < r.start; });
    std::string s;
    if (after == input.begin()) {
        s = range_text(from, " /S /D" + start_entry(from + 1));
    } else {
        const input_range &r = *(after - 1);  // the input's range that holds page from
        s = range_text(from, r.style + r.prefix + start_entry(r.first + (from - r.start)));
    }
    for (; after != input.end() && after->start <= to; ++after)
        s += range_text(after->start, after->style + after->prefix + start_entry(after->first));
    return s;
}

}  // namespace

std::string pdf_text_string(const std::string &utf8) {
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 32 && c < 127; });
    if (ascii) return label_literal(utf8);
    std::u32string chars;
    size_t bad_at = 0;
    utf8_decode(utf8.data(), utf8.size(), &chars, &bad_at);
    std::string hex = "<FEFF";
    char unit[8];
    for (char32_t c : chars) {
        if (c >= 0x10000) {
            std::snprintf(unit, sizeof unit, "%04X", unsigned(0xD800 + ((c - 0x10000) >> 10)));
            hex += unit;
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        std::snprintf(unit, sizeof unit, "%04X", unsigned(c));
        hex += unit;
    }
    return hex + ">";
}

std::string page_labels_value(const pdfp_doc *doc, const page_selection *sel, const number_format &f,
                              const std::vector<std::string> &labels) {
    std::vector<input_range> input = input_labels(doc);
    std::string prefix;
    number_style style = STYLE_DECIMAL;
    bool prefixed = number_format_is_prefixed(f, &prefix, &style);
    std::string prefix_entry = prefix.empty() ? "" : " /P " + pdf_text_string(prefix);
    std::string nums;
    int64_t count = doc->pages.count;
    for (int64_t i = 0; i < count;) {
        if (i < sel->first_index || i > sel->last_index) {
            int64_t to = i < sel->first_index ? std::min<int64_t>(sel->first_index, count) - 1 : count - 1;
            nums += unlabelled_ranges(input, i, to);
            i = to + 1;
            continue;
        }
        int64_t n = sel->first_number + (i - sel->first_index);
        if (prefixed && n >= 1 && number_style_has(n, style)) {
            nums += range_text(i, style_name(style) + prefix_entry + start_entry(n));
            for (++i, ++n; i <= sel->last_index && number_style_has(n, style); ++i, ++n) {}
        } else {
            nums += range_text(i, " /P " + pdf_text_string(labels[static_cast<size_t>(i - sel->first_index)]));
            ++i;
        }
    }
    return "<< /Nums [" + nums.substr(1) + "] >>";
}
