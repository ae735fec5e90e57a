#include "talk/talk_ring.h"

#include <cstring>
#include <new>

namespace orvo::talk {

bool TalkRing::Allocate(int32_t slotCapacity)
{
    Free();
    m_slotCapacity = slotCapacity;
    for (TalkSlot &slot : m_slots) {
        slot.buffer = new (std::nothrow) uint8_t[slotCapacity];
        slot.length = 0;
        if (!slot.buffer) {
            Free();
            return false;
        }
    }
    m_writeIndex.store(0, std::memory_order_relaxed);
    m_readIndex.store(0, std::memory_order_relaxed);
    return true;
}

void TalkRing::Free()
{
    for (TalkSlot &slot : m_slots) {
        delete[] slot.buffer;
        slot.buffer = nullptr;
        slot.length = 0;
    }
    m_slotCapacity = 0;
}

bool TalkRing::Append(const void *data, int32_t length)
{
    if (length < 0 || length > m_slotCapacity || (!data && length > 0))
        return false;
    int32_t write = m_writeIndex.load(std::memory_order_relaxed); // only this side writes it
    int32_t next = Next(write);
    if (next == m_readIndex.load(std::memory_order_acquire))
        return false; // full: the reader has not yet copied the slot `next` would reuse
    TalkSlot &slot = m_slots[write];
    if (!slot.buffer)
        return false;
    if (length > 0)
        std::memcpy(slot.buffer, data, static_cast<size_t>(length));
    slot.length = length;
    m_writeIndex.store(next, std::memory_order_release);
    return true;
}

bool TalkRing::Take(void *out, int32_t capacity, int32_t *length)
{
    int32_t read = m_readIndex.load(std::memory_order_relaxed); // only this side writes it
    if (read == m_writeIndex.load(std::memory_order_acquire))
        return false;
    const TalkSlot &slot = m_slots[read];
    if (!out || slot.length > capacity)
        return false;
    if (slot.length > 0)
        std::memcpy(out, slot.buffer, static_cast<size_t>(slot.length));
    *length = slot.length;
    m_readIndex.store(Next(read), std::memory_order_release);
    return true;
}

int32_t TalkRing::Count() const
{
    int32_t write = m_writeIndex.load(std::memory_order_acquire);
    int32_t read = m_readIndex.load(std::memory_order_acquire);
    return (write - read + kSlots) % kSlots;
}

} // namespace orvo::talk
