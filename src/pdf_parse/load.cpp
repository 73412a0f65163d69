// Loading a PDF file into the object table by scanning it for object
// headers, then settling streams, dropping false and duplicate entries,
// locating the catalog and building the page list.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "load_steps.h"
#include "messages.h"

namespace {

// Reads "NUM GEN" backwards from the "obj" keyword at k. False when there
// is no valid header there.
bool header_before(const unsigned char *data, int32_t k, int32_t *num, int32_t *gen, int32_t *hdr) {
    int32_t p = k - 1;
    while (p >= 0 && is_wide_ws(data[p])) --p;
    if (p < 0 || !is_digit(data[p])) return false;
    int32_t gen_end = p + 1;
    while (p >= 0 && is_digit(data[p])) --p;
    int32_t gen_start = p + 1;
    while (p >= 0 && is_wide_ws(data[p])) --p;
    if (p < 0 || !is_digit(data[p])) return false;
    int32_t num_end = p + 1;
    while (p >= 0 && is_digit(data[p])) --p;
    int32_t num_start = p + 1;
    if (num_start > 0 && is_word(data[num_start - 1])) return false;
    uint32_t n = 0, g = 0;  // wrap modulo 2^32, then range-checked
    for (int32_t i = num_start; i < num_end; ++i) n = n * 10u + static_cast<uint32_t>(data[i] - '0');
    for (int32_t i = gen_start; i < gen_end; ++i) g = g * 10u + static_cast<uint32_t>(data[i] - '0');
    if (static_cast<int32_t>(n) <= 0) return false;
    *num = static_cast<int32_t>(n);
    *gen = static_cast<int32_t>(g);
    *hdr = num_start;
    return true;
}

pdfp_obj blank_entry() {
    pdfp_obj o{};
    o.hdr_pos = o.dict_pos = o.stream_pos = o.data_start = o.data_end = -1;
    o.endobj_pos = o.obj_end = o.data_len = -1;
    return o;
}

// Data ranges of streams whose direct /Length is confirmed by "endstream"
// at its end: their extent cannot change, so a header inside one is false.
struct confirmed_ranges {
    std::vector<std::pair<int32_t, int32_t>> r;  // in order of start
    size_t head = 0;
    bool covers(int32_t pos) {
        while (head < r.size() && r[head].second <= pos) ++head;
        for (size_t i = head; i < r.size() && r[i].first <= pos; ++i)
            if (pos < r[i].second) return true;
        return false;
    }
};

// The data end that a direct /Length gives when "endstream" confirms it, or -1.
int32_t confirmed_end(const unsigned char *data, int32_t size, const pdfp_obj &o) {
    int32_t direct, indirect;
    parse_length(data, size, o.dict_pos, o.stream_pos, &direct, &indirect);
    if (direct <= 0) return -1;
    int64_t e = static_cast<int64_t>(o.data_start) + direct;
    return endstream_at(data, size, e) ? static_cast<int32_t>(e) : -1;
}

// Offset of the "stream" keyword after the ">>" at m, or -1.
int32_t stream_after(const unsigned char *data, int32_t size, int32_t m, int64_t *budget) {
    int32_t p = skip_ws(data, m + 2, size);
    *budget -= p - m;
    return kw_at(data, p, size, "stream") ? p : -1;
}

// Skips the literal string at pos as dict_stream_kw does, charging the
// bytes walked; -1 when it runs to the end.
int32_t skip_string(const unsigned char *data, int32_t size, int32_t pos, int64_t *budget) {
    int32_t e = skip_literal(data, pos, size);
    *budget -= (e < 0 ? size : e) - pos - 1;
    return e;
}

constexpr int32_t CLOSER_UNKNOWN = -2, CLOSER_NEVER = -1;

// One dict_stream_kw walk from starts[s]. Every "<<" it opens at another
// start records that start's ">>" in closer; a later walk that meets a start
// whose closer is known jumps over it, since from that byte on both walks
// read the same tokens (only at a depth of 0 or more: below 0 the shorter
// walk might have ended inside). -1 also when the budget runs out.
int32_t shared_walk(const unsigned char *data, int32_t size, const std::vector<int32_t> &starts,
                    std::vector<int32_t> &closer, size_t s, int64_t *budget) {
    std::vector<int32_t> open;  // this walk's open "<<": slot in starts or -1
    int32_t depth = 0;
    size_t next = s;
    for (int32_t i = starts[s]; i < size;) {
        if (--*budget < 0) return -1;
        unsigned char c = data[i];
        if (c == '(') {
            i = skip_string(data, size, i, budget);
            if (i < 0) break;
            continue;
        }
        if (c != '<' && c != '>') {
            ++i;
            continue;
        }
        if (i + 1 >= size) break;
        if (data[i + 1] != c) {
            ++i;
            continue;
        }
        if (c == '<') {
            while (next < starts.size() && starts[next] < i) ++next;
            int32_t slot = next < starts.size() && starts[next] == i ? static_cast<int32_t>(next) : -1;
            if (slot >= 0 && closer[slot] != CLOSER_UNKNOWN && depth >= 0) {
                if (closer[slot] == CLOSER_NEVER) break;
                if (depth == 0) return stream_after(data, size, closer[slot], budget);
                i = closer[slot] + 2;
                continue;
            }
            open.push_back(slot);
            ++depth;
            i += 2;
            continue;
        }
        if (!open.empty()) {
            if (open.back() >= 0) closer[open.back()] = i;
            open.pop_back();
        }
        if (--depth == 0) return stream_after(data, size, i, budget);
        i += 2;
    }
    // The end of the bytes: no dictionary still open here ever closes.
    for (int32_t slot : open)
        if (slot >= 0) closer[slot] = CLOSER_NEVER;
    return -1;
}

}  // namespace

