// Page content: the one reader of a page's /Contents value (one stream, an
// array of streams, or a stream dictionary written in place). It gives the
// content decoded and joined into one block that the caller owns, or the
// one content stream as it stands in the file - its stored bytes with its
// /Filter and /DecodeParms - so that the writer can carry that stream
// without decoding it, with whether the streams of an array were stored
// with a filter, so that the writer knows whether their joined content is
// to be compressed again.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "load_steps.h"

namespace {

// Hands a copy of n bytes to the caller: a block of exactly n bytes (one
// byte for empty content, so that success always carries storage).
int hand_over(const unsigned char *src, int32_t n, unsigned char **out, int32_t *out_len) {
    auto *block = static_cast<unsigned char *>(std::malloc(n > 0 ? static_cast<size_t>(n) : 1));
    if (!block) return 0;
    if (n > 0) std::memcpy(block, src, static_cast<size_t>(n));
    *out = block;
    *out_len = n;
    return 1;
}

// A stream without a single data byte: it draws nothing, whatever its
// filters, as an absent /Contents draws nothing.
bool empty_stream(const pdfp_obj *obj) {
    return obj->has_stream && obj->data_start >= 0 && obj->data_end == obj->data_start;
}

// /Contents N 0 R: the one stream named by N; an empty one draws nothing.
// Anything but a stream (an indirect array, say), or a stream whose data
// cannot be decoded, fails.
int single_stream(const unsigned char *data, int32_t len, const pdfp_objvec *objs, int32_t num,
                  unsigned char **out, int32_t *out_len) {
    if (num <= 0) return 0;
    const pdfp_obj *obj = pdfp_obj_find(objs, num);
    if (!obj) return 0;
    if (empty_stream(obj)) return hand_over(nullptr, 0, out, out_len);
    pdfp_buf scratch{};
    int32_t n = 0;
    const unsigned char *bytes = pdfp_decoded_stream(obj, data, len, &scratch, &n);
    int ok = bytes && hand_over(bytes, n, out, out_len);
    pdfp_buf_free(&scratch);
    return ok;
}

// Decodes one array element's stream and appends it to joined. Returns 1
// when the stream was read, 0 when it gave nothing, -1 when joined could not
// hold its bytes.
int append_stream(const unsigned char *data, int32_t len, const pdfp_obj *obj, pdfp_buf *joined) {
    if (empty_stream(obj)) return 1;
    pdfp_buf scratch{};
    int32_t n = 0;
    const unsigned char *bytes = pdfp_decoded_stream(obj, data, len, &scratch, &n);
    int r = 0;
    if (bytes) {
        // A stream boundary is a token boundary: producers end streams
        // mid-line ("...TJ" then "70.7 0 Td"), so a line feed keeps the last
        // token of one stream from running into the first of the next.
        bool gap = n > 0 && joined->len > 0 && !is_pdf_ws(joined->data[joined->len - 1]);
        // The joined content must stay describable by a 32-bit length, and
        // no longer than the whole output may be (a stream listed a
        // thousand times in /Contents).
        if (joined->len + static_cast<uint64_t>(n) + 1 > pdfp_work_limit(len) ||
            (gap && !pdfp_buf_bytes(joined, "\n", 1)) || !pdfp_buf_bytes(joined, bytes, n))
            r = -1;
        else
            r = 1;
    }
    pdfp_buf_free(&scratch);
    return r;
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

// Whether the stream names a /Filter (a null one is none), as *vs, *ve.
bool names_filter(const unsigned char *data, int32_t len, const pdfp_obj *obj, int32_t *vs, int32_t *ve) {
    return obj->has_stream && stream_dict_value(data, len, obj, "Filter", vs, ve) && !is_null_value(data, *vs, *ve);
}

// /Contents [a 0 R b 0 R ...] starting at the "[" at p: the streams joined
// in array order, a line feed between two where the first does not end in
// whitespace. Elements that name no object or no decodable
// stream are passed over, since one damaged stream should not lose the page;
// an array that yields nothing fails, except an array without any element,
// which is an empty page. *filtered: a stream of the array names a /Filter;
// parts->listed and parts->dropped count the elements and those passed over.
int stream_array(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                 const unsigned char *buf, int32_t p, int32_t end, unsigned char **out,
                 int32_t *out_len, bool *filtered, content_parts *parts) {
    int32_t i = p + 1;
    if (i >= end) return 0;
    pdfp_buf joined{};
    int elements = 0, read = 0, ok = 1;
    while (ok && i < end && buf[i] != ']') {
        if (!is_digit(buf[i])) {
            ++i;
            continue;
        }
        ++elements;
        int32_t num = parse_int_at(buf, end, &i);
        const pdfp_obj *obj = num > 0 ? pdfp_obj_find(objs, num) : nullptr;
        i = skip_ref_rest(buf, i, end);
        ++parts->listed;
        if (!obj) {
            ++parts->dropped;
            continue;
        }
        int32_t vs, ve;
        if (!*filtered && names_filter(data, len, obj, &vs, &ve)) *filtered = true;
        int r = append_stream(data, len, obj, &joined);
        if (r > 0) read = 1;
        if (r == 0) ++parts->dropped;
        if (r < 0) ok = 0;
    }
    bool closed_empty = i < end && elements == 0;
    if (ok && read)
        ok = hand_over(joined.data, static_cast<int32_t>(joined.len), out, out_len);
    else
        ok = ok && closed_empty;  // "[]": a valid page that draws nothing
    pdfp_buf_free(&joined);
    return ok;
}

// The integer value of a (non-stream) object, as an indirect /Length holds
// it: "N G obj value" in the file, or the bare value inside an object stream.
int32_t indirect_int(const unsigned char *data, int32_t len, const pdfp_obj *obj) {
    if (obj->in_objstm) {
        // An object-stream entry has no header: its text is the value itself.
        int32_t q = 0;
        return obj->text ? parse_int_at(obj->text, obj->text_len, &q) : -1;
    }
    return indirect_int_value(data, len, obj->hdr_pos);
}

// /Contents << /Length n >> stream ... written in place at p: exactly n raw
// bytes after the keyword; without a usable n, or with one that runs past
// the page, the bytes up to "endstream". A /Filter in that dictionary is
// not applied.
int inline_stream(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                  const unsigned char *buf, int32_t p, int32_t end, unsigned char **out,
                  int32_t *out_len) {
    int32_t k = dict_stream_kw(buf, end, p);
    if (k < 0) return 0;
    int32_t direct = -1, indirect = -1;
    parse_length(buf, end, p, k, &direct, &indirect);
    int32_t n = direct;
    if (n < 0 && indirect > 0) {
        const pdfp_obj *obj = pdfp_obj_find(objs, indirect);
        if (obj && !pdfp_obj_has_stream(obj)) n = indirect_int(data, len, obj);
    }
    int32_t start = stream_data_start(buf, end, k);
    if (n < 0 || static_cast<int64_t>(start) + n > end) {
        int32_t e = find_kw(buf, end, start, "endstream");
        if (e < 0) return 0;
        n = std::max(end_before_endstream(buf, start, e), start) - start;
    }
    return hand_over(buf + start, n, out, out_len);
}

// The page's /Contents value (the first /Contents of the page's text
// region): 1 with its first byte at *p in buf[0, *end) (*p may be *end),
// 0 when the page has none, -1 when the page has no text region.
int contents_value(const unsigned char *data, int32_t len, const pdfp_obj *page, const unsigned char **buf,
                   int32_t *p, int32_t *end) {
    int32_t start = obj_text_region(data, len, page, buf, end);
    if (start < 0) return -1;
    int32_t at = find_name(*buf, *end, start, *end, "Contents");
    if (at < 0) return 0;
    *p = skip_ws(*buf, name_end(at, "Contents"), *end);
    return 1;
}

// /Contents N 0 R at p as it is stored: true with *rc filled when N is a
// stream object in the file (its data is not looked at).
bool stored_stream(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const unsigned char *buf,
                   int32_t p, int32_t end, pdfp_raw_content *rc) {
    *rc = pdfp_raw_content{nullptr, 0, -1, -1, -1, -1};
    if (p >= end || !is_digit(buf[p])) return false;
    int32_t num = parse_int_at(buf, end, &p);
    const pdfp_obj *obj = num > 0 ? pdfp_obj_find(objs, num) : nullptr;
    // Streams never live in object streams; an entry that is not a stream
    // (an indirect array, say) is left to the decoding reader.
    if (!obj || !obj->has_stream || obj->in_objstm) return false;
    if (obj->data_start < 0 || obj->data_end < obj->data_start || obj->data_end > len) return false;
    rc->bytes = data + obj->data_start;
    rc->len = obj->data_end - obj->data_start;
    int32_t vs, ve;
    // A null /Filter is no filter; /DecodeParms means nothing without one.
    if (names_filter(data, len, obj, &vs, &ve)) {
        rc->filter_at = vs;
        rc->filter_end = ve;
        if (stream_dict_value(data, len, obj, "DecodeParms", &vs, &ve) && !is_null_value(data, vs, ve)) {
            rc->parms_at = vs;
            rc->parms_end = ve;
        }
    }
    return true;
}

// The /Contents value at p decoded and joined into *out (as
// pdfp_get_page_content gives it); *filtered as stream_array sets it.
int decoded_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const unsigned char *buf,
                    int32_t p, int32_t end, unsigned char **out, int32_t *out_len, bool *filtered,
                    content_parts *parts) {
    if (p >= end) return 0;
    if (is_digit(buf[p])) {
        int32_t q = p;
        int32_t num = parse_int_at(buf, end, &q);
        return single_stream(data, len, objs, num, out, out_len);
    }
    if (buf[p] == '[') return stream_array(data, len, objs, buf, p, end, out, out_len, filtered, parts);
    if (buf[p] == '<' && p + 1 < end && buf[p + 1] == '<')
        return inline_stream(data, len, objs, buf, p, end, out, out_len);
    if (kw_at(buf, p, end, "null")) return 1;  // /Contents null: an empty page
    return 0;
}

}  // namespace

