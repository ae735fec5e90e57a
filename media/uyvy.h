// Planar YUV 4:2:0 (I420) to packed YUV 4:2:2 in the UYVY byte order, the picture upload of the
// renderer. Each pair of luma rows shares one chroma row (vertical duplication, no filtering);
// each pixel pair becomes U, Y(left), V, Y(right).
#ifndef ORVO_MEDIA_UYVY_H
#define ORVO_MEDIA_UYVY_H

#include <cstdint>

namespace orvo::media {

// Converts a width x height picture. Luma rows are `lumaStride` bytes apart, chroma rows
// lumaStride / 2; destination rows `pitch` bytes apart, each receiving 2 x width bytes.
// Width and height must be even and non-zero, lumaStride >= width and pitch >= 2 x width;
// otherwise nothing is written and false comes back. Allocates nothing.
bool ConvertI420ToUyvy(const uint8_t *luma, uint32_t lumaStride, const uint8_t *u,
                       const uint8_t *v, uint8_t *dest, uint32_t width, uint32_t height,
                       int32_t pitch);

} // namespace orvo::media

#endif // ORVO_MEDIA_UYVY_H
