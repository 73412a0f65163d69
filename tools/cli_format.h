// The label format's conversion (cli_format.cpp): the --format value from
// the user's encoding into Windows-1252, the label font's encoding.
//
// Results: false with *error set, which main prints (exit status 2).
#ifndef DEDEDIRUZURUD_CLI_FORMAT_H
#define DEDEDIRUZURUD_CLI_FORMAT_H

#include <string>

#include "cli_options.h"

// The --format value in Windows-1252; false with *error naming the first
// character the font cannot show or that is a control character, or the
// first byte that is not part of a character.
bool label_format(const options &o, std::string *cp1252, std::string *error);
// Unicode code point c in Windows-1252, or -1 when that has no such character.
int cp1252_code(char32_t c);

#endif
