// The reader's own byte scanners (scan.cpp): character classes, keywords,
// name keys, integers, strings and dictionaries, over raw bytes that need
// not be NUL-terminated. None reads past the bound it is given; only
// dict_text_at allocates. Offsets are signed 32-bit; a bound is exclusive;
// -1 means nothing found. Private to src/pdf_parse/: the scanners that the
// writer reads input text with too (whitespace, integers, strings, the
// strict dictionary reader) are declared in pdf_parse.h.
#ifndef PDF_PARSE_SCAN_H
#define PDF_PARSE_SCAN_H

#include <string>

#include "pdf_parse.h"

// Letters and digits: what keyword boundaries look at.
inline bool is_word(unsigned char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// What may continue a name key past the name searched for.
inline bool is_name_cont(unsigned char c) {
    return is_word(c) || c == '+' || c == '-' || c == '_';
}
// The classic isspace set: SP HT LF VT FF CR (no NUL).
inline bool is_wide_ws(unsigned char c) {
    return c == 32 || (c >= 9 && c <= 13);
}

// Offset just past the name key /name whose slash is at slash, and just
// past the keyword kw that stands at at.
inline int32_t name_end(int32_t slash, const char *name) {
    return slash + 1 + static_cast<int32_t>(std::char_traits<char>::length(name));
}
inline int32_t kw_end(int32_t at, const char *kw) {
    return at + static_cast<int32_t>(std::char_traits<char>::length(kw));
}

// ---------------------------------------------------------------------------
// Whitespace, keywords, name keys, integers
// ---------------------------------------------------------------------------

// The first offset at or after pos that is not PDF whitespace, or end.
int32_t skip_ws(const unsigned char *buf, int32_t pos, int32_t end);
// The first whole-word occurrence of kw at or after start, or -1.
int32_t find_kw(const unsigned char *buf, int32_t len, int32_t start, const char *kw);
// The last whole-word occurrence of kw in [0, len), or -1.
int32_t find_last_kw(const unsigned char *buf, int32_t len, const char *kw);
// 1 when kw stands at pos as a whole word, else 0.
int kw_at(const unsigned char *buf, int32_t pos, int32_t len, const char *kw);
// The slash of the first name key /name in [start, end), anywhere (nested
// dictionaries, strings and comments included), or -1.
int32_t find_name(const unsigned char *buf, int32_t len, int32_t start, int32_t end, const char *name);
// The same at dictionary depth 0 or 1 only, strings and comments skipped.
int32_t find_name_top(const unsigned char *buf, int32_t len, int32_t start, int32_t end, const char *name);
// parse_int_at with a "+" allowed; after a failure *pos is of no further use.
int32_t read_int_adv(const unsigned char *buf, int32_t end, int32_t *pos);

// Past the rest of a reference after its number, loosely: whitespace, a
// generation, whitespace, "R" and whitespace, each optional and unchecked.
int32_t skip_ref_rest(const unsigned char *buf, int32_t p, int32_t end);
// The first integer after a name key /name in [start, end) that passes ok:
// whitespace is skipped up to end, the integer read up to limit. -1 when
// none does.
template <typename Ok>
int32_t int_after_key(const unsigned char *buf, int32_t start, int32_t end, int32_t limit, const char *name, Ok ok) {
    for (int32_t k = find_name(buf, end, start, end, name); k >= 0; k = find_name(buf, end, k + 1, end, name)) {
        int32_t p = skip_ws(buf, name_end(k, name), end);
        int32_t v = parse_int_at(buf, limit, &p);
        if (ok(v)) return v;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Strings and dictionaries
// ---------------------------------------------------------------------------

// Offset of the "stream" keyword after the dictionary opened at pos, or -1.
int32_t dict_stream_kw(const unsigned char *buf, int32_t len, int32_t pos);
// Malloc'd NUL-terminated copy of the dictionary at pos, through its
// matching ">>", or null; the caller frees it. NUL bytes in it are written
// as a space (in a string as \000), so that the copy is whole.
char *dict_text_at(const unsigned char *buf, int32_t len, int32_t pos);

// The value of a hexadecimal digit, or -1.
int hex_value(unsigned char c);
// The bytes of the string object at pos, literal or hexadecimal, into *out
// (escapes, line ends and hex digits read as viewers read them): the
// offset after it, or -1 when no string stands at pos or it is still open
// at end.
int32_t string_bytes(const unsigned char *buf, int32_t pos, int32_t end, std::string *out);

#endif
