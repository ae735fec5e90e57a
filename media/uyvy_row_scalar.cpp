// The reference UYVY row kernel.
#include "media/uyvy_row.h"

namespace orvo::media {

void UyvyRow_scalar(const uint8_t *luma, const uint8_t *u, const uint8_t *v, uint8_t *dest,
                    uint32_t width)
{
    for (uint32_t pair = 0; pair < width / 2; ++pair) {
        dest[4 * pair + 0] = u[pair];
        dest[4 * pair + 1] = luma[2 * pair];
        dest[4 * pair + 2] = v[pair];
        dest[4 * pair + 3] = luma[2 * pair + 1];
    }
}

} // namespace orvo::media
