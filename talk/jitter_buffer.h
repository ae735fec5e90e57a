// The jitter buffer of adaptive playout: frames keyed by their sequence number (when they carry
// true numbers, as RTP does) or by arrival order (talk packets), taken out in playout order.
//
// With sequence numbers it reorders, drops duplicates and frames that come after their turn, and
// tells a lost frame (a later one is there) from a late one (nothing is there yet: the playout
// waits for it, concealing, and skips what it concealed once the stream goes on). In arrival order
// a frame is never late; a frame byte for byte equal to one of the last few is a duplicate.
//
// For every frame stored it records the frame's wait: how much audio (in samples) lies ahead of it
// in playout. Low percentiles of the recent waits tell whether the buffer holds more than the
// jitter needs or less; their spread is the observed jitter.
#ifndef ORVO_TALK_JITTER_BUFFER_H
#define ORVO_TALK_JITTER_BUFFER_H

#include <cstdint>

#include "talk/audio_play_thread.h"

namespace orvo::talk {

constexpr int32_t kJitterSlots = 64;        // 1.28 s of 20 ms frames
constexpr int32_t kWaitWindow = 100;        // recent waits kept: 2 s of 20 ms frames
constexpr int32_t kDuplicateMemory = 4;     // arrival order: frames compared for duplicates
constexpr int32_t kNominalFrameSamples = 160;

// Recent waits, in samples, shifted by what playout inserted or removed since they were seen.
class WaitWindow {
public:
    void Clear();
    void Add(int32_t waitSamples);
    // Playout inserted (positive) or removed (negative) samples: waits seen so far change by it.
    void Shift(int32_t samples) { m_shift += samples; }
    int32_t Count() const { return m_count; }
    // The value below which `percent` of the recent waits lie (0 when empty).
    int32_t Percentile(int32_t percent) const;

private:
    int64_t m_values[kWaitWindow] = {};
    int32_t m_next = 0;
    int32_t m_count = 0;
    int64_t m_shift = 0; // stored value = wait - shift at the time it was seen
};

struct JitterFrame {
    uint32_t sequence = 0;
    uint16_t length = 0;
    uint16_t samples = 0; // samples the frame decodes to (estimated from its length)
    int16_t type = VOICE_G711_U;
    bool resetDecoder = false; // a new stream starts here
    uint8_t payload[kPlayPayloadBytes] = {};
};

class JitterBuffer {
public:
    enum class Stored { Yes, Duplicate, Late };
    enum class Taken { Frame, Lost, Empty };

    void Clear();
    // Stores one frame. `timed`: `sequence` is its true sequence number (16 bits are compared).
    // `lead`: samples until the playout takes its next frame (part of every wait).
    Stored Insert(bool timed, uint32_t sequence, const uint8_t *payload, uint16_t length,
                  uint16_t samples, int32_t lead = 0, int16_t type = VOICE_G711_U,
                  bool resetDecoder = false);
    // The next frame in playout order into *out (Frame); Lost when its turn has come and a later
    // frame is there; Empty when nothing is there. After Empty the playout conceals `concealed`
    // samples and says so with Concealed(), so the frames that come late are placed after them.
    Taken Take(JitterFrame *out);
    void Concealed(int32_t samples);
    // Take() would give a frame now (rather than Lost or Empty).
    bool HeadPresent() const;
    // Playout stopped (the stream paused): the next frame starts the order afresh.
    void Resync();

    int32_t Frames() const { return m_frames; }
    // Audio in the buffer, in samples (frames held times their length).
    int32_t BufferedSamples() const { return m_bufferedSamples; }
    WaitWindow &Waits() { return m_waits; }
    const WaitWindow &Waits() const { return m_waits; }
    // Frames dropped to make room or on a jump of the sequence numbers (counted here).
    uint32_t Flushed() const { return m_flushed; }
    uint32_t Reordered() const { return m_reordered; }

private:
    int32_t SlotOf(uint32_t sequence) const { return static_cast<int32_t>(sequence % kJitterSlots); }
    void Restart(uint32_t sequence);
    bool IsDuplicateOfRecent(const uint8_t *payload, uint16_t length) const;
    void RememberArrival(const uint8_t *payload, uint16_t length);
    int32_t WaitOf(uint32_t sequence, int32_t lead) const;

    JitterFrame m_slots[kJitterSlots];
    bool m_used[kJitterSlots] = {};
    bool m_played[kJitterSlots] = {}; // the slot's frame was taken (a copy of it is a duplicate)
    int32_t m_frames = 0;
    int32_t m_bufferedSamples = 0;
    bool m_timed = false;
    bool m_started = false;        // m_next is meaningful
    uint32_t m_next = 0;           // sequence (or arrival number) played next
    uint32_t m_arrivals = 0;       // arrival numbers handed out
    uint32_t m_highest = 0;        // highest sequence stored
    int32_t m_frameSamples = kNominalFrameSamples;
    int32_t m_concealedSamples = 0; // concealed while empty, not yet set against the stream
    uint64_t m_recent[kDuplicateMemory] = {};
    int32_t m_recentNext = 0;
    WaitWindow m_waits;
    uint32_t m_flushed = 0;
    uint32_t m_reordered = 0;
};

} // namespace orvo::talk

#endif // ORVO_TALK_JITTER_BUFFER_H
