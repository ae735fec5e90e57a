#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/HI_DIRECTX_Draw.h"
#include "platform/display/pixel_colour.h"
#include "platform/virtual/display_virtual.h"

namespace orvo::media {
namespace {

using platform::DisplayRect;
using platform::DisplayStep;
using platform::VirtualDisplayDriver;
using Calls = std::vector<std::string>;

// The default virtual client area: 400 x 300 at (100, 98) on the screen.
constexpr int32_t kClientLeft = 100;
constexpr int32_t kClientTop = 98;

// A planar picture whose left half and right half have different colours.
struct PlanarPicture {
    static constexpr uint8_t kLeft[3] = {81, 90, 240};  // Y, U, V: a red
    static constexpr uint8_t kRight[3] = {145, 54, 34}; // a green
    uint32_t width, height;
    std::vector<uint8_t> luma, u, v;

    PlanarPicture(uint32_t w, uint32_t h) : width(w), height(h), luma(w * h), u(w * h / 4), v(w * h / 4)
    {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                luma[y * w + x] = x < w / 2 ? kLeft[0] : kRight[0];
            }
        }
        for (uint32_t y = 0; y < h / 2; ++y) {
            for (uint32_t x = 0; x < w / 2; ++x) {
                const bool left = x < w / 4;
                u[y * (w / 2) + x] = left ? kLeft[1] : kRight[1];
                v[y * (w / 2) + x] = left ? kLeft[2] : kRight[2];
            }
        }
    }
    uint32_t ExpectedRgb(uint32_t x) const
    {
        const uint8_t *c = x < width / 2 ? kLeft : kRight;
        return platform::YuvToRgb(c[0], c[1], c[2]);
    }
};

class DirectXDrawTest : public testing::Test {
protected:
    int windowToken = 0;
    platform::WindowHandle window = &windowToken;
    VirtualDisplayDriver driver;
    CDirectXDraw draw{driver};

    void InitOrFail(uint32_t width, uint32_t height, int32_t expectedKind = DRAW_FORMAT_UYVY)
    {
        int32_t kind = -7;
        ASSERT_EQ(draw.Init(window, width, height, &kind), 0);
        ASSERT_EQ(kind, expectedKind);
        driver.ClearCalls();
    }
    int32_t Show(const PlanarPicture &picture, int32_t stretch)
    {
        return draw.ShowPicture(picture.luma.data(), picture.u.data(), picture.v.data(), stretch);
    }
    size_t PrimaryFills() const { return driver.CountCalls("Primary.ColorFill(0)"); }
};

TEST_F(DirectXDrawTest, InitBuildsEverythingInOrder)
{
    int32_t kind = 0;
    ASSERT_EQ(draw.Init(window, 352, 288, &kind), 0);
    EXPECT_EQ(kind, DRAW_FORMAT_UYVY);
    const Calls expected = {
        "CreateDisplay",
        "Display.SetCooperativeLevel(window,8)",
        "Display.GetCaps",
        "Display.CreatePrimarySurface",
        "Display.CreatePictureSurface(352x288,UYVY)",
        "Display.CreateClipper",
        "Clipper.SetWindow",
        "Primary.SetClipper",
        "Clipper.Release",
        "Picture.ColorFill(0)",
        "GetWindowRect",
    };
    EXPECT_EQ(driver.Calls(), expected);
    const DisplayRect &dest = draw.GetDestRect();
    EXPECT_EQ(dest.left, 96);
    EXPECT_EQ(dest.bottom, 402);
    EXPECT_EQ(driver.LiveObjects(), 4) << "display object, two surfaces, clipper kept by the primary";
}

TEST_F(DirectXDrawTest, KindFollowsTheDriverCapabilities)
{
    struct Case {
        uint32_t caps;
        int32_t result, kind;
        const char *surface;
    } cases[] = {
        {platform::kDisplayCapsBltFourcc | platform::kDisplayCapsBlt, 0, DRAW_FORMAT_UYVY, "UYVY"},
        {platform::kDisplayCapsBltFourcc, 0, DRAW_FORMAT_UYVY, "UYVY"},
        {platform::kDisplayCapsBlt, 0, DRAW_FORMAT_RGB565, "RGB565"},
        {0, kDrawNoBlitter, DRAW_FORMAT_NONE, nullptr},
    };
    for (const Case &c : cases) {
        driver.SetCaps(c.caps);
        driver.ClearCalls();
        int32_t kind = -7;
        EXPECT_EQ(draw.Init(window, 32, 16, &kind), c.result) << "caps " << c.caps;
        EXPECT_EQ(kind, c.kind) << "caps " << c.caps;
        const std::string created = std::string("Display.CreatePictureSurface(32x16,") +
                                    (c.surface ? c.surface : "") + ")";
        EXPECT_EQ(driver.CountCalls(created), c.surface ? 1u : 0u) << created;
    }
    EXPECT_EQ(driver.LiveObjects(), 0) << "the failing Init gave back what it had";
}