// dict_stream_kw for every dictionary start (ascending) of the object scan.
// Hostile files make these walks overlap: each of thousands of unclosed
// "1 0 obj <<" would walk to the end of the file. Walks share the ends of
// the starts they pass, and a budget of bytes walked bounds what sharing
// does not catch (walks beginning inside one another's strings); past it
// the remaining starts count as dictionaries without a stream.
std::vector<int32_t> stream_keywords(const unsigned char *data, int32_t size,
                                     const std::vector<int32_t> &starts, int64_t budget) {
    std::vector<int32_t> closer(starts.size(), CLOSER_UNKNOWN), kw(starts.size(), -1);
    for (size_t s = 0; s < starts.size(); ++s) kw[s] = shared_walk(data, size, starts, closer, s, &budget);
    return kw;
}

namespace {

// An object header of the file: its "obj" keyword at kw, the number,
// generation and first digit read backwards, and where its value begins.
struct object_header {
    int32_t kw, num, gen, hdr, value;
};

// Every "obj" keyword of the file that has a header before it, in file order.
std::vector<object_header> object_headers(const unsigned char *data, int32_t size) {
    std::vector<object_header> found;
    for (int32_t k = 0; k <= size - 4; ++k) {
        const void *hit = std::memchr(data + k, 'o', static_cast<size_t>(size - 3 - k));
        if (!hit) break;
        k = static_cast<int32_t>(static_cast<const unsigned char *>(hit) - data);
        object_header h{k, 0, 0, 0, 0};
        if (!kw_at(data, k, size, "obj") || !header_before(data, k, &h.num, &h.gen, &h.hdr)) continue;
        h.value = skip_ws(data, kw_end(k, "obj"), size);
        found.push_back(h);
    }
    return found;
}

bool opens_dictionary(const unsigned char *data, int32_t size, const object_header &h) {
    return h.value < size && data[h.value] == '<';
}

// Offsets of the "<" that opens a header's value, for every header whose
// value is one, ascending.
std::vector<int32_t> dictionary_starts(const unsigned char *data, int32_t size,
                                       const std::vector<object_header> &headers) {
    std::vector<int32_t> starts;
    for (const object_header &h : headers)
        if (opens_dictionary(data, size, h)) starts.push_back(h.value);
    return starts;
}

// Every "obj" keyword of the file, in file order. Headers inside stream data
// are found too: those inside a confirmed range only matter as holders of an
// indirect /Length, so they are kept compactly in sources; the others enter
// the table and are dropped later.
void scan_objects(pdfp_doc *doc, std::vector<length_source> *sources, kw_positions *endobj) {
    const unsigned char *data = doc->data;
    const int32_t size = doc->size;
    confirmed_ranges confirmed;
    const std::vector<object_header> headers = object_headers(data, size);
    const std::vector<int32_t> starts = dictionary_starts(data, size, headers);
    const std::vector<int32_t> stream_kw = stream_keywords(data, size, starts, dict_walk_budget(size));
    size_t next_start = 0;
    for (const object_header &h : headers) {
        pdfp_obj o = blank_entry();
        o.num = h.num;
        o.gen = h.gen;
        o.hdr_pos = h.hdr;
        int32_t from = kw_end(h.kw, "obj");
        if (opens_dictionary(data, size, h)) {
            o.dict_pos = h.value;
            int32_t s = stream_kw[next_start++];
            if (s >= 0) {
                o.stream_pos = s;
                o.has_stream = 1;
                o.data_start = stream_data_start(data, size, s);
                if (objvec_push(&doc->objs, &o)) sources->push_back({o.num, o.hdr_pos, 1});
                int32_t e = confirmed_end(data, size, o);
                if (e > o.data_start) confirmed.r.push_back({o.data_start, e});
                continue;
            }
            from = h.value;
        }
        o.endobj_pos = endobj->first_from(data, size, from);
        if (o.endobj_pos < 0) continue;
        o.obj_end = kw_end(o.endobj_pos, "endobj");
        if (confirmed.covers(o.hdr_pos) || objvec_push(&doc->objs, &o)) sources->push_back({o.num, o.hdr_pos, 0});
    }
    std::sort(sources->begin(), sources->end(), [](const length_source &a, const length_source &b) {
        return a.num != b.num ? a.num < b.num : a.hdr_pos < b.hdr_pos;
    });
}

struct range {
    int32_t start, end;
};

// Drops incomplete streams and headers that lie inside some stream's data.
void remove_false_entries(pdfp_doc *doc) {
    std::vector<range> ranges;
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj &o = doc->objs.items[i];
        if (o.has_stream && o.data_start >= 0 && o.data_start < o.data_end)
            ranges.push_back({o.data_start, o.data_end});
    }
    std::sort(ranges.begin(), ranges.end(), [](const range &a, const range &b) { return a.start < b.start; });
    std::vector<int32_t> max_end(ranges.size());
    int32_t m = -1;
    for (size_t i = 0; i < ranges.size(); ++i) max_end[i] = m = std::max(m, ranges[i].end);
    auto inside = [&](int32_t off) {
        auto it = std::upper_bound(ranges.begin(), ranges.end(), off,
                                   [](int32_t v, const range &r) { return v < r.start; });
        if (it == ranges.begin()) return false;
        return off < max_end[static_cast<size_t>(it - ranges.begin()) - 1];
    };
    int32_t w = 0;
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj &o = doc->objs.items[i];
        if (o.has_stream && o.endobj_pos < 0) continue;
        if (inside(o.hdr_pos)) continue;
        doc->objs.items[w++] = o;
    }
    doc->objs.count = w;
}

