// The picture renderer on the real DirectDraw driver: a 16-bit RGB 5-6-5 picture of four coloured
// quadrants drawn into a window, centred and then stretched, and read back from the screen with GDI.
// Needs a display (the windows test stage starts Xvfb); without one the window cannot be created and
// the test is skipped, unless ORVO_REQUIRE_DISPLAY is set, which turns that into a failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/HI_DIRECTX_Draw.h"

namespace {

using orvo::media::CDirectXDraw;

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 300;
constexpr uint32_t kPictureWidth = 64;
constexpr uint32_t kPictureHeight = 48;
// The blits reach the X server's screen a little later than they are made, so the picture is drawn
// in rounds and the pixels read after each round, until they match or the rounds run out. The
// screen starts black and the two modes put the colours in different places, so a match cannot
// come from an earlier picture.
constexpr int kMaxDrawRounds = 100;
constexpr DWORD kRoundMilliseconds = 50;
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

bool Near(COLORREF actual, COLORREF expected)
{
    return std::abs(GetRValue(actual) - GetRValue(expected)) <= kChannelTolerance &&
           std::abs(GetGValue(actual) - GetGValue(expected)) <= kChannelTolerance &&
           std::abs(GetBValue(actual) - GetBValue(expected)) <= kChannelTolerance;
}

struct Probe {
    int clientX;
    int clientY;
    COLORREF expected;
};

class TestWindow {
public:
    TestWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = L"OrvoRendererTest";
        RegisterClassW(&windowClass);
        RECT frame{0, 0, kClientWidth, kClientHeight};
        const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        AdjustWindowRect(&frame, style, FALSE);
        m_window = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"OrvoAudio renderer",
                                   style, 40, 40, frame.right - frame.left,
                                   frame.bottom - frame.top, nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
        if (m_window) {
            ShowWindow(m_window, SW_SHOW);
            UpdateWindow(m_window);
            PumpMessages();
        }
    }
    ~TestWindow()
    {
        if (m_window)
            DestroyWindow(m_window);
    }

    HWND Handle() const { return m_window; }

    static void PumpMessages()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    // Shows the picture round after round until the probes read back as expected.
    void DrawAndCheck(CDirectXDraw &draw, const std::vector<uint16_t> &picture, int32_t stretch,
                      const std::vector<Probe> &probes)
    {
        const auto *bytes = reinterpret_cast<const uint8_t *>(picture.data());
        std::vector<COLORREF> seen(probes.size());
        for (int round = 0; round < kMaxDrawRounds; ++round) {
            ASSERT_EQ(draw.ShowPicture(bytes, nullptr, nullptr, stretch), 0);
            PumpMessages();
            Sleep(kRoundMilliseconds);
            bool all = true;
            HDC screen = GetDC(nullptr);
            for (size_t i = 0; i < probes.size(); ++i) {
                POINT point{probes[i].clientX, probes[i].clientY};
                ClientToScreen(m_window, &point);
                seen[i] = GetPixel(screen, point.x, point.y);
                all = all && Near(seen[i], probes[i].expected);
            }
            ReleaseDC(nullptr, screen);
            if (all)
                return;
        }
        for (size_t i = 0; i < probes.size(); ++i) {
            EXPECT_TRUE(Near(seen[i], probes[i].expected))
                << "stretch " << stretch << " at client (" << probes[i].clientX << ", "
                << probes[i].clientY << "): got 0x" << std::hex << seen[i] << ", expected 0x"
                << probes[i].expected;
        }
    }

private:
    HWND m_window = nullptr;
};

TEST(Renderer, DrawsRgb565PictureCentredAndStretched)
{
    TestWindow window;
    if (!window.Handle()) {
        if (std::getenv("ORVO_REQUIRE_DISPLAY"))
            FAIL() << "no window could be created (no display?)";
        GTEST_SKIP() << "no display";
    }
    CDirectXDraw draw;
    int32_t kind = -1;
    ASSERT_EQ(draw.Init(window.Handle(), kPictureWidth, kPictureHeight, &kind), 0);
    if (kind != orvo::media::DRAW_FORMAT_RGB565)
        GTEST_SKIP() << "the driver blits FOURCC surfaces (kind " << kind << "); this test needs RGB565";

    const std::vector<uint16_t> picture = QuadrantPicture();
    // Centred: the picture's top left corner at half the difference of the sizes.
    const int left = (kClientWidth - static_cast<int>(kPictureWidth)) / 2;
    const int top = (kClientHeight - static_cast<int>(kPictureHeight)) / 2;
    const int quarterWidth = kPictureWidth / 4;
    const int quarterHeight = kPictureHeight / 4;
    window.DrawAndCheck(
        draw, picture, 0,
        {{left + quarterWidth, top + quarterHeight, kQuadrants[0][0].expected},
         {left + 3 * quarterWidth, top + quarterHeight, kQuadrants[0][1].expected},
         {left + quarterWidth, top + 3 * quarterHeight, kQuadrants[1][0].expected},
         {left + 3 * quarterWidth, top + 3 * quarterHeight, kQuadrants[1][1].expected},
         {left - 4, top - 4, kBlack},
         {left + static_cast<int>(kPictureWidth) + 4, top + static_cast<int>(kPictureHeight) + 4,
          kBlack}});
    EXPECT_EQ(draw.GetStretchMode(), 0);

    // Stretched: each quadrant fills a quarter of the client area.
    window.DrawAndCheck(draw, picture, 1,
                        {{kClientWidth / 4, kClientHeight / 4, kQuadrants[0][0].expected},
                         {3 * kClientWidth / 4, kClientHeight / 4, kQuadrants[0][1].expected},
                         {kClientWidth / 4, 3 * kClientHeight / 4, kQuadrants[1][0].expected},
                         {3 * kClientWidth / 4, 3 * kClientHeight / 4, kQuadrants[1][1].expected},
                         {4, 4, kQuadrants[0][0].expected},
                         {kClientWidth - 4, kClientHeight - 4, kQuadrants[1][1].expected}});
    EXPECT_EQ(draw.GetStretchMode(), 1);
    draw.Uninit();
}

} // namespace
