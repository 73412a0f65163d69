// Running the built command-line tool from the tests.
#ifndef CLI_SUPPORT_H
#define CLI_SUPPORT_H

#include <string>
#include <vector>

#include "writer_support.h"

#ifndef DEDEDIRUZURUD_CLI
#define DEDEDIRUZURUD_CLI "dedediruzurud"
#endif

using strings = std::vector<std::string>;

inline std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct run_result {
    int status;
    std::string output;  // stdout and stderr together
};

// The tool with args; prefix goes before it on the shell's command line.
inline run_result cli(const strings &args, const std::string &prefix = "") {
    std::string cmd = prefix + quote(DEDEDIRUZURUD_CLI);
    for (const auto &a : args) cmd += " " + quote(a);
    run_result r;
    r.status = run_command(cmd + " 2>&1", &r.output);
    return r;
}

struct split_result {
    int status;
    std::string out, err;
};

// The tool with stdout and stderr apart; stdin from the file `input` when given.
inline split_result cli_split(const strings &args, const std::string &input = "") {
    std::string err_file = temp_path("stderr.txt");
    std::string cmd = quote(DEDEDIRUZURUD_CLI);
    for (const auto &a : args) cmd += " " + quote(a);
    if (!input.empty()) cmd += " < " + quote(input);
    split_result r;
    r.status = run_command(cmd + " 2> " + quote(err_file), &r.out);
    r.err = read_file(err_file);
    return r;
}

// The lines of a text, in order.
inline strings lines_of(const std::string &text) {
    strings v;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        v.push_back(text.substr(start, nl - start));
    if (start < text.size()) v.push_back(text.substr(start));
    return v;
}

#endif
