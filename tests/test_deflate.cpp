// The Flate encoder: whatever it writes, zlib's inflate (which also checks
// the header and the Adler-32) and our own decoder must give the input back,
// within the promised bound and the given room. Real streams from the
// corpus, then data shaped to reach the encoder's edges: block and window
// boundaries, long runs, chains full of near misses, codes that need their
// lengths limited.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corpus_streams.h"
#include "deflate.h"
#include "inflate.h"

namespace {

const unsigned char *bytes_of(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// Our encoding of data into exactly deflate_bound bytes (so that the
// sanitizer sees any write past it).
std::string encode(const std::string &data, deflate_effort effort = deflate_effort::standard) {
    // An exact copy: a read past the input's end is one that the sanitizers
    // and valgrind see (a string keeps a byte more).
    const std::vector<unsigned char> in(data.begin(), data.end());
    std::vector<unsigned char> out(deflate_bound(data.size()));
    uint64_t produced = 0;
    EXPECT_EQ(deflate_compress(in.empty() ? bytes_of(data) : in.data(), data.size(), out.data(), out.size(), &produced,
                               nullptr, effort),
              0);
    EXPECT_LE(produced, out.size());
    return std::string(reinterpret_cast<char *>(out.data()), produced);
}

// Empty when z decodes to data with zlib and with our decoder, else what differs.
std::string round_trip_problem(const std::string &z, const std::string &data) {
    std::vector<unsigned char> out(data.size() + 1);
    uLongf n = uLongf(out.size());
    if (uncompress(out.data(), &n, bytes_of(z), uLong(z.size())) != Z_OK) return "zlib rejects it";
    if (n != data.size() || std::memcmp(out.data(), data.data(), n) != 0) return "zlib decodes other bytes";
    std::vector<unsigned char> exact(data.size());  // exact room: no slack for a wrong length
    uint64_t produced = 0;
    if (inflate_decompress(bytes_of(z), z.size(), exact.data(), exact.size(), &produced) != 0)
        return "our decoder fails";
    if (produced != data.size() || !std::equal(exact.begin(), exact.end(), bytes_of(data)))
        return "our decoder decodes other bytes";
    return "";
}

// ---- test data -------------------------------------------------------------

std::string random_bytes(std::mt19937 &rng, size_t n) {
    std::string s(n, '\0');
    for (char &c : s) c = char(rng());
    return s;
}

// period bytes of noise repeated up to n bytes.
std::string periodic(std::mt19937 &rng, size_t period, size_t n) {
    std::string unit = random_bytes(rng, period), s;
    while (s.size() < n) s += unit;
    s.resize(n);
    return s;
}

std::vector<uint32_t> fibonacci(int n) {
    std::vector<uint32_t> f = {1, 1};
    while (int(f.size()) < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
    return f;
}

// Every other byte is one of 24 symbols drawn with Fibonacci weights, the
// bytes between are noise chosen not to repeat a three-byte string, so that
// there is little to match and the literal frequencies stay skewed: literal
// codes up to 15 bits long. (Deeper ones would need a Fibonacci chain of
// counts up to half a block, which matches break up; the limit itself is
// tested on deflate_code_lengths below.)
std::string skewed_literals(std::mt19937 &rng, size_t n) {
    const std::vector<uint32_t> fib = fibonacci(24);
    const uint32_t total = std::accumulate(fib.begin(), fib.end(), 0u);
    std::vector<bool> seen(1u << 24);
    std::string s;
    while (s.size() < n) {
        uint32_t key = s.size() < 2 ? 0 : uint32_t((unsigned char)s[s.size() - 2]) << 16 | uint32_t((unsigned char)s.back()) << 8;
        unsigned c = 0;
        for (int tries = 0; tries < 20; tries++) {
            if (s.size() % 2) {
                c = 24 + rng() % 232;
            } else {
                uint32_t r = rng() % total;
                for (c = 0; r >= fib[c]; c++) r -= fib[c];
            }
            if (!seen[key | c]) break;
        }
        if (s.size() >= 2) seen[key | c] = true;
        s += char(c);
    }
    return s;
}

// Text like a page's content stream.
std::string content_like(std::mt19937 &rng, size_t n) {
    static const char *const words[] = {"BT", "ET", "Tf", "Td", "Tj", "re", "f", "q", "Q", "cm",
                                        "/F1", "(Hello)", "0", "1", "12", "612", "792", "m", "l", "S"};
    std::string s;
    while (s.size() < n) s += words[rng() % 20], s += rng() % 6 ? ' ' : '\n';
    s.resize(n);
    return s;
}

// Chains full of near misses: the same four bytes everywhere, followed by a
// different byte each time, so that every candidate matches four or five
// bytes and none more.
std::string near_misses(std::mt19937 &rng, size_t n) {
    std::string s;
    while (s.size() < n) s += "abcd", s += char(rng());
    s.resize(n);
    return s;
}

struct shape {
    const char *name;
    std::string (*make)(std::mt19937 &, size_t);
};

const shape shapes[] = {
    {"random", random_bytes},
    {"content", content_like},
    {"skewed_literals", skewed_literals},
    {"near_misses", near_misses},
    {"zeros", [](std::mt19937 &, size_t n) { return std::string(n, '\0'); }},
    {"all_byte_values", [](std::mt19937 &, size_t n) {
         std::string s;
         while (s.size() < n) s += char(s.size() * 7 % 256);  // period 256 through every value
         return s.substr(0, n);
     }},
    {"runs", [](std::mt19937 &rng, size_t n) {
         std::string s;
         while (s.size() < n) s.append(1 + rng() % 600, char(rng() % 3));
         return s.substr(0, n);
     }},
    {"period_3", [](std::mt19937 &rng, size_t n) { return periodic(rng, 3, n); }},
    // Noise with two earlier copies of its last four bytes: both match to the end.
    {"match_to_the_end", [](std::mt19937 &rng, size_t n) {
         std::string s = random_bytes(rng, n);
         for (size_t at : {n / 3, 2 * n / 3, n - std::min<size_t>(n, 4)})
             s.replace(at, std::min<size_t>(4, n - at), std::string("xyzw", std::min<size_t>(4, n - at)));
         return s;
     }},
    {"window_period", [](std::mt19937 &rng, size_t n) { return periodic(rng, 32768, n); }},
    {"beyond_window", [](std::mt19937 &rng, size_t n) { return periodic(rng, 32769, n); }},
};

// Sizes at the edges: tiny inputs, the minimum match, a block of symbols,
// a stored block, the window.
const size_t sizes[] = {0, 1, 2, 3, 4, 5, 257, 258, 259, 16383, 16384, 16385, 32768,
                        32769, 65535, 65536, 65537, 100003, 300000};

class Shapes : public ::testing::TestWithParam<shape> {};

const deflate_effort efforts[] = {deflate_effort::standard, deflate_effort::fast};

TEST_P(Shapes, RoundTripAtEverySize) {
    std::mt19937 rng(11);
    for (size_t n : sizes) {
        std::string data = GetParam().make(rng, n);
        ASSERT_EQ(data.size(), n);
        for (deflate_effort effort : efforts)
            ASSERT_EQ(round_trip_problem(encode(data, effort), data), "")
                << GetParam().name << ", " << n << " bytes, effort " << int(effort);
    }
}

// Tables kept from a larger or a smaller stream, at either effort, and
// whatever the last stream left in them, must not change a byte of the next one.
TEST_P(Shapes, SharedTablesGiveTheSameBytes) {
    std::mt19937 rng(12);
    deflate_scratch scratch;
    for (size_t k = 0; k < 4 * std::size(sizes); ++k) {
        size_t n = sizes[k / 2 % 2 ? std::size(sizes) - 1 - k / 4 : k / 4];
        deflate_effort effort = efforts[k % 2];
        std::string data = GetParam().make(rng, n);
        std::vector<unsigned char> out(deflate_bound(n));
        uint64_t produced = 0;
        ASSERT_EQ(deflate_compress(bytes_of(data), n, out.data(), out.size(), &produced, &scratch, effort), 0);
        ASSERT_EQ(std::string(reinterpret_cast<char *>(out.data()), produced), encode(data, effort))
            << GetParam().name << ", " << n << " bytes, effort " << int(effort);
    }
}

INSTANTIATE_TEST_SUITE_P(Data, Shapes, ::testing::ValuesIn(shapes),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Deflate, EveryPeriodUpTo300) {
    std::mt19937 rng(3);
    for (size_t period = 1; period <= 300; period++) {
        std::string data = periodic(rng, period, 2000 + 37 * period);
        std::string z = encode(data);
        ASSERT_EQ(round_trip_problem(z, data), "") << "period " << period;
        // The repeats cost next to nothing: the first period as literals
        // (random bytes, about 11 bits each with the code's description) is most of it.
        EXPECT_LT(z.size(), period * 3 / 2 + 60) << "period " << period;
    }
}

// Matches reach exactly as far back as the window allows and no farther.
TEST(Deflate, WindowEdge) {
    std::mt19937 rng(5);
    std::string twice = periodic(rng, 32768, 65536), beyond = periodic(rng, 32769, 65538);
    EXPECT_LT(encode(twice).size(), 32768u + 1000);
    EXPECT_GT(encode(beyond).size(), 65538u);  // nothing to match: stored
}

// ---- room and bound ----------------------------------------------------------

// The stream fits in exactly its own size and fails one byte short, with the
// same bytes whatever the room; impossible calls fail cleanly.
TEST(Deflate, RoomIsCheckedExactly) {
    std::mt19937 rng(9);
    for (const shape &sh : shapes) {
        for (size_t n : {size_t(0), size_t(1), size_t(300), size_t(40000)}) {
            for (deflate_effort effort : efforts) {
                std::string data = sh.make(rng, n), z = encode(data, effort);
                std::vector<unsigned char> out(z.size());
                uint64_t produced = 77;
                ASSERT_EQ(deflate_compress(bytes_of(data), n, out.data(), out.size(), &produced, nullptr, effort), 0)
                    << sh.name << n;
                ASSERT_EQ(std::string(reinterpret_cast<char *>(out.data()), produced), z) << sh.name << n;
                out.resize(z.size() - 1);
                produced = 77;
                ASSERT_EQ(deflate_compress(bytes_of(data), n, out.data(), out.size(), &produced, nullptr, effort), -1)
                    << sh.name << n;
                ASSERT_EQ(produced, 0u);
            }
        }
    }
    unsigned char buf[16];
    uint64_t produced = 5;
    EXPECT_EQ(deflate_compress(bytes_of("abc"), 3, nullptr, 16, &produced), -1);
    EXPECT_EQ(deflate_compress(bytes_of("abc"), 3, buf, 1, &produced), -1);
    EXPECT_EQ(deflate_compress(nullptr, 3, buf, 16, &produced), -1);
    EXPECT_EQ(deflate_compress(buf, DEFLATE_MAX_INPUT + 1, buf, 16, &produced), -1);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(deflate_compress(nullptr, 0, buf, 16, &produced), 0);  // empty input needs no bytes
    EXPECT_EQ(round_trip_problem(std::string(reinterpret_cast<char *>(buf), produced), ""), "");
}

// Incompressible data is stored: the bound holds, and is not loose.
TEST(Deflate, BoundHoldsForIncompressibleData) {
    std::mt19937 rng(13);
    for (size_t n : {size_t(0), size_t(1), size_t(16384), size_t(65535), size_t(65536), size_t(1000000)}) {
        std::string data = random_bytes(rng, n);
        EXPECT_LE(encode(data).size(), deflate_bound(n));
        EXPECT_LE(deflate_bound(n), n + n / 2000 + 16);
    }
}

// ---- codes -----------------------------------------------------------------

uint64_t kraft_sum_scaled(const std::vector<uint8_t> &length, int max_bits) {
    uint64_t sum = 0;
    for (uint8_t l : length)
        if (l) sum += uint64_t(1) << (max_bits - l);
    return sum;
}

uint64_t code_cost(const std::vector<uint32_t> &freq, const std::vector<uint8_t> &length) {
    uint64_t cost = 0;
    for (size_t s = 0; s < freq.size(); s++) cost += uint64_t(freq[s]) * length[s];
    return cost;
}

struct code_case {
    const char *name;
    std::vector<uint32_t> freq;
    int max_bits;
    uint64_t cost;  // optimal, or 0 when only checked for completeness and limits
};

std::vector<code_case> code_cases() {
    std::vector<code_case> v;
    v.push_back({"two", {5, 0, 9}, 15, 14});
    v.push_back({"equal", std::vector<uint32_t>(286, 7), 15, 0});
    // Unlimited, Fibonacci frequencies give codes as long as the alphabet.
    v.push_back({"fibonacci_literals", fibonacci(30), 15, 0});
    v.push_back({"fibonacci_many", fibonacci(45), 15, 0});
    v.push_back({"fibonacci_code_lengths", fibonacci(19), 7, 0});
    // Eight symbols, one heavy: unlimited the light ones would take 7 bits;
    // within 3 bits all eight take 3 (cost 3 * 107).
    v.push_back({"flat_at_limit", {100, 1, 1, 1, 1, 1, 1, 1}, 3, 321});
    // Huffman gives 1,2,3,4,4; within 3 bits the best is 1,3,3,3,3.
    v.push_back({"limited_by_one", {16, 8, 4, 2, 2}, 3, 16 + 3 * 16});
    std::vector<uint32_t> sparse(286, 0);
    for (int s = 0; s < 286; s += 9) sparse[size_t(s)] = uint32_t(1 + s * s);
    v.push_back({"sparse", sparse, 15, 0});
    return v;
}

class CodeLengths : public ::testing::TestWithParam<code_case> {};

// Complete (Kraft sum exactly one), within the limit, heavier symbols never
// longer, and optimal where the optimum is known.
TEST_P(CodeLengths, CompleteLimitedAndOptimal) {
    const code_case &c = GetParam();
    std::vector<uint8_t> length(c.freq.size(), 99);
    deflate_code_lengths(c.freq.data(), int(c.freq.size()), c.max_bits, length.data());
    EXPECT_EQ(kraft_sum_scaled(length, c.max_bits), uint64_t(1) << c.max_bits);
    for (size_t a = 0; a < c.freq.size(); a++) {
        EXPECT_EQ(length[a] == 0, c.freq[a] == 0) << "symbol " << a;
        EXPECT_LE(length[a], c.max_bits) << "symbol " << a;
        for (size_t b = 0; b < c.freq.size(); b++) {
            if (c.freq[a] > c.freq[b] && c.freq[b] != 0) {
                EXPECT_LE(length[a], length[b]) << a << " vs " << b;
            }
        }
    }
    if (c.cost) {
        EXPECT_EQ(code_cost(c.freq, length), c.cost);
    }
}

INSTANTIATE_TEST_SUITE_P(Frequencies, CodeLengths, ::testing::ValuesIn(code_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CodeLengths, OneOrNoSymbol) {
    uint32_t freq[5] = {0, 0, 3, 0, 0};
    uint8_t length[5];
    deflate_code_lengths(freq, 5, 15, length);
    EXPECT_EQ(std::vector<uint8_t>(length, length + 5), (std::vector<uint8_t>{0, 0, 1, 0, 0}));
    freq[2] = 0;
    deflate_code_lengths(freq, 5, 15, length);
    EXPECT_EQ(std::vector<uint8_t>(length, length + 5), (std::vector<uint8_t>(5, 0)));
}

// Limited codes are optimal: against every code of up to max_bits for small
// alphabets, found by trying all length assignments.
TEST(CodeLengths, LimitedCodesAreOptimal) {
    std::mt19937 rng(17);
    for (int round = 0; round < 200; round++) {
        int max_bits = 2 + int(rng() % 3), n = 3 + int(rng() % unsigned(std::min(5, (1 << max_bits) - 2)));
        std::vector<uint32_t> freq(static_cast<size_t>(n));
        for (auto &f : freq) f = 1 + rng() % (round % 2 ? 1000 : 5);
        std::vector<uint8_t> length(static_cast<size_t>(n));
        deflate_code_lengths(freq.data(), n, max_bits, length.data());
        uint64_t best = ~uint64_t(0);
        std::vector<uint8_t> l(size_t(n), 1);
        for (;;) {  // every assignment of 1..max_bits that fits the Kraft inequality
            if (kraft_sum_scaled(l, max_bits) <= (uint64_t(1) << max_bits)) best = std::min(best, code_cost(freq, l));
            size_t k = 0;
            while (k < l.size() && l[k] == max_bits) l[k++] = 1;
            if (k == l.size()) break;
            l[k]++;
        }
        ASSERT_EQ(code_cost(freq, length), best) << "round " << round;
    }
}

// ---- real streams ----------------------------------------------------------

// Every Flate stream of the corpus round-trips at either effort, the content
// streams come out within 3 % of zlib's default level, and the object
// streams at the fast effort within 5 % of the standard one.
TEST(Deflate, CorpusStreamsRoundTrip) {
    std::map<std::string, int> count;
    uint64_t ours = 0, zlib6 = 0, objstm = 0, objstm_fast = 0;
    for (const decoded_stream &s : corpus_decoded_streams(TEST_CORPUS_DIR)) {
        std::string z = encode(s.bytes), fast = encode(s.bytes, deflate_effort::fast);
        ASSERT_EQ(round_trip_problem(z, s.bytes), "") << s.kind << " stream " << count[s.kind];
        ASSERT_EQ(round_trip_problem(fast, s.bytes), "") << s.kind << " stream " << count[s.kind] << ", fast";
        count[s.kind]++;
        if (s.kind == "objstm") objstm += z.size(), objstm_fast += fast.size();
        if (s.kind != "content") continue;
        uLongf n = compressBound(uLong(s.bytes.size()));
        std::vector<unsigned char> zbuf(n);
        ASSERT_EQ(compress2(zbuf.data(), &n, bytes_of(s.bytes), uLong(s.bytes.size()), 6), Z_OK);
        ours += z.size();
        zlib6 += n;
    }
    EXPECT_GT(count["content"], 900);
    EXPECT_GT(count["other"] + count["images"] + count["objstm"], 400);
    EXPECT_LE(ours, zlib6 + zlib6 * 3 / 100);
    EXPECT_LE(objstm_fast, objstm + objstm * 5 / 100);
}

// ---- threads and large inputs ----------------------------------------------

TEST(Deflate, SameBytesFromManyThreads) {
    std::mt19937 rng(21);
    std::vector<std::string> data, want;
    for (int i = 0; i < 16; i++) {
        data.push_back(shapes[size_t(i) % std::size(shapes)].make(rng, 1000 + rng() % 50000));
        want.push_back(encode(data.back()));
    }
    std::vector<int> bad(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; round++)
                for (size_t i = 0; i < data.size(); i++) {
                    size_t k = (i + size_t(t)) % data.size();
                    std::vector<unsigned char> out(deflate_bound(data[k].size()));
                    uint64_t n = 0;
                    int rc = deflate_compress(bytes_of(data[k]), data[k].size(), out.data(), out.size(), &n);
                    bad[size_t(t)] += rc != 0 || std::string(reinterpret_cast<char *>(out.data()), n) != want[k];
                }
        });
    for (auto &th : threads) th.join();
    for (int t = 0; t < 8; t++) EXPECT_EQ(bad[size_t(t)], 0) << "thread " << t;
}

// Positions far past 2^24 and thousands of blocks: 96 MB of pages of text
// with long runs between them, decoded by our decoder (zlib's would double
// the time).
TEST(Deflate, LargeInput) {
    std::mt19937 rng(23);
    const size_t n = size_t(96) << 20;
    std::string page = content_like(rng, 8000), data;
    data.reserve(n);
    while (data.size() < n) {
        data += page;
        page[rng() % page.size()] = char('a' + rng() % 26);  // no two pages alike
        data.append(rng() % 20000, ' ');
    }
    data.resize(n);
    std::string z = encode(data);
    EXPECT_LT(z.size(), n / 200);
    std::vector<unsigned char> out(n);
    uint64_t produced = 0;
    ASSERT_EQ(inflate_decompress(bytes_of(z), z.size(), out.data(), n, &produced), 0);
    ASSERT_EQ(produced, n);
    EXPECT_EQ(std::memcmp(out.data(), data.data(), n), 0);
}

}  // namespace
