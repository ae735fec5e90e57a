// NEON UYVY row-pair kernel: 32 pixels of two rows per step, with interleaving stores.
#include <arm_neon.h>

#include "media/uyvy_row.h"

namespace orvo::media {

void UyvyRowPairAligned_neon(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                             const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest,
                             uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_neon) {
        // Deinterleave the luma into left and right samples of each pixel pair, then store
        // U, left, V, right four ways interleaved.
        const uint8x16_t cb = vld1q_u8(u + x / 2);
        const uint8x16_t cr = vld1q_u8(v + x / 2);
        const uint8x16x2_t upper = vld2q_u8(upperLuma + x);
        const uint8x16x2_t lower = vld2q_u8(lowerLuma + x);
        uint8x16x4_t out;
        out.val[0] = cb;
        out.val[2] = cr;
        out.val[1] = upper.val[0];
        out.val[3] = upper.val[1];
        vst4q_u8(upperDest + 2 * x, out);
        out.val[1] = lower.val[0];
        out.val[3] = lower.val[1];
        vst4q_u8(lowerDest + 2 * x, out);
    }
}

} // namespace orvo::media
