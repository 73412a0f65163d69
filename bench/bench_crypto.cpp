// Throughput of the ciphers and hashes over 1 MiB, beside memcpy of the
// same bytes as the yardstick: what decrypting an input and encrypting the
// output add to numbering a file. Bytes processed count the input.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "aes.h"
#include "md5.h"
#include "rc4.h"
#include "sha2.h"

namespace {

constexpr size_t N = 1 << 20;

std::vector<unsigned char> noise() {
    std::vector<unsigned char> v(N + 32);
    uint32_t x = 12345;
    for (unsigned char &c : v) c = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 16);
    return v;
}

void run(benchmark::State &state, void (*step)(const unsigned char *, unsigned char *)) {
    std::vector<unsigned char> in = noise(), out(N + 32);
    for (auto _ : state) {
        step(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * N);
}

const unsigned char KEY[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

void bm_memcpy(benchmark::State &s) { run(s, [](const unsigned char *in, unsigned char *out) { std::memcpy(out, in, N); }); }
void bm_md5(benchmark::State &s) { run(s, [](const unsigned char *in, unsigned char *out) { md5(in, N, out); }); }
void bm_sha256(benchmark::State &s) { run(s, [](const unsigned char *in, unsigned char *out) { sha256(in, N, out); }); }
void bm_sha512(benchmark::State &s) { run(s, [](const unsigned char *in, unsigned char *out) { sha512(in, N, out); }); }
void bm_rc4(benchmark::State &s) {
    run(s, [](const unsigned char *in, unsigned char *out) {
        rc4_state st;
        rc4_init(&st, KEY, 16);
        rc4_crypt(&st, in, out, N);
    });
}
template <size_t KEY_BYTES, bool ENCRYPT>
void bm_aes_cbc(benchmark::State &s) {
    run(s, [](const unsigned char *in, unsigned char *out) {
        aes_key k;
        aes_key_init(&k, KEY, KEY_BYTES);
        if (ENCRYPT)
            aes_cbc_encrypt_padded(&k, KEY, in, out, N);
        else
            aes_cbc_decrypt(&k, KEY, in, out, N);
    });
}

BENCHMARK(bm_memcpy);
BENCHMARK(bm_md5);
BENCHMARK(bm_sha256);
BENCHMARK(bm_sha512);
BENCHMARK(bm_rc4);
BENCHMARK(bm_aes_cbc<16, true>)->Name("bm_aes128_cbc_encrypt");
BENCHMARK(bm_aes_cbc<16, false>)->Name("bm_aes128_cbc_decrypt");
BENCHMARK(bm_aes_cbc<32, true>)->Name("bm_aes256_cbc_encrypt");
BENCHMARK(bm_aes_cbc<32, false>)->Name("bm_aes256_cbc_decrypt");

}  // namespace

BENCHMARK_MAIN();
