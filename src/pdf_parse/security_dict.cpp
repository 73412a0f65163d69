// Reading an /Encrypt dictionary of the standard handler, the trailer's
// /ID, and what a stream's dictionary says about its own encryption. All
// values are read strictly with dict_value: an entry that damage hides is
// absent, and a dictionary without its required entries is refused.
#include <cstring>

#include "scan.h"
#include "security.h"

namespace {

// The integer value of key: true with *out; false when absent or no integer.
bool int_value(const unsigned char *b, int32_t from, int32_t end, const char *key, int32_t *out) {
    int32_t vs, ve;
    if (!dict_value(b, from, end, key, &vs, &ve)) return false;
    int32_t p = vs;
    *out = read_int_adv(b, ve, &p);
    return p == ve;
}

// Whether the value of key is the name /name.
bool name_value_is(const unsigned char *b, int32_t from, int32_t end, const char *key, const char *name) {
    int32_t vs, ve;
    return dict_value(b, from, end, key, &vs, &ve) && b[vs] == '/' && name_is(b, vs, ve, name);
}

// The name token [p, e) without its slash, #xx escapes decoded.
std::string name_text(const unsigned char *b, int32_t p, int32_t e) {
    std::string s;
    for (int32_t i = p + 1; i < e; ++i) {
        if (b[i] == '#' && i + 2 < e && hex_value(b[i + 1]) >= 0 && hex_value(b[i + 2]) >= 0) {
            s.push_back(static_cast<char>(hex_value(b[i + 1]) << 4 | hex_value(b[i + 2])));
            i += 2;
        } else {
            s.push_back(static_cast<char>(b[i]));
        }
    }
    return s;
}

// The name value of key into *out: 1; 0 when absent; -1 when not a name.
int name_value(const unsigned char *b, int32_t from, int32_t end, const char *key, std::string *out) {
    int32_t vs, ve;
    if (!dict_value(b, from, end, key, &vs, &ve)) return 0;
    if (b[vs] != '/') return -1;
    *out = name_text(b, vs, ve);
    return 1;
}

// At least need bytes of the string value of key into dst (the first need
// of them): false when absent, no string or shorter.
bool string_value(const unsigned char *b, int32_t from, int32_t end, const char *key, unsigned char *dst, size_t need) {
    int32_t vs, ve;
    std::string s;
    if (!dict_value(b, from, end, key, &vs, &ve) || string_bytes(b, vs, ve, &s) != ve || s.size() < need) return false;
    std::memcpy(dst, s.data(), need);
    return true;
}

// The dictionary value of key, opening at *vs: false when absent or no dictionary.
bool dict_entry(const unsigned char *b, int32_t from, int32_t end, const char *key, int32_t *vs, int32_t *ve) {
    return dict_value(b, from, end, key, vs, ve) && *ve - *vs >= 2 && b[*vs] == '<' && b[*vs + 1] == '<';
}

// The method of the crypt filter called name in the /CF of the /Encrypt
// dictionary [from, end) for version v, or -1. The methods belong to their
// versions: /V2 and /AESV2 to 4, /AESV3 to 5.
int32_t crypt_filter_method(const unsigned char *b, int32_t from, int32_t end, int32_t v, const std::string &name) {
    if (name == "Identity") return PDFP_CRYPT_IDENTITY;
    int32_t cs, ce, fs, fe;
    if (name.empty() || name.find('\0') != std::string::npos || !dict_entry(b, from, end, "CF", &cs, &ce) ||
        !dict_entry(b, cs, ce, name.c_str(), &fs, &fe))
        return -1;
    if (v == 4 && name_value_is(b, fs, fe, "CFM", "V2")) return PDFP_CRYPT_RC4;
    if (v == 4 && name_value_is(b, fs, fe, "CFM", "AESV2")) return PDFP_CRYPT_AESV2;
    if (v == 5 && name_value_is(b, fs, fe, "CFM", "AESV3")) return PDFP_CRYPT_AESV3;
    return -1;
}

// The method of the filter that key (/StmF, /StrF, /EFF) names, fallback
// when it names none; -1 for an unknown one.
int32_t named_method(const unsigned char *b, int32_t from, int32_t end, int32_t v, const char *key, int32_t fallback) {
    std::string name;
    int r = name_value(b, from, end, key, &name);
    if (r == 0) return fallback;
    return r < 0 ? -1 : crypt_filter_method(b, from, end, v, name);
}

// The crypt filters of versions 4 and 5; the older versions use RC4 for all.
bool read_methods(const unsigned char *b, int32_t from, int32_t end, pdfp_security *sec) {
    if (sec->v < 4) {
        sec->string_method = sec->stream_method = sec->embedded_method = PDFP_CRYPT_RC4;
        return true;
    }
    sec->stream_method = named_method(b, from, end, sec->v, "StmF", PDFP_CRYPT_IDENTITY);
    sec->string_method = named_method(b, from, end, sec->v, "StrF", PDFP_CRYPT_IDENTITY);
    sec->embedded_method = named_method(b, from, end, sec->v, "EFF", sec->stream_method);
    return sec->stream_method >= 0 && sec->string_method >= 0 && sec->embedded_method >= 0;
}

// Bytes of the file key. /Length counts bits (40..128, a multiple of 8)
// for versions 2 and 4; revision 2 keys are 5 bytes whatever it says.
// AESV2 needs 16. A version 4 dictionary without /Length: the crypt
// filter's /Length (bytes when at most 16, as Acrobat writes them, else
// bits), else 128 bits, as viewers take it.
int32_t key_bytes(const unsigned char *b, int32_t from, int32_t end, const pdfp_security *sec) {
    if (sec->v == 5) return 32;
    if (sec->r == 2 || sec->v == 1) return 5;
    if (sec->stream_method == PDFP_CRYPT_AESV2 || sec->string_method == PDFP_CRYPT_AESV2) return 16;
    int32_t bits = 40;
    if (!int_value(b, from, end, "Length", &bits) && sec->v == 4) {
        bits = 128;
        int32_t cs, ce, fs, fe, n;
        if (dict_entry(b, from, end, "CF", &cs, &ce) && dict_entry(b, cs, ce, "StdCF", &fs, &fe) &&
            int_value(b, fs, fe, "Length", &n))
            bits = n <= 16 ? 8 * n : n;
    }
    return (bits >= 40 && bits <= 128 && bits % 8 == 0) ? bits / 8 : -1;
}

// The versions and revisions this handler knows, in their published pairs.
bool known_version(int32_t v, int32_t r) {
    if (v == 1 || v == 2) return r == 2 || r == 3;
    if (v == 4) return r == 4;
    return v == 5 && (r == 5 || r == 6);
}

// /O, /U, and for revisions 5-6 /OE, /UE, /Perms. Longer /O and /U occur;
// only their first bytes count, as viewers read them.
bool read_passwords(const unsigned char *b, int32_t from, int32_t end, pdfp_security *sec) {
    const size_t ou = sec->r >= 5 ? PDFP_OU_BYTES_R6 : PDFP_OU_BYTES_R4;
    if (!string_value(b, from, end, "O", sec->o, ou) || !string_value(b, from, end, "U", sec->u, ou)) return false;
    if (sec->r < 5) return true;
    sec->has_perms = string_value(b, from, end, "Perms", sec->perms, PDFP_PERMS_BYTES);
    return string_value(b, from, end, "OE", sec->oe, PDFP_OUE_BYTES) &&
           string_value(b, from, end, "UE", sec->ue, PDFP_OUE_BYTES) && (sec->has_perms || sec->r == 5);
}

// Whether the dictionary [from, end) has /Type /name.
bool type_is(const unsigned char *b, int32_t from, int32_t end, const char *name) {
    return name_value_is(b, from, end, "Type", name);
}

}  // namespace

