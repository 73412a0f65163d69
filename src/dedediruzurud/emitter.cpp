// The object emitter: objects plain or packed into object streams, the
// cross-reference table or stream, and the trailer.
#include "emitter.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "seal.h"

namespace {

// What is gathered before it is handed to the sink, and the stream data
// long enough to go there directly rather than through the buffer.
constexpr uint64_t SINK_PIECE = 256 * 1024;
constexpr uint64_t SINK_DIRECT = 64 * 1024;

// Whether an object is being written into an object stream's text.
bool packing(const out_buf *o) { return o->packer && o->packer->current >= 0; }

void sink_bytes(out_buf *o, const unsigned char *p, uint64_t n) {
    if (o->failed || n == 0) return;
    if (!o->sink(o->sink_ctx, p, n)) o->failed = o->sink_failed = true;
    o->sunk += n;
}

}  // namespace

void out_flush(out_buf *o) {
    if (!o->sink || packing(o)) return;
    sink_bytes(o, o->buf->data, o->buf->len);
    o->buf->len = 0;
}

void out_bytes(out_buf *o, const void *p, uint64_t n) {
    if (o->failed) return;
    if (n > o->limit - out_len(o)) {
        o->failed = true;
        return;
    }
    // Bytes being sealed must stay in the buffer until the object ends;
    // any others may go once a piece has gathered.
    if (o->sink && o->sealing < 0 && !packing(o)) {
        if (n >= SINK_DIRECT) {
            out_flush(o);
            sink_bytes(o, static_cast<const unsigned char *>(p), n);
            return;
        }
        if (o->buf->len >= SINK_PIECE) out_flush(o);
    }
    if (!pdfp_buf_bytes(o->buf, p, n)) o->failed = true;
}

void out_str(out_buf *o, const char *s) { out_bytes(o, s, std::strlen(s)); }

void out_str(out_buf *o, const std::string &s) { out_bytes(o, s.data(), s.size()); }

void out_int(out_buf *o, int64_t v) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    out_bytes(o, tmp, static_cast<uint64_t>(r.ptr - tmp));
}

void out_num(out_buf *o, double x) { out_str(o, pdfp_fmt_num(x)); }

void out_ref(out_buf *o, int64_t num) {
    out_int(o, num);
    out_str(o, " 0 R");
}

uint64_t out_len(const out_buf *o) { return packing(o) ? o->buf->len : o->sunk + o->buf->len; }

