// Telling a host what damage the reader tolerated: one short text a
// notice, a bounded number of them per document.
#include <cstdarg>
#include <cstdio>

#include "messages.h"
#include "pdf_parse.h"

void pdfp_notice(const pdfp_doc *doc, const char *fmt, ...) {
    pdfp_notices *n = doc ? doc->notices : nullptr;
    if (!n || !n->fn || n->told > PDFP_MAX_NOTICES) return;
    // A file damaged everywhere would otherwise tell of every object.
    if (n->told++ == PDFP_MAX_NOTICES) {
        n->fn(n->ctx, MSG_NOTE_MORE);
        return;
    }
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    n->fn(n->ctx, text);
}