int pdfp_security_read(const unsigned char *b, int32_t from, int32_t end, pdfp_security *sec) {
    *sec = pdfp_security{};
    sec->dict = b;
    sec->dict_from = from;
    sec->dict_end = end;
    if (!name_value_is(b, from, end, "Filter", "Standard")) return -1;
    if (!int_value(b, from, end, "V", &sec->v) || !int_value(b, from, end, "R", &sec->r) ||
        !known_version(sec->v, sec->r) || !int_value(b, from, end, "P", &sec->p))
        return -1;
    // Only versions 4 and 5 may leave metadata in the clear.
    int32_t vs, ve;
    sec->encrypt_metadata = sec->v < 4 || !dict_value(b, from, end, "EncryptMetadata", &vs, &ve) ||
                            !(ve - vs == 5 && std::memcmp(b + vs, "false", 5) == 0);
    if (!read_methods(b, from, end, sec)) return -1;
    sec->key_len = key_bytes(b, from, end, sec);
    if (sec->key_len < 0 || !read_passwords(b, from, end, sec)) return -1;
    return 0;
}

int pdfp_trailer_first_id(const unsigned char *b, int32_t from, int32_t end, std::string *id) {
    int32_t vs, ve;
    if (!dict_value(b, from, end, "ID", &vs, &ve) || b[vs] != '[') return -1;
    int32_t p = skip_ws_comments(b, vs + 1, ve);
    return string_bytes(b, p, ve, id) < 0 ? -1 : 0;
}

