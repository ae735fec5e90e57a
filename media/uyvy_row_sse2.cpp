// SSE2 UYVY row kernels: 16 pixels per step, with ordinary or streaming stores.
#include <emmintrin.h>

#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

// Whole steps only: `width` is a non-zero multiple of kUyvyStep_sse2.
template <bool kStreaming>
void UyvyRowAligned_sse2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                         uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_sse2) {
        const __m128i cb = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(u + x / 2));
        const __m128i cr = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(v + x / 2));
        const __m128i chroma = _mm_unpacklo_epi8(cb, cr); // U0 V0 U1 V1 ... U7 V7
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(luma + x));
        __m128i *out = reinterpret_cast<__m128i *>(dest + 2 * x);
        if constexpr (kStreaming) {
            _mm_stream_si128(out + 0, _mm_unpacklo_epi8(chroma, y));
            _mm_stream_si128(out + 1, _mm_unpackhi_epi8(chroma, y));
        } else {
            _mm_storeu_si128(out + 0, _mm_unpacklo_epi8(chroma, y));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi8(chroma, y));
        }
    }
}

} // namespace

void UyvyRow_sse2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width)
{
    UyvyRowAny<UyvyRowAligned_sse2<false>, kUyvyStep_sse2>(luma, u, v, dest, width);
}

void UyvyRowStreaming_sse2(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                           uint32_t width)
{
    UyvyRowAny<UyvyRowAligned_sse2<true>, kUyvyStep_sse2>(luma, u, v, dest, width);
}

void UyvyStreamingFence_sse2() { _mm_sfence(); }

} // namespace orvo::media
