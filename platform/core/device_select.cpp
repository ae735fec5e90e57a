// The device each direction opens next.
#include <cstring>
#include <mutex>

#include "platform/no_destructor.h"
#include "platform/wave.h"

namespace orvo::platform {
namespace {

constexpr int kDirections = 2;

struct Selection {
    std::mutex mutex;
    char names[kDirections][kMaxDeviceNameLength + 1] = {}; // by WaveDirection; "" = default
};

Selection &GetSelection()
{
    static NoDestructor<Selection> selection; // outlives every device, even at exit
    return selection.get();
}

constexpr const char kDefaultName[] = "default";

} // namespace

bool SelectWaveDevice(WaveDirection direction, const char *name)
{
    if (direction != WaveDirection::Capture && direction != WaveDirection::Playback)
        return false;
    size_t length = 0;
    if (name && std::strcmp(name, kDefaultName) != 0) {
        length = strnlen(name, kMaxDeviceNameLength + 1);
        if (length == 0 || length > kMaxDeviceNameLength || std::strcmp(name, kWavFilePrefix) == 0)
            return false;
    }
    Selection &selection = GetSelection();
    std::lock_guard<std::mutex> lock(selection.mutex);
    char *slot = selection.names[static_cast<int>(direction)];
    std::memcpy(slot, name ? name : "", length);
    slot[length] = '\0';
    return true;
}

std::string SelectedWaveDevice(WaveDirection direction)
{
    Selection &selection = GetSelection();
    std::lock_guard<std::mutex> lock(selection.mutex);
    return std::string(selection.names[direction == WaveDirection::Playback ? 1 : 0]);
}

} // namespace orvo::platform
