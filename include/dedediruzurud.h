/* dedediruzurud: stamp page numbers onto existing PDF files.
 *
 * Six plain C functions. Strings are byte strings handed to the C runtime's
 * fopen unchanged. Working functions return 1 on success and 0 on failure;
 * after a failure dedediruzurud_last_error() tells why. No function throws,
 * keeps state between calls (apart from the last-error text) or starts threads.
 */
#ifndef DEDEDIRUZURUD_H
#define DEDEDIRUZURUD_H

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

#ifdef __cplusplus
}
#endif

#endif
