// Writing the copies and every text rewritten through the copy table,
// with what moves on turned and shifted pages mapped on the way.
#include "copy_write.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "frame_map.h"

namespace {

// Writes [p, p + n) through the table; the references in [ts, te) that
// have a copy for the turn name that copy.
void remap_split(const copy_table *t, const unsigned char *p, int64_t n, int32_t ts, int32_t te, int turn,
                 out_buf *o) {
    int32_t copied = 0, at = ts, start, num;
    while (pdfp_next_ref(p, te, at, true, &start, &num, &at)) {
        auto it = t->framed.turned_out.find(turned_key(num, turn));
        if (it == t->framed.turned_out.end()) continue;
        copy_remap(t, p + copied, start - copied, o);
        out_ref(o, it->second);
        copied = at;
    }
    copy_remap(t, p + copied, n - copied, o);
}

// Writes an annotation's text with map m: coordinates mapped, appearances
// named by their copies for the page's turn.
void write_annot(const copy_table *t, const frame_map *m, const unsigned char *p, int64_t n, out_buf *o) {
    std::string mapped;
    if (frame_map_annot(*m, p, static_cast<int32_t>(n), &mapped)) {
        p = reinterpret_cast<const unsigned char *>(mapped.data());
        n = static_cast<int64_t>(mapped.size());
    }
    int32_t as, ae;
    if (annot_turned_appearances(m, p, n, &as, &ae))
        remap_split(t, p, n, as, ae, m->turn, o);
    else
        copy_remap(t, p, n, o);
}

// Writes entry k's text [p, p + n) mapped and rewritten when the entry is
// an annotation of a moved page or a turned appearance; false (nothing
// written) for any other entry.
bool write_framed_entry(const pdfp_doc *doc, const copy_table *t, size_t k, const unsigned char *p, int64_t n,
                        out_buf *o) {
    if (t->framed.frames.maps.empty()) return false;
    std::string mapped;
    if (int turn = copy_turn_of(t, k)) {
        if (copies_stream(pdfp_obj_find(&doc->objs, t->nums[k]))) {
            // The form: its matrix takes the turn.
            if (frame_map_matrix(turn, p, static_cast<int32_t>(n), &mapped))
                copy_remap(t, reinterpret_cast<const unsigned char *>(mapped.data()),
                           static_cast<int64_t>(mapped.size()), o);
            else
                copy_remap(t, p, n, o);
        } else {
            remap_split(t, p, n, 0, static_cast<int32_t>(n), turn, o);
        }
        return true;
    }
    const frame_map *m = copy_annot_map(t, k);
    if (!m) return false;
    write_annot(t, m, p, n, o);
    return true;
}

// A moved page's /Annots value [vs, ve) of b, written with its inline
// annotations mapped; false (nothing written) when the page does not move.
bool write_moved_annots(const copy_table *t, int32_t page, const unsigned char *b, int32_t vs, int32_t ve,
                        out_buf *o) {
    const frame_map *m = page_frames_find(t->framed.frames, page);
    if (!m) return false;
    int32_t copied = vs;
    for (const auto &[s, e] : inline_annots(b, vs, ve)) {
        copy_remap(t, b + copied, s - copied, o);
        write_annot(t, m, b + s, e - s, o);
        copied = e;
    }
    copy_remap(t, b + copied, ve - copied, o);
    return true;
}

// Entry k, when it is a form turned for a page, as a small form that draws
// its plain copy turned: false when it is none or cannot be.
bool turned_form_wrapper(const pdfp_doc *doc, const copy_table *t, size_t k, const copy_source &s, std::string *w) {
    int turn = t->framed.frames.maps.empty() ? 0 : copy_turn_of(t, k);
    int32_t num = t->nums[k];
    if (turn == 0 || !copies_stream(pdfp_obj_find(&doc->objs, num))) return false;
    int32_t inner = static_cast<size_t>(num) < t->new_by_old.size() ? t->new_by_old[static_cast<size_t>(num)] : 0;
    return inner >= t->first_out && frame_map_wrapper(turn, s.p, static_cast<int32_t>(s.n), inner, w);
}

// Writes [p, p + n) through the table with the edits (their texts as they stand).
void write_edited(const copy_table *t, const unsigned char *p, int64_t n, std::vector<struct_edit> &edits,
                  out_buf *o) {
    std::sort(edits.begin(), edits.end(), [](const struct_edit &x, const struct_edit &y) { return x.start < y.start; });
    int32_t copied = 0;
    for (const struct_edit &e : edits) {
        copy_remap(t, p + copied, e.start - copied, o);
        out_str(o, e.text);
        copied = e.end;
    }
    copy_remap(t, p + copied, n - copied, o);
}

// Entry k's text: mapped when it belongs to a moved page, its marked
// content given the page forms when it is structure, else as it stands.
void copy_entry_text(const pdfp_doc *doc, const copy_table *t, size_t k, const copy_source &s, out_buf *o) {
    if (write_framed_entry(doc, t, k, s.p, s.n, o)) return;
    if (!t->structure.page_of.empty()) {
        std::vector<struct_edit> edits = structure_edits(&t->structure, t->nums[k], s.p, s.n, t->form_of);
        if (!edits.empty()) {
            write_edited(t, s.p, s.n, edits, o);
            return;
        }
    }
    copy_remap(t, s.p, s.n, o);
}

// A copied stream's dictionary s as it is written: with the length of its
// data where the /Length it states is wrong or missing (the extent was
// recovered), and with a null /Filter and /DecodeParms when it has no data,
// since no bytes are no valid encoding. s itself when nothing changes; else
// the text is kept in *hold.
copy_source stream_dict_written(const pdfp_doc *doc, const pdfp_obj *obj, const copy_source &s, std::string *hold) {
    const int32_t data_len = obj->data_end - obj->data_start;
    const int32_t from = obj->dict_pos, to = obj->stream_pos;
    // Edits as (start, end, replacement) of the file's bytes, applied from the back.
    std::vector<std::tuple<int32_t, int32_t, std::string>> edits;
    int32_t vs, ve;
    if (pdfp_stream_stated_length(doc, obj) != data_len) {
        std::string n = std::to_string(data_len);
        if (dict_value(doc->data, from, to, "Length", &vs, &ve))
            edits.emplace_back(vs, ve, n);
        else
            edits.emplace_back(from + 2, from + 2, " /Length " + n);  // after the "<<"
    }
    if (data_len == 0)
        for (const char *key : {"Filter", "DecodeParms"})
            if (dict_value(doc->data, from, to, key, &vs, &ve)) edits.emplace_back(vs, ve, "null");
    if (edits.empty()) return s;
    std::sort(edits.begin(), edits.end());
    hold->assign(reinterpret_cast<const char *>(s.p), static_cast<size_t>(s.n));
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        hold->replace(static_cast<size_t>(std::get<0>(*it) - from), static_cast<size_t>(std::get<1>(*it) - std::get<0>(*it)),
                      std::get<2>(*it));
    return copy_source{reinterpret_cast<const unsigned char *>(hold->data()), static_cast<int64_t>(hold->size())};
}

}  // namespace

