// Many files at once: each input numbered into DIR (-o) or beside itself
// (--suffix) on worker threads, with a progress line on a terminal, every
// failure named and a closing summary. With --continue the files are
// counted first so that their numbers run on from file to file.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <set>

#include "cli_batch.h"
#include "cli_platform.h"
#include "cli_report.h"

namespace {

struct batch {
    const options *o = nullptr;
    std::vector<numbering_job> jobs;       // one per input, in the order given
    std::vector<std::string> outputs;      // their output paths
    std::vector<std::vector<std::string>> notices;  // the reader's, per job (-v)
    std::vector<size_t> order;             // the order of work: largest input first
    std::vector<numbering_result> results;
    std::vector<char> succeeded;
    std::atomic<size_t> next{0};  // the next place in order to work on
    // The finished jobs in the order they finished (index + 1; 0 until set),
    // so that the main thread looks at each once.
    std::unique_ptr<std::atomic<size_t>[]> finished_jobs;
    std::atomic<size_t> finishing{0};
    // Kept by the main thread alone.
    size_t finished = 0, failed = 0;
    int64_t pages = 0;
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
        b->succeeded[i] = numbering_run(&b->jobs[i], &b->results[i]) == 1;
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
    for (size_t v; b->finished < b->jobs.size() && (v = b->finished_jobs[b->finished].load(std::memory_order_acquire));) {
        size_t i = v - 1;
        ++b->finished;
        bool counting = b->jobs[i].count_only;
        if (b->succeeded[i]) {
            b->pages += b->results[i].page_count;
            if (!counting && (b->results[i].overwide_labels > 0 || b->o->verbose)) {
                clear_progress(b);
                report_success(*b->o, b->jobs[i], b->results[i]);
            }
            continue;
        }
        ++b->failed;
        clear_progress(b);
        report_failure(*b->o, b->jobs[i], b->results[i]);
    }
    bool all_done = b->finished == b->jobs.size();
    double now = seconds_now();
    if (b->show_progress && !all_done) {
        char line[160];
        int n = std::snprintf(line, sizeof line, "\r%zu of %zu files, %lld page%s, %.0f pages/s", b->finished,
                              b->jobs.size(), static_cast<long long>(b->pages), b->pages == 1 ? "" : "s",
                              rate(b->pages, now - b->start));
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
    size_t n = b->jobs.size();
    b->results.assign(n, numbering_result{});
    b->succeeded.assign(n, 0);
    b->finished_jobs.reset(new std::atomic<size_t>[n]);
    for (size_t i = 0; i < n; ++i) b->finished_jobs[i].store(0);
    b->next = 0;
    b->finishing = 0;
    b->finished = b->failed = 0;
    b->pages = 0;
    b->start = seconds_now();
    int threads = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), n));
    run_parallel(threads, number_jobs, b, watch, b);
    return b->failed;
}

// --continue: counts every file's pages (nothing written), then gives each
// file its first number and all of them the total. False when a file
// cannot be read or the numbers run out of range.
bool chain_numbers(batch *b, int jobs) {
    for (auto &j : b->jobs) j.count_only = true;
    bool show = b->show_progress;
    b->show_progress = false;
    size_t failed = run_all(b, jobs);
    b->show_progress = show;
    if (failed) {
        std::fprintf(stderr, "%s: nothing written: with --continue every file must be readable (%zu of %zu are not)\n",
                     PROGRAM, failed, b->jobs.size());
        return false;
    }
    int64_t total = 0, next = b->jobs.empty() ? 1 : b->jobs[0].first_number;
    for (size_t i = 0; i < b->jobs.size(); ++i) {
        const numbering_result &r = b->results[i];
        if (next < INT_MIN || next > INT_MAX) {
            std::fprintf(stderr, "%s: %s: page numbers past %d\n", PROGRAM, b->jobs[i].input_path, INT_MAX);
            return false;
        }
        b->jobs[i].first_number = static_cast<int>(next);
        b->jobs[i].count_only = false;
        b->notices[i].clear();  // told again by the numbering pass
        next += static_cast<int64_t>(r.labelled.last_index) - r.labelled.first_index + 1;
        total += r.page_count;
    }
    for (auto &j : b->jobs) j.total = total;
    return true;
}

void print_summary(const batch &b, double seconds) {
    if (b.o->quiet) return;
    size_t n = b.jobs.size(), done = n - b.failed;
    std::string files = b.failed ? std::to_string(done) + " of " + std::to_string(n) : std::to_string(n);
    std::printf("Numbered %s file%s (%lld page%s) in %.2f s, %.0f pages/s", files.c_str(), n == 1 ? "" : "s",
                static_cast<long long>(b.pages), b.pages == 1 ? "" : "s", seconds, rate(b.pages, seconds));
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
    std::vector<std::string> inputs = without_earlier_copies(o);
    for (const auto &in : inputs) b.outputs.push_back(output_for(o, in));
    check_outputs(inputs, b.outputs);
    if (!prepare_directory(o)) return EXIT_FAILED;
    std::vector<int64_t> sizes;
    b.notices.resize(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        b.jobs.push_back(job_for(o, inputs[i].c_str()));
        keep_notices(o, &b.jobs.back(), &b.notices[i]);
        b.jobs.back().output_path = b.outputs[i].c_str();
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
    return failed ? EXIT_FAILED : 0;
}
