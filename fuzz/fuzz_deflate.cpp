// libFuzzer target: see run_deflate in harness.h.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string problem = fuzz::run_deflate(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_deflate: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
