// Page content as it stands in the file: the one content stream a page
// names, with its stored bytes and its /Filter and /DecodeParms, so that
// the writer can carry it without decoding it; and whether the streams of
// a /Contents array were stored with a filter, so that the writer knows
// whether their joined content is to be compressed again.
#include "load_steps.h"

namespace {

// The page's /Contents value: its first byte at *p in buf[0, *end), found
// as pdfp_get_page_content finds it (the first /Contents of the page's text
// region). False when there is none.
bool contents_value(const unsigned char *data, int32_t len, const pdfp_obj *page, const unsigned char **buf,
                    int32_t *p, int32_t *end) {
    int32_t start = obj_text_region(data, len, page, buf, end);
    if (start < 0) return false;
    int32_t at = find_name(*buf, *end, start, *end, "Contents");
    if (at < 0) return false;
    *p = skip_ws(*buf, name_end(at, "Contents"), *end);
    return *p < *end;
}

// The range of the value of key in the stream's dictionary, or false.
bool stream_dict_value(const unsigned char *data, int32_t len, const pdfp_obj *obj, const char *key, int32_t *vs,
                       int32_t *ve) {
    const unsigned char *region;
    int32_t end;
    if (obj->dict_pos < 0 || obj->in_objstm || obj_text_region(data, len, obj, &region, &end) < 0) return false;
    return dict_value(data, obj->dict_pos, end < len ? end : len, key, vs, ve);
}

bool is_null_value(const unsigned char *data, int32_t vs, int32_t ve) {
    return ve - vs == 4 && kw_at(data, vs, ve, "null");
}

}  // namespace

int pdfp_page_raw_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                          pdfp_raw_content *rc) {
    *rc = pdfp_raw_content{nullptr, 0, -1, -1, -1, -1};
    const unsigned char *buf;
    int32_t p, end;
    if (!contents_value(data, len, page, &buf, &p, &end) || !is_digit(buf[p])) return 0;
    int32_t num = parse_int_at(buf, end, &p);
    const pdfp_obj *obj = num > 0 ? pdfp_obj_find(objs, num) : nullptr;
    // Streams never live in object streams; an entry that is not a stream
    // (an indirect array, say) is left to pdfp_get_page_content.
    if (!obj || !obj->has_stream || obj->in_objstm) return 0;
    if (obj->data_start < 0 || obj->data_end < obj->data_start || obj->data_end > len) return 0;
    rc->bytes = data + obj->data_start;
    rc->len = obj->data_end - obj->data_start;
    int32_t vs, ve;
    // A null /Filter is no filter; /DecodeParms means nothing without one.
    if (stream_dict_value(data, len, obj, "Filter", &vs, &ve) && !is_null_value(data, vs, ve)) {
        rc->filter_at = vs;
        rc->filter_end = ve;
        if (stream_dict_value(data, len, obj, "DecodeParms", &vs, &ve) && !is_null_value(data, vs, ve)) {
            rc->parms_at = vs;
            rc->parms_end = ve;
        }
    }
    return 1;
}

bool pdfp_page_content_filtered(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                                const pdfp_obj *page) {
    const unsigned char *buf;
    int32_t p, end;
    if (!contents_value(data, len, page, &buf, &p, &end) || buf[p] != '[') return false;
    // The elements as pdfp_get_page_content reads them: every number that
    // starts an element names a stream.
    for (int32_t i = p + 1; i < end && buf[i] != ']';) {
        if (!is_digit(buf[i])) {
            ++i;
            continue;
        }
        int32_t num = parse_int_at(buf, end, &i);
        i = skip_ref_rest(buf, i, end);
        const pdfp_obj *obj = num > 0 ? pdfp_obj_find(objs, num) : nullptr;
        int32_t vs, ve;
        if (obj && obj->has_stream && stream_dict_value(data, len, obj, "Filter", &vs, &ve) &&
            !is_null_value(data, vs, ve))
            return true;
    }
    return false;
}
