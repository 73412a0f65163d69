// The object emitter: the output file image and the objects in it. Every
// byte of the output goes through the out_* calls; every object is written
// between begin_object (or begin_stream_object) and end_object, which
// record where it stands, or - in the packed layout - put objects without a
// stream into Flate-compressed object streams. The file ends with the
// cross-reference table (or stream) and trailer made from those records.
// It knows nothing of what the objects mean: the assembly (writer.cpp)
// decides what to write and under which numbers.
//
// Results: the out_* calls return nothing; a failed append sets
// out_buf::failed, which the assembly checks once at the end.
#ifndef EMITTER_H
#define EMITTER_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "deflate.h"
#include "pdf_parse.h"

struct pdfp_encryption;

// Plain objects on their way into object streams. While one is being
// written, the out_* calls append to text instead of the file image; each
// stream is compressed as soon as it is full, and the streams are numbered
// and written behind every other object, so that objects may be emitted in
// any order and under any numbers.
struct packed_stream {
    int32_t count;              // objects in it
    int64_t first;              // /First: where the first object's text begins
    std::vector<unsigned char> data;  // Flate-compressed
};

struct obj_packer {
    pdfp_buf text{};            // the open stream's object texts, one after another
    std::string whole;          // the open stream's header and texts, reused stream after stream
    std::vector<std::pair<int64_t, uint64_t>> open;  // its objects: number, start in text
    pdfp_buf *file = nullptr;   // the file image while an object is being packed
    int64_t current = -1;       // the object being packed
    uint64_t current_at = 0;
    std::vector<packed_stream> done;
    // By object number, where a packed object went: stream ordinal and
    // index inside it; -1 for an object written plainly.
    std::vector<std::pair<int32_t, int32_t>> at = {};
    obj_packer() = default;
    obj_packer(const obj_packer &) = delete;
    obj_packer &operator=(const obj_packer &) = delete;
    ~obj_packer() { pdfp_buf_free(&text); }
};

struct pdfp_buf_release {
    void operator()(pdfp_buf *b) const {
        pdfp_buf_free(b);
        delete b;
    }
};

// The output file image. After the first failed append nothing more is
// appended and failed stays set: a buffer that could not grow loses its
// content, and a later append must not start it afresh behind our back.
// An append that would take the length past limit fails the same way.
struct out_buf {
    pdfp_buf *buf;
    bool failed;
    uint64_t limit = MAX_FILE_BYTES;  // cross-reference offsets are 32-bit
    // Where each object begins, by object number (-1: not written); the
    // cross-reference table is made from it.
    std::vector<int64_t> offsets = {};
    std::unique_ptr<obj_packer> packer = nullptr;  // null: the classic layout
    // The encoder's tables, kept for every stream this output compresses,
    // and the room it writes into before a stream's bytes are kept: fresh
    // storage for each stream cost more in page faults than the encoding.
    deflate_scratch deflate_tables = {};
    std::vector<unsigned char> deflate_out = {};
    // The protection of an encrypted input, which every object written
    // plainly takes (its strings and stream data sealed at end_object with
    // its number), and the object streams; null: the output is in the clear.
    const pdfp_encryption *crypt = nullptr;
    int64_t sealing = -1;    // the plain object being written, -1 for none (or one left in the clear)
    uint64_t sealing_at = 0;  // where its value begins
    bool sealing_stream = false;
    std::unique_ptr<pdfp_buf, pdfp_buf_release> seal_scratch{new pdfp_buf{}};
    // Where the file image goes as it grows, when set: what stands before
    // a plain object once a good piece has gathered, and long stream data
    // straight from where it lies, so that the image is never held whole.
    // buf then holds only what was not yet handed on; sunk counts the rest.
    // A false return fails the output (sink_failed tells that its message
    // is recorded).
    bool (*sink)(void *ctx, const unsigned char *p, uint64_t n) = nullptr;
    void *sink_ctx = nullptr;
    uint64_t sunk = 0;
    bool sink_failed = false;
};

void out_bytes(out_buf *o, const void *p, uint64_t n);
void out_str(out_buf *o, const char *s);
void out_str(out_buf *o, const std::string &s);
// Decimal integer.
void out_int(out_buf *o, int64_t v);
// A real number through pdfp_fmt_num.
void out_num(out_buf *o, double x);
// The reference "num 0 R".
void out_ref(out_buf *o, int64_t num);
// Current length: the offset of the next byte in the file.
uint64_t out_len(const out_buf *o);
// Hands everything written so far to the sink, if there is one.
void out_flush(out_buf *o);

// Every output object is written between a begin and end_object.
// begin_object records where object num begins and writes its header
// "num 0 obj\n"; end_object writes "endobj\n" after the object's value.
// An object whose value is a stream begins with begin_stream_object: only
// objects without a stream may ever be packed into an object stream, which
// begin_object does when o->packer is set (out_len then counts in the
// stream's text, not in the file).
void begin_object(out_buf *o, int64_t num);
void begin_stream_object(out_buf *o, int64_t num);
void end_object(out_buf *o);
// An object that stays in the clear though the output is encrypted (the
// /Encrypt dictionary), never packed.
void begin_clear_object(out_buf *o, int64_t num);

// The file header: PDF 1.4, or 1.5 when objects are packed (object streams
// and cross-reference streams came with 1.5), or the version of an
// encrypted input when that is higher, and the binary comment line.
void append_file_header(out_buf *o);
// The file's end: the cross-reference table and trailer, or in the packed
// layout the object streams and a cross-reference stream that carries the
// trailer's entries. root: the catalog's number; extra: further trailer
// entries (" /Key value..."), empty for none.
void append_xref_and_trailer(out_buf *o, int64_t root, const std::string &extra);

#endif