int pdfp_get_page_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs,
                          const pdfp_obj *page, unsigned char **out, int32_t *out_len) {
    *out = nullptr;
    *out_len = 0;
    const unsigned char *buf = nullptr;
    int32_t p = 0, end = 0;
    int found = contents_value(data, len, page, &buf, &p, &end);
    if (found <= 0) return found == 0;  // no /Contents: a valid page that draws nothing
    bool filtered = false;
    content_parts parts{};
    return decoded_content(data, len, objs, buf, p, end, out, out_len, &filtered, &parts);
}

int pdfp_page_raw_content(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                          pdfp_raw_content *rc) {
    const unsigned char *buf = nullptr;
    int32_t p = 0, end = 0;
    *rc = pdfp_raw_content{nullptr, 0, -1, -1, -1, -1};
    return contents_value(data, len, page, &buf, &p, &end) == 1 && stored_stream(data, len, objs, buf, p, end, rc);
}

int pdfp_page_content_read(const unsigned char *data, int32_t len, const pdfp_objvec *objs, const pdfp_obj *page,
                           pdfp_page_content *pc) {
    *pc = pdfp_page_content{false, {nullptr, 0, -1, -1, -1, -1}, nullptr, 0, false, {}};
    const unsigned char *buf = nullptr;
    int32_t p = 0, end = 0;
    int found = contents_value(data, len, page, &buf, &p, &end);
    if (found <= 0) return found == 0;  // no /Contents: a valid page that draws nothing
    pc->is_stored = stored_stream(data, len, objs, buf, p, end, &pc->stored);
    if (pc->is_stored) return 1;
    return decoded_content(data, len, objs, buf, p, end, &pc->joined, &pc->joined_len, &pc->filtered, &pc->parts);
}
