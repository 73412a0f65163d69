// Bounded scanners over raw PDF bytes: whitespace, keywords, name keys,
// integers, dictionary ends and /Type. None allocates (except
// dict_text_at), none needs NUL-terminated input, none reads past its bound.
#include <cstdlib>
#include <cstring>

#include "pdf_parse.h"

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
                while (i < end && buf[i] != '>') ++i;
                if (i >= end) return -1;
                ++i;
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

int32_t obj_text_region(const unsigned char *data, int32_t size, const pdfp_obj *obj,
                        const unsigned char **buf, int32_t *end) {
    if (obj->in_objstm) {
        if (!obj->text || obj->text_len <= 0) return -1;
        *buf = obj->text;
        *end = obj->text_len;
        return 0;
    }
    if (obj->dict_pos < 0) return -1;
    *buf = data;
    *end = obj->stream_pos > 0 ? obj->stream_pos : obj->endobj_pos > 0 ? obj->endobj_pos : size;
    return obj->dict_pos;
}

int obj_type(const unsigned char *data, int32_t len, const pdfp_obj *obj) {
    const unsigned char *buf = nullptr;
    int32_t end = 0;
    int32_t start = obj_text_region(data, len, obj, &buf, &end);
    if (start < 0 || end <= start) return 0;
    int32_t t = find_name_top(buf, end, start, end, "Type");
    while (t >= 0) {
        int32_t p = skip_ws(buf, t + 5, end);
        if (p + 5 <= end && buf[p] == '/' && std::memcmp(buf + p + 1, "Page", 4) == 0) {
            int32_t q = p + 5;
            if (q >= end || !is_word(buf[q])) return 1;
            if (buf[q] == 's' && (q + 1 >= end || !is_word(buf[q + 1]))) return 2;
            return 0;
        }
        // Each new search counts its depth from its own start, on purpose:
        // it is how the reader has always classified objects.
        t = find_name_top(buf, end, t + 1, end, "Type");
    }
    return 0;
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

int32_t obj_value_start(const unsigned char *data, int32_t size, int32_t hdr) {
    int32_t p = hdr;
    if (hdr < 0 || hdr >= size || parse_int_at(data, size, &p) < 0) return -1;
    p = skip_ws(data, p, size);
    if (p < size && is_digit(data[p])) parse_int_at(data, size, &p);
    p = skip_ws(data, p, size);
    if (kw_at(data, p, size, "obj")) p = skip_ws(data, p + 3, size);
    return p;
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
                size_t n = static_cast<size_t>(i + 2 - pos);
                char *out = static_cast<char *>(std::malloc(n + 1));
                if (!out) return nullptr;
                std::memcpy(out, buf + pos, n);
                out[n] = 0;
                return out;
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

int pdfp_parse_pdf_version(const unsigned char *buf, int32_t len, char *out) {
    out[0] = 0;
    if (len < 9 || std::memcmp(buf, "%PDF-", 5) != 0) return 0;
    int32_t p = 5;
    int n = 0;
    if (p < len && is_digit(buf[p])) out[n++] = static_cast<char>(buf[p++]);
    if (p < len && buf[p] == '.' && n < 15) out[n++] = static_cast<char>(buf[p++]);
    while (p < len && n < 15 && is_digit(buf[p])) out[n++] = static_cast<char>(buf[p++]);
    out[n] = 0;
    return n > 0 ? 1 : 0;
}

int32_t pdfp_skip_ws(const unsigned char *buf, int32_t pos, int32_t end) {
    return skip_ws(buf, pos, end);
}
int pdfp_kw_at(const unsigned char *buf, int32_t pos, int32_t len, const char *kw) {
    return kw_at(buf, pos, len, kw);
}
int32_t pdfp_parse_long(const unsigned char *buf, int32_t end, int32_t *pos) {
    return parse_int_at(buf, end, pos);
}
char *pdfp_dict_text_at(const unsigned char *buf, int32_t len, int32_t pos) {
    return dict_text_at(buf, len, pos);
}
