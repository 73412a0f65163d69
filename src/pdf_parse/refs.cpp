// Indirect references in PDF text: finding them, listing them, and
// rewriting them to new object numbers (the writer's only way to renumber).
//
// Format notes: a reference is digits (the object number), optional PDF
// whitespace, digits (the generation), optional whitespace, and an "R" that
// ends the text or is followed by a byte that is not a letter or digit. A
// run of digits is tried wherever it stands, also at the end of a name such
// as /F1; it only becomes a reference when the rest follows.
#include <charconv>
#include <cstring>

#include "scan.h"

namespace {

// How a digit run is read: 32-bit arithmetic that wraps, like every integer
// read from PDF text. Returns the offset after the run, the value in *v.
int32_t read_digits(const unsigned char *t, int32_t i, int32_t end, int32_t *v) {
    uint32_t acc = 0;
    while (i < end && is_digit(t[i])) acc = acc * 10u + static_cast<uint32_t>(t[i++] - '0');
    *v = static_cast<int32_t>(acc);
    return i;
}

// Appends n bytes to out unless that takes its length past limit.
bool put(pdfp_buf *out, const void *p, uint64_t n, uint64_t limit) {
    return out->len <= limit && n <= limit - out->len && pdfp_buf_bytes(out, p, n);
}

}  // namespace

// Found from its "R" backwards: R is rare in PDF text and digits are not, so
// a quick search for the letter skips what a walk over every digit run
// would read. The result is the one the forward reading gives: the object
// number's run is never longer than from allows, and the first
// reference at or after from is the one with the first "R".
bool pdfp_next_ref(const unsigned char *t, int32_t end, int32_t from, bool need_gen, int32_t *start,
                   int32_t *num, int32_t *after) {
    int32_t low = from < 0 ? 0 : from;
    for (int32_t i = low; i < end;) {
        const void *hit = std::memchr(t + i, 'R', static_cast<size_t>(end - i));
        if (!hit) return false;
        const auto r = static_cast<int32_t>(static_cast<const unsigned char *>(hit) - t);
        i = r + 1;
        if (r + 1 < end && is_word(t[r + 1])) continue;
        int32_t p = r;
        while (p > low && is_pdf_ws(t[p - 1])) --p;
        int32_t q = p;
        while (q > low && is_digit(t[q - 1])) --q;
        if (q == p) continue;
        // [q, p) is the generation when an object number's run stands before it.
        int32_t w = q;
        while (w > low && is_pdf_ws(t[w - 1])) --w;
        int32_t m = w;
        while (m > low && is_digit(t[m - 1])) --m;
        if (w < q && m < w) {
            read_digits(t, m, w, num);
            *start = m;
        } else if (!need_gen) {
            read_digits(t, q, p, num);
            *start = q;
        } else {
            continue;
        }
        *after = r + 1;
        return true;
    }
    return false;
}

int32_t pdfp_collect_text_refs(const char *text, int32_t text_len, int32_t *out, int32_t cap) {
    if (cap <= 0 || text_len <= 0 || !text) return 0;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    int32_t count = 0, at = 0, start, num;
    while (count < cap && pdfp_next_ref(t, text_len, at, false, &start, &num, &at)) out[count++] = num;
    return count;
}

int pdfp_remap_res_text(const unsigned char *text, int32_t len, const int32_t *new_by_old, int32_t map_len,
                        pdfp_buf *out, uint64_t limit) {
    if (!text || len < 0) len = 0;
    int32_t copied = 0, from = 0, start, num, after;
    while (pdfp_next_ref(text, len, from, true, &start, &num, &after)) {
        from = after;
        int32_t to = num > 0 && num < map_len ? new_by_old[num] : 0;
        if (to == 0) continue;  // not renumbered: its bytes come out as they stand
        char number[16];
        auto r = std::to_chars(number, number + sizeof number, to);
        if (!put(out, text + copied, static_cast<uint64_t>(start - copied), limit) ||
            !(to > 0 ? put(out, number, static_cast<uint64_t>(r.ptr - number), limit) && put(out, " 0 R", 4, limit)
                     : put(out, "null", 4, limit)))
            return 0;
        copied = after;
    }
    return put(out, text + copied, static_cast<uint64_t>(len - copied), limit) ? 1 : 0;
}
