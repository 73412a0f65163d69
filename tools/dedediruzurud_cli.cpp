// dedediruzurud: the command-line face of the library. It turns options
// into numbering calls: one for INPUT.pdf OUTPUT.pdf (either may be "-", a
// pipe), or one per file with -o DIR or --suffix TEXT (cli_batch.cpp), and
// reports the library's messages in the user's terms (cli_report.cpp).
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli_batch.h"
#include "cli_format.h"
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

// INPUT.pdf OUTPUT.pdf, either of them possibly a pipe.
int run_single(const options &o) {
    const char *in = o.files[0], *out = o.files[1];
    bool in_pipe = std::strcmp(in, "-") == 0, out_pipe = std::strcmp(out, "-") == 0;
    if (out_pipe && is_terminal(stdout))
        usage("standard output is a terminal: redirect it, or name an OUTPUT.pdf");
    numbering_job job = job_for(o, in_pipe ? STDIN_NAME : in);
    std::vector<std::string> notices;
    keep_notices(o, &job, &notices);
    std::vector<unsigned char> bytes;
    static const unsigned char nothing = 0;
    if (in_pipe) {
        if (!read_stream(stdin, &bytes)) {
            std::fprintf(stderr, "%s: read error on %s\n", PROGRAM, STDIN_NAME);
            return EXIT_FAILED;
        }
        job.input_bytes = bytes.empty() ? &nothing : bytes.data();
        job.input_size = bytes.size();
    }
    pdfp_buf image{};
    if (out_pipe) job.output_image = &image;
    else job.output_path = out;
    numbering_result r;
    bool ok = numbering_run(&job, &r) == 1;
    if (ok && out_pipe) {
        set_binary(stdout);
        ok = std::fwrite(image.data, 1, image.len, stdout) == image.len && std::fflush(stdout) == 0;
        if (!ok) std::snprintf(r.message, sizeof r.message, MSG_SHORT_WRITE, STDOUT_NAME);
    }
    pdfp_buf_free(&image);
    if (ok) {
        report_success(o, job, r);
        return 0;
    }
    report_failure(o, job, r);
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
        warn_about_options(o);
        return o.out_dir || o.suffix ? run_batch(o) : run_single(o);
    } catch (const usage_error &) {
        return EXIT_USAGE;
    } catch (const std::exception &) {
        std::fprintf(stderr, "%s: out of memory\n", PROGRAM);
        return EXIT_FAILED;
    }
}
