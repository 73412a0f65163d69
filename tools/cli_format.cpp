// The label format arrives in the user's encoding and goes to the library
// in UTF-8. The standard text fonts show only what WinAnsiEncoding has, so
// with them any other character is refused at once, before any work; a
// TrueType font's characters are the library's to check, as it reads the
// font.
#include "cli_format.h"

#include "cli_platform.h"
#include "dedediruzurud/standard_fonts.h"
#include "utf8.h"

bool label_format(const options &o, std::string *utf8, std::string *error) {
    std::u32string chars;
    if (!argument_characters(o.format_arg, o.format_index, o.format_offset, &chars, error)) return false;
    const char *font_name = o.extras.font && *o.extras.font ? o.extras.font : "Helvetica";
    const standard_font *font = standard_font_named(font_name);
    // Symbol and ZapfDingbats lack even the braces of "{n}": the library
    // checks the labels themselves.
    bool check = font && font->win_ansi;
    utf8->clear();
    for (char32_t c : chars) {
        // A label is one line: a tab or line break would be drawn as a box.
        if (c < 0x20 || c == 0x7F) {
            char text[96];
            std::snprintf(text, sizeof text, "--format holds a control character (U+%04X): a label is one line of text",
                          static_cast<unsigned>(c));
            *error = text;
            return false;
        }
        if (check && standard_font_code(font, c) < 0) {
            *error = "the label font cannot show " + utf8_char_name(c);
            return false;
        }
        utf8_append(utf8, c);
    }
    return true;
}
