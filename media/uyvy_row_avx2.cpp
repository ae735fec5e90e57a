// AVX2 UYVY row kernels: 32 pixels per step, with ordinary or streaming stores.
#include <immintrin.h>

#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

constexpr int kByteBits = 8;
// Lane selectors: both low lanes (pixels 0-15), both high lanes (pixels 16-31).
constexpr int kLowLanes = 0x20;
constexpr int kHighLanes = 0x31;

// Whole steps only: `width` is a non-zero multiple of kUyvyStep_avx2.
template <bool kStreaming>
void UyvyRowAligned_avx2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                         uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_avx2) {
        // U and V widened to 16-bit words and merged: the words U | V << 8 are the bytes
        // U0 V0 U1 V1 ..., pixels 0-15 in the low 128-bit lane and 16-31 in the high one, the
        // same split as the luma load, so the in-lane unpacks need no lane crossing.
        const __m256i cb = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(u + x / 2)));
        const __m256i cr = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v + x / 2)));
        const __m256i chroma = _mm256_or_si256(cb, _mm256_slli_epi16(cr, kByteBits));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(luma + x));
        const __m256i low = _mm256_unpacklo_epi8(chroma, y);  // pixels 0-7 | 16-23
        const __m256i high = _mm256_unpackhi_epi8(chroma, y); // pixels 8-15 | 24-31
        const __m256i first = _mm256_permute2x128_si256(low, high, kLowLanes);
        const __m256i second = _mm256_permute2x128_si256(low, high, kHighLanes);
        __m256i *out = reinterpret_cast<__m256i *>(dest + 2 * x);
        if constexpr (kStreaming) {
            _mm256_stream_si256(out + 0, first);
            _mm256_stream_si256(out + 1, second);
        } else {
            _mm256_storeu_si256(out + 0, first);
            _mm256_storeu_si256(out + 1, second);
        }
    }
}

} // namespace

void UyvyRow_avx2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width)
{
    UyvyRowAny<UyvyRowAligned_avx2<false>, kUyvyStep_avx2>(luma, u, v, dest, width);
}

void UyvyRowStreaming_avx2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                           uint32_t width)
{
    UyvyRowAny<UyvyRowAligned_avx2<true>, kUyvyStep_avx2>(luma, u, v, dest, width);
}

} // namespace orvo::media
