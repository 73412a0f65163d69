// Bounded scanners over raw PDF bytes: whitespace, keywords, name keys,
// integers, strings and dictionaries. None allocates (except dict_text_at),
// none needs NUL-terminated input, none reads past its bound.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scan.h"

int32_t skip_ws(const unsigned char *buf, int32_t pos, int32_t end) {
    while (pos < end && is_pdf_ws(buf[pos])) ++pos;
    return pos;
}

// The keyword boundary rule: no word character on either side.
static bool kw_bounded(const unsigned char *buf, int32_t pos, int32_t n, int32_t len) {
    if (pos > 0 && is_word(buf[pos - 1])) return false;
    return pos + n >= len || !is_word(buf[pos + n]);
}

int32_t find_kw(const unsigned char *buf, int32_t len, int32_t start, const char *kw) {
    const int32_t n = static_cast<int32_t>(std::strlen(kw));
    if (start < 0) start = 0;
    if (n == 0 || len < n) return -1;
    const unsigned char first = static_cast<unsigned char>(kw[0]);
    for (int32_t i = start; i <= len - n; ++i) {
        // memchr finds candidates for the first byte far faster than a byte loop.
        const void *hit = std::memchr(buf + i, first, static_cast<size_t>(len - n - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const unsigned char *>(hit) - buf);
        if (std::memcmp(buf + i, kw, static_cast<size_t>(n)) == 0 && kw_bounded(buf, i, n, len))
            return i;
    }
    return -1;
}

int32_t find_last_kw(const unsigned char *buf, int32_t len, const char *kw) {
    const int32_t n = static_cast<int32_t>(std::strlen(kw));
    if (n == 0 || len < n) return -1;
    // From the end: the keywords looked for this way stand near it.
    for (int32_t i = len - n; i >= 0; --i)
        if (buf[i] == static_cast<unsigned char>(kw[0]) && std::memcmp(buf + i, kw, static_cast<size_t>(n)) == 0 &&
            kw_bounded(buf, i, n, len))
            return i;
    return -1;
}

int kw_at(const unsigned char *buf, int32_t pos, int32_t len, const char *kw) {
    if (pos < 0 || pos >= len || buf[pos] != static_cast<unsigned char>(kw[0])) return 0;
    const int32_t n = static_cast<int32_t>(std::strlen(kw));
    if (n > len - pos) return 0;
    if (std::memcmp(buf + pos, kw, static_cast<size_t>(n)) != 0) return 0;
    return kw_bounded(buf, pos, n, len) ? 1 : 0;
}

int32_t find_name(const unsigned char *buf, int32_t len, int32_t start, int32_t end,
                  const char *name) {
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    if (end > len) end = len;
    if (start < 0) start = 0;
    for (int32_t i = start; i + n + 1 <= end; ++i) {
        const void *hit = std::memchr(buf + i, '/', static_cast<size_t>(end - n - i));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const unsigned char *>(hit) - buf);
        if (std::memcmp(buf + i + 1, name, static_cast<size_t>(n)) != 0) continue;
        if (i + n + 1 == end || !is_name_cont(buf[i + n + 1])) return i;
    }
    return -1;
}

int32_t skip_ref_rest(const unsigned char *buf, int32_t p, int32_t end) {
    p = skip_ws(buf, p, end);
    if (p < end && is_digit(buf[p])) parse_int_at(buf, end, &p);
    p = skip_ws(buf, p, end);
    if (p < end && buf[p] == 'R') p = skip_ws(buf, p + 1, end);
    return p;
}

int32_t skip_literal(const unsigned char *buf, int32_t pos, int32_t end) {
    int depth = 1;
    int32_t i = pos + 1;
    while (i < end) {
        unsigned char c = buf[i];
        if (c == '\\') {
            if (i + 1 >= end) return -1;
            i += 2;
            continue;
        }
        if (c == '(') ++depth;
        else if (c == ')' && --depth == 0) return i + 1;
        ++i;
    }
    return -1;
}

int32_t skip_hex_string(const unsigned char *buf, int32_t pos, int32_t end) {
    const void *close = std::memchr(buf + pos, '>', static_cast<size_t>(end > pos ? end - pos : 0));
    return close ? static_cast<int32_t>(static_cast<const unsigned char *>(close) - buf) + 1 : -1;
}

