// Indirect references in resource dictionary texts: listing them, turning
// the writer's list into the objects to copy, and rewriting them to new
// object numbers.
//
// Format notes: a reference is digits (the object number), optional PDF
// whitespace, digits (the generation), optional whitespace, and an "R" that
// ends the text or is followed by a byte that is not a letter or digit. A
// run of digits is tried wherever it stands, also at the end of a name such
// as /F1; it only becomes a reference when the rest follows.
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "pdf_parse.h"

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

// The numbering map, either as the writer's two parallel columns (searched
// linearly, first match wins) or as a direct array indexed by old number.
struct ref_map {
    const int32_t *old_nums;
    const int32_t *new_nums;
    int32_t count;
    const int32_t *new_by_old;
    int32_t map_len;
};

// The new number for old number n, or 0 or less when n stays as it is.
int32_t map_lookup(const ref_map *m, int32_t n) {
    if (m->new_by_old) return (n >= 0 && n < m->map_len) ? m->new_by_old[n] : 0;
    for (int32_t k = 0; k < m->count; ++k)
        if (m->old_nums[k] == n) return m->new_nums[k];
    return 0;
}

// The rewrite itself: a copy of text in which every mapped reference reads
// "new 0 R". The block of 4 × length + 128 bytes always suffices: the
// shortest reference, "1 0R", grows at most to ten digits and " 0 R".
char *remap_refs(const char *text, int32_t len, const ref_map *m) {
    if (!text || len < 0) len = 0;
    char *out = static_cast<char *>(std::malloc(4 * static_cast<size_t>(len) + 128));
    if (!out) return nullptr;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    size_t o = 0;
    int32_t i = 0;
    while (i < len) {
        if (!is_digit(t[i])) {
            out[o++] = static_cast<char>(t[i++]);
            continue;
        }
        int32_t n;
        int32_t after = read_digits(t, i, len, &n);
        int32_t tail = reference_tail(t, after, len, true);
        int32_t new_num = tail >= 0 ? map_lookup(m, n) : 0;
        if (new_num > 0) {
            o = static_cast<size_t>(std::to_chars(out + o, out + o + 11, new_num).ptr - out);
            std::memcpy(out + o, " 0 R", 4);
            o += 4;
            i = tail;
        } else {
            // Not a mapped reference: its digits come out as they stand.
            std::memcpy(out + o, t + i, static_cast<size_t>(after - i));
            o += static_cast<size_t>(after - i);
            i = after;
        }
    }
    out[o] = 0;
    return out;
}

}  // namespace

bool pdfp_ref_at(const unsigned char *t, int32_t end, int32_t p, bool need_gen, int32_t *num,
                 int32_t *digits_end, int32_t *after) {
    *digits_end = read_digits(t, p, end, num);
    int32_t tail = reference_tail(t, *digits_end, end, need_gen);
    if (tail < 0) return false;
    *after = tail;
    return true;
}

int32_t pdfp_collect_text_refs(const char *text, int32_t text_len, int32_t *out, int32_t cap) {
    if (cap <= 0 || text_len <= 0 || !text) return 0;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    int32_t count = 0, i = 0;
    while (count < cap && i < text_len) {
        if (!is_digit(t[i])) {
            ++i;
            continue;
        }
        int32_t n;
        int32_t after = read_digits(t, i, text_len, &n);
        if (after >= text_len) break;  // a trailing number cannot be a reference
        int32_t tail = reference_tail(t, after, text_len, false);
        if (tail >= 0) {
            out[count++] = n;
            i = tail;
        } else {
            i = after;
        }
    }
    return count;
}

int32_t pdfp_collect_resources(const unsigned char *, int32_t, const pdfp_objvec *,
                               const int32_t *nums, int32_t count, int32_t *out, int32_t cap,
                               unsigned char *flags, int32_t highest) {
    // One level deep: what the listed objects refer to is not added.
    int32_t n = count < cap ? count : cap;
    if (n <= 0) return 0;
    for (int32_t k = 0; k < n; ++k) {
        out[k] = nums[k];
        if (flags && nums[k] >= 0 && nums[k] <= highest) flags[nums[k]] = 1;
    }
    return n;
}

char *pdfp_remap_res_text(const char *text, const int32_t *old_nums, const int32_t *new_nums,
                          int32_t count) {
    ref_map m{old_nums, new_nums, count, nullptr, 0};
    size_t n = text ? std::strlen(text) : 0;
    return remap_refs(text, n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n), &m);
}

char *pdfp_remap_res_text_map(const char *text, int32_t text_len, const int32_t *new_by_old,
                              int32_t map_len) {
    static const int32_t none = 0;
    // A null map maps nothing; keep the direct branch so no linear search runs.
    ref_map m{nullptr, nullptr, 0, new_by_old ? new_by_old : &none, new_by_old ? map_len : 0};
    return remap_refs(text, text_len, &m);
}
