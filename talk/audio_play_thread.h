// CAudioPlayThread: the playback thread of the talk service. It takes sequence-numbered voice
// frames out of its 25-slot jitter queue, rebuilds each frame's header, decodes it with the codec
// the slot names (G.711 mu-law unless the producer says otherwise) and plays the samples on the playback device, one frame per free playback block. While 1 to 14
// frames wait it plays every ninth frame (after the first ten) twice, so that a short queue drains
// more slowly than the device plays and can grow back.
//
// Producer side (another thread, or the pass hook on this one): write the slot at the write index,
// then publish it by raising the queued count (QueueFrame does both in that order).
#ifndef ORVO_TALK_AUDIO_PLAY_THREAD_H
#define ORVO_TALK_AUDIO_PLAY_THREAD_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "orvoaudio/voice.h"
#include "platform/thread.h"
#include "platform/wave.h"
#include "talk/playout_policy.h"

namespace orvo::talk {

constexpr int32_t kPlayQueueSlots = 25;
constexpr int32_t kPlayPayloadBytes = 640;   // payload capacity of one queue slot
constexpr int32_t kPlayBlockCount = 10;
constexpr uint32_t kPlayBlockBytes = 640;     // 320 samples, 40 ms
constexpr int32_t kPlayFrameSamples = 160;    // the 20 ms frame a block usually holds
constexpr int32_t kPlayConsumeThreshold = 15; // from this many queued frames on, no stretching
constexpr int32_t kPlayRepeatInterval = 10;   // repeat counter start value
constexpr uint32_t kPlaySequenceHoldSpan = 9; // heads 1 to 9 ahead of the expected number wait
constexpr uint32_t kPlayIdleSleepMs = 20;
constexpr uint32_t kPlayCloseDrainMs = 50;   // lets the last blocks play before the reset
constexpr uint32_t kPlayResetSettleMs = 10;

// One entry of the jitter queue: a frame's codec payload without its VoiceFrameHeader.
struct PlayFrameSlot {
    uint32_t sequence = 0;
    uint16_t length = 0; // payload bytes
    int16_t type = VOICE_G711_U; // codec of the payload; a change resets the decoder
    bool resetDecoder = false;   // first frame of a new stream: decode from a fresh state
    // The sequence number is the sender's own and the frames may come in any order: adaptive
    // playout then reorders by it and tells losses. No producer queues such frames now (the RTP
    // path hands them over in order), so it is false and frames are taken as they come.
    bool timed = false;
    uint32_t timestamp = 0; // the sender's media timestamp, when timed
    int64_t arrivalMs = -1; // platform clock when it reached the library (-1: when queued)
    uint8_t payload[kPlayPayloadBytes] = {};
};

class CAudioPlayThread;
class StretchPlayout;
class AdaptivePlayout;
struct PlayoutCounters;

// Called by the playback thread at the start of every pass of PlayLoop, so that a producer can
// fill the jitter queue on the thread that empties it.
class PlayPassHook {
public:
    virtual ~PlayPassHook() = default;
    virtual void OnPass(CAudioPlayThread &thread) = 0;
};

class CAudioPlayThread : public platform::CWinThread {
    ORVO_DECLARE_DYNCREATE(CAudioPlayThread)

public:
    // Resets the decoder, allocates the ten blocks, opens and prepares the playback device.
    CAudioPlayThread();
    // Stops the thread, then resets and closes the device and frees the blocks.
    ~CAudioPlayThread() override;

    bool InitInstance() override;
    int Run() override;
    int ExitInstance() override;

    // State 1 plays (and restarts the repeat counter); anything else pauses, keeping the queue.
    void SetPlayState(int32_t state);
    int32_t GetPlayState() const { return m_nPlayState.load(std::memory_order_acquire); }
    void Lock() { m_cs.Lock(); }
    void Unlock() { m_cs.Unlock(); }
    // Runs until a stop is requested.
    void PlayLoop();
    // Puts up to one block (640 bytes) of samples into the next playback block if it is free.
    void WriteBlock(const int16_t *samples, int32_t byteCount);
    // With the opened flag set: waits for the last blocks, resets the device, frees the blocks and
    // closes the device.
    void ClosePlayback();

    // ---- producer side
    void SetOpened(bool opened) { m_bOpened.store(opened, std::memory_order_release); }
    bool IsOpened() const { return m_bOpened.load(std::memory_order_acquire); }
    // The result of waveOutOpen at construction (0: the device is open).
    platform::MMRESULT DeviceOpenResult() const { return m_openResult; }
    void SetExpectedSequence(uint32_t sequence)
    {
        m_nExpectedSequence.store(sequence, std::memory_order_release);
    }
    uint32_t ExpectedSequence() const { return m_nExpectedSequence.load(std::memory_order_acquire); }
    // Writes the slot at the write index (a length above the payload capacity is cut to it),
    // advances the write index and then raises the queued count. False, nothing queued, when all
    // 25 slots are taken or the payload is null with a length above 0.
    // `type` is the payload's codec; `resetDecoder` starts the decoder afresh at this frame.
    // `arrivalMs`: when it reached the library (platform clock), if known.
    bool QueueFrame(uint32_t sequence, const uint8_t *payload, uint16_t length,
                    int16_t type = VOICE_G711_U, bool resetDecoder = false,
                    int64_t arrivalMs = -1);
    // Copies the frame at the read index out and takes it from the queue (counted as consumed);
    // the consumer side, like DropOldestFrame. False when the queue is empty.
    bool TakeFrame(PlayFrameSlot *out);
    // Drops the frame at the read index. Only on the playback thread (the pass hook) or while the
    // thread is at rest: it moves the read index like the loop does. False when the queue is empty.
    bool DropOldestFrame();
    int32_t QueuedCount() const { return m_nQueued.load(std::memory_order_acquire); }
    // The sequence number of the frame the loop takes next; meaningful while QueuedCount() > 0.
    uint32_t HeadSequence() const { return m_frames[m_nReadIndex].sequence; }
    void SetPassHook(PlayPassHook *hook) { m_passHook.store(hook, std::memory_order_release); }

