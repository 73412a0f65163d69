// Loading a PDF file: reading the file image, then the loader's fixed
// pipeline - trailers, the object scan (object_scan.cpp), stream extents,
// object streams, the choice of definitions, the catalog and the page-tree
// root (tree_root.cpp), the page list - and freeing the document.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "load_steps.h"
#include "messages.h"
#include "security.h"

namespace {

int fail(pdfp_doc *doc, pdfp_report_fn report, const char *msg, const char *path) {
    pdfp_doc_free(doc);
    report(msg, path);
    return -1;
}

// The file's own objects into the table, each stream's extent settled.
void scan_file(pdfp_doc *doc) {
    std::vector<length_source> sources;
    kw_positions endobj{"endobj", {}, false};
    scan_objects(doc, &sources, &endobj);
    settle_stream_extents(doc, sources, &endobj);
    remove_false_entries(doc);
}

// An encrypted document is read in the clear when the empty password
// opens it: its image is rewritten decrypted and scanned again.
int open_encrypted(pdfp_doc *doc, const char *path, pdfp_report_fn report) {
    if (doc->objs.count == 0) return fail(doc, report, MSG_NOT_A_PDF, path);
    const int status = pdfp_decrypt_image(doc);
    if (status != PDFP_SECURITY_OPEN) {
        fail(doc, report, MSG_ENCRYPTED, path);
        doc->needs_password = status == PDFP_SECURITY_NEEDS_PASSWORD;
        return -1;
    }
    scan_file(doc);
    return 0;
}

// Steps after the file image is in place.
int load_image(pdfp_doc *doc, const char *path, pdfp_report_fn report) {
    read_trailer_chain(doc);
    if (doc->notices && !xref_sound(doc)) pdfp_notice(doc, MSG_NOTE_XREF_REBUILT);
    scan_file(doc);
    read_xref_stream_trailers(doc);
    if ((doc->encrypted || pdfp_names_encryption(doc)) && open_encrypted(doc, path, report) != 0) return -1;
    load_objstms(doc);
    select_definitions(doc);
    if (doc->objs.count == 0) return fail(doc, report, MSG_NOT_A_PDF, path);
    objvec_build_index(&doc->objs);
    notice_stream_extents(doc);
    int32_t root = locate_tree_root(doc);
    if (root < 0) return fail(doc, report, MSG_NO_PAGE_TREE, path);
    std::vector<unsigned char> visited(static_cast<size_t>(doc->max_num) + 1, 0);
    int32_t r = resolve_pages(doc->data, doc->size, &doc->objs, root, doc->max_num, &doc->pages,
                              visited.data(), 0);
    if (r == WALK_INLINE_KIDS) return fail(doc, report, MSG_INLINE_KIDS, path);
    if (r < 0) return fail(doc, report, MSG_BROKEN_TREE, path);
    if (doc->pages.count < 1) return fail(doc, report, MSG_NO_PAGES, path);
    for (int32_t i = 0; i < doc->pages.count; ++i)
        if (doc->pages.items[i].box_default) pdfp_notice(doc, MSG_NOTE_DEFAULT_BOX, i + 1);
    return 0;
}

void clear_doc(pdfp_doc *doc) {
    std::memset(doc, 0, sizeof *doc);
    doc->root = -1;
    doc->catalog = -1;
    doc->info = -1;
}

int64_t file_size(FILE *f) {
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    int64_t n = _ftelli64(f);
    if (_fseeki64(f, 0, SEEK_SET) != 0) return -1;
#else
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    int64_t n = ftello(f);
    if (fseeko(f, 0, SEEK_SET) != 0) return -1;
#endif
    return n;
}

// Opens path for reading when it names a regular file, else null. Nothing
// is read from anything else, and nothing waits: a FIFO is opened without
// waiting for a writer and then refused, a device or directory likewise.
FILE *open_regular(const char *path) {
#if defined(_WIN32)
    FILE *f = std::fopen(path, "rb");
    struct _stat64 st;
    if (f && (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
#else
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
#endif
}

}  // namespace

int pdfp_doc_load(const char *path, pdfp_doc *doc, pdfp_report_fn report, pdfp_notices *notices) {
    clear_doc(doc);
    doc->notices = notices;
    if (!path) {
        report(MSG_NULL_PATH);
        return -1;
    }
    FILE *f = open_regular(path);
    if (!f) {
        report(MSG_CANNOT_OPEN, path);
        return -1;
    }
    int64_t n = file_size(f);
    if (n < 1) {
        std::fclose(f);
        report(MSG_EMPTY_INPUT, path);
        return -1;
    }
    if (n > MAX_FILE_BYTES) {
        std::fclose(f);
        report(MSG_INPUT_TOO_LARGE, path);
        return -1;
    }
    doc->data = static_cast<unsigned char *>(pdfp_big_alloc(static_cast<uint64_t>(n)));
    size_t got = doc->data ? std::fread(doc->data, 1, static_cast<size_t>(n), f) : 0;
    std::fclose(f);
    if (got != static_cast<size_t>(n)) {
        std::free(doc->data);
        doc->data = nullptr;
        report(MSG_READ_ERROR, path);
        return -1;
    }
    doc->size = static_cast<int32_t>(n);
    return load_image(doc, path, report);
}

int pdfp_doc_load_mem(const unsigned char *bytes, size_t size, const char *name, pdfp_doc *doc,
                      pdfp_report_fn report, pdfp_notices *notices) {
    clear_doc(doc);
    doc->notices = notices;
    if (size < 1) {
        report(MSG_EMPTY_INPUT, name);
        return -1;
    }
    if (size > static_cast<size_t>(MAX_FILE_BYTES)) {
        report(MSG_INPUT_TOO_LARGE, name);
        return -1;
    }
    doc->data = static_cast<unsigned char *>(pdfp_big_alloc(size));
    if (!doc->data) {
        report(MSG_READ_ERROR, name);
        return -1;
    }
    std::memcpy(doc->data, bytes, size);
    doc->size = static_cast<int32_t>(size);
    return load_image(doc, name, report);
}

void pdfp_doc_free(pdfp_doc *doc) {
    std::free(doc->data);
    for (int32_t i = 0; i < doc->arena.count; ++i) std::free(doc->arena.blocks[i]);
    std::free(doc->arena.blocks);
    std::free(doc->objs.items);
    std::free(doc->objs.index);
    std::free(doc->pages.items);
    pdfp_encryption_free(doc->encryption);
    std::memset(doc, 0, sizeof *doc);
}
