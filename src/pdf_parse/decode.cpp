// Stream decoding: the bytes of a stream object after its /Filter chain.
// Decoded bytes are appended to the caller's buffer; a stream without a
// filter is handed back as a pointer into the file, without a copy.
#include <algorithm>

#include "filters.h"

namespace {

// The first room a Flate stage tries: FIRST_ROOM_RATIO times its input and
// FIRST_ROOM_EXTRA bytes; inflate_growing grows it when that is short.
constexpr uint64_t FIRST_ROOM_RATIO = 20;
constexpr uint64_t FIRST_ROOM_EXTRA = 4096;

// Inflates src onto the end of out.
int flate_stage(const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t most) {
    const uint64_t start = out->len;
    auto room = [out, start](uint64_t cap) {
        return pdfp_buf_reserve(out, cap) && out->data ? out->data + start : nullptr;
    };
    uint64_t produced = 0;
    if (inflate_growing(src, n, FIRST_ROOM_RATIO * n + FIRST_ROOM_EXTRA, most, room, &produced) < 0) return -1;
    out->len = start + produced;
    out->data[out->len] = 0;
    return 1;
}

int run_filter(const pdfp_filter *f, const unsigned char *src, uint64_t n, pdfp_buf *out, uint64_t limit) {
    uint64_t start = out->len;
    int r = -1;
    switch (f->kind) {
    case PDFP_FLATE: r = flate_stage(src, n, out, limit); break;
    case PDFP_LZW: r = lzw_decode(src, n, f->early_change, out, limit); break;
    case PDFP_AHX: r = ahx_decode(src, n, out, limit); break;
    case PDFP_A85: r = a85_decode(src, n, out, limit); break;
    case PDFP_RL: r = rl_decode(src, n, out, limit); break;
    case PDFP_CRYPT: r = n <= limit && pdfp_buf_bytes(out, src, n) ? 1 : -1; break;
    }
    if (r > 0 && out->len - start > limit) r = -1;
    if (r > 0) r = undo_predictor(out, start, f);
    return r;
}

}  // namespace

int pdfp_decode_filters(const unsigned char *buf, int32_t from, int32_t to,
                        const unsigned char *raw, int32_t raw_len, pdfp_buf *out, uint64_t limit) {
    limit = std::min(limit, MAX_DECODED_BYTES);
    pdfp_filter_chain chain;
    int count = parse_filters(buf, from, to, &chain);
    if (count <= 0) return count;
    if (raw_len < 0 || (!raw && raw_len > 0)) return -1;
    static const unsigned char empty = 0;
    const unsigned char *src = raw ? raw : &empty;
    uint64_t n = static_cast<uint64_t>(raw_len);
    uint64_t start = out->len;
    // Stages alternate between two scratch buffers; the last writes into out.
    pdfp_buf scratch[2] = {};
    int r = 1;
    for (int32_t i = 0; i < count && r > 0; ++i) {
        pdfp_buf *dst = i == count - 1 ? out : &scratch[i & 1];
        uint64_t at = dst == out ? start : 0;
        dst->len = at;
        r = run_filter(&chain.f[i], src, n, dst, limit);
        if (r > 0) {
            src = dst->data + at;
            n = dst->len - at;
        }
    }
    pdfp_buf_free(&scratch[0]);
    pdfp_buf_free(&scratch[1]);
    if (r < 0 && out->data) {
        out->len = start;
        out->data[start] = 0;
    }
    return r;
}

const unsigned char *pdfp_decoded_stream(const pdfp_obj *obj, const unsigned char *file,
                                         int32_t file_len, pdfp_buf *buf, int32_t *byte_count) {
    if (!obj || !obj->has_stream) return nullptr;
    int64_t stored = static_cast<int64_t>(obj->data_end) - obj->data_start;
    if (stored <= 0 || obj->data_start < 0 || obj->data_end > file_len) return nullptr;
    const unsigned char *raw = file + obj->data_start;
    if (obj->dict_pos < 0) {
        *byte_count = static_cast<int32_t>(stored);
        return raw;
    }
    const unsigned char *region;
    int32_t end;
    obj_text_region(file, file_len, obj, &region, &end);
    uint64_t at = buf->len;
    // A page's content can never be longer than the whole output may be.
    int r = pdfp_decode_filters(file, obj->dict_pos, std::min(end, file_len), raw,
                                static_cast<int32_t>(stored), buf, pdfp_work_limit(file_len));
    if (r == 0) {
        *byte_count = static_cast<int32_t>(stored);
        return raw;
    }
    if (r < 0 || !buf->data) return nullptr;
    *byte_count = static_cast<int32_t>(buf->len - at);
    return buf->data + at;
}
