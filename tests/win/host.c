/* Test host for the shipped library: loads it at run time by the plain
 * export names (LoadLibrary/GetProcAddress on Windows, dlopen/dlsym
 * elsewhere) and runs the end-to-end cases over the corpus.
 *
 *   host LIBRARY CORPUS_DIR
 *
 * Run from an empty working directory. Outputs go to out/, scratch files to
 * scratch/, and transcript.txt gets one line per call (id, result, whether
 * an output exists, its size, the last-error text). The same source built
 * for Linux and for Windows must produce identical transcripts and outputs;
 * tests/win/wine_test.sh compares them. Every expectation is also checked
 * here, so the exit status alone tells whether this platform behaves.
 * All paths are byte strings handed to the C runtime unchanged, as a real
 * host would hand them to the library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dedediruzurud.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#define make_dir(p) _mkdir(p)
#define make_read_only(p) _chmod((p), _S_IREAD)
#else
#include <dlfcn.h>
#include <sys/stat.h>
#define make_dir(p) mkdir((p), 0777)
#define make_read_only(p) chmod((p), 0444)
#endif

typedef int(DEDEDIRUZURUD_CALL *init_fn)(void);
typedef void(DEDEDIRUZURUD_CALL *cleanup_fn)(void);
typedef const char *(DEDEDIRUZURUD_CALL *last_error_fn)(void);
typedef int(DEDEDIRUZURUD_CALL *add_fn)(const char *, const char *, int, const char *, int, int,
                                        int, int, int);
typedef int(DEDEDIRUZURUD_CALL *range_fn)(const char *, const char *, int, const char *, int, int,
                                          int, int, int, int, int);
typedef int(DEDEDIRUZURUD_CALL *skip_fn)(const char *, const char *, int, const char *, int, int,
                                         int, int, int);
typedef int(DEDEDIRUZURUD_CALL *number_fn)(const char *, const char *, const dedediruzurud_options *, char *,
                                           size_t);

static struct {
    init_fn init;
    cleanup_fn cleanup;
    last_error_fn last_error;
    add_fn add;
    range_fn range;
    skip_fn skip;
    number_fn number;
} lib;

static FILE *transcript;
static int checks, failures;

#define EM_DASH "\xE2\x80\x94"
/* A directory and file names with spaces and non-ASCII bytes (UTF-8 here;
 * on Windows the C runtime reads them in the ANSI code page). */
#define ODD_DIR "scratch/dir with spaces \xC3\xA9 \xC3\xBC"

static void *find_symbol(void *handle, const char *name) {
#ifdef _WIN32
    FARPROC p = GetProcAddress((HMODULE)handle, name);
    void *q;
    memcpy(&q, &p, sizeof q); /* function to object pointer, without a cast warning */
    return q;
#else
    return dlsym(handle, name);
#endif
}

static int load_library(const char *path) {
#ifdef _WIN32
    void *h = (void *)LoadLibraryA(path);
#else
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    if (!h) {
        fprintf(stderr, "host: cannot load %s\n", path);
        return 0;
    }
    void **slots[] = {(void **)&lib.init, (void **)&lib.cleanup, (void **)&lib.last_error,
                      (void **)&lib.add,  (void **)&lib.range,   (void **)&lib.skip,
                      (void **)&lib.number};
    const char *names[] = {"dedediruzurud_init",       "dedediruzurud_cleanup",
                           "dedediruzurud_last_error", "dedediruzurud_add",
                           "dedediruzurud_range",      "dedediruzurud_skip",
                           "dedediruzurud_number"};
    for (int i = 0; i < 7; i++) {
        *slots[i] = find_symbol(h, names[i]);
        if (!*slots[i]) {
            fprintf(stderr, "host: %s does not export %s\n", path, names[i]);
            return 0;
        }
    }
    return 1;
}

static void fail(const char *id, const char *what, const char *got, const char *want) {
    failures++;
    fprintf(stderr, "FAIL %s: %s\n", id, what);
    if (got) fprintf(stderr, "  got:  \"%s\"\n", got);
    if (want) fprintf(stderr, "  want: \"%s\"\n", want);
}

static void check(int ok, const char *id, const char *what) {
    checks++;
    if (!ok) fail(id, what, NULL, NULL);
}

/* Size of a file, -1 when it cannot be opened. */
static long file_size(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return -1;
    long n = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    fclose(f);
    return n;
}

