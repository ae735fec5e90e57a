#include "platform/sdl/display_sdl.h"

#include <SDL.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "platform/display/ref_counted.h"

namespace orvo::platform {
namespace {

// Where a window keeps the display context drawing into it.
constexpr const char *kWindowDataKey = "orvo.display";
constexpr uint32_t kProbeSide = 2;
constexpr uint32_t kBytesPerPixel16 = 2;

SDL_Window *AsWindow(WindowHandle window) { return static_cast<SDL_Window *>(window); }

// One display object's hold on a window: its renderer and the screen texture.
struct SdlContext {
    SDL_Window *window = nullptr;
    SDL_Renderer *renderer = nullptr;
    bool ownsRenderer = false;
    SDL_Texture *screen = nullptr;
    int screenWidth = 0;
    int screenHeight = 0;
    // Bumped by the event watch when render targets or the whole device lose their contents.
    std::atomic<uint64_t> targetGeneration{0};
    std::atomic<uint64_t> deviceGeneration{0};

    static int WatchEvents(void *self, SDL_Event *event)
    {
        auto *context = static_cast<SdlContext *>(self);
        if (event->type == SDL_RENDER_TARGETS_RESET) {
            context->targetGeneration.fetch_add(1, std::memory_order_acq_rel);
        } else if (event->type == SDL_RENDER_DEVICE_RESET) {
            context->targetGeneration.fetch_add(1, std::memory_order_acq_rel);
            context->deviceGeneration.fetch_add(1, std::memory_order_acq_rel);
        }
        return 1;
    }

    SdlContext() { SDL_AddEventWatch(WatchEvents, this); }
    ~SdlContext()
    {
        SDL_DelEventWatch(WatchEvents, this);
        if (screen != nullptr) {
            SDL_DestroyTexture(screen);
        }
        if (ownsRenderer && renderer != nullptr) {
            SDL_DestroyRenderer(renderer);
        }
        if (window != nullptr && SDL_GetWindowData(window, kWindowDataKey) == this) {
            SDL_SetWindowData(window, kWindowDataKey, nullptr);
        }
    }

    bool Bind(SDL_Window *target)
    {
        if (window == target) {
            return true;
        }
        if (window != nullptr || target == nullptr) {
            return false; // one window per display object
        }
        renderer = SDL_GetRenderer(target);
        if (renderer == nullptr) {
            renderer = SDL_CreateRenderer(target, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_TARGETTEXTURE);
            if (renderer == nullptr) {
                renderer = SDL_CreateRenderer(target, -1, SDL_RENDERER_SOFTWARE);
            }
            ownsRenderer = renderer != nullptr;
        }
        if (renderer == nullptr || !SDL_RenderTargetSupported(renderer)) {
            return false;
        }
        window = target;
        SDL_SetWindowData(window, kWindowDataKey, this);
        return true;
    }

    // The screen texture in the client area's current size (black when newly made).
    bool EnsureScreen()
    {
        int width = 0;
        int height = 0;
        SDL_GetWindowSize(window, &width, &height);
        if (screen != nullptr && width == screenWidth && height == screenHeight) {
            return true;
        }
        if (screen != nullptr) {
            SDL_DestroyTexture(screen);
        }
        screen = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_TARGET, width,
                                   height);
        screenWidth = width;
        screenHeight = height;
        if (screen == nullptr) {
            return false;
        }
        SDL_SetRenderTarget(renderer, screen);
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
        SDL_RenderClear(renderer);
        SDL_SetRenderTarget(renderer, nullptr);
        return true;
    }

