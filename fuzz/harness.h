// One run of each fuzz target over one input, with the checks that make a
// run fail. Shared by the libFuzzer targets (fuzz_*.cpp, which abort on a
// failed check so that libFuzzer keeps the input) and by
// tests/test_robustness.cpp, which replays every file of tests/regress/.
//
// Each run returns an empty string when every check held, else a short
// description of what went wrong. Crashes, leaks and undefined behaviour
// are left to the sanitizers.
#ifndef DEDEDIRUZURUD_FUZZ_HARNESS_H
#define DEDEDIRUZURUD_FUZZ_HARNESS_H

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "dedediruzurud.h"
#include "dedediruzurud/cid_font.h"
#include "dedediruzurud/label_plan.h"
#include "dedediruzurud/object_numbers.h"
#include "dedediruzurud_internal.h"
#include "deflate.h"
#include "inflate.h"
#include "messages.h"
#include "pdf_parse.h"
#include "pdf_parse/load_steps.h"
#include "truetype.h"
#include "truetype_subset.h"
#include "pdf_parse/security.h"

namespace fuzz {

// Whether text matches the message pattern pat (one of ALL_MESSAGES, the
// library's own table): "%s" stands for any text, "%d", "%ld" and "%lld"
// for a decimal integer.
inline bool match_message(const char *pat, const char *text) {
    if (!*pat) return !*text;
    if (pat[0] == '%' && pat[1] == 's') {
        for (const char *t = text;; ++t) {
            if (match_message(pat + 2, t)) return true;
            if (!*t) return false;
        }
    }
    int skip = 0;
    if (pat[0] == '%') skip = pat[1] == 'd' ? 2 : pat[1] == 'l' && pat[2] == 'd' ? 3 : pat[1] == 'l' && pat[2] == 'l' && pat[3] == 'd' ? 4 : 0;
    if (skip) {
        const char *t = text;
        if (*t == '-') ++t;
        if (*t < '0' || *t > '9') return false;
        while (*t >= '0' && *t <= '9') ++t;
        return match_message(pat + skip, t);
    }
    return *pat == *text && match_message(pat + 1, text + 1);
}

inline bool is_specified_message(const char *text) {
    for (const char *m : ALL_MESSAGES)
        if (match_message(m, text)) return true;
    return false;
}

// The Flate stream of the object whose header stands at off, decoded by
// our decoder; false when it is not one.
inline bool inflate_object_stream(const std::string &s, size_t off, std::string *dict, std::string *out) {
    size_t kw = s.find(">>\nstream\n", off);
    if (kw == std::string::npos) return false;
    *dict = s.substr(off, kw + 2 - off);
    size_t l = dict->find("/Length ");
    if (l == std::string::npos) return false;
    uint64_t n = std::strtoull(dict->c_str() + l + 8, nullptr, 10);
    size_t start = kw + 10;
    if (n > s.size() - start || s.compare(start + n, 11, "\nendstream\n") != 0) return false;
    // Flate expands at most 1032-fold, but our streams far less: room for
    // 16-fold first, the whole bound only when that fails (a fresh block
    // of megabytes per output costs more than the rest of the check).
    // Left uninitialised, as in run_inflate.
    const uint64_t bound = std::min<uint64_t>(n * 1032 + 64, 1u << 28);
    for (uint64_t cap = std::min<uint64_t>(n * 16 + 256, bound);; cap = bound) {
        std::unique_ptr<unsigned char[]> dst(new unsigned char[cap]);
        uint64_t produced = 0;
        if (inflate_decompress(reinterpret_cast<const unsigned char *>(s.data()) + start, n, dst.get(), cap,
                               &produced) == 0) {
            out->assign(reinterpret_cast<const char *>(dst.get()), produced);
            return true;
        }
        if (cap == bound) return false;
    }
}

inline long dict_int(const std::string &dict, const char *key) {
    size_t k = dict.find(key);
    return k == std::string::npos ? -1 : std::strtol(dict.c_str() + k + std::strlen(key), nullptr, 10);
}

// One entry of a cross-reference stream.
struct xref_entry {
    int type;
    uint64_t f2, f3;
};

// The entries of the cross-reference stream at off (the packed layout),
// empty when it cannot be read.
inline std::vector<xref_entry> xref_stream_entries(const std::string &s, size_t off) {
    std::string dict, rows;
    if (!inflate_object_stream(s, off, &dict, &rows) || dict.find("/Type /XRef") == std::string::npos) return {};
    long size = dict_int(dict, "/Size ");
    long w2 = dict_int(dict, "/W [1 ");
    if (size < 1 || w2 < 1 || w2 > 8 || dict.find("/W [1 " + std::to_string(w2) + " 2]") == std::string::npos ||
        rows.size() != static_cast<size_t>(size) * static_cast<size_t>(w2 + 3))
        return {};
    std::vector<xref_entry> e;
    for (size_t at = 0; at < rows.size(); at += static_cast<size_t>(w2 + 3)) {
        xref_entry x{static_cast<unsigned char>(rows[at]), 0, 0};
        for (long b = 0; b < w2; ++b) x.f2 = x.f2 << 8 | static_cast<unsigned char>(rows[at + 1 + static_cast<size_t>(b)]);
        x.f3 = static_cast<uint64_t>(static_cast<unsigned char>(rows[at + 1 + static_cast<size_t>(w2)])) << 8 |
               static_cast<unsigned char>(rows[at + 2 + static_cast<size_t>(w2)]);
        e.push_back(x);
    }
    return e;
}

inline bool object_at(const std::string &s, uint64_t off, uint64_t num) {
    std::string head = std::to_string(num) + " 0 obj\n";
    return off < s.size() && s.compare(off, head.size(), head) == 0;
}

// The text of object num of a packed output as its object stream holds
// it; "" when it is not in one.
inline std::string packed_object_text(const std::string &s, uint64_t num) {
    size_t sx = s.rfind("startxref\n");
    if (sx == std::string::npos) return "";
    std::vector<xref_entry> e = xref_stream_entries(s, std::strtoull(s.c_str() + sx + 10, nullptr, 10));
    if (num >= e.size() || e[num].type != 2 || e[num].f2 >= e.size()) return "";
    std::string dict, text;
    if (!inflate_object_stream(s, e[e[num].f2].f2, &dict, &text)) return "";
    long n = dict_int(dict, "/N "), first = dict_int(dict, "/First ");
    std::vector<long> pairs;
    const char *p = text.c_str();
    for (long i = 0; i < 2 * n; ++i) {
        char *end;
        pairs.push_back(std::strtol(p, &end, 10));
        p = end;
    }
    size_t k = static_cast<size_t>(e[num].f3);
    if (first < 0 || 2 * k + 1 >= pairs.size() || pairs[2 * k] != static_cast<long>(num)) return "";
    size_t from = static_cast<size_t>(first + pairs[2 * k + 1]);
    size_t to = 2 * k + 3 < pairs.size() ? static_cast<size_t>(first + pairs[2 * k + 3]) : text.size();
    return from <= to && to <= text.size() ? text.substr(from, to - from) : "";
}

// The packed layout: a cross-reference stream whose entries point at
// "k 0 obj" (in the file) or at object k in an object stream (whose
// header names k at that index), and a page tree counting the pages.
inline std::string check_packed_output(const std::string &s, int32_t pages) {
    size_t sx = s.rfind("startxref\n");
    if (sx == std::string::npos) return "no startxref";
    uint64_t x = std::strtoull(s.c_str() + sx + 10, nullptr, 10);
    std::vector<xref_entry> e = x < sx ? xref_stream_entries(s, x) : std::vector<xref_entry>{};
    if (e.empty()) return "startxref does not point at a cross-reference stream";
    if (e.size() < 3u * static_cast<size_t>(pages) + 5) return "xref too short for the pages";
    if (e[0].type != 0 || e[0].f3 != 65535) return "bad xref entry 0";
    if (e.back().type != 1 || e.back().f2 != x || !object_at(s, x, e.size() - 1)) return "xref misses itself";
    std::string tree;
    std::map<uint64_t, std::pair<std::string, std::string>> streams;  // by number: dictionary, text
    for (uint64_t k = 1; k < e.size(); ++k) {
        const xref_entry &t = e[k];
        std::string what = "xref entry " + std::to_string(k);
        if (t.type == 1 && !object_at(s, t.f2, k)) return what + " does not point at its object";
        if (t.type != 2) continue;
        if (t.f2 >= e.size() || e[t.f2].type != 1) return what + " names no object stream";
        if (!streams.count(t.f2)) {
            auto &[d, txt] = streams[t.f2];
            if (!inflate_object_stream(s, e[t.f2].f2, &d, &txt) || d.find("/Type /ObjStm") == std::string::npos)
                return what + ": object stream unreadable";
        }
        const auto &[dict, text] = streams[t.f2];
        long n = dict_int(dict, "/N "), first = dict_int(dict, "/First ");
        if (static_cast<long>(t.f3) >= n || first < 0 || static_cast<size_t>(first) > text.size())
            return what + ": index outside its stream";
        const char *p = text.c_str();
        long num = -1, off = -1;
        for (uint64_t i = 0; i <= t.f3; ++i) {
            char *end;
            num = std::strtol(p, &end, 10);
            off = std::strtol(end, &end, 10);
            p = end;
        }
        if (num != static_cast<long>(k) || off < 0 || static_cast<size_t>(first + off) > text.size())
            return what + ": its object stream names another object";
        if (k == 2) tree = text.substr(static_cast<size_t>(first + off));
    }
    std::string head = "<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [";
    if (tree.compare(0, head.size(), head) != 0 && s.find("2 0 obj\n" + head) == std::string::npos)
        return "page tree does not count the pages";
    return "";
}

// Checks the skeleton of an assembled output: header, cross-reference
// table (every entry in use of object k points at "k 0 obj", offsets rising),
// trailer and end marker, and the page count of the page tree.
inline std::string check_output(const unsigned char *data, uint64_t len, int32_t pages) {
    std::string s(reinterpret_cast<const char *>(data), len);
    if (len < 7 || s.compare(len - 6, 6, "%%EOF\n") != 0) return "no end marker";
    if (s.compare(0, 15, "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n") == 0) return check_packed_output(s, pages);
    if (s.compare(0, 15, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") != 0) return "bad header";
    if (len < 7 || s.compare(len - 6, 6, "%%EOF\n") != 0) return "no end marker";
    size_t sx = s.rfind("startxref ");
    if (sx == std::string::npos) return "no startxref";
    uint64_t x = std::strtoull(s.c_str() + sx + 10, nullptr, 10);
    if (x >= len || s.compare(x, 7, "xref\n0 ") != 0) return "startxref does not point at xref";
    char *end = nullptr;
    long n = std::strtol(s.c_str() + x + 7, &end, 10);
    if (n < 3L * pages + 4) return "xref too short for the pages";
    size_t e = static_cast<size_t>(end - s.c_str()) + 1;
    if (s.compare(e, 20, "0000000000 65535 f \n") != 0) return "bad xref entry 0";
    uint64_t prev = 0;
    for (long k = 1; k < n; ++k) {
        size_t line = e + 20 * static_cast<size_t>(k);
        // A page's form number stays free when it shares an earlier page's form.
        if (line + 20 <= len && s.compare(line, 20, "0000000000 00001 f \n") == 0) continue;
        if (line + 20 > len || s.compare(line + 10, 10, " 00000 n \n") != 0) return "bad xref line";
        uint64_t off = std::strtoull(s.substr(line, 10).c_str(), nullptr, 10);
        char head[32];
        int hn = std::snprintf(head, sizeof head, "%ld 0 obj\n", k);
        if (off <= prev || off >= x || s.compare(off, static_cast<size_t>(hn), head) != 0)
            return "xref entry " + std::to_string(k) + " does not point at its object";
        prev = off;
    }
    // The trailer names the catalog, and the document information when the
    // input had one: a copy, after the pages' objects.
    size_t t = e + 20 * static_cast<size_t>(n);
    std::string trailer = "trailer\n<< /Size " + std::to_string(n) + " /Root 1 0 R";
    if (s.compare(t, trailer.size(), trailer) != 0) return "bad trailer";
    t += trailer.size();
    if (s.compare(t, 7, " /Info ") == 0) {
        long info = std::strtol(s.c_str() + t + 7, &end, 10);
        if (info < 3L * pages + 3 || info >= n || std::strncmp(end, " 0 R", 4) != 0) return "bad trailer /Info";
        t = static_cast<size_t>(end - s.c_str()) + 4;
    }
    if (s.compare(t, 14, " >>\nstartxref ") != 0) return "bad trailer";
    std::string tree = "2 0 obj\n<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [";
    if (s.find(tree) == std::string::npos) return "page tree does not count the pages";
    return "";
}

// A page whose content is one stream has it carried as stored: the form
// of page i in the output (read back by our reader) holds those bytes. A
// form that does not read back as a stream is left out: its dictionary
// holds the page's resources text as the input had it, which may be
// damaged beyond closing.
// The form page i of an output draws: its own, or the earlier page's that
// it shares (named in its resources as /Fm1).
inline int32_t form_drawn(const pdfp_doc *out, int32_t i) {
    int32_t own = static_cast<int32_t>(form_obj(i));
    const pdfp_obj *page = pdfp_obj_find(&out->objs, static_cast<int32_t>(page_obj(i)));
    if (!page) return own;
    std::string text;
    if (page->text) text.assign(reinterpret_cast<const char *>(page->text), static_cast<size_t>(page->text_len));
    else if (page->dict_pos >= 0 && page->endobj_pos > page->dict_pos)
        text.assign(reinterpret_cast<const char *>(out->data) + page->dict_pos,
                    static_cast<size_t>(page->endobj_pos - page->dict_pos));
    size_t at = text.find("/Fm1 ");
    return at == std::string::npos ? own : static_cast<int32_t>(std::strtol(text.c_str() + at + 5, nullptr, 10));
}

inline std::string check_carried(const pdfp_doc *in, const pdfp_doc *out) {
    for (int32_t i = 0; i < in->pages.count; ++i) {
        const pdfp_obj *page = pdfp_obj_find(&in->objs, in->pages.items[i].obj_num);
        pdfp_raw_content raw;
        if (!page || !pdfp_page_raw_content(in->data, in->size, &in->objs, page, &raw)) continue;
        const pdfp_obj *form = pdfp_obj_find(&out->objs, form_drawn(out, i));
        if (form && !form->has_stream) continue;
        if (!form || form->data_end - form->data_start != raw.len ||
            std::memcmp(out->data + form->data_start, raw.bytes, static_cast<size_t>(raw.len)) != 0)
            return "the form of page " + std::to_string(i + 1) + " does not hold its content as stored";
    }
    return "";
}

// Our own reader must take the output back with the same page count:
// outputs get numbered again. Outputs carrying an extra object header
// inside a copied object (the input had it there) are left out, since
// the reader rightly lets a later header win.
inline std::string check_reload(const pdfp_doc *input, const unsigned char *data, uint64_t len, int32_t pages) {
    std::string s(reinterpret_cast<const char *>(data), len);
    size_t x = s.rfind("\nxref\n0 ");
    long objects = 0;
    if (x != std::string::npos) {
        objects = std::strtol(s.c_str() + x + 8, nullptr, 10) - 1;
        // Form numbers left free by pages that share a form are no objects.
        for (size_t f = x; (f = s.find("0000000000 00001 f \n", f)) != std::string::npos; f += 20) --objects;
    } else {
        // Packed: the headers in the file are the objects not in a stream.
        size_t sx = s.rfind("startxref\n");
        if (sx == std::string::npos) return "";
        x = std::strtoull(s.c_str() + sx + 10, nullptr, 10);
        for (const xref_entry &e : xref_stream_entries(s, x)) objects += e.type == 1;
        --objects;  // the cross-reference stream's own, at x
    }
    long headers = 0;
    for (size_t i = s.find(" obj"); i != std::string::npos && i < x; i = s.find(" obj", i + 1)) {
        size_t j = i;
        while (j > 0 && std::isdigit(static_cast<unsigned char>(s[j - 1]))) --j;
        if (j == i || j < 2 || s[j - 1] != ' ' || !std::isdigit(static_cast<unsigned char>(s[j - 2]))) continue;
        ++headers;
    }
    if (headers != objects) return "";
    pdfp_doc again;
    clear_error();
    if (pdfp_doc_load_mem(data, static_cast<size_t>(len), "out.pdf", &again, set_error) != 0)
        return std::string("output does not load again: ") + dedediruzurud_last_error();
    std::string problem;
    if (again.pages.count != pages)
        problem = "output loads with " + std::to_string(again.pages.count) + " pages, not " + std::to_string(pages);
    else
        problem = check_carried(input, &again);
    pdfp_doc_free(&again);
    clear_error();
    return problem;
}

// Label formats the numbering target chooses from.
inline const char *const k_formats[] = {
    nullptr, "", "{n}", "Page {n} of {total}", "{{n}} {} {x} {total", "(\\) \xE9\x01{n}{",
    "{n}{n}{n}{n}{n}{n}{n}{n}{n}{n}{total}{total}{total}{total}",
};

// The whole path: the first four bytes choose the appearance and the
// selection, the rest is the file, loaded from memory and assembled into a
// buffer without touching any file.
inline std::string run_numbering(const uint8_t *data, size_t size) {
    if (size < 4) return "";
    const uint8_t p0 = data[0], p1 = data[1], p2 = data[2], p3 = data[3];
    pdfp_doc doc;
    clear_error();
    // Notices must be texts a person can read: short, without a line end.
    std::string bad_notice;
    pdfp_notices notices{[](void *ctx, const char *text) {
                             size_t n = std::strlen(text);
                             if (n == 0 || n > 300 || std::strchr(text, '\n'))
                                 *static_cast<std::string *>(ctx) = text;
                         },
                         &bad_notice, 0};
    if (pdfp_doc_load_mem(data + 4, size - 4, "fuzz.pdf", &doc, set_error, &notices) != 0) {
        const char *msg = dedediruzurud_last_error();
        return is_specified_message(msg) ? "" : std::string("loader message not specified: ") + msg;
    }
    std::string problem;
    int32_t count = doc.pages.count;
    if (count < 1 || !doc.data) problem = "loaded document without pages";
    // Position mostly valid, sometimes out of range; colours likewise.
    label_look look;
    look.position = p0 < 250 ? p0 % 6 : static_cast<int>(p0) - 256;
    look.red = p3 & 0x80 ? 256 : (p3 & 7) * 36;
    look.green = (p3 >> 3 & 3) * 85;
    look.blue = 255;
    look.format = k_formats[(p3 >> 5 & 3) + (p0 & 1) * 3];
    look.font_size = p2 == 255 ? -1 : p2 * 1.25;
    page_selection labelled;
    labelled.first_index = (p1 & 15) - 2;
    labelled.last_index = p1 & 0x80 ? count + 5 : count - 1 - (p1 >> 4 & 7);
    labelled.first_number = (p1 & 1) ? -5 : 1;
    labelled.total = -1;
    // Sometimes the numbering entry's road: styled labels, the input's
    // page labels read and written anew.
    label_options extras{"{n:r}-{n:06}", nullptr, 0, false, 0, 0, (p3 & 0x40) != 0, 0.5, (p3 & 0x40) != 0,
                         true, false};
    label_plan plan;
    if (problem.empty() && (p0 & 2) && label_plan_make(&doc, &extras, &labelled, &plan)) look.plan = &plan;
    pdfp_buf out{};
    unsigned before = error_epoch();
    clear_error();
    int ok = problem.empty() ? numbered_doc_build(&doc, &out, &look, &labelled) : 0;
    if (problem.empty()) {
        const char *msg = dedediruzurud_last_error();
        if (ok) {
            if (*msg) problem = std::string("success with a message: ") + msg;
            else if (!out.data || out.len == 0) problem = "success without output";
            else if (out.len >= 2147483648ull) problem = "output of 2 GiB or more";
            // An encrypted copy's skeleton is another (its version, /Encrypt,
            // sealed object streams): reading it back checks it.
            else if (!doc.encryption) problem = check_output(out.data, out.len, count);
            if (problem.empty()) problem = check_reload(&doc, out.data, out.len, count);
        } else if (error_epoch() == before || !is_specified_message(msg)) {
            problem = std::string("writer message not specified: ") + msg;
        }
    }
    pdfp_buf_free(&out);
    pdfp_doc_free(&doc);
    if (problem.empty() && !bad_notice.empty()) problem = "notice not fit to show: " + bad_notice;
    return problem;
}

// Largest output array the decoder target offers, so that a run stays fast.
constexpr uint64_t k_max_decode_cap = 1u << 20;

// Inflate with a capacity chosen by the second byte.
inline std::string run_inflate(const uint8_t *data, size_t size, uint8_t cap_byte) {
    uint64_t cap = cap_byte == 255 ? k_max_decode_cap : static_cast<uint64_t>(cap_byte) * 64 + (size * (cap_byte & 7));
    if (cap > k_max_decode_cap) cap = k_max_decode_cap;
    // Left uninitialised: clearing megabytes per run would dominate the run.
    std::unique_ptr<unsigned char[]> dst(new unsigned char[cap ? cap : 1]);
    uint64_t produced = 12345;
    int r = inflate_decompress(data, size, dst.get(), cap, &produced);
    if (r != 0 && r != -1) return "inflate result " + std::to_string(r);
    if (r == -1 && produced != 0) return "failed inflate with a count";
    if (produced > cap) return "inflate wrote past its capacity";
    // zlib as the oracle: a stream it decodes completely within the
    // capacity must give us the same bytes.
    std::unique_ptr<unsigned char[]> ref(new unsigned char[cap ? cap : 1]);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "";
    z.next_in = const_cast<unsigned char *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = ref.get();
    z.avail_out = static_cast<uInt>(cap);
    int zr = inflate(&z, Z_FINISH);
    uint64_t zlen = z.total_out;
    inflateEnd(&z);
    if (zr == Z_STREAM_END &&
        (r != 0 || produced != zlen || std::memcmp(dst.get(), ref.get(), zlen) != 0))
        return "inflate differs from zlib on a valid stream";
    return "";
}

// pdfp_decode_filters: the bytes up to the first "\nstream\n" are the
// dictionary, the rest is the raw data.
inline std::string run_filters(const uint8_t *data, size_t size) {
    if (size > 1u << 20) return "";
    static const char sep[] = "\nstream\n";
    size_t dict_len = size;
    for (size_t i = 0; i + 8 <= size; ++i)
        if (std::memcmp(data + i, sep, 8) == 0) {
            dict_len = i;
            break;
        }
    size_t raw_at = dict_len + 8 <= size ? dict_len + 8 : size;
    // Exact-size copies so that the sanitizer sees every read past either part.
    std::vector<unsigned char> dict(data, data + dict_len), raw(data + raw_at, data + size);
    pdfp_buf out{};
    pdfp_buf_bytes(&out, "prefix", 6);
    int r = pdfp_decode_filters(dict.data(), 0, static_cast<int32_t>(dict_len), raw.data(),
                                static_cast<int32_t>(raw.size()), &out);
    std::string problem;
    if (r != 1 && r != 0 && r != -1) problem = "filters result " + std::to_string(r);
    else if (!out.data) problem = "output buffer lost";
    else if (r != 1 && out.len != 6) problem = "failed decode changed the buffer";
    else if (std::memcmp(out.data, "prefix", 6) != 0) problem = "decode overwrote earlier content";
    else if (out.len - 6 > MAX_DECODED_BYTES) problem = "decoded past the limit";
    else if (out.data[out.len] != 0) problem = "no NUL after decoded bytes";
    pdfp_buf_free(&out);
    return problem;
}

// Decoder target: the first byte chooses inflate or the filter chain.
inline std::string run_decode(const uint8_t *data, size_t size) {
    if (size < 2) return "";
    if (data[0] & 1) {
        std::vector<unsigned char> src(data + 2, data + size);
        return run_inflate(src.data(), src.size(), data[1]);
    }
    return run_filters(data + 1, size - 1);
}

// Largest input the encoder target builds from runs, so that a run stays fast.
constexpr size_t k_max_deflate_input = 1u << 16;

// The input of the encoder target: the bytes after the first, or (bit 0 of
// the first byte) those read as (count, byte) pairs of runs, which reach
// long matches and many blocks with short inputs.
inline std::string deflate_input(const uint8_t *data, size_t size) {
    if (!(data[0] & 1)) return std::string(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string in;
    for (size_t i = 1; i + 1 < size && in.size() < k_max_deflate_input; i += 2)
        in.append(size_t(data[i]) + 1, static_cast<char>(data[i + 1]));
    return in;
}

// Encoder target: our encoding must fit its bound and give the input back
// through our decoder and through zlib (which also checks the Adler-32);
// with bit 1 of the first byte, one byte less room must fail cleanly; bit 2
// chooses the fast effort.
inline std::string run_deflate(const uint8_t *data, size_t size) {
    if (size < 1) return "";
    const std::string in = deflate_input(data, size);
    const auto *src = reinterpret_cast<const unsigned char *>(in.data());
    const uint64_t bound = deflate_bound(in.size());
    const deflate_effort effort = data[0] & 4 ? deflate_effort::fast : deflate_effort::standard;
    std::vector<unsigned char> z(bound);  // exact, so that the sanitizer sees any overrun
    uint64_t produced = 12345;
    if (deflate_compress(src, in.size(), z.data(), bound, &produced, nullptr, effort) != 0)
        return "deflate failed within its bound";
    if (produced > bound || produced < 8) return "deflate count outside its bound";
    std::vector<unsigned char> back(in.size() + 1);
    uint64_t n = 0;
    if (inflate_decompress(z.data(), produced, back.data(), in.size(), &n) != 0 || n != in.size() ||
        std::memcmp(back.data(), src, n) != 0)
        return "our decoder does not give the input back";
    uLongf zn = static_cast<uLongf>(back.size());
    if (uncompress(back.data(), &zn, z.data(), static_cast<uLong>(produced)) != Z_OK || zn != in.size() ||
        std::memcmp(back.data(), src, zn) != 0)
        return "zlib does not give the input back";
    if (data[0] & 2) {
        std::vector<unsigned char> tight(produced - 1);
        uint64_t short_count = 7;
        if (deflate_compress(src, in.size(), tight.data(), tight.size(), &short_count, nullptr, effort) != -1 ||
            short_count != 0)
            return "deflate did not fail one byte short";
    }
    return "";
}

// Scanner target: every scanner of the reader over the bytes, at offsets
// chosen by the first bytes, plus the reference lister and rewriter.
inline std::string run_scan(const uint8_t *data, size_t size) {
    if (size < 3 || size > 1u << 20) return "";
    const int32_t n = static_cast<int32_t>(size - 2);
    std::vector<unsigned char> b(data + 2, data + size);
    const unsigned char *buf = b.data();
    int32_t pos = n ? (data[0] | data[1] << 8) % n : 0;
    static const char *const names[] = {"Length", "Type", "Page", "Kids", "Resources", "Filter"};
    static const char *const kws[] = {"obj", "endobj", "stream", "endstream", "startxref", "R"};
    const char *name = names[data[0] % 6];
    const char *kw = kws[data[1] % 6];
    int32_t hit = find_kw(buf, n, pos - 3, kw);
    if (hit >= 0 && !kw_at(buf, hit, n, kw))
        return "find_kw hit that kw_at denies";
    int32_t nm = find_name(buf, n, pos, n, name);
    if (nm >= 0 && (nm < pos || buf[nm] != '/')) return "find_name outside its range";
    int32_t top = find_name_top(buf, n, pos, n, name);
    if (top >= 0 && (top < pos || buf[top] != '/')) return "find_name_top outside its range";
    if (skip_ws(buf, pos, n) > n) return "skip_ws past the bound";
    int32_t p = pos;
    parse_int_at(buf, n, &p);
    if (p < pos || p > n) return "parse_int_at moved outside";
    p = pos;
    read_int_adv(buf, n, &p);
    int32_t lt = -1;
    for (int32_t i = pos; i + 1 < n; ++i)
        if (buf[i] == '<' && buf[i + 1] == '<') {
            lt = i;
            break;
        }
    if (lt >= 0) {
        int32_t s = dict_stream_kw(buf, n, lt);
        if (s >= 0 && !kw_at(buf, s, n, "stream")) return "dict_stream_kw hit without keyword";
        char *t = dict_text_at(buf, n, lt);
        if (t && (std::strncmp(t, "<<", 2) != 0)) return "dict_text_at copy does not start with <<";
        std::free(t);
        int32_t direct, indirect;
        parse_length(buf, n, lt, s >= 0 ? s : n, &direct, &indirect);
        if (direct >= 0 && indirect >= 0) return "parse_length gave both values";
        if (s >= 0 && stream_data_start(buf, n, s) < s + 6) return "stream data before its keyword";
    }
    // The object scan's shared dictionary walks against one walk per start.
    std::vector<int32_t> starts;
    for (int32_t i = 0; i < n && starts.size() < 256; ++i)
        if (buf[i] == '<') starts.push_back(i);
    std::vector<int32_t> shared = stream_keywords(buf, n, starts, int64_t{1} << 40);
    for (size_t s = 0; s < starts.size(); ++s)
        if (shared[s] != dict_stream_kw(buf, n, starts[s])) return "shared walk differs from dict_stream_kw";
    // References: listing is bounded by the capacity; the rewrite grows a
    // text at most 3.5-fold ("1 0R" to "2147483647 0 R"), and an empty map
    // rewrites nothing.
    std::string text(reinterpret_cast<const char *>(buf), static_cast<size_t>(n));
    int32_t refs[64];
    int32_t nr = pdfp_collect_text_refs(text.c_str(), n, refs, 64);
    if (nr < 0 || nr > 64) return "reference count outside the capacity";
    std::vector<int32_t> map(64, 0);
    map[12] = 7;
    map[5] = PDFP_REF_TO_NULL;
    if (nr > 0 && refs[0] > 0 && refs[0] < 64) map[static_cast<size_t>(refs[0])] = 2147483647;
    pdfp_buf re{}, same{};
    int ok = pdfp_remap_res_text(buf, n, map.data(), 64, &re, MAX_FILE_BYTES);
    int ok_same = pdfp_remap_res_text(buf, n, nullptr, 0, &same, MAX_FILE_BYTES);
    std::string problem;
    if (!ok || !ok_same) problem = "rewrite failed";
    else if (re.len > 4 * static_cast<uint64_t>(n) + 128) problem = "rewrite longer than 3.5 times the text";
    else if (same.len != static_cast<uint64_t>(n) || std::memcmp(same.data, buf, same.len) != 0)
        problem = "empty map changed the text";
    pdfp_buf_free(&re);
    pdfp_buf_free(&same);
    return problem;
}

// A font file written by the subsetter (or the whole-face copy) must open
// again holding glyphs[k] as glyph k: same advance, components renumbered,
// checksums right.
inline std::string check_font_file(const tt_font *f, const std::vector<unsigned char> &file,
                                   const std::vector<uint16_t> &glyphs) {
    tt_font s;
    std::string error;
    if (!tt_open(file.data(), file.size(), 0, "out.ttf", &s, &error)) return "written font does not open: " + error;
    if (tt_checksum(file.data(), file.size()) != 0xB1B0AFBAu) return "written font's checksum adjustment wrong";
    if (s.glyph_count != glyphs.size()) return "written font holds another glyph count";
    std::vector<tt_component> parts, old_parts;
    for (size_t k = 0; k < glyphs.size(); ++k) {
        uint16_t g = static_cast<uint16_t>(k);
        if (tt_advance(&s, g) != tt_advance(f, glyphs[k])) return "written font changed an advance";
        if (!tt_glyph_components(&s, g, &parts, &error) || !tt_glyph_components(f, glyphs[k], &old_parts, &error))
            return "written font's glyph unreadable: " + error;
        if (parts.size() != old_parts.size()) return "written font changed a composite";
        for (size_t p = 0; p < parts.size(); ++p)
            if (glyphs[parts[p].glyph] != old_parts[p].glyph) return "written font renumbered a component wrongly";
    }
    return "";
}

// Font target: byte 0 chooses the face (bits 0-1), glyph ids instead of
// characters (bit 2), a whole-face copy too (bit 3) and characters past
// the BMP (bit 4); bytes 1..8 are four 16-bit characters or glyph ids; the
// rest is the font file. Every refusal must be one of our messages; every
// font written must read back.
inline std::string run_font(const uint8_t *data, size_t size) {
    if (size < 9) return "";
    const uint8_t flags = data[0];
    tt_font f;
    std::string error;
    auto refused = [&error](const char *what) {
        return is_specified_message(error.c_str()) ? std::string() : std::string(what) + " message not specified: " + error;
    };
    if (!tt_open(data + 9, size - 9, flags & 3, "fuzz.ttf", &f, &error)) return refused("open");
    std::u32string chars;
    std::vector<uint16_t> glyphs;
    for (int k = 0; k < 4; ++k) {
        uint32_t v = uint32_t(data[1 + 2 * k]) << 8 | data[2 + 2 * k];
        chars.push_back(v | (flags & 16 ? 0x10000u : 0));
        glyphs.push_back(static_cast<uint16_t>(v % f.glyph_count));
    }
    if (flags & 8) {
        std::vector<unsigned char> whole;
        tt_face_file(&f, &whole);
        tt_font w;
        if (!tt_open(whole.data(), whole.size(), 0, "whole.ttf", &w, &error)) return "whole face does not open: " + error;
        if (w.glyph_count != f.glyph_count || w.cmap_format != f.cmap_format) return "whole face reads otherwise";
    }
    if (flags & 4) {
        if (!tt_glyph_closure(&f, &glyphs, &error)) return refused("closure");
        std::vector<unsigned char> file;
        if (!tt_subset(&f, glyphs, &file, &error)) return refused("subset");
        return check_font_file(&f, file, glyphs);
    }
    cid_font font;
    if (!cid_font_make(&f, chars, &font, &error)) return refused("cid font");
    std::string hex;
    double width = 0;
    if (!cid_font_show(&font, chars, &hex, &width, &error)) return "cid font cannot show its own characters";
    if (hex.size() != 2 + 4 * chars.size() || cid_font_to_unicode(&font).empty()) return "cid font texts wrong";
    if (font.whole) return "";  // the whole face is checked above when asked for
    std::vector<uint16_t> subset_glyphs;
    for (char32_t c : chars) {
        uint16_t g = 0;
        tt_glyph_of(&f, c, &g, &error);
        subset_glyphs.push_back(g);
    }
    if (!tt_glyph_closure(&f, &subset_glyphs, &error)) return "closure fails after the cid font succeeded";
    if (subset_glyphs.size() != font.glyphs.size()) return "cid font holds other glyphs than the closure";
    return check_font_file(&f, font.file, subset_glyphs);
}

// Security target: the first byte gives the length of the first /ID
// element that follows it (0..63; bit 7 set: no /ID), the rest is an
// /Encrypt dictionary. It is read and the empty password tried; an opened
// one must give sound keys, decrypt its own bytes without passing their
// length and encrypt them back and forth, as data and as an object's text
// with strings. The bytes also serve as a stream dictionary and as a
// trailer.
inline std::string run_security(const uint8_t *data, size_t size) {
    if (size < 1 || size > 1u << 16) return "";
    const size_t id_len = std::min<size_t>(data[0] & 63, size - 1);
    const bool has_id = !(data[0] & 0x80);
    // Exact-size copies so that the sanitizer sees every read past either part.
    std::vector<unsigned char> id(data + 1, data + 1 + id_len), text(data + 1 + id_len, data + size);
    const int32_t n = static_cast<int32_t>(text.size());
    pdfp_security sec;
    const int st = pdfp_security_open(text.data(), 0, n, has_id ? id.data() : nullptr, static_cast<int32_t>(id_len), &sec);
    std::string first_id;
    pdfp_trailer_first_id(text.data(), 0, n, &first_id);
    if (st < PDFP_SECURITY_OPEN || st > PDFP_SECURITY_UNSUPPORTED) return "open status " + std::to_string(st);
    if (pdfp_security_read(text.data(), 0, n, &sec) != 0) return st == PDFP_SECURITY_UNSUPPORTED ? "" : "opened unread";
    if (!(sec.key_len >= 5 && sec.key_len <= 16) && sec.key_len != 32) return "key length " + std::to_string(sec.key_len);
    for (int32_t m : {sec.string_method, sec.stream_method, sec.embedded_method})
        if (m < PDFP_CRYPT_IDENTITY || m > PDFP_CRYPT_AESV3) return "method " + std::to_string(m);
    const int32_t method = pdfp_stream_method(&sec, text.data(), 0, n);
    if (method < -1 || method > PDFP_CRYPT_AESV3) return "stream method " + std::to_string(method);
    if (pdfp_security_authenticate(&sec, has_id ? id.data() : nullptr, static_cast<int32_t>(id_len)) != st)
        return "read and open disagree";
    if (st != PDFP_SECURITY_OPEN) return "";
    pdfp_crypt c;
    pdfp_crypt_init(&c, &sec, method < 0 ? sec.string_method : method, n, data[0]);
    std::vector<unsigned char> out(text.size()), enc(pdfp_crypt_encrypted_len(&c, text.size()));
    uint64_t got = 7;
    if (pdfp_crypt_decrypt(&c, text.data(), text.size(), out.data(), &got) == 0 && got > text.size())
        return "decrypted past the input";
    pdfp_crypt_encrypt(&c, 3, text.data(), text.size(), enc.data());
    std::vector<unsigned char> back(enc.size());
    if (pdfp_crypt_decrypt(&c, enc.data(), enc.size(), back.data(), &got) != 0 || got != text.size() ||
        !std::equal(text.begin(), text.end(), back.begin()))
        return "encryption does not read back";
    // The bytes as an object's text: its strings encrypted and decrypted
    // again are its strings rewritten in hexadecimal.
    pdfp_buf sealed{}, plain{}, direct{};
    uint32_t counter = 0;
    std::string problem;
    if (!pdfp_crypt_strings(text.data(), n, nullptr, &c, &counter, &sealed) ||
        !pdfp_crypt_strings(sealed.data, static_cast<int32_t>(sealed.len), &c, nullptr, &counter, &plain) ||
        !pdfp_crypt_strings(text.data(), n, nullptr, nullptr, &counter, &direct))
        problem = "string rewrite failed";
    else if (plain.len != direct.len || std::memcmp(plain.data, direct.data, plain.len) != 0)
        problem = "strings do not read back";
    for (pdfp_buf *b : {&sealed, &plain, &direct}) pdfp_buf_free(b);
    return problem;
}

}  // namespace fuzz

#endif
