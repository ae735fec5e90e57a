// Counters of the talk service, shown by Orvo_GetAudioTalkStats. Relaxed atomics: each is a plain
// tally, read for display, never used to order other memory.
#ifndef ORVO_TALK_TALK_COUNTERS_H
#define ORVO_TALK_TALK_COUNTERS_H

#include <atomic>
#include <cstdint>

namespace orvo::talk {

struct TalkCounters {
    std::atomic<uint32_t> packetsCaptured{0};
    std::atomic<uint32_t> packetsDroppedOut{0}; // outgoing ring full
    std::atomic<uint32_t> packetsDroppedIn{0};  // incoming ring full
    std::atomic<uint32_t> packetsReceived{0};   // taken for playback, or refused at the door
    std::atomic<uint32_t> packetsRejected{0};   // of those, failing the checks
    std::atomic<uint32_t> framesDroppedOverflow{0}; // oldest queued frame dropped for a new one
};

TalkCounters &Counters();

// The capture thread after each encoded packet: `kept` is false when the outgoing ring was full.
inline void CountCapturedPacket(bool kept)
{
    Counters().packetsCaptured.fetch_add(1, std::memory_order_relaxed);
    if (!kept)
        Counters().packetsDroppedOut.fetch_add(1, std::memory_order_relaxed);
}

// Orvo_InputTalkData with talk on and a length outside 0 to the slot capacity: received, rejected.
inline void CountRefusedPacket()
{
    Counters().packetsReceived.fetch_add(1, std::memory_order_relaxed);
    Counters().packetsRejected.fetch_add(1, std::memory_order_relaxed);
}

inline void CountIncomingDropped() { Counters().packetsDroppedIn.fetch_add(1, std::memory_order_relaxed); }

} // namespace orvo::talk

#endif // ORVO_TALK_TALK_COUNTERS_H
