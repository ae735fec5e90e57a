// The display driver of hosts without a built-in display: creating a display object fails, so a
// renderer's Init reports that it could not reach the display. Hosts with a window system pass a
// driver of their own (for example the SDL2 back end) to the renderer.
#include "platform/display/display.h"

namespace orvo::platform {
namespace {

class NoDisplayDriver final : public DisplayDriver {
public:
    DisplayResult CreateDisplay(Display **display) override
    {
        if (display) {
            *display = nullptr;
        }
        return kDisplayUnsupported;
    }
    bool GetWindowRect(WindowHandle, DisplayRect *) override { return false; }
    bool GetClientRect(WindowHandle, DisplayRect *) override { return false; }
    bool ClientToScreen(WindowHandle, DisplayPoint *) override { return false; }
};

} // namespace

DisplayDriver &DefaultDisplayDriver()
{
    static NoDisplayDriver driver;
    return driver;
}

} // namespace orvo::platform
