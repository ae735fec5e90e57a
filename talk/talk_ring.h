// The talk packet and the single-writer, single-reader ring that carries packets between the
// capture thread, the host and (incoming) the playback side.
#ifndef ORVO_TALK_TALK_RING_H
#define ORVO_TALK_TALK_RING_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace orvo::talk {

// TalkPacket: 2-byte talk header, then one voice frame (4-byte header + payload).
constexpr uint8_t kTalkHeaderByte0 = 0x80;
constexpr uint8_t kTalkHeaderByte1 = 0x06;
constexpr int32_t kTalkHeaderBytes = 2;
constexpr int32_t kVoiceFrameHeaderBytes = 4;
constexpr int32_t kFrameLengthOffset = kTalkHeaderBytes + 2; // VoiceFrameHeader::length
constexpr int32_t kSamplesPerPacket = 160;                   // 20 ms at 8000 Hz
constexpr int32_t kTalkPacketBytes = 166;                     // with a 160-sample mu-law frame

constexpr int32_t kOutgoingSlotCapacity = 500;
constexpr int32_t kIncomingSlotCapacity = 1024;

constexpr size_t kCacheLineBytes = 64;

struct TalkSlot {
    uint8_t *buffer = nullptr; // slot capacity bytes, owned by the ring
    int32_t length = 0;        // bytes of the packet held
};

// Fifteen slots holding at most fourteen packets (full when write + 1 == read, modulo 15). The writer
// fills a slot, then publishes the write index with a release store; the reader loads it with acquire,
// copies the slot out, then publishes the read index with release. Each index has its own cache line.
class TalkRing {
public:
    static constexpr int32_t kSlots = 15;

    TalkRing() = default;
    ~TalkRing() { Free(); }
    TalkRing(const TalkRing &) = delete;
    TalkRing &operator=(const TalkRing &) = delete;

    // Allocates every slot buffer (at construction of the owner). False if memory ran out.
    bool Allocate(int32_t slotCapacity);
    // Releases every slot buffer that exists. Not while a reader or writer is active.
    void Free();

    // Writer. Copies the packet into the slot at the write index and publishes it. False, ring
    // unchanged, when the ring is full or the length is negative, above the slot capacity or the
    // data is null (for a positive length).
    bool Append(const void *data, int32_t length);

    // Reader. Copies the oldest packet into `out` (room for `capacity` bytes) and stores its length.
    // False, nothing taken, when the ring is empty or the packet is larger than `capacity`.
    bool Take(void *out, int32_t capacity, int32_t *length);

    int32_t Count() const;
    bool Empty() const { return Count() == 0; }
    int32_t WriteIndex() const { return m_writeIndex.load(std::memory_order_acquire); }
    int32_t ReadIndex() const { return m_readIndex.load(std::memory_order_acquire); }
    int32_t SlotCapacity() const { return m_slotCapacity; }
    const TalkSlot &Slot(int32_t index) const { return m_slots[index]; }

    static int32_t Next(int32_t index) { return (index + 1) % kSlots; }

private:
    alignas(kCacheLineBytes) std::atomic<int32_t> m_writeIndex{0};
    alignas(kCacheLineBytes) std::atomic<int32_t> m_readIndex{0};
    alignas(kCacheLineBytes) int32_t m_slotCapacity = 0;
    TalkSlot m_slots[kSlots];
};

} // namespace orvo::talk

#endif // ORVO_TALK_TALK_RING_H
