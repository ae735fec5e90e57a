#include "platform/virtual/display_virtual.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/display/pixel_colour.h"
#include "platform/display/ref_counted.h"

namespace orvo::platform {

struct VirtualDisplayState {
    VirtualDisplayConfig config;
    std::array<DisplayResult, static_cast<size_t>(DisplayStep::kCount)> failures{};
    bool loseOnNextBlit = false;
    std::vector<std::string> calls;
    std::vector<uint32_t> screen;
    int liveObjects = 0;
    // Bumped when surfaces lose their memory; a surface with an older generation is lost.
    uint64_t generation = 0;

    DisplayResult Step(DisplayStep step, const std::string &call)
    {
        calls.push_back(call);
        return failures[static_cast<size_t>(step)];
    }
    bool Fails(DisplayStep step, const std::string &call) { return !DisplaySucceeded(Step(step, call)); }
};

namespace {

using State = std::shared_ptr<VirtualDisplayState>;

constexpr uint32_t kBytesPerPixel16 = 2;
constexpr uint32_t kPitchAlignment = 32;
// Rows carry padding beyond their pixels, so callers must honour the pitch.
constexpr uint32_t kPitchPadding = 32;

std::string RectText(const DisplayRect &rect)
{
    return "(" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom) + ")";
}

DisplayRect Intersect(const DisplayRect &a, const DisplayRect &b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// Lifetime counting for leak checks, in the shared state.
template <typename Interface>
class VirtualObject : public RefCounted<Interface> {
protected:
    explicit VirtualObject(State state) : state_(std::move(state)) { ++state_->liveObjects; }
    ~VirtualObject() override { --state_->liveObjects; }
    State state_;
};

class VirtualClipper final : public VirtualObject<DisplayClipper> {
public:
    explicit VirtualClipper(State state) : VirtualObject(std::move(state)) {}
    DisplayResult SetWindow(WindowHandle window) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kClipperSetWindow, "Clipper.SetWindow");
        if (DisplaySucceeded(result)) {
            window_ = window;
        }
        return result;
    }
    uint32_t Release() override
    {
        state_->calls.push_back("Clipper.Release");
        return VirtualObject::Release();
    }
    bool HasWindow() const { return window_ != nullptr; }

private:
    WindowHandle window_ = nullptr;
};

class VirtualSurface final : public VirtualObject<DisplaySurface> {
public:
    // The primary surface (the screen).
    explicit VirtualSurface(State state) : VirtualObject(std::move(state)), name_("Primary")
    {
        generation_ = state_->generation;
    }
    // A picture surface of 16 bits per pixel.
    VirtualSurface(State state, uint32_t width, uint32_t height, bool uyvy)
        : VirtualObject(std::move(state)), name_("Picture"), width_(width), height_(height),
          uyvy_(uyvy)
    {
        generation_ = state_->generation;
        const uint32_t rowBytes = width * kBytesPerPixel16;
        pitch_ = (rowBytes + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment + kPitchPadding;
        // The memory ends with the last row's pixels, so an overrun leaves the allocation.
        bytes_ = static_cast<size_t>(pitch_) * (height - 1) + rowBytes;
        memory_ = std::make_unique<uint8_t[]>(bytes_);
    }
    ~VirtualSurface() override
    {
        if (clipper_ != nullptr) {
            clipper_->Release();
        }
    }

    uint32_t Release() override
    {
        state_->calls.push_back(name_ + ".Release");
        return VirtualObject::Release();
    }

    DisplayResult Lock(LockedSurface *locked) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kLock, name_ + ".Lock");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        if (IsLost()) {
            return kDisplaySurfaceLost;
        }
        if (locked == nullptr || IsPrimary() || locked_) {
            return kDisplayInvalidArgs;
        }
        locked_ = true;
        *locked = {memory_.get(), static_cast<int32_t>(pitch_), width_, height_};
        return kDisplayOk;
    }

    DisplayResult Unlock() override
    {
        const DisplayResult result = state_->Step(DisplayStep::kUnlock, name_ + ".Unlock");
        if (DisplaySucceeded(result)) {
            locked_ = false;
        }
        return result;
    }

    DisplayResult Blit(const DisplayRect &dest, DisplaySurface *source) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kBlit, name_ + ".Blit" + RectText(dest));
        if (!DisplaySucceeded(result)) {
            return result;
        }
        if (state_->loseOnNextBlit) {
            state_->loseOnNextBlit = false;
            ++state_->generation;
        }
        auto *picture = static_cast<VirtualSurface *>(source);
        if (picture == nullptr || !IsPrimary() || picture->IsPrimary()) {
            return kDisplayUnsupported;
        }
        if (IsLost() || picture->IsLost()) {
            return kDisplaySurfaceLost;
        }
        const int32_t destWidth = dest.right - dest.left;
        const int32_t destHeight = dest.bottom - dest.top;
        if (destWidth <= 0 || destHeight <= 0) {
            return kDisplayInvalidArgs;
        }
        const DisplayRect area = Intersect(dest, VisibleArea());
        for (int32_t y = area.top; y < area.bottom; ++y) {
            const uint32_t sourceRow = static_cast<uint32_t>(
                static_cast<int64_t>(y - dest.top) * picture->height_ / destHeight);
            for (int32_t x = area.left; x < area.right; ++x) {
                const uint32_t sourceColumn = static_cast<uint32_t>(
                    static_cast<int64_t>(x - dest.left) * picture->width_ / destWidth);
                ScreenAt(x, y) = picture->PixelRgb(sourceColumn, sourceRow);
            }
        }
        return kDisplayOk;
    }

    DisplayResult ColorFill(uint32_t color) override
    {
        const DisplayResult result =
            state_->Step(DisplayStep::kColorFill, name_ + ".ColorFill(" + std::to_string(color) + ")");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        if (IsLost()) {
            return kDisplaySurfaceLost;
        }
        if (IsPrimary()) {
            const DisplayRect area = VisibleArea();
            for (int32_t y = area.top; y < area.bottom; ++y) {
                for (int32_t x = area.left; x < area.right; ++x) {
                    ScreenAt(x, y) = color;
                }
            }
            return kDisplayOk;
        }
        const uint16_t pixel = static_cast<uint16_t>(color);
        for (uint32_t row = 0; row < height_; ++row) {
            uint8_t *line = memory_.get() + static_cast<size_t>(row) * pitch_;
            for (uint32_t column = 0; column < width_; ++column) {
                std::memcpy(line + column * kBytesPerPixel16, &pixel, sizeof(pixel));
            }
        }
        return kDisplayOk;
    }

    DisplayResult Restore() override
    {
        const DisplayResult result = state_->Step(DisplayStep::kRestore, name_ + ".Restore");
        if (DisplaySucceeded(result)) {
            generation_ = state_->generation;
        }
        return result;
    }

    DisplayResult SetClipper(DisplayClipper *clipper) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kSetClipper, name_ + ".SetClipper");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        if (!IsPrimary()) {
            return kDisplayUnsupported;
        }
        if (clipper != nullptr) {
            clipper->AddRef();
        }
        if (clipper_ != nullptr) {
            clipper_->Release();
        }
        clipper_ = static_cast<VirtualClipper *>(clipper);
        return kDisplayOk;
    }

