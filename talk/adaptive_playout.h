// Adaptive playout: a jitter buffer whose delay follows the observed jitter, loss concealment on
// the decoded samples, and time-scaling that keeps the delay at its target however the sender's
// clock drifts, with a short device queue.
//
// The delay is steered on the frames' waits (audio ahead of each frame when it arrives): the
// target keeps the 2nd-percentile wait of the last 2 s at (target - jitter), where the jitter is
// the spread between the 2nd and 98th percentile and the target is jitter plus a margin, never
// below one frame. Too much delay is taken out in quiet frames (samples or whole frames) and, when
// it persists or is large, a pitch period at a time in periodic ones; too little is added the same
// way. While the next frame is missing and the device still holds a frame's worth, playout waits
// for it; then it is concealed. After 60 ms without frames the playout pauses and starts afresh,
// at the target delay, with the next frame.
//
// AdaptivePlayoutCore is the whole behaviour on explicit times (tests drive it directly);
// AdaptivePlayout is its policy face for the playback thread.
#ifndef ORVO_TALK_ADAPTIVE_PLAYOUT_H
#define ORVO_TALK_ADAPTIVE_PLAYOUT_H

#include <atomic>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "talk/jitter_buffer.h"
#include "talk/playout_policy.h"
#include "voice/concealment.h"

namespace orvo::talk {

constexpr int32_t kSamplesPerMs = 8;
constexpr uint32_t kAdaptiveIdleSleepMs = 5;       // arrivals are timed to within this
constexpr int32_t kAdaptiveMarginSamples = 5 * kSamplesPerMs;
constexpr int32_t kAdaptiveStartTargetMs = 40;      // target before any jitter is known
constexpr int32_t kAdaptiveMinWaits = 10;           // waits needed before the delay is steered
constexpr int32_t kAdaptiveLowPercent = 2;
constexpr int32_t kAdaptiveHighPercent = 98;
constexpr int32_t kAdaptiveExcessSamples = 10 * kSamplesPerMs;  // delay above target: shorten
constexpr int32_t kAdaptiveDeficitSamples = 0; // below target at all: lengthen before it runs dry
constexpr int32_t kAdaptivePersistFrames = 100;     // 2 s off target: periodic frames too
// Device blocks of adaptive playout, per back end: a WAV file device takes one 20 ms block per
// 20 ms tick, so one block waiting behind the one it takes suffices; the system device (ALSA with
// its own 100 ms buffer, winmm) and the virtual device get one more for scheduling slack.
constexpr int32_t kAdaptiveDeviceBlocksWav = 2;
constexpr int32_t kAdaptiveDeviceBlocksSystem = 3;

// Counters and levels of adaptive playout, written by the playback thread, read by anyone.
struct PlayoutCounters {
    std::atomic<uint32_t> framesReceived{0};
    std::atomic<uint32_t> framesPlayed{0};
    std::atomic<uint32_t> framesConcealed{0};
    std::atomic<uint32_t> framesLate{0};
    std::atomic<uint32_t> framesDuplicate{0};
    std::atomic<uint32_t> framesFlushed{0};   // overflow, sequence jumps, leaving the mode
    std::atomic<uint32_t> framesReordered{0};
    std::atomic<uint32_t> framesDroppedQuiet{0}; // whole quiet frames left out to lower the delay
    std::atomic<uint32_t> shortenings{0};
    std::atomic<uint32_t> lengthenings{0};
    std::atomic<uint32_t> samplesRemoved{0};
    std::atomic<uint32_t> samplesInserted{0};
    std::atomic<uint32_t> bufferUnderruns{0};
    std::atomic<int32_t> bufferedSamples{0};
    std::atomic<int32_t> targetSamples{0};
    std::atomic<int32_t> jitterSamples{0};
    std::atomic<int32_t> framesBuffered{0};
    void Clear();
};

class AdaptivePlayoutCore {
public:
    // `decoder` decodes the frames (the playback thread's own); `counters` receive the figures.
    AdaptivePlayoutCore(VoiceCodecState *decoder, PlayoutCounters *counters);
    // Empties the buffer (its frames count as flushed) and waits for frames again.
    void Reset();
    // A frame taken in at `nowMs`. `timed`: `sequence` is its true sequence number. `type`: its
    // codec; `resetDecoder`: a new stream starts with it. `arrivalMs`: when it reached the
    // library, if known (-1: now).
    JitterBuffer::Stored Arrive(int64_t nowMs, bool timed, uint32_t sequence,
                                const uint8_t *payload, uint16_t length,
                                int16_t type = VOICE_G711_U, bool resetDecoder = false,
                                int64_t arrivalMs = -1);
    // The next block to play, with `deviceQueued` samples still queued on the device: its sample
    // count (into `out`, room for `capacity`, at least 320); kHold when the next frame is not
    // there yet and the device still holds a frame's worth (ask again shortly); kIdle when
    // nothing is to be played (no frames yet, or the stream paused).
    static constexpr int32_t kHold = -1;
    static constexpr int32_t kIdle = -2;
    int32_t NextBlock(int64_t nowMs, int32_t deviceQueued, int16_t *out, int32_t capacity);

