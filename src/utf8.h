// utf8: Unicode text in UTF-8 (RFC 3629), read strictly and written. The
// label text arrives in UTF-8; the fonts look characters up by code point.
//
// Return convention: utf8_decode returns true, or false with *bad_at the
// offset of the first byte that does not begin a valid character. The
// others cannot fail. Nothing throws.
#ifndef UTF8_H
#define UTF8_H

#include <cstddef>
#include <string>

// The largest code point, and the surrogates that UTF-8 may not encode.
constexpr char32_t UNICODE_MAX = 0x10FFFF;
constexpr char32_t SURROGATE_FIRST = 0xD800;
constexpr char32_t SURROGATE_LAST = 0xDFFF;

// The characters of s[0..n) into *chars (replaced). Overlong forms,
// surrogates, values past UNICODE_MAX and cut-short sequences are refused.
bool utf8_decode(const char *s, size_t n, std::u32string *chars, size_t *bad_at);
// Appends c (at most UNICODE_MAX, not a surrogate) in UTF-8.
void utf8_append(std::string *s, char32_t c);
// How messages name a character: "'Ж' (U+0416)"; a control character, a
// surrogate or a value past UNICODE_MAX by its code alone ("U+0007").
std::string utf8_char_name(char32_t c);

#endif
