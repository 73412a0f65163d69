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

// Fonts (truetype.cpp, truetype_subset.cpp and the label's fonts); the
// first "%s" is the font as the caller names it (its path). A character is
// named as utf8_char_name gives it.
inline constexpr char MSG_FONT_NOT_TRUETYPE[] = "not a TrueType font: %s";
inline constexpr char MSG_FONT_CFF[] =
    "font %s has PostScript (CFF) outlines, which labels cannot embed \xE2\x80\x94 choose a TrueType (.ttf) font";
inline constexpr char MSG_FONT_NO_FACE[] = "font collection %s has no face %d (it holds %d)";
inline constexpr char MSG_FONT_NO_TABLE[] = "font %s lacks its '%s' table";
inline constexpr char MSG_FONT_TABLE_PAST_END[] = "damaged font %s: table '%s' runs past the end of the file";
inline constexpr char MSG_FONT_TABLE_SHORT[] = "damaged font %s: table '%s' is too short";
inline constexpr char MSG_FONT_BAD_VALUE[] = "damaged font %s: table '%s' holds an impossible value";
inline constexpr char MSG_FONT_NO_UNICODE_MAP[] = "font %s has no Unicode character map (cmap format 4 or 12)";
inline constexpr char MSG_FONT_BAD_CMAP[] = "damaged font %s: its character map (cmap) is malformed";
inline constexpr char MSG_FONT_GLYPH_OUTSIDE[] = "damaged font %s: glyph %d lies outside the 'glyf' table";
inline constexpr char MSG_FONT_BAD_GLYPH[] = "damaged font %s: glyph %d is malformed";
inline constexpr char MSG_FONT_COMPOSITE_LOOP[] = "damaged font %s: composite glyph %d refers to itself";
inline constexpr char MSG_FONT_COMPOSITE_DEPTH[] = "damaged font %s: composite glyph %d nests more than %d levels deep";
inline constexpr char MSG_FONT_RESTRICTED[] =
    "font %s may not be embedded: its licence restricts embedding (fsType 0x0002)";
inline constexpr char MSG_FONT_BITMAP_ONLY[] =
    "font %s may not be embedded: its licence allows bitmap embedding only (fsType 0x0200)";
inline constexpr char MSG_FONT_NO_GLYPH[] = "the font %s cannot show %s";
inline constexpr char MSG_BAD_UTF8[] = "the label format is not valid UTF-8 (byte %d)";

// Every message above.
inline constexpr const char *ALL_MESSAGES[] = {
    MSG_NULL_PATH,    MSG_CANNOT_OPEN,      MSG_EMPTY_INPUT,   MSG_INPUT_TOO_LARGE, MSG_READ_ERROR,
    MSG_NOT_A_PDF,    MSG_ENCRYPTED,        MSG_NO_PERMISSION, MSG_NO_PAGE_TREE,    MSG_INLINE_KIDS,
    MSG_BROKEN_TREE,  MSG_NO_PAGES,         MSG_EMPTY_RANGE,   MSG_SKIP_ALL,        MSG_NULL_OUTPUT,
    MSG_BAD_POSITION, MSG_BAD_COLOUR,       MSG_EMPTY_PAGE_RANGE, MSG_OUT_OF_MEMORY, MSG_BUILD_FAILED,
    MSG_DAMAGED,      MSG_CANNOT_WRITE,     MSG_SHORT_WRITE,   MSG_CLOSE_ERROR,
    MSG_FONT_NOT_TRUETYPE,   MSG_FONT_CFF,           MSG_FONT_NO_FACE,         MSG_FONT_NO_TABLE,
    MSG_FONT_TABLE_PAST_END, MSG_FONT_TABLE_SHORT,   MSG_FONT_BAD_VALUE,       MSG_FONT_NO_UNICODE_MAP,
    MSG_FONT_BAD_CMAP,       MSG_FONT_GLYPH_OUTSIDE, MSG_FONT_BAD_GLYPH,       MSG_FONT_COMPOSITE_LOOP,
    MSG_FONT_COMPOSITE_DEPTH, MSG_FONT_RESTRICTED,   MSG_FONT_BITMAP_ONLY,     MSG_FONT_NO_GLYPH,
    MSG_BAD_UTF8,
};


// Notices (pdfp_notice): damage that the reader tolerated, told to a host
// that asks (the tool's -v); never a failure. "%d" is an object number
// or a 1-based page number as the text says.
inline constexpr char MSG_NOTE_MORE[] = "more damage was tolerated; further notices are left out";
inline constexpr char MSG_NOTE_XREF_REBUILT[] =
    "the cross-reference table is damaged or missing; the objects were found by scanning the file";
inline constexpr char MSG_NOTE_LENGTH_RECOVERED[] =
    "object %d: the stream's /Length is missing or wrong; its length was recovered (%d bytes)";
inline constexpr char MSG_NOTE_NO_ENDSTREAM[] =
    "object %d: the stream runs to the end of the file without \"endstream\"";
inline constexpr char MSG_NOTE_STREAM_IGNORED[] =
    "object %d: the stream has no end before its \"endobj\"; the object is ignored";
inline constexpr char MSG_NOTE_DEFAULT_BOX[] = "page %d: no usable page box; shown as US Letter (612 x 792)";
inline constexpr char MSG_NOTE_CONTENTS_PART[] =
    "page %d: %d of its %d content streams could not be read and are left out";
inline constexpr char MSG_NOTE_NESTED_OBJSTM[] = "object %d: an object stream inside another object stream was read";

// Every notice above.
inline constexpr const char *ALL_NOTICES[] = {
    MSG_NOTE_MORE,         MSG_NOTE_XREF_REBUILT,   MSG_NOTE_LENGTH_RECOVERED, MSG_NOTE_NO_ENDSTREAM,
    MSG_NOTE_STREAM_IGNORED, MSG_NOTE_DEFAULT_BOX, MSG_NOTE_CONTENTS_PART,    MSG_NOTE_NESTED_OBJSTM,
};

#endif