    bool Playing() const { return m_playing; }
    // What the latest block held: a frame (its sequence or arrival number) or concealment.
    bool LastBlockWasFrame() const { return m_lastWasFrame; }
    uint32_t LastSequence() const { return m_frame.sequence; }
    const JitterBuffer &Buffer() const { return m_buffer; }
    int32_t TargetSamples() const { return m_target; }

private:
    int32_t Decode(const JitterFrame &frame, int16_t *out, int32_t capacity);
    void UpdateTarget();
    // Shortens or lengthens a good frame toward the target; returns its new length.
    int32_t TimeScale(int16_t *out, int32_t count, int32_t capacity, bool nextFrameReady);
    int32_t Conceal(int16_t *out);
    void Publish();

    VoiceCodecState *m_decoder;
    PlayoutCounters *m_counters;
    JitterBuffer m_buffer;
    voice::LossConcealer m_concealer;
    JitterFrame m_frame;
    uint8_t m_staged[4 + kPlayPayloadBytes] = {};
    bool m_playing = false;
    bool m_priming = false;
    int64_t m_primeSinceMs = 0;
    bool m_inUnderrun = false;
    bool m_lastWasFrame = false;
    int32_t m_frameSamples = kNominalFrameSamples;
    int32_t m_target = kAdaptiveStartTargetMs * kSamplesPerMs;
    int32_t m_jitter = 0;
    int64_t m_nextTakeSamples = 0; // when playout takes its next frame, in samples of time
    // Talk packets: recent deviations of the arrival intervals from a frame, for the jitter shown.
    WaitWindow m_intervalDeviations;
    int64_t m_lastArrivalMs = -1;
    int32_t m_excess = 0;       // low-percentile wait minus where it should be
    int32_t m_offTargetFrames = 0;
    int64_t m_activeMeanSquare = 0;
};

class AdaptivePlayout final : public PlayoutPolicy {
public:
    AdaptivePlayout(VoiceCodecState *decoder, PlayoutCounters *counters);
    // Takes the frames the producer queued, timing their arrival.
    void Poll(CAudioPlayThread &thread) override;
    PassResult Pass(CAudioPlayThread &thread, int32_t deviceQueued, int16_t *samples,
                    int32_t capacity, int32_t *sampleCount) override;
    uint32_t IdleSleepMs() const override { return kAdaptiveIdleSleepMs; }
    int32_t DeviceBlockLimit() const override { return m_deviceBlocks; }
    void OnSelected(CAudioPlayThread &thread, bool selected) override;

private:
    AdaptivePlayoutCore m_core;
    PlayoutCounters *m_counters;
    PlayFrameSlot m_slot;
    int32_t m_deviceBlocks = kAdaptiveDeviceBlocksSystem;
};

} // namespace orvo::talk

#endif // ORVO_TALK_ADAPTIVE_PLAYOUT_H
