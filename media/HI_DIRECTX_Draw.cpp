#include "media/HI_DIRECTX_Draw.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "media/uyvy.h"

namespace orvo::media {

using platform::DisplayClipper;
using platform::DisplaySucceeded;
using platform::PixelFormat;

namespace {

constexpr uint32_t kFillColorBlack = 0;
constexpr uint32_t kBytesPerPackedPixel = 2;

template <typename Object>
void ReleaseAndClear(Object *&object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

PixelFormat PictureFormatFor(int32_t kind)
{
    PixelFormat format;
    if (kind == DRAW_FORMAT_UYVY) {
        format.flags = platform::kPixelFormatFlagFourcc;
        format.fourcc = platform::kFourccUyvy;
    } else {
        format.flags = platform::kPixelFormatFlagRgb;
        format.rgbBitCount = platform::kRgb565BitCount;
        format.redMask = platform::kRgb565RedMask;
        format.greenMask = platform::kRgb565GreenMask;
        format.blueMask = platform::kRgb565BlueMask;
    }
    return format;
}

// Offset that centres `inner` in `outer`: half the difference, truncated toward zero.
int32_t CentredStart(int32_t outerStart, int32_t outerSize, uint32_t innerSize)
{
    const uint32_t outer = static_cast<uint32_t>(std::max(outerSize, 0));
    if (innerSize > outer) {
        return outerStart - static_cast<int32_t>((innerSize - outer) / 2u);
    }
    return outerStart + static_cast<int32_t>((outer - innerSize) / 2u);
}

} // namespace

CDirectXDraw::CDirectXDraw() : CDirectXDraw(platform::DefaultDisplayDriver()) {}

CDirectXDraw::CDirectXDraw(platform::DisplayDriver &driver) : m_driver(&driver) {}

CDirectXDraw::~CDirectXDraw() { Uninit(); }

void CDirectXDraw::ReleaseInterfaces()
{
    ReleaseAndClear(m_picture);
    ReleaseAndClear(m_primary);
    if (m_display != nullptr) {
        m_display->SetCooperativeLevel(nullptr, platform::kDisplayCooperativeNormal);
        ReleaseAndClear(m_display);
    }
}

void CDirectXDraw::Uninit()
{
    if (m_initialised == 1) {
        ReleaseInterfaces();
    }
}

// A failing Init gives back what it obtained, so repeated failures leak nothing.
int32_t CDirectXDraw::FailInit(int32_t code)
{
    ReleaseInterfaces();
    return code;
}

int32_t CDirectXDraw::Init(platform::WindowHandle window, uint32_t width, uint32_t height,
                           int32_t *kind)
{
    Uninit();
    if (kind != nullptr) {
        *kind = DRAW_FORMAT_NONE;
    }
    if (!DisplaySucceeded(m_driver->CreateDisplay(&m_display)) || m_display == nullptr) {
        m_display = nullptr;
        return kDrawCreateFailed;
    }
    if (!DisplaySucceeded(
            m_display->SetCooperativeLevel(window, platform::kDisplayCooperativeNormal))) {
        return FailInit(kDrawCooperationFailed);
    }
    uint32_t caps = 0;
    if (!DisplaySucceeded(m_display->GetCaps(&caps))) {
        return FailInit(kDrawCapsFailed);
    }
    int32_t chosenKind;
    if (caps & platform::kDisplayCapsBltFourcc) {
        chosenKind = DRAW_FORMAT_UYVY;
    } else if (caps & platform::kDisplayCapsBlt) {
        chosenKind = DRAW_FORMAT_RGB565;
    } else {
        return FailInit(kDrawNoBlitter);
    }
    if (kind != nullptr) {
        *kind = chosenKind;
    }
    const PixelFormat format = PictureFormatFor(chosenKind);

    if (!DisplaySucceeded(m_display->CreatePrimarySurface(&m_primary)) || m_primary == nullptr) {
        m_primary = nullptr;
        return FailInit(kDrawPrimaryFailed);
    }
    // Odd or empty sizes cannot be converted whole (4:2:0 chroma covers pixel pairs), so they
    // fail where the picture surface is made.
    const bool evenSizes = width != 0 && height != 0 && width % 2 == 0 && height % 2 == 0;
    if (!evenSizes ||
        !DisplaySucceeded(m_display->CreatePictureSurface(width, height, format, &m_picture)) ||
        m_picture == nullptr) {
        m_picture = nullptr;
        return FailInit(kDrawPictureSurfaceFailed);
    }

    DisplayClipper *clipper = nullptr;
    if (!DisplaySucceeded(m_display->CreateClipper(&clipper)) || clipper == nullptr) {
        return FailInit(kDrawCooperationFailed);
    }
    if (!DisplaySucceeded(clipper->SetWindow(window))) {
        clipper->Release();
        return FailInit(kDrawPrimaryFailed);
    }
    const bool attached = DisplaySucceeded(m_primary->SetClipper(clipper));
    // The primary surface keeps the clipper alive from here on.
    clipper->Release();
    if (!attached) {
        return FailInit(kDrawPictureSurfaceFailed);
    }

    m_picture->ColorFill(kFillColorBlack);
    m_window = window;
    m_width = width;
    m_height = height;
    m_driver->GetWindowRect(window, &m_destRect);
    m_initialised = 1;
    return kDrawOk;
}

void CDirectXDraw::ConvertToUYVY(const uint8_t *luma, uint32_t lumaStride, const uint8_t *u,
                                 const uint8_t *v, uint8_t *dest, uint32_t width, uint32_t height,
                                 int32_t pitch)
{
    ConvertI420ToUyvy(luma, lumaStride, u, v, dest, width, height, pitch);
}

void CDirectXDraw::UpdateDestRect()
{
    if (!m_driver->GetClientRect(m_window, &m_destRect)) {
        return;
    }
    platform::DisplayPoint topLeft{m_destRect.left, m_destRect.top};
    platform::DisplayPoint bottomRight{m_destRect.right, m_destRect.bottom};
    m_driver->ClientToScreen(m_window, &topLeft);
    m_driver->ClientToScreen(m_window, &bottomRight);
    m_destRect = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

void CDirectXDraw::ClearScreen()
{
    if (m_primary != nullptr) {
        m_primary->ColorFill(kFillColorBlack);
    }
}

int32_t CDirectXDraw::ShowPicture(const uint8_t *picture, const uint8_t *u, const uint8_t *v,
                                  int32_t stretch)
{
    // Without a picture surface (no successful Init, or after Uninit) nothing can be drawn.
    if (m_picture == nullptr || m_primary == nullptr || picture == nullptr) {
        return kDrawLockFailed;
    }
    platform::LockedSurface locked;
    if (!DisplaySucceeded(m_picture->Lock(&locked))) {
        m_picture->Restore();
        return kDrawLockFailed;
    }
    // Never more rows than both the surface and the picture have, and never into rows narrower
    // than the picture's.
    const uint32_t rows = std::min(locked.height, m_height);
    const size_t rowBytes = static_cast<size_t>(m_width) * kBytesPerPackedPixel;
    const bool rowsFit = locked.bits != nullptr && locked.pitch >= 0 &&
                         static_cast<size_t>(locked.pitch) >= rowBytes;
    if (rowsFit && u != nullptr && v != nullptr) {
        ConvertToUYVY(picture, m_width, u, v, locked.bits, m_width, rows, locked.pitch);
    } else if (rowsFit) {
        for (uint32_t row = 0; row < rows; ++row) {
            std::memcpy(locked.bits + static_cast<ptrdiff_t>(row) * locked.pitch,
                        picture + row * rowBytes, rowBytes);
        }
    }
    m_picture->Unlock();

    UpdateDestRect();
    if (stretch != m_stretchMode) {
        m_stretchMode = stretch;
        ClearScreen();
    }
    if (m_stretchMode == 0) {
        m_destRect.left = CentredStart(m_destRect.left, m_destRect.right - m_destRect.left, m_width);
        m_destRect.top = CentredStart(m_destRect.top, m_destRect.bottom - m_destRect.top, m_height);
        m_destRect.right = m_destRect.left + static_cast<int32_t>(m_width);
        m_destRect.bottom = m_destRect.top + static_cast<int32_t>(m_height);
    }
    if (m_primary->Blit(m_destRect, m_picture) == platform::kDisplaySurfaceLost) {
        // The next picture uploads and blits anew into the restored memory.
        m_primary->Restore();
        m_picture->Restore();
    }
    return kDrawOk;
}

} // namespace orvo::media