namespace {

// An object stream is closed once it holds this many objects or this many
// bytes of text: big enough to compress well, small enough that a reader
// fetching one object inflates little.
constexpr size_t PACK_MAX_OBJECTS = 200;
constexpr uint64_t PACK_MAX_TEXT = 256 * 1024;
// Readers bound one packed object's text (ours at 1 MiB); a longer object
// (a page tree of a hundred thousand pages) is written plainly instead.
constexpr uint64_t PACK_MAX_OBJECT = 1000 * 1000;

void begin_plain(out_buf *o, int64_t num, bool is_stream = false) {
    o->offsets[static_cast<size_t>(num)] = static_cast<int64_t>(out_len(o));
    out_int(o, num);
    out_str(o, " 0 obj\n");
    o->sealing = o->crypt ? num : -1;
    o->sealing_at = o->buf->len;
    o->sealing_stream = is_stream;
}

// Seals the plain object just written, when the output is encrypted.
void seal_plain(out_buf *o) {
    if (o->sealing < 0 || o->failed) return;
    if (!seal_object(o->crypt, o->sealing, o->sealing_stream, o->buf, o->sealing_at, o->seal_scratch.get()))
        o->failed = true;
    o->sealing = -1;
}

void mark_packed(obj_packer *p, int64_t num, int32_t stream, int32_t index) {
    if (static_cast<size_t>(num) >= p->at.size()) p->at.resize(static_cast<size_t>(num) + 1, {-1, -1});
    p->at[static_cast<size_t>(num)] = {stream, index};
}

// Flate through our encoder into o's reused room, then copied out at its
// exact size; false when the encoder's tables cannot be had. The fast
// effort: object streams and the cross-reference stream are the writer's
// own text, half of all its work at the default effort, and grow only a
// few per cent at this one.
bool compress(out_buf *o, const unsigned char *src, uint64_t n, std::vector<unsigned char> *dst) {
    auto bound = static_cast<size_t>(deflate_bound(n));
    // Grown without zero-filling what the encoder overwrites anyway.
    if (o->deflate_out.size() < bound) o->deflate_out.resize(std::max(bound, 2 * o->deflate_out.size()));
    uint64_t produced = 0;
    if (deflate_compress(src, n, o->deflate_out.data(), bound, &produced, &o->deflate_tables, deflate_effort::fast) != 0)
        return false;
    dst->assign(o->deflate_out.data(), o->deflate_out.data() + produced);
    return true;
}

// Compresses the open stream's objects, behind their header of number and
// offset pairs, into a finished stream.
void close_stream(out_buf *o) {
    obj_packer *p = o->packer.get();
    if (p->open.empty() || o->failed) return;
    std::string &whole = p->whole;
    whole.clear();
    char tmp[48];
    for (const auto &[num, at] : p->open) {
        char *e = std::to_chars(tmp, tmp + 20, num).ptr;
        *e++ = ' ';
        e = std::to_chars(e, tmp + 44, at).ptr;
        *e++ = ' ';
        whole.append(tmp, e);
    }
    whole.back() = '\n';
    const size_t head = whole.size();
    whole.append(reinterpret_cast<const char *>(p->text.data), p->text.len);
    packed_stream done{static_cast<int32_t>(p->open.size()), static_cast<int64_t>(head), {}};
    if (!compress(o, reinterpret_cast<const unsigned char *>(whole.data()), whole.size(), &done.data)) {
        o->failed = true;
        return;
    }
    auto stream = static_cast<int32_t>(p->done.size());
    for (size_t k = 0; k < p->open.size(); ++k) mark_packed(p, p->open[k].first, stream, static_cast<int32_t>(k));
    p->done.push_back(std::move(done));
    p->open.clear();
    p->text.len = 0;
}

// Ends the object being packed: into the open stream, or, when too long
// for one, written plainly into the file.
void end_packed(out_buf *o) {
    obj_packer *p = o->packer.get();
    int64_t num = p->current;
    p->current = -1;
    o->buf = p->file;
    if (o->failed) return;
    uint64_t n = p->text.len - p->current_at;
    if (n > PACK_MAX_OBJECT) {
        begin_plain(o, num);
        out_bytes(o, p->text.data + p->current_at, n);
        seal_plain(o);
        out_str(o, "endobj\n");
        p->text.len = p->current_at;
        return;
    }
    // Texts stand back to back: a separator keeps "5" and "6" from reading as "56".
    if (n == 0 || !is_pdf_ws(p->text.data[p->text.len - 1])) {
        o->buf = &p->text;
        out_str(o, "\n");
        o->buf = p->file;
    }
    p->open.emplace_back(num, p->current_at);
    if (p->open.size() >= PACK_MAX_OBJECTS || p->text.len >= PACK_MAX_TEXT) close_stream(o);
}

}  // namespace

void begin_object(out_buf *o, int64_t num) {
    obj_packer *p = o->packer.get();
    if (!p) {
        begin_plain(o, num);
        return;
    }
    // Not yet in the file: -1 until the streams are written. Its object
    // stream is sealed, not the object.
    o->offsets[static_cast<size_t>(num)] = -1;
    o->sealing = -1;
    p->file = o->buf;
    p->current = num;
    p->current_at = p->text.len;
    o->buf = &p->text;
}

void begin_stream_object(out_buf *o, int64_t num) { begin_plain(o, num, true); }

void begin_clear_object(out_buf *o, int64_t num) {
    begin_plain(o, num);
    o->sealing = -1;
}

void end_object(out_buf *o) {
    if (o->packer && o->packer->current >= 0) {
        end_packed(o);
        return;
    }
    seal_plain(o);
    out_str(o, "endobj\n");
}

void append_file_header(out_buf *o) {
    int version = o->packer ? 15 : 14;
    if (o->crypt && o->crypt->version > version) version = o->crypt->version;
    char header[32];
    std::snprintf(header, sizeof header, "%%PDF-%d.%d\n%%\xE2\xE3\xCF\xD3\n", version / 10, version % 10);
    out_str(o, header);
}

namespace {

// One 20-byte line: ten digits, generation, in-use flag. A number left
// unused (offset -1) is a free entry.
void append_xref_line(out_buf *o, int64_t offset) {
    if (offset < 0) {
        out_str(o, "0000000000 00001 f \n");
        return;
    }
    char line[20] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
                     ' ', '0', '0', '0', '0', '0', ' ', 'n', ' ', '\n'};
    for (int k = 9; k >= 0 && offset > 0; --k, offset /= 10) line[k] = static_cast<char>('0' + offset % 10);
    out_bytes(o, line, sizeof line);
}

