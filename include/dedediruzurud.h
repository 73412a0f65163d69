/* dedediruzurud: stamp page numbers onto existing PDF files.
 *
 * Six plain C functions, and dedediruzurud_number with every option.
 * Strings are byte strings handed to the C runtime's fopen unchanged. Working
 * functions return 1 on success and 0 on failure;
 * after a failure dedediruzurud_last_error() tells why. No function throws,
 * keeps state between calls (apart from the last-error text) or starts threads.
 */
#ifndef DEDEDIRUZURUD_H
#define DEDEDIRUZURUD_H

#include <stddef.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(DEDEDIRUZURUD_BUILD)
#    define DEDEDIRUZURUD_API __declspec(dllexport)
#  else
#    define DEDEDIRUZURUD_API __declspec(dllimport)
#  endif
#  define DEDEDIRUZURUD_CALL __cdecl
#else
#  define DEDEDIRUZURUD_API __attribute__((visibility("default")))
#  define DEDEDIRUZURUD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Label positions. */
enum {
    DEDEDIRUZURUD_BOTTOM_CENTER = 0,
    DEDEDIRUZURUD_BOTTOM_RIGHT = 1,
    DEDEDIRUZURUD_BOTTOM_LEFT = 2,
    DEDEDIRUZURUD_TOP_CENTER = 3,
    DEDEDIRUZURUD_TOP_RIGHT = 4,
    DEDEDIRUZURUD_TOP_LEFT = 5
};

/* Empties the last-error text; always returns 1. Optional. */
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_init(void);

/* Empties the last-error text. Optional. */
DEDEDIRUZURUD_API void DEDEDIRUZURUD_CALL dedediruzurud_cleanup(void);

/* The last error message, "" when none; never NULL, valid for the library's life. */
DEDEDIRUZURUD_API const char *DEDEDIRUZURUD_CALL dedediruzurud_last_error(void);

/* Numbers every page; the first page shows first_number.
 * position 0..5, format with {n} and {total} (NULL or "" means "{n}"),
 * font_size in points (<= 0 means 12, capped at 300), colour 0..255 each. */
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_add(
    const char *input_path, const char *output_path, int position,
    const char *format, int font_size, int first_number,
    int red, int green, int blue);

/* Numbers pages start_page..end_page (1-based, inclusive); the first of
 * them shows first_number. All pages are kept in the output. */
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_range(
    const char *input_path, const char *output_path, int position,
    const char *format, int font_size, int start_page, int end_page,
    int first_number, int red, int green, int blue);

/* Numbers every page after the first skip_pages; the first numbered page shows 1. */
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_skip(
    const char *input_path, const char *output_path, int position,
    const char *format, int font_size, int skip_pages,
    int red, int green, int blue);

/* ---- The extension entry: every option, a message per call ----------------
 *
 * dedediruzurud_options carries its own size so that it can grow: set `size`
 * to sizeof(dedediruzurud_options) (DEDEDIRUZURUD_OPTIONS_INIT does), leave
 * what you do not use at its initial value. A record whose size is smaller
 * than the first version's is refused; one larger than this library knows is
 * accepted only when the bytes it does not know are all zero.
 */

/* Bits of dedediruzurud_options.flags. */
enum {
    DEDEDIRUZURUD_MARGIN = 1,      /* use margin_x/margin_y instead of the page-size rule */
    DEDEDIRUZURUD_OPACITY = 2,     /* use opacity (0..1) instead of opaque text */
    DEDEDIRUZURUD_BACKING = 4,     /* a white box behind the label */
    DEDEDIRUZURUD_PAGE_LABELS = 8  /* write /PageLabels matching the printed numbers */
};

/* Values of dedediruzurud_options.total_mode: what {total} shows. */
enum {
    DEDEDIRUZURUD_TOTAL_DOCUMENT = 0, /* the document's page count */
    DEDEDIRUZURUD_TOTAL_GIVEN = 1,    /* the record's total field */
    DEDEDIRUZURUD_TOTAL_LABELLED = 2  /* the last number shown */
};

typedef struct dedediruzurud_options {
    unsigned int size;       /* sizeof(dedediruzurud_options) as the caller compiled it */
    unsigned int flags;      /* DEDEDIRUZURUD_MARGIN | ... */
    int position;            /* 0..5, as for the six functions */
    int font_size;           /* points; <= 0 means 12, above 300 means 300 */
    int red, green, blue;    /* 0..255 each */
    int first_number;        /* the number on the first labelled page */
    int start_page;          /* first labelled page, 1-based; 0 means 1 */
    int end_page;            /* last labelled page, inclusive; 0 means the last */
    int total_mode;          /* DEDEDIRUZURUD_TOTAL_* */
    int total;               /* {total} with DEDEDIRUZURUD_TOTAL_GIVEN */
    int font_index;          /* the face of a .ttc collection */
    const char *format;      /* UTF-8; NULL or "" means "{n}"; {n:r} {n:R} {n:a} {n:A} {n:06} */
    const char *font;        /* NULL or "" means Helvetica; a standard font's name or a font file path */
    double margin_x;         /* points from the left/right edge, with DEDEDIRUZURUD_MARGIN */
    double margin_y;         /* points from the top/bottom edge, with DEDEDIRUZURUD_MARGIN */
    double opacity;          /* 0..1, with DEDEDIRUZURUD_OPACITY */
} dedediruzurud_options;

/* The record as dedediruzurud_add would number: bottom centre, "{n}", 12 pt,
 * black, from 1, every page. */
#define DEDEDIRUZURUD_OPTIONS_INIT \
    { sizeof(dedediruzurud_options), 0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.0, 0.0, 1.0 }

/* Numbers input_path into output_path with the options (NULL means
 * DEDEDIRUZURUD_OPTIONS_INIT). With output_path NULL it only reads the input
 * and writes nothing. Returns the input's page count (1 or more) on success,
 * 0 on failure. The message of a failure (and "" on success) goes into
 * error[0..error_size) when error is not NULL, always NUL-terminated, and also
 * to dedediruzurud_last_error(); calls from many threads need no lock. */
DEDEDIRUZURUD_API int DEDEDIRUZURUD_CALL dedediruzurud_number(
    const char *input_path, const char *output_path,
    const dedediruzurud_options *options, char *error, size_t error_size);

#ifdef __cplusplus
}
#endif

#endif
