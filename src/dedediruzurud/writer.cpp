// The numbered-document writer. It checks the label's appearance and the
// page range, lists the objects to copy, assembles the whole output in one
// buffer - header, catalog, page tree, for every page its page object, form
// and content stream, the copies, the font, cross-reference table and
// trailer - and only then writes the file (output_file.cpp), which replaces
// the output only once it is complete.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "deflate.h"
#include "dedediruzurud_internal.h"
#include "output_file.h"
#include "writer_parts.h"

// ---------------------------------------------------------------------------
// Output buffer and objects
// ---------------------------------------------------------------------------

void out_bytes(out_buf *o, const void *p, uint64_t n) {
    if (o->failed) return;
    if (n > o->limit - o->buf->len || !pdfp_buf_bytes(o->buf, p, n)) o->failed = true;
}

void out_str(out_buf *o, const char *s) { out_bytes(o, s, std::strlen(s)); }

void out_str(out_buf *o, const std::string &s) { out_bytes(o, s.data(), s.size()); }

void out_int(out_buf *o, int64_t v) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    out_bytes(o, tmp, static_cast<uint64_t>(r.ptr - tmp));
}

void out_num(out_buf *o, double x) { out_str(o, fmt_num(x)); }

void out_ref(out_buf *o, int64_t num) {
    out_int(o, num);
    out_str(o, " 0 R");
}

uint64_t out_len(const out_buf *o) { return o->buf->len; }

namespace {

// An object stream is closed once it holds this many objects or this many
// bytes of text: big enough to compress well, small enough that a reader
// fetching one object inflates little.
constexpr size_t PACK_MAX_OBJECTS = 200;
constexpr uint64_t PACK_MAX_TEXT = 256 * 1024;
// Readers bound one packed object's text (ours at 1 MiB); a longer object
// (a page tree of a hundred thousand pages) is written plainly instead.
constexpr uint64_t PACK_MAX_OBJECT = 1000 * 1000;

void begin_plain(out_buf *o, int64_t num) {
    o->offsets[static_cast<size_t>(num)] = static_cast<int64_t>(o->buf->len);
    out_int(o, num);
    out_str(o, " 0 obj\n");
}

void mark_packed(obj_packer *p, int64_t num, int32_t stream, int32_t index) {
    if (static_cast<size_t>(num) >= p->at.size()) p->at.resize(static_cast<size_t>(num) + 1, {-1, -1});
    p->at[static_cast<size_t>(num)] = {stream, index};
}

// Flate through our encoder; false when its tables cannot be had.
bool compress(out_buf *o, const unsigned char *src, uint64_t n, std::vector<unsigned char> *dst) {
    dst->resize(static_cast<size_t>(deflate_bound(n)));
    uint64_t produced = 0;
    if (deflate_compress(src, n, dst->data(), dst->size(), &produced, &o->deflate_tables) != 0) return false;
    dst->resize(static_cast<size_t>(produced));
    return true;
}

// Compresses the open stream's objects, behind their header of number and
// offset pairs, into a finished stream.
void close_stream(out_buf *o) {
    obj_packer *p = o->packer.get();
    if (p->open.empty() || o->failed) return;
    std::string head;
    for (const auto &[num, at] : p->open) {
        head += std::to_string(num) + " " + std::to_string(at) + " ";
    }
    head.back() = '\n';
    std::vector<unsigned char> whole(head.size() + p->text.len);
    std::memcpy(whole.data(), head.data(), head.size());
    if (p->text.len) std::memcpy(whole.data() + head.size(), p->text.data, p->text.len);
    packed_stream done{static_cast<int32_t>(p->open.size()), static_cast<int64_t>(head.size()), {}};
    if (!compress(o, whole.data(), whole.size(), &done.data)) {
        o->failed = true;
        return;
    }
    auto stream = static_cast<int32_t>(p->done.size());
    for (size_t k = 0; k < p->open.size(); ++k) mark_packed(p, p->open[k].first, stream, static_cast<int32_t>(k));
    p->done.push_back(std::move(done));
    p->open.clear();
    p->text.len = 0;
}

bool pdf_space(unsigned char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }

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
        out_str(o, "endobj\n");
        p->text.len = p->current_at;
        return;
    }
    // Texts stand back to back: a separator keeps "5" and "6" from reading as "56".
    if (n == 0 || !pdf_space(p->text.data[p->text.len - 1])) {
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
    // Not yet in the file: -1 until the streams are written.
    o->offsets[static_cast<size_t>(num)] = -1;
    p->file = o->buf;
    p->current = num;
    p->current_at = p->text.len;
    o->buf = &p->text;
}

