// Many files at once: each input numbered into DIR (-o) or beside itself
// (--suffix) on worker threads, with a progress line on a terminal, every
// failure named and a closing summary. With --continue the files are
// counted first so that their numbers run on from file to file. With
// --manifest a run that numbered every file lists them.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <set>

#include "cli_batch.h"
#include "cli_manifest.h"
#include "cli_number.h"
#include "cli_platform.h"
#include "cli_report.h"

namespace {

struct batch {
    const options *o = nullptr;
    std::vector<std::string> names;        // the inputs, in the order given
    std::vector<const char *> inputs;      // the same, as the jobs name them
    std::vector<std::string> outputs;      // their output paths
    std::vector<dedediruzurud_options> records;  // each file's numbering
    std::vector<numbering_job> jobs;       // each file's paths and notice hook
    std::vector<numbering_result> results; // how each went
    std::vector<std::vector<std::string>> notices;  // the reader's, per file (-v)
    std::vector<size_t> order;             // the order of work: largest input first
    bool counting = false;                 // read page counts only, nothing written
    std::vector<int> pages;                // each file's page count, 0 when it failed
    std::atomic<size_t> next{0};  // the next place in order to work on
    // The finished jobs in the order they finished (index + 1; 0 until set),
    // so that the main thread looks at each once.
    std::unique_ptr<std::atomic<size_t>[]> finished_jobs;
    std::atomic<size_t> finishing{0};
    // Kept by the main thread alone.
    size_t finished = 0, failed = 0;
    int64_t pages_done = 0;
    double start = 0;
    bool show_progress = false;
    size_t progress_width = 0;
};

bool is_separator(char c) {
#if defined(_WIN32)
    if (c == '\\' || c == ':') return true;
#endif
    return c == '/';
}

size_t name_start(const std::string &path) {
    size_t k = path.size();
    while (k > 0 && !is_separator(path[k - 1])) --k;
    return k;
}

// DIR/NAME for -o DIR, or the input with the suffix before its extension.
std::string output_for(const options &o, const std::string &input) {
    size_t name = name_start(input);
    if (o.out_dir) {
        std::string dir = o.out_dir;
        if (!dir.empty() && !is_separator(dir.back())) dir += '/';
        return dir + input.substr(name);
    }
    size_t dot = input.rfind('.');
    if (dot == std::string::npos || dot <= name) dot = input.size();  // no extension, or a dot file
    return input.substr(0, dot) + o.suffix + input.substr(dot);
}

// Two inputs writing one file, or one file's output replacing another input,
// would spoil a run that is already half done: refused before any work.
void check_outputs(const std::vector<std::string> &inputs, const std::vector<std::string> &outputs) {
    std::vector<std::string> ids(inputs.size());
    std::set<std::string> seen_inputs, seen_outputs;
    for (size_t k = 0; k < inputs.size(); ++k) {
        ids[k] = file_identity(inputs[k]);
        if (!ids[k].empty() && !seen_inputs.insert(ids[k]).second)
            usage("'" + inputs[k] + "' is given twice");
    }
    for (size_t k = 0; k < outputs.size(); ++k) {
        if (!seen_outputs.insert(outputs[k]).second)
            usage("two inputs would be written to '" + outputs[k] + "'");
        std::string id = file_identity(outputs[k]);
        // Numbering in place is for the two-path form alone: here a second
        // run over the same files would stamp a second label.
        if (!id.empty() && id == ids[k])
            usage("the numbered copy of '" + inputs[k] + "' would replace the file itself: choose another -o DIR");
        if (!id.empty() && seen_inputs.count(id))
            usage("the numbered copy of '" + inputs[k] + "' would replace the input '" + outputs[k] + "'");
    }
}

// DIR of -o made when missing; false with the message printed.
bool prepare_directory(const options &o) {
    if (!o.out_dir || is_directory(o.out_dir)) return true;
    if (path_exists(o.out_dir)) usage(std::string("-o needs a directory, and '") + o.out_dir + "' is not one");
    if (make_directories(o.out_dir)) return true;
    std::string why = write_failure_reason(std::string(o.out_dir) + "/x");
    std::fprintf(stderr, "%s: cannot create directory %s%s%s\n", PROGRAM, o.out_dir, why.empty() ? "" : ": ", why.c_str());
    return false;
}

void number_jobs(void *arg) {
    auto *b = static_cast<batch *>(arg);
    for (size_t k; (k = b->next.fetch_add(1)) < b->order.size();) {
        size_t i = b->order[k];
        numbering_job job = b->jobs[i];
        if (b->counting) job.output_path = nullptr;
        b->pages[i] = number_file(*b->o, b->records[i], job, &b->results[i]);
        b->finished_jobs[b->finishing.fetch_add(1)].store(i + 1, std::memory_order_release);
    }
}

void clear_progress(batch *b) {
    if (b->progress_width == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(b->progress_width), "");
    b->progress_width = 0;
}

double rate(int64_t pages, double seconds) { return seconds > 0 ? static_cast<double>(pages) / seconds : 0; }

// Reports what the workers finished since the last look.
void watch(void *arg) {
    auto *b = static_cast<batch *>(arg);
    size_t files = b->inputs.size();
    for (size_t v; b->finished < files && (v = b->finished_jobs[b->finished].load(std::memory_order_acquire));) {
        size_t i = v - 1;
        ++b->finished;
        if (b->pages[i] > 0) {
            b->pages_done += b->pages[i];
            if (!b->counting && (b->results[i].overwide_labels > 0 || b->o->verbose)) {
                clear_progress(b);
                report_success(*b->o, b->jobs[i], b->results[i]);
            }
            continue;
        }
        ++b->failed;
        clear_progress(b);
        report_failure(*b->o, b->jobs[i], b->results[i]);
    }
    bool all_done = b->finished == files;
    double now = seconds_now();
    if (b->show_progress && !all_done) {
        char line[160];
        int n = std::snprintf(line, sizeof line, "\r%zu of %zu files, %lld page%s, %.0f pages/s", b->finished, files,
                              static_cast<long long>(b->pages_done), b->pages_done == 1 ? "" : "s",
                              rate(b->pages_done, now - b->start));
        std::fputs(line, stderr);
        size_t width = n > 1 ? static_cast<size_t>(n - 1) : 0;
        if (width < b->progress_width) std::fprintf(stderr, "%*s", static_cast<int>(b->progress_width - width), "");
        b->progress_width = std::max(width, b->progress_width);
        std::fflush(stderr);
    }
    if (all_done) clear_progress(b);
}

// Runs every job; the number of failures.
size_t run_all(batch *b, int jobs) {
    size_t n = b->inputs.size();
    b->pages.assign(n, 0);
    b->results.assign(n, numbering_result{});
    b->finished_jobs.reset(new std::atomic<size_t>[n]);
    for (size_t i = 0; i < n; ++i) b->finished_jobs[i].store(0);
    b->next = 0;
    b->finishing = 0;
    b->finished = b->failed = 0;
    b->pages_done = 0;
    b->start = seconds_now();
    int threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), n));
    run_parallel(threads, number_jobs, b, watch, b);
    return b->failed;
}

