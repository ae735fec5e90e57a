// Row kernels of the UYVY conversion. One call converts a pair of luma rows that share one
// chroma row, so every chroma byte is loaded once for both destination rows.
#ifndef ORVO_MEDIA_UYVY_ROW_H
#define ORVO_MEDIA_UYVY_ROW_H

#include <cstdint>

namespace orvo::media {

// `width` is even and non-zero: `width` luma bytes from each row, width / 2 bytes of U and V,
// 2 x width bytes into each destination row.
using UyvyRowPairFn = void (*)(const uint8_t *upperLuma, const uint8_t *lowerLuma,
                               const uint8_t *u, const uint8_t *v, uint8_t *upperDest,
                               uint8_t *lowerDest, uint32_t width);

// The reference: any even width.
void UyvyRowPair_scalar(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                        const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest, uint32_t width);

// Vector kernels: `width` is a non-zero multiple of their step. Each lives in its own file,
// built with its instruction set's flags, and runs only where the CPU has that set.
constexpr uint32_t kUyvyStep_sse2 = 32;
constexpr uint32_t kUyvyStep_avx2 = 64;
constexpr uint32_t kUyvyStep_neon = 32;
void UyvyRowPairAligned_sse2(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width);
void UyvyRowPairAligned_avx2(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width);
void UyvyRowPairAligned_neon(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width);

// Any even width: the vector kernel over the largest multiple of its step, the reference over
// the rest (the last, shorter group).
template <UyvyRowPairFn Vector, uint32_t kStep>
void UyvyRowPairAny(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                    const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest, uint32_t width)
{
    const uint32_t vectorWidth = width - width % kStep;
    if (vectorWidth != 0) {
        Vector(upperLuma, lowerLuma, u, v, upperDest, lowerDest, vectorWidth);
    }
    if (vectorWidth != width) {
        const uint32_t chroma = vectorWidth / 2;
        const uint32_t packed = vectorWidth * 2;
        UyvyRowPair_scalar(upperLuma + vectorWidth, lowerLuma + vectorWidth, u + chroma,
                           v + chroma, upperDest + packed, lowerDest + packed,
                           width - vectorWidth);
    }
}

enum class SimdLevel { kScalar, kSse2, kAvx2, kNeon };

// The kernel for `level`, or null when this build or this CPU lacks it.
UyvyRowPairFn UyvyRowPairKernel(SimdLevel level);

// The kernel the conversion uses: the best the CPU has, chosen once; the reference when the
// environment variable ORVO_DISABLE_SIMD is set (to anything but "0") or when forced below.
UyvyRowPairFn SelectedUyvyRowPair();
SimdLevel SelectedSimdLevel();
const char *SimdLevelName(SimdLevel level);

// For tests and benchmarks: force the reference kernels (true) or return to detection (false).
void ForceScalarKernels(bool force);

} // namespace orvo::media

#endif // ORVO_MEDIA_UYVY_ROW_H
