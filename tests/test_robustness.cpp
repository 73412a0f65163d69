// Hostile input: every kept fuzzer finding replayed, a truncation and
// mutation sweep over the real corpus, and files that ask for huge work,
// each run in a child process whose peak memory is measured.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

#include "../fuzz/harness.h"
#include "../src/pdf_parse/load_steps.h"
#include "support.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_asan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool k_asan = true;
#else
constexpr bool k_asan = false;
#endif
#else
constexpr bool k_asan = false;
#endif

std::vector<std::string> files_in(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string k_regress_dir = std::string(TEST_CORPUS_DIR) + "/../regress";

std::string test_name(std::string n) {
    for (char &c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

// ---------------------------------------------------------------------------
// Regression inputs: tests/regress/TARGET-NAME.bin, replayed through the
// fuzz target TARGET with all of its checks.
// ---------------------------------------------------------------------------

class Regress : public ::testing::TestWithParam<std::string> {};

TEST_P(Regress, ReplaysCleanly) {
    const std::string name = GetParam();
    std::string bytes = read_file(k_regress_dir + "/" + name);
    const uint8_t *p = reinterpret_cast<const uint8_t *>(bytes.data());
    std::string problem;
    if (name.rfind("numbering-", 0) == 0) problem = fuzz::run_numbering(p, bytes.size());
    else if (name.rfind("decode-", 0) == 0) problem = fuzz::run_decode(p, bytes.size());
    else if (name.rfind("scan-", 0) == 0) problem = fuzz::run_scan(p, bytes.size());
    else if (name.rfind("deflate-", 0) == 0) problem = fuzz::run_deflate(p, bytes.size());
    else if (name.rfind("font-", 0) == 0) problem = fuzz::run_font(p, bytes.size());
    else if (name.rfind("security-", 0) == 0) problem = fuzz::run_security(p, bytes.size());
    else FAIL() << "no fuzz target is named by " << name;
    EXPECT_EQ(problem, "") << name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, Regress, ::testing::ValuesIn(files_in(k_regress_dir, ".bin")),
                         [](const auto &info) { return test_name(info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Regress);

// The message oracle itself: the fuzzer trusts it to tell specified
// messages from anything else.
TEST(Messages, PatternsMatchFilledInMessages) {
    EXPECT_TRUE(fuzz::is_specified_message("cannot open /tmp/a b.pdf"));
    EXPECT_TRUE(fuzz::is_specified_message("position must be 0..5 (got -7)"));
    EXPECT_TRUE(fuzz::is_specified_message("empty page range (start 4 > end 3 of 3)"));
    EXPECT_TRUE(fuzz::is_specified_message("failed to build output"));
    EXPECT_FALSE(fuzz::is_specified_message("position must be 0..5 (got x)"));
    EXPECT_FALSE(fuzz::is_specified_message("broken page tree!"));
    EXPECT_FALSE(fuzz::is_specified_message(""));
}

// ---------------------------------------------------------------------------
// Sweep: corpus files cut short and with bytes flipped where the reader
// looks hardest.
// ---------------------------------------------------------------------------

// Offsets of interesting regions: cross-reference, trailer, stream data,
// object-stream data.
std::vector<size_t> mutation_points(const std::string &s) {
    std::vector<size_t> at;
    auto add_after = [&](const std::string &needle, size_t skip, int count) {
        size_t p = 0;
        for (int i = 0; i < count && (p = s.find(needle, p)) != std::string::npos; ++i, ++p)
            at.push_back(std::min(s.size() - 1, p + needle.size() + skip));
    };
    add_after("xref", 3, 2);
    add_after("xref", 40, 1);
    add_after("trailer", 4, 2);
    add_after("startxref", 2, 1);
    add_after("stream\n", 0, 3);
    add_after("stream\r\n", 1, 2);
    size_t o = s.find("/ObjStm");
    if (o != std::string::npos) {
        size_t d = s.find("stream", o);
        if (d != std::string::npos) {
            at.push_back(std::min(s.size() - 1, d + 8));
            at.push_back(std::min(s.size() - 1, d + 40));
        }
    }
    add_after("/Length ", 0, 2);
    add_after("/Kids", 2, 1);
    return at;
}

std::vector<std::string> variants(const std::string &s) {
    std::vector<std::string> v;
    for (int k = 1; k <= 7; ++k) v.push_back(s.substr(0, s.size() * k / 8));
    v.push_back(s.substr(0, s.size() - 1));
    v.push_back(s.substr(0, 100));
    for (size_t p : mutation_points(s)) {
        std::string m = s;
        m[p] = static_cast<char>(m[p] ^ 0x5A);
        v.push_back(m);
    }
    return v;
}

bool qpdf_accepts(const std::string &path) {
    std::string out;
    int st = run_command("qpdf --check '" + path + "' 2>&1", &out);
    return st == 0 || st == 3;  // 3: warnings only
}

class Sweep : public ::testing::TestWithParam<std::string> {};

TEST_P(Sweep, CutsAndFlipsSucceedCleanlyOrFailWithAMessage) {
    std::string bytes = read_file(corpus_file(GetParam()));
    ASSERT_FALSE(bytes.empty());
    const bool check = have_tool("qpdf");
    int successes = 0, failures = 0;
    std::vector<std::string> v = variants(bytes);
    for (size_t k = 0; k < v.size(); ++k) {
        std::string in = temp_path("sweep-in.pdf"), out = temp_path("sweep-out.pdf");
        write_file(in, v[k]);
        write_file(out, "untouched");
        int ok = k % 3 == 0   ? dedediruzurud_add(in.c_str(), out.c_str(), static_cast<int>(k % 6), "{n}/{total}", 10, 1, 0, 0, 0)
                 : k % 3 == 1 ? dedediruzurud_range(in.c_str(), out.c_str(), 1, nullptr, 12, 2, 4, 1, 255, 0, 0)
                              : dedediruzurud_skip(in.c_str(), out.c_str(), 3, "p {n}", 0, 1, 0, 0, 255);
        std::string msg = dedediruzurud_last_error();
        if (ok) {
            ++successes;
            EXPECT_EQ(msg, "");
            if (check) {
                EXPECT_TRUE(qpdf_accepts(out)) << GetParam() << " variant " << k;
            }
        } else {
            ++failures;
            EXPECT_TRUE(fuzz::is_specified_message(msg.c_str())) << GetParam() << " variant " << k << ": " << msg;
            EXPECT_EQ(read_file(out), "untouched") << GetParam() << " variant " << k;
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
    // Finer cuts and more flips through the in-memory path, whose output
    // checks are the fuzzer's.
    for (int k = 0; k < 48; ++k) {
        std::string m = "\x00\x00\x0c\x00" + bytes.substr(0, bytes.size() * (k + 1) / 49);
        if (k % 2) m[4 + (m.size() - 4) * static_cast<size_t>(k) / 53] ^= 0x20;
        EXPECT_EQ(fuzz::run_numbering(reinterpret_cast<const uint8_t *>(m.data()), m.size()), "")
            << GetParam() << " cut " << k;
    }
    std::printf("[ sweep  ] %-44s %2d numbered, %2d refused\n", GetParam().c_str(), successes, failures);
}

INSTANTIATE_TEST_SUITE_P(Corpus, Sweep, ::testing::ValuesIn(files_in(TEST_CORPUS_DIR, ".pdf")),
                         [](const auto &info) { return test_name(info.param); });

// ---------------------------------------------------------------------------
// Resource limits: small files asking for huge work.
// ---------------------------------------------------------------------------

std::string page_doc(const std::string &kids, const std::string &content_dict, const std::string &content,
                     const std::vector<std::string> &extra = {}, const std::string &page_extra = "") {
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R" + page_extra + " >>",
        stream_body(content_dict, content)};
    bodies.insert(bodies.end(), extra.begin(), extra.end());
    return make_pdf(bodies);
}

std::string zeros_deflated(size_t mib, char fill = 0) {
    // Compressed piecewise so that the test never holds the whole expansion.
    z_stream z{};
    deflateInit(&z, 9);
    std::string chunk(1 << 20, fill), out;
    std::vector<unsigned char> buf(1 << 16);
    for (size_t i = 0; i <= mib; ++i) {
        z.next_in = reinterpret_cast<Bytef *>(chunk.data());
        z.avail_in = i < mib ? static_cast<uInt>(chunk.size()) : 0;
        int flush = i < mib ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            deflate(&z, flush);
            out.append(reinterpret_cast<char *>(buf.data()), buf.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string repeat(const std::string &s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// The page of page_doc with its content stream listed n times in a /Contents array.
std::string in_array(std::string doc, size_t n = 1) {
    size_t p = doc.find("/Contents 4 0 R");
    return doc.replace(p, 15, "/Contents [" + repeat("4 0 R ", n) + "]");
}

std::string deep_tree(int levels) {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>"};
    for (int i = 0; i < levels; ++i)
        bodies.push_back("<< /Type /Pages /Kids [" + std::to_string(i + 3) + " 0 R] /Count 1 >>");
    bodies.push_back("<< /Type /Page /MediaBox [0 0 612 792] /Contents " + std::to_string(levels + 3) + " 0 R >>");
    bodies.push_back(stream_body("", "0 0 m 1 1 l S"));
    return make_pdf(bodies);
}

std::string siblings(int n) {
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(i + 4) + " 0 R ";
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>",
                                       "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) +
                                           " /MediaBox [0 0 300 400] /Resources << /Font << /F1 3 0 R >> >> >>",
                                       "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"};
    for (int i = 0; i < n; ++i) bodies.push_back("<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(n + 4) + " 0 R >>");
    bodies.push_back(stream_body("", "0 0 m 1 1 l S"));
    return make_pdf(bodies);
}

std::string many_resources(int n) {
    std::string res = "<< /XObject << ";
    std::vector<std::string> extra;
    for (int i = 0; i < n; ++i) {
        res += "/X" + std::to_string(i) + " " + std::to_string(5 + i) + " 0 R ";
        extra.push_back("<< /Type /ExtGState /N " + std::to_string(i) + " >>");
    }
    return page_doc("3 0 R", "", "0 0 m 1 1 l S", extra, " /Resources " + res + ">> >>");
}

std::string object_stream(int n, const std::string &texts, bool with_header) {
    std::string header;
    for (int i = 0; with_header && i < n; ++i) header += std::to_string(10 + i) + " " + std::to_string(i) + " ";
    return page_doc("3 0 R", "", "0 0 m 1 1 l S",
                    {stream_body("/Type /ObjStm /N " + std::to_string(n) + " /First " + std::to_string(header.size()) +
                                     " /Filter /FlateDecode",
                                 zlib_compress(header + texts))});
}

struct limit_case {
    const char *name;
    std::string (*make)();
    // Peak memory allowed beyond the child's start, in MiB, as a multiple of
    // the input size plus a constant (the library's stated bound).
    double per_input_byte;
    double mib;
};

const limit_case k_limits[] = {
    // Content in a /Contents array is decoded (one stream alone is carried as stored).
    {"content_inflating_to_2_gib", [] { return in_array(page_doc("3 0 R", "/Filter /FlateDecode", zeros_deflated(2048))); }, 600, 300},
    {"content_chain_bomb", [] { return in_array(page_doc("3 0 R", "/Filter [/FlateDecode /RunLengthDecode]", zlib_compress(repeat("\x81x", 8 << 20) + "\x80", 9))); }, 4, 300},
    {"object_stream_inflating_to_2_gib", [] { return page_doc("3 0 R", "", "0 0 m S", {stream_body("/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode", zeros_deflated(2048, ' '))}); }, 600, 200},
    // Flate data cut short fails at every capacity; attempts stop at 1,032
    // times the stored size instead of growing to half a gigabyte.
    {"object_stream_cut_short", [] { std::string z = zlib_compress(std::string(100000, 'x')); return page_doc("3 0 R", "", "0 0 m S", {stream_body("/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode", z.substr(0, z.size() / 2))}); }, 4, 100},
    {"object_stream_n_100000_tiny_texts", [] { return object_stream(100000, repeat("1 ", 100000), true); }, 4, 100},
    {"object_stream_n_100000_no_header", [] { return object_stream(100000, "x", false); }, 4, 100},
    {"object_number_8388607", [] { std::string d = page_doc("8388607 0 R", "", "0 0 m S"); return d + "8388607 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>\nendobj\n"; }, 4, 150},
    {"siblings_100000", [] { return siblings(100000); }, 8, 200},
    {"nested_100000_deep", [] { return deep_tree(100000); }, 4, 200},
    {"one_page_listed_a_million_times", [] { return page_doc(repeat("3 0 R ", 1000000), "", "0 0 m 1 1 l S"); }, 160, 100},
    {"content_listed_3000_times", [] { return in_array(page_doc("3 0 R", "/Filter /FlateDecode", zeros_deflated(1)), 3000); }, 4, 300},
    {"resources_naming_100000_objects", [] { return many_resources(100000); }, 8, 100},
    {"resource_reference_cycle", [] { return page_doc("3 0 R", "", "0 0 m S", {"<< /A 6 0 R /P 3 0 R /S 5 0 R >>", "<< /B 5 0 R /R 2 0 R /C 6 0 R >>"}, " /Resources << /ExtGState << /G 5 0 R >> >>"); }, 4, 100},
    {"a_million_unclosed_dictionaries", [] { return page_doc("3 0 R", "", "0 0 m S") + repeat("1 0 obj <<", 1000000); }, 8, 100},
    {"unclosed_dictionaries_in_strings", [] { return page_doc("3 0 R", "", "0 0 m S") + repeat("1 0 obj << (", 400000); }, 8, 100},
    {"nested_strings_before_a_long_tail", [] { return page_doc("3 0 R", "", "0 0 m S") + repeat("1 0 obj << (", 100000) + repeat(")", 100000) + std::string(4 << 20, 'x'); }, 8, 100},
    {"streams_without_endstream", [] { return page_doc("3 0 R", "", "0 0 m S") + repeat("1 0 obj <</Length 1>>stream\n", 400000); }, 8, 100},
};

struct child_result {
    int ok = -1;
    std::string message;
    long peak_kib = 0, start_kib = 0;
    double seconds = 0;
};

size_t read_file_size(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

long rss_kib() {
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Numbers `in` in a child process; its peak resident size comes from wait4.
child_result number_in_child(const std::string &in, const std::string &out) {
    int fd[2];
    child_result r;
    if (pipe(fd) != 0) return r;
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        alarm(600);  // a hang guard, not a speed check
        long start = rss_kib();
        int ok = dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0);
        std::string report = std::to_string(ok) + " " + std::to_string(start) + " " + dedediruzurud_last_error();
        ssize_t w = write(fd[1], report.data(), report.size());
        _exit(w < 0 ? 2 : 0);
    }
    close(fd[1]);
    std::string report;
    char buf[1024];
    ssize_t n;
    while ((n = read(fd[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<size_t>(n));
    close(fd[0]);
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peak_kib = use.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return r;
    size_t a = report.find(' '), b = report.find(' ', a + 1);
    r.ok = std::stoi(report.substr(0, a));
    r.start_kib = std::stol(report.substr(a + 1, b - a - 1));
    r.message = report.substr(b + 1);
    return r;
}

// Writes the case's file from a child of its own, so that this process (the
// parent of the measured child) never holds the generated bytes.
size_t write_case_file(const limit_case &c, const std::string &path) {
    pid_t pid = fork();
    if (pid == 0) {
        std::string bytes = c.make();
        write_file(path, bytes);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return read_file_size(path);
}

class Limits : public ::testing::TestWithParam<limit_case> {};

TEST_P(Limits, FailWithAMessageOrSucceedWithinBoundedMemory) {
    const limit_case &c = GetParam();
    std::string in = temp_path(std::string(c.name) + ".pdf"), out = temp_path("limit-out.pdf");
    size_t input_size = write_case_file(c, in);
    ASSERT_GT(input_size, 0u);
    write_file(out, "untouched");
    child_result r = number_in_child(in, out);
    ASSERT_GE(r.ok, 0) << c.name << ": the child crashed or hung";
    if (r.ok) {
        EXPECT_EQ(r.message, "");
        if (have_tool("qpdf") && read_file_size(out) < (64u << 20)) {
            EXPECT_TRUE(qpdf_accepts(out)) << c.name;
        }
    } else {
        EXPECT_TRUE(fuzz::is_specified_message(r.message.c_str())) << c.name << ": " << r.message;
        EXPECT_EQ(read_file(out), "untouched");
    }
    double used_mib = (r.peak_kib - r.start_kib) / 1024.0;
    double bound = c.per_input_byte * static_cast<double>(input_size) / 1048576.0 + c.mib;
    // The sanitizers' shadow memory and quarantine come on top of the heap.
    if (k_asan) bound = bound * 3 + 512;
    EXPECT_LE(used_mib, bound) << c.name << " (input " << input_size << " bytes)";
    std::printf("[ limits ] %-36s input %9zu B  %s  peak %7.1f MiB (bound %7.1f)  %.2f s\n", c.name, input_size,
                r.ok ? "numbered" : r.message.c_str(), used_mib, bound, r.seconds);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(Hostile, Limits, ::testing::ValuesIn(k_limits),
                         [](const auto &info) { return std::string(info.param.name); });

// The tree deeper than 1,024 levels is refused by name; 1,024 still loads.
TEST(Limits, DepthBoundaryOfThePageTree) {
    pdfp_doc doc;
    std::string msg;
    EXPECT_EQ(load_bytes(deep_tree(1023), &doc, &msg), 0) << msg;
    pdfp_doc_free(&doc);
    EXPECT_EQ(load_bytes(deep_tree(1025), &doc, &msg), -1);
    EXPECT_EQ(msg, "broken page tree");
}

// The shared dictionary walks of the object scan give dict_stream_kw's
// answer for every start, however the dictionaries overlap.
TEST(SharedWalks, AgreeWithDictStreamKw) {
    const std::vector<std::string> texts = {
        "1 0 obj << /A << /B 1 >> >> stream\nxx",
        repeat("1 0 obj <<", 50) + repeat(">> stream ", 60),
        repeat("1 0 obj << (", 30) + repeat(")", 20) + ">> >>stream" + repeat(" >> stream", 30),
        "1 0 obj <x> >> >> << >> stream 2 0 obj << (a\\) >> b) >> stream 3 0 obj << >>",
        "1 0 obj <<<< >>> >> stream >> >>stream",
        repeat("<< (\\(( << >> stream ) >> stream ", 40) + "<",
    };
    for (const std::string &t : texts) {
        const unsigned char *d = reinterpret_cast<const unsigned char *>(t.data());
        const int32_t n = static_cast<int32_t>(t.size());
        std::vector<int32_t> starts;
        for (int32_t i = 0; i < n; ++i)
            if (d[i] == '<') starts.push_back(i);
        std::vector<int32_t> got = stream_keywords(d, n, starts, 1 << 30);
        for (size_t s = 0; s < starts.size(); ++s)
            EXPECT_EQ(got[s], dict_stream_kw(d, n, starts[s])) << t << " from " << starts[s];
    }
}

// Past the work budget a walk gives up: its start counts as a dictionary
// without a stream.
TEST(SharedWalks, BudgetBoundsTheWork) {
    std::string t = "<< " + std::string(100000, 'x') + " >> stream";
    const unsigned char *d = reinterpret_cast<const unsigned char *>(t.data());
    const int32_t n = static_cast<int32_t>(t.size());
    EXPECT_EQ(stream_keywords(d, n, {0}, 1 << 20)[0], n - 6);
    EXPECT_EQ(stream_keywords(d, n, {0}, 1000)[0], -1);
}

}  // namespace