int32_t find_name_top(const unsigned char *buf, int32_t len, int32_t start, int32_t end,
                      const char *name) {
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    if (end > len) end = len;
    int depth = 0;
    int32_t i = start < 0 ? 0 : start;
    while (i < end) {
        unsigned char c = buf[i];
        if (c == '%') {
            while (i < end && buf[i] != '\r' && buf[i] != '\n') ++i;
            if (i >= end) return -1;
        } else if (c == '(') {
            if (i + 1 >= end) return -1;
            i = skip_literal(buf, i, end);
            if (i < 0) return -1;
        } else if (c == '<' || c == '>') {
            if (i + 1 >= end) return -1;
            if (c == '<' && buf[i + 1] == '<') {
                ++depth;
                i += 2;
            } else if (c == '<') {
                // A hexadecimal string: nothing inside it is a key.
                i = skip_hex_string(buf, i, end);
                if (i < 0) return -1;
            } else if (buf[i + 1] == '>') {
                if (depth > 0) --depth;
                i += 2;
            } else {
                ++i;
            }
        } else if (c == '/' && depth <= 1) {
            if (i + n < end && std::memcmp(buf + i + 1, name, static_cast<size_t>(n)) == 0 &&
                (i + n + 1 == end || !is_name_cont(buf[i + n + 1])))
                return i;
            ++i;
        } else {
            ++i;
        }
    }
    return -1;
}

int32_t dict_stream_kw(const unsigned char *buf, int32_t len, int32_t pos) {
    int depth = 0;
    int32_t i = pos;
    while (i < len) {
        unsigned char c = buf[i];
        if (c == '<' || c == '>') {
            if (i + 1 >= len) return -1;
            if (buf[i + 1] != c) {
                ++i;
                continue;
            }
            if (c == '<') {
                ++depth;
            } else if (--depth == 0) {
                int32_t p = skip_ws(buf, i + 2, len);
                return kw_at(buf, p, len, "stream") ? p : -1;
            }
            i += 2;
        } else if (c == '(') {
            i = skip_literal(buf, i, len);
            if (i < 0) return -1;
        } else {
            ++i;
        }
    }
    return -1;
}

static int32_t read_int(const unsigned char *buf, int32_t end, int32_t *pos, bool allow_plus) {
    int32_t p = *pos;
    if (p >= end) return -1;
    p = skip_ws(buf, p, end);
    if (p >= end) return -1;
    bool neg = false;
    if (buf[p] == '-' || (allow_plus && buf[p] == '+')) {
        neg = buf[p] == '-';
        ++p;
    }
    if (p >= end || !is_digit(buf[p])) return -1;
    uint32_t v = 0;  // wraps modulo 2^32 on purpose; callers range-check
    while (p < end && is_digit(buf[p])) v = v * 10u + static_cast<uint32_t>(buf[p++] - '0');
    *pos = p;
    if (neg) v = 0u - v;
    return static_cast<int32_t>(v);
}

int32_t parse_int_at(const unsigned char *buf, int32_t end, int32_t *pos) {
    return read_int(buf, end, pos, false);
}

int32_t read_int_adv(const unsigned char *buf, int32_t end, int32_t *pos) {
    return read_int(buf, end, pos, true);
}

// Malloc'd copy of [from, to) as a C string. A NUL byte would end it
// there and leave the dictionary unclosed: outside strings it becomes the
// space it stands for, inside a literal string the escape \000.
static char *nul_free_copy(const unsigned char *buf, int32_t len, int32_t from, int32_t to) {
    std::string t;
    t.reserve(static_cast<size_t>(to - from));
    for (int32_t i = from; i < to;) {
        if (buf[i] != '(') {
            t += buf[i] ? static_cast<char>(buf[i]) : ' ';
            ++i;
            continue;
        }
        int32_t e = skip_literal(buf, i, len);
        if (e < 0 || e > to) e = to;
        for (int32_t k = i; k < e; ++k) {
            bool escaped = buf[k] == '\\' && k + 1 < e;
            unsigned char c = buf[escaped ? k + 1 : k];
            if (c == 0)
                t += "\\000";
            else if (escaped)
                t.append({'\\', static_cast<char>(c)});
            else
                t += static_cast<char>(c);
            k += escaped;
        }
        i = e;
    }
    char *out = static_cast<char *>(std::malloc(t.size() + 1));
    if (out) std::memcpy(out, t.c_str(), t.size() + 1);
    return out;
}

