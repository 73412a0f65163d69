// An encrypted document rewritten in the clear, so that the rest of the
// reader and the writer see what viewers see: every object of the file
// again, its strings decrypted (written as hexadecimal strings) and its
// stream data decrypted behind a direct /Length. Object streams are
// decrypted as streams; the objects in them are then read in the clear.
// Cross-reference streams, trailers and the /Encrypt dictionary stay
// behind: the loader has read what it needs of them, and the writer gets
// the dictionary and /ID from pdfp_encryption.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "load_steps.h"
#include "security.h"

namespace {

// The trailers that may name /Encrypt: a classic one's dictionary or a
// cross-reference stream's, the last in the file winning, as the newest
// update's does.
struct trailer_at {
    int32_t from = -1, end = -1;
};

trailer_at last_encrypting_trailer(const pdfp_doc *doc) {
    trailer_at best;
    int32_t vs, ve;
    for (int32_t t = find_kw(doc->data, doc->size, 0, "trailer"); t >= 0;
         t = find_kw(doc->data, doc->size, t + 1, "trailer")) {
        int32_t d = skip_ws_comments(doc->data, kw_end(t, "trailer"), doc->size);
        if (d < doc->size && doc->data[d] == '<' && dict_value(doc->data, d, doc->size, "Encrypt", &vs, &ve))
            best = {d, doc->size};
    }
    for (int32_t k = 0; k < doc->objs.count; ++k) {
        const pdfp_obj &o = doc->objs.items[k];
        if (!o.has_stream || o.dict_pos < 0 || o.dict_pos <= best.from) continue;
        if (pdfp_is_xref_stream(doc->data, o.dict_pos, o.stream_pos) &&
            dict_value(doc->data, o.dict_pos, o.stream_pos, "Encrypt", &vs, &ve))
            best = {o.dict_pos, o.stream_pos};
    }
    return best;
}

// The /Encrypt dictionary that the trailer names: its range, and the
// header of the object that holds it (-1 when it stands in the trailer).
bool encrypt_dict(const pdfp_doc *doc, trailer_at t, int32_t *from, int32_t *end, int32_t *hdr) {
    int32_t vs, ve;
    *hdr = -1;
    if (!dict_value(doc->data, t.from, t.end, "Encrypt", &vs, &ve)) return false;
    if (doc->data[vs] == '<') {
        *from = vs;
        *end = ve;
        return true;
    }
    int32_t p = vs;
    const int32_t num = read_int_adv(doc->data, ve, &p);
    // The last definition in the file, as the loader would choose.
    for (int32_t k = doc->objs.count - 1; k >= 0; --k) {
        const pdfp_obj &o = doc->objs.items[k];
        if (o.num != num || o.in_objstm || o.dict_pos < 0) continue;
        const unsigned char *b;
        int32_t e;
        if (obj_text_region(doc->data, doc->size, &o, &b, &e) < 0) return false;
        *from = o.dict_pos;
        *end = e;
        *hdr = o.hdr_pos;
        return true;
    }
    return false;
}

// The /ID of the trailer, both elements (the second as the first when it
// has one only); false when there is none.
bool trailer_ids(const pdfp_doc *doc, trailer_at t, std::string *id0, std::string *id1) {
    if (pdfp_trailer_first_id(doc->data, t.from, t.end, id0) != 0) return false;
    int32_t vs, ve;
    dict_value(doc->data, t.from, t.end, "ID", &vs, &ve);
    int32_t p = skip_ws_comments(doc->data, vs + 1, ve);
    p = string_bytes(doc->data, p, ve, id1);
    if (p < 0 || string_bytes(doc->data, skip_ws_comments(doc->data, p, ve), ve, id1) < 0) *id1 = *id0;
    return true;
}

// The version the header states ("%PDF-1.6" is 16), 14 when none can be read.
int32_t header_version(const pdfp_doc *doc) {
    const int32_t n = doc->size < 1024 ? doc->size : 1024;
    for (int32_t i = 0; i + 8 <= n; ++i)
        if (std::memcmp(doc->data + i, "%PDF-", 5) == 0 && is_digit(doc->data[i + 5]) && doc->data[i + 6] == '.' &&
            is_digit(doc->data[i + 7]))
            return (doc->data[i + 5] - '0') * 10 + (doc->data[i + 7] - '0');
    return 14;
}

// Where the object's own text ends: its "endobj", else the next object's
// header (entries are in file order), else the file's end.
int32_t text_end(const pdfp_doc *doc, int32_t k) {
    const pdfp_obj &o = doc->objs.items[k];
    if (o.endobj_pos >= 0) return o.endobj_pos;
    return k + 1 < doc->objs.count && doc->objs.items[k + 1].hdr_pos > o.hdr_pos ? doc->objs.items[k + 1].hdr_pos
                                                                                  : doc->size;
}

// Writes the object at entry k into out in the clear. 1, or 0 when out
// could not grow.
int plain_object(const pdfp_doc *doc, const pdfp_security *sec, int32_t k, pdfp_buf *out) {
    const pdfp_obj &o = doc->objs.items[k];
    const int32_t vstart = obj_value_start(doc->data, doc->size, o.hdr_pos);
    const int32_t vend = o.has_stream ? o.stream_pos : text_end(doc, k);
    if (vstart < 0 || vend < vstart) return 1;
    pdfp_crypt strings;
    pdfp_crypt_init(&strings, sec, sec->string_method, o.num, o.gen);
    pdfp_buf_int(out, o.num);
    pdfp_buf_str(out, " ");
    pdfp_buf_int(out, o.gen);
    pdfp_buf_str(out, " obj\n");
    const uint64_t text_at = out->len;
    uint32_t counter = 0;
    if (!pdfp_crypt_strings(doc->data + vstart, vend - vstart, &strings, nullptr, &counter, out)) return 0;
    if (!o.has_stream) return pdfp_buf_str(out, "\nendobj\n") != nullptr;
    // The dictionary's /Length becomes the plain length, written directly:
    // ten digits, filled in once the data is decrypted in place behind it.
    std::string dict(reinterpret_cast<const char *>(out->data + text_at), out->len - text_at);
    const unsigned char *d = reinterpret_cast<const unsigned char *>(dict.data());
    const int32_t dlen = static_cast<int32_t>(dict.size());
    const int32_t open = skip_ws_comments(d, 0, dlen);
    constexpr size_t DIGITS = 10;
    const std::string blank(DIGITS, '0');
    int32_t vs, ve;
    size_t length_at;
    if (dict_value(d, open, dlen, "Length", &vs, &ve)) {
        dict.replace(static_cast<size_t>(vs), static_cast<size_t>(ve - vs), blank);
        length_at = static_cast<size_t>(vs);
    } else if (open + 2 <= dlen) {
        dict.insert(static_cast<size_t>(open + 2), " /Length " + blank + " ");
        length_at = static_cast<size_t>(open + 2) + 9;
    } else {
        out->len = text_at;  // no dictionary: nothing the reader could take for a stream
        return pdfp_buf_str(out, "null\nendobj\n") != nullptr;
    }
    out->len = text_at;
    if (!pdfp_buf_bytes(out, dict.data(), dict.size()) || !pdfp_buf_str(out, "stream\n") ||
        !pdfp_buf_reserve(out, static_cast<uint64_t>(o.data_len)))
        return 0;
    // The data: decrypted by the stream's own method; data that does not
    // decrypt (or names a crypt filter the handler lacks) is read as none,
    // which its filters then refuse as damaged.
    const int32_t method = pdfp_stream_method(sec, doc->data, vstart, vend);
    uint64_t n = 0;
    if (method >= 0) {
        pdfp_crypt c;
        pdfp_crypt_init(&c, sec, method, o.num, o.gen);
        if (pdfp_crypt_decrypt(&c, doc->data + o.data_start, static_cast<uint64_t>(o.data_len), out->data + out->len,
                               &n) != 0)
            n = 0;
    }
    unsigned char *digits = out->data + text_at + length_at;
    for (uint64_t v = n, k = DIGITS; k-- > 0; v /= 10) digits[k] = static_cast<unsigned char>('0' + v % 10);
    out->len += n;
    return pdfp_buf_str(out, "\nendstream\nendobj\n") != nullptr;
}

// The new image: the header line, then every object in file order.
int build_image(const pdfp_doc *doc, const pdfp_security *sec, int32_t encrypt_hdr, int32_t version, pdfp_buf *out) {
    if (!pdfp_buf_init(out) || !pdfp_buf_reserve(out, static_cast<uint64_t>(doc->size) + doc->size / 8)) return 0;
    if (out->cap >= PDFP_BUF_BIG) pdfp_advise_big_pages(out->data, out->cap);
    char header[32];
    std::snprintf(header, sizeof header, "%%PDF-%d.%d\n%%\xE2\xE3\xCF\xD3\n", version / 10, version % 10);
    pdfp_buf_str(out, header);
    for (int32_t k = 0; k < doc->objs.count; ++k) {
        const pdfp_obj &o = doc->objs.items[k];
        if (o.in_objstm || o.hdr_pos < 0 || o.hdr_pos == encrypt_hdr) continue;
        if (o.has_stream && o.dict_pos >= 0 && pdfp_is_xref_stream(doc->data, o.dict_pos, o.stream_pos)) continue;
        // A buffer that failed to grow starts empty again: it must not
        // pass for the image.
        const uint64_t before = out->len;
        if (!plain_object(doc, sec, k, out) || !out->data || out->len <= before) return 0;
        if (out->len > static_cast<uint64_t>(MAX_FILE_BYTES)) return 0;
    }
    return 1;
}

}  // namespace