void copy_remap(const copy_table *t, const unsigned char *p, int64_t n, out_buf *o) {
    if (o->failed) return;
    std::string mapped;  // destinations that name a moved page, in its new frame
    if (frame_map_dests(t->framed.frames, p, static_cast<int32_t>(n), &mapped)) {
        p = reinterpret_cast<const unsigned char *>(mapped.data());
        n = static_cast<int64_t>(mapped.size());
    }
    // The limit counts the whole output, of which the buffer may hold only the end.
    uint64_t limit = o->limit - (out_len(o) - o->buf->len);
    if (!pdfp_remap_res_text(p, static_cast<int32_t>(n), t->new_by_old.data(),
                             static_cast<int32_t>(t->new_by_old.size()), o->buf, limit))
        o->failed = true;
}

bool copy_remap_string(const copy_table *t, const unsigned char *p, int64_t n, std::string *s) {
    pdfp_buf scratch{};
    out_buf o{&scratch, false};
    copy_remap(t, p, n, &o);
    s->clear();
    if (!o.failed && scratch.data) s->assign(reinterpret_cast<const char *>(scratch.data), scratch.len);
    pdfp_buf_free(&scratch);
    return !o.failed;
}

std::string page_resources_remapped(const pdfp_doc *doc, const pdfp_obj *page, const copy_table *t) {
    pdfp_owned<char> text = page_resources_text(doc, page, t->resources.get());
    if (!text || !*text) return {};
    std::string s;
    copy_remap_string(t, reinterpret_cast<const unsigned char *>(text.get()),
                      static_cast<int64_t>(std::strlen(text.get())), &s);
    return s;  // short of memory: the form simply goes without resources
}

void append_carried(const pdfp_doc *doc, const copy_table *t, const pdfp_obj *obj, carried_set set, out_buf *o,
                    const char *except) {
    if (!obj) return;
    for (const carried_entry &e : carried_entries(doc, obj, set)) {
        if (except && std::strcmp(e.key, except) == 0) continue;
        out_str(o, " /");
        out_str(o, e.key);
        out_str(o, " ");
        if (!is_page_annots(set, e) || !write_moved_annots(t, obj->num, e.buf, e.vs, e.ve, o))
            copy_remap(t, e.buf + e.vs, e.ve - e.vs, o);
    }
}

void copies_append(const pdfp_doc *doc, const copy_table *t, out_buf *o) {
    for (size_t k = 0; k < t->nums.size() && !o->failed; ++k) {
        const pdfp_obj *obj = pdfp_obj_find(&doc->objs, t->nums[k]);
        copy_source s = obj ? copy_source_of(doc, obj) : copy_source{};
        int64_t num = t->first_out + static_cast<int64_t>(k);
        if (s.n > 0 && copies_stream(obj))
            begin_stream_object(o, num);
        else
            begin_object(o, num);
        if (s.n <= 0) {
            // Missing, or nothing that can be copied: null keeps every
            // cross-reference entry pointing at a real object.
            out_str(o, "null\n");
        } else if (obj->in_objstm) {
            copy_entry_text(doc, t, k, s, o);
            out_str(o, "\n");
        } else if (std::string wrapper; turned_form_wrapper(doc, t, k, s, &wrapper)) {
            out_str(o, wrapper);
            out_str(o, "stream\n");
            out_str(o, FRAME_WRAPPER_CONTENT);
            out_str(o, "\nendstream\n");
        } else if (pdfp_obj_has_stream(obj)) {
            std::string hold;
            // The dictionary and the whitespace behind it.
            copy_entry_text(doc, t, k, stream_dict_written(doc, obj, s, &hold), o);
            out_str(o, "stream\n");
            out_bytes(o, doc->data + obj->data_start, static_cast<uint64_t>(obj->data_end - obj->data_start));
            out_str(o, "\nendstream\n");
        } else {
            copy_entry_text(doc, t, k, s, o);  // the body, up to where "endobj" stood
        }
        end_object(o);
    }
}
