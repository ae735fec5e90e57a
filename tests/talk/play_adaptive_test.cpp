// Adaptive playout through the exports, on the virtual device and clock: the mode is chosen before
// or while playing, frames play once each in order with a short delay, a burst of duplicated
// datagrams does not leave the delay high, and the statistics are filled as far as the caller's
// size reaches and add up.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "orvoaudio/talk.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/talk_service.h"
#include "tests/talk/play_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = platform::virt;
using testing::FramePayload;
using testing::TalkPacketFor;

constexpr int64_t kPacketMs = 20;

// The same layout for every compiler and word size: the times sit on 8-byte offsets.
static_assert(offsetof(OrvoPlayoutStats, capture_start_us) == 96, "layout");
static_assert(sizeof(OrvoPlayoutStats) == 120, "layout");
constexpr int kLoudestIds = 100; // mu-law codes up to 100 decode far from silence

int32_t Input(const std::vector<uint8_t> &packet)
{
    return Orvo_InputTalkData(packet.data(), static_cast<int32_t>(packet.size()));
}

OrvoPlayoutStats PlayoutStats()
{
    OrvoPlayoutStats stats{};
    stats.size = sizeof(stats);
    EXPECT_EQ(Orvo_GetPlayoutStats(&stats), 0);
    return stats;
}

void ExpectPlayoutCountersAddUp(const OrvoPlayoutStats &s)
{
    EXPECT_EQ(s.frames_received, s.frames_played + s.frames_dropped_quiet + s.frames_late +
                                     s.frames_duplicate + s.frames_flushed + s.frames_buffered);
}

// The frame a block holds, shortened or lengthened as it may be: every sample is the value its
// uniform payload decodes to. 0 for anything else (concealment, silence, a mixed block).
int BlockFrameId(const std::vector<int16_t> &samples)
{
    if (samples.empty())
        return 0;
    for (int16_t v : samples) {
        if (v != samples.front())
            return 0;
    }
    for (int id = 1; id <= testing::kMaxFrameId; ++id) {
        if (testing::DecodeMuLaw(FramePayload(id)).front() == samples.front())
            return id;
    }
    return 0;
}

std::vector<int> PlayedFrames()
{
    std::vector<int> ids;
    for (const virt::PlayedBlock &block : virt::PlayedBlocks()) {
        int id = BlockFrameId(block.samples);
        if (id > 0)
            ids.push_back(id);
    }
    return ids;
}

class PlayAdaptiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShutdownTalkService();
        virt::Reset();
    }
    void TearDown() override
    {
        ShutdownTalkService();
        virt::Reset();
    }
    void StartService()
    {
        ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
        ASSERT_EQ(Orvo_OpenTalk(), 0);
        ASSERT_EQ(Orvo_StartAudioPlay(), 0);
        ASSERT_TRUE(virt::WaitIdle());
    }
    // Frame `id` every 20 ms, `count` of them, starting with `first`.
    void Stream(int first, int count)
    {
        for (int id = first; id < first + count; ++id) {
            ASSERT_EQ(Input(TalkPacketFor(FramePayload((id - 1) % kLoudestIds + 1))), 0);
            ASSERT_TRUE(virt::Advance(kPacketMs));
        }
    }
};

TEST_F(PlayAdaptiveTest, ModeIsCheckedAndShownInTheStatistics)
{
    OrvoPlayoutStats stats{};
    stats.size = sizeof(stats);
    EXPECT_EQ(Orvo_GetPlayoutStats(&stats), -1); // the service does not run yet
    EXPECT_EQ(Orvo_SetPlayoutMode(2), -1);
    EXPECT_EQ(Orvo_SetPlayoutMode(-1), -1);
    EXPECT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_ADAPTIVE), 0); // before the service: kept
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    EXPECT_EQ(PlayoutStats().mode, ORVO_PLAYOUT_ADAPTIVE);
    EXPECT_EQ(Orvo_GetPlayoutStats(nullptr), -1);
    stats.size = 4; // too small to hold the mode
    EXPECT_EQ(Orvo_GetPlayoutStats(&stats), -1);

    // A caller that knows only the first two fields gets only those.
    struct Short {
        OrvoPlayoutStats known;
        uint32_t guard;
    } small{};
    std::memset(&small, 0xAB, sizeof(small));
    small.known.size = 8;
    ASSERT_EQ(Orvo_GetPlayoutStats(&small.known), 0);
    EXPECT_EQ(small.known.size, 8u);
    EXPECT_EQ(small.known.mode, ORVO_PLAYOUT_ADAPTIVE);
    EXPECT_EQ(small.known.buffer_delay_ms, static_cast<int32_t>(0xABABABAB));
    EXPECT_EQ(small.guard, 0xABABABABu);
}