private:
    bool IsPrimary() const { return memory_ == nullptr; }
    bool IsLost() const { return generation_ != state_->generation; }

    uint32_t &ScreenAt(int32_t x, int32_t y)
    {
        return state_->screen[static_cast<size_t>(y) * state_->config.screenWidth +
                              static_cast<size_t>(x)];
    }

    // The screen, cut to the window's client area when a clipper with a window is attached.
    DisplayRect VisibleArea() const
    {
        const DisplayRect screen{0, 0, static_cast<int32_t>(state_->config.screenWidth),
                                 static_cast<int32_t>(state_->config.screenHeight)};
        if (clipper_ != nullptr && clipper_->HasWindow()) {
            return Intersect(screen, state_->config.clientArea);
        }
        return screen;
    }

    uint32_t PixelRgb(uint32_t column, uint32_t row) const
    {
        const uint8_t *line = memory_.get() + static_cast<size_t>(row) * pitch_;
        if (uyvy_) {
            const uint8_t *pair = line + (column & ~1u) * kBytesPerPixel16;
            const uint8_t luma = (column & 1u) ? pair[3] : pair[1];
            return YuvToRgb(luma, pair[0], pair[2]);
        }
        uint16_t pixel;
        std::memcpy(&pixel, line + column * kBytesPerPixel16, sizeof(pixel));
        return Rgb565ToRgb(pixel);
    }

    std::string name_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t pitch_ = 0;
    bool uyvy_ = false;
    bool locked_ = false;
    size_t bytes_ = 0;
    std::unique_ptr<uint8_t[]> memory_;
    uint64_t generation_ = 0;
    VirtualClipper *clipper_ = nullptr;
};

class VirtualDisplay final : public VirtualObject<Display> {
public:
    explicit VirtualDisplay(State state) : VirtualObject(std::move(state)) {}

    uint32_t Release() override
    {
        state_->calls.push_back("Display.Release");
        return VirtualObject::Release();
    }

    DisplayResult SetCooperativeLevel(WindowHandle window, uint32_t flags) override
    {
        return state_->Step(DisplayStep::kCooperativeLevel,
                            std::string("Display.SetCooperativeLevel(") +
                                (window ? "window" : "null") + "," + std::to_string(flags) + ")");
    }