/* Whole file in a malloc'd block (NUL-terminated), NULL when unreadable. */
static char *read_all(const char *path, long *len) {
    *len = file_size(path);
    if (*len < 0) return NULL;
    FILE *f = fopen(path, "rb");
    char *p = malloc((size_t)*len + 1);
    if (!f || !p || fread(p, 1, (size_t)*len, f) != (size_t)*len) {
        if (f) fclose(f);
        free(p);
        return NULL;
    }
    fclose(f);
    p[*len] = 0;
    return p;
}

static int write_all(const char *path, const char *bytes, long len) {
    FILE *f = fopen(path, "wb");
    if (!f) return 0;
    int ok = fwrite(bytes, 1, (size_t)len, f) == (size_t)len;
    return fclose(f) == 0 && ok;
}

static int same_file(const char *a, const char *b) {
    long na, nb;
    char *pa = read_all(a, &na), *pb = read_all(b, &nb);
    int same = pa && pb && na == nb && memcmp(pa, pb, (size_t)na) == 0;
    free(pa);
    free(pb);
    return same;
}

/* One call of a working function. kind: 'a' add, 'r' range, 's' skip.
 * n1..n3: first_number | start_page, end_page, first_number | skip_pages. */
struct call {
    char kind;
    const char *in, *out;
    int position;
    const char *format;
    int font_size, n1, n2, n3, red, green, blue;
};

static int invoke(const struct call *c) {
    switch (c->kind) {
    case 'a':
        return lib.add(c->in, c->out, c->position, c->format, c->font_size, c->n1, c->red, c->green,
                       c->blue);
    case 'r':
        return lib.range(c->in, c->out, c->position, c->format, c->font_size, c->n1, c->n2, c->n3,
                         c->red, c->green, c->blue);
    default:
        return lib.skip(c->in, c->out, c->position, c->format, c->font_size, c->n1, c->red,
                        c->green, c->blue);
    }
}

/* Runs a call and checks it: want_msg NULL means success expected (and an
 * empty last-error text); otherwise failure with exactly that message and
 * no output file. */
static void run(const char *id, const struct call *c, const char *want_msg) {
    if (c->out) remove(c->out);
    int r = invoke(c);
    const char *msg = lib.last_error();
    long size = c->out ? file_size(c->out) : -1;
    fprintf(transcript, "%s\t%d\t%ld\t%s\n", id, r, size, msg ? msg : "(null)");
    checks++;
    if (!msg) {
        fail(id, "last_error returned NULL", NULL, NULL);
    } else if (!want_msg && (r != 1 || msg[0] || size <= 0)) {
        fail(id, r == 1 ? "success left a message or no output" : "call failed", msg, "");
    } else if (want_msg && (r != 0 || strcmp(msg, want_msg) != 0)) {
        fail(id, r != 0 ? "call succeeded" : "wrong message", msg, want_msg);
    } else if (want_msg && size >= 0) {
        fail(id, "failed call left an output file", NULL, NULL);
    }
}

static const struct call plain_add = {'a', NULL, NULL, 0, NULL, 12, 1, 0, 0, 0, 0, 0};

static void path_checks(const char *in) {
    static const char kinds[] = "ars";
    for (int k = 0; k < 3; k++) {
        struct call c = plain_add;
        c.kind = kinds[k];
        c.n1 = c.n2 = c.n3 = 1;
        char id[64];
        snprintf(id, sizeof id, "null_input.%c", kinds[k]);
        c.out = "out/null.pdf";
        run(id, &c, "NULL path argument");
        snprintf(id, sizeof id, "null_output.%c", kinds[k]);
        c.in = in;
        c.out = NULL;
        run(id, &c, "NULL path argument");
        snprintf(id, sizeof id, "null_both.%c", kinds[k]);
        c.in = NULL;
        run(id, &c, "NULL path argument");
    }
}

