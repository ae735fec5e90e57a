// Ordering received RTP frames by sequence number (RtpReorderer), table-driven: wrap at 65535,
// reordering, duplicates, late arrivals, losses given up by depth and by time, SSRC changes, jumps
// of the numbering, codec changes. Each case lists the packets as they arrive and what must come
// out, in order, with its extended sequence number.
#include <gtest/gtest.h>

#include <vector>

#include "orvoaudio/voice.h"
#include "talk/rtp_receive.h"

namespace orvo::talk {
namespace {

struct Arrival {
    uint32_t ssrc;
    uint16_t sequence;
    int64_t atMs;
    int16_t type = VOICE_G711_U;
};

struct Out {
    uint32_t sequence;
    bool newStream = false;
};

struct Counts {
    uint32_t inOrder, reordered, late, duplicates, droppedStream, lost, ssrcChanges, codecChanges,
        restarts;
};

struct Case {
    const char *name;
    std::vector<Arrival> arrivals;
    int64_t expireAtMs; // Expire() once at the end (-1: not)
    std::vector<Out> delivered;
    Counts counts;
};

class RecordingSink final : public OrderedFrameSink {
public:
    void Deliver(const OrderedFrame &frame) override
    {
        frames.push_back(frame);
        payloadFirstBytes.push_back(frame.length > 0 ? frame.payload[0] : -1);
    }
    std::vector<OrderedFrame> frames;
    std::vector<int> payloadFirstBytes;
};

constexpr uint32_t kA = 0xAAAA0001u;
constexpr uint32_t kB = 0xBBBB0002u;

TEST(RtpReorderer, Table)
{
    const std::vector<Case> cases = {
        {"in order", {{kA, 1, 0}, {kA, 2, 20}, {kA, 3, 40}}, -1, {{1, true}, {2}, {3}},
         {3, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"wrap at 65535", {{kA, 65534, 0}, {kA, 65535, 20}, {kA, 0, 40}, {kA, 1, 60}}, -1,
         {{65534, true}, {65535}, {65536}, {65537}}, {4, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"reordered across the wrap", {{kA, 65535, 0}, {kA, 1, 20}, {kA, 0, 21}, {kA, 2, 40}}, -1,
         {{65535, true}, {65536}, {65537}, {65538}}, {3, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"swapped pairs", {{kA, 10, 0}, {kA, 12, 20}, {kA, 11, 21}, {kA, 14, 40}, {kA, 13, 41}}, -1,
         {{10, true}, {11}, {12}, {13}, {14}}, {3, 2, 0, 0, 0, 0, 0, 0, 0}},
        {"duplicates", {{kA, 1, 0}, {kA, 2, 1}, {kA, 2, 2}, {kA, 4, 3}, {kA, 4, 4}, {kA, 3, 5}, {kA, 1, 6}},
         -1, {{1, true}, {2}, {3}, {4}}, {3, 1, 0, 3, 0, 0, 0, 0, 0}},
        {"loss given up after four later frames",
         {{kA, 1, 0}, {kA, 3, 20}, {kA, 4, 40}, {kA, 5, 50}, {kA, 6, 55}}, -1,
         {{1, true}, {3}, {4}, {5}, {6}}, {1, 4, 0, 0, 0, 1, 0, 0, 0}},
        {"the lost one arriving later is late",
         {{kA, 1, 0}, {kA, 3, 20}, {kA, 4, 40}, {kA, 5, 50}, {kA, 6, 55}, {kA, 2, 56}}, -1,
         {{1, true}, {3}, {4}, {5}, {6}}, {1, 4, 1, 0, 0, 1, 0, 0, 0}},
        {"a gap waits 60 ms", {{kA, 1, 0}, {kA, 3, 20}}, 79, {{1, true}}, {1, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"then is given up", {{kA, 1, 0}, {kA, 3, 20}}, 80, {{1, true}, {3}}, {1, 1, 0, 0, 0, 1, 0, 0, 0}},
        {"far ahead: the window moves on", {{kA, 1, 0}, {kA, 20, 20}}, 100, {{1, true}, {20}},
         {1, 1, 0, 0, 0, 18, 0, 0, 0}},
        {"new SSRC is a new stream",
         {{kA, 1, 0}, {kA, 2, 20}, {kB, 500, 40}, {kB, 501, 60}, {kA, 3, 80}}, -1,
         {{1, true}, {2}, {500, true}, {501}, {3, true}}, {5, 0, 0, 0, 0, 0, 2, 0, 0}},
        {"SSRC change plays the old stream's waiting frames first",
         {{kA, 1, 0}, {kA, 3, 20}, {kB, 7, 40}}, -1, {{1, true}, {3}, {7, true}},
         {2, 1, 0, 0, 0, 1, 1, 0, 0}},
        {"a stray far packet is dropped", {{kA, 1, 0}, {kA, 2, 20}, {kA, 20000, 30}, {kA, 3, 40}}, -1,
         {{1, true}, {2}, {3}}, {3, 0, 0, 0, 1, 0, 0, 0, 0}},
        {"a restarted numbering is followed once two agree",
         {{kA, 1, 0}, {kA, 2, 20}, {kA, 10000, 40}, {kA, 10001, 60}, {kA, 10002, 80}}, -1,
         {{1, true}, {2}, {10001, true}, {10002}}, {4, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"far behind is another numbering too", {{kA, 5000, 0}, {kA, 100, 20}, {kA, 5001, 40}}, -1,
         {{5000, true}, {5001}}, {2, 0, 0, 0, 1, 0, 0, 0, 0}},
        {"codec changes from packet to packet",
         {{kA, 1, 0, VOICE_G711_U}, {kA, 2, 20, VOICE_G711_A}, {kA, 3, 40, VOICE_G711_A},
          {kA, 4, 60, VOICE_G726_32K}},
         -1, {{1, true}, {2}, {3}, {4}}, {4, 0, 0, 0, 0, 0, 0, 2, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RtpCounters counters;
        RtpReorderer reorderer(counters);
        RecordingSink sink;
        for (size_t i = 0; i < c.arrivals.size(); ++i) {
            const Arrival &a = c.arrivals[i];
            ReceivedFrame frame;
            frame.ssrc = a.ssrc;
            frame.sequence = a.sequence;
            frame.timestamp = a.sequence * 160u;
            frame.arrivalMs = a.atMs;
            frame.type = a.type;
            frame.length = 160;
            frame.payload[0] = static_cast<uint8_t>(a.sequence);
            reorderer.Push(frame, sink);
        }
        if (c.expireAtMs >= 0)
            reorderer.Expire(c.expireAtMs, sink);

        ASSERT_EQ(sink.frames.size(), c.delivered.size());
        for (size_t i = 0; i < c.delivered.size(); ++i) {
            EXPECT_EQ(sink.frames[i].sequence, c.delivered[i].sequence) << i;
            EXPECT_EQ(sink.frames[i].newStream, c.delivered[i].newStream) << i;
            // The payload is the frame's own (the low byte of its number).
            EXPECT_EQ(sink.payloadFirstBytes[i], static_cast<int>(c.delivered[i].sequence & 0xFF)) << i;
        }
        EXPECT_EQ(counters.inOrder.load(), c.counts.inOrder);
        EXPECT_EQ(counters.reordered.load(), c.counts.reordered);
        EXPECT_EQ(counters.late.load(), c.counts.late);
        EXPECT_EQ(counters.duplicates.load(), c.counts.duplicates);
        EXPECT_EQ(counters.droppedStream.load(), c.counts.droppedStream);
        EXPECT_EQ(counters.lost.load(), c.counts.lost);
        EXPECT_EQ(counters.ssrcChanges.load(), c.counts.ssrcChanges);
        EXPECT_EQ(counters.codecChanges.load(), c.counts.codecChanges);
        EXPECT_EQ(counters.sequenceRestarts.load(), c.counts.restarts);
        // Every packet is accounted for once: handed over, waiting, or dropped with a reason.
        EXPECT_EQ(c.counts.inOrder + c.counts.reordered + c.counts.late + c.counts.duplicates +
                      c.counts.droppedStream,
                  static_cast<uint32_t>(c.arrivals.size()));
        EXPECT_EQ(sink.frames.size() + static_cast<size_t>(reorderer.Waiting()),
                  static_cast<size_t>(c.counts.inOrder + c.counts.reordered));
    }
}

// A long in-order stream across several wraps: every frame once, numbers extended without a jump.
TEST(RtpReorderer, ThreeWrapsInOrder)
{
    RtpCounters counters;
    RtpReorderer reorderer(counters);
    RecordingSink sink;
    constexpr uint32_t kFirst = 60000;
    constexpr uint32_t kCount = 3 * 65536 + 100;
    ReceivedFrame frame;
    frame.ssrc = kA;
    frame.type = VOICE_G711_U;
    frame.length = 2;
    for (uint32_t i = 0; i < kCount; ++i) {
        frame.sequence = static_cast<uint16_t>(kFirst + i);
        reorderer.Push(frame, sink);
    }
    ASSERT_EQ(sink.frames.size(), kCount);
    EXPECT_EQ(sink.frames.back().sequence, kFirst + kCount - 1);
    for (size_t i = 1; i < sink.frames.size(); ++i)
        ASSERT_EQ(sink.frames[i].sequence, sink.frames[i - 1].sequence + 1);
    EXPECT_EQ(counters.lost.load(), 0u);
}

} // namespace
} // namespace orvo::talk