void begin_stream_object(out_buf *o, int64_t num) { begin_plain(o, num); }

void end_object(out_buf *o) {
    if (o->packer && o->packer->current >= 0)
        end_packed(o);
    else
        out_str(o, "endobj\n");
}

std::string fmt_num(double x) {
    char tmp[512];  // room for the longest double with four decimals
    int n = pdfp_fmt_f(tmp, sizeof tmp, x);
    return std::string(tmp, static_cast<size_t>(n) < sizeof tmp ? static_cast<size_t>(n) : sizeof tmp - 1);
}

namespace {

// Every page's content stream first draws the wrapped page.
constexpr char DRAW_FORM[] = "q /Fm1 Do Q\n";
constexpr int64_t DRAW_FORM_LEN = sizeof DRAW_FORM - 1;
constexpr int MAX_POSITION = 5;
constexpr int MAX_COMPONENT = 255;
constexpr double DEFAULT_FONT_SIZE = 12;
constexpr double MAX_FONT_SIZE = 300;
// About what a page adds to the output beyond its input: page object, form
// and content headers, label.
constexpr uint64_t PAGE_OVERHEAD = 1024;

// ---------------------------------------------------------------------------
// Assembly
// ---------------------------------------------------------------------------

struct build_job {
    const pdfp_doc *doc;
    label_look look;          // checked, the size adjusted
    page_selection labelled;  // clipped to the document, total filled in
    int32_t page_count;
};

// The argument checks, in order; false with the message recorded.
bool check_args(build_job *j) {
    label_look *look = &j->look;
    if (static_cast<unsigned>(look->position) > MAX_POSITION) {
        set_error(MSG_BAD_POSITION, look->position);
        return false;
    }
    if (static_cast<unsigned>(look->red) > MAX_COMPONENT || static_cast<unsigned>(look->blue) > MAX_COMPONENT ||
        static_cast<unsigned>(look->green) > MAX_COMPONENT) {
        set_error(MSG_BAD_COLOUR);
        return false;
    }
    // Not positive (or not a number at all) means the default.
    if (!(look->font_size > 0)) look->font_size = DEFAULT_FONT_SIZE;
    if (look->font_size > MAX_FONT_SIZE) look->font_size = MAX_FONT_SIZE;
    page_selection *sel = &j->labelled;
    j->page_count = j->doc->pages.count;
    if (sel->total < 0) sel->total = j->page_count;
    if (j->page_count < 1) {
        set_error(MSG_NO_PAGES);
        return false;
    }
    if (sel->first_index < 0) sel->first_index = 0;
    if (sel->last_index >= j->page_count) sel->last_index = j->page_count - 1;
    if (sel->last_index < sel->first_index) {
        // long long: a 32-bit long (Windows) could not show first_index + 1.
        set_error(MSG_EMPTY_PAGE_RANGE, static_cast<long long>(sel->first_index) + 1,
                  static_cast<long long>(sel->last_index) + 1, static_cast<long long>(j->page_count));
        return false;
    }
    return true;
}

// Object streams and cross-reference streams came with PDF 1.5.
void append_header(out_buf *o) {
    out_str(o, o->packer ? "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n" : "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
}

// The catalog carries the input catalog's document-level entries (outlines,
// names, labels, form ...) after its own.
void append_catalog_and_tree(const pdfp_doc *doc, const copy_table *table, out_buf *o, int32_t page_count) {
    begin_object(o, CATALOG_OBJ);
    out_str(o, "<< /Type /Catalog /Pages ");
    out_ref(o, PAGE_TREE_OBJ);
    append_carried(doc, table, input_catalog(doc), CARRY_CATALOG, o);
    out_str(o, " >>\n");
    end_object(o);
    begin_object(o, PAGE_TREE_OBJ);
    out_str(o, "<< /Type /Pages /Count ");
    out_int(o, page_count);
    out_str(o, " /Kids [");
    for (int32_t i = 0; i < page_count && !o->failed; ++i) {
        if (i) out_str(o, " ");
        out_ref(o, page_obj(i));
    }
    out_str(o, "]>>\n");
    end_object(o);
}

// Page i's content stream: the wrapped page, then the label block if any.
void append_content(out_buf *o, int32_t i, const std::string &label) {
    begin_stream_object(o, content_obj(i));
    out_str(o, "<< /Length ");
    out_int(o, DRAW_FORM_LEN + static_cast<int64_t>(label.size()));
    out_str(o, " >> stream\n");
    out_str(o, DRAW_FORM);
    out_str(o, label);
    out_str(o, "endstream\n");
    end_object(o);
}

// Every page in input order; labels on the selected ones.
bool append_pages(const build_job *j, const copy_table *table, int64_t font, out_buf *o) {
    const page_selection &sel = j->labelled;
    for (int32_t i = 0; i < j->page_count && !o->failed; ++i) {
        page_frame frame;
        if (!wrap_page(j->doc, i, font, table, o, &frame)) return false;
        std::string label;
        if (i >= sel.first_index && i <= sel.last_index) {
            int64_t number = static_cast<int64_t>(sel.first_number) + (i - sel.first_index);
            if (!label_block(&j->look, number, sel.total, frame.w, frame.h, &label)) return false;
        }
        append_content(o, i, label);
    }
    return true;
}

void append_font(out_buf *o, int64_t font) {
    begin_object(o, font);
    out_str(o, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\n");
    end_object(o);
}

// One 20-byte line: ten digits, generation, in-use flag.
void append_xref_line(out_buf *o, int64_t offset) {
    char line[20] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
                     ' ', '0', '0', '0', '0', '0', ' ', 'n', ' ', '\n'};
    for (int k = 9; k >= 0 && offset > 0; --k, offset /= 10) line[k] = static_cast<char>('0' + offset % 10);
    out_bytes(o, line, sizeof line);
}

// The finished object streams, numbered from first on; their offsets go
// to offsets.
void append_packed_streams(out_buf *o, int64_t first, std::vector<int64_t> *offsets) {
    const obj_packer *p = o->packer.get();
    for (size_t k = 0; k < p->done.size() && !o->failed; ++k) {
        const packed_stream &s = p->done[k];
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
void append_xref_stream(out_buf *o, const std::string &extra) {
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
    out_ref(o, CATALOG_OBJ);
    out_str(o, extra);
    out_str(o, " /Filter /FlateDecode /Length ");
    out_int(o, static_cast<int64_t>(packed.size()));
    out_str(o, " >>\nstream\n");
    out_bytes(o, packed.data(), packed.size());
    out_str(o, "\nendstream\nendobj\nstartxref\n");
    out_int(o, xref);
    out_str(o, "\n%%EOF\n");
}

// extra: further trailer entries (" /Key value..."), empty for none.
void append_xref_and_trailer(out_buf *o, const std::string &extra) {
    if (o->packer) {
        append_xref_stream(o, extra);
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
    out_ref(o, CATALOG_OBJ);
    out_str(o, extra);
    out_str(o, " >>\nstartxref ");
    out_int(o, xref);
    out_str(o, "\n%%EOF\n");
}

// The longest output a document may produce (pdfp_work_limit): a small
// hostile file must not take gigabytes of memory.
uint64_t output_limit(int32_t input_size) { return std::min<uint64_t>(pdfp_work_limit(input_size), MAX_FILE_BYTES); }

// Whether the input kept objects in object streams: then the output does too.
bool kept_object_streams(const pdfp_doc *doc) {
    for (int32_t k = 0; k < doc->objs.count; ++k)
        if (doc->objs.items[k].in_objstm) return true;
    return false;
}

// The assembly proper; false with or without a message of its own.
bool build(build_job *j, pdfp_buf *out) {
    copy_table table;
    copy_table_build(j->doc, static_cast<int32_t>(first_copy_obj(j->page_count)), &table);
    int64_t font = font_obj(j->page_count, static_cast<int64_t>(table.nums.size()));
    std::vector<int64_t> offsets(static_cast<size_t>(font) + 1, -1);
    if (!pdfp_buf_init(out)) {
        set_error(MSG_OUT_OF_MEMORY);
        return false;
    }
    out_buf o{out, false, output_limit(j->doc->size), std::move(offsets)};
    // Room for the usual output at once: growing by doubling would copy the
    // image each time on platforms whose realloc cannot move pages. Storage
    // that is never written costs no memory. Without that much room the
    // buffer is merely empty again and grows as it goes.
    uint64_t expected = static_cast<uint64_t>(j->doc->size) + PAGE_OVERHEAD * static_cast<uint64_t>(j->page_count);
    if (pdfp_buf_reserve(out, std::min(expected, o.limit)) && out->cap >= PDFP_BUF_BIG)
        pdfp_advise_big_pages(out->data, out->cap);
    if (kept_object_streams(j->doc)) o.packer = std::make_unique<obj_packer>();
    append_header(&o);
    append_catalog_and_tree(j->doc, &table, &o, j->page_count);
    if (!append_pages(j, &table, font, &o)) return false;
    copies_append(j->doc, &table, &o);
    append_font(&o, font);
    append_xref_and_trailer(&o, table.info_out > 0 ? " /Info " + std::to_string(table.info_out) + " 0 R" : std::string());
    if (o.failed) {
        set_error(MSG_BUILD_FAILED);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing the file
// ---------------------------------------------------------------------------

// Writes the finished image (output_file.cpp): a failure leaves the
// output as it was.
bool write_output(const char *path, const pdfp_buf *out) {
    if (!out->data || out->len == 0) {
        set_error(MSG_BUILD_FAILED);
        return false;
    }
    return output_file_write(path, out->data, out->len);
}

}  // namespace

int numbered_doc_build(const pdfp_doc *doc, pdfp_buf *out, const label_look *look,
                       const page_selection *labelled) {
    unsigned epoch = error_epoch();
    build_job j{doc, *look, *labelled, 0};
    if (!check_args(&j)) return 0;
    bool ok = false;
    try {
        ok = build(&j, out);
    } catch (const std::bad_alloc &) {
        set_error(MSG_OUT_OF_MEMORY);
    }
    if (!ok) {
        pdfp_buf_free(out);
        // Page failures record nothing themselves.
        if (error_epoch() == epoch) set_error(MSG_DAMAGED);
    }
    return ok ? 1 : 0;
}

int numbered_doc(const pdfp_doc *doc, const char *output_path, const label_look *look,
                 const page_selection *labelled) {
    if (!output_path) {
        set_error(MSG_NULL_OUTPUT);
        return 0;
    }
    pdfp_buf out{};
    bool ok = numbered_doc_build(doc, &out, look, labelled) && write_output(output_path, &out);
    pdfp_buf_free(&out);
    if (!ok) return 0;
    clear_error();
    return 1;
}
