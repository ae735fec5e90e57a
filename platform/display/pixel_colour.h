// Pixel colours as a blitter shows them: UYVY (ITU-R BT.601, studio range) and RGB 5-6-5 to
// 0x00RRGGBB.
#ifndef ORVO_PLATFORM_DISPLAY_PIXEL_COLOUR_H
#define ORVO_PLATFORM_DISPLAY_PIXEL_COLOUR_H

#include <algorithm>
#include <cstdint>

namespace orvo::platform {

constexpr uint32_t PackRgb(int32_t red, int32_t green, int32_t blue)
{
    return static_cast<uint32_t>(std::clamp(red, 0, 255)) << 16 |
           static_cast<uint32_t>(std::clamp(green, 0, 255)) << 8 |
           static_cast<uint32_t>(std::clamp(blue, 0, 255));
}

// Coefficients in 1/256: 1.164 luma gain; 1.596, 0.813, 0.391, 2.018 chroma weights.
constexpr uint32_t YuvToRgb(uint8_t y, uint8_t u, uint8_t v)
{
    constexpr int32_t kLumaBlack = 16;
    constexpr int32_t kChromaZero = 128;
    constexpr int32_t kRound = 128;
    const int32_t luma = 298 * (y - kLumaBlack);
    const int32_t cb = u - kChromaZero;
    const int32_t cr = v - kChromaZero;
    return PackRgb((luma + 409 * cr + kRound) >> 8, (luma - 100 * cb - 208 * cr + kRound) >> 8,
                   (luma + 516 * cb + kRound) >> 8);
}

constexpr uint32_t Rgb565ToRgb(uint16_t pixel)
{
    const uint32_t red = pixel >> 11 & 0x1F;
    const uint32_t green = pixel >> 5 & 0x3F;
    const uint32_t blue = pixel & 0x1F;
    return (red << 3 | red >> 2) << 16 | (green << 2 | green >> 4) << 8 | (blue << 3 | blue >> 2);
}

constexpr uint16_t RgbToRgb565(uint8_t red, uint8_t green, uint8_t blue)
{
    return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | blue >> 3);
}

} // namespace orvo::platform

#endif // ORVO_PLATFORM_DISPLAY_PIXEL_COLOUR_H
