// Sealing one output object with an encrypted input's protection.
#include "seal.h"

#include <string>

#include "pdf_parse/load_steps.h"

namespace {

// Stream data gets IV counter 0; the object's strings count from 1.
constexpr uint32_t FIRST_STRING = 1;

// Appends text[0, n) with its strings sealed for object num.
bool seal_strings(const pdfp_encryption *e, int64_t num, const unsigned char *text, int32_t n, pdfp_buf *out) {
    pdfp_crypt c;
    pdfp_crypt_init(&c, &e->sec, e->sec.string_method, static_cast<int32_t>(num), 0);
    uint32_t counter = FIRST_STRING;
    return pdfp_crypt_strings(text, n, nullptr, &c, &counter, out) == 1;
}

// A stream's value, text[0, n): dictionary, "stream", data of a direct
// /Length, and what follows the data, sealed into out.
bool seal_stream(const pdfp_encryption *e, int64_t num, const unsigned char *text, int32_t n, pdfp_buf *out) {
    const int32_t d = skip_ws(text, 0, n);
    const int32_t kw = d + 1 < n && text[d] == '<' && text[d + 1] == '<' ? dict_stream_kw(text, n, d) : -1;
    int32_t vs, ve;
    if (kw < 0 || !dict_value(text, d, kw, "Length", &vs, &ve)) return false;
    int32_t p = vs;
    const int32_t len = read_int_adv(text, ve, &p);
    const int32_t data = stream_data_start(text, n, kw);
    if (p != ve || len < 0 || data < 0 || data > n || len > n - data) return false;
    const int32_t method = pdfp_stream_method(&e->sec, text, d, kw);
    if (method < 0) return false;
    pdfp_crypt c;
    pdfp_crypt_init(&c, &e->sec, method, static_cast<int32_t>(num), 0);
    const uint64_t sealed = pdfp_crypt_encrypted_len(&c, static_cast<uint64_t>(len));
    std::string dict(reinterpret_cast<const char *>(text), static_cast<size_t>(kw));
    dict.replace(static_cast<size_t>(vs), static_cast<size_t>(ve - vs), std::to_string(sealed));
    if (!seal_strings(e, num, reinterpret_cast<const unsigned char *>(dict.data()), static_cast<int32_t>(dict.size()),
                      out) ||
        !pdfp_buf_str(out, "stream\n") || !pdfp_buf_reserve(out, sealed))
        return false;
    // Straight into the buffer: no copy of the data on the way.
    pdfp_crypt_encrypt(&c, 0, text + data, static_cast<uint64_t>(len), out->data + out->len);
    out->len += sealed;
    out->data[out->len] = 0;
    return pdfp_buf_bytes(out, text + data + len, static_cast<uint64_t>(n - data - len)) != nullptr;
}

}  // namespace

bool seal_object(const pdfp_encryption *e, int64_t num, bool is_stream, pdfp_buf *buf, uint64_t at,
                 pdfp_buf *scratch) {
    if (buf->len - at > static_cast<uint64_t>(INT32_MAX)) return false;
    if (!scratch->data && !pdfp_buf_init(scratch)) return false;
    scratch->len = 0;
    const auto n = static_cast<int32_t>(buf->len - at);
    const bool ok = is_stream ? seal_stream(e, num, buf->data + at, n, scratch)
                              : seal_strings(e, num, buf->data + at, n, scratch);
    buf->len = at;
    return ok && pdfp_buf_bytes(buf, scratch->data, scratch->len) != nullptr;
}

void seal_stream_data(const pdfp_encryption *e, int64_t num, std::vector<unsigned char> *data) {
    pdfp_crypt c;
    pdfp_crypt_init(&c, &e->sec, e->sec.stream_method, static_cast<int32_t>(num), 0);
    std::vector<unsigned char> sealed(pdfp_crypt_encrypted_len(&c, data->size()));
    pdfp_crypt_encrypt(&c, 0, data->data(), data->size(), sealed.data());
    data->swap(sealed);
}
