// The numbered-document writer's assembly. It checks the label's
// appearance and the page range, has the copy table built (copy_table.cpp),
// then assembles the whole output through the object emitter (emitter.cpp)
// in file order - header, catalog, page tree, for every page its page
// object and form (wrap.cpp) and its content stream with the label
// (label.cpp), the copies (copy_write.cpp), the font, cross-reference table
// and trailer - handing it to the output file (output_file.cpp) as it
// grows; the file replaces the output only once it is complete.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "carried.h"
#include "copy_table.h"
#include "copy_write.h"
#include "dedediruzurud_internal.h"
#include "emitter.h"
#include "label.h"
#include "label_font.h"
#include "label_plan.h"
#include "object_numbers.h"
#include "output_file.h"
#include "pdf_parse/security.h"
#include "wrap.h"

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
    if (!page_range_clip(sel->first_index, sel->last_index, j->page_count, &sel->first_index, &sel->last_index)) {
        // long long: a 32-bit long (Windows) could not show first_index + 1.
        set_error(MSG_EMPTY_PAGE_RANGE, static_cast<long long>(sel->first_index) + 1,
                  static_cast<long long>(sel->last_index) + 1, static_cast<long long>(j->page_count));
        return false;
    }
    return true;
}

// Revisions 5 and 6 of the security handler are extensions to PDF 1.7
// (Adobe's levels 3 and 8) and part of PDF 2.0: a catalog below 2.0 names
// the extension, the input's own /Extensions when it has one.
void append_extensions(const pdfp_doc *doc, out_buf *o) {
    const pdfp_encryption *e = doc->encryption;
    if (!e || e->sec.r < 5 || e->version >= 20) return;
    const unsigned char *b;
    int32_t vs, ve;
    const pdfp_obj *catalog = input_catalog(doc);
    out_str(o, " /Extensions ");
    if (catalog && obj_dict_value(doc->data, doc->size, catalog, "Extensions", &b, &vs, &ve) && b[vs] == '<')
        out_bytes(o, b + vs, static_cast<uint64_t>(ve - vs));
    else
        out_str(o, e->sec.r == 5 ? "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> >>"
                                 : "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 8 >> >>");
}

