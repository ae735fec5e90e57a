// CDirectXDraw: shows video pictures in a window through the display layer. One picture surface
// in the picture's size receives each picture (planar YUV 4:2:0 converted to UYVY, or 16-bit
// pixels copied row by row) and is blitted into the window's client area, scaled to fill it or at
// its own size and centred. The blitter converts UYVY to the screen's colours.
//
// One thread at a time uses an object.
#ifndef ORVO_MEDIA_HI_DIRECTX_DRAW_H
#define ORVO_MEDIA_HI_DIRECTX_DRAW_H

#include <cstdint>

#include "platform/display/display.h"

namespace orvo::media {

// Picture format kind that Init reports.
constexpr int32_t DRAW_FORMAT_NONE = 0;
constexpr int32_t DRAW_FORMAT_UYVY = 1;   // pass planar YUV 4:2:0 pictures
constexpr int32_t DRAW_FORMAT_RGB565 = 2; // pass packed 16-bit RGB 5-6-5 pictures

// Init results, one per failing step.
constexpr int32_t kDrawOk = 0;
constexpr int32_t kDrawCreateFailed = -1;         // display object
constexpr int32_t kDrawCooperationFailed = -2;    // cooperative level or clipper creation
constexpr int32_t kDrawCapsFailed = -20;          // capabilities query
constexpr int32_t kDrawNoBlitter = -21;           // neither FOURCC nor plain blits
constexpr int32_t kDrawPrimaryFailed = -3;        // primary surface or clipper window
constexpr int32_t kDrawPictureSurfaceFailed = -4; // picture surface (also odd sizes) or SetClipper
// ShowPicture: the picture surface could not be locked (or there is none).
constexpr int32_t kDrawLockFailed = -3;

class CDirectXDraw {
public:
    // Draws through the platform's own display driver.
    CDirectXDraw();
    // Draws through `driver`, which outlives the object.
    explicit CDirectXDraw(platform::DisplayDriver &driver);
    virtual ~CDirectXDraw();
    CDirectXDraw(const CDirectXDraw &) = delete;
    CDirectXDraw &operator=(const CDirectXDraw &) = delete;

    // Prepares drawing of width x height pictures into `window` and reports the picture format
    // kind the caller must pass. Width and height must be even and non-zero. 0 or a code above.
    int32_t Init(platform::WindowHandle window, uint32_t width, uint32_t height, int32_t *kind);
    // Uploads one picture and blits it: planar when both `u` and `v` are given (luma rows width
    // bytes apart, chroma rows width / 2), else packed 16-bit pixels in rows of 2 x width bytes.
    // `stretch` 0 centres the picture at its own size, any other value fills the client area.
    // Returns 0, also when the blit failed, or kDrawLockFailed.
    int32_t ShowPicture(const uint8_t *picture, const uint8_t *u, const uint8_t *v, int32_t stretch);
    void Uninit();
    int32_t GetStretchMode() const { return m_stretchMode; }

    // The internal steps of ShowPicture.
    static void ConvertToUYVY(const uint8_t *luma, uint32_t lumaStride, const uint8_t *u,
                              const uint8_t *v, uint8_t *dest, uint32_t width, uint32_t height,
                              int32_t pitch);
    void UpdateDestRect();
    void ClearScreen();

    // Where the last picture went, in screen coordinates.
    const platform::DisplayRect &GetDestRect() const { return m_destRect; }

private:
    void ReleaseInterfaces();
    int32_t FailInit(int32_t code);

    platform::Display *m_display = nullptr;
    platform::DisplaySurface *m_primary = nullptr;
    platform::DisplaySurface *m_picture = nullptr;
    platform::DisplayRect m_destRect{};
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    platform::WindowHandle m_window = nullptr;
    int32_t m_initialised = 0;
    int32_t m_stretchMode = 0;
    platform::DisplayDriver *m_driver;
};

} // namespace orvo::media

#endif // ORVO_MEDIA_HI_DIRECTX_DRAW_H
