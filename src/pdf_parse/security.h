// security: the standard security handler of encrypted files, revisions 2
// to 6, as the reader sees it: the values of an /Encrypt dictionary, the
// file key that the empty user password gives, the permissions, which
// streams are never encrypted, and one string's or one stream's data of one
// object decrypted for reading or encrypted for output. It reads dictionary
// text with the scanners of scan.h and uses the ciphers and hashes of the
// low floor (md5, rc4, aes, sha2); it knows nothing of loading or writing a
// document.
//
// Return convention: functions that can fail return 0 for success and -1
// for failure, except pdfp_security_open (a pdfp_security_status) and
// pdfp_stream_method (a pdfp_crypt_method, or -1); predicates return bool.
// Records are plain and belong to the caller; nothing is allocated but the
// caller's std::string.
#ifndef PDF_PARSE_SECURITY_H
#define PDF_PARSE_SECURITY_H

#include <cstdint>
#include <string>

#include "aes.h"
#include "pdf_parse.h"

// How the strings or the streams of a document are encrypted.
enum pdfp_crypt_method {
    PDFP_CRYPT_IDENTITY = 0,  // not at all (the /Identity crypt filter)
    PDFP_CRYPT_RC4 = 1,       // RC4 with the object's key (/V 1 and 2, /CFM /V2)
    PDFP_CRYPT_AESV2 = 2,     // AES-128-CBC with the object's key (/CFM /AESV2)
    PDFP_CRYPT_AESV3 = 3,     // AES-256-CBC with the file key (/CFM /AESV3)
};

// What the empty user password does for a document.
enum pdfp_security_status {
    PDFP_SECURITY_OPEN = 0,            // it opens the document: the file key is known
    PDFP_SECURITY_NEEDS_PASSWORD = 1,  // only another password would (user or owner; none is tried)
    PDFP_SECURITY_UNSUPPORTED = 2,     // another handler, unknown /V, /R or /CFM, or damage
};

// Sizes the format fixes: the padded password, /O and /U of revisions 2-4
// (32 bytes) and 5-6 (48: hash, validation salt, key salt), /OE and /UE,
// /Perms, the longest file key.
constexpr int PDFP_PASSWORD_PAD_BYTES = 32;
constexpr int PDFP_OU_BYTES_R4 = 32;
constexpr int PDFP_OU_BYTES_R6 = 48;
constexpr int PDFP_OUE_BYTES = 32;
constexpr int PDFP_PERMS_BYTES = 16;
constexpr int PDFP_FILE_KEY_MAX = 32;

// The "modify contents" permission: bit 4 of /P, counted from 1.
constexpr int32_t PDFP_PERMIT_MODIFY = 8;

// An /Encrypt dictionary of the standard handler, read and opened.
struct pdfp_security {
    int32_t v;                 // /V: 1, 2, 4 or 5
    int32_t r;                 // /R: 2 to 6
    int32_t p;                 // /P, a signed 32-bit integer
    int32_t key_len;           // bytes of the file key: 5..16 (R2-R4), 32 (R5-R6)
    bool encrypt_metadata;     // /EncryptMetadata; true when absent
    int32_t string_method;     // pdfp_crypt_method of strings (/StrF)
    int32_t stream_method;     // of streams (/StmF)
    int32_t embedded_method;   // of embedded file streams (/EFF, else /StmF)
    unsigned char o[PDFP_OU_BYTES_R6];  // /O and /U; R2-R4 use the first 32 bytes
    unsigned char u[PDFP_OU_BYTES_R6];
    unsigned char oe[PDFP_OUE_BYTES];    // /OE, /UE and /Perms: R5-R6 only
    unsigned char ue[PDFP_OUE_BYTES];
    unsigned char perms[PDFP_PERMS_BYTES];
    bool has_perms;
    unsigned char key[PDFP_FILE_KEY_MAX];  // the file key, once opened
    // The dictionary's text (borrowed: valid as long as the caller's
    // bytes), where the crypt filters a stream names itself are looked up.
    const unsigned char *dict;
    int32_t dict_from, dict_end;
};

// ---------------------------------------------------------------------------
// The /Encrypt dictionary and the file key (security_dict.cpp, security_key.cpp)
// ---------------------------------------------------------------------------

// Reads the /Encrypt dictionary that opens at buf[from] (bound end) into
// *sec, the key not yet known: 0, or -1 when it is not the standard handler
// or not one this reader knows (/V, /R, /CFM), or damaged (/O or /U missing
// or short, /P missing, an unreadable value).
int pdfp_security_read(const unsigned char *buf, int32_t from, int32_t end, pdfp_security *sec);
// Tries the empty user password on a read dictionary; id is the first
// element of the trailer's /ID (null when there is none), which revisions
// 2-4 mix into the key. A pdfp_security_status; sec->key is set when OPEN.
// Revisions 2-4 without an /ID, and revisions 5-6 whose /Perms does not
// confirm /P and /EncryptMetadata, are UNSUPPORTED.
int pdfp_security_authenticate(pdfp_security *sec, const unsigned char *id, int32_t id_len);
// Both steps: a pdfp_security_status.
int pdfp_security_open(const unsigned char *buf, int32_t from, int32_t end, const unsigned char *id,
                       int32_t id_len, pdfp_security *sec);
// Whether /P grants changing the document's content.
inline bool pdfp_security_may_modify(const pdfp_security *sec) { return (sec->p & PDFP_PERMIT_MODIFY) != 0; }
// The first element of the /ID array of the trailer dictionary that opens
// at buf[from] (bound end) into *id: 0, or -1 when there is none.
int pdfp_trailer_first_id(const unsigned char *buf, int32_t from, int32_t end, std::string *id);

