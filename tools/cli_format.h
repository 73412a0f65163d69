// The label format's conversion (cli_format.cpp): the --format value from
// the user's encoding into UTF-8, the numbering entry's.
//
// Results: false with *error set, which main prints (exit status 2).
#ifndef DEDEDIRUZURUD_CLI_FORMAT_H
#define DEDEDIRUZURUD_CLI_FORMAT_H

#include <string>

#include "cli_options.h"

// The --format value in UTF-8; false with *error naming the first byte
// that is not part of a character, a control character, or, with a standard text font, the
// first character its encoding lacks (refused before any file is read).
bool label_format(const options &o, std::string *utf8, std::string *error);

#endif
