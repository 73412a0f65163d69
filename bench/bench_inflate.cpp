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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "inflate.h"

namespace {

struct stream_set {
    std::vector<std::string> z;  // zlib streams
    std::vector<uLong> size;     // their decoded sizes
    uint64_t total = 0;
    uLong largest = 0;
};

std::map<std::string, stream_set> g_sets;

std::string read_all(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Inflates a stream of unknown decoded size with zlib; false if it is not good zlib data.
bool zlib_inflate(const std::string &z, std::string *out) {
    z_stream s{};
    if (inflateInit(&s) != Z_OK) return false;
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(z.data()));
    s.avail_in = uInt(z.size());
    char chunk[65536];
    int rc;
    do {
        s.next_out = reinterpret_cast<Bytef *>(chunk);
        s.avail_out = sizeof chunk;
        rc = inflate(&s, Z_NO_FLUSH);
        out->append(chunk, sizeof chunk - s.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

// Which set a stream belongs to, judged from the text of its dictionary.
const char *kind_of(const std::string &dict) {
    if (dict.find("/Image") != std::string::npos) return "images";
    if (dict.find("/Type") == std::string::npos && dict.find("/Subtype") == std::string::npos &&
        dict.find("/Length1") == std::string::npos && dict.find("/Length2") == std::string::npos)
        return "content";
    return "other";
}

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
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".pdf") continue;
        std::string pdf = read_all(e.path());
        for (size_t at = pdf.find("stream"); at != std::string::npos; at = pdf.find("stream", at + 6)) {
            if (at >= 3 && pdf.compare(at - 3, 3, "end") == 0) continue;
            size_t start = at + 6;
            if (pdf.compare(start, 2, "\r\n") == 0) start += 2;
            else if (pdf[start] == '\n' || pdf[start] == '\r') start += 1;
            size_t end = pdf.find("endstream", start);
            size_t dict = pdf.rfind(" obj", at);
            if (end == std::string::npos || dict == std::string::npos) continue;
            std::string data;
            if (!zlib_inflate(pdf.substr(start, end - start), &data) || data.empty()) continue;
            const char *kind = kind_of(pdf.substr(dict, at - dict));
            add(kind, data);
            add("all", data);
        }
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