// ---------------------------------------------------------------------------
// Streams never encrypted (security_dict.cpp)
// ---------------------------------------------------------------------------
// Strings are all encrypted with sec->string_method but those the caller
// leaves alone: the /Encrypt dictionary's, the trailer's (and so /ID) and
// the cross-reference stream dictionary's. Objects inside object streams
// are not encrypted again; the object stream is.

// Whether the stream dictionary at buf[from] (bound end) is that of a
// cross-reference stream (/Type /XRef), of a metadata stream (/Type
// /Metadata), of an embedded file (/Type /EmbeddedFile).
bool pdfp_is_xref_stream(const unsigned char *buf, int32_t from, int32_t end);
bool pdfp_is_metadata_stream(const unsigned char *buf, int32_t from, int32_t end);
bool pdfp_is_embedded_file(const unsigned char *buf, int32_t from, int32_t end);
// The crypt filter that the stream's own /Filter names (a /Crypt filter,
// its /DecodeParms /Name, /Identity when none) into *name: 1, 0 when the
// stream names none, -1 when its /Filter or /DecodeParms is damaged.
int pdfp_stream_crypt_filter(const unsigned char *buf, int32_t from, int32_t end, std::string *name);
// How the data of the stream whose dictionary opens at buf[from] (bound
// end) is encrypted: a pdfp_crypt_method (IDENTITY for a cross-reference
// stream, a stream naming the /Identity crypt filter, a metadata stream
// when /EncryptMetadata is false), or -1 when it names an unknown crypt
// filter or its /Filter is damaged.
int32_t pdfp_stream_method(const pdfp_security *sec, const unsigned char *buf, int32_t from, int32_t end);

// ---------------------------------------------------------------------------
// One object's strings and streams (security_crypt.cpp)
// ---------------------------------------------------------------------------

// The key of one object for one method, made once for all its strings or
// its stream: the object key of revisions 2-4 (MD5 of the file key, the
// number's 3 low bytes, the generation's 2, "sAlT" for AES; the first
// min(key_len + 5, 16) bytes), the file key itself for revisions 5-6.
struct pdfp_crypt {
    int32_t method;  // pdfp_crypt_method
    unsigned char key[PDFP_FILE_KEY_MAX];
    int32_t key_len;
    aes_key aes;                    // expanded, for the AES methods
    unsigned char iv_seed[32];      // where the object's output IVs come from
};

// Makes the key of object num, generation gen for method (one of the
// document's: sec->string_method, or what pdfp_stream_method gave).
void pdfp_crypt_init(pdfp_crypt *c, const pdfp_security *sec, int32_t method, int32_t num, int32_t gen);
// Decrypts in[0, n) into out, which may equal in (in place): 0 with
// *out_len bytes (n for RC4; AES: n - 16 less the padding), or -1 for data
// that cannot be AES (shorter than 16 bytes, not a multiple of 16, bad
// padding), which the caller treats as damaged; out's bytes are then
// undefined. Identity copies.
int pdfp_crypt_decrypt(const pdfp_crypt *c, const unsigned char *in, uint64_t n, unsigned char *out,
                       uint64_t *out_len);
// The bytes that encrypting n bytes makes: n, or for AES the 16-byte IV
// and the padded data.
uint64_t pdfp_crypt_encrypted_len(const pdfp_crypt *c, uint64_t n);
// Encrypts in[0, n) into out (pdfp_crypt_encrypted_len bytes; for AES out
// must not overlap in). The AES IV is the first 16 bytes of a SHA-256 of
// the file key, the object and counter, which numbers the strings and
// streams within one object: the same input gives the same bytes on every
// run and platform, and nobody without the key can foresee the IVs.
void pdfp_crypt_encrypt(const pdfp_crypt *c, uint32_t counter, const unsigned char *in, uint64_t n,
                        unsigned char *out);
// Appends text[0, len), an object's text (a stream's dictionary, never its
// data), to out with every string in it (not those in comments) decrypted
// with from (null: taken as it stands), then encrypted with to (null: left
// plain) with IVs counted on from *counter, and written as a hexadecimal
// string. A string that does not decrypt becomes empty, as damaged data
// does; a string still open at the end is left as it stands. 1, or 0 when
// out could not grow (out is then of no further use).
int pdfp_crypt_strings(const unsigned char *text, int32_t len, const pdfp_crypt *from, const pdfp_crypt *to,
                       uint32_t *counter, pdfp_buf *out);

// ---------------------------------------------------------------------------
// The document in the clear (plain_image.cpp)
// ---------------------------------------------------------------------------

// What an encrypted document keeps of its protection once it is read in the
// clear, for the writer to put back: the handler with its file key, the
// /Encrypt dictionary's text (sec.dict points into it), the trailer's /ID,
// and the header version ("1.6" is 16, "2.0" is 20).
struct pdfp_encryption {
    pdfp_security sec;
    std::string dict_text;
    std::string id0, id1;
    int32_t version;
};

// Rewrites the image of an encrypted document (doc->encrypted set, the
// file's own objects in the table, none from object streams yet) in the
// clear: every object of the file but the cross-reference streams and the
// /Encrypt dictionary, its strings and stream data decrypted, each stream
// with a direct /Length. Then doc->data is the new image, the table is
// empty for the loader to scan again, and doc->encryption is set. A
// pdfp_security_status: on anything but OPEN the document is unchanged.
int pdfp_decrypt_image(pdfp_doc *doc);
// Whether any trailer of the file (classic, or a cross-reference stream's
// dictionary) names /Encrypt, found or not by the trailer chain: its data
// must not be taken for plain data.
bool pdfp_names_encryption(const pdfp_doc *doc);
// Releases what pdfp_decrypt_image made.
void pdfp_encryption_free(pdfp_encryption *e);

#endif