// The catalog carries the input catalog's document-level entries (outlines,
// names, labels, form ...) after its own.
// With page labels of our own, they replace the input's.
void append_catalog_and_tree(const pdfp_doc *doc, const copy_table *table, out_buf *o, int32_t page_count,
                             const std::string &page_labels) {
    begin_object(o, CATALOG_OBJ);
    out_str(o, "<< /Type /Catalog /Pages ");
    out_ref(o, PAGE_TREE_OBJ);
    if (page_labels.empty()) {
        append_carried(doc, table, input_catalog(doc), CARRY_CATALOG, o);
    } else {
        append_carried(doc, table, input_catalog(doc), CARRY_CATALOG, o, "PageLabels");
        out_str(o, " /PageLabels " + page_labels);
    }
    append_extensions(doc, o);
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

// The page resources a planned label adds: the graphics state of its opacity.
std::string label_resources(const label_plan *plan) {
    if (!plan || !plan->opacity) return {};
    return " /ExtGState <</" + std::string(LABEL_GS) + " <</Type /ExtGState /ca " + pdfp_fmt_num(plan->alpha) +
           " /CA " + pdfp_fmt_num(plan->alpha) + ">>>>";
}

// In a tagged document the label is a pagination artifact: structure
// readers and accessibility checkers pass over it.
std::string as_artifact(const std::string &label, int position) {
    return std::string("/Artifact << /Type /Pagination /Subtype /") + (label_at_top(position) ? "Header" : "Footer") +
           " >> BDC\n" + label + "EMC\n";
}

// Every page in input order; labels on the selected ones.
bool append_pages(const build_job *j, const copy_table *table, int64_t font, out_buf *o) {
    const page_selection &sel = j->labelled;
    const label_plan *plan = j->look.plan;
    std::string resources = label_resources(plan);
    for (int32_t i = 0; i < j->page_count && !o->failed; ++i) {
        page_frame frame;
        if (!wrap_page(j->doc, i, font, table, o, &frame, resources)) return false;
        std::string label;
        if (i >= sel.first_index && i <= sel.last_index) {
            int64_t number = static_cast<int64_t>(sel.first_number) + (i - sel.first_index);
            bool ok = plan ? label_block_planned(&j->look, static_cast<size_t>(i - sel.first_index), i, frame.w,
                                                 frame.h, &label)
                           : label_block(&j->look, number, sel.total, frame.w, frame.h, &label);
            if (!ok) return false;
            if (table->structure.tagged) label = as_artifact(label, j->look.position);
        }
        append_content(o, i, label);
    }
    return true;
}

void append_font(out_buf *o, int64_t font, const label_plan *plan) {
    if (plan) return label_font_append(&plan->font, font, o);
    begin_object(o, font);
    out_str(o, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\n");
    end_object(o);
}

// Bytes as a hexadecimal string.
std::string hex_string(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "<";
    for (unsigned char c : bytes) (s += digits[c >> 4]) += digits[c & 15];
    return s + ">";
}

// An encrypted input's /Encrypt dictionary, as it stands, as object num;
// the trailer entries that name it and the input's /ID, whose first
// element the file key depends on.
std::string append_encrypt(const pdfp_encryption *e, int64_t num, out_buf *o) {
    begin_clear_object(o, num);
    out_str(o, e->dict_text);
    out_str(o, "\n");
    end_object(o);
    return " /Encrypt " + std::to_string(num) + " 0 R /ID [" + hex_string(e->id0) + hex_string(e->id1) + "]";
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

// Hands the growing image to the output file.
bool to_file(void *f, const unsigned char *p, uint64_t n) {
    return output_file_append(static_cast<output_file *>(f), p, n);
}

// What the image buffer is given at once when it is handed on in pieces.
constexpr uint64_t PIECE_ROOM = 512 * 1024;

// The assembly proper, into out, or through out into file when that is
// set; false with or without a message of its own.
bool build(build_job *j, pdfp_buf *out, output_file *file) {
    copy_table table;
    copy_table_build(j->doc, static_cast<int32_t>(first_copy_obj(j->page_count)), &table);
    int64_t font = font_obj(j->page_count, static_cast<int64_t>(table.nums.size()));
    const label_plan *plan = j->look.plan;
    int64_t font_objects = plan ? label_font_object_count(&plan->font) : 1;
    // An encrypted output's /Encrypt dictionary follows the font's objects.
    const pdfp_encryption *crypt = j->doc->encryption;
    std::vector<int64_t> offsets(static_cast<size_t>(font + font_objects) + (crypt ? 1 : 0), -1);
    if (!pdfp_buf_init(out)) {
        set_error(MSG_OUT_OF_MEMORY);
        return false;
    }
    out_buf o{out, false, output_limit(j->doc->size), std::move(offsets)};
    o.crypt = crypt;
    if (file) {
        o.sink = to_file;
        o.sink_ctx = file;
    }
    // Room for the usual output at once: growing by doubling would copy the
    // image each time on platforms whose realloc cannot move pages. Storage
    // that is never written costs no memory. Without that much room the
    // buffer is merely empty again and grows as it goes.
    uint64_t expected = file ? PIECE_ROOM
                             : static_cast<uint64_t>(j->doc->size) + PAGE_OVERHEAD * static_cast<uint64_t>(j->page_count);
    if (pdfp_buf_reserve(out, std::min(expected, o.limit)) && out->cap >= PDFP_BUF_BIG)
        pdfp_advise_big_pages(out->data, out->cap);
    if (kept_object_streams(j->doc)) o.packer = std::make_unique<obj_packer>();
    append_file_header(&o);
    append_catalog_and_tree(j->doc, &table, &o, j->page_count, plan ? plan->page_labels : std::string());
    if (!append_pages(j, &table, font, &o)) return false;
    copies_append(j->doc, &table, &o);
    append_font(&o, font, plan);
    std::string trailer = table.info_out > 0 ? " /Info " + std::to_string(table.info_out) + " 0 R" : std::string();
    if (crypt) trailer += append_encrypt(crypt, font + font_objects, &o);
    append_xref_and_trailer(&o, CATALOG_OBJ, trailer);
    out_flush(&o);
    if (o.failed) {
        if (!o.sink_failed) set_error(MSG_BUILD_FAILED);
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

bool page_range_clip(int64_t first, int64_t last, int32_t page_count, int *first_index, int *last_index) {
    if (first < 0) first = 0;
    if (last >= page_count) last = page_count - 1;
    // Only a range that is left empty can hold a value beyond int (the
    // writer's own range is given in int already).
    *first_index = static_cast<int>(first);
    *last_index = static_cast<int>(last);
    return first <= last;
}

namespace {

// numbered_doc_build, or with file set the same image handed to it as it
// grows (out then holds only the last piece).
bool assemble(const pdfp_doc *doc, pdfp_buf *out, output_file *file, const label_look *look,
              const page_selection *labelled) {
    unsigned epoch = error_epoch();
    build_job j{doc, *look, *labelled, 0};
    if (!check_args(&j)) return false;
    bool ok = false;
    try {
        ok = build(&j, out, file);
    } catch (const std::bad_alloc &) {
        set_error(MSG_OUT_OF_MEMORY);
    }
    if (!ok) {
        pdfp_buf_free(out);
        // Page failures record nothing themselves.
        if (error_epoch() == epoch) set_error(MSG_DAMAGED);
    }
    return ok;
}

}  // namespace

int numbered_doc_build(const pdfp_doc *doc, pdfp_buf *out, const label_look *look,
                       const page_selection *labelled) {
    return assemble(doc, out, nullptr, look, labelled) ? 1 : 0;
}

int numbered_doc(const pdfp_doc *doc, const char *output_path, const label_look *look,
                 const page_selection *labelled) {
    if (!output_path) {
        set_error(MSG_NULL_OUTPUT);
        return 0;
    }
    pdfp_buf out{};
    bool ok;
    // Written as it is made; a device, a pipe or an output that cannot be
    // written now takes the complete image at the end, as the messages of
    // a failed document come before those of a failed output.
    if (output_file *file = output_file_open(output_path)) {
        ok = assemble(doc, &out, file, look, labelled);
        if (ok)
            ok = output_file_commit(file);
        else
            output_file_abandon(file);
    } else {
        ok = assemble(doc, &out, nullptr, look, labelled) && write_output(output_path, &out);
    }
    pdfp_buf_free(&out);
    if (!ok) return 0;
    clear_error();
    return 1;
}
