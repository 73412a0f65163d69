// number_format: the numbering entry's label format, in UTF-8: {n} and
// {total} in the styles decimal, roman ({n:r} {n:R}), letters ({n:a}
// {n:A}, as viewers' page labels count: 27 is aa) and zero-padded decimal
// ({n:06}); {{ and {} give the braces, anything else is text. The six
// exported functions keep label.cpp's Windows-1252 format.
//
// Return convention: number_format_parse returns true, or false with
// *error set (messages.h); the others cannot fail.
#ifndef NUMBER_FORMAT_H
#define NUMBER_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

// Zero padding goes at most this wide.
constexpr int MAX_PAD_WIDTH = 32;
// Letters repeat at most this often (aaa... past it the number shows in decimal).
constexpr int64_t MAX_LETTER_REPEAT = 256;
// Roman numerals stop here; above it the number shows in decimal.
constexpr int64_t MAX_ROMAN = 3999;

enum number_style { STYLE_DECIMAL, STYLE_ROMAN_LOWER, STYLE_ROMAN_UPPER, STYLE_LETTERS_LOWER, STYLE_LETTERS_UPPER };

// One piece of a format: text as it is shown, or a placeholder.
struct format_piece {
    bool placeholder;   // false: text
    std::string text;   // the text (UTF-8), braces already unescaped
    bool total;         // {total...} rather than {n...}
    number_style style;
    int pad;            // zero padding width (decimal only), 0 for none
};

struct number_format {
    std::vector<format_piece> pieces;
};

// The format (null or "" means "{n}") into *f: false for text that is not
// UTF-8 or a padding wider than MAX_PAD_WIDTH.
bool number_format_parse(const char *format, number_format *f, std::string *error);
// The label for page number n of total.
std::string number_format_expand(const number_format &f, int64_t n, int64_t total);
// n in the style, padded; decimal where the style has no form for n.
std::string number_in_style(int64_t n, number_style style, int pad);
// Whether the style has a form of its own for n (roman 1..3999, letters
// from 1 to MAX_LETTER_REPEAT rounds, decimal always).
bool number_style_has(int64_t n, number_style style);
// Whether the format is text followed by one unpadded {n...} and nothing
// else, as a viewer's page label range shows it: the text into *prefix
// and the style into *style.
bool number_format_is_prefixed(const number_format &f, std::string *prefix, number_style *style);

#endif