    DisplayResult GetCaps(uint32_t *caps) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kGetCaps, "Display.GetCaps");
        if (DisplaySucceeded(result)) {
            if (caps == nullptr) {
                return kDisplayInvalidArgs;
            }
            *caps = state_->config.caps;
        }
        return result;
    }

    DisplayResult CreatePrimarySurface(DisplaySurface **surface) override
    {
        const DisplayResult result =
            state_->Step(DisplayStep::kCreatePrimary, "Display.CreatePrimarySurface");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        *surface = new VirtualSurface(state_);
        return kDisplayOk;
    }

    DisplayResult CreatePictureSurface(uint32_t width, uint32_t height, const PixelFormat &format,
                                       DisplaySurface **surface) override
    {
        const bool uyvy = IsUyvyFormat(format);
        const DisplayResult result = state_->Step(
            DisplayStep::kCreatePicture, "Display.CreatePictureSurface(" + std::to_string(width) +
                                             "x" + std::to_string(height) + "," +
                                             (uyvy ? "UYVY" : IsRgb565Format(format) ? "RGB565" : "?") +
                                             ")");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        if (width == 0 || height == 0 || width > state_->config.maxSurfaceSide ||
            height > state_->config.maxSurfaceSide || (!uyvy && !IsRgb565Format(format)) ||
            (uyvy && width % 2 != 0)) {
            return kDisplayInvalidArgs;
        }
        *surface = new VirtualSurface(state_, width, height, uyvy);
        return kDisplayOk;
    }

    DisplayResult CreateClipper(DisplayClipper **clipper) override
    {
        const DisplayResult result = state_->Step(DisplayStep::kCreateClipper, "Display.CreateClipper");
        if (!DisplaySucceeded(result)) {
            return result;
        }
        *clipper = new VirtualClipper(state_);
        return kDisplayOk;
    }
};

} // namespace

VirtualDisplayDriver::VirtualDisplayDriver(const VirtualDisplayConfig &config)
    : state_(std::make_shared<VirtualDisplayState>())
{
    state_->config = config;
    state_->screen.assign(static_cast<size_t>(config.screenWidth) * config.screenHeight, 0);
    state_->failures.fill(kDisplayOk);
}

VirtualDisplayDriver::~VirtualDisplayDriver() = default;

DisplayResult VirtualDisplayDriver::CreateDisplay(Display **display)
{
    const DisplayResult result = state_->Step(DisplayStep::kCreateDisplay, "CreateDisplay");
    if (!DisplaySucceeded(result)) {
        return result;
    }
    if (display == nullptr) {
        return kDisplayInvalidArgs;
    }
    *display = new VirtualDisplay(state_);
    return kDisplayOk;
}

bool VirtualDisplayDriver::GetWindowRect(WindowHandle window, DisplayRect *rect)
{
    if (state_->Fails(DisplayStep::kWindowRect, "GetWindowRect") || window == nullptr ||
        rect == nullptr) {
        return false;
    }
    *rect = state_->config.windowRect;
    return true;
}

bool VirtualDisplayDriver::GetClientRect(WindowHandle window, DisplayRect *rect)
{
    if (state_->Fails(DisplayStep::kClientRect, "GetClientRect") || window == nullptr ||
        rect == nullptr) {
        return false;
    }
    const DisplayRect &area = state_->config.clientArea;
    *rect = {0, 0, area.right - area.left, area.bottom - area.top};
    return true;
}

bool VirtualDisplayDriver::ClientToScreen(WindowHandle window, DisplayPoint *point)
{
    if (state_->Fails(DisplayStep::kClientToScreen, "ClientToScreen") || window == nullptr ||
        point == nullptr) {
        return false;
    }
    point->x += state_->config.clientArea.left;
    point->y += state_->config.clientArea.top;
    return true;
}

void VirtualDisplayDriver::SetCaps(uint32_t caps) { state_->config.caps = caps; }

void VirtualDisplayDriver::SetClientArea(const DisplayRect &clientArea)
{
    state_->config.clientArea = clientArea;
}

void VirtualDisplayDriver::FailAt(DisplayStep step, DisplayResult result)
{
    state_->failures[static_cast<size_t>(step)] = result;
}

void VirtualDisplayDriver::ClearFailures() { state_->failures.fill(kDisplayOk); }

void VirtualDisplayDriver::LoseSurfacesOnNextBlit() { state_->loseOnNextBlit = true; }

const std::vector<std::string> &VirtualDisplayDriver::Calls() const { return state_->calls; }

void VirtualDisplayDriver::ClearCalls() { state_->calls.clear(); }

size_t VirtualDisplayDriver::CountCalls(const std::string &call) const
{
    return static_cast<size_t>(std::count(state_->calls.begin(), state_->calls.end(), call));
}

int VirtualDisplayDriver::LiveObjects() const { return state_->liveObjects; }

uint32_t VirtualDisplayDriver::ScreenPixel(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= state_->config.screenWidth ||
        static_cast<uint32_t>(y) >= state_->config.screenHeight) {
        return 0;
    }
    return state_->screen[static_cast<size_t>(y) * state_->config.screenWidth +
                          static_cast<size_t>(x)];
}

uint32_t VirtualDisplayDriver::ClientPixel(int32_t x, int32_t y) const
{
    return ScreenPixel(state_->config.clientArea.left + x, state_->config.clientArea.top + y);
}

void VirtualDisplayDriver::FillScreen(uint32_t rgb)
{
    std::fill(state_->screen.begin(), state_->screen.end(), rgb);
}

VirtualDisplayDriver &DefaultVirtualDisplayDriver()
{
    static VirtualDisplayDriver driver;
    return driver;
}

DisplayDriver &DefaultDisplayDriver() { return DefaultVirtualDisplayDriver(); }

} // namespace orvo::platform
