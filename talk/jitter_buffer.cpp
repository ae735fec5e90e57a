#include "talk/jitter_buffer.h"

#include <algorithm>
#include <cstring>

namespace orvo::talk {
namespace {

// RTP sequence numbers are 16 bits: nearby numbers compare by their 16-bit difference.
int32_t SequenceDistance(uint32_t from, uint32_t to)
{
    return static_cast<int16_t>(static_cast<uint16_t>(to - from));
}

// A sequence number this far behind the playout is a restarted sender, not a late frame.
constexpr int32_t kRestartBehind = 4 * kJitterSlots;
constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

bool SameSequence(uint32_t a, uint32_t b) { return static_cast<uint16_t>(a) == static_cast<uint16_t>(b); }

uint64_t Fingerprint(const uint8_t *payload, uint16_t length)
{
    uint64_t hash = kFnvOffset ^ length;
    for (uint16_t i = 0; i < length; ++i)
        hash = (hash ^ payload[i]) * kFnvPrime;
    return hash;
}

} // namespace

void WaitWindow::Clear()
{
    m_next = 0;
    m_count = 0;
    m_shift = 0;
}

void WaitWindow::Add(int32_t waitSamples)
{
    m_values[m_next] = waitSamples - m_shift;
    m_next = (m_next + 1) % kWaitWindow;
    m_count = std::min(m_count + 1, kWaitWindow);
}

int32_t WaitWindow::Percentile(int32_t percent) const
{
    if (m_count == 0)
        return 0;
    int64_t values[kWaitWindow];
    std::copy(m_values, m_values + m_count, values);
    int32_t rank = std::clamp<int32_t>(percent * m_count / 100, 0, m_count - 1);
    std::nth_element(values, values + rank, values + m_count);
    return static_cast<int32_t>(values[rank] + m_shift);
}

void JitterBuffer::Clear()
{
    for (int32_t i = 0; i < kJitterSlots; ++i) {
        m_used[i] = false;
        m_played[i] = false;
    }
    m_frames = 0;
    m_bufferedSamples = 0;
    m_started = false;
    m_concealedSamples = 0;
    m_recentNext = 0;
    std::fill(m_recent, m_recent + kDuplicateMemory, 0);
    m_waits.Clear();
}

void JitterBuffer::Restart(uint32_t sequence)
{
    m_flushed += static_cast<uint32_t>(m_frames);
    for (int32_t i = 0; i < kJitterSlots; ++i) {
        m_used[i] = false;
        m_played[i] = false;
    }
    m_frames = 0;
    m_bufferedSamples = 0;
    m_next = sequence;
    m_highest = sequence;
    m_concealedSamples = 0;
    m_started = true;
}

bool JitterBuffer::IsDuplicateOfRecent(const uint8_t *payload, uint16_t length) const
{
    const uint64_t print = Fingerprint(payload, length);
    for (uint64_t recent : m_recent) {
        if (recent == print)
            return true;
    }
    return false;
}

void JitterBuffer::RememberArrival(const uint8_t *payload, uint16_t length)
{
    m_recent[m_recentNext] = Fingerprint(payload, length);
    m_recentNext = (m_recentNext + 1) % kDuplicateMemory;
}

int32_t JitterBuffer::WaitOf(uint32_t sequence, int32_t lead) const
{
    if (!m_timed)
        return lead + m_bufferedSamples - m_concealedSamples;
    return lead + SequenceDistance(m_next, sequence) * m_frameSamples - m_concealedSamples;
}

JitterBuffer::Stored JitterBuffer::Insert(bool timed, uint32_t sequence, const uint8_t *payload,
                                          uint16_t length, uint16_t samples, int32_t lead,
                                          int16_t type, bool resetDecoder)
{
    length = std::min<uint16_t>(length, kPlayPayloadBytes);
    if (!m_started || timed != m_timed) {
        m_timed = timed;
        Restart(timed ? sequence : m_arrivals);
    }
    if (!timed) {
        if (IsDuplicateOfRecent(payload, length))
            return Stored::Duplicate;
        RememberArrival(payload, length);
        if (m_frames >= kJitterSlots) { // the oldest makes room
            m_used[SlotOf(m_next)] = false;
            m_bufferedSamples -= m_slots[SlotOf(m_next)].samples;
            --m_frames;
            ++m_next;
            ++m_flushed;
        }
        sequence = m_arrivals++;
    } else {
        int32_t ahead = SequenceDistance(m_next, sequence);
        const int32_t slot = SlotOf(sequence);
        if (ahead < 0) {
            if (ahead < -kRestartBehind) {
                Restart(sequence);
                ahead = 0;
            } else {
                if (m_played[slot] && SameSequence(m_slots[slot].sequence, sequence))
                    return Stored::Duplicate;
                m_waits.Add(WaitOf(sequence, lead));
                return Stored::Late;
            }
        } else if (ahead >= kJitterSlots) {
            Restart(sequence); // a jump beyond the buffer: start again from this frame
            ahead = 0;
        }
        if (m_used[slot] && SameSequence(m_slots[slot].sequence, sequence))
            return Stored::Duplicate;
        if (SequenceDistance(m_highest, sequence) < 0)
            ++m_reordered;
        else
            m_highest = sequence;
    }
    if (samples > 0)
        m_frameSamples = samples;
    m_waits.Add(WaitOf(sequence, lead));
    const int32_t slot = SlotOf(sequence);
    JitterFrame &frame = m_slots[slot];
    frame.sequence = sequence;
    frame.length = length;
    frame.samples = samples;
    frame.type = type;
    frame.resetDecoder = resetDecoder;
    if (length > 0)
        std::memcpy(frame.payload, payload, length);
    m_used[slot] = true;
    m_played[slot] = false;
    ++m_frames;
    m_bufferedSamples += samples;
    return Stored::Yes;
}

bool JitterBuffer::HeadPresent() const
{
    if (m_frames == 0)
        return false;
    if (!m_timed)
        return true;
    uint32_t next = m_next;
    int32_t covered = m_concealedSamples / std::max<int32_t>(1, m_frameSamples);
    while (covered > 0 && !m_used[SlotOf(next)]) {
        ++next;
        --covered;
    }
    const int32_t slot = SlotOf(next);
    return m_used[slot] && SameSequence(m_slots[slot].sequence, next);
}

void JitterBuffer::Resync()
{
    Restart(m_next);
    m_started = false;
}

void JitterBuffer::Concealed(int32_t samples)
{
    if (samples > 0)
        m_concealedSamples += samples;
}

JitterBuffer::Taken JitterBuffer::Take(JitterFrame *out)
{
    if (m_frames == 0)
        return Taken::Empty;
    if (m_concealedSamples > 0) {
        // The stream goes on after a stretch concealed while nothing was there: lost frames that
        // the concealment covered are skipped; what it played beyond them moved playout later.
        int32_t skipped = 0;
        if (m_timed) {
            const int32_t covered = m_concealedSamples / std::max<int32_t>(1, m_frameSamples);
            while (skipped < covered && !m_used[SlotOf(m_next)]) {
                ++m_next;
                ++skipped;
            }
        }
        m_waits.Shift(m_concealedSamples - skipped * m_frameSamples);
        m_concealedSamples = 0;
    }
    const int32_t slot = SlotOf(m_next);
    if (!m_used[slot] || !SameSequence(m_slots[slot].sequence, m_next)) {
        ++m_next; // its turn has come and a later frame is there: lost
        return Taken::Lost;
    }
    *out = m_slots[slot];
    m_used[slot] = false;
    m_played[slot] = true;
    --m_frames;
    m_bufferedSamples -= out->samples;
    ++m_next;
    return Taken::Frame;
}

} // namespace orvo::talk