// --continue: counts every file's pages (nothing written), then gives each
// file its first number and all of them one total: the page count of all,
// or what --total says. False when a file cannot be read, its selection is
// empty or the numbers run out of range.
bool chain_numbers(batch *b, int jobs) {
    b->counting = true;
    bool show = b->show_progress;
    b->show_progress = false;
    size_t failed = run_all(b, jobs);
    b->show_progress = show;
    b->counting = false;
    size_t n = b->inputs.size();
    std::vector<file_numbers> numbers(n);
    for (size_t i = 0; i < n; ++i) {
        std::string message;
        if (b->pages[i] > 0 && !labelled_pages(*b->o, b->records[i], b->pages[i], &numbers[i], &message)) {
            std::snprintf(b->results[i].message, sizeof b->results[i].message, "%s", message.c_str());
            report_failure(*b->o, b->jobs[i], b->results[i]);
            ++failed;
        }
    }
    if (failed) {
        std::fprintf(stderr, "%s: nothing written: with --continue every file must be readable (%zu of %zu are not)\n",
                     PROGRAM, failed, n);
        return false;
    }
    int64_t pages = 0, next = n ? b->records[0].first_number : 1;
    for (size_t i = 0; i < n; ++i) {
        if (next < INT_MIN || next > INT_MAX) {
            std::fprintf(stderr, "%s: %s: page numbers past %d\n", PROGRAM, b->inputs[i], INT_MAX);
            return false;
        }
        b->records[i].first_number = static_cast<int>(next);
        b->notices[i].clear();  // told again by the numbering pass
        next += static_cast<int64_t>(numbers[i].last_index) - numbers[i].first_index + 1;
        pages += b->pages[i];
    }
    int mode = b->records.empty() ? DEDEDIRUZURUD_TOTAL_GIVEN : b->records[0].total_mode;
    int64_t total = mode == DEDEDIRUZURUD_TOTAL_GIVEN ? b->records[0].total
                    : mode == DEDEDIRUZURUD_TOTAL_LABELLED ? next - 1 : pages;
    if (total < INT_MIN || total > INT_MAX) {
        std::fprintf(stderr, "%s: {total} past %d\n", PROGRAM, INT_MAX);
        return false;
    }
    for (auto &r : b->records) {
        r.total_mode = DEDEDIRUZURUD_TOTAL_GIVEN;
        r.total = static_cast<int>(total);
    }
    return true;
}