bool pdfp_is_xref_stream(const unsigned char *b, int32_t from, int32_t end) { return type_is(b, from, end, "XRef"); }
bool pdfp_is_metadata_stream(const unsigned char *b, int32_t from, int32_t end) {
    return type_is(b, from, end, "Metadata");
}
bool pdfp_is_embedded_file(const unsigned char *b, int32_t from, int32_t end) {
    return type_is(b, from, end, "EmbeddedFile");
}

int pdfp_stream_crypt_filter(const unsigned char *b, int32_t from, int32_t end, std::string *name) {
    int32_t vs, ve;
    if (!dict_value(b, from, end, "Filter", &vs, &ve)) return 0;
    // Which filter of the chain is /Crypt (the standard puts it first, but
    // any place is read).
    int32_t k = -1;
    if (b[vs] == '/') {
        if (!name_is(b, vs, ve, "Crypt")) return 0;
        k = 0;
    } else if (b[vs] == '[') {
        int32_t i = 0;
        for (int32_t p = skip_ws_comments(b, vs + 1, ve); p < ve && b[p] != ']'; p = skip_ws_comments(b, p, ve), ++i) {
            int32_t e = object_end(b, p, ve);
            if (e < 0) return -1;
            if (b[p] == '/' && name_is(b, p, e, "Crypt")) {
                k = i;
                break;
            }
            p = e;
        }
        if (k < 0) return 0;
    } else {
        return 0;  // an indirect /Filter names no crypt filter we could read; decoding refuses it
    }
    *name = "Identity";
    int32_t ps, pe;
    if (!dict_value(b, from, end, "DecodeParms", &ps, &pe)) return 1;
    if (b[ps] == '[') {
        // The k-th element of the parameters array.
        int32_t p = skip_ws_comments(b, ps + 1, pe);
        for (int32_t i = 0; i < k && p < pe && b[p] != ']'; ++i) {
            int32_t e = object_end(b, p, pe);
            if (e < 0) return -1;
            p = skip_ws_comments(b, e, pe);
        }
        if (p >= pe || b[p] == ']') return 1;
        ps = p;
        pe = object_end(b, p, pe);
        if (pe < 0) return -1;
    }
    if (pe - ps < 2 || b[ps] != '<' || b[ps + 1] != '<') return 1;  // null: the default
    return name_value(b, ps, pe, "Name", name) < 0 ? -1 : 1;
}

int32_t pdfp_stream_method(const pdfp_security *sec, const unsigned char *b, int32_t from, int32_t end) {
    if (pdfp_is_xref_stream(b, from, end)) return PDFP_CRYPT_IDENTITY;
    std::string name;
    int named = pdfp_stream_crypt_filter(b, from, end, &name);
    if (named < 0) return -1;
    if (named > 0) return crypt_filter_method(sec->dict, sec->dict_from, sec->dict_end, sec->v, name);
    if (!sec->encrypt_metadata && pdfp_is_metadata_stream(b, from, end)) return PDFP_CRYPT_IDENTITY;
    return pdfp_is_embedded_file(b, from, end) ? sec->embedded_method : sec->stream_method;
}
