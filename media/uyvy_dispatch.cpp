// Run-time choice of the UYVY row kernel: detected once, cached, overridable for tests.
#include <atomic>
#include <cstdlib>
#include <initializer_list>

#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

constexpr const char *kDisableSimdVariable = "ORVO_DISABLE_SIMD";

bool CpuHas(SimdLevel level)
{
    switch (level) {
    case SimdLevel::kScalar:
        return true;
#if defined(ORVO_HAVE_SSE2_KERNELS) || defined(ORVO_HAVE_AVX2_KERNELS)
    case SimdLevel::kSse2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2");
    case SimdLevel::kAvx2:
        // The CPU's feature test also checks that the system saves the 256-bit registers.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
#endif
#if defined(ORVO_HAVE_NEON_KERNELS)
    case SimdLevel::kNeon:
        return true; // part of every 64-bit ARM CPU
#endif
    default:
        return false;
    }
}

bool SimdDisabledByEnvironment()
{
    return std::getenv(kDisableSimdVariable) != nullptr;
}

SimdLevel DetectBestLevel()
{
    if (SimdDisabledByEnvironment()) {
        return SimdLevel::kScalar;
    }
    for (SimdLevel level : {SimdLevel::kAvx2, SimdLevel::kNeon, SimdLevel::kSse2}) {
        if (UyvyRowKernel(level) != nullptr) {
            return level;
        }
    }
    return SimdLevel::kScalar;
}

SimdLevel DetectedLevel()
{
    static const SimdLevel detected = DetectBestLevel();
    return detected;
}

std::atomic<bool> forceScalar{false};

} // namespace

UyvyKernels UyvyKernelsFor(SimdLevel level)
{
    UyvyKernels kernels;
    if (!CpuHas(level)) {
        return kernels;
    }
    switch (level) {
    case SimdLevel::kScalar:
        kernels.row = UyvyRow_scalar;
        break;
#if defined(ORVO_HAVE_SSE2_KERNELS)
    case SimdLevel::kSse2:
        kernels = {UyvyRow_sse2, UyvyRowStreaming_sse2, UyvyStreamingFence_sse2};
        break;
#endif
#if defined(ORVO_HAVE_AVX2_KERNELS)
    case SimdLevel::kAvx2:
        // Every CPU with AVX2 has SSE2, whose fence orders the streaming stores.
        kernels = {UyvyRow_avx2, UyvyRowStreaming_avx2, UyvyStreamingFence_sse2};
        break;
#endif
#if defined(ORVO_HAVE_NEON_KERNELS)
    case SimdLevel::kNeon:
        kernels.row = UyvyRow_neon;
        break;
#endif
    default:
        break;
    }
    return kernels;
}

UyvyRowFn UyvyRowKernel(SimdLevel level) { return UyvyKernelsFor(level).row; }

SimdLevel SelectedSimdLevel()
{
    return forceScalar.load(std::memory_order_acquire) ? SimdLevel::kScalar : DetectedLevel();
}

UyvyKernels SelectedUyvyKernels()
{
    static const UyvyKernels best = UyvyKernelsFor(DetectedLevel());
    static const UyvyKernels reference = UyvyKernelsFor(SimdLevel::kScalar);
    return forceScalar.load(std::memory_order_acquire) ? reference : best;
}

UyvyRowFn SelectedUyvyRow() { return SelectedUyvyKernels().row; }

void ForceScalarKernels(bool force) { forceScalar.store(force, std::memory_order_release); }

const char *SimdLevelName(SimdLevel level)
{
    switch (level) {
    case SimdLevel::kScalar:
        return "scalar";
    case SimdLevel::kSse2:
        return "sse2";
    case SimdLevel::kAvx2:
        return "avx2";
    case SimdLevel::kNeon:
        return "neon";
    }
    return "unknown";
}

} // namespace orvo::media