static void loader_checks(void) {
    struct call c = plain_add;
    c.out = "out/loader.pdf";
    c.in = "scratch/missing.pdf";
    run("missing_input", &c, "cannot open scratch/missing.pdf");
    write_all("scratch/empty.pdf", "", 0);
    c.in = "scratch/empty.pdf";
    run("empty_input", &c, "empty input file: scratch/empty.pdf");
    write_all("scratch/abc.txt", "abc", 3);
    c.in = "scratch/abc.txt";
    run("not_a_pdf", &c, "no PDF objects found " EM_DASH " not a PDF: scratch/abc.txt");
    /* Not a regular file: a directory, and NUL (Windows' null device, on
     * Linux a file that does not exist): neither is read. */
    make_dir("scratch/a directory");
    c.in = "scratch/a directory";
    run("directory_input", &c, "cannot open scratch/a directory");
    c.in = "NUL";
    run("null_device_input", &c, "cannot open NUL");

    /* A path far over the message limit: the message is cut at 1023 bytes. */
    static char long_path[1200], want[1024];
    memset(long_path, 'x', sizeof long_path - 1);
    memcpy(long_path, "scratch/", 8);
    c.in = long_path;
    memcpy(want, "cannot open ", 12);
    memcpy(want + 12, long_path, sizeof want - 13); /* the expected cut */
    run("long_path", &c, want);
    check(strlen(lib.last_error()) == 1023, "long_path", "message cut to 1023 bytes");
}

/* Selection and writer argument messages on a 10-page file. */
static void selection_checks(const char *ten) {
    struct call r = {'r', ten, "out/sel.pdf", 0, NULL, 12, 7, 3, 1, 0, 0, 0};
    run("range_7_3", &r, "range 7..3 is empty (document has 10 pages)");
    r.n1 = 12, r.n2 = 12;
    run("range_12_12", &r, "range 12..12 is empty (document has 10 pages)");
    struct call s = {'s', ten, "out/sel.pdf", 0, NULL, 12, 10, 0, 0, 0, 0, 0};
    run("skip_10", &s, "skip_pages 10 >= page count 10 " EM_DASH " nothing to number");
    s.n1 = 2147483647;
    run("skip_intmax", &s, "skip_pages 2147483647 >= page count 10 " EM_DASH " nothing to number");

    struct call a = plain_add;
    a.in = ten;
    a.out = "out/sel.pdf";
    a.position = -1;
    run("position_-1", &a, "position must be 0..5 (got -1)");
    a.position = 6;
    run("position_6", &a, "position must be 0..5 (got 6)");
    a.position = 0;
    a.green = 256;
    run("green_256", &a, "colour components must be 0..255");
    a.green = 0;
    a.red = -1;
    run("red_-1", &a, "colour components must be 0..255");
    a.red = 0;
    a.out = "scratch/no such dir/x.pdf";
    run("output_dir_missing", &a, "cannot write scratch/no such dir/x.pdf");
}

/* Successful variants on the 10-page file; their outputs are compared across
 * platforms, and the clamped font sizes with their clamps here. */
