// number_format: parsing the UTF-8 label format and writing numbers in
// its styles.
#include "number_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "messages.h"
#include "utf8.h"

namespace {

bool starts_with(const char *p, const char *end, const char *pat) {
    size_t n = std::strlen(pat);
    return static_cast<size_t>(end - p) >= n && std::memcmp(p, pat, n) == 0;
}

void add_text(number_format *f, const char *p, size_t n) {
    if (f->pieces.empty() || f->pieces.back().placeholder) f->pieces.push_back({false, {}, false, STYLE_DECIMAL, 0});
    f->pieces.back().text.append(p, n);
}

// The style after the colon of "{n:" up to the closing brace at *close:
// false when it is none we know (then the brace is text). *pad may exceed
// MAX_PAD_WIDTH (the caller refuses it).
bool read_style(const char *p, const char *end, number_style *style, int *pad, const char **close) {
    const char *brace = static_cast<const char *>(std::memchr(p, '}', static_cast<size_t>(end - p)));
    if (!brace || brace == p) return false;
    *close = brace;
    *pad = 0;
    if (brace - p == 1 && std::strchr("rRaA", *p)) {
        *style = *p == 'r' ? STYLE_ROMAN_LOWER : *p == 'R' ? STYLE_ROMAN_UPPER
                 : *p == 'a' ? STYLE_LETTERS_LOWER : STYLE_LETTERS_UPPER;
        return true;
    }
    if (*p != '0' || brace - p < 2) return false;
    int width = 0;
    for (const char *q = p + 1; q < brace; ++q) {
        if (*q < '0' || *q > '9') return false;
        width = width > MAX_PAD_WIDTH ? width : width * 10 + (*q - '0');  // saturates past the limit
    }
    *style = STYLE_DECIMAL;
    *pad = width;
    return true;
}

std::string decimal(int64_t n, int pad) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, n < 0 ? -static_cast<uint64_t>(n) : static_cast<uint64_t>(n));
    std::string digits(tmp, r.ptr), out = n < 0 ? "-" : "";
    int sign = n < 0 ? 1 : 0;  // the width counts the sign, as printf's %06d does
    if (static_cast<int>(digits.size()) + sign < pad) out.append(static_cast<size_t>(pad - sign) - digits.size(), '0');
    return out + digits;
}

std::string roman(int64_t n, bool upper) {
    static const struct { int value; const char *lower, *upper; } steps[] = {
        {1000, "m", "M"}, {900, "cm", "CM"}, {500, "d", "D"}, {400, "cd", "CD"}, {100, "c", "C"},
        {90, "xc", "XC"}, {50, "l", "L"},    {40, "xl", "XL"}, {10, "x", "X"},   {9, "ix", "IX"},
        {5, "v", "V"},    {4, "iv", "IV"},   {1, "i", "I"}};
    std::string out;
    for (const auto &s : steps)
        for (; n >= s.value; n -= s.value) out += upper ? s.upper : s.lower;
    return out;
}

}  // namespace

bool number_format_parse(const char *format, number_format *f, std::string *error) {
    *f = number_format{};
    if (!format || !*format) format = "{n}";
    size_t len = std::strlen(format), bad_at = 0;
    std::u32string ignored;
    char message[256];
    if (!utf8_decode(format, len, &ignored, &bad_at)) {
        std::snprintf(message, sizeof message, MSG_BAD_UTF8, static_cast<int>(bad_at));
        *error = message;
        return false;
    }
    const char *p = format, *end = format + len;
    while (p < end) {
        bool n = starts_with(p, end, "{n"), total = starts_with(p, end, "{total");
        const char *after = p + (total ? 6 : 2), *close = nullptr;
        number_style style = STYLE_DECIMAL;
        int pad = 0;
        if (*p != '{') {
            add_text(f, p++, 1);
        } else if (starts_with(p, end, "{{") || starts_with(p, end, "{}")) {
            add_text(f, p[1] == '{' ? "{" : "}", 1);
            p += 2;
        } else if ((n || total) && after < end && *after == '}') {
            f->pieces.push_back({true, {}, total, STYLE_DECIMAL, 0});
            p = after + 1;
        } else if ((n || total) && after < end && *after == ':' && read_style(after + 1, end, &style, &pad, &close)) {
            if (pad > MAX_PAD_WIDTH) {
                std::snprintf(message, sizeof message, MSG_PAD_TOO_WIDE, pad);
                *error = message;
                return false;
            }
            f->pieces.push_back({true, {}, total, style, pad});
            p = close + 1;
        } else {
            add_text(f, p++, 1);  // an unknown placeholder is text, never an error
        }
    }
    return true;
}

bool number_style_has(int64_t n, number_style style) {
    switch (style) {
        case STYLE_ROMAN_LOWER:
        case STYLE_ROMAN_UPPER: return n >= 1 && n <= MAX_ROMAN;
        case STYLE_LETTERS_LOWER:
        case STYLE_LETTERS_UPPER: return n >= 1 && (n - 1) / 26 < MAX_LETTER_REPEAT;
        default: return true;
    }
}

std::string number_in_style(int64_t n, number_style style, int pad) {
    if (!number_style_has(n, style)) style = STYLE_DECIMAL;
    switch (style) {
        case STYLE_ROMAN_LOWER: return roman(n, false);
        case STYLE_ROMAN_UPPER: return roman(n, true);
        case STYLE_LETTERS_LOWER:
        case STYLE_LETTERS_UPPER:
            return std::string(static_cast<size_t>((n - 1) / 26 + 1),
                               static_cast<char>((style == STYLE_LETTERS_LOWER ? 'a' : 'A') + (n - 1) % 26));
        default: return decimal(n, pad);
    }
}

std::string number_format_expand(const number_format &f, int64_t n, int64_t total) {
    std::string out;
    for (const format_piece &p : f.pieces)
        out += p.placeholder ? number_in_style(p.total ? total : n, p.style, p.pad) : p.text;
    return out;
}

bool number_format_is_prefixed(const number_format &f, std::string *prefix, number_style *style) {
    const std::vector<format_piece> &v = f.pieces;
    size_t k = !v.empty() && !v[0].placeholder ? 1 : 0;
    if (v.size() != k + 1 || v[k].total || v[k].pad) return false;
    *prefix = k ? v[0].text : std::string();
    *style = v[k].style;
    return true;
}