TEST_F(DirectXDrawTest, EachFailingStepHasItsCodeAndLeaksNothing)
{
    struct Case {
        DisplayStep step;
        int32_t code, kind;
    } cases[] = {
        {DisplayStep::kCreateDisplay, kDrawCreateFailed, DRAW_FORMAT_NONE},
        {DisplayStep::kCooperativeLevel, kDrawCooperationFailed, DRAW_FORMAT_NONE},
        {DisplayStep::kGetCaps, kDrawCapsFailed, DRAW_FORMAT_NONE},
        {DisplayStep::kCreatePrimary, kDrawPrimaryFailed, DRAW_FORMAT_UYVY},
        {DisplayStep::kCreatePicture, kDrawPictureSurfaceFailed, DRAW_FORMAT_UYVY},
        {DisplayStep::kCreateClipper, kDrawCooperationFailed, DRAW_FORMAT_UYVY},
        {DisplayStep::kClipperSetWindow, kDrawPrimaryFailed, DRAW_FORMAT_UYVY},
        {DisplayStep::kSetClipper, kDrawPictureSurfaceFailed, DRAW_FORMAT_UYVY},
    };
    PlanarPicture picture(32, 16);
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step));
        driver.ClearFailures();
        ASSERT_EQ(draw.Init(window, 32, 16, nullptr), 0) << "a working Init first";
        driver.FailAt(c.step);
        for (int attempt = 0; attempt < 3; ++attempt) {
            int32_t kind = -7;
            EXPECT_EQ(draw.Init(window, 32, 16, &kind), c.code);
            EXPECT_EQ(kind, c.kind);
            EXPECT_EQ(driver.LiveObjects(), 0);
        }
        driver.ClearCalls();
        EXPECT_EQ(Show(picture, 0), kDrawLockFailed) << "nothing to draw on";
        EXPECT_TRUE(driver.Calls().empty());
    }
}

TEST_F(DirectXDrawTest, OddOrEmptySizesFailAtThePictureSurface)
{
    const uint32_t sizes[][2] = {{351, 288}, {352, 287}, {1, 1}, {0, 16}, {16, 0}};
    for (const auto &size : sizes) {
        int32_t kind = -7;
        EXPECT_EQ(draw.Init(window, size[0], size[1], &kind), kDrawPictureSurfaceFailed)
            << size[0] << "x" << size[1];
        EXPECT_EQ(kind, DRAW_FORMAT_UYVY);
        EXPECT_EQ(driver.LiveObjects(), 0);
    }
}

TEST_F(DirectXDrawTest, ShowPictureWithoutInitTouchesNothing)
{
    PlanarPicture picture(32, 16);
    EXPECT_EQ(Show(picture, 1), kDrawLockFailed);
    EXPECT_EQ(draw.GetStretchMode(), 0);
    EXPECT_TRUE(driver.Calls().empty());

    InitOrFail(32, 16);
    draw.Uninit();
    driver.ClearCalls();
    EXPECT_EQ(Show(picture, 1), kDrawLockFailed);
    EXPECT_TRUE(driver.Calls().empty());
    EXPECT_EQ(draw.ShowPicture(nullptr, nullptr, nullptr, 0), kDrawLockFailed);
}

TEST_F(DirectXDrawTest, UninitReleasesInOrderOnce)
{
    InitOrFail(32, 16);
    draw.Uninit();
    const Calls expected = {"Picture.Release", "Primary.Release", "Clipper.Release",
                            "Display.SetCooperativeLevel(null,8)", "Display.Release"};
    EXPECT_EQ(driver.Calls(), expected);
    EXPECT_EQ(driver.LiveObjects(), 0);
    driver.ClearCalls();
    draw.Uninit();
    EXPECT_TRUE(driver.Calls().empty());
}

TEST_F(DirectXDrawTest, CentringUsesHalfTheDifferenceTruncated)
{
    struct Case {
        int32_t clientWidth, clientHeight;
        uint32_t width, height;
        int32_t offsetX, offsetY;
    } cases[] = {
        {400, 300, 352, 288, 24, 6},    {640, 480, 704, 576, -32, -48},
        {353, 289, 352, 288, 0, 0},     {351, 287, 352, 288, 0, 0},
        {353, 287, 356, 290, -1, -1},   {400, 300, 400, 300, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.clientWidth
                                        << "x" << c.clientHeight);
        driver.SetClientArea({kClientLeft, kClientTop, kClientLeft + c.clientWidth,
                              kClientTop + c.clientHeight});
        InitOrFail(c.width, c.height);
        PlanarPicture picture(c.width, c.height);
        ASSERT_EQ(Show(picture, 0), 0);
        const DisplayRect &dest = draw.GetDestRect();
        EXPECT_EQ(dest.left, kClientLeft + c.offsetX);
        EXPECT_EQ(dest.top, kClientTop + c.offsetY);
        EXPECT_EQ(dest.right - dest.left, static_cast<int32_t>(c.width));
        EXPECT_EQ(dest.bottom - dest.top, static_cast<int32_t>(c.height));
        const std::string blit = "Primary.Blit(" + std::to_string(dest.left) + "," +
                                 std::to_string(dest.top) + "," + std::to_string(dest.right) + "," +
                                 std::to_string(dest.bottom) + ")";
        EXPECT_EQ(driver.CountCalls(blit), 1u) << blit;
    }
}