TEST_F(PlayAdaptiveTest, SteadyStreamPlaysEveryFrameOnceInOrderWithAShortDelay)
{
    ASSERT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_ADAPTIVE), 0);
    StartService();
    constexpr int kFrames = 150;
    Stream(1, kFrames);
    OrvoPlayoutStats s = PlayoutStats();
    EXPECT_EQ(s.mode, ORVO_PLAYOUT_ADAPTIVE);
    EXPECT_EQ(s.device_target_ms, 60); // three 20 ms blocks, not ten
    EXPECT_LE(s.device_delay_ms, 60);
    EXPECT_LE(s.buffer_delay_ms, 40);
    EXPECT_GE(s.target_delay_ms, 20);
    EXPECT_EQ(s.frames_late + s.frames_duplicate + s.frames_flushed, 0u);
    EXPECT_EQ(s.device_underruns, 0u); // the device never ran short while the stream flowed
    EXPECT_GT(s.capture_start_us, 0);
    EXPECT_GT(s.playback_start_us, s.capture_start_us); // capture runs from the service's start
    ExpectPlayoutCountersAddUp(s);

    ASSERT_TRUE(virt::Advance(1000));
    std::vector<int> played = PlayedFrames();
    std::vector<int> expected;
    for (int id = 1; id <= kFrames; ++id)
        expected.push_back((id - 1) % kLoudestIds + 1);
    EXPECT_EQ(played, expected); // no repeats, nothing dropped
    s = PlayoutStats();
    EXPECT_EQ(s.frames_played, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(s.device_underruns, 1u); // the end of the stream
    EXPECT_EQ(static_cast<uint64_t>(s.playback_samples), virt::GetPlaybackStats().samplesPlayed);
    // The talk counters still add up: every packet left the queue into the jitter buffer.
    OrvoTalkStats talk{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&talk), 0);
    EXPECT_EQ(talk.frames_played, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(talk.packets_received, talk.frames_played + talk.packets_rejected +
                                         talk.frames_dropped_overflow +
                                         static_cast<uint32_t>(talk.queue_depth));
    ExpectPlayoutCountersAddUp(s);

    // Input to the device: the frame is written within a block or two of its arrival.
    std::vector<virt::PlayedBlock> blocks = virt::PlayedBlocks();
    int64_t lastWrite = 0;
    for (const virt::PlayedBlock &block : blocks) {
        if (BlockFrameId(block.samples) == (kFrames - 1) % kLoudestIds + 1)
            lastWrite = block.queuedAt;
    }
    const int64_t lastInput = (kFrames - 1) * kPacketMs;
    EXPECT_LE(lastWrite - lastInput, 60);
}

TEST_F(PlayAdaptiveTest, ADuplicateBurstDoesNotLeaveTheDelayHigh)
{
    ASSERT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_ADAPTIVE), 0);
    StartService();
    Stream(1, 50);
    const std::vector<uint8_t> repeated = TalkPacketFor(FramePayload(50));
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(Input(repeated), 0);
    Stream(51, 150);
    OrvoPlayoutStats s = PlayoutStats();
    EXPECT_GE(s.frames_duplicate, 12u);
    EXPECT_LE(s.buffer_delay_ms, 40);
    ExpectPlayoutCountersAddUp(s);

    // The stretch rule keeps them all and the queue long.
    ShutdownTalkService();
    virt::Reset();
    StartService();
    Stream(1, 50);
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(Input(repeated), 0);
    Stream(51, 150);
    OrvoTalkStats talk{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&talk), 0);
    EXPECT_GE(talk.queue_depth, 10);
    EXPECT_GE(PlayoutStats().buffer_delay_ms, 200);
}

TEST_F(PlayAdaptiveTest, ModeChangesWhilePlaying)
{
    StartService();
    EXPECT_EQ(PlayoutStats().mode, ORVO_PLAYOUT_STRETCH);
    EXPECT_EQ(PlayoutStats().device_target_ms, 200);
    Stream(1, 40);
    ASSERT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_ADAPTIVE), 0);
    Stream(41, 60);
    OrvoPlayoutStats s = PlayoutStats();
    EXPECT_EQ(s.mode, ORVO_PLAYOUT_ADAPTIVE);
    EXPECT_GT(s.frames_played, 40u);
    EXPECT_LE(s.buffer_delay_ms, 60);
    ExpectPlayoutCountersAddUp(s);
    ASSERT_EQ(Orvo_SetPlayoutMode(ORVO_PLAYOUT_STRETCH), 0);
    Stream(101, 40);
    ASSERT_TRUE(virt::Advance(1000));
    EXPECT_EQ(PlayoutStats().mode, ORVO_PLAYOUT_STRETCH);
    std::vector<int> played = PlayedFrames();
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played.back(), (140 - 1) % kLoudestIds + 1); // the stream played on to its end
    OrvoTalkStats talk{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&talk), 0);
    EXPECT_EQ(talk.packets_received, 140u);
}

} // namespace
} // namespace orvo::talk
