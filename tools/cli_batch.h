// Many files at once (cli_batch.cpp): -o DIR or --suffix TEXT, with
// --continue.
#ifndef DEDEDIRUZURUD_CLI_BATCH_H
#define DEDEDIRUZURUD_CLI_BATCH_H

#include <string>

#include "cli_options.h"

// Numbers every file the options name; the exit status.
int run_batch(const options &o);

#endif