    // Shows the screen texture in the window.
    void Present()
    {
        SDL_SetRenderTarget(renderer, nullptr);
        SDL_RenderCopy(renderer, screen, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    }
};

using Context = std::shared_ptr<SdlContext>;

class SdlClipper final : public RefCounted<DisplayClipper> {
public:
    DisplayResult SetWindow(WindowHandle window) override
    {
        window_ = window;
        return kDisplayOk;
    }

private:
    WindowHandle window_ = nullptr;
};

class SdlSurface final : public RefCounted<DisplaySurface> {
public:
    // The primary surface.
    explicit SdlSurface(Context context) : context_(std::move(context)) { Remember(); }
    // A picture surface.
    SdlSurface(Context context, SDL_Texture *texture, uint32_t width, uint32_t height, uint32_t format)
        : context_(std::move(context)), texture_(texture), width_(width), height_(height),
          format_(format)
    {
        Remember();
    }
    ~SdlSurface() override
    {
        if (texture_ != nullptr) {
            SDL_DestroyTexture(texture_);
        }
        if (clipper_ != nullptr) {
            clipper_->Release();
        }
    }

    DisplayResult Lock(LockedSurface *locked) override
    {
        if (locked == nullptr || IsPrimary()) {
            return kDisplayInvalidArgs;
        }
        if (IsLost()) {
            return kDisplaySurfaceLost;
        }
        void *pixels = nullptr;
        int pitch = 0;
        if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) != 0) {
            return kDisplayFailed;
        }
        *locked = {static_cast<uint8_t *>(pixels), pitch, width_, height_};
        return kDisplayOk;
    }

    DisplayResult Unlock() override
    {
        if (IsPrimary()) {
            return kDisplayInvalidArgs;
        }
        SDL_UnlockTexture(texture_);
        return kDisplayOk;
    }

    DisplayResult Blit(const DisplayRect &dest, DisplaySurface *source) override
    {
        auto *picture = static_cast<SdlSurface *>(source);
        if (picture == nullptr || !IsPrimary() || picture->IsPrimary()) {
            return kDisplayUnsupported;
        }
        if (IsLost() || picture->IsLost()) {
            return kDisplaySurfaceLost;
        }
        if (!context_->EnsureScreen()) {
            return kDisplayFailed;
        }
        // Screen coordinates to the client area, which the screen texture covers.
        int windowX = 0;
        int windowY = 0;
        SDL_GetWindowPosition(context_->window, &windowX, &windowY);
        const SDL_Rect target{dest.left - windowX, dest.top - windowY, dest.right - dest.left,
                              dest.bottom - dest.top};
        SDL_Renderer *renderer = context_->renderer;
        SDL_SetRenderTarget(renderer, context_->screen);
        const int copied = SDL_RenderCopy(renderer, picture->texture_, nullptr, &target);
        context_->Present();
        return copied == 0 ? kDisplayOk : kDisplayFailed;
    }

    DisplayResult ColorFill(uint32_t color) override
    {
        if (IsLost()) {
            return kDisplaySurfaceLost;
        }
        if (IsPrimary()) {
            if (!context_->EnsureScreen()) {
                return kDisplayFailed;
            }
            SDL_Renderer *renderer = context_->renderer;
            SDL_SetRenderTarget(renderer, context_->screen);
            SDL_SetRenderDrawColor(renderer, static_cast<uint8_t>(color >> 16),
                                   static_cast<uint8_t>(color >> 8), static_cast<uint8_t>(color),
                                   SDL_ALPHA_OPAQUE);
            SDL_RenderClear(renderer);
            context_->Present();
            return kDisplayOk;
        }
        LockedSurface locked;
        const DisplayResult result = Lock(&locked);
        if (!DisplaySucceeded(result)) {
            return result;
        }
        const uint16_t pixel = static_cast<uint16_t>(color);
        for (uint32_t row = 0; row < height_; ++row) {
            uint8_t *line = locked.bits + static_cast<ptrdiff_t>(row) * locked.pitch;
            for (uint32_t column = 0; column < width_; ++column) {
                std::memcpy(line + column * kBytesPerPixel16, &pixel, sizeof(pixel));
            }
        }
        return Unlock();
    }

