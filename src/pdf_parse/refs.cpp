// Indirect references in PDF text: finding them, listing them, and
// rewriting them to new object numbers (the writer's only way to renumber).
//
// Format notes: a reference is digits (the object number), optional PDF
// whitespace, digits (the generation), optional whitespace, and an "R" that
// ends the text or is followed by a byte that is not a letter or digit. A
// run of digits is tried wherever it stands, also at the end of a name such
// as /F1; it only becomes a reference when the rest follows.
#include <charconv>

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

// The rest of a reference after the object number's digits, which end at i:
// returns the offset after the "R", or -1 when the syntax does not hold.
// The listing accepts "7 R" without a generation; the rewrite does not.
int32_t reference_tail(const unsigned char *t, int32_t i, int32_t end, bool need_gen) {
    i = skip_ws(t, i, end);
    if (i < end && is_digit(t[i])) {
        int32_t gen;
        i = skip_ws(t, read_digits(t, i, end, &gen), end);
    } else if (need_gen) {
        return -1;
    }
    if (i >= end || t[i] != 'R') return -1;
    if (i + 1 < end && is_word(t[i + 1])) return -1;
    return i + 1;
}

// Appends n bytes to out unless that takes its length past limit.
bool put(pdfp_buf *out, const void *p, uint64_t n, uint64_t limit) {
    return out->len <= limit && n <= limit - out->len && pdfp_buf_bytes(out, p, n);
}

}  // namespace

bool pdfp_next_ref(const unsigned char *t, int32_t end, int32_t from, bool need_gen, int32_t *start,
                   int32_t *num, int32_t *after) {
    int32_t i = from < 0 ? 0 : from;
    while (i < end) {
        if (!is_digit(t[i])) {
            ++i;
            continue;
        }
        int32_t digits_end = read_digits(t, i, end, num);
        int32_t tail = reference_tail(t, digits_end, end, need_gen);
        if (tail >= 0) {
            *start = i;
            *after = tail;
            return true;
        }
        i = digits_end;  // a trailing number cannot be a reference
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
