// utf8: the strict decoder and the encoder of UTF-8.
#include "utf8.h"

#include <cstdio>

namespace {

// Length of the sequence that lead byte b begins; 0 when b cannot lead.
int sequence_length(unsigned char b) {
    if (b < 0x80) return 1;
    if ((b >> 5) == 0x6) return 2;
    if ((b >> 4) == 0xE) return 3;
    if ((b >> 3) == 0x1E) return 4;
    return 0;
}

}  // namespace

bool utf8_decode(const char *s, size_t n, std::u32string *chars, size_t *bad_at) {
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};  // the shortest form's floor, by length
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    chars->clear();
    for (size_t i = 0; i < n;) {
        int len = sequence_length(p[i]);
        bool ok = len > 0 && static_cast<size_t>(len) <= n - i;
        char32_t v = len == 1 ? p[i] : p[i] & (0x7F >> len);
        for (int k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            v = v << 6 | (p[i + k] & 0x3F);
        }
        if (!ok || v < least[len] || v > UNICODE_MAX || (v >= SURROGATE_FIRST && v <= SURROGATE_LAST)) {
            *bad_at = i;
            return false;
        }
        chars->push_back(v);
        i += static_cast<size_t>(len);
    }
    return true;
}

void utf8_append(std::string *s, char32_t c) {
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

std::string utf8_char_name(char32_t c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    bool printable = c >= 0xA0 || (c >= 0x20 && c < 0x7F);
    if (!printable || c > UNICODE_MAX || (c >= SURROGATE_FIRST && c <= SURROGATE_LAST)) return code;
    std::string name = "'";
    utf8_append(&name, c);
    return name + "' (" + code + ")";
}