// One entry per number: the last definition in the file wins, and an
// object-stream definition only counts where the file has none.
void select_definitions(pdfp_doc *doc) {
    pdfp_objvec *objs = &doc->objs;
    int32_t m = 0;
    for (int32_t i = 0; i < objs->count; ++i)
        if (objs->items[i].num <= PDFP_MAX_OBJ_NUM) m = std::max(m, objs->items[i].num);
    std::vector<char> keep(static_cast<size_t>(objs->count), 0);
    std::vector<char> container(static_cast<size_t>(objs->count), 0);
    for (int32_t i = 0; i < objs->count; ++i) container[i] = objstm_dict_end(doc, objs->items[i]) >= 0;
    if (numbers_dense(m, objs->count)) {
        std::vector<int32_t> last_file(static_cast<size_t>(m) + 1, -1), last_stm(static_cast<size_t>(m) + 1, -1);
        for (int32_t i = 0; i < objs->count; ++i) {
            const pdfp_obj &o = objs->items[i];
            if (o.num > PDFP_MAX_OBJ_NUM || container[i]) continue;
            (o.in_objstm ? last_stm : last_file)[o.num] = i;
        }
        for (int32_t i = 0; i < objs->count; ++i) {
            const pdfp_obj &o = objs->items[i];
            if (o.num > PDFP_MAX_OBJ_NUM || container[i]) continue;
            keep[i] = o.in_objstm ? (last_file[o.num] < 0 && last_stm[o.num] == i) : last_file[o.num] == i;
        }
    } else {
        // Sparse numbers: the same rules over entries sorted by number.
        std::vector<int32_t> order;
        for (int32_t i = 0; i < objs->count; ++i)
            if (objs->items[i].num <= PDFP_MAX_OBJ_NUM && !container[i]) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [objs](int32_t a, int32_t b) { return objs->items[a].num < objs->items[b].num; });
        for (size_t a = 0; a < order.size();) {
            size_t b = a;
            int32_t lf = -1, ls = -1;
            for (; b < order.size() && objs->items[order[b]].num == objs->items[order[a]].num; ++b)
                (objs->items[order[b]].in_objstm ? ls : lf) = order[b];
            int32_t winner = lf >= 0 ? lf : ls;
            if (winner >= 0) keep[static_cast<size_t>(winner)] = 1;
            a = b;
        }
    }
    int32_t w = 0;
    doc->max_num = 0;
    // File entries precede object-stream entries in the table already.
    for (int32_t i = 0; i < objs->count; ++i) {
        if (!keep[i]) continue;
        objs->items[w++] = objs->items[i];
        doc->max_num = std::max(doc->max_num, objs->items[w - 1].num);
    }
    objs->count = w;
}