char *dict_text_at(const unsigned char *buf, int32_t len, int32_t pos) {
    if (pos < 0 || pos + 1 >= len || buf[pos] != '<' || buf[pos + 1] != '<') return nullptr;
    int depth = 0;
    int32_t i = pos;
    while (i < len) {
        unsigned char c = buf[i];
        if ((c == '<' || c == '>') && i + 1 < len && buf[i + 1] == c) {
            if (c == '<') {
                ++depth;
            } else if (--depth == 0) {
                return nul_free_copy(buf, len, pos, i + 2);
            }
            i += 2;
        } else if (c == '(') {
            i = skip_literal(buf, i, len);
            if (i < 0) return nullptr;
        } else {
            ++i;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Reading a dictionary strictly: one token at a time, keys in key position
// ---------------------------------------------------------------------------

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool is_delim(unsigned char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

int32_t skip_ws_comments(const unsigned char *b, int32_t p, int32_t end) {
    for (;;) {
        p = skip_ws(b, p, end);
        if (p >= end || b[p] != '%') return p;
        while (p < end && b[p] != '\r' && b[p] != '\n') ++p;
    }
}

static int32_t token_end(const unsigned char *b, int32_t p, int32_t end) {
    while (p < end && !is_pdf_ws(b[p]) && !is_delim(b[p])) ++p;
    return p;
}

// End of the array or dictionary opening at p, or -1.
static int32_t composite_end(const unsigned char *b, int32_t p, int32_t end) {
    int64_t depth = 0;
    while (p < end) {
        unsigned char c = b[p];
        bool pair = p + 1 < end && b[p + 1] == c;
        if (c == '(') {
            p = skip_literal(b, p, end);
            if (p < 0) return -1;
            continue;
        }
        if (c == '%') {
            p = skip_ws_comments(b, p, end);
            continue;
        }
        if (c == '[' || (c == '<' && pair)) {
            ++depth;
            p += c == '[' ? 1 : 2;
            continue;
        }
        if (c == '<') {
            p = skip_hex_string(b, p, end);
            if (p < 0) return -1;
            continue;
        }
        if (c == ']' || (c == '>' && pair)) {
            p += c == ']' ? 1 : 2;
            if (--depth == 0) return p;
            continue;
        }
        ++p;
    }
    return -1;
}

int32_t object_end(const unsigned char *b, int32_t p, int32_t end) {
    unsigned char c = b[p];
    if (c == '/') return token_end(b, p + 1, end);
    if (c == '(') return skip_literal(b, p, end);
    if (c == '[' || (c == '<' && p + 1 < end && b[p + 1] == '<')) return composite_end(b, p, end);
    if (c == '<') return skip_hex_string(b, p, end);
    if (is_delim(c)) return -1;
    return token_end(b, p, end);
}

static bool all_digits(const unsigned char *b, int32_t p, int32_t e) {
    if (p >= e) return false;
    for (; p < e; ++p)
        if (!is_digit(b[p])) return false;
    return true;
}

int32_t value_end(const unsigned char *b, int32_t p, int32_t end) {
    int32_t e = object_end(b, p, end);
    if (e < 0 || !all_digits(b, p, e)) return e;
    int32_t g = skip_ws_comments(b, e, end);
    if (g >= end || !is_digit(b[g])) return e;
    int32_t ge = token_end(b, g, end);
    int32_t r = skip_ws_comments(b, ge, end);
    if (!all_digits(b, g, ge) || r >= end || b[r] != 'R' || token_end(b, r, end) != r + 1) return e;
    return r + 1;
}

bool name_is(const unsigned char *b, int32_t p, int32_t e, const char *name) {
    size_t k = 0;
    for (int32_t i = p + 1; i < e; ++k) {
        int c = b[i++];
        if (c == '#' && i + 1 < e && hex_value(b[i]) >= 0 && hex_value(b[i + 1]) >= 0) {
            c = hex_value(b[i]) << 4 | hex_value(b[i + 1]);
            i += 2;
        }
        if (name[k] == 0 || static_cast<unsigned char>(name[k]) != c) return false;
    }
    return name[k] == 0;
}

bool dict_value(const unsigned char *b, int32_t from, int32_t to, const char *key, int32_t *vs,
                int32_t *ve) {
    int32_t p = skip_ws_comments(b, from, to);
    if (p + 1 >= to || b[p] != '<' || b[p + 1] != '<') return false;
    for (p += 2;;) {
        p = skip_ws_comments(b, p, to);
        if (p >= to || b[p] != '/') return false;  // the end, or damage: nothing further is trusted
        int32_t ke = token_end(b, p + 1, to);
        int32_t v = skip_ws_comments(b, ke, to);
        if (v >= to || b[v] == '>') return false;
        int32_t e = value_end(b, v, to);
        if (e < 0) return false;
        if (name_is(b, p, ke, key)) {
            *vs = v;
            *ve = e;
            return true;
        }
        p = e;
    }
}

void dict_values(const unsigned char *b, int32_t from, int32_t to, const char *const *keys, int n, int32_t *vs,
                 int32_t *ve) {
    std::fill(vs, vs + n, -1);
    int32_t p = skip_ws_comments(b, from, to);
    if (p + 1 >= to || b[p] != '<' || b[p + 1] != '<') return;
    for (p += 2;;) {
        p = skip_ws_comments(b, p, to);
        if (p >= to || b[p] != '/') return;
        int32_t ke = token_end(b, p + 1, to);
        int32_t v = skip_ws_comments(b, ke, to);
        if (v >= to || b[v] == '>') return;
        int32_t e = value_end(b, v, to);
        if (e < 0) return;
        for (int k = 0; k < n; ++k)
            if (vs[k] < 0 && name_is(b, p, ke, keys[k])) {
                vs[k] = v;
                ve[k] = e;
                break;
            }
        p = e;
    }
}

// ---------------------------------------------------------------------------
// String values
// ---------------------------------------------------------------------------

// A literal string (its "(" at pos): escapes, an escaped line end left
// out, every unescaped line end (CR, CR LF, LF) read as LF.
static int32_t literal_bytes(const unsigned char *b, int32_t pos, int32_t end, std::string *out) {
    int depth = 1;
    for (int32_t i = pos + 1; i < end;) {
        unsigned char c = b[i++];
        if (c == '(') ++depth;
        if (c == ')' && --depth == 0) return i;
        if (c == '\r') {
            if (i < end && b[i] == '\n') ++i;
            c = '\n';
        } else if (c == '\\') {
            if (i >= end) return -1;
            c = b[i++];
            static const char plain[] = "nrtbf", coded[] = "\n\r\t\b\f";
            if (const char *k = c ? std::strchr(plain, c) : nullptr) {
                c = static_cast<unsigned char>(coded[k - plain]);
            } else if (c >= '0' && c <= '7') {
                // Up to three octal digits; overflow of the high digit is dropped.
                int v = c - '0';
                for (int d = 1; d < 3 && i < end && b[i] >= '0' && b[i] <= '7'; ++d) v = v * 8 + (b[i++] - '0');
                c = static_cast<unsigned char>(v);
            } else if (c == '\r' || c == '\n') {
                if (c == '\r' && i < end && b[i] == '\n') ++i;
                continue;
            }
            // Any other escaped byte stands for itself: \\ \( \) and stray escapes.
        }
        out->push_back(static_cast<char>(c));
    }
    return -1;
}

int32_t string_bytes(const unsigned char *b, int32_t pos, int32_t end, std::string *out) {
    out->clear();
    if (pos < 0 || pos >= end) return -1;
    if (b[pos] == '(') return literal_bytes(b, pos, end, out);
    if (b[pos] != '<' || (pos + 1 < end && b[pos + 1] == '<')) return -1;
    int hi = -1;
    for (int32_t i = pos + 1; i < end; ++i) {
        if (b[i] == '>') {
            // An odd last digit stands for its high half.
            if (hi >= 0) out->push_back(static_cast<char>(hi << 4));
            return i + 1;
        }
        int v = hex_value(b[i]);
        if (v < 0) continue;  // whitespace, and other bytes viewers skip too
        if (hi < 0) {
            hi = v;
        } else {
            out->push_back(static_cast<char>(hi << 4 | v));
            hi = -1;
        }
    }
    return -1;
}
