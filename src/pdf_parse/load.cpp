// placeholder until the loader lands
#include <cstring>
#include "pdf_parse.h"
int pdfp_doc_load(const char *path, pdfp_doc *doc, pdfp_report_fn report) {
    std::memset(doc, 0, sizeof *doc);
    if (!path) { report("NULL path argument"); return -1; }
    report("cannot open %s", path);
    return -1;
}
void pdfp_doc_free(pdfp_doc *doc) { std::memset(doc, 0, sizeof *doc); }
