// placeholder until the writer lands
#include "dedediruzurud_internal.h"
int numbered_doc(const pdfp_doc *, const char *output_path, int, const char *, double, int, int, int, int, int, int) {
    if (!output_path) { set_error("NULL output path"); return 0; }
    set_error("failed to build output");
    return 0;
}
