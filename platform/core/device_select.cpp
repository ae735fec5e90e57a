// The device each direction opens next.
#include <cstring>
#include <mutex>

#include "platform/wave.h"

namespace orvo::platform {
namespace {

struct Selection {
    std::mutex mutex;
    std::string names[2]; // by WaveDirection; empty = system default
};

Selection &GetSelection()
{
    static Selection *selection = new Selection; // outlives every device, even at exit
    return *selection;
}

constexpr const char kDefaultName[] = "default";

} // namespace

bool SelectWaveDevice(WaveDirection direction, const char *name)
{
    if (direction != WaveDirection::Capture && direction != WaveDirection::Playback)
        return false;
    std::string chosen;
    if (name && std::strcmp(name, kDefaultName) != 0) {
        size_t length = strnlen(name, kMaxDeviceNameLength + 1);
        if (length == 0 || length > kMaxDeviceNameLength)
            return false;
        chosen.assign(name, length);
        if (chosen == kWavFilePrefix)
            return false;
    }
    Selection &selection = GetSelection();
    std::lock_guard<std::mutex> lock(selection.mutex);
    selection.names[static_cast<int>(direction)] = std::move(chosen);
    return true;
}

std::string SelectedWaveDevice(WaveDirection direction)
{
    Selection &selection = GetSelection();
    std::lock_guard<std::mutex> lock(selection.mutex);
    return selection.names[direction == WaveDirection::Playback ? 1 : 0];
}

} // namespace orvo::platform
