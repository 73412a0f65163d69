// Cleaning up after a stop (cli_signals.cpp): the named temporary files the
// library writes are removed when the tool is stopped by SIGINT, SIGTERM or
// SIGHUP (on Windows by Ctrl-C, Ctrl-Break or the console closing), and the
// process then ends as that signal would have ended it.
#ifndef DEDEDIRUZURUD_CLI_SIGNALS_H
#define DEDEDIRUZURUD_CLI_SIGNALS_H

// Installs the handlers and starts watching the library's temporary files.
void remove_temporaries_when_stopped();

#endif
