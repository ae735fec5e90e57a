#include "voice/simd.h"

#include <atomic>
#include <cstdlib>

namespace orvo::voice {
namespace {

std::atomic<bool> g_force_scalar{false};

SimdLevel Probe()
{
#if defined(ORVO_DISABLE_SIMD)
    return SimdLevel::Scalar;
#else
    if (std::getenv("ORVO_DISABLE_SIMD") != nullptr)
        return SimdLevel::Scalar;
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return SimdLevel::Avx2;
#endif
#if defined(__aarch64__)
    return SimdLevel::Neon; // Advanced SIMD is part of the aarch64 base architecture
#else
    return SimdLevel::Scalar;
#endif
#endif
}

} // namespace

SimdLevel DetectedSimdLevel()
{
    static const SimdLevel detected = Probe();
    return detected;
}

SimdLevel ActiveSimdLevel()
{
    return g_force_scalar.load(std::memory_order_relaxed) ? SimdLevel::Scalar : DetectedSimdLevel();
}

void ForceScalarKernels(bool force) { g_force_scalar.store(force, std::memory_order_relaxed); }

bool ScalarKernelsForced() { return g_force_scalar.load(std::memory_order_relaxed); }

} // namespace orvo::voice
