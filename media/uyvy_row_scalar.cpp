// The reference UYVY row-pair kernel.
#include "media/uyvy_row.h"

namespace orvo::media {

void UyvyRowPair_scalar(const uint8_t *upperLuma, const uint8_t *lowerLuma, const uint8_t *u,
                        const uint8_t *v, uint8_t *upperDest, uint8_t *lowerDest, uint32_t width)
{
    for (uint32_t pair = 0; pair < width / 2; ++pair) {
        const uint8_t cb = u[pair];
        const uint8_t cr = v[pair];
        upperDest[4 * pair + 0] = cb;
        upperDest[4 * pair + 1] = upperLuma[2 * pair];
        upperDest[4 * pair + 2] = cr;
        upperDest[4 * pair + 3] = upperLuma[2 * pair + 1];
        lowerDest[4 * pair + 0] = cb;
        lowerDest[4 * pair + 1] = lowerLuma[2 * pair];
        lowerDest[4 * pair + 2] = cr;
        lowerDest[4 * pair + 3] = lowerLuma[2 * pair + 1];
    }
}

} // namespace orvo::media
