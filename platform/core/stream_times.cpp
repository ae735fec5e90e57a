// When sound last started to flow in either direction, for delay measurements across processes,
// how often playback found its queue short since and how many samples it has played.
#include <atomic>
#include <chrono>

#include "platform/core/wave_calls.h"
#include "platform/wave.h"

namespace orvo::platform {
namespace {

std::atomic<int64_t> g_captureStart{0};
std::atomic<int64_t> g_playbackStart{0};
std::atomic<uint32_t> g_playbackStarved{0};
std::atomic<uint64_t> g_playbackSamples{0};

int64_t SteadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void NoteCaptureStart() { g_captureStart.store(SteadyMicros(), std::memory_order_relaxed); }
void NotePlaybackStart()
{
    g_playbackStarved.store(0, std::memory_order_relaxed);
    g_playbackSamples.store(0, std::memory_order_relaxed);
    g_playbackStart.store(SteadyMicros(), std::memory_order_relaxed);
}
void NotePlaybackSamples(size_t samples) { g_playbackSamples.fetch_add(samples, std::memory_order_relaxed); }
uint64_t PlaybackSamplesPlayed() { return g_playbackSamples.load(std::memory_order_relaxed); }
void NotePlaybackStarved() { g_playbackStarved.fetch_add(1, std::memory_order_relaxed); }
uint32_t PlaybackStarvedReads() { return g_playbackStarved.load(std::memory_order_relaxed); }
int64_t CaptureStartMicros() { return g_captureStart.load(std::memory_order_relaxed); }
int64_t PlaybackStartMicros() { return g_playbackStart.load(std::memory_order_relaxed); }

} // namespace orvo::platform
