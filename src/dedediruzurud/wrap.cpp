// Page wrapping: every input page becomes an upright page object that draws
// one form XObject, and the form holds the page's content, its resources
// and the page frame's matrix, which turns the page's box into the frame
// [0 0 W H] of the new page as a viewer showed it (rotation applied, box
// moved to the origin).
//
// A page whose content is one stream has that stream's bytes carried into
// the form as they are stored, with their /Filter and /DecodeParms: nothing
// is decoded, so a stream our decoder cannot read (a damaged body, a filter
// we do not know) still shows in the copy as far as a viewer shows it in
// the input, and the form keeps its damage away from the label. Content
// joined from several streams is decoded, and compressed again when any of
// them was stored with a filter.
#include "wrap.h"

#include <climits>
#include <cstdlib>
#include <new>

#include "copy_write.h"
#include "deflate.h"
#include "messages.h"
#include "object_numbers.h"

// The form maps the page's box onto the new page [0 0 W H] with the page
// frame's matrix, left out when it moves nothing.
std::string form_header(const pdfp_pageinfo *page, int rot, int32_t length, const std::string &encoding,
                        const std::string &resources) {
    std::string h = "<< /Type /XObject /Subtype /Form /BBox [" + pdfp_fmt_num(page->box_llx) + " " +
                    pdfp_fmt_num(page->box_lly) + " " + pdfp_fmt_num(page->box_urx) + " " +
                    pdfp_fmt_num(page->box_ury) + "]";
    frame_map m = frame_map_of(page, rot);
    if (!frame_map_is_identity(m)) h += " /Matrix " + frame_map_text(m);
    h += " /Length " + pdfp_fmt_num(length) + encoding;
    if (!resources.empty()) h += " /Resources " + resources;
    h += " >> stream\n";
    return h;
}

namespace {

// The page object carries the input page's own annotations, transparency
// group, actions, transition, duration and tab order.
void append_page_object(const pdfp_doc *doc, const pdfp_obj *obj, const copy_table *table, out_buf *o, int32_t i,
                        int64_t font, const page_frame *frame) {
    begin_object(o, page_obj(i));
    out_str(o, "<< /Type /Page /Parent ");
    out_ref(o, PAGE_TREE_OBJ);
    out_str(o, " /MediaBox [0 0 ");
    out_num(o, frame->w);
    out_str(o, " ");
    out_num(o, frame->h);
    out_str(o, "] /Resources <</Font <</PN ");
    out_ref(o, font);
    out_str(o, ">> /XObject <</Fm1 ");
    out_ref(o, form_obj(i));
    out_str(o, ">>>> /Contents ");
    out_ref(o, content_obj(i));
    append_carried(doc, table, obj, CARRY_PAGE, o);
    out_str(o, " >>\n");
    end_object(o);
}

// The value at [at, end) of the input with its references rewritten.
std::string remapped_value(const pdfp_doc *doc, const copy_table *table, int32_t at, int32_t end) {
    const unsigned char *p = doc->data + at;
    int32_t n = end - at, start, num, after;
    if (!pdfp_next_ref(p, n, 0, true, &start, &num, &after)) return std::string(reinterpret_cast<const char *>(p), n);
    std::string s;
    // Without its filter the carried data would be drawn as garbage.
    if (!copy_remap_string(table, p, n, &s)) throw std::bad_alloc();
    return s;
}

// The form's /Filter and /DecodeParms entries for carried content.
std::string carried_encoding(const pdfp_doc *doc, const copy_table *table, const pdfp_raw_content *raw) {
    std::string e;
    if (raw->filter_at >= 0) e += " /Filter " + remapped_value(doc, table, raw->filter_at, raw->filter_end);
    if (raw->parms_at >= 0) e += " /DecodeParms " + remapped_value(doc, table, raw->parms_at, raw->parms_end);
    return e;
}

using owned_bytes = pdfp_owned<unsigned char>;

// content[0, n) compressed, its length in *z_len; null when the encoder
// cannot have its room (the content then goes uncompressed).
owned_bytes deflated(out_buf *o, const unsigned char *content, int32_t n, int32_t *z_len) {
    uint64_t cap = deflate_bound(static_cast<uint64_t>(n));
    owned_bytes z(static_cast<unsigned char *>(std::malloc(cap)));
    uint64_t produced = 0;
    if (!z || deflate_compress(content, static_cast<uint64_t>(n), z.get(), cap, &produced, &o->deflate_tables) != 0 ||
        produced > INT32_MAX)
        return nullptr;
    *z_len = static_cast<int32_t>(produced);
    return z;
}

void append_form(out_buf *o, int32_t i, const std::string &header, const unsigned char *bytes, int32_t n) {
    begin_stream_object(o, form_obj(i));
    out_str(o, header);
    out_bytes(o, bytes, static_cast<uint64_t>(n));
    out_str(o, "\nendstream\n");
    end_object(o);
}

}  // namespace

bool wrap_page(const pdfp_doc *doc, int32_t i, int64_t font, const copy_table *table, out_buf *o,
               page_frame *frame) {
    const pdfp_pageinfo *page = &doc->pages.items[i];
    const pdfp_obj *obj = pdfp_obj_find(&doc->objs, page->obj_num);
    if (!obj || !page_frame_of(doc, page, obj, frame)) return false;
    std::string resources = page_resources_remapped(doc, obj, table);

    pdfp_page_content content;
    if (!pdfp_page_content_read(doc->data, doc->size, &doc->objs, obj, &content)) return false;
    owned_bytes hold(content.joined);
    if (content.parts.dropped > 0)
        pdfp_notice(doc, MSG_NOTE_CONTENTS_PART, i + 1, content.parts.dropped, content.parts.listed);
    if (content.is_stored) {
        const pdfp_raw_content &raw = content.stored;
        // No data is no valid Flate (or other) encoding: an empty stream goes plain.
        std::string encoding = raw.len > 0 ? carried_encoding(doc, table, &raw) : std::string();
        std::string header = form_header(page, frame->rot, raw.len, encoding, resources);
        append_page_object(doc, obj, table, o, i, font, frame);
        append_form(o, i, header, raw.bytes, raw.len);
        return true;
    }
    // A page without content (/Contents absent, null or []) is blank.
    int32_t length = content.joined ? content.joined_len : 0;
    // Joined streams that were stored compressed are stored compressed again.
    int32_t z_len = 0;
    owned_bytes z;
    if (length > 0 && content.filtered) z = deflated(o, content.joined, length, &z_len);
    append_page_object(doc, obj, table, o, i, font, frame);
    if (z)
        append_form(o, i, form_header(page, frame->rot, z_len, " /Filter /FlateDecode", resources), z.get(), z_len);
    else
        append_form(o, i, form_header(page, frame->rot, length, "", resources), content.joined, length);
    return true;
}
