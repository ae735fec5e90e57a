// Ordering received RTP frames by sequence number (RtpReorderer), table-driven: wrap at 65535,
// reordering, duplicates, late arrivals, losses given up by depth and by time, SSRC changes, jumps
// of the numbering, codec changes. Each case lists the packets as they arrive and what must come
// out, in order, with its extended sequence number.
#include <gtest/gtest.h>

#include <algorithm>
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
        // The payload is only valid during the call: a copy.
        payloads.emplace_back(frame.payload, frame.payload + frame.length);
    }
    std::vector<OrderedFrame> frames;
    std::vector<std::vector<uint8_t>> payloads;
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

namespace orvo::talk {
namespace {

// Cutting payloads into frames (FrameSplitter), table-driven: what goes in (codec, length,
// new-stream flag) and the lengths that come out; the bytes that come out are always the bytes
// that went in, in order, and each frame's timestamp is its first sample's.
struct SplitIn {
    int16_t type;
    uint16_t length;
    bool newStream = false;
};

struct SplitCase {
    const char *name;
    std::vector<SplitIn> in;
    std::vector<uint16_t> out; // lengths
    std::vector<bool> outNewStream;
    int32_t carried;
};

TEST(FrameSplitter, Table)
{
    const int16_t U = VOICE_G711_U, A = VOICE_G711_A, G32 = VOICE_G726_32K, G24 = VOICE_G726_24K;
    const std::vector<SplitCase> cases = {
        {"playable frames pass as they are", {{U, 160, true}, {U, 320}, {U, 80}}, {160, 320, 80},
         {true, false, false}, 0},
        {"ffmpeg's 1024-byte packets", {{U, 1024, true}, {U, 1024}, {U, 640}},
         std::vector<uint16_t>(16, 160), {true}, 128},
        {"a leftover joins the next payload", {{U, 100, true}, {U, 160}}, {160}, {true}, 100},
        {"a codec change drops the leftover", {{U, 100, true}, {A, 160}}, {160}, {false}, 0},
        {"a new stream drops the leftover", {{U, 100, true}, {U, 100, true}, {U, 60}}, {160},
         {true}, 0},
        {"G.726-32 in 1024 bytes", {{G32, 1024, true}}, std::vector<uint16_t>(12, 80), {true}, 64},
        {"G.726-24 in 15 bytes at a time", {{G24, 15, true}, {G24, 15}, {G24, 15}, {G24, 15}},
         {60}, {true}, 0},
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(c.name);
        FrameSplitter splitter;
        RecordingSink sink;
        std::vector<uint8_t> sent;     // every byte handed in since the last drop of a leftover
        std::vector<uint8_t> received; // every byte that came out since then
        uint32_t timestamp = 1000;
        uint8_t next = 0;
        int16_t lastType = 0;
        for (const SplitIn &in : c.in) {
            bool drops = in.newStream || in.type != lastType;
            lastType = in.type;
            if (drops) {
                sent.clear();
                received.clear();
            }
            std::vector<uint8_t> payload(in.length);
            for (uint8_t &b : payload)
                b = next++;
            sent.insert(sent.end(), payload.begin(), payload.end());
            OrderedFrame frame{7, timestamp, 0, in.type, in.newStream, payload.data(), in.length};
            size_t before = sink.frames.size();
            splitter.Split(frame, sink);
            for (size_t i = before; i < sink.frames.size(); ++i) {
                EXPECT_EQ(sink.frames[i].sequence, 7u);
                received.insert(received.end(), sink.payloads[i].begin(), sink.payloads[i].end());
            }
            timestamp += static_cast<uint32_t>(rtp::SamplesInPayload(in.type, in.length));
        }
        std::vector<uint16_t> lengths;
        for (const OrderedFrame &f : sink.frames)
            lengths.push_back(f.length);
        EXPECT_EQ(lengths, c.out);
        for (size_t i = 0; i < c.outNewStream.size() && i < sink.frames.size(); ++i)
            EXPECT_EQ(sink.frames[i].newStream, c.outNewStream[i]) << i;
        EXPECT_EQ(splitter.CarriedBytes(), c.carried);
        // The bytes that came out are the stream's bytes in order, less what is still carried.
        ASSERT_EQ(received.size() + static_cast<size_t>(c.carried), sent.size());
        EXPECT_TRUE(std::equal(received.begin(), received.end(), sent.begin()));
    }
}

// Timestamps of cut frames: one per 160 samples from the packet's own.
TEST(FrameSplitter, TimestampsFollowTheSamples)
{
    FrameSplitter splitter;
    RecordingSink sink;
    std::vector<uint8_t> payload(1024, 0x55);
    OrderedFrame first{1, 5000, 0, VOICE_G711_U, true, payload.data(), 1024};
    OrderedFrame second{2, 5000 + 1024, 0, VOICE_G711_U, false, payload.data(), 1024};
    splitter.Split(first, sink);
    splitter.Split(second, sink);
    ASSERT_EQ(sink.frames.size(), 12u);
    for (size_t i = 0; i < sink.frames.size(); ++i)
        EXPECT_EQ(sink.frames[i].timestamp, 5000u + 160u * static_cast<uint32_t>(i)) << i;
    EXPECT_EQ(sink.frames[6].sequence, 2u); // completed by the second packet
    EXPECT_EQ(sink.frames[5].sequence, 1u);
}

} // namespace
} // namespace orvo::talk
