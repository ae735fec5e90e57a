// The renderer on a real SDL2 window, headless: SDL's dummy video driver (unless the environment
// chooses another) with the software renderer, the pixels read back from the window.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "media/HI_DIRECTX_Draw.h"
#include "platform/display/pixel_colour.h"
#include "platform/sdl/display_sdl.h"

namespace orvo::media {
namespace {

using platform::SdlDisplayDriver;

constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 300;
// SDL's own YUV conversion rounds a little differently.
constexpr int kColourTolerance = 4;

testing::AssertionResult NearColour(uint32_t actual, uint32_t expected)
{
    for (int shift : {16, 8, 0}) {
        const int a = static_cast<int>(actual >> shift & 0xFF);
        const int e = static_cast<int>(expected >> shift & 0xFF);
        if (std::abs(a - e) > kColourTolerance) {
            return testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
        }
    }
    return testing::AssertionSuccess();
}

class SdlDrawTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("orvo test", 50, 40, kWindowWidth, kWindowHeight, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
    }
    void TearDown() override
    {
        draw.Uninit();
        if (window != nullptr) {
            SDL_DestroyWindow(window);
        }
        SDL_Quit();
    }
    uint32_t Pixel(int x, int y)
    {
        std::vector<uint32_t> pixels;
        uint32_t width = 0, height = 0;
        if (!SdlDisplayDriver::ReadWindowPixels(window, &pixels, &width, &height) ||
            width != kWindowWidth || height != kWindowHeight) {
            ADD_FAILURE() << "no pixels read back";
            return 0xFFFFFFFFu;
        }
        return pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
    }

    SdlDisplayDriver driver;
    CDirectXDraw draw{driver};
    SDL_Window *window = nullptr;
};

// Left half one colour, right half another.
struct Planes {
    static constexpr uint8_t kLeft[3] = {81, 90, 240};
    static constexpr uint8_t kRight[3] = {145, 54, 34};
    std::vector<uint8_t> luma, u, v;
    Planes(uint32_t w, uint32_t h) : luma(w * h), u(w * h / 4), v(w * h / 4)
    {
        for (uint32_t i = 0; i < w * h; ++i) luma[i] = (i % w) < w / 2 ? kLeft[0] : kRight[0];
        for (uint32_t i = 0; i < w * h / 4; ++i) {
            const bool left = (i % (w / 2)) < w / 4;
            u[i] = left ? kLeft[1] : kRight[1];
            v[i] = left ? kLeft[2] : kRight[2];
        }
    }
};
const uint32_t kLeftRgb = platform::YuvToRgb(81, 90, 240);
const uint32_t kRightRgb = platform::YuvToRgb(145, 54, 34);

TEST_F(SdlDrawTest, PlanarPictureCentredThenStretched)
{
    int32_t kind = 0;
    ASSERT_EQ(draw.Init(window, 64, 32, &kind), 0);
    ASSERT_EQ(kind, DRAW_FORMAT_UYVY);
    Planes planes(64, 32);
    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 0), 0);
    // 64 x 32 centred in 400 x 300: from (168, 134).
    const platform::DisplayRect &dest = draw.GetDestRect();
    int x = 0, y = 0;
    SDL_GetWindowPosition(window, &x, &y);
    EXPECT_EQ(dest.left - x, 168);
    EXPECT_EQ(dest.top - y, 134);
    EXPECT_TRUE(NearColour(Pixel(170, 140), kLeftRgb));
    EXPECT_TRUE(NearColour(Pixel(229, 165), kRightRgb));
    EXPECT_EQ(Pixel(167, 140), 0u);
    EXPECT_EQ(Pixel(10, 10), 0u);

    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 1), 0);
    EXPECT_TRUE(NearColour(Pixel(0, 0), kLeftRgb));
    EXPECT_TRUE(NearColour(Pixel(190, 299), kLeftRgb));
    EXPECT_TRUE(NearColour(Pixel(210, 0), kRightRgb));
    EXPECT_TRUE(NearColour(Pixel(399, 299), kRightRgb));

    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 0), 0);
    EXPECT_EQ(Pixel(10, 10), 0u) << "cleared on the way back to stretch 0";
}

TEST_F(SdlDrawTest, LostRenderTargetIsRestored)
{
    ASSERT_EQ(draw.Init(window, 64, 32, nullptr), 0);
    Planes planes(64, 32);
    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 1), 0);
    SDL_Event reset{};
    reset.type = SDL_RENDER_TARGETS_RESET;
    SDL_PushEvent(&reset);
    // The blit finds the screen lost: restored (black), nothing drawn this time.
    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 1), 0);
    EXPECT_EQ(Pixel(0, 0), 0u);
    ASSERT_EQ(draw.ShowPicture(planes.luma.data(), planes.u.data(), planes.v.data(), 1), 0);
    EXPECT_TRUE(NearColour(Pixel(0, 0), kLeftRgb));
}

TEST_F(SdlDrawTest, Rgb565SurfaceThroughTheLayer)
{
    platform::Display *display = nullptr;
    ASSERT_EQ(driver.CreateDisplay(&display), 0);
    ASSERT_EQ(display->SetCooperativeLevel(window, platform::kDisplayCooperativeNormal), 0);
    uint32_t caps = 0;
    ASSERT_EQ(display->GetCaps(&caps), 0);
    EXPECT_TRUE(caps & platform::kDisplayCapsBlt);
    platform::DisplaySurface *primary = nullptr;
    platform::DisplaySurface *picture = nullptr;
    ASSERT_EQ(display->CreatePrimarySurface(&primary), 0);
    platform::PixelFormat format;
    format.flags = platform::kPixelFormatFlagRgb;
    format.rgbBitCount = 16;
    format.redMask = platform::kRgb565RedMask;
    format.greenMask = platform::kRgb565GreenMask;
    format.blueMask = platform::kRgb565BlueMask;
    ASSERT_EQ(display->CreatePictureSurface(4, 2, format, &picture), 0);
    ASSERT_EQ(picture->ColorFill(platform::RgbToRgb565(0, 0, 255)), 0);
    int x = 0, y = 0;
    SDL_GetWindowPosition(window, &x, &y);
    ASSERT_EQ(primary->Blit({x + 10, y + 20, x + 30, y + 40}, picture), 0);
    EXPECT_EQ(Pixel(10, 20), 0x0000FFu);
    EXPECT_EQ(Pixel(29, 39), 0x0000FFu);
    EXPECT_EQ(Pixel(30, 40), 0u);
    picture->Release();
    primary->Release();
    display->Release();
}

} // namespace
} // namespace orvo::media