// The finished object streams, numbered from first on; their offsets go
// to offsets.
void append_packed_streams(out_buf *o, int64_t first, std::vector<int64_t> *offsets) {
    obj_packer *p = o->packer.get();
    for (size_t k = 0; k < p->done.size() && !o->failed; ++k) {
        packed_stream &s = p->done[k];
        if (o->crypt) seal_stream_data(o->crypt, first + static_cast<int64_t>(k), &s.data);
        offsets->push_back(static_cast<int64_t>(out_len(o)));
        out_int(o, first + static_cast<int64_t>(k));
        out_str(o, " 0 obj\n<< /Type /ObjStm /N ");
        out_int(o, s.count);
        out_str(o, " /First ");
        out_int(o, s.first);
        out_str(o, " /Filter /FlateDecode /Length ");
        out_int(o, static_cast<int64_t>(s.data.size()));
        out_str(o, " >>\nstream\n");
        out_bytes(o, s.data.data(), s.data.size());
        out_str(o, "\nendstream\nendobj\n");
    }
}

// One entry of a cross-reference stream: type, then two big-endian fields.
void put_xref_entry(std::vector<unsigned char> *rows, int type, uint64_t f2, int w2, uint64_t f3) {
    rows->push_back(static_cast<unsigned char>(type));
    for (int b = w2 - 1; b >= 0; --b) rows->push_back(static_cast<unsigned char>(f2 >> (8 * b)));
    rows->push_back(static_cast<unsigned char>(f3 >> 8));
    rows->push_back(static_cast<unsigned char>(f3));
}

// The packed layout's end: the object streams, then a cross-reference
// stream, the last object, which also carries the trailer's entries.
void append_xref_stream(out_buf *o, int64_t root, const std::string &extra) {
    close_stream(o);
    const obj_packer *p = o->packer.get();
    auto base = static_cast<int64_t>(o->offsets.size());
    std::vector<int64_t> stream_offsets;
    append_packed_streams(o, base, &stream_offsets);
    int64_t xref_num = base + static_cast<int64_t>(p->done.size());
    auto xref = static_cast<int64_t>(out_len(o));
    int64_t size = xref_num + 1;
    // Field 2 holds offsets and stream numbers alike.
    int w2 = 1;
    while (w2 < 8 && (static_cast<uint64_t>(std::max(xref, xref_num)) >> (8 * w2)) != 0) ++w2;
    std::vector<unsigned char> rows;
    rows.reserve(static_cast<size_t>(size) * static_cast<size_t>(w2 + 3));
    put_xref_entry(&rows, 0, 0, w2, 65535);
    for (int64_t k = 1; k < base; ++k) {
        auto at = static_cast<size_t>(k) < p->at.size() ? p->at[static_cast<size_t>(k)] : std::pair{-1, -1};
        int64_t off = o->offsets[static_cast<size_t>(k)];
        if (at.first >= 0)
            put_xref_entry(&rows, 2, static_cast<uint64_t>(base + at.first), w2, static_cast<uint64_t>(at.second));
        else if (off >= 0)
            put_xref_entry(&rows, 1, static_cast<uint64_t>(off), w2, 0);
        else
            put_xref_entry(&rows, 0, 0, w2, 0);
    }
    for (int64_t off : stream_offsets) put_xref_entry(&rows, 1, static_cast<uint64_t>(off), w2, 0);
    put_xref_entry(&rows, 1, static_cast<uint64_t>(xref), w2, 0);
    std::vector<unsigned char> packed;
    if (!compress(o, rows.data(), rows.size(), &packed)) {
        o->failed = true;
        return;
    }
    out_int(o, xref_num);
    out_str(o, " 0 obj\n<< /Type /XRef /Size ");
    out_int(o, size);
    out_str(o, " /W [1 ");
    out_int(o, w2);
    out_str(o, " 2] /Root ");
    out_ref(o, root);
    out_str(o, extra);
    out_str(o, " /Filter /FlateDecode /Length ");
    out_int(o, static_cast<int64_t>(packed.size()));
    out_str(o, " >>\nstream\n");
    out_bytes(o, packed.data(), packed.size());
    out_str(o, "\nendstream\nendobj\nstartxref\n");
    out_int(o, xref);
    out_str(o, "\n%%EOF\n");
}

}  // namespace

void append_xref_and_trailer(out_buf *o, int64_t root, const std::string &extra) {
    if (o->packer) {
        append_xref_stream(o, root, extra);
        return;
    }
    int64_t xref = static_cast<int64_t>(out_len(o));
    int64_t size = static_cast<int64_t>(o->offsets.size());
    out_str(o, "xref\n0 ");
    out_int(o, size);
    out_str(o, "\n0000000000 65535 f \n");
    for (int64_t k = 1; k < size && !o->failed; ++k) append_xref_line(o, o->offsets[static_cast<size_t>(k)]);
    out_str(o, "trailer\n<< /Size ");
    out_int(o, size);
    out_str(o, " /Root ");
    out_ref(o, root);
    out_str(o, extra);
    out_str(o, " >>\nstartxref ");
    out_int(o, xref);
    out_str(o, "\n%%EOF\n");
}

