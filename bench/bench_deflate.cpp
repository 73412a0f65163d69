// Size and throughput of our Flate encoder against zlib's compress2 at
// levels 1 and 6 and libdeflate's level 6 on real PDF data.
//
// At start-up every Flate stream of the test corpus is inflated with zlib
// and sorted into page content, images and everything else (fonts mostly),
// each stream compressed on its own as a PDF holds them. Throughput counts
// input bytes. The summary after the runs gives, per set, the compressed
// bytes and MB/s of each, our size against zlib level 6's and our speed
// against zlib's and libdeflate's level 6; bench/compare.py reads the line
// "target objstm ..." of the object streams, the text our writer packs.
// Measured: --benchmark_repetitions=5 --benchmark_min_time=1.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "corpus_streams.h"
#include "deflate.h"

namespace {

struct stream_set {
    std::vector<std::string> data;
    uint64_t total = 0;
    uint64_t largest_bound = 0;
};

std::map<std::string, stream_set> g_sets;

void add(const std::string &kind, const std::string &data) {
    stream_set &s = g_sets[kind];
    s.data.push_back(data);
    s.total += data.size();
    s.largest_bound = std::max<uint64_t>({s.largest_bound, deflate_bound(data.size()), compressBound(uLong(data.size()))});
}

libdeflate_compressor *g_libdeflate6 = nullptr;

// The compressed size of one stream: ours with level 0 (its fast effort
// with -1), libdeflate's level 6 with -6, else zlib's at level.
uint64_t compress_one(const std::string &data, int level, std::vector<unsigned char> *out) {
    const auto *src = reinterpret_cast<const unsigned char *>(data.data());
    if (level == 0 || level == -1) {
        uint64_t n = 0;
        deflate_effort effort = level == 0 ? deflate_effort::standard : deflate_effort::fast;
        return deflate_compress(src, data.size(), out->data(), out->size(), &n, nullptr, effort) == 0 ? n : 0;
    }
    if (level == -6) return libdeflate_zlib_compress(g_libdeflate6, src, data.size(), out->data(), out->size());
    uLongf n = uLongf(out->size());
    return compress2(out->data(), &n, src, uLong(data.size()), level) == Z_OK ? n : 0;
}

uint64_t set_size(const stream_set &s, int level) {
    std::vector<unsigned char> out(s.largest_bound);
    uint64_t total = 0;
    for (const std::string &d : s.data) total += compress_one(d, level, &out);
    return total;
}

void bm_compress(benchmark::State &state, const stream_set *s, int level) {
    std::vector<unsigned char> out(s->largest_bound);
    for (auto _ : state) {
        for (const std::string &d : s->data) {
            if (compress_one(d, level, &out) == 0) state.SkipWithError("compress failed");
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->total));
}

// Console output as usual, and the best bytes per second of each benchmark
// kept for the summary (with --benchmark_repetitions, the best of them: the
// other runs are the ones that other work on the machine slowed down).
class summary_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end() && r.run_type == Run::RT_Iteration)
                rate[r.run_name.function_name] = std::max(rate[r.run_name.function_name], double(it->second));
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

const struct {
    const char *name;
    int level;
} coders[] = {{"ours", 0}, {"zlib1", 1}, {"zlib6", 6}, {"libdeflate6", -6}, {"ours_fast", -1}};
constexpr int CODERS = 5;

}  // namespace

int main(int argc, char **argv) {
    g_libdeflate6 = libdeflate_alloc_compressor(6);
    for (const decoded_stream &d : corpus_decoded_streams(BENCH_CORPUS_DIR)) {
        add(d.kind, d.bytes);
        add("all", d.bytes);
    }
    for (auto &[kind, s] : g_sets) {
        std::printf("%-8s %5zu streams, %8.2f MB\n", kind.c_str(), s.data.size(), s.total / 1e6);
        for (const auto &c : coders)
            benchmark::RegisterBenchmark(("deflate/" + std::string(c.name) + "/" + kind).c_str(), bm_compress, &s, c.level)
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    summary_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-8s %9s | %10s %7s | %10s %7s | %10s %7s | %10s %7s | %8s %8s %8s\n", "data", "MB in", "ours bytes",
                "MB/s", "zlib1", "MB/s", "zlib6", "MB/s", "libdefl6", "MB/s", "size/z6", "speed/z6", "speed/ld6");
    for (auto &[kind, s] : g_sets) {
        uint64_t size[CODERS];
        double mbs[CODERS];
        for (int i = 0; i < CODERS; i++) {
            size[i] = set_size(s, coders[i].level);
            mbs[i] = reporter.rate["deflate/" + std::string(coders[i].name) + "/" + kind] / 1e6;
        }
        if (mbs[0] == 0) continue;  // filtered out
        std::printf("%-8s %9.2f | %10llu %7.1f | %10llu %7.1f | %10llu %7.1f | %10llu %7.1f | %8.4f %8.2f %8.2f\n",
                    kind.c_str(), s.total / 1e6, (unsigned long long)size[0], mbs[0], (unsigned long long)size[1],
                    mbs[1], (unsigned long long)size[2], mbs[2], (unsigned long long)size[3], mbs[3],
                    double(size[0]) / double(size[2]), mbs[2] > 0 ? mbs[0] / mbs[2] : 0.0,
                    mbs[3] > 0 ? mbs[0] / mbs[3] : 0.0);
        // For bench/compare.py: set, MB in, then bytes and MB/s of ours, zlib 6, libdeflate 6.
        std::printf("target %s %.4f %llu %.2f %llu %.2f %llu %.2f\n", kind.c_str(), s.total / 1e6,
                    (unsigned long long)size[0], mbs[0], (unsigned long long)size[2], mbs[2],
                    (unsigned long long)size[3], mbs[3]);
        // The fast effort against the standard one.
        std::printf("fast %s %llu %.2f size/ours %.4f speed/ours %.2f\n", kind.c_str(), (unsigned long long)size[4],
                    mbs[4], double(size[4]) / double(size[0]), mbs[0] > 0 ? mbs[4] / mbs[0] : 0.0);
    }
    libdeflate_free_compressor(g_libdeflate6);
    return 0;
}
