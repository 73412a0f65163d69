// What the tool tells its user (cli_report.cpp): a failed file's message in
// the user's terms, "dedediruzurud: FILE: MESSAGE", with the system's
// reason where the system refused, and warnings, notes and -v's details,
// which -q silences.
#ifndef DEDEDIRUZURUD_CLI_REPORT_H
#define DEDEDIRUZURUD_CLI_REPORT_H

#include <string>
#include <vector>

#include "cli_options.h"

// Prints why job failed: the library's message with the file named first
// (not twice), internal terms replaced by the options' own, and what would
// help for an encrypted file.
void report_failure(const options &o, const numbering_job &job, const numbering_result &r);

// The message report_failure prints, without the program's name.
std::string failure_text(const options &o, const numbering_job &job, const numbering_result &r);

// "dedediruzurud: FILE: warning: TEXT" (FILE left out when empty), unless -q.
void warn(const options &o, const std::string &file, const std::string &text);
// "dedediruzurud: note: TEXT", unless -q.
void note(const options &o, const std::string &text);

// With -v, has job keep the reader's notices of tolerated damage in
// *notices (which outlives the job), for report_success and
// report_failure to print; nothing otherwise.
void keep_notices(const options &o, numbering_job *job, std::vector<std::string> *notices);

// After a file was numbered: the warnings its result calls for, and with
// -v its page count and the reader's notices.
void report_success(const options &o, const numbering_job &job, const numbering_result &r);

// The warnings the options call for before any work: a format with no
// placeholder.
void warn_about_options(const options &o);

#endif
