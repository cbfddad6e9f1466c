#include "logging/wide_byte_steps.h"

namespace quorvel {

namespace {

bool processorHasWideSteps() {
#ifdef QUORVEL_WIDE_STEPS
    // Also false where the kernel does not save the AVX-512 registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

} // namespace

std::atomic<bool>& wideStepsEnabled() {
    static std::atomic<bool> enabled{processorHasWideSteps()};
    return enabled;
}

} // namespace quorvel
