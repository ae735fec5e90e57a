// SSE2 UYVY row-pair kernel: 32 pixels of two rows per step.
#include <emmintrin.h>

#include "media/uyvy_row.h"

namespace orvo::media {

void UyvyRowPairAligned_sse2(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_sse2) {
        const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(u + x / 2));
        const __m128i cr = _mm_loadu_si128(reinterpret_cast<const __m128i *>(v + x / 2));
        // U0 V0 U1 V1 ... for pixels 0-15 and 16-31.
        const __m128i chromaLow = _mm_unpacklo_epi8(cb, cr);
        const __m128i chromaHigh = _mm_unpackhi_epi8(cb, cr);
        const uint8_t *rows[2] = {upperLuma + x, lowerLuma + x};
        uint8_t *dests[2] = {upperDest + 2 * x, lowerDest + 2 * x};
        for (int row = 0; row < 2; ++row) {
            const __m128i lumaLow = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[row]));
            const __m128i lumaHigh =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[row] + 16));
            __m128i *out = reinterpret_cast<__m128i *>(dests[row]);
            _mm_storeu_si128(out + 0, _mm_unpacklo_epi8(chromaLow, lumaLow));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi8(chromaLow, lumaLow));
            _mm_storeu_si128(out + 2, _mm_unpacklo_epi8(chromaHigh, lumaHigh));
            _mm_storeu_si128(out + 3, _mm_unpackhi_epi8(chromaHigh, lumaHigh));
        }
    }
}

} // namespace orvo::media
