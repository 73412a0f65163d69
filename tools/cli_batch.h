// Many files at once (cli_batch.cpp): -o DIR or --suffix TEXT, with
// --continue.
#ifndef DEDEDIRUZURUD_CLI_BATCH_H
#define DEDEDIRUZURUD_CLI_BATCH_H

#include <string>

#include "cli_options.h"
#include "dedediruzurud_internal.h"

// Numbers every file the options name; the exit status.
int run_batch(const options &o);
// A failed numbering's message, with a hint behind it when a password is
// what the input lacks.
std::string failure_message(const numbering_result &r);

#endif
