// The library's messages are part of its interface and name things as its
// callers in C do (skip_pages, a range of page numbers); the tool says them
// again in its own user's terms, always with the file first, and adds what
// the library cannot know: the system's reason for a refused open or
// write, and what would help with an encrypted file.
#include "cli_report.h"

#include <cstring>

#include "cli_platform.h"
#include "dedediruzurud/label.h"

namespace {

// The fixed part of a message: its text up to the first placeholder.
std::string prefix_of(const char *format) {
    const char *p = std::strchr(format, '%');
    return p ? std::string(format, p) : std::string(format);
}

bool starts_with(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool ends_with(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A path as the user can see it in a message.
std::string shown(const std::string &path) { return path.empty() ? "'' (an empty path)" : path; }

std::string pages(int64_t n) { return std::to_string(n) + (n == 1 ? " page" : " pages"); }

// "cannot open IN" and "cannot write OUT", with the system's reason.
std::string with_reason(const std::string &prefix, const std::string &path, const std::string &reason) {
    return prefix + shown(path) + (reason.empty() ? "" : ": " + reason);
}

// What would help, after the refusal of an encrypted file.
std::string encrypted_hint(const std::string &core, const std::string &input, bool needs_password) {
    if (core + ": " == prefix_of(MSG_ENCRYPTED) && needs_password)
        return core + ": it needs a password to open; save a copy without encryption first (for example " +
               "qpdf --decrypt --password=PASSWORD " + input + " plain.pdf) and number that";
    if (core + ": " == prefix_of(MSG_ENCRYPTED))
        return core + ": its encryption is of a kind this tool does not read; save a copy without encryption " +
               "first (for example qpdf --decrypt " + input + " plain.pdf) and number that";
    if (core + ": " == prefix_of(MSG_NO_PERMISSION))
        return core + ": ask its author for a copy that allows changes";
    return core;
}

void print_line(const std::string &text) { std::fprintf(stderr, "%s: %s\n", PROGRAM, text.c_str()); }

// Called on the thread that runs the job; printed later by the main thread.
void collect_notice(void *ctx, const char *text) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); }

void print_notices(const options &o, const numbering_job &job) {
    if (!o.verbose || o.quiet || job.notice != collect_notice) return;
    for (const auto &text : *static_cast<const std::vector<std::string> *>(job.notice_ctx))
        print_line(std::string(job.input_path) + ": repaired: " + text);
}

}  // namespace

std::string failure_text(const options &o, const numbering_job &job, const numbering_result &r) {
    std::string m = r.message, in = job.input_path ? job.input_path : "";
    std::string out = job.output_path ? job.output_path : "";
    if (starts_with(m, prefix_of(MSG_SKIP_ALL)))
        return in + ": --skip " + std::to_string(o.skip) + " leaves no page to number: the document has " +
               pages(r.page_count);
    if (starts_with(m, prefix_of(MSG_EMPTY_RANGE)))
        return in + ": --pages " + std::to_string(o.from) + (o.to == o.from ? "" : "-" + (o.to == INT_MAX ? "" : std::to_string(o.to))) +
               " selects no page: the document has " + pages(r.page_count);
    if (m == prefix_of(MSG_CANNOT_OPEN) + in) return with_reason(prefix_of(MSG_CANNOT_OPEN), in, open_failure_reason(in));
    if (job.output_path && m == prefix_of(MSG_CANNOT_WRITE) + out)
        return with_reason(prefix_of(MSG_CANNOT_WRITE), out, write_failure_reason(out));
    // "encrypted PDFs are not supported: IN" and the like: the file goes first.
    if (!in.empty() && ends_with(m, ": " + in)) return in + ": " + encrypted_hint(m.substr(0, m.size() - in.size() - 2), in, r.needs_password);
    // A path that the message holds already ("read error on IN", "short write to OUT").
    if ((!in.empty() && m.find(in) != std::string::npos) || (!out.empty() && m.find(out) != std::string::npos)) return m;
    return shown(in) + ": " + m;
}

void report_failure(const options &o, const numbering_job &job, const numbering_result &r) {
    print_notices(o, job);
    print_line(failure_text(o, job, r));
}

void keep_notices(const options &o, numbering_job *job, std::vector<std::string> *notices) {
    if (!o.verbose || o.quiet) return;
    job->notice = collect_notice;
    job->notice_ctx = notices;
}

void warn(const options &o, const std::string &file, const std::string &text) {
    if (!o.quiet) print_line((file.empty() ? "" : file + ": ") + "warning: " + text);
}

void note(const options &o, const std::string &text) {
    if (!o.quiet) print_line("note: " + text);
}

void report_success(const options &o, const numbering_job &job, const numbering_result &r) {
    if (r.overwide_labels > 0)
        warn(o, job.input_path,
             "the label is wider than the room on " + pages(r.overwide_labels) + " at size " + std::to_string(o.size) +
                 ": it runs past the margin (a smaller --size or a shorter --format would fit)");
    if (o.verbose && !o.quiet) print_line(std::string(job.input_path) + ": " + pages(r.page_count));
    print_notices(o, job);
}

void warn_about_options(const options &o) {
    // The library's own expansion: a format that comes out the same for two
    // different numbers and totals shows no number.
    const char *f = o.format.c_str();
    if (o.format_arg && label_text(f, 1, 1) == label_text(f, 2, 2))
        warn(o, "", "--format '" + std::string(o.format_arg) +
                        "' holds no {n} or {total}: every labelled page shows the same text");
}
