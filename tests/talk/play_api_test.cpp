// The receive path through the exports: packets handed to Orvo_InputTalkData come out of the
// virtual playback device decoded, in order and stretched by the repeat rule; bad packets are
// counted and never played; the counters add up.
#include <gtest/gtest.h>

#include <vector>

#include "orvoaudio/talk.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/record_thread.h"
#include "talk/talk_service.h"
#include "tests/talk/play_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = platform::virt;
using testing::FramePayload;
using testing::PlayedFrameIds;
using testing::StretchedOrder;
using testing::TalkPacketFor;

constexpr int64_t kPacketMs = 20;

int32_t Input(const std::vector<uint8_t> &packet)
{
    static const uint8_t kNothing = 0; // an empty packet still comes with a valid pointer
    return Orvo_InputTalkData(packet.empty() ? &kNothing : packet.data(),
                              static_cast<int32_t>(packet.size()));
}

OrvoTalkStats Stats()
{
    OrvoTalkStats stats{};
    EXPECT_EQ(Orvo_GetAudioTalkStats(&stats), 0);
    return stats;
}

// received = played + rejected + dropped on overflow + still queued, once the ring is drained.
void ExpectCountersAddUp(const OrvoTalkStats &s)
{
    EXPECT_EQ(s.packets_received,
              s.frames_played + s.packets_rejected + s.frames_dropped_overflow +
                  static_cast<uint32_t>(s.queue_depth));
}

class PlayApiTest : public ::testing::Test {
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
    void StartService(bool play)
    {
        ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
        ASSERT_EQ(Orvo_OpenTalk(), 0);
        if (play) {
            ASSERT_EQ(Orvo_StartAudioPlay(), 0);
        }
        ASSERT_TRUE(virt::WaitIdle());
    }
};

TEST_F(PlayApiTest, RefusedBeforeTheServiceRuns)
{
    OrvoTalkStats stats{};
    EXPECT_EQ(Orvo_StartAudioPlay(), -1);
    EXPECT_EQ(Orvo_StopAudioPlay(), -1);
    EXPECT_EQ(Orvo_GetAudioTalkStats(&stats), -1);
    StartService(false);
    EXPECT_EQ(Orvo_GetAudioTalkStats(nullptr), -1);
    EXPECT_EQ(Orvo_StopAudioPlay(), 0); // nothing to stop yet
}

TEST_F(PlayApiTest, StartFailsWithoutAPlaybackDeviceAndTriesAgainLater)
{
    StartService(false);
    virt::SetPlaybackAvailable(false);
    EXPECT_EQ(Orvo_StartAudioPlay(), -1);
    EXPECT_EQ(virt::WorkerCount(), 1); // only the capture thread
    virt::SetPlaybackAvailable(true);
    EXPECT_EQ(Orvo_StartAudioPlay(), 0);
    EXPECT_EQ(Orvo_StartAudioPlay(), 0); // once only
    EXPECT_EQ(virt::WorkerCount(), 2);
    EXPECT_EQ(virt::GetPlaybackStats().opens, 1);
}

