// The SDL2 display back end: draws into a window that the host created with SDL.
//
// The window handle given to the display layer (and to CDirectXDraw::Init) is the host's
// SDL_Window*. The host initialises SDL's video subsystem, creates the window, pumps its events
// and destroys the window after the renderer's display objects are gone. The back end uses the
// window's renderer if it has one, else creates one (accelerated if possible, else software).
//
//   primary surface  a render-target texture of the client area's size, the persistent screen
//                    contents; every blit or fill is then copied to the window and presented
//   picture surface  a streaming texture in UYVY or RGB565
//   blit             a scaled copy of the whole picture into the destination rectangle
//   colour fill      a clear of the surface
//   lost surfaces    SDL_RENDER_TARGETS_RESET loses the primary surface, SDL_RENDER_DEVICE_RESET
//                    every surface; blits then report kDisplaySurfaceLost until Restore.
#ifndef ORVO_PLATFORM_SDL_DISPLAY_SDL_H
#define ORVO_PLATFORM_SDL_DISPLAY_SDL_H

#include <cstdint>
#include <vector>

#include "platform/display/display.h"

struct SDL_Window;

namespace orvo::platform {

class SdlDisplayDriver final : public DisplayDriver {
public:
    DisplayResult CreateDisplay(Display **display) override;
    bool GetWindowRect(WindowHandle window, DisplayRect *rect) override;
    bool GetClientRect(WindowHandle window, DisplayRect *rect) override;
    bool ClientToScreen(WindowHandle window, DisplayPoint *point) override;

    // What reached `window` (its primary surface), 0x00RRGGBB per pixel, row by row. False when
    // no display object of this back end draws into the window.
    static bool ReadWindowPixels(SDL_Window *window, std::vector<uint32_t> *pixels,
                                 uint32_t *width, uint32_t *height);
};

} // namespace orvo::platform

#endif // ORVO_PLATFORM_SDL_DISPLAY_SDL_H
