// Throughput of our Flate decoder against zlib's uncompress on real PDF data.
//
// At start-up every Flate stream of the test corpus is inflated with zlib,
// sorted into page content, images and everything else, and compressed again
// at level 6, one zlib stream per PDF stream as a PDF holds them. Throughput
// counts decoded bytes. The summary after the runs gives MB/s for both and
// our speed as a fraction of zlib's.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corpus_streams.h"
#include "inflate.h"

namespace {

struct stream_set {
    std::vector<std::string> z;  // zlib streams
    std::vector<uLong> size;     // their decoded sizes
    uint64_t total = 0;
    uLong largest = 0;
};

std::map<std::string, stream_set> g_sets;

void add(const char *kind, const std::string &data) {
    stream_set &s = g_sets[kind];
    uLongf n = compressBound(uLong(data.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef *>(z.data()), &n, reinterpret_cast<const Bytef *>(data.data()),
              uLong(data.size()), 6);
    z.resize(n);
    s.z.push_back(z);
    s.size.push_back(uLong(data.size()));
    s.total += data.size();
    if (data.size() > s.largest) s.largest = uLong(data.size());
}

void load_corpus(const char *dir) {
    for (const decoded_stream &d : corpus_decoded_streams(dir)) {
        add(d.kind.c_str(), d.bytes);
        add("all", d.bytes);
    }
}

void bm_ours(benchmark::State &state, const stream_set *s) {
    std::vector<unsigned char> out(s->largest);
    for (auto _ : state) {
        for (size_t i = 0; i < s->z.size(); i++) {
            uint64_t n = 0;
            int rc = inflate_decompress(reinterpret_cast<const unsigned char *>(s->z[i].data()), s->z[i].size(),
                                        out.data(), s->size[i], &n);
            if (rc != 0 || n != s->size[i]) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->total));
}

void bm_zlib(benchmark::State &state, const stream_set *s) {
    std::vector<unsigned char> out(s->largest);
    for (auto _ : state) {
        for (size_t i = 0; i < s->z.size(); i++) {
            uLongf n = s->size[i];
            int rc = uncompress(out.data(), &n, reinterpret_cast<const Bytef *>(s->z[i].data()), uLong(s->z[i].size()));
            if (rc != Z_OK) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->total));
}

// Console output as usual, and the bytes per second of each run kept for the summary.
class summary_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end() && r.run_type == Run::RT_Iteration) rate[r.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    load_corpus(BENCH_CORPUS_DIR);
    for (auto &[kind, s] : g_sets) {
        std::printf("%-8s %5zu streams, %8.2f MB decoded\n", kind.c_str(), s.z.size(), s.total / 1e6);
        benchmark::RegisterBenchmark(("inflate/ours/" + kind).c_str(), bm_ours, &s)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("inflate/zlib/" + kind).c_str(), bm_zlib, &s)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    summary_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-8s %12s %12s %8s\n", "data", "ours MB/s", "zlib MB/s", "ratio");
    for (auto &[kind, s] : g_sets) {
        double ours = reporter.rate["inflate/ours/" + kind] / 1e6, zlib = reporter.rate["inflate/zlib/" + kind] / 1e6;
        if (ours > 0 && zlib > 0) std::printf("%-8s %12.1f %12.1f %8.2f\n", kind.c_str(), ours, zlib, ours / zlib);
    }
    return 0;
}
