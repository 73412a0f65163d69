// The manifest of a run (cli_manifest.cpp): a CSV file that lists every
// numbered file with the first and last label it prints and its page
// count, as productions hand it over with the documents.
//
// Results: write_manifest returns false with *error set (exit status 1).
#ifndef DEDEDIRUZURUD_CLI_MANIFEST_H
#define DEDEDIRUZURUD_CLI_MANIFEST_H

#include <string>
#include <vector>

#include "cli_number.h"

struct manifest_row {
    std::string input, output;  // as the run named them
    dedediruzurud_options record;  // the file's numbering (its format, first number)
    file_numbers numbers;
};

// Writes the header line "input,output,first,last,pages" and one line per
// row, in order.
bool write_manifest(const char *path, const std::vector<manifest_row> &rows, std::string *error);

#endif
