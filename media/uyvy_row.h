// Row kernels of the UYVY conversion. One call converts one luma row with its chroma row; the
// two rows of a pair call it with the same chroma. Row by row, with a single output stream at a
// time, measured faster than writing both rows of a pair together: the second pass finds the
// chroma in the first-level cache, and the hardware prefetchers follow fewer streams.
#ifndef ORVO_MEDIA_UYVY_ROW_H
#define ORVO_MEDIA_UYVY_ROW_H

#include <cstdint>

namespace orvo::media {

// `width` is even and non-zero: `width` luma bytes, width / 2 bytes of U and of V, 2 x width
// bytes into the destination row.
using UyvyRowFn = void (*)(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                           uint32_t width);

// The reference: any even width.
void UyvyRow_scalar(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                     uint32_t width);

// Vector kernels for any even width. Each lives in its own file, built with its instruction set's
// flags, and runs only where the CPU has that set. Inside, a loop over whole steps (a non-zero
// multiple of kUyvyStep_*) is completed by UyvyRowAny below, in the same file so the loop is
// inlined into it.
constexpr uint32_t kUyvyStep_sse2 = 16;
constexpr uint32_t kUyvyStep_avx2 = 32;
constexpr uint32_t kUyvyStep_neon = 32;
void UyvyRow_sse2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width);
void UyvyRow_avx2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width);
void UyvyRow_neon(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width);

// Any even width: the vector kernel over the largest multiple of its step, the reference over
// the rest (the last, shorter group).
template <UyvyRowFn Vector, uint32_t kStep>
void UyvyRowAny(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                uint32_t width)
{
    const uint32_t vectorWidth = width - width % kStep;
    if (vectorWidth != 0) {
        Vector(luma, u, v, dest, vectorWidth);
    }
    if (vectorWidth != width) {
        const uint32_t chroma = vectorWidth / 2;
        UyvyRow_scalar(luma + vectorWidth, u + chroma, v + chroma, dest + 2 * vectorWidth,
                       width - vectorWidth);
    }
}

// Streaming forms: the same bytes, stored past the caches (the destination is not read back, and
// pictures this large would only push the planes out of the cache). The destination row must
// start on a kUyvyStreamingAlignment boundary; after the last row the caller runs the level's
// fence so the stores are ordered before anything that follows.
constexpr uintptr_t kUyvyStreamingAlignment = 32;
void UyvyRowStreaming_sse2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                           uint32_t width);
void UyvyRowStreaming_avx2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                           uint32_t width);
void UyvyStreamingFence_sse2();

enum class SimdLevel { kScalar, kSse2, kAvx2, kNeon };

struct UyvyKernels {
    UyvyRowFn row = nullptr;          // null when this build or this CPU lacks the level
    UyvyRowFn streamingRow = nullptr; // null where the level has no streaming stores
    void (*fence)() = nullptr;        // run after streaming rows
};

// The kernels of `level`.
UyvyKernels UyvyKernelsFor(SimdLevel level);
UyvyRowFn UyvyRowKernel(SimdLevel level);

// The kernels the conversion uses: the best the CPU has, chosen once; the reference when the
// environment variable ORVO_DISABLE_SIMD is set (to any value) or when forced below.
UyvyKernels SelectedUyvyKernels();
UyvyRowFn SelectedUyvyRow();
SimdLevel SelectedSimdLevel();
const char *SimdLevelName(SimdLevel level);

// For tests and benchmarks: force the reference kernels (true) or return to detection (false).
void ForceScalarKernels(bool force);

} // namespace orvo::media

#endif // ORVO_MEDIA_UYVY_ROW_H