// The first object that mentions /Catalog, else 1.
int32_t searched_catalog(const pdfp_doc *doc) {
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj &o = doc->objs.items[i];
        if (o.in_objstm) {
            if (o.text_len > 7 && find_name(o.text, o.text_len, 0, o.text_len, "Catalog") >= 0) return o.num;
        } else if (o.dict_pos >= 0) {
            int32_t end = o.endobj_pos > 0 ? o.endobj_pos : doc->size;
            if (find_name(doc->data, doc->size, o.dict_pos, end, "Catalog") >= 0) return o.num;
        }
    }
    return 1;
}

// The page-tree root that the catalog names, or -1 when it names none that
// is a page or a Pages node.
int32_t find_tree_root(const pdfp_doc *doc, int32_t catalog) {
    const pdfp_obj *c = pdfp_obj_find(&doc->objs, catalog);
    if (!c) return -1;
    int t = obj_type(doc->data, doc->size, c);
    if (t == OBJ_PAGE || t == OBJ_PAGES) return catalog;  // the catalog is itself the tree
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(doc->data, doc->size, c, &buf, &end);
    if (start < 0) return -1;
    int32_t root = int_after_key(buf, start, end, end, "Pages", [](int32_t v) { return v > 0; });
    const pdfp_obj *r = root > 0 ? pdfp_obj_find(&doc->objs, root) : nullptr;
    if (!r || tree_node_kind(doc->data, doc->size, r, false) == OBJ_OTHER) return -1;
    return root;
}

