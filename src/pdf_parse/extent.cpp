// Where each stream's data begins and ends: a correct /Length is taken at
// once, an indirect one from the object it names, and a wrong or missing
// one falls back to a search for "endstream".
#include <algorithm>
#include <cstring>

#include "load_steps.h"
#include "messages.h"

int32_t stream_data_start(const unsigned char *data, int32_t size, int32_t k) {
    int32_t p = kw_end(k, "stream");
    if (p >= size) return p;
    int32_t q = p;
    while (q < size && (data[q] == ' ' || data[q] == '\t')) ++q;
    int32_t e = (q < size && (data[q] == '\r' || data[q] == '\n')) ? q : p;
    // One line end is consumed; without one, exactly the byte after the keyword.
    if (data[e] == '\r' && e + 1 < size && data[e + 1] == '\n') return e + 2;
    return e + 1;
}

void parse_length(const unsigned char *text, int32_t text_len, int32_t from, int32_t to,
                  int32_t *direct, int32_t *indirect) {
    *direct = -1;
    *indirect = -1;
    if (to > text_len) to = text_len;
    for (int32_t n = find_name(text, text_len, from, to, "Length"); n >= 0;
         n = find_name(text, text_len, n + 1, to, "Length")) {
        // The byte right after the name is passed over unseen.
        int32_t p = name_end(n, "Length") + 1;
        if (p >= to) return;
        p = skip_ws(text, p, to);
        if (p >= to) return;
        unsigned char c = text[p];
        if (c < 33) continue;
        if (c == '[') {
            int32_t last = -1;
            int32_t q = p + 1;
            while (q < to && text[q] != ']') {
                int32_t r = q;
                int32_t v = parse_int_at(text, to, &r);
                if (r == q) {
                    ++q;
                    continue;
                }
                if (v >= 0) last = v;
                q = r;
            }
            if (last >= 0) {
                *direct = last;
                return;
            }
            continue;
        }
        if (!is_digit(c) && c != '-') continue;
        int32_t q = p;
        int32_t v = parse_int_at(text, to, &q);
        if (v < 0) continue;
        int32_t r = skip_ws(text, q, to);
        if (r < to && is_digit(text[r])) {
            int32_t g = r;
            parse_int_at(text, to, &g);
            r = skip_ws(text, g, to);
            if (r < to && text[r] == 'R' && (r + 1 >= to || !is_word(text[r + 1]))) {
                *indirect = v;
                return;
            }
        }
        *direct = v;
        return;
    }
}

int32_t indirect_int_value(const unsigned char *data, int32_t size, int32_t hdr) {
    int32_t p = obj_value_start(data, size, hdr);
    return p < 0 ? -1 : parse_int_at(data, size, &p);
}

bool endstream_at(const unsigned char *data, int32_t size, int64_t at) {
    if (at >= size) return false;
    int32_t p = static_cast<int32_t>(at);
    while (p < size && is_wide_ws(data[p])) ++p;
    return p + 9 <= size && std::memcmp(data + p, "endstream", 9) == 0;
}

int32_t end_before_endstream(const unsigned char *data, int32_t data_start, int32_t k) {
    if (k - 2 >= data_start && data[k - 2] == '\r' && data[k - 1] == '\n') return k - 2;
    if (k - 1 >= 0 && (data[k - 1] == '\n' || data[k - 1] == '\r')) return k - 1;
    return k;
}

// Sets data_end, no_endstream, data_len, endobj_pos and obj_end for a
// stream entry whose length is L. A /Length that "endstream" confirms is
// taken; without one (L < 0, or a wrong L) the data runs up to the first
// "endstream", as viewers take it. When an "endobj" comes first, that
// keyword belongs to a later stream, and taking it would swallow the
// objects between, so the entry is left unresolved. With neither keyword
// after it, the data runs to the end of the file, less a final line end.
static void settle_extent(const unsigned char *data, int32_t size, pdfp_obj *o, int32_t L,
                          kw_positions *endstream, kw_positions *endobj) {
    int32_t end = -1;
    if (L >= 0) {
        int64_t E = static_cast<int64_t>(o->data_start) + L;
        if (endstream_at(data, size, E)) end = static_cast<int32_t>(E);
    }
    if (end < 0) {
        int32_t k = endstream->first_from(data, size, o->data_start);
        int32_t e = endobj->first_from(data, size, o->data_start);
        if (e >= 0 && (k < 0 || e < k)) return;
        if (k >= 0) {
            end = end_before_endstream(data, o->data_start, k);
        } else {
            end = end_before_endstream(data, o->data_start, size);
            o->no_endstream = 1;
        }
    }
    if (end < o->data_start) end = o->data_start;
    o->data_end = end;
    o->data_len = end - o->data_start;
    o->endobj_pos = endobj->first_from(data, size, end);
    if (o->endobj_pos >= 0) o->obj_end = kw_end(o->endobj_pos, "endobj");
}

int32_t kw_positions::first_from(const unsigned char *data, int32_t size, int32_t start) {
    if (!built) {
        for (int32_t k = find_kw(data, size, 0, kw); k >= 0; k = find_kw(data, size, k + 1, kw)) at.push_back(k);
        built = true;
    }
    auto it = std::lower_bound(at.begin(), at.end(), start);
    return it == at.end() ? -1 : *it;
}

void settle_stream_extents(pdfp_doc *doc, const std::vector<length_source> &sources, kw_positions *endobj) {
    kw_positions endstream{"endstream", {}, false};
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        pdfp_obj *o = &doc->objs.items[i];
        if (!o->has_stream) continue;
        int32_t direct, indirect;
        parse_length(doc->data, doc->size, o->dict_pos, o->stream_pos, &direct, &indirect);
        int32_t L = direct;
        if (L < 0 && indirect >= 0) {
            // Only objects found by the file scan can hold a length here.
            auto it = std::lower_bound(sources.begin(), sources.end(), indirect,
                                       [](const length_source &s, int32_t n) { return s.num < n; });
            if (it != sources.end() && it->num == indirect && !it->is_stream)
                L = indirect_int_value(doc->data, doc->size, it->hdr_pos);
        }
        settle_extent(doc->data, doc->size, o, L, &endstream, endobj);
    }
}

int32_t pdfp_stream_stated_length(const pdfp_doc *doc, const pdfp_obj *obj) {
    if (!obj || !obj->has_stream || obj->in_objstm || obj->dict_pos < 0) return -1;
    int32_t direct, indirect;
    parse_length(doc->data, doc->size, obj->dict_pos, obj->stream_pos, &direct, &indirect);
    if (direct >= 0 || indirect <= 0) return direct;
    const pdfp_obj *holder = pdfp_obj_find(&doc->objs, indirect);
    if (!holder || holder->has_stream) return -1;
    if (holder->in_objstm) {
        int32_t q = 0;
        return holder->text ? parse_int_at(holder->text, holder->text_len, &q) : -1;
    }
    return indirect_int_value(doc->data, doc->size, holder->hdr_pos);
}

void notice_stream_extents(const pdfp_doc *doc) {
    if (!doc->notices) return;
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj *o = &doc->objs.items[i];
        if (!o->has_stream || o->in_objstm) continue;
        if (o->no_endstream)
            pdfp_notice(doc, MSG_NOTE_NO_ENDSTREAM, o->num);
        else if (pdfp_stream_stated_length(doc, o) != o->data_len)
            pdfp_notice(doc, MSG_NOTE_LENGTH_RECOVERED, o->num, o->data_len);
    }
}