TEST_F(PlayApiTest, PacketStreamPlaysDecodedInOrderStretchedByTheRepeatRule)
{
    StartService(true);
    constexpr int kPackets = 60;
    for (int id = 1; id <= kPackets; ++id) {
        ASSERT_EQ(Input(TalkPacketFor(FramePayload(id))), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    ASSERT_TRUE(virt::Advance(100 * kPacketMs));
    // Every block is a whole decoded frame (PlayedFrameIds checks the samples).
    EXPECT_EQ(PlayedFrameIds(), StretchedOrder(1, kPackets));
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_received, static_cast<uint32_t>(kPackets));
    EXPECT_EQ(s.frames_played, static_cast<uint32_t>(kPackets));
    EXPECT_EQ(s.frames_repeated, 6u); // frames 11, 20, 29, 38, 47 and 56
    EXPECT_EQ(s.packets_rejected, 0u);
    EXPECT_EQ(s.queue_depth, 0);
    ExpectCountersAddUp(s);
}

TEST_F(PlayApiTest, BadPacketsAreCountedAndNeverPlayed)
{
    StartService(true);
    std::vector<uint8_t> good = TalkPacketFor(FramePayload(1));
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({0x80, 0x06, 0x00});                              // short
    bad.push_back({});                                              // empty
    std::vector<uint8_t> header = good;
    header[1] = 0x07;                                               // wrong talk header
    bad.push_back(header);
    std::vector<uint8_t> marker = good;
    marker[3] = 0x02;                                               // frame marker of kind 2
    bad.push_back(marker);
    bad.push_back(TalkPacketFor(FramePayload(2, 100)));             // 100 samples: decoder refuses
    bad.push_back(TalkPacketFor(FramePayload(2, 480)));             // decodes beyond one block
    std::vector<uint8_t> cut = good;
    cut.pop_back();                                                 // payload cut short
    bad.push_back(cut);
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);                                          // bytes after the frame
    bad.push_back(trailing);
    std::vector<uint8_t> huge(2000, 0x80);                          // longer than any slot

    int goodId = 1;
    for (const std::vector<uint8_t> &packet : bad) {
        ASSERT_EQ(Input(TalkPacketFor(FramePayload(goodId++))), 0);
        ASSERT_EQ(Input(packet), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    EXPECT_EQ(Input(huge), -1);
    ASSERT_TRUE(virt::Advance(50 * kPacketMs));

    std::vector<int> played = PlayedFrameIds();
    std::vector<int> expected = StretchedOrder(1, goodId - 1);
    EXPECT_EQ(played, expected);
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_rejected, bad.size() + 1);
    EXPECT_EQ(s.packets_received, bad.size() + 1 + static_cast<size_t>(goodId - 1));
    ExpectCountersAddUp(s);
}

// Junk arrives far faster than the playback thread's 20 ms passes take packets out of the incoming
// ring. Checked before it is stored, it never takes one of the 14 places, and no good packet is lost.
TEST_F(PlayApiTest, JunkFloodBetweenGoodPacketsLosesNoGoodPacket)
{
    StartService(true);
    constexpr int kPackets = 40;
    constexpr int kJunkPerPacket = 40; // 2000 junk datagrams a second
    constexpr size_t kJunkKinds = 5;
    std::vector<uint8_t> good = TalkPacketFor(FramePayload(1));
    std::vector<uint8_t> wrongHeader = good;
    wrongHeader[0] = 0x81;
    const std::vector<uint8_t> junk[kJunkKinds] = {
        std::vector<uint8_t>(1024, 0xAA), std::vector<uint8_t>(7, 0x80), wrongHeader,
        TalkPacketFor(FramePayload(3, 100)), std::vector<uint8_t>{}};
    uint32_t junkSent = 0;
    for (int id = 1; id <= kPackets; ++id) {
        for (int j = 0; j < kJunkPerPacket / 2; ++j, ++junkSent)
            ASSERT_EQ(Input(junk[junkSent % kJunkKinds]), 0);
        ASSERT_EQ(Input(TalkPacketFor(FramePayload(id))), 0);
        for (int j = 0; j < kJunkPerPacket / 2; ++j, ++junkSent)
            ASSERT_EQ(Input(junk[junkSent % kJunkKinds]), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs));
    }
    ASSERT_TRUE(virt::Advance(100 * kPacketMs));
    EXPECT_EQ(PlayedFrameIds(), StretchedOrder(1, kPackets));
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_dropped_in, 0u);
    EXPECT_EQ(s.packets_rejected, junkSent);
    EXPECT_EQ(s.frames_played, static_cast<uint32_t>(kPackets));
    ExpectCountersAddUp(s);
}

// Without playback nothing is checked: every packet is stored as it came, as before.
TEST_F(PlayApiTest, WithoutPlaybackEveryPacketIsStoredUnchecked)
{
    StartService(false);
    const std::vector<uint8_t> junk(100, 0xAA);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Input(junk), 0);
    EXPECT_EQ(RecordThread()->Incoming().Count(), 3);
    EXPECT_EQ(Stats().packets_rejected, 0u);
    // After Orvo_StopAudioPlay the same holds again.
    ASSERT_EQ(Orvo_StartAudioPlay(), 0);
    ASSERT_EQ(Orvo_StopAudioPlay(), 0);
    const int32_t before = RecordThread()->Incoming().Count();
    ASSERT_EQ(Input(junk), 0);
    EXPECT_EQ(RecordThread()->Incoming().Count(), before + 1);
}