bool pdfp_names_encryption(const pdfp_doc *doc) { return last_encrypting_trailer(doc).from >= 0; }

int pdfp_decrypt_image(pdfp_doc *doc) {
    const trailer_at t = last_encrypting_trailer(doc);
    int32_t from, end, hdr;
    if (t.from < 0 || !encrypt_dict(doc, t, &from, &end, &hdr)) return PDFP_SECURITY_UNSUPPORTED;
    auto *e = new (std::nothrow) pdfp_encryption();
    if (!e) return PDFP_SECURITY_UNSUPPORTED;
    const bool has_id = trailer_ids(doc, t, &e->id0, &e->id1);
    // The dictionary is read from its own copy, which outlives the image
    // (the dictionary alone: the copy writes it as it stands).
    const int32_t dict_end = object_end(doc->data, from, end);
    if (dict_end > from) end = dict_end;
    e->dict_text.assign(reinterpret_cast<const char *>(doc->data + from), static_cast<size_t>(end - from));
    const unsigned char *dict = reinterpret_cast<const unsigned char *>(e->dict_text.data());
    const int status = pdfp_security_open(dict, 0, static_cast<int32_t>(e->dict_text.size()),
                                          has_id ? reinterpret_cast<const unsigned char *>(e->id0.data()) : nullptr,
                                          static_cast<int32_t>(e->id0.size()), &e->sec);
    e->version = header_version(doc);
    pdfp_buf image{};
    if (status != PDFP_SECURITY_OPEN || !build_image(doc, &e->sec, hdr, e->version, &image)) {
        pdfp_buf_free(&image);
        delete e;
        return status == PDFP_SECURITY_OPEN ? PDFP_SECURITY_UNSUPPORTED : status;
    }
    std::free(doc->data);
    doc->data = image.data;
    doc->size = static_cast<int32_t>(image.len);
    std::free(doc->objs.items);
    std::free(doc->objs.index);
    doc->objs = pdfp_objvec{};
    doc->encryption = e;
    return PDFP_SECURITY_OPEN;
}

void pdfp_encryption_free(pdfp_encryption *e) { delete e; }
