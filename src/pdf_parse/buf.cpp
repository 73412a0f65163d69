// The growable byte buffer and the short number formatting shared by the
// reader and the writer.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "pdf_parse.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

void pdfp_advise_big_pages(void *p, uint64_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole 2 MiB blocks can take a big page.
    constexpr uintptr_t BIG = uintptr_t{1} << 21;
    uintptr_t a = (reinterpret_cast<uintptr_t>(p) + BIG - 1) & ~(BIG - 1);
    uintptr_t e = (reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(n)) & ~(BIG - 1);
    if (e > a) madvise(reinterpret_cast<void *>(a), e - a, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

void *pdfp_big_alloc(uint64_t n) {
    if (n > SIZE_MAX - PDFP_BIG_PAGE) return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (n >= PDFP_BIG_PAGE) {
        const uint64_t whole = (n + PDFP_BIG_PAGE - 1) & ~(PDFP_BIG_PAGE - 1);
        void *p = std::aligned_alloc(static_cast<size_t>(PDFP_BIG_PAGE), static_cast<size_t>(whole));
        // The part past the last whole big page keeps small pages: a big
        // one there would mostly hold nothing.
        if (p) pdfp_advise_big_pages(p, n);
        return p;
    }
#endif
    return std::malloc(n ? static_cast<size_t>(n) : 1);
}

unsigned char *pdfp_buf_init(pdfp_buf *b) {
    b->cap = PDFP_BUF_INITIAL;
    b->len = 0;
    b->data = static_cast<unsigned char *>(std::malloc(b->cap));
    if (b->data)
        b->data[0] = 0;
    else
        b->cap = 0;
    return b->data;
}

int pdfp_buf_reserve(pdfp_buf *b, uint64_t extra) {
    if (!b->data) {
        if (!pdfp_buf_init(b)) return 0;
    }
    uint64_t need = b->len + extra + 1;
    if (need < b->len) {  // wrapped: no storage could hold it
        pdfp_buf_free(b);
        return 0;
    }
    if (need <= b->cap) return 1;
    uint64_t cap = b->cap ? b->cap : PDFP_BUF_INITIAL;
    while (cap < need) {
        if (cap > UINT64_MAX / 2) {
            pdfp_buf_free(b);
            return 0;
        }
        cap *= 2;
    }
    void *p = (cap <= SIZE_MAX) ? std::realloc(b->data, static_cast<size_t>(cap)) : nullptr;
    if (!p) {
        // A failed growth drops the content: callers see null data.
        pdfp_buf_free(b);
        return 0;
    }
    b->data = static_cast<unsigned char *>(p);
    b->cap = cap;
    return 1;
}

unsigned char *pdfp_buf_bytes(pdfp_buf *b, const void *src, uint64_t n) {
    if (!pdfp_buf_reserve(b, n) || !b->data) return nullptr;
    if (n) std::memcpy(b->data + b->len, src, static_cast<size_t>(n));
    b->len += n;
    b->data[b->len] = 0;
    return b->data;
}

unsigned char *pdfp_buf_str(pdfp_buf *b, const char *s) {
    return pdfp_buf_bytes(b, s, std::strlen(s));
}

void pdfp_buf_int(pdfp_buf *b, int32_t v) {
    char tmp[32];
    auto r = std::to_chars(tmp, tmp + sizeof tmp - 1, v);
    *r.ptr = 0;
    pdfp_buf_str(b, tmp);
}

void pdfp_buf_free(pdfp_buf *b) {
    std::free(b->data);
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

int pdfp_fmt_f(char *out, size_t size, double x) {
    // to_chars is exact, rounds ties to even and never looks at the locale,
    // so the decimal point is a full stop whatever LC_NUMERIC says.
    char tmp[400];
    std::to_chars_result r;
    if (std::isnan(x) || std::isinf(x)) {
        // No PDF number can say this; a zero keeps the output parseable.
        r = std::to_chars(tmp, tmp + sizeof tmp, 0);
    } else if (x >= -2147483648.0 && x <= 2147483647.0 && static_cast<double>(static_cast<int32_t>(x)) == x) {
        r = std::to_chars(tmp, tmp + sizeof tmp, static_cast<int32_t>(x));
    } else {
        r = std::to_chars(tmp, tmp + sizeof tmp, x, std::chars_format::fixed, 4);
    }
    size_t n = static_cast<size_t>(r.ptr - tmp);
    if (size > 0) {
        size_t k = n < size - 1 ? n : size - 1;
        std::memcpy(out, tmp, k);
        out[k] = 0;
    }
    return static_cast<int>(n);
}

std::string pdfp_fmt_num(double x) {
    char tmp[512];  // room for the longest double with four decimals
    int n = pdfp_fmt_f(tmp, sizeof tmp, x);
    return std::string(tmp, static_cast<size_t>(n) < sizeof tmp ? static_cast<size_t>(n) : sizeof tmp - 1);
}