static void selection_outputs(const char *ten) {
    struct {
        const char *id;
        struct call c;
    } cases[] = {
        {"range_0_100", {'r', ten, "out/range_0_100.pdf", 3, "{n}/{total}", 9, 0, 100, 1, 0, 0, 0}},
        {"range_-5_4", {'r', ten, "out/range_-5_4.pdf", 5, NULL, 12, -5, 4, 7, 10, 20, 30}},
        {"skip_9", {'s', ten, "out/skip_9.pdf", 1, "", 12, 9, 0, 0, 255, 255, 255}},
        {"skip_-3", {'s', ten, "out/skip_-3.pdf", 2, "p. {n}", 14, -3, 0, 0, 0, 128, 0}},
        {"add_first_0", {'a', ten, "out/add_first_0.pdf", 0, NULL, 12, 0, 0, 0, 0, 0, 0}},
        {"add_first_-5", {'a', ten, "out/add_first_-5.pdf", 4, "{n} of {total}", 11, -5, 0, 0, 1, 2, 3}},
        {"format_bytes", {'a', ten, "out/format_bytes.pdf", 3, "S\xE9ite {n} \xB7 {total} (x) \\ {", 12, 1, 0, 0, 0, 0, 0}},
        {"font_0", {'a', ten, "out/font_0.pdf", 0, NULL, 0, 1, 0, 0, 0, 0, 0}},
        {"font_12", {'a', ten, "out/font_12.pdf", 0, NULL, 12, 1, 0, 0, 0, 0, 0}},
        {"font_500", {'a', ten, "out/font_500.pdf", 0, NULL, 500, 1, 0, 0, 0, 0, 0}},
        {"font_300", {'a', ten, "out/font_300.pdf", 0, NULL, 300, 1, 0, 0, 0, 0, 0}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) run(cases[i].id, &cases[i].c, NULL);
    check(same_file("out/font_0.pdf", "out/font_12.pdf"), "font_0", "font size 0 acts as 12");
    check(same_file("out/font_500.pdf", "out/font_300.pdf"), "font_500", "font size 500 acts as 300");
}

/* Input and output paths with spaces and non-ASCII bytes. */
static void odd_path_checks(const char *ten, const char *ten_added) {
    make_dir("scratch");
    make_dir(ODD_DIR);
    long n;
    char *bytes = read_all(ten, &n);
    const char *odd_in = ODD_DIR "/na\xC3\xAFve " EM_DASH " copy.pdf";
    const char *odd_out = ODD_DIR "/r\xC3\xA9sum\xC3\xA9 out \xC3\x9F.pdf";
    check(bytes && write_all(odd_in, bytes, n), "odd_path", "copy corpus file to odd path");
    free(bytes);
    struct call c = plain_add;
    c.in = odd_in;
    c.out = odd_out;
    run("odd_path_add", &c, NULL);
    check(same_file(odd_out, ten_added), "odd_path_add", "same output as under a plain path");
    c.in = ODD_DIR "/absent \xC3\x9F.pdf";
    run("odd_path_missing", &c, "cannot open " ODD_DIR "/absent \xC3\x9F.pdf");
}

/* An existing output is replaced, also when it is the input itself. */
static void overwrite_checks(const char *ten, const char *ten_added) {
    struct call c = plain_add;
    c.in = ten;
    c.out = "out/overwrite.pdf";
    check(write_all(c.out, "old contents, longer than nothing", 33), "overwrite", "write old output");
    c.in = "scratch/missing.pdf";
    check(invoke(&c) == 0 && file_size(c.out) == 33, "untouched", "failed call keeps an existing output");
    c.in = ten;
    checks++;
    if (invoke(&c) != 1 || !same_file(c.out, ten_added))
        fail("overwrite", "existing output not replaced by the numbered copy", lib.last_error(), "");
    long n;
    char *bytes = read_all(ten, &n);
    check(bytes && write_all("scratch/self.pdf", bytes, n), "self", "copy corpus file");
    free(bytes);
    c.in = c.out = "scratch/self.pdf";
    checks++;
    if (invoke(&c) != 1 || !same_file(c.out, ten_added))
        fail("self", "numbering a file onto itself", lib.last_error(), "");
}

/* Files left over by an interrupted run under the names older versions
 * used next to the output do not stand in the way, and are not touched; a
 * read-only output is refused and kept. */
static void leftover_checks(const char *ten, const char *ten_added) {
    static const char *const leftovers[] = {"scratch/kept.pdf.dedediruzurud-0.tmp",
                                            "scratch/kept.pdf.dedediruzurud-old"};
    struct call c = plain_add;
    c.in = ten;
    c.out = "scratch/kept.pdf";
    check(write_all(c.out, "old", 3), "leftover", "write old output");
    for (int i = 0; i < 2; i++) check(write_all(leftovers[i], "left", 4), "leftover", "plant leftover");
    checks++;
    if (invoke(&c) != 1 || !same_file(c.out, ten_added))
        fail("leftover", "an old leftover blocked replacing the output", lib.last_error(), "");
    for (int i = 0; i < 2; i++) check(file_size(leftovers[i]) == 4, "leftover", "leftover untouched");

    c.out = "scratch/read-only.pdf";
    check(write_all(c.out, "old", 3) && make_read_only(c.out) == 0, "read_only", "make read-only output");
    FILE *f = fopen(c.out, "r+b");
    if (f) { /* the flag does not stop us (root, or Wine run by root) */
        fclose(f);
        return;
    }
    check(invoke(&c) == 0 && strcmp(lib.last_error(), "cannot write scratch/read-only.pdf") == 0, "read_only",
          "read-only output refused");
    check(file_size(c.out) == 3, "read_only", "read-only output kept");
}

/* The last-error text across init, cleanup, failures and successes. */
static void error_state_checks(const char *ten) {
    check(lib.init() == 1 && lib.last_error() && !lib.last_error()[0], "init", "init gives 1 and \"\"");
    struct call c = plain_add;
    c.in = "scratch/missing.pdf";
    c.out = "out/state.pdf";
    lib.add(c.in, c.out, 0, NULL, 12, 1, 0, 0, 0);
    check(strcmp(lib.last_error(), "cannot open scratch/missing.pdf") == 0, "state", "message kept");
    check(strcmp(lib.last_error(), "cannot open scratch/missing.pdf") == 0, "state", "reading keeps it");
    lib.cleanup();
    check(lib.last_error() && !lib.last_error()[0], "cleanup", "cleanup gives \"\"");
    lib.add(c.in, c.out, 0, NULL, 12, 1, 0, 0, 0);
    c.in = ten;
    run("success_clears", &c, NULL);
    lib.add("scratch/missing.pdf", c.out, 0, NULL, 12, 1, 0, 0, 0);
    lib.init();
    check(lib.last_error() && !lib.last_error()[0], "init", "init clears a message");
}

/* The three selections on one corpus file of the given page count. */
static void corpus_file(const char *dir, const char *name, long pages, const char *expect) {
    char in[512], out[600], id[600], want[1024];
    snprintf(in, sizeof in, "%s/%s", dir, name);
    if (strcmp(expect, "refused-encrypted") == 0) {
        struct call c = plain_add;
        c.in = in;
        c.out = "out/encrypted.pdf";
        snprintf(id, sizeof id, "%s.add", name);
        snprintf(want, sizeof want, "encrypted PDFs are not supported: %s", in);
        run(id, &c, want);
        return;
    }
    struct call add = {'a', in, out, 0, NULL, 12, 1, 0, 0, 0, 0, 0};
    struct call range = {'r', in, out, 4, "Page {n} of {total}", 10, 2, 3, 1, 200, 30, 30};
    struct call skip = {'s', in, out, 2, "- {n} -", 0, 1, 0, 0, 0, 0, 255};
    struct call skip_all = {'s', in, out, 1, NULL, 12, (int)pages, 0, 0, 0, 0, 0};
    const struct call *calls[] = {&add, &range, &skip, &skip_all};
    const char *tags[] = {"add", "range", "skip", "skip_all"};
    for (int i = 0; i < 4; i++) {
        snprintf(id, sizeof id, "%s.%s", name, tags[i]);
        snprintf(out, sizeof out, "out/%s.%s.pdf", name, tags[i]);
        const char *w = NULL;
        if (i == 1 && pages < 2)
            w = "range 2..3 is empty (document has 1 pages)";
        if ((i == 2 && pages < 2) || i == 3) {
            snprintf(want, sizeof want, "skip_pages %ld >= page count %ld " EM_DASH " nothing to number",
                     i == 3 ? pages : 1L, pages);
            w = want;
        }
        run(id, calls[i], w);
    }
}

/* dedediruzurud_number with its options: a TrueType label (font.ttf, which
 * the caller links into the working directory, DejaVu Sans) with every
 * extra, a standard font with styles and page labels, the page count alone,
 * and a refusal whose message comes back in the buffer and the last-error
 * text alike. */
static void number_checks(const char *ten) {
    static const struct {
        const char *id, *format, *font;
        unsigned flags;
        int first, total_mode;
    } cases[] = {
        {"number.truetype", "\xD0\xA1\xD1\x82\xD1\x80. {n} \xCE\xB1\xCF\x80\xCF\x8C {total}", "font.ttf",
         DEDEDIRUZURUD_MARGIN | DEDEDIRUZURUD_OPACITY | DEDEDIRUZURUD_BACKING | DEDEDIRUZURUD_PAGE_LABELS, 1, 0},
        {"number.styles", "Caf\xC3\xA9 {n:R} / {total:06}", "Times-Italic", DEDEDIRUZURUD_PAGE_LABELS, 3, 2},
        {"number.bates", "ACME-{n:08}", "Courier-Bold", DEDEDIRUZURUD_PAGE_LABELS, 1000, 0},
        {"number.pad_too_wide", "{n:099}", NULL, 0, 1, 0},
    };
    char out[256], error[1024];
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        dedediruzurud_options o = DEDEDIRUZURUD_OPTIONS_INIT;
        o.format = cases[i].format;
        o.font = cases[i].font;
        o.flags = cases[i].flags;
        o.first_number = cases[i].first;
        o.total_mode = cases[i].total_mode;
        o.margin_x = 40;
        o.margin_y = 30;
        o.opacity = 0.5;
        o.position = (int)i % 6;
        if (o.font && strcmp(o.font, "font.ttf") == 0 && file_size("font.ttf") < 0) continue;
        snprintf(out, sizeof out, "out/%s.pdf", cases[i].id);
        int r = lib.number(ten, out, &o, error, sizeof error);
        fprintf(transcript, "%s %d %ld \"%s\"\n", cases[i].id, r, file_size(out), error);
        check(strcmp(error, lib.last_error()) == 0, cases[i].id, "the same message in the buffer and last_error");
        check((r == 10) == (strstr(cases[i].id, "too_wide") == NULL), cases[i].id, "page count or refusal");
    }
    int r = lib.number(ten, NULL, NULL, error, sizeof error);
    fprintf(transcript, "number.count %d \"%s\"\n", r, error);
    check(r == 10 && !error[0], "number.count", "the page count alone");
}