TEST_F(PlayApiTest, QueueNeverExceedsTwentyFiveAndDropsTheOldest)
{
    StartService(true);
    int id = 1;
    for (int burst = 0; burst < 6; ++burst) {
        for (int i = 0; i < 14; ++i) // a full incoming ring at once
            ASSERT_EQ(Input(TalkPacketFor(FramePayload(id++))), 0);
        ASSERT_TRUE(virt::Advance(kPacketMs)); // one pass takes them all
        EXPECT_LE(Stats().queue_depth, 25);
    }
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_received, 84u);
    EXPECT_GE(s.queue_depth, 24); // full at the last pass, less one frame played since
    EXPECT_GT(s.frames_dropped_overflow, 0u);
    ExpectCountersAddUp(s);

    ASSERT_TRUE(virt::Advance(200 * kPacketMs));
    std::vector<int> played = PlayedFrameIds();
    ASSERT_FALSE(played.empty());
    for (size_t i = 1; i < played.size(); ++i)
        EXPECT_LE(played[i - 1], played[i]); // in order; dropped ones are skipped
    EXPECT_EQ(played.back(), 84); // the newest survived
    s = Stats();
    EXPECT_EQ(s.queue_depth, 0);
    ExpectCountersAddUp(s);
}

TEST_F(PlayApiTest, StopPausesAndLetsTheIncomingRingFillAgain)
{
    StartService(true);
    ASSERT_EQ(Orvo_StopAudioPlay(), 0);
    for (int id = 1; id <= 15; ++id)
        ASSERT_EQ(Input(TalkPacketFor(FramePayload(id))), 0);
    ASSERT_TRUE(virt::Advance(200));
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_received, 0u);
    EXPECT_EQ(s.packets_dropped_in, 1u); // the fifteenth found the ring full
    EXPECT_TRUE(virt::PlayedBlocks().empty());

    ASSERT_EQ(Orvo_StartAudioPlay(), 0); // the fourteen waiting packets play now
    ASSERT_TRUE(virt::Advance(40 * kPacketMs));
    EXPECT_EQ(PlayedFrameIds(), StretchedOrder(1, 14));
}

TEST_F(PlayApiTest, WithoutStartTheIncomingRingFillsAfterFourteen)
{
    StartService(false);
    for (int id = 1; id <= 16; ++id)
        ASSERT_EQ(Input(TalkPacketFor(FramePayload(id))), 0);
    ASSERT_TRUE(virt::Advance(200));
    OrvoTalkStats s = Stats();
    EXPECT_EQ(s.packets_dropped_in, 2u);
    EXPECT_EQ(s.packets_received, 0u);
    EXPECT_EQ(virt::GetPlaybackStats().opens, 0);
}

TEST_F(PlayApiTest, CaptureCountersCountPacketsAndOutgoingDrops)
{
    StartService(false);
    ASSERT_TRUE(virt::Advance(20 * kPacketMs)); // nobody reads the outgoing ring
    OrvoTalkStats s = Stats();
    EXPECT_GE(s.packets_captured, 18u);
    EXPECT_EQ(s.packets_dropped_out, s.packets_captured - 14);
    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX];
    int taken = 0;
    while (Orvo_GetAudioTalkData(packet) > 0)
        ++taken;
    EXPECT_EQ(taken, 14);
}

TEST_F(PlayApiTest, TeardownStopsThePlaybackThreadAndClosesItsDevice)
{
    StartService(true);
    ASSERT_EQ(Input(TalkPacketFor(FramePayload(1))), 0);
    ASSERT_TRUE(virt::Advance(10));
    EXPECT_EQ(virt::WorkerCount(), 2);
    ShutdownTalkService();
    EXPECT_EQ(virt::WorkerCount(), 0);
    EXPECT_FALSE(virt::GetPlaybackStats().open);
    OrvoTalkStats stats{};
    EXPECT_EQ(Orvo_GetAudioTalkStats(&stats), -1);
    // A new service starts from zero.
    StartService(true);
    EXPECT_EQ(Stats().packets_received, 0u);
}

} // namespace
} // namespace orvo::talk