TEST_F(DirectXDrawTest, StretchChangesClearTheScreenOnceEachWay)
{
    InitOrFail(32, 16);
    PlanarPicture picture(32, 16);
    const struct {
        int32_t stretch;
        size_t fills;
    } steps[] = {{0, 0}, {1, 1}, {1, 0}, {1, 0}, {0, 1}, {0, 0}, {5, 1}};
    for (const auto &step : steps) {
        driver.ClearCalls();
        ASSERT_EQ(Show(picture, step.stretch), 0);
        EXPECT_EQ(PrimaryFills(), step.fills) << "stretch " << step.stretch;
        EXPECT_EQ(draw.GetStretchMode(), step.stretch);
        if (step.fills == 1) {
            const Calls &calls = driver.Calls();
            EXPECT_EQ(calls[calls.size() - 2], "Primary.ColorFill(0)") << "fill before the blit";
        }
    }
    const DisplayRect &dest = draw.GetDestRect();
    EXPECT_EQ(dest.left, kClientLeft);
    EXPECT_EQ(dest.top, kClientTop);
    EXPECT_EQ(dest.right, kClientLeft + 400) << "scaled to the whole client area";
    EXPECT_EQ(dest.bottom, kClientTop + 300);
}

TEST_F(DirectXDrawTest, ShowPictureSteps)
{
    InitOrFail(32, 16);
    PlanarPicture picture(32, 16);
    ASSERT_EQ(Show(picture, 0), 0);
    const Calls expected = {"Picture.Lock", "Picture.Unlock", "GetClientRect", "ClientToScreen",
                            "ClientToScreen", "Primary.Blit(284,240,316,256)"};
    EXPECT_EQ(driver.Calls(), expected);
}

TEST_F(DirectXDrawTest, LostBlitRestoresBothSurfacesWithoutBlittingAgain)
{
    InitOrFail(32, 16);
    PlanarPicture picture(32, 16);
    driver.LoseSurfacesOnNextBlit();
    EXPECT_EQ(Show(picture, 0), 0);
    const Calls &calls = driver.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3], "Primary.Blit(284,240,316,256)");
    EXPECT_EQ(calls[calls.size() - 2], "Primary.Restore");
    EXPECT_EQ(calls[calls.size() - 1], "Picture.Restore");
    EXPECT_EQ(driver.CountCalls("Primary.Blit(284,240,316,256)"), 1u);

    driver.ClearCalls();
    EXPECT_EQ(Show(picture, 0), 0);
    EXPECT_EQ(driver.Calls().back(), "Primary.Blit(284,240,316,256)");
    EXPECT_EQ(driver.ClientPixel(200, 150), picture.ExpectedRgb(16)) << "drawn after the restore";
}

TEST_F(DirectXDrawTest, FailedLockReturnsMinusThreeAndChangesNothingElse)
{
    InitOrFail(32, 16);
    PlanarPicture picture(32, 16);
    ASSERT_EQ(Show(picture, 1), 0);
    const DisplayRect before = draw.GetDestRect();
    driver.FailAt(DisplayStep::kLock);
    driver.ClearCalls();
    EXPECT_EQ(Show(picture, 0), kDrawLockFailed);
    EXPECT_EQ(driver.Calls(), (Calls{"Picture.Lock", "Picture.Restore"}));
    EXPECT_EQ(draw.GetStretchMode(), 1);
    const DisplayRect &after = draw.GetDestRect();
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
}

TEST_F(DirectXDrawTest, FailedBlitStillReturnsZero)
{
    InitOrFail(32, 16);
    PlanarPicture picture(32, 16);
    driver.FailAt(DisplayStep::kBlit);
    EXPECT_EQ(Show(picture, 0), 0);
    EXPECT_EQ(driver.CountCalls("Primary.Restore"), 0u);
}

