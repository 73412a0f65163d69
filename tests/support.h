// Helpers shared by the tests: files, commands and small hand-built PDFs.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <string>
#include <vector>

#include "pdf_parse.h"

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);
// A fresh path inside this process's scratch directory.
std::string temp_path(const std::string &name);
// Runs a shell command; returns its exit status, stdout in *out when given.
int run_command(const std::string &cmd, std::string *out = nullptr);
bool have_tool(const std::string &name);
std::string corpus_file(const std::string &name);

// Builds a classic PDF from object bodies: bodies[k] becomes object k + 1
// ("k 0 obj\n" body "\nendobj\n"), followed by a correct xref table and a
// trailer naming /Root root (omitted when root <= 0).
std::string make_pdf(const std::vector<std::string> &bodies, int root = 1,
                     const std::string &trailer_extra = "");
// A stream object body with a correct /Length: "<< dict /Length n >>stream\n...\nendstream".
std::string stream_body(const std::string &dict_entries, const std::string &data);
// A document of n pages, each drawing "content" with MediaBox [0 0 w h].
std::string simple_pdf(int pages, double w = 612, double h = 792,
                       const std::string &content = "0 0 m 10 10 l S");
// zlib-compressed bytes (test oracle).
std::string zlib_compress(const std::string &data, int level = 6);

// Report function for pdfp_doc_load that keeps the last message.
void capture_report(const char *fmt, ...);
extern std::string g_captured;

// Loads bytes as a document; returns pdfp_doc_load's result and the message.
int load_bytes(const std::string &bytes, pdfp_doc *doc, std::string *msg = nullptr);

#endif
