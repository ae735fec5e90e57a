// The jitter buffer on its own: arrival orders against what Take gives, with duplicates, late
// frames, losses, sequence wrap and jumps, arrival order without numbers, and the waits it records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "talk/jitter_buffer.h"

namespace orvo::talk {
namespace {

constexpr uint16_t kFrame = 160;

std::vector<uint8_t> Payload(uint32_t id)
{
    return std::vector<uint8_t>(kFrame, static_cast<uint8_t>(id * 7 + 1));
}

// One step of a case: a frame arrives (>= 0) or the playout takes one (-1).
constexpr int kTake = -1;

struct Case {
    const char *name;
    bool timed;
    std::vector<int> steps;
    std::string taken;          // F<id> for a frame, L for lost, E for empty, one per take
    uint32_t duplicates, late;
};

std::string Play(const Case &c, uint32_t base, uint32_t *duplicates, uint32_t *late)
{
    JitterBuffer buffer;
    buffer.Clear();
    std::string taken;
    *duplicates = *late = 0;
    for (int step : c.steps) {
        if (step != kTake) {
            const uint32_t sequence = base + static_cast<uint32_t>(step);
            std::vector<uint8_t> payload = Payload(static_cast<uint32_t>(step));
            switch (buffer.Insert(c.timed, sequence, payload.data(), kFrame, kFrame)) {
            case JitterBuffer::Stored::Duplicate: ++*duplicates; break;
            case JitterBuffer::Stored::Late: ++*late; break;
            case JitterBuffer::Stored::Yes: break;
            }
            continue;
        }
        JitterFrame frame;
        bool present = buffer.HeadPresent();
        switch (buffer.Take(&frame)) {
        case JitterBuffer::Taken::Frame:
            EXPECT_TRUE(present);
            taken += "F" + std::to_string(frame.payload[0] / 7) + " ";
            break;
        case JitterBuffer::Taken::Lost:
            EXPECT_FALSE(present);
            taken += "L ";
            break;
        case JitterBuffer::Taken::Empty:
            EXPECT_FALSE(present);
            buffer.Concealed(kFrame); // what the playout does: it conceals a frame
            taken += "E ";
            break;
        }
    }
    return taken;
}

TEST(JitterBuffer, ArrivalOrdersAgainstPlayoutOrder)
{
    const std::vector<Case> cases = {
        {"in order", true, {1, kTake, 2, kTake, 3, kTake}, "F1 F2 F3 ", 0, 0},
        {"swapped", true, {1, 3, 2, kTake, kTake, kTake}, "F1 F2 F3 ", 0, 0},
        {"duplicate waiting and played", true, {1, 1, kTake, 1, 2, kTake}, "F1 F2 ", 2, 0},
        {"a loss with a later frame there", true, {1, 3, kTake, kTake, kTake}, "F1 L F3 ", 0, 0},
        // Nothing there: concealed; the late frame is dropped once its turn was concealed and
        // the stream went on, and the concealment counts for it.
        {"late after its turn", true, {1, kTake, kTake, 3, kTake, 2, kTake}, "F1 E F3 E ", 0, 1},
        // The frame comes while its turn is being concealed: it plays late, nothing skipped.
        {"late but not given up", true, {1, kTake, kTake, 2, kTake}, "F1 E F2 ", 0, 0},
        {"talk packets in arrival order", false, {3, 1, 2, kTake, kTake, kTake}, "F3 F1 F2 ", 0, 0},
        {"talk packet duplicate", false, {1, 1, 2, kTake, kTake, kTake}, "F1 F2 E ", 1, 0},
        {"empty", true, {kTake}, "E ", 0, 0},
    };
    for (uint32_t base : {0u, 65533u, 0xFFFFFFFEu}) {
        for (const Case &c : cases) {
            uint32_t duplicates = 0, late = 0;
            EXPECT_EQ(Play(c, base, &duplicates, &late), c.taken) << c.name << " from " << base;
            EXPECT_EQ(duplicates, c.duplicates) << c.name;
            EXPECT_EQ(late, c.late) << c.name;
        }
    }
}

TEST(JitterBuffer, JumpsRestartAndOverflowFlushes)
{
    JitterBuffer buffer;
    buffer.Clear();
    std::vector<uint8_t> payload = Payload(1);
    ASSERT_EQ(buffer.Insert(true, 100, payload.data(), kFrame, kFrame), JitterBuffer::Stored::Yes);
    ASSERT_EQ(buffer.Insert(true, 101, payload.data(), kFrame, kFrame), JitterBuffer::Stored::Yes);
    // Far ahead (beyond the buffer): the old frames go, the stream starts again there.
    ASSERT_EQ(buffer.Insert(true, 100 + kJitterSlots + 5, payload.data(), kFrame, kFrame),
              JitterBuffer::Stored::Yes);
    EXPECT_EQ(buffer.Flushed(), 2u);
    EXPECT_EQ(buffer.Frames(), 1);
    JitterFrame frame;
    ASSERT_EQ(buffer.Take(&frame), JitterBuffer::Taken::Frame);
    EXPECT_EQ(frame.sequence, 100u + kJitterSlots + 5);
    // A little behind is late; far behind is a restarted sender, taken as a new stream.
    ASSERT_EQ(buffer.Insert(true, 170 - 100, payload.data(), kFrame, kFrame), JitterBuffer::Stored::Late);
    ASSERT_EQ(buffer.Insert(true, 60000, payload.data(), kFrame, kFrame), JitterBuffer::Stored::Yes);
    ASSERT_EQ(buffer.Take(&frame), JitterBuffer::Taken::Frame);
    EXPECT_EQ(frame.sequence, 60000u);

    // Talk packets beyond the slots: the oldest makes room.
    JitterBuffer arrival;
    arrival.Clear();
    for (uint32_t i = 0; i < kJitterSlots + 3; ++i) {
        std::vector<uint8_t> p = Payload(i);
        p[1] = static_cast<uint8_t>(i); // distinct, so none is a duplicate
        ASSERT_EQ(arrival.Insert(false, 0, p.data(), kFrame, kFrame), JitterBuffer::Stored::Yes);
    }
    EXPECT_EQ(arrival.Frames(), kJitterSlots);
    EXPECT_EQ(arrival.Flushed(), 3u);
    EXPECT_EQ(arrival.BufferedSamples(), kJitterSlots * kFrame);
    ASSERT_EQ(arrival.Take(&frame), JitterBuffer::Taken::Frame);
    EXPECT_EQ(frame.payload[1], 3); // the fourth arrival is the oldest kept
}

TEST(JitterBuffer, WaitsCountTheAudioAheadAndFollowShifts)
{
    JitterBuffer buffer;
    buffer.Clear();
    std::vector<uint8_t> payload = Payload(1);
    for (uint32_t s = 0; s < 4; ++s)
        buffer.Insert(true, s, payload.data(), kFrame, kFrame, 40);
    // Frame s waits for the frames ahead of it and the 40 samples until the next take.
    EXPECT_EQ(buffer.Waits().Count(), 4);
    EXPECT_EQ(buffer.Waits().Percentile(0), 40);
    EXPECT_EQ(buffer.Waits().Percentile(99), 3 * kFrame + 40);
    buffer.Waits().Shift(-100); // playout took 100 samples out
    EXPECT_EQ(buffer.Waits().Percentile(0), -60);
    // A late frame's wait is negative: it came after its turn.
    JitterFrame frame;
    for (int i = 0; i < 4; ++i)
        buffer.Take(&frame);
    buffer.Waits().Clear();
    EXPECT_EQ(buffer.Insert(true, 1, payload.data(), kFrame, kFrame), JitterBuffer::Stored::Duplicate);
    std::vector<uint8_t> other = Payload(2);
    EXPECT_EQ(buffer.Insert(true, 2, other.data(), kFrame, kFrame), JitterBuffer::Stored::Duplicate);
    EXPECT_EQ(buffer.Waits().Count(), 0); // duplicates are not waits
}

} // namespace
} // namespace orvo::talk
