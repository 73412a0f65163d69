// libFuzzer target: see run_security in harness.h.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string problem = fuzz::run_security(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_security: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