/* The encrypted test files beside the corpus (CORPUS_DIR/../data/encrypted):
 * those that open without a password and permit changes are numbered (their
 * outputs compared byte for byte with the other platform's); the others are
 * refused with their messages and leave no output. */
static void encrypted_checks(const char *dir) {
    static const struct {
        const char *name, *msg;
    } files[] = {
        {"r3-rc4.pdf", NULL},
        {"r4-aes.pdf", NULL},
        {"r4-aes-clearmeta.pdf", NULL},
        {"r5.pdf", NULL},
        {"r6-nomodify.pdf", "the document's permissions do not allow changes: %s"},
        {"r3-userpw.pdf", "encrypted PDFs are not supported: %s"},
    };
    for (size_t i = 0; i < sizeof files / sizeof files[0]; i++) {
        char in[600], out[600], id[600], want[1024];
        snprintf(in, sizeof in, "%s/../data/encrypted/%s", dir, files[i].name);
        snprintf(out, sizeof out, "out/encrypted-%s", files[i].name);
        snprintf(id, sizeof id, "encrypted/%s.add", files[i].name);
        if (files[i].msg) snprintf(want, sizeof want, files[i].msg, in);
        struct call add = {'a', in, out, 0, NULL, 12, 1, 0, 0, 0, 0, 0};
        run(id, &add, files[i].msg ? want : NULL);
    }
}

