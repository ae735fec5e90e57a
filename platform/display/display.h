// The display layer under the picture renderer: the few operations it needs from a windowing
// system's 2D blitter, shaped after a DirectDraw 7 device so a Windows back end maps one to one.
//
//   DisplayDriver   the back end: creates display objects and answers the window geometry calls
//   Display         one display object bound to a window (cooperative level, caps, surfaces)
//   DisplaySurface  the primary surface (the screen, clipped to the window) or a picture surface
//   DisplayClipper  limits blits and fills on the primary surface to a window's client area
//
// Objects are reference counted like COM interfaces: every Create* hands out one reference that
// the caller gives back with Release(); SetClipper() takes its own reference to the clipper.
// Results are 32-bit statuses, negative for failure, with the platform's values where it has them.
//
// Back ends: platform/virtual (in-memory, for tests), platform/sdl (an SDL2 window), and on hosts
// without a built-in display a driver whose CreateDisplay always fails.
#ifndef ORVO_PLATFORM_DISPLAY_DISPLAY_H
#define ORVO_PLATFORM_DISPLAY_DISPLAY_H

#include <cstdint>

namespace orvo::platform {

using DisplayResult = int32_t;

constexpr DisplayResult kDisplayOk = 0;
// A surface's memory was taken away (mode switch, device reset); Restore() brings it back.
constexpr DisplayResult kDisplaySurfaceLost = static_cast<int32_t>(0x887601C2u);
constexpr DisplayResult kDisplayFailed = static_cast<int32_t>(0x80004005u);
constexpr DisplayResult kDisplayInvalidArgs = static_cast<int32_t>(0x80070057u);
constexpr DisplayResult kDisplayUnsupported = static_cast<int32_t>(0x80004001u);

inline bool DisplaySucceeded(DisplayResult result) { return result >= 0; }

// The host's window: an HWND on Windows, an SDL_Window* on the SDL back end, any non-null token
// on the virtual back end.
using WindowHandle = void *;

// Same layout as the platform's RECT: left, top, right, bottom.
struct DisplayRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct DisplayPoint {
    int32_t x;
    int32_t y;
};

// Driver capability bits (the dwCaps word of the device's capabilities).
constexpr uint32_t kDisplayCapsBlt = 0x40;        // blits between plain surfaces, scaled
constexpr uint32_t kDisplayCapsBltFourcc = 0x100; // blits from FOURCC surfaces, colour converted

// Cooperative level: windowed use beside the desktop.
constexpr uint32_t kDisplayCooperativeNormal = 8;

// Pixel format of a picture surface, as the device describes formats.
constexpr uint32_t kPixelFormatFlagFourcc = 0x4;
constexpr uint32_t kPixelFormatFlagRgb = 0x40;
constexpr uint32_t kPixelFormatDescriptionSize = 32;

constexpr uint32_t MakeFourcc(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t kFourccUyvy = MakeFourcc('U', 'Y', 'V', 'Y');
static_assert(kFourccUyvy == 0x59565955u, "UYVY code bytes");

constexpr uint32_t kRgb565RedMask = 0xF800;
constexpr uint32_t kRgb565GreenMask = 0x07E0;
constexpr uint32_t kRgb565BlueMask = 0x001F;
constexpr uint32_t kRgb565BitCount = 16;

struct PixelFormat {
    uint32_t size = kPixelFormatDescriptionSize;
    uint32_t flags = 0;
    uint32_t fourcc = 0;
    uint32_t rgbBitCount = 0;
    uint32_t redMask = 0;
    uint32_t greenMask = 0;
    uint32_t blueMask = 0;
    uint32_t alphaMask = 0;
};

inline bool IsUyvyFormat(const PixelFormat &format)
{
    return format.flags == kPixelFormatFlagFourcc && format.fourcc == kFourccUyvy;
}
inline bool IsRgb565Format(const PixelFormat &format)
{
    return format.flags == kPixelFormatFlagRgb && format.rgbBitCount == kRgb565BitCount &&
           format.redMask == kRgb565RedMask && format.greenMask == kRgb565GreenMask &&
           format.blueMask == kRgb565BlueMask && format.alphaMask == 0;
}

// What a lock hands out: the whole surface, rows `pitch` bytes apart.
struct LockedSurface {
    uint8_t *bits = nullptr;
    int32_t pitch = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

class DisplayObject {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~DisplayObject() = default;
};

class DisplayClipper : public DisplayObject {
public:
    // Clip to the client area of `window`.
    virtual DisplayResult SetWindow(WindowHandle window) = 0;
};

class DisplaySurface : public DisplayObject {
public:
    virtual DisplayResult Lock(LockedSurface *locked) = 0;
    virtual DisplayResult Unlock() = 0;
    // Copies the whole of `source` into `dest` (screen coordinates on the primary surface),
    // scaled, converting FOURCC pixels to the destination's colours. Waits while the blitter is busy.
    virtual DisplayResult Blit(const DisplayRect &dest, DisplaySurface *source) = 0;
    // Fills the whole surface (on the primary surface: what its clipper lets through).
    virtual DisplayResult ColorFill(uint32_t color) = 0;
    virtual DisplayResult Restore() = 0;
    // Primary surface only; takes a reference to the clipper.
    virtual DisplayResult SetClipper(DisplayClipper *clipper) = 0;
};

class Display : public DisplayObject {
public:
    virtual DisplayResult SetCooperativeLevel(WindowHandle window, uint32_t flags) = 0;
    // The driver's capability bits (kDisplayCaps*).
    virtual DisplayResult GetCaps(uint32_t *caps) = 0;
    virtual DisplayResult CreatePrimarySurface(DisplaySurface **surface) = 0;
    // An off-screen picture surface in video memory.
    virtual DisplayResult CreatePictureSurface(uint32_t width, uint32_t height,
                                               const PixelFormat &format,
                                               DisplaySurface **surface) = 0;
    virtual DisplayResult CreateClipper(DisplayClipper **clipper) = 0;
};

class DisplayDriver {
public:
    // Creates a display object on the active display device.
    virtual DisplayResult CreateDisplay(Display **display) = 0;
    // Window geometry, in screen coordinates except the client rectangle (origin 0, 0).
    virtual bool GetWindowRect(WindowHandle window, DisplayRect *rect) = 0;
    virtual bool GetClientRect(WindowHandle window, DisplayRect *rect) = 0;
    virtual bool ClientToScreen(WindowHandle window, DisplayPoint *point) = 0;

protected:
    ~DisplayDriver() = default;
};

// The platform's own display driver, chosen when the library is linked: the virtual back end in
// the test library, DirectDraw on Windows, and elsewhere a driver that has no display.
DisplayDriver &DefaultDisplayDriver();

} // namespace orvo::platform

#endif // ORVO_PLATFORM_DISPLAY_DISPLAY_H