    // ---- playout mode (kPlayoutStretch, kPlayoutAdaptive): any thread; the loop changes policy
    // at the start of its next pass. Frames held by adaptive playout are dropped when it is left.
    void SetPlayoutMode(int32_t mode) { m_requestedMode.store(mode, std::memory_order_release); }
    int32_t PlayoutMode() const { return m_activeMode.load(std::memory_order_acquire); }
    const PlayoutCounters &AdaptiveCounters() const { return *m_adaptiveCounters; }
    // Audio queued on the device after the latest block written, and the most the policy allows.
    int32_t DeviceQueuedSamples() const { return m_deviceQueued.load(std::memory_order_relaxed); }
    int32_t DeviceLimitSamples() const { return m_deviceLimit.load(std::memory_order_relaxed); }

    // ---- for the policies: decoding with this thread's decoder
    // Copies a payload into the frame staging buffer (behind its header space).
    void StagePayload(const uint8_t *payload, uint16_t length);
    // Rebuilds the header for `length` staged payload bytes and decodes with `decoder` (null: this
    // thread's); the sample count (0 if the decoder refused the frame), at most `capacity`.
    int32_t DecodeStaged(uint16_t length, int16_t *samples, int32_t capacity,
                         VoiceCodecState *decoder = nullptr);
    VoiceCodecState *Decoder() { return &m_decoder; }

    // ---- counters (any thread)
    uint32_t FramesConsumed() const { return m_framesConsumed.load(std::memory_order_relaxed); }
    uint32_t FramesRepeated() const { return m_framesRepeated.load(std::memory_order_relaxed); }

    // ---- for tests and diagnostics, read while the thread is at rest
    int32_t RepeatCounter() const { return m_nRepeatCounter.load(std::memory_order_relaxed); }
    int32_t ReadIndex() const { return m_nReadIndex; }
    int32_t WriteIndex() const { return m_nWriteIndex; }
    int32_t PlaybackBlockIndex() const { return m_nPlayBlock; }
    bool HasPlaybackBlocks() const { return m_pPlayBlocks != nullptr; }
    bool HasDevice() const { return m_hWaveOut != nullptr; }
    const platform::WAVEFORMATEX &PlaybackFormat() const { return m_waveFormat; }
    platform::MMRESULT LastDeviceResult() const { return m_lastResult; }

private:
    friend class StretchPlayout;
    bool QueueSlot(uint32_t sequence, bool timed, uint32_t timestamp, int64_t arrivalMs,
                   const uint8_t *payload, uint16_t length, int16_t type, bool resetDecoder);
    // The next block is free and fewer than `limit` blocks wait on the device.
    bool BlockFree(int32_t limit) const;
    int32_t QueuedBlockSamples() const;
    void ApplyRequestedMode();
    // Resets the device, releases the blocks and closes the device.
    void ReleaseDevice();
    void ReleaseBlock(int32_t index);

    std::atomic<uint32_t> m_nExpectedSequence{0}; // reference for the sequence gate
    std::atomic<int32_t> m_nRepeatCounter{kPlayRepeatInterval};
    std::atomic<bool> m_bOpened{false};
    std::atomic<int32_t> m_nQueued{0}; // raised by the producer after the slot is written
    int32_t m_nWriteIndex = 0;         // the producer's
    int32_t m_nReadIndex = 0;          // the loop's
    PlayFrameSlot m_frames[kPlayQueueSlots];
    int32_t m_nPlayBlock = 0;
    platform::WAVEHDR *m_pPlayBlocks = nullptr;
    platform::CCriticalSection m_cs; // for Lock/Unlock callers; the loop never enters it
    VoiceCodecState m_decoder{};
    std::atomic<int32_t> m_nPlayState{0};
    platform::HWAVEOUT m_hWaveOut = nullptr;
    platform::WAVEFORMATEX m_waveFormat{};
    platform::MMRESULT m_lastResult = platform::MMSYSERR_NOERROR;
    platform::MMRESULT m_openResult = platform::MMSYSERR_NOERROR;
    std::atomic<PlayPassHook *> m_passHook{nullptr};
    std::atomic<uint32_t> m_framesConsumed{0};
    std::atomic<uint32_t> m_framesRepeated{0};

    alignas(uint16_t) uint8_t m_stagedFrame[4 + kPlayPayloadBytes] = {};
    std::unique_ptr<StretchPlayout> m_stretch;
    std::unique_ptr<PlayoutCounters> m_adaptiveCounters;
    std::unique_ptr<AdaptivePlayout> m_adaptive;
    PlayoutPolicy *m_policy = nullptr;
    std::atomic<int32_t> m_requestedMode{kPlayoutStretch};
    std::atomic<int32_t> m_activeMode{kPlayoutStretch};
    std::atomic<int32_t> m_deviceQueued{0};
    std::atomic<int32_t> m_deviceLimit{0};
};

} // namespace orvo::talk

#endif // ORVO_TALK_AUDIO_PLAY_THREAD_H