// The manifest of a run in which every file was numbered.
bool write_batch_manifest(const batch &b) {
    std::vector<manifest_row> rows;
    std::string error;
    for (size_t i = 0; i < b.inputs.size(); ++i) {
        rows.push_back({b.inputs[i], b.outputs[i], b.records[i], {}});
        labelled_pages(*b.o, b.records[i], b.pages[i], &rows.back().numbers, &error);
    }
    if (write_manifest(b.o->extras.manifest, rows, &error)) return true;
    std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
    return false;
}

void print_summary(const batch &b, double seconds) {
    if (b.o->quiet) return;
    size_t n = b.inputs.size(), done = n - b.failed;
    std::string files = b.failed ? std::to_string(done) + " of " + std::to_string(n) : std::to_string(n);
    std::printf("Numbered %s file%s (%lld page%s) in %.2f s, %.0f pages/s", files.c_str(), n == 1 ? "" : "s",
                static_cast<long long>(b.pages_done), b.pages_done == 1 ? "" : "s", seconds,
                rate(b.pages_done, seconds));
    if (b.failed) std::printf("; %zu failed", b.failed);
    std::printf(".\n");
}

// --suffix over a glob that also matches the copies an earlier run made
// (a.pdf and a-numbered.pdf): the copies are left alone, with a note, rather
// than numbered again or refused for replacing an input.
std::vector<std::string> without_earlier_copies(const options &o) {
    std::vector<std::string> inputs(o.files.begin(), o.files.end());
    if (!o.suffix) return inputs;
    std::map<std::string, std::string> given, copies;  // identity -> input; copy's identity -> its source
    for (const auto &in : inputs) given.emplace(file_identity(in), in);
    for (const auto &in : inputs) {
        std::string id = file_identity(output_for(o, in));
        if (!id.empty() && given.count(id)) copies.emplace(id, in);
    }
    std::vector<std::string> kept;
    for (const auto &in : inputs) {
        auto c = copies.find(file_identity(in));
        if (c == copies.end()) kept.push_back(in);
        else note(o, "skipping " + in + ": it is the numbered copy of " + c->second + " from an earlier run");
    }
    return kept;
}

}  // namespace

int run_batch(const options &o) {
    batch b;
    b.o = &o;
    b.names = without_earlier_copies(o);
    const std::vector<std::string> &inputs = b.names;
    for (const auto &in : inputs) b.inputs.push_back(in.c_str());
    for (const auto &in : inputs) b.outputs.push_back(output_for(o, in));
    check_outputs(inputs, b.outputs);
    if (!prepare_directory(o)) return EXIT_FAILED;
    b.records.assign(inputs.size(), record_for(o));
    std::vector<int64_t> sizes;
    b.notices.resize(inputs.size());
    b.results.resize(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        numbering_job job{};
        job.input_path = b.inputs[i];
        job.output_path = b.outputs[i].c_str();
        keep_notices(o, &job, &b.notices[i]);
        b.jobs.push_back(job);
        sizes.push_back(file_size_of(inputs[i]));
    }
    // Largest first, so that no big file starts last while the other cores idle.
    b.order.resize(inputs.size());
    std::iota(b.order.begin(), b.order.end(), size_t{0});
    std::stable_sort(b.order.begin(), b.order.end(), [&](size_t x, size_t y) { return sizes[x] > sizes[y]; });
    b.show_progress = is_terminal(stderr) && !o.quiet;
    int jobs = o.jobs > 0 ? o.jobs : cpu_count();
    double start = seconds_now();
    if (o.chain && !chain_numbers(&b, jobs)) return EXIT_FAILED;
    size_t failed = run_all(&b, jobs);
    print_summary(b, seconds_now() - start);
    if (failed) return EXIT_FAILED;
    return o.extras.manifest && !write_batch_manifest(b) ? EXIT_FAILED : 0;
}
