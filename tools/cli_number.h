// One numbering as the options describe it (cli_number.cpp), through the
// library's numbering entry dedediruzurud_number: the entry's record, the
// call, and what --continue and the manifest need to know of a file (its
// page count, the labelled pages and their numbers).
//
// Results: number_file returns the input's page count, or 0 with
// *message set; labelled_pages returns false with *message set.
#ifndef DEDEDIRUZURUD_CLI_NUMBER_H
#define DEDEDIRUZURUD_CLI_NUMBER_H

#include <string>

#include "cli_options.h"
#include "dedediruzurud_internal.h"

// What one file came to.
struct file_numbers {
    int pages = 0;                      // the input's page count
    int first_index = 0, last_index = -1;  // the labelled pages, 0-based
    int first_number = 0;               // shown on first_index
    int64_t total = 0;                  // shown for {total}
};

// The entry's record for the options (the format as o.format holds it);
// --continue's first number and total are set by the batch.
dedediruzurud_options record_for(const options &o);
// The library's verdict on the record before any file is read: "" or why
// it is refused (a usage error).
std::string record_problem(const dedediruzurud_options &record);
// Numbers job.input_path into job.output_path (null: reads the page count
// only, whatever the selection), the reader's notices told to job.notice;
// *r says how it went. Failures of the selection carry the three
// functions' messages, as the tool always gave them.
int number_file(const options &o, const dedediruzurud_options &record, const numbering_job &job,
                numbering_result *r);
// The pages the options label in a document of `pages` pages, and their numbers.
bool labelled_pages(const options &o, const dedediruzurud_options &record, int pages, file_numbers *n,
                    std::string *message);
// The label printed on the page numbered n (UTF-8).
std::string printed_label(const dedediruzurud_options &record, int64_t n, int64_t total);

#endif
