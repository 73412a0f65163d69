// The object scan: every "obj" keyword of the file with a header before
// it becomes a table entry, streams have their "stream" keyword found by
// walks that share their work, and then the false entries (headers inside
// stream data, incomplete streams) and the duplicate definitions of a
// number are dropped.
#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>
#include <vector>

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

struct range {
    int32_t start, end;
};

}  // namespace

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
        if (inside(o.hdr_pos)) continue;
        if (o.has_stream && o.endobj_pos < 0 && !o.no_endstream) {
            pdfp_notice(doc, MSG_NOTE_STREAM_IGNORED, o.num);
            continue;
        }
        doc->objs.items[w++] = o;
    }
    doc->objs.count = w;
}

namespace {

// For numbers that the file defines under more than one generation (an
// incremental update that reuses a number writes "4 1 obj" beside the old
// "4 0 obj"), the definition that references name: the last in the file
// whose number and generation some reference "N G R" names; a number whose
// generations no reference names keeps the last definition. Returns the
// chosen entry by number; empty (and nothing read) when every number has
// one generation, as in nearly every file.
std::unordered_map<int32_t, int32_t> referenced_generations(const pdfp_doc *doc, const std::vector<char> &container) {
    const pdfp_objvec *objs = &doc->objs;
    std::unordered_map<int32_t, int32_t> gen_of;  // a file definition's generation, -1 when several
    for (int32_t i = 0; i < objs->count; ++i) {
        const pdfp_obj &o = objs->items[i];
        if (o.in_objstm || container[i]) continue;
        auto [it, fresh] = gen_of.emplace(o.num, o.gen);
        if (!fresh && it->second != o.gen) it->second = -1;
    }
    std::set<std::pair<int32_t, int32_t>> named;
    bool any = false;
    for (const auto &[num, gen] : gen_of) any = any || gen < 0;
    if (!any) return {};
    auto scan = [&](const unsigned char *b, int32_t from, int32_t end) {
        int32_t start, num, after;
        for (int32_t at = from; pdfp_next_ref(b, end, at, true, &start, &num, &after); at = after) {
            auto it = gen_of.find(num);
            if (it == gen_of.end() || it->second >= 0) continue;
            int32_t p = start;
            parse_int_at(b, end, &p);
            named.emplace(num, parse_int_at(b, end, &p));
        }
    };
    for (int32_t i = 0; i < objs->count; ++i) {
        const unsigned char *b;
        int32_t end;
        int32_t from = obj_value_at(doc->data, doc->size, &objs->items[i], &b, &end);
        if (from >= 0) scan(b, from, end);
    }
    for (int32_t t = find_kw(doc->data, doc->size, 0, "trailer"); t >= 0; t = find_kw(doc->data, doc->size, t + 1, "trailer"))
        scan(doc->data, t, std::min(doc->size, t + 4096));
    std::unordered_map<int32_t, int32_t> chosen;
    for (int32_t i = 0; i < objs->count; ++i) {
        const pdfp_obj &o = objs->items[i];
        if (o.in_objstm || container[i] || gen_of[o.num] >= 0) continue;
        auto it = chosen.find(o.num);
        bool wanted = named.count({o.num, o.gen}) > 0;
        if (it == chosen.end() || wanted || !named.count({o.num, objs->items[it->second].gen})) chosen[o.num] = i;
    }
    return chosen;
}

}  // namespace

// One entry per number: the last definition in the file wins (among the
// generations that references name, where there are several), and an
// object-stream definition only counts where the file has none.
void select_definitions(pdfp_doc *doc) {
    pdfp_objvec *objs = &doc->objs;
    int32_t m = 0;
    for (int32_t i = 0; i < objs->count; ++i)
        if (objs->items[i].num <= PDFP_MAX_OBJ_NUM) m = std::max(m, objs->items[i].num);
    std::vector<char> keep(static_cast<size_t>(objs->count), 0);
    std::vector<char> container(static_cast<size_t>(objs->count), 0);
    for (int32_t i = 0; i < objs->count; ++i) {
        int32_t k;
        container[i] = objstm_dict_end(doc, objs->items[i]) >= 0 || nested_objstm(objs->items[i], &k);
    }
    const std::unordered_map<int32_t, int32_t> chosen = referenced_generations(doc, container);
    if (numbers_dense(m, objs->count)) {
        std::vector<int32_t> last_file(static_cast<size_t>(m) + 1, -1), last_stm(static_cast<size_t>(m) + 1, -1);
        for (int32_t i = 0; i < objs->count; ++i) {
            const pdfp_obj &o = objs->items[i];
            if (o.num > PDFP_MAX_OBJ_NUM || container[i]) continue;
            (o.in_objstm ? last_stm : last_file)[o.num] = i;
        }
        for (const auto &[num, i] : chosen) last_file[num] = i;
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
            auto pick = chosen.find(objs->items[order[a]].num);
            int32_t winner = pick != chosen.end() ? pick->second : lf >= 0 ? lf : ls;
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
