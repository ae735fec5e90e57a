// The display driver of Windows: DirectDraw 7 and the window geometry calls of USER32.
//
// Each display object wraps one DirectDraw interface and maps its calls one to one; results are the
// HRESULTs DirectDraw returns (DDERR_SURFACELOST is kDisplaySurfaceLost). The wrappers count their
// own references and give the interface back when the last one goes.
#include "platform/display/display.h"

#include <windows.h>
#include <ddraw.h>

#include "platform/display/ref_counted.h"

namespace orvo::platform {
namespace {

static_assert(sizeof(DisplayRect) == sizeof(RECT), "DisplayRect has the layout of RECT");
static_assert(sizeof(DisplayPoint) == sizeof(POINT), "DisplayPoint has the layout of POINT");
static_assert(kDisplaySurfaceLost == DDERR_SURFACELOST, "surface-lost status is DirectDraw's");
static_assert(kDisplayCapsBlt == DDCAPS_BLT && kDisplayCapsBltFourcc == DDCAPS_BLTFOURCC,
              "capability bits are DirectDraw's");
static_assert(kDisplayCooperativeNormal == DDSCL_NORMAL, "cooperative level is DirectDraw's");
// The capability record of DirectDraw 7, whose size the driver checks.
constexpr DWORD kCapsRecordSize = 380;
static_assert(sizeof(DDCAPS_DX7) == kCapsRecordSize, "DDCAPS of DirectDraw 7");
#if !defined(_WIN64)
// The records that carry pointers have these sizes in 32-bit processes (larger in 64-bit ones).
static_assert(sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 of DirectDraw 7");
static_assert(sizeof(DDBLTFX) == 100, "DDBLTFX of DirectDraw 7");
#endif

HWND ToWindow(WindowHandle window) { return static_cast<HWND>(window); }

DDSURFACEDESC2 EmptySurfaceDescription()
{
    DDSURFACEDESC2 description;
    ZeroMemory(&description, sizeof(description));
    description.dwSize = sizeof(description);
    return description;
}

class DDrawClipper final : public RefCounted<DisplayClipper> {
public:
    explicit DDrawClipper(IDirectDrawClipper *clipper) : m_clipper(clipper) {}
    ~DDrawClipper() override { m_clipper->Release(); }

    DisplayResult SetWindow(WindowHandle window) override
    {
        return m_clipper->SetHWnd(0, ToWindow(window));
    }

    IDirectDrawClipper *Interface() const { return m_clipper; }

private:
    IDirectDrawClipper *m_clipper;
};

class DDrawSurface final : public RefCounted<DisplaySurface> {
public:
    explicit DDrawSurface(IDirectDrawSurface7 *surface) : m_surface(surface) {}
    ~DDrawSurface() override
    {
        if (m_clipper)
            m_clipper->Release();
        m_surface->Release();
    }

    DisplayResult Lock(LockedSurface *locked) override
    {
        if (!locked)
            return kDisplayInvalidArgs;
        DDSURFACEDESC2 description = EmptySurfaceDescription();
        const HRESULT result = m_surface->Lock(nullptr, &description, DDLOCK_WAIT, nullptr);
        if (FAILED(result))
            return result;
        locked->bits = static_cast<uint8_t *>(description.lpSurface);
        locked->pitch = description.lPitch;
        locked->width = description.dwWidth;
        locked->height = description.dwHeight;
        return result;
    }

    DisplayResult Unlock() override { return m_surface->Unlock(nullptr); }

    DisplayResult Blit(const DisplayRect &dest, DisplaySurface *source) override
    {
        if (!source)
            return kDisplayInvalidArgs;
        RECT rect{dest.left, dest.top, dest.right, dest.bottom};
        // Every surface of this driver is a DDrawSurface.
        auto *from = static_cast<DDrawSurface *>(source);
        return m_surface->Blt(&rect, from->m_surface, nullptr, DDBLT_WAIT, nullptr);
    }

    DisplayResult ColorFill(uint32_t color) override
    {
        DDBLTFX effects;
        ZeroMemory(&effects, sizeof(effects));
        effects.dwSize = sizeof(effects);
        effects.dwFillColor = color;
        return m_surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &effects);
    }

    DisplayResult Restore() override { return m_surface->Restore(); }

    DisplayResult SetClipper(DisplayClipper *clipper) override
    {
        auto *ours = static_cast<DDrawClipper *>(clipper);
        const HRESULT result = m_surface->SetClipper(ours ? ours->Interface() : nullptr);
        if (FAILED(result))
            return result;
        if (ours)
            ours->AddRef();
        if (m_clipper)
            m_clipper->Release();
        m_clipper = ours;
        return result;
    }

private:
    IDirectDrawSurface7 *m_surface;
    DDrawClipper *m_clipper = nullptr;
};

class DDrawDisplay final : public RefCounted<Display> {
public:
    explicit DDrawDisplay(IDirectDraw7 *directDraw) : m_directDraw(directDraw) {}
    ~DDrawDisplay() override { m_directDraw->Release(); }