    DisplayResult Restore() override
    {
        if (!IsLost()) {
            return kDisplayOk;
        }
        if (IsPrimary()) {
            // The screen texture's contents are gone: make it anew.
            if (context_->screen != nullptr) {
                SDL_DestroyTexture(context_->screen);
                context_->screen = nullptr;
            }
            if (!context_->EnsureScreen()) {
                return kDisplayFailed;
            }
        } else {
            SDL_Texture *texture = SDL_CreateTexture(context_->renderer, format_,
                                                     SDL_TEXTUREACCESS_STREAMING,
                                                     static_cast<int>(width_), static_cast<int>(height_));
            if (texture == nullptr) {
                return kDisplayFailed;
            }
            SDL_DestroyTexture(texture_);
            texture_ = texture;
        }
        Remember();
        return kDisplayOk;
    }

    DisplayResult SetClipper(DisplayClipper *clipper) override
    {
        if (!IsPrimary()) {
            return kDisplayUnsupported;
        }
        // The screen texture is the client area, so drawing is already limited to it.
        if (clipper != nullptr) {
            clipper->AddRef();
        }
        if (clipper_ != nullptr) {
            clipper_->Release();
        }
        clipper_ = clipper;
        return kDisplayOk;
    }

private:
    bool IsPrimary() const { return texture_ == nullptr; }
    uint64_t CurrentGeneration() const
    {
        return IsPrimary() ? context_->targetGeneration.load(std::memory_order_acquire)
                           : context_->deviceGeneration.load(std::memory_order_acquire);
    }
    bool IsLost() const { return generation_ != CurrentGeneration(); }
    void Remember() { generation_ = CurrentGeneration(); }

    Context context_;
    SDL_Texture *texture_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t format_ = 0;
    uint64_t generation_ = 0;
    DisplayClipper *clipper_ = nullptr;
};

class SdlDisplay final : public RefCounted<Display> {
public:
    SdlDisplay() : context_(std::make_shared<SdlContext>()) {}

    DisplayResult SetCooperativeLevel(WindowHandle window, uint32_t flags) override
    {
        if (flags != kDisplayCooperativeNormal) {
            return kDisplayInvalidArgs;
        }
        if (window == nullptr) {
            return kDisplayOk; // giving the window back: nothing to do
        }
        return context_->Bind(AsWindow(window)) ? kDisplayOk : kDisplayFailed;
    }

    DisplayResult GetCaps(uint32_t *caps) override
    {
        if (caps == nullptr) {
            return kDisplayInvalidArgs;
        }
        if (context_->renderer == nullptr) {
            return kDisplayFailed;
        }
        *caps = kDisplayCapsBlt;
        // The renderer converts UYVY while copying when it can make such a texture.
        SDL_Texture *probe = SDL_CreateTexture(context_->renderer, SDL_PIXELFORMAT_UYVY,
                                               SDL_TEXTUREACCESS_STREAMING, kProbeSide, kProbeSide);
        if (probe != nullptr) {
            *caps |= kDisplayCapsBltFourcc;
            SDL_DestroyTexture(probe);
        }
        return kDisplayOk;
    }

    DisplayResult CreatePrimarySurface(DisplaySurface **surface) override
    {
        if (surface == nullptr) {
            return kDisplayInvalidArgs;
        }
        if (context_->renderer == nullptr || !context_->EnsureScreen()) {
            return kDisplayFailed;
        }
        *surface = new SdlSurface(context_);
        return kDisplayOk;
    }

