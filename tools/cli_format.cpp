// The label format arrives in the user's encoding; the label font
// (Helvetica with WinAnsiEncoding) reads Windows-1252. Every character that
// encoding has is converted; any other is refused before any work.
#include "cli_format.h"
#include "cli_platform.h"

namespace {

// The characters of Windows-1252's codes 0x80..0x9F; 0 where a code is unassigned.
constexpr char32_t HIGH_CODES[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void append_utf8(std::string *s, char32_t c) {
    if (c < 0x80) {
        *s += static_cast<char>(c);
    } else if (c < 0x800) {
        *s += static_cast<char>(0xC0 | (c >> 6));
        *s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *s += static_cast<char>(0xE0 | (c >> 12));
        *s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *s += static_cast<char>(0xF0 | (c >> 18));
        *s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *s += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "the label font cannot show 'Ж' (U+0416)"; control characters are
// named by their code alone.
std::string unshowable(char32_t c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    std::string text = "the label font cannot show ";
    if (c < 0xA0) return text + code;
    text += '\'';
    append_utf8(&text, c);
    return text + "' (" + code + ")";
}

}  // namespace

int cp1252_code(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int k = 0; k < 32; ++k)
        if (HIGH_CODES[k] == c) return 0x80 + k;
    return -1;
}

bool label_format(const options &o, std::string *cp1252, std::string *error) {
    std::u32string chars;
    if (!argument_characters(o.format_arg, o.format_index, o.format_offset, &chars, error)) return false;
    cp1252->clear();
    for (char32_t c : chars) {
        // A label is one line: a tab or line break would be drawn as a box.
        if (c < 0x20 || c == 0x7F) {
            char text[96];
            std::snprintf(text, sizeof text, "--format holds a control character (U+%04X): a label is one line of text",
                          static_cast<unsigned>(c));
            *error = text;
            return false;
        }
        int code = cp1252_code(c);
        if (code < 0) {
            *error = unshowable(c);
            return false;
        }
        *cp1252 += static_cast<char>(code);
    }
    return true;
}
