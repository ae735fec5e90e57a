// A visible window with a black client area of a given size, and reading its pixels back from the
// screen, for the DirectDraw tests. Blits reach the X server's screen a little after they are made,
// so DrawUntil draws in rounds and reads the probes after each, until they match or rounds run out.
// The two probe sets of one test put their colours in different places, so a match cannot come
// from an earlier picture.
#ifndef ORVO_TESTS_WINDOWS_TEST_WINDOW_H
#define ORVO_TESTS_WINDOWS_TEST_WINDOW_H

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace orvo_test {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 300;
constexpr int kMaxDrawRounds = 100;
constexpr DWORD kRoundMilliseconds = 50;

struct Probe {
    int clientX;
    int clientY;
    COLORREF expected;
};

inline bool Near(COLORREF actual, COLORREF expected, int tolerance)
{
    return std::abs(GetRValue(actual) - GetRValue(expected)) <= tolerance &&
           std::abs(GetGValue(actual) - GetGValue(expected)) <= tolerance &&
           std::abs(GetBValue(actual) - GetBValue(expected)) <= tolerance;
}

// True when the test may go on; without a display the window cannot be created, which skips the
// test, or fails it when ORVO_REQUIRE_DISPLAY is set (the windows test stage starts Xvfb).
#define ORVO_REQUIRE_WINDOW(window)                                                                \
    do {                                                                                           \
        if (!(window).Handle()) {                                                                  \
            if (std::getenv("ORVO_REQUIRE_DISPLAY"))                                               \
                FAIL() << "no window could be created (no display?)";                             \
            GTEST_SKIP() << "no display";                                                          \
        }                                                                                          \
    } while (0)

class TestWindow {
public:
    TestWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = L"OrvoDirectDrawTest";
        RegisterClassW(&windowClass);
        RECT frame{0, 0, kClientWidth, kClientHeight};
        const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        AdjustWindowRect(&frame, style, FALSE);
        m_window = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"OrvoAudio test", style,
                                   40, 40, frame.right - frame.left, frame.bottom - frame.top,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
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
    TestWindow(const TestWindow &) = delete;
    TestWindow &operator=(const TestWindow &) = delete;

    HWND Handle() const { return m_window; }

    static void PumpMessages()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    // Calls `draw` round after round until every probe reads back within `tolerance`; reports the
    // probes that do not.
    void DrawUntil(const std::function<void()> &draw, const std::vector<Probe> &probes,
                   int tolerance, const char *what)
    {
        std::vector<COLORREF> seen(probes.size());
        for (int round = 0; round < kMaxDrawRounds; ++round) {
            draw();
            PumpMessages();
            Sleep(kRoundMilliseconds);
            bool all = true;
            HDC screen = GetDC(nullptr);
            for (size_t i = 0; i < probes.size(); ++i) {
                POINT point{probes[i].clientX, probes[i].clientY};
                ClientToScreen(m_window, &point);
                seen[i] = GetPixel(screen, point.x, point.y);
                all = all && Near(seen[i], probes[i].expected, tolerance);
            }
            ReleaseDC(nullptr, screen);
            if (all)
                return;
        }
        for (size_t i = 0; i < probes.size(); ++i) {
            EXPECT_TRUE(Near(seen[i], probes[i].expected, tolerance))
                << what << " at client (" << probes[i].clientX << ", " << probes[i].clientY
                << "): got 0x" << std::hex << seen[i] << ", expected 0x" << probes[i].expected;
        }
    }

private:
    HWND m_window = nullptr;
};

} // namespace orvo_test

#endif // ORVO_TESTS_WINDOWS_TEST_WINDOW_H
