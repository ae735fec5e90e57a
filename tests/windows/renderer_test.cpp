// The picture renderer on the real DirectDraw driver: a 16-bit RGB 5-6-5 picture of four coloured
// quadrants drawn into a window, centred and then stretched, and read back from the screen with GDI.
#include "test_window.h"

#include <cstdint>
#include <vector>

#include "media/HI_DIRECTX_Draw.h"

namespace {

using orvo::media::CDirectXDraw;
using orvo_test::kClientHeight;
using orvo_test::kClientWidth;
using orvo_test::Probe;
using orvo_test::TestWindow;

constexpr uint32_t kPictureWidth = 64;
constexpr uint32_t kPictureHeight = 48;
// 5- and 6-bit channels come back expanded to 8 bits by the server's own rule.
constexpr int kChannelTolerance = 8;

struct Colour {
    uint16_t rgb565;
    COLORREF expected;
};

// Quadrants: top left red, top right green, bottom left blue, bottom right white.
const Colour kQuadrants[2][2] = {
    {{0xF800, RGB(255, 0, 0)}, {0x07E0, RGB(0, 255, 0)}},
    {{0x001F, RGB(0, 0, 255)}, {0xFFFF, RGB(255, 255, 255)}},
};
const COLORREF kBlack = RGB(0, 0, 0);

std::vector<uint16_t> QuadrantPicture()
{
    std::vector<uint16_t> picture(kPictureWidth * kPictureHeight);
    for (uint32_t y = 0; y < kPictureHeight; ++y) {
        for (uint32_t x = 0; x < kPictureWidth; ++x) {
            picture[y * kPictureWidth + x] =
                kQuadrants[y < kPictureHeight / 2 ? 0 : 1][x < kPictureWidth / 2 ? 0 : 1].rgb565;
        }
    }
    return picture;
}

TEST(Renderer, DrawsRgb565PictureCentredAndStretched)
{
    TestWindow window;
    ORVO_REQUIRE_WINDOW(window);
    CDirectXDraw draw;
    int32_t kind = -1;
    ASSERT_EQ(draw.Init(window.Handle(), kPictureWidth, kPictureHeight, &kind), 0);
    if (kind != orvo::media::DRAW_FORMAT_RGB565)
        GTEST_SKIP() << "the driver blits FOURCC surfaces (kind " << kind << "); this test needs RGB565";

    const std::vector<uint16_t> picture = QuadrantPicture();
    const auto *bytes = reinterpret_cast<const uint8_t *>(picture.data());
    // Centred: the picture's top left corner at half the difference of the sizes.
    const int left = (kClientWidth - static_cast<int>(kPictureWidth)) / 2;
    const int top = (kClientHeight - static_cast<int>(kPictureHeight)) / 2;
    const int quarterWidth = kPictureWidth / 4;
    const int quarterHeight = kPictureHeight / 4;
    window.DrawUntil(
        [&] { ASSERT_EQ(draw.ShowPicture(bytes, nullptr, nullptr, 0), 0); },
        {{left + quarterWidth, top + quarterHeight, kQuadrants[0][0].expected},
         {left + 3 * quarterWidth, top + quarterHeight, kQuadrants[0][1].expected},
         {left + quarterWidth, top + 3 * quarterHeight, kQuadrants[1][0].expected},
         {left + 3 * quarterWidth, top + 3 * quarterHeight, kQuadrants[1][1].expected},
         {left - 4, top - 4, kBlack},
         {left + static_cast<int>(kPictureWidth) + 4, top + static_cast<int>(kPictureHeight) + 4,
          kBlack}},
        kChannelTolerance, "centred");
    EXPECT_EQ(draw.GetStretchMode(), 0);

    // Stretched: each quadrant fills a quarter of the client area.
    window.DrawUntil([&] { ASSERT_EQ(draw.ShowPicture(bytes, nullptr, nullptr, 1), 0); },
                     {{kClientWidth / 4, kClientHeight / 4, kQuadrants[0][0].expected},
                      {3 * kClientWidth / 4, kClientHeight / 4, kQuadrants[0][1].expected},
                      {kClientWidth / 4, 3 * kClientHeight / 4, kQuadrants[1][0].expected},
                      {3 * kClientWidth / 4, 3 * kClientHeight / 4, kQuadrants[1][1].expected},
                      {4, 4, kQuadrants[0][0].expected},
                      {kClientWidth - 4, kClientHeight - 4, kQuadrants[1][1].expected}},
                     kChannelTolerance, "stretched");
    EXPECT_EQ(draw.GetStretchMode(), 1);
    draw.Uninit();
}

} // namespace
