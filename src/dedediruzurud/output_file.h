// Writing the finished output file (output_file.cpp): the complete image
// goes to a new temporary file next to the file it replaces (on Linux an
// unnamed one, named only when complete), which takes over that file's
// permissions and is then renamed into its place.
//
// Results: bool, false with the message recorded (set_error).
#ifndef OUTPUT_FILE_H
#define OUTPUT_FILE_H

#include <cstdint>
#include <string>

// Writes data[0..len) as the file at path. true on success; false with
// "cannot write %s", "short write to %s" or "close error on %s" recorded,
// and then the output is as it was and no temporary file is left.
bool output_file_write(const char *path, const unsigned char *data, uint64_t len);

// The same file written piece by piece while the document is assembled,
// so that the whole image need not be held in memory: the pieces go to the
// temporary file, which only output_file_commit puts in the output's place.
struct output_file;
// The temporary file for path; null, with nothing recorded, when the output
// is a device or pipe (which must never see half a document) or cannot be
// written now: the caller then writes the complete image with
// output_file_write, which says why.
output_file *output_file_open(const char *path);
// Appends data[0..len); false with "short write to %s" recorded.
bool output_file_append(output_file *f, const unsigned char *data, uint64_t len);
// Closes the file and puts it in the output's place; false with "cannot
// write %s" or "close error on %s" recorded, and the output as it was.
// Frees f either way.
bool output_file_commit(output_file *f);
// Closes the file and removes what was written; the output stays as it
// was. Frees f.
void output_file_abandon(output_file *f);

// The temporary name next to target for the random value r.
std::string output_temp_name(const std::string &target, uint64_t r);

// Where the random part of temporary names comes from when set (tests
// only, to know the names in advance); null means the system's randomness.
extern uint64_t (*output_temp_random)();

// Told of every named temporary file: with exists true before it is made,
// with false once it is gone (renamed or removed). A host that removes
// them when stopped by a signal sets it; null means nobody watches.
extern void (*output_temp_watch)(const char *name, bool exists);

#endif
