// The few operating-system services the tool needs (cli_platform.cpp), for
// POSIX systems and for Windows. They know nothing of the tool's options.
//
// Results: bool for "done" or yes/no; sizes and texts are empty or 0 when
// unknown.
#ifndef DEDEDIRUZURUD_CLI_PLATFORM_H
#define DEDEDIRUZURUD_CLI_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The characters of a command-line value arg, found from byte `offset` of
// argv[index]: UTF-8 on POSIX systems; on Windows the wide command line's
// text (else arg in the ANSI code page). False with *error on bytes that
// are not text.
bool argument_characters(const char *arg, int index, size_t offset, std::u32string *chars, std::string *error);
int cpu_count();
bool is_terminal(FILE *f);
void set_binary(FILE *f);
bool is_directory(const std::string &path);
bool path_exists(const std::string &path);
bool make_directory(const std::string &path);
// Makes path and the directories above it that are missing.
bool make_directories(const std::string &path);
// The system's reason why path cannot be opened for reading, or written
// (created or replaced): strerror's text, "" when nothing is found amiss.
std::string open_failure_reason(const std::string &path);
std::string write_failure_reason(const std::string &path);
// Size of a file in bytes, 0 when unknown.
int64_t file_size_of(const std::string &path);
// A text that two names of the same existing file share; "" when the path
// names nothing.
std::string file_identity(const std::string &path);
// Runs work(arg) on `threads` threads while this thread calls tick(tick_arg)
// every 100 ms, and once more as soon as the last of them has ended.
void run_parallel(int threads, void (*work)(void *), void *arg, void (*tick)(void *), void *tick_arg);
// Seconds on a steady clock.
double seconds_now();
// A new empty file of this user's in the temporary directory; its path,
// or "" when none can be made.
std::string new_temp_file();

#endif
