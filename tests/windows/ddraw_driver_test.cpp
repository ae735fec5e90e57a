// The DirectDraw display driver below the renderer, on its own: window geometry as USER32 gives it,
// and a UYVY (FOURCC) picture surface uploaded and blitted scaled, the path that display hardware
// with FOURCC blits takes (wine reports no such capability, so the renderer itself never picks it
// there, yet the surface works).
#include "test_window.h"

#include <cstdint>
#include <cstring>

#include "platform/display/display.h"

namespace {

namespace platform = orvo::platform;
using orvo_test::kClientHeight;
using orvo_test::kClientWidth;
using orvo_test::TestWindow;

constexpr uint32_t kPictureWidth = 32;
constexpr uint32_t kPictureHeight = 16;
constexpr uint8_t kChromaZero = 128;
constexpr uint8_t kLightLuma = 180; // 191 grey with studio-range conversion, 180 with full range
constexpr uint8_t kDarkLuma = 60;   // 51 or 60
const COLORREF kLight = RGB(186, 186, 186);
const COLORREF kDark = RGB(56, 56, 56);
constexpr int kGreyTolerance = 12; // covers both conversions
constexpr int kBytesPerPixelPair = 4;

TEST(DirectDrawDriver, WindowGeometryIsUser32s)
{
    TestWindow window;
    ORVO_REQUIRE_WINDOW(window);
    platform::DisplayDriver &driver = platform::DefaultDisplayDriver();
    platform::DisplayRect rect{};
    RECT expected;
    ASSERT_TRUE(driver.GetWindowRect(window.Handle(), &rect));
    ASSERT_TRUE(GetWindowRect(window.Handle(), &expected));
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.bottom, expected.bottom);
    ASSERT_TRUE(driver.GetClientRect(window.Handle(), &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, kClientWidth);
    EXPECT_EQ(rect.bottom, kClientHeight);
    platform::DisplayPoint point{rect.right, rect.bottom};
    POINT system{rect.right, rect.bottom};
    ASSERT_TRUE(driver.ClientToScreen(window.Handle(), &point));
    ASSERT_TRUE(ClientToScreen(window.Handle(), &system));
    EXPECT_EQ(point.x, system.x);
    EXPECT_EQ(point.y, system.y);
    EXPECT_FALSE(driver.GetClientRect(nullptr, &rect));
}

TEST(DirectDrawDriver, UyvySurfaceIsUploadedAndBlittedScaled)
{
    TestWindow window;
    ORVO_REQUIRE_WINDOW(window);
    platform::DisplayDriver &driver = platform::DefaultDisplayDriver();
    platform::Display *display = nullptr;
    ASSERT_EQ(driver.CreateDisplay(&display), platform::kDisplayOk);
    ASSERT_EQ(display->SetCooperativeLevel(window.Handle(), platform::kDisplayCooperativeNormal), 0);
    uint32_t caps = 0;
    ASSERT_EQ(display->GetCaps(&caps), 0);
    EXPECT_NE(caps & platform::kDisplayCapsBlt, 0u);

    platform::DisplaySurface *primary = nullptr;
    platform::DisplaySurface *picture = nullptr;
    platform::DisplayClipper *clipper = nullptr;
    ASSERT_EQ(display->CreatePrimarySurface(&primary), 0);
    ASSERT_EQ(display->CreateClipper(&clipper), 0);
    ASSERT_EQ(clipper->SetWindow(window.Handle()), 0);
    ASSERT_EQ(primary->SetClipper(clipper), 0);
    clipper->Release(); // the primary surface keeps it
    platform::PixelFormat uyvy;
    uyvy.flags = platform::kPixelFormatFlagFourcc;
    uyvy.fourcc = platform::kFourccUyvy;
    ASSERT_EQ(display->CreatePictureSurface(kPictureWidth, kPictureHeight, uyvy, &picture), 0);

    // Left half light grey, right half dark grey.
    platform::LockedSurface locked;
    ASSERT_EQ(picture->Lock(&locked), 0);
    ASSERT_NE(locked.bits, nullptr);
    EXPECT_EQ(locked.width, kPictureWidth);
    EXPECT_EQ(locked.height, kPictureHeight);
    ASSERT_GE(locked.pitch, static_cast<int32_t>(kPictureWidth * 2));
    for (uint32_t y = 0; y < kPictureHeight; ++y) {
        uint8_t *row = locked.bits + y * locked.pitch;
        for (uint32_t pair = 0; pair < kPictureWidth / 2; ++pair) {
            const uint8_t luma = pair < kPictureWidth / 4 ? kLightLuma : kDarkLuma;
            const uint8_t bytes[kBytesPerPixelPair] = {kChromaZero, luma, kChromaZero, luma};
            std::memcpy(row + pair * kBytesPerPixelPair, bytes, sizeof(bytes));
        }
    }
    ASSERT_EQ(picture->Unlock(), 0);

    RECT client;
    ASSERT_TRUE(GetClientRect(window.Handle(), &client));
    POINT topLeft{client.left, client.top};
    POINT bottomRight{client.right, client.bottom};
    ClientToScreen(window.Handle(), &topLeft);
    ClientToScreen(window.Handle(), &bottomRight);
    const platform::DisplayRect dest{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    window.DrawUntil([&] { EXPECT_GE(primary->Blit(dest, picture), 0); },
                     {{kClientWidth / 4, kClientHeight / 2, kLight},
                      {3 * kClientWidth / 4, kClientHeight / 2, kDark},
                      {8, 8, kLight},
                      {kClientWidth - 8, kClientHeight - 8, kDark}},
                     kGreyTolerance, "UYVY blit");

    EXPECT_EQ(picture->Restore(), 0);
    EXPECT_EQ(picture->Release(), 0u);
    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(display->Release(), 0u);
}

} // namespace