// The /Count of a Pages node, or -1.
int32_t pages_count(const pdfp_doc *doc, const pdfp_obj &o) {
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(doc->data, doc->size, &o, &buf, &end);
    int32_t k = start < 0 ? -1 : find_name_top(buf, end, start, end, "Count");
    if (k < 0) return -1;
    int32_t p = skip_ws(buf, name_end(k, "Count"), end);
    return parse_int_at(buf, end, &p);
}

// The root of the page tree found without a catalog: a /Type /Pages node
// that no /Kids array lists. Where several are (a subtree cut off by an
// update), the one whose /Count says the most pages, the first of equals.
// Objects without "endobj" of their own overlap, so the bytes read are
// bounded as the object scan's are; past that bound none is found.
int32_t unlisted_pages_node(const pdfp_doc *doc) {
    std::vector<char> listed(static_cast<size_t>(doc->max_num) + 1, 0);
    std::vector<const pdfp_obj *> nodes;
    int64_t budget = dict_walk_budget(doc->size);
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj *o = &doc->objs.items[i];
        const unsigned char *buf;
        int32_t end;
        int32_t start = obj_text_region(doc->data, doc->size, o, &buf, &end);
        if (start < 0) continue;
        // Each region is read about three times here.
        if ((budget -= 3 * static_cast<int64_t>(end - start)) < 0) return -1;
        if (obj_type(doc->data, doc->size, o) == OBJ_PAGES) nodes.push_back(o);
        std::vector<int32_t> kids;
        node_kids(doc->data, doc->size, o, &kids);
        for (int32_t v : kids)
            if (v <= doc->max_num) listed[static_cast<size_t>(v)] = 1;
    }
    int32_t best = -1, best_count = -2;
    for (const pdfp_obj *o : nodes) {
        if (listed[static_cast<size_t>(o->num)]) continue;
        int32_t count = pages_count(doc, *o);
        if (count > best_count) {
            best = o->num;
            best_count = count;
        }
    }
    return best;
}

// The root of the page tree, or -1: through the trailer's /Root when that
// leads to one, else through the first object that mentions /Catalog (or
// object 1), else the tree found directly. A damaged or missing catalog
// should not lose a document whose pages are all there.
int32_t locate_tree_root(pdfp_doc *doc) {
    if (doc->root >= 0 && pdfp_obj_find(&doc->objs, doc->root)) {
        doc->catalog = doc->root;
        int32_t r = find_tree_root(doc, doc->catalog);
        if (r > 0) return r;
    }
    doc->catalog = searched_catalog(doc);
    int32_t r = find_tree_root(doc, doc->catalog);
    return r > 0 ? r : unlisted_pages_node(doc);
}

int fail(pdfp_doc *doc, pdfp_report_fn report, const char *msg, const char *path) {
    pdfp_doc_free(doc);
    report(msg, path);
    return -1;
}

// Steps after the file image is in place.
int load_image(pdfp_doc *doc, const char *path, pdfp_report_fn report) {
    read_trailer_chain(doc);
    {
        std::vector<length_source> sources;
        kw_positions endobj{"endobj", {}, false};
        scan_objects(doc, &sources, &endobj);
        settle_stream_extents(doc, sources, &endobj);
    }
    remove_false_entries(doc);
    read_xref_stream_trailers(doc);
    load_objstms(doc);
    select_definitions(doc);
    if (doc->objs.count == 0) return fail(doc, report, MSG_NOT_A_PDF, path);
    if (doc->encrypted) return fail(doc, report, MSG_ENCRYPTED, path);
    objvec_build_index(&doc->objs);
    int32_t root = locate_tree_root(doc);
    if (root < 0) return fail(doc, report, MSG_NO_PAGE_TREE, path);
    std::vector<unsigned char> visited(static_cast<size_t>(doc->max_num) + 1, 0);
    int32_t r = resolve_pages(doc->data, doc->size, &doc->objs, root, doc->max_num, &doc->pages,
                              visited.data(), 0);
    if (r == WALK_INLINE_KIDS) return fail(doc, report, MSG_INLINE_KIDS, path);
    if (r < 0) return fail(doc, report, MSG_BROKEN_TREE, path);
    if (doc->pages.count < 1) return fail(doc, report, MSG_NO_PAGES, path);
    return 0;
}

