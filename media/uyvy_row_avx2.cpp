// AVX2 UYVY row-pair kernel: 64 pixels of two rows per step.
#include <immintrin.h>

#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

// 32 pixels of one row: the 256-bit unpacks work within 128-bit lanes, so the chroma is laid out
// with pixels 0-15 in the low lane and 16-31 in the high lane, like the luma load.
inline void StoreUyvy32(const __m256i chroma, const uint8_t *luma, uint8_t *dest)
{
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(luma));
    const __m256i low = _mm256_unpacklo_epi8(chroma, y);   // pixels 0-7 | 16-23
    const __m256i high = _mm256_unpackhi_epi8(chroma, y);  // pixels 8-15 | 24-31
    __m256i *out = reinterpret_cast<__m256i *>(dest);
    _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(low, high, 0x31));
}

} // namespace

void UyvyRowPairAligned_avx2(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_avx2) {
        const __m256i cb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(u + x / 2));
        const __m256i cr = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + x / 2));
        // Interleaved U V for pixels 0-15 | 16-31 and 32-47 | 48-63.
        const __m256i pairsLow = _mm256_unpacklo_epi8(cb, cr);   // pixels 0-15 | 32-47
        const __m256i pairsHigh = _mm256_unpackhi_epi8(cb, cr);  // pixels 16-31 | 48-63
        const __m256i chroma0 = _mm256_permute2x128_si256(pairsLow, pairsHigh, 0x20);
        const __m256i chroma1 = _mm256_permute2x128_si256(pairsLow, pairsHigh, 0x31);
        StoreUyvy32(chroma0, upperLuma + x, upperDest + 2 * x);
        StoreUyvy32(chroma1, upperLuma + x + 32, upperDest + 2 * x + 64);
        StoreUyvy32(chroma0, lowerLuma + x, lowerDest + 2 * x);
        StoreUyvy32(chroma1, lowerLuma + x + 32, lowerDest + 2 * x + 64);
    }
}

} // namespace orvo::media
