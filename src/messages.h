// messages: every failure message the library records in its last-error
// text, in one table that the library, the tests and the fuzz targets
// share. The texts are part of the interface (hosts show them to people);
// placeholders are printf's. The dashes are em dashes (U+2014, UTF-8).
#ifndef MESSAGES_H
#define MESSAGES_H

// Loading (pdf_parse/load.cpp); "%s" is the input's path or name.
inline constexpr char MSG_NULL_PATH[] = "NULL path argument";
inline constexpr char MSG_CANNOT_OPEN[] = "cannot open %s";
inline constexpr char MSG_EMPTY_INPUT[] = "empty input file: %s";
inline constexpr char MSG_INPUT_TOO_LARGE[] = "input file too large: %s";
inline constexpr char MSG_READ_ERROR[] = "read error on %s";
inline constexpr char MSG_NOT_A_PDF[] = "no PDF objects found \xE2\x80\x94 not a PDF: %s";
inline constexpr char MSG_ENCRYPTED[] = "encrypted PDFs are not supported: %s";
// An encrypted file that opens without a password but whose /P withholds
// the permission to change its content.
inline constexpr char MSG_NO_PERMISSION[] = "the document's permissions do not allow changes: %s";
inline constexpr char MSG_NO_PAGE_TREE[] = "cannot locate the page tree";
inline constexpr char MSG_INLINE_KIDS[] =
    "page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect objects";
inline constexpr char MSG_BROKEN_TREE[] = "broken page tree";
inline constexpr char MSG_NO_PAGES[] = "document has no pages";

// Page selection (dedediruzurud/api.cpp): the arguments as given, then the
// page count.
inline constexpr char MSG_EMPTY_RANGE[] = "range %d..%d is empty (document has %ld pages)";
inline constexpr char MSG_SKIP_ALL[] = "skip_pages %d >= page count %ld \xE2\x80\x94 nothing to number";

// Writing (dedediruzurud/writer.cpp, output_file.cpp); "%s" is the
// output's path. The page range is in long long: a 32-bit long (Windows)
// could not show first_index + 1.
inline constexpr char MSG_NULL_OUTPUT[] = "NULL output path";
inline constexpr char MSG_BAD_POSITION[] = "position must be 0..5 (got %d)";
inline constexpr char MSG_BAD_COLOUR[] = "colour components must be 0..255";
inline constexpr char MSG_EMPTY_PAGE_RANGE[] = "empty page range (start %lld > end %lld of %lld)";
inline constexpr char MSG_OUT_OF_MEMORY[] = "out of memory";
inline constexpr char MSG_BUILD_FAILED[] = "failed to build output";
inline constexpr char MSG_DAMAGED[] = "failed to build output (damaged page tree or content)";
inline constexpr char MSG_CANNOT_WRITE[] = "cannot write %s";
inline constexpr char MSG_SHORT_WRITE[] = "short write to %s";
inline constexpr char MSG_CLOSE_ERROR[] = "close error on %s";

// Every message above.
inline constexpr const char *ALL_MESSAGES[] = {
    MSG_NULL_PATH,    MSG_CANNOT_OPEN,      MSG_EMPTY_INPUT,   MSG_INPUT_TOO_LARGE, MSG_READ_ERROR,
    MSG_NOT_A_PDF,    MSG_ENCRYPTED,        MSG_NO_PERMISSION, MSG_NO_PAGE_TREE,    MSG_INLINE_KIDS,
    MSG_BROKEN_TREE,  MSG_NO_PAGES,         MSG_EMPTY_RANGE,   MSG_SKIP_ALL,        MSG_NULL_OUTPUT,
    MSG_BAD_POSITION, MSG_BAD_COLOUR,       MSG_EMPTY_PAGE_RANGE, MSG_OUT_OF_MEMORY, MSG_BUILD_FAILED,
    MSG_DAMAGED,      MSG_CANNOT_WRITE,     MSG_SHORT_WRITE,   MSG_CLOSE_ERROR,
};

#endif
