// Cleaning up after a stop (cli_signals.cpp): the named temporary files the
// library writes are removed when the tool is stopped by SIGINT, SIGTERM or
// SIGHUP (on Windows by Ctrl-C, Ctrl-Break or the console closing), and the
// process then ends as that signal would have ended it.
#ifndef DEDEDIRUZURUD_CLI_SIGNALS_H
#define DEDEDIRUZURUD_CLI_SIGNALS_H

// Installs the handlers and starts watching the library's temporary files.
void remove_temporaries_when_stopped();
// The tool's own temporary files (a pipe's bytes) are removed on a stop
// too: told with exists true once made, false once gone.
void watch_own_temporary(const char *name, bool exists);

#endif
