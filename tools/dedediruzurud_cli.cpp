// dedediruzurud: the command-line face of the library. It turns options
// into calls of its numbering entry: one for INPUT.pdf OUTPUT.pdf (either
// may be "-", a pipe), or one per file with -o DIR or --suffix TEXT
// (cli_batch.cpp), and reports the library's messages in the user's terms
// (cli_report.cpp).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli_batch.h"
#include "cli_format.h"
#include "cli_manifest.h"
#include "cli_number.h"
#include "cli_options.h"
#include "cli_platform.h"
#include "cli_report.h"
#include "cli_signals.h"

namespace {

// The names the pipes go by in messages.
constexpr const char *STDIN_NAME = "(standard input)";
constexpr const char *STDOUT_NAME = "(standard output)";
constexpr size_t MAX_INPUT_BYTES = MAX_FILE_BYTES;  // the library's limit

// The whole of a stream (at most one byte past the library's limit, which
// then refuses it); false on a read error.
bool read_stream(FILE *f, std::vector<unsigned char> *bytes) {
    set_binary(f);
    unsigned char chunk[65536];
    size_t n;
    while (bytes->size() <= MAX_INPUT_BYTES && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    return !std::ferror(f);
}

// A pipe's bytes pass through a temporary file, since the numbering entry
// reads and writes files; it is removed on every path out.
struct temp_file {
    std::string path;
    // A new temporary file, watched so that a stop removes it too; false when none could be made.
    bool make() {
        path = new_temp_file();
        if (!path.empty()) watch_own_temporary(path.c_str(), true);
        return !path.empty();
    }
    ~temp_file() {
        if (path.empty()) return;
        std::remove(path.c_str());
        watch_own_temporary(path.c_str(), false);
    }
};

// The message with the temporary file's path replaced by the pipe's name.
std::string naming(std::string message, const std::string &path, const char *name) {
    if (path.empty()) return message;
    for (size_t at; (at = message.find(path)) != std::string::npos;) message.replace(at, path.size(), name);
    return message;
}

bool write_whole(const std::string &path, const std::vector<unsigned char> &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    bool ok = f && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    if (f && std::fclose(f) != 0) ok = false;
    return ok;
}

bool copy_to_stdout(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    set_binary(stdout);
    char chunk[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) ok = std::fwrite(chunk, 1, n, stdout) == n;
    ok = ok && !std::ferror(f) && std::fflush(stdout) == 0;
    std::fclose(f);
    return ok;
}

// INPUT.pdf OUTPUT.pdf, either of them possibly a pipe.
int run_single(const options &o) {
    const char *in = o.files[0], *out = o.files[1];
    bool in_pipe = std::strcmp(in, "-") == 0, out_pipe = std::strcmp(out, "-") == 0;
    if (out_pipe && is_terminal(stdout))
        usage("standard output is a terminal: redirect it, or name an OUTPUT.pdf");
    temp_file in_temp, out_temp;
    // The job as messages name it; the files it reads and writes may be
    // temporary ones standing for the pipes.
    numbering_job shown{};
    shown.input_path = in_pipe ? STDIN_NAME : in;
    shown.output_path = out_pipe ? STDOUT_NAME : out;
    std::vector<std::string> notices;
    keep_notices(o, &shown, &notices);
    if (in_pipe) {
        std::vector<unsigned char> bytes;
        if (!read_stream(stdin, &bytes)) {
            std::fprintf(stderr, "%s: read error on %s\n", PROGRAM, STDIN_NAME);
            return EXIT_FAILED;
        }
        if (!in_temp.make() || !write_whole(in_temp.path, bytes)) {
            std::fprintf(stderr, "%s: cannot keep %s in a temporary file\n", PROGRAM, STDIN_NAME);
            return EXIT_FAILED;
        }
    }
    if (out_pipe && !out_temp.make()) {
        std::fprintf(stderr, "%s: cannot make a temporary file for %s\n", PROGRAM, STDOUT_NAME);
        return EXIT_FAILED;
    }
    dedediruzurud_options record = record_for(o);
    numbering_job job = shown;
    job.input_path = in_pipe ? in_temp.path.c_str() : in;
    job.output_path = out_pipe ? out_temp.path.c_str() : out;
    numbering_result r;
    int pages = number_file(o, record, job, &r);
    if (pages && out_pipe && !copy_to_stdout(out_temp.path)) {
        std::snprintf(r.message, sizeof r.message, MSG_SHORT_WRITE, STDOUT_NAME);
        pages = 0;
    }
    if (!pages) {
        std::string m = naming(naming(r.message, in_temp.path, STDIN_NAME), out_temp.path, STDOUT_NAME);
        std::snprintf(r.message, sizeof r.message, "%s", m.c_str());
        report_failure(o, shown, r);
        return EXIT_FAILED;
    }
    report_success(o, shown, r);
    if (!o.extras.manifest) return 0;
    std::string message;
    manifest_row row{in, out, record, {}};
    labelled_pages(o, record, pages, &row.numbers, &message);
    if (write_manifest(o.extras.manifest, {row}, &message)) return 0;
    std::fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
    return EXIT_FAILED;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    remove_temporaries_when_stopped();
    try {
        int status = parse_options(argc, argv, &o);
        if (status >= 0) return status;
        std::string error;
        if (o.format_arg && !label_format(o, &o.format, &error)) {
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            return EXIT_USAGE;
        }
        // Margins, opacity and the format's placeholders are refused before any work.
        if (std::string problem = record_problem(record_for(o)); !problem.empty()) usage(problem);
        warn_about_options(o);
        return o.out_dir || o.suffix ? run_batch(o) : run_single(o);
    } catch (const usage_error &) {
        return EXIT_USAGE;
    } catch (const std::exception &) {
        std::fprintf(stderr, "%s: out of memory\n", PROGRAM);
        return EXIT_FAILED;
    }
}
