// libFuzzer target: see run_font in harness.h.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string problem = fuzz::run_font(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_font: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
