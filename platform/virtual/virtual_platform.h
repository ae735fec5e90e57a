// The virtual back end: a clock that only the test moves, and a capture and a playback device that
// follow it. Linked into orvoaudio_virtual instead of the real back ends.
//
// Clock. Virtual time starts at 0 ms. Worker threads (CWinThread) are counted from AfxBeginThread on;
// Sleep(n) on a worker blocks until the test has advanced the clock by n ms (or a stop is requested).
// Advance(ms) moves time one millisecond at a time; at each step it first lets the devices capture
// and play that millisecond, then wakes every worker whose sleep has ended and waits until all
// workers sleep again (or have ended). So between two test statements the workers are at rest and
// every step is the same on every run. Sleep on a thread that is not a worker waits for the test to
// advance the clock from another thread.
//
// Capture. Eight samples per millisecond while started, taken from the source (sample index 0 is
// the first sample after waveInStart; time runs on while no block is queued, the samples of that
// time are dropped). Playback. Eight samples per millisecond from the queued blocks while not
// paused; every block read to its end is recorded with its content and times.
#ifndef ORVO_PLATFORM_VIRTUAL_PLATFORM_H
#define ORVO_PLATFORM_VIRTUAL_PLATFORM_H

#include <cstdint>
#include <functional>
#include <vector>

namespace orvo::platform::virt {

constexpr int kSamplesPerMillisecond = 8;

// ---- clock
int64_t Now();
// Advances virtual time by `milliseconds`. False if workers failed to come to rest within the
// guard time (a worker blocked outside Sleep): the test then fails instead of hanging.
bool Advance(int64_t milliseconds);
// Waits until every worker sleeps or has ended; false after the guard time.
bool WaitIdle();
int WorkerCount();
// Makes AfxBeginThread fail (the platform cannot create threads) while set.
void SetThreadCreationFails(bool fails);

// ---- capture device
using SampleSource = std::function<int16_t(uint64_t index)>;
void SetCaptureSource(SampleSource source); // default: silence
// While false, waveInOpen fails with MMSYSERR_BADDEVICEID (no capture device).
void SetCaptureAvailable(bool available);
// While true, waveInReset fails with MMSYSERR_ERROR (device refuses to reset).
void SetCaptureResetFails(bool fails);
// The next block to finish is returned done after `bytes` bytes (a short block).
void CutNextCaptureBlock(uint32_t bytes);

struct CaptureStats {
    int opens = 0;              // successful waveInOpen calls
    int openAttempts = 0;       // all waveInOpen calls that reached the device
    bool open = false;          // a capture device is open now
    bool started = false;       // and started
    uint64_t samplesCaptured = 0; // samples taken from the source (stored or dropped)
    uint64_t samplesDropped = 0;  // of those, found no block
    uint64_t blocksCompleted = 0;
    int64_t lastBlockDoneAt = -1; // virtual time of the latest completed block
};
CaptureStats GetCaptureStats();

// ---- playback device
// While false, waveOutOpen fails with MMSYSERR_BADDEVICEID.
void SetPlaybackAvailable(bool available);

struct PlayedBlock {
    int64_t queuedAt = 0;         // virtual time of waveOutWrite
    int64_t doneAt = 0;           // virtual time its last sample was played
    std::vector<int16_t> samples; // what it held
};
std::vector<PlayedBlock> PlayedBlocks();
struct PlaybackStats {
    int opens = 0;
    bool open = false;
    uint64_t samplesPlayed = 0;      // from blocks
    uint64_t silentSamples = 0;      // played as silence (nothing queued, or paused)
};
PlaybackStats GetPlaybackStats();

// Back to the start: time 0, devices available, silence source, no records. Call with no worker
// running and no device open (after the services under test are shut down).
void Reset();

} // namespace orvo::platform::virt

#endif // ORVO_PLATFORM_VIRTUAL_PLATFORM_H
