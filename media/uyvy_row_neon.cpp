// NEON UYVY row kernel: 32 pixels per step, with an interleaving store.
#include <arm_neon.h>

#include "media/uyvy_row.h"

namespace orvo::media {
namespace {

// Whole steps only: `width` is a non-zero multiple of kUyvyStep_neon.
void UyvyRowAligned_neon(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                         uint32_t width)
{
    for (uint32_t x = 0; x < width; x += kUyvyStep_neon) {
        // Left and right luma samples of each pixel pair apart, then U, left, V, right stored
        // four ways interleaved.
        const uint8x16x2_t pairs = vld2q_u8(luma + x);
        uint8x16x4_t out;
        out.val[0] = vld1q_u8(u + x / 2);
        out.val[1] = pairs.val[0];
        out.val[2] = vld1q_u8(v + x / 2);
        out.val[3] = pairs.val[1];
        vst4q_u8(dest + 2 * x, out);
    }
}

} // namespace

void UyvyRow_neon(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                  uint32_t width)
{
    UyvyRowAny<UyvyRowAligned_neon, kUyvyStep_neon>(luma, u, v, dest, width);
}

} // namespace orvo::media