TEST_F(DirectXDrawTest, CentredPictureReachesTheScreen)
{
    InitOrFail(32, 16);
    driver.FillScreen(0x123456);
    PlanarPicture picture(32, 16);
    ASSERT_EQ(Show(picture, 0), 0);
    // 32 x 16 centred in 400 x 300: from (184, 142).
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 32; ++x) {
            ASSERT_EQ(driver.ClientPixel(184 + x, 142 + y), picture.ExpectedRgb(x)) << x << "," << y;
        }
    }
    EXPECT_EQ(driver.ClientPixel(183, 142), 0x123456u) << "the first stretch-0 picture clears nothing";
    EXPECT_EQ(driver.ClientPixel(216, 157), 0x123456u);

    ASSERT_EQ(Show(picture, 1), 0);
    EXPECT_EQ(driver.ClientPixel(0, 0), picture.ExpectedRgb(0)) << "scaled to the client area";
    EXPECT_EQ(driver.ClientPixel(199, 299), picture.ExpectedRgb(15));
    EXPECT_EQ(driver.ClientPixel(200, 0), picture.ExpectedRgb(16));
    EXPECT_EQ(driver.ClientPixel(399, 299), picture.ExpectedRgb(31));
    EXPECT_EQ(driver.ScreenPixel(kClientLeft - 1, kClientTop), 0x123456u) << "clipped to the window";

    ASSERT_EQ(Show(picture, 0), 0);
    EXPECT_EQ(driver.ClientPixel(0, 0), 0u) << "back to stretch 0 cleared the client area";
    EXPECT_EQ(driver.ClientPixel(184, 142), picture.ExpectedRgb(0));
    EXPECT_EQ(driver.ScreenPixel(kClientLeft - 1, kClientTop), 0x123456u) << "fill clipped too";
}

TEST_F(DirectXDrawTest, LargePictureIsClippedToTheClientArea)
{
    driver.SetClientArea({kClientLeft, kClientTop, kClientLeft + 640, kClientTop + 480});
    InitOrFail(704, 576);
    PlanarPicture picture(704, 576);
    driver.FillScreen(0x123456);
    ASSERT_EQ(Show(picture, 0), 0);
    EXPECT_EQ(driver.ClientPixel(0, 0), picture.ExpectedRgb(32));
    EXPECT_EQ(driver.ClientPixel(639, 479), picture.ExpectedRgb(671));
    EXPECT_EQ(driver.ScreenPixel(kClientLeft - 1, kClientTop - 1), 0x123456u);
    EXPECT_EQ(driver.ScreenPixel(kClientLeft + 640, kClientTop + 480), 0x123456u);
}

TEST_F(DirectXDrawTest, PackedRgb565PicturesAreCopiedRowByRow)
{
    driver.SetCaps(platform::kDisplayCapsBlt);
    InitOrFail(8, 4, DRAW_FORMAT_RGB565);
    std::vector<uint16_t> pixels(8 * 4);
    for (uint32_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = platform::RgbToRgb565(static_cast<uint8_t>(i * 8), static_cast<uint8_t>(255 - i * 4),
                                          static_cast<uint8_t>(i * 3));
    }
    ASSERT_EQ(draw.ShowPicture(reinterpret_cast<const uint8_t *>(pixels.data()), nullptr, nullptr, 0), 0);
    // 8 x 4 centred in 400 x 300: from (196, 148).
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(driver.ClientPixel(196 + x, 148 + y), platform::Rgb565ToRgb(pixels[y * 8 + x]));
        }
    }
}

TEST_F(DirectXDrawTest, MissingChromaPlaneSelectsTheRowCopy)
{
    InitOrFail(4, 2);
    // Already packed UYVY: two pixel pairs per row.
    const uint8_t packed[16] = {90, 81, 240, 81, 54, 145, 34, 145, 128, 16, 128, 235, 128, 235, 128, 16};
    const uint8_t v[4] = {0, 0, 0, 0};
    ASSERT_EQ(draw.ShowPicture(packed, nullptr, v, 0), 0);
    // 4 x 2 centred in 400 x 300: from (198, 149).
    EXPECT_EQ(driver.ClientPixel(198, 149), platform::YuvToRgb(81, 90, 240));
    EXPECT_EQ(driver.ClientPixel(200, 149), platform::YuvToRgb(145, 54, 34));
    EXPECT_EQ(driver.ClientPixel(198, 150), 0u);
    EXPECT_EQ(driver.ClientPixel(199, 150), 0xFFFFFFu);
}

TEST(DirectXDrawDefault, UsesThePlatformDriver)
{
    int token = 0;
    platform::VirtualDisplayDriver &driver = platform::DefaultVirtualDisplayDriver();
    CDirectXDraw draw;
    int32_t kind = 0;
    EXPECT_EQ(draw.Init(&token, 16, 16, &kind), 0);
    EXPECT_EQ(kind, DRAW_FORMAT_UYVY);
    draw.Uninit();
    EXPECT_EQ(driver.LiveObjects(), 0);
}

} // namespace
} // namespace orvo::media