void clear_doc(pdfp_doc *doc) {
    std::memset(doc, 0, sizeof *doc);
    doc->root = -1;
    doc->catalog = -1;
    doc->info = -1;
}

int64_t file_size(FILE *f) {
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    int64_t n = _ftelli64(f);
    if (_fseeki64(f, 0, SEEK_SET) != 0) return -1;
#else
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    int64_t n = ftello(f);
    if (fseeko(f, 0, SEEK_SET) != 0) return -1;
#endif
    return n;
}

// Opens path for reading when it names a regular file, else null. Nothing
// is read from anything else, and nothing waits: a FIFO is opened without
// waiting for a writer and then refused, a device or directory likewise.
FILE *open_regular(const char *path) {
#if defined(_WIN32)
    FILE *f = std::fopen(path, "rb");
    struct _stat64 st;
    if (f && (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
#else
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
#endif
}

}  // namespace

int pdfp_doc_load(const char *path, pdfp_doc *doc, pdfp_report_fn report) {
    clear_doc(doc);
    if (!path) {
        report(MSG_NULL_PATH);
        return -1;
    }
    FILE *f = open_regular(path);
    if (!f) {
        report(MSG_CANNOT_OPEN, path);
        return -1;
    }
    int64_t n = file_size(f);
    if (n < 1) {
        std::fclose(f);
        report(MSG_EMPTY_INPUT, path);
        return -1;
    }
    if (n > MAX_FILE_BYTES) {
        std::fclose(f);
        report(MSG_INPUT_TOO_LARGE, path);
        return -1;
    }
    doc->data = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    if (doc->data && static_cast<uint64_t>(n) >= PDFP_BUF_BIG) pdfp_advise_big_pages(doc->data, static_cast<uint64_t>(n));
    size_t got = doc->data ? std::fread(doc->data, 1, static_cast<size_t>(n), f) : 0;
    std::fclose(f);
    if (got != static_cast<size_t>(n)) {
        std::free(doc->data);
        doc->data = nullptr;
        report(MSG_READ_ERROR, path);
        return -1;
    }
    doc->size = static_cast<int32_t>(n);
    return load_image(doc, path, report);
}

int pdfp_doc_load_mem(const unsigned char *bytes, size_t size, const char *name, pdfp_doc *doc,
                      pdfp_report_fn report) {
    clear_doc(doc);
    if (size < 1) {
        report(MSG_EMPTY_INPUT, name);
        return -1;
    }
    if (size > static_cast<size_t>(MAX_FILE_BYTES)) {
        report(MSG_INPUT_TOO_LARGE, name);
        return -1;
    }
    doc->data = static_cast<unsigned char *>(std::malloc(size));
    if (!doc->data) {
        report(MSG_READ_ERROR, name);
        return -1;
    }
    std::memcpy(doc->data, bytes, size);
    doc->size = static_cast<int32_t>(size);
    return load_image(doc, name, report);
}

void pdfp_doc_free(pdfp_doc *doc) {
    std::free(doc->data);
    for (int32_t i = 0; i < doc->arena.count; ++i) std::free(doc->arena.blocks[i]);
    std::free(doc->arena.blocks);
    std::free(doc->objs.items);
    std::free(doc->objs.index);
    std::free(doc->pages.items);
    std::memset(doc, 0, sizeof *doc);
}