    DisplayResult SetCooperativeLevel(WindowHandle window, uint32_t flags) override
    {
        return m_directDraw->SetCooperativeLevel(ToWindow(window), flags);
    }

    DisplayResult GetCaps(uint32_t *caps) override
    {
        if (!caps)
            return kDisplayInvalidArgs;
        DDCAPS_DX7 driverCaps;
        ZeroMemory(&driverCaps, sizeof(driverCaps));
        driverCaps.dwSize = kCapsRecordSize;
        const HRESULT result =
            m_directDraw->GetCaps(reinterpret_cast<DDCAPS *>(&driverCaps), nullptr);
        if (SUCCEEDED(result))
            *caps = driverCaps.dwCaps;
        return result;
    }

    DisplayResult CreatePrimarySurface(DisplaySurface **surface) override
    {
        DDSURFACEDESC2 description = EmptySurfaceDescription();
        description.dwFlags = DDSD_CAPS;
        description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        return Create(description, surface);
    }

    DisplayResult CreatePictureSurface(uint32_t width, uint32_t height, const PixelFormat &format,
                                       DisplaySurface **surface) override
    {
        DDSURFACEDESC2 description = EmptySurfaceDescription();
        description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
        description.dwWidth = width;
        description.dwHeight = height;
        DDPIXELFORMAT &pixels = description.ddpfPixelFormat;
        pixels.dwSize = sizeof(DDPIXELFORMAT);
        pixels.dwFlags = format.flags;
        pixels.dwFourCC = format.fourcc;
        pixels.dwRGBBitCount = format.rgbBitCount;
        pixels.dwRBitMask = format.redMask;
        pixels.dwGBitMask = format.greenMask;
        pixels.dwBBitMask = format.blueMask;
        pixels.dwRGBAlphaBitMask = format.alphaMask;
        description.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
        return Create(description, surface);
    }

    DisplayResult CreateClipper(DisplayClipper **clipper) override
    {
        if (!clipper)
            return kDisplayInvalidArgs;
        *clipper = nullptr;
        IDirectDrawClipper *created = nullptr;
        const HRESULT result = m_directDraw->CreateClipper(0, &created, nullptr);
        if (SUCCEEDED(result))
            *clipper = new DDrawClipper(created);
        return result;
    }

private:
    DisplayResult Create(DDSURFACEDESC2 &description, DisplaySurface **surface)
    {
        if (!surface)
            return kDisplayInvalidArgs;
        *surface = nullptr;
        IDirectDrawSurface7 *created = nullptr;
        const HRESULT result = m_directDraw->CreateSurface(&description, &created, nullptr);
        if (SUCCEEDED(result))
            *surface = new DDrawSurface(created);
        return result;
    }

    IDirectDraw7 *m_directDraw;
};

class DDrawDriver final : public DisplayDriver {
public:
    DisplayResult CreateDisplay(Display **display) override
    {
        if (!display)
            return kDisplayInvalidArgs;
        *display = nullptr;
        void *created = nullptr;
        // The active display driver (null GUID), as a DirectDraw 7 object.
        const HRESULT result = DirectDrawCreateEx(nullptr, &created, IID_IDirectDraw7, nullptr);
        if (SUCCEEDED(result))
            *display = new DDrawDisplay(static_cast<IDirectDraw7 *>(created));
        return result;
    }

    bool GetWindowRect(WindowHandle window, DisplayRect *rect) override
    {
        RECT system;
        if (!rect || !::GetWindowRect(ToWindow(window), &system))
            return false;
        *rect = DisplayRect{system.left, system.top, system.right, system.bottom};
        return true;
    }

    bool GetClientRect(WindowHandle window, DisplayRect *rect) override
    {
        RECT system;
        if (!rect || !::GetClientRect(ToWindow(window), &system))
            return false;
        *rect = DisplayRect{system.left, system.top, system.right, system.bottom};
        return true;
    }

    bool ClientToScreen(WindowHandle window, DisplayPoint *point) override
    {
        if (!point)
            return false;
        POINT system{point->x, point->y};
        if (!::ClientToScreen(ToWindow(window), &system))
            return false;
        *point = DisplayPoint{system.x, system.y};
        return true;
    }
};

} // namespace

DisplayDriver &DefaultDisplayDriver()
{
    static DDrawDriver driver;
    return driver;
}

} // namespace orvo::platform
