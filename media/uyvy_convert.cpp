// The whole-picture UYVY conversion: checks the sizes, takes the chosen row kernel and walks the
// rows.
#include "media/uyvy.h"

#include <cstddef>

#include "media/uyvy_row.h"

namespace orvo::media {

// Pictures from this size of output up are written with streaming stores: they are larger than
// the caches close to the core, and the planes they are made from then stay cached.
constexpr uint64_t kStreamingMinBytes = 8u << 20;

bool ConvertI420ToUyvy(const uint8_t *luma, uint32_t lumaStride, const uint8_t *u,
                       const uint8_t *v, uint8_t *dest, uint32_t width, uint32_t height,
                       int32_t pitch)
{
    const bool evenSizes = width != 0 && height != 0 && width % 2 == 0 && height % 2 == 0;
    if (!evenSizes || luma == nullptr || u == nullptr || v == nullptr || dest == nullptr ||
        lumaStride < width || pitch < 0 || static_cast<uint64_t>(pitch) < 2ull * width) {
        return false;
    }
    const UyvyKernels kernels = SelectedUyvyKernels();
    const uint64_t outputBytes = 2ull * width * height;
    const bool streaming = kernels.streamingRow != nullptr && outputBytes >= kStreamingMinBytes &&
                           reinterpret_cast<uintptr_t>(dest) % kUyvyStreamingAlignment == 0 &&
                           static_cast<uintptr_t>(pitch) % kUyvyStreamingAlignment == 0;
    const UyvyRowFn convertRow = streaming ? kernels.streamingRow : kernels.row;
    const size_t chromaStride = lumaStride / 2;
    for (uint32_t row = 0; row < height; ++row) {
        // Both rows of a pair take the same chroma row.
        const size_t chromaOffset = static_cast<size_t>(row / 2) * chromaStride;
        convertRow(luma + static_cast<size_t>(row) * lumaStride, u + chromaOffset, v + chromaOffset,
                   dest + static_cast<size_t>(row) * static_cast<size_t>(pitch), width);
    }
    if (streaming) {
        kernels.fence();
    }
    return true;
}

} // namespace orvo::media