    DisplayResult CreatePictureSurface(uint32_t width, uint32_t height, const PixelFormat &format,
                                       DisplaySurface **surface) override
    {
        if (surface == nullptr || width == 0 || height == 0) {
            return kDisplayInvalidArgs;
        }
        if (context_->renderer == nullptr) {
            return kDisplayFailed;
        }
        uint32_t sdlFormat;
        if (IsUyvyFormat(format)) {
            sdlFormat = SDL_PIXELFORMAT_UYVY;
        } else if (IsRgb565Format(format)) {
            sdlFormat = SDL_PIXELFORMAT_RGB565;
        } else {
            return kDisplayUnsupported;
        }
        SDL_Texture *texture = SDL_CreateTexture(context_->renderer, sdlFormat,
                                                 SDL_TEXTUREACCESS_STREAMING, static_cast<int>(width),
                                                 static_cast<int>(height));
        if (texture == nullptr) {
            return kDisplayFailed;
        }
        *surface = new SdlSurface(context_, texture, width, height, sdlFormat);
        return kDisplayOk;
    }

    DisplayResult CreateClipper(DisplayClipper **clipper) override
    {
        if (clipper == nullptr) {
            return kDisplayInvalidArgs;
        }
        *clipper = new SdlClipper();
        return kDisplayOk;
    }

private:
    Context context_;
};

} // namespace

DisplayResult SdlDisplayDriver::CreateDisplay(Display **display)
{
    if (display == nullptr) {
        return kDisplayInvalidArgs;
    }
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        *display = nullptr;
        return kDisplayFailed;
    }
    *display = new SdlDisplay();
    return kDisplayOk;
}

bool SdlDisplayDriver::GetWindowRect(WindowHandle window, DisplayRect *rect)
{
    if (window == nullptr || rect == nullptr) {
        return false;
    }
    int x = 0, y = 0, width = 0, height = 0;
    int top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowPosition(AsWindow(window), &x, &y);
    SDL_GetWindowSize(AsWindow(window), &width, &height);
    // Not every video driver knows its decorations; then the window is its client area.
    if (SDL_GetWindowBordersSize(AsWindow(window), &top, &left, &bottom, &right) != 0) {
        top = left = bottom = right = 0;
    }
    *rect = {x - left, y - top, x + width + right, y + height + bottom};
    return true;
}

bool SdlDisplayDriver::GetClientRect(WindowHandle window, DisplayRect *rect)
{
    if (window == nullptr || rect == nullptr) {
        return false;
    }
    int width = 0, height = 0;
    SDL_GetWindowSize(AsWindow(window), &width, &height);
    *rect = {0, 0, width, height};
    return true;
}

bool SdlDisplayDriver::ClientToScreen(WindowHandle window, DisplayPoint *point)
{
    if (window == nullptr || point == nullptr) {
        return false;
    }
    int x = 0, y = 0;
    SDL_GetWindowPosition(AsWindow(window), &x, &y);
    point->x += x;
    point->y += y;
    return true;
}

bool SdlDisplayDriver::ReadWindowPixels(SDL_Window *window, std::vector<uint32_t> *pixels,
                                        uint32_t *width, uint32_t *height)
{
    if (window == nullptr || pixels == nullptr || width == nullptr || height == nullptr) {
        return false;
    }
    auto *context = static_cast<SdlContext *>(SDL_GetWindowData(window, kWindowDataKey));
    if (context == nullptr || context->screen == nullptr) {
        return false;
    }
    const int screenWidth = context->screenWidth;
    const int screenHeight = context->screenHeight;
    std::vector<uint32_t> read(static_cast<size_t>(screenWidth) * static_cast<size_t>(screenHeight));
    SDL_SetRenderTarget(context->renderer, context->screen);
    const int result = SDL_RenderReadPixels(context->renderer, nullptr, SDL_PIXELFORMAT_RGB888,
                                            read.data(), screenWidth * static_cast<int>(sizeof(uint32_t)));
    SDL_SetRenderTarget(context->renderer, nullptr);
    if (result != 0) {
        return false;
    }
    for (uint32_t &pixel : read) {
        pixel &= 0x00FFFFFFu;
    }
    pixels->swap(read);
    *width = static_cast<uint32_t>(screenWidth);
    *height = static_cast<uint32_t>(screenHeight);
    return true;
}

} // namespace orvo::platform