/* Every file listed in CORPUS_DIR/MANIFEST.tsv (columns: file, pages, producer,
 * features, expect, ...). Returns how many were run. */
static int corpus_checks(const char *dir) {
    char path[512], line[8192];
    snprintf(path, sizeof path, "%s/MANIFEST.tsv", dir);
    FILE *f = fopen(path, "rb");
    if (!f) {
        fail("manifest", "cannot open corpus manifest", path, NULL);
        return 0;
    }
    int n = 0;
    while (fgets(line, sizeof line, f)) {
        char *field[6] = {0};
        char *p = line;
        for (int i = 0; i < 6 && p; i++) {
            field[i] = p;
            p = strchr(p, '\t');
            if (p) *p++ = 0;
        }
        if (!field[4] || strcmp(field[0], "file") == 0) continue;
        corpus_file(dir, field[0], strtol(field[1], NULL, 10), field[4]);
        n++;
    }
    fclose(f);
    return n;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host LIBRARY CORPUS_DIR\n");
        return 2;
    }
    if (!load_library(argv[1])) return 2;
    make_dir("out");
    make_dir("scratch");
    transcript = fopen("transcript.txt", "wb");
    if (!transcript) {
        fprintf(stderr, "host: cannot write transcript.txt\n");
        return 2;
    }
    char ten[512], ten_added[512];
    snprintf(ten, sizeof ten, "%s/gropdf-groff-man.pdf", argv[2]);
    snprintf(ten_added, sizeof ten_added, "out/gropdf-groff-man.pdf.add.pdf");

    error_state_checks(ten);
    path_checks(ten);
    loader_checks();
    selection_checks(ten);
    selection_outputs(ten);
    int files = corpus_checks(argv[2]);
    encrypted_checks(argv[2]);
    odd_path_checks(ten, ten_added);
    overwrite_checks(ten, ten_added);
    number_checks(ten);
    leftover_checks(ten, ten_added);
    fclose(transcript);
    printf("host: %d corpus files, %d checks, %d failed\n", files, checks, failures);
    return failures ? 1 : 0;
}
