// standard_fonts: lookups in the generated tables of the 14 standard fonts.
#include "standard_fonts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "messages.h"
#include "utf8.h"

const standard_font *standard_font_named(const char *name) {
    if (!name) return nullptr;
    for (const standard_font &f : STANDARD_FONTS)
        if (std::strcmp(f.name, name) == 0) return &f;
    return nullptr;
}

int standard_font_code(const standard_font *font, char32_t c) {
    const standard_char *end = font->chars + font->char_count;
    const standard_char *it =
        std::lower_bound(font->chars, end, c, [](const standard_char &e, char32_t v) { return e.unicode < v; });
    return it != end && it->unicode == c ? it->code : -1;
}

int standard_font_width(const standard_font *font, unsigned char code) {
    return code < STANDARD_FIRST_CODE ? 0 : font->widths[code - STANDARD_FIRST_CODE];
}

bool standard_font_show(const standard_font *font, const std::u32string &text, std::string *codes, double *width,
                        std::string *error) {
    codes->clear();
    *width = 0;
    for (char32_t c : text) {
        int code = standard_font_code(font, c);
        if (code < 0) {
            char message[512];
            std::snprintf(message, sizeof message, MSG_FONT_NO_GLYPH, font->name, utf8_char_name(c).c_str());
            *error = message;
            return false;
        }
        *codes += static_cast<char>(code);
        *width += standard_font_width(font, static_cast<unsigned char>(code)) / 1000.0;  // summed as the label's width
    }
    return true;
}
