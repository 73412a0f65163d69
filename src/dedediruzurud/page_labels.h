// page_labels: the output's /PageLabels, so that a viewer's page box shows
// what the pages print. Labelled pages whose format is text and one {n} get
// one range per run in that style (/S /St /P); any other label a one-page
// range whose /P is the whole label. Pages without a label keep the
// input's own labels where it had them, else their page number.
//
// Return convention: the value's text; it cannot fail.
#ifndef PAGE_LABELS_H
#define PAGE_LABELS_H

#include <string>
#include <vector>

#include "dedediruzurud_internal.h"
#include "number_format.h"

// The /PageLabels dictionary for doc's pages, labels[k] being the label
// (UTF-8) of page sel->first_index + k, written with format f.
std::string page_labels_value(const pdfp_doc *doc, const page_selection *sel, const number_format &f,
                              const std::vector<std::string> &labels);
// A PDF text string: a literal string for printable ASCII, else UTF-16BE
// with its byte-order mark, in hexadecimal.
std::string pdf_text_string(const std::string &utf8);

#endif
