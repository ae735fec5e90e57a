// The virtual display back end: software surfaces in memory, a screen that tests read back, one
// window with a configurable place, configurable capabilities, a failure injectable at every
// step, and a log of every call in order.
#ifndef ORVO_PLATFORM_VIRTUAL_DISPLAY_VIRTUAL_H
#define ORVO_PLATFORM_VIRTUAL_DISPLAY_VIRTUAL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/display/display.h"

namespace orvo::platform {

// The steps a failure can be injected at.
enum class DisplayStep {
    kCreateDisplay,
    kCooperativeLevel,
    kGetCaps,
    kCreatePrimary,
    kCreatePicture,
    kCreateClipper,
    kClipperSetWindow,
    kSetClipper,
    kLock,
    kUnlock,
    kBlit,
    kColorFill,
    kRestore,
    kWindowRect,
    kClientRect,
    kClientToScreen,
    kCount
};

struct VirtualDisplayConfig {
    uint32_t caps = kDisplayCapsBlt | kDisplayCapsBltFourcc;
    uint32_t screenWidth = 1280;
    uint32_t screenHeight = 1024;
    // The window and its client area, in screen coordinates. The default client area is 400 x 300.
    DisplayRect windowRect{96, 72, 508, 402};
    DisplayRect clientArea{100, 98, 500, 398};
    // Largest picture surface side the device accepts.
    uint32_t maxSurfaceSide = 8192;
};

struct VirtualDisplayState;

class VirtualDisplayDriver final : public DisplayDriver {
public:
    explicit VirtualDisplayDriver(const VirtualDisplayConfig &config = VirtualDisplayConfig());
    ~VirtualDisplayDriver();
    VirtualDisplayDriver(const VirtualDisplayDriver &) = delete;
    VirtualDisplayDriver &operator=(const VirtualDisplayDriver &) = delete;

    DisplayResult CreateDisplay(Display **display) override;
    bool GetWindowRect(WindowHandle window, DisplayRect *rect) override;
    bool GetClientRect(WindowHandle window, DisplayRect *rect) override;
    bool ClientToScreen(WindowHandle window, DisplayPoint *point) override;

    void SetCaps(uint32_t caps);
    // Moves or resizes the window's client area (screen coordinates).
    void SetClientArea(const DisplayRect &clientArea);
    // Every later call of `step` fails with `result` until ClearFailures.
    void FailAt(DisplayStep step, DisplayResult result = kDisplayFailed);
    void ClearFailures();
    // The next blit takes every surface's memory away and reports kDisplaySurfaceLost.
    void LoseSurfacesOnNextBlit();

    // Every call so far, e.g. "Picture.Lock", "Primary.Blit(124,104,476,392)".
    const std::vector<std::string> &Calls() const;
    void ClearCalls();
    size_t CountCalls(const std::string &call) const;
    // Display objects, surfaces and clippers not yet given back.
    int LiveObjects() const;

    // The screen, 0x00RRGGBB per pixel; ScreenPixel of a point off the screen is 0.
    uint32_t ScreenPixel(int32_t x, int32_t y) const;
    // A pixel of the client area, in client coordinates.
    uint32_t ClientPixel(int32_t x, int32_t y) const;
    void FillScreen(uint32_t rgb);

private:
    std::shared_ptr<VirtualDisplayState> state_;
};

// The driver that DefaultDisplayDriver() gives in the test library.
VirtualDisplayDriver &DefaultVirtualDisplayDriver();

} // namespace orvo::platform

#endif // ORVO_PLATFORM_VIRTUAL_DISPLAY_VIRTUAL_H
