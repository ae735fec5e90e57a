// The exported talk functions and the capture thread on the virtual device and clock.
#include <gtest/gtest.h>

#include <vector>

#include "orvoaudio/talk.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/record_thread.h"
#include "talk/talk_service.h"
#include "talk_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = orvo::platform::virt;
using namespace orvo::talk::testing;
using Packet = std::vector<uint8_t>;

constexpr int64_t kSamplesPerMs = virt::kSamplesPerMillisecond;
constexpr int64_t kBlockSamples = 160;
constexpr int64_t kBlockMs = kBlockSamples / kSamplesPerMs;
// The oldest audio a packet after Orvo_OpenTalk may hold, in ms before the call: a block that
// finished just after the loop's last talk-off pass (20 ms) began one block (20 ms) earlier.
constexpr int64_t kMostBeforeOpenMs = kTalkOffSleepMs + kBlockMs;
constexpr uint64_t kIndexedSamples = 8000 * 40; // 40 s of source

const SourceIndex &Index()
{
    static const SourceIndex *index = new SourceIndex(kIndexedSamples);
    return *index;
}

class TalkServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShutdownTalkService();
        virt::Reset();
        virt::SetCaptureSource(SourceSample);
    }
    void TearDown() override
    {
        ShutdownTalkService();
        EXPECT_EQ(virt::WorkerCount(), 0);
        EXPECT_FALSE(virt::GetCaptureStats().open);
        virt::Reset();
    }
    static void Init()
    {
        ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
        ASSERT_TRUE(virt::WaitIdle());
    }
    static void Advance(int64_t ms) { ASSERT_TRUE(virt::Advance(ms)); }
    static std::vector<Packet> Drain()
    {
        std::vector<Packet> packets;
        unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
        int32_t n;
        while ((n = Orvo_GetAudioTalkData(buffer)) > 0)
            packets.emplace_back(buffer, buffer + n);
        return packets;
    }
    // The source index each packet starts at, checking every packet's bytes on the way.
    static std::vector<int64_t> StartsOf(const std::vector<Packet> &packets)
    {
        std::vector<int64_t> starts;
        for (const Packet &p : packets) {
            EXPECT_EQ(p.size(), static_cast<size_t>(kPacketBytes));
            if (p.size() != static_cast<size_t>(kPacketBytes))
                return starts;
            EXPECT_EQ(0, std::memcmp(p.data(), kPacketHead, kPayloadOffset));
            int64_t start = Index().Find(p.data() + kPayloadOffset);
            EXPECT_GE(start, 0) << "payload is not the mu-law of the source";
            starts.push_back(start);
        }
        return starts;
    }
    static std::vector<int64_t> Consecutive(int64_t first, int count)
    {
        std::vector<int64_t> starts(count);
        for (int i = 0; i < count; ++i)
            starts[i] = first + i * kBlockSamples;
        return starts;
    }
};

TEST_F(TalkServiceTest, StateTable)
{
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    const unsigned char data[4] = {1, 2, 3, 4};
    struct Expect {
        const char *state;
        int32_t open, close, get, input;
    };
    // Not initialised.
    const Expect before = {"not initialised", -1, -1, 0, 0};
    EXPECT_EQ(Orvo_OpenTalk(), before.open);
    EXPECT_EQ(Orvo_CloseTalk(), before.close);
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), before.get);
    EXPECT_EQ(Orvo_InputTalkData(data, sizeof data), before.input);
    EXPECT_EQ(Orvo_InputTalkData(nullptr, -5), before.input); // nothing runs: nothing to refuse
    EXPECT_EQ(RecordThread(), nullptr);

    Init();
    CRecordThread *thread = RecordThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(virt::WorkerCount(), 1);
    EXPECT_EQ(Orvo_InitialAudioTalk(), 0); // a second call creates nothing
    EXPECT_EQ(RecordThread(), thread);
    EXPECT_EQ(virt::WorkerCount(), 1);
    EXPECT_EQ(virt::GetCaptureStats().opens, 1);

    // Initialised, talk off: everything returns 0 and nothing moves.
    Advance(1000);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(thread->TalkFlag(), 0);
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), 0);
    EXPECT_EQ(Orvo_InputTalkData(data, sizeof data), 0);
    EXPECT_EQ(thread->Incoming().Count(), 0);
    EXPECT_EQ(thread->Outgoing().Count(), 0);

    // Talk on; twice changes nothing.
    EXPECT_EQ(Orvo_OpenTalk(), 0);
    EXPECT_EQ(Orvo_OpenTalk(), 0);
    EXPECT_EQ(thread->TalkFlag(), 1);
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), 0); // nothing produced yet
    Advance(20);
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), kPacketBytes);
    EXPECT_EQ(Orvo_InputTalkData(data, sizeof data), 0);
    EXPECT_EQ(thread->Incoming().Count(), 1);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(thread->TalkFlag(), 0);
}

TEST_F(TalkServiceTest, LeftoversCarryNoFunction)
{
    EXPECT_EQ(fnOrvoPlay(), 42);
    EXPECT_EQ(nOrvoPlay, 0);
    COrvoPlayTalk a, b;
    COrvoPlayTalk &same = (a = b);
    EXPECT_EQ(&same, &a);
}

TEST_F(TalkServiceTest, ThreadCreationFailureLeavesTheServiceUninitialised)
{
    virt::SetThreadCreationFails(true);
    EXPECT_EQ(Orvo_InitialAudioTalk(), 0);
    EXPECT_EQ(RecordThread(), nullptr);
    EXPECT_EQ(Orvo_OpenTalk(), -1);
    EXPECT_FALSE(virt::GetCaptureStats().open); // the object was deleted with its device
    virt::SetThreadCreationFails(false);
    Init();
    EXPECT_EQ(Orvo_OpenTalk(), 0);
}

TEST_F(TalkServiceTest, PacketsCarryTheMuLawOfTheCapturedBlocks)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(1000);
    std::vector<Packet> packets = Drain();
    ASSERT_EQ(packets.size(), 14u); // the ring's limit
    // Byte for byte: header, then the reference mu-law of source block 0.
    std::vector<uint8_t> expected(kPacketHead, kPacketHead + kPayloadOffset);
    std::vector<uint8_t> payload = MuLawOfSource(0);
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(packets[0], expected);
    EXPECT_EQ(StartsOf(packets), Consecutive(0, 14));
}

// This case once expected the ten blocks captured in the 200 ms after init to come first, however
// long ago that was. Audio captured while talk is off is private now: the blocks finished before
// Orvo_OpenTalk are re-queued unread, so the first packet is the audio from the moment talk went on.
TEST_F(TalkServiceTest, FirstPacketAfterALateOpenTalkIsLiveAudioNotTheAudioAfterInit)
{
    Init();
    Advance(5000);
    const int64_t openAt = virt::Now();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(200);
    std::vector<int64_t> starts = StartsOf(Drain());
    ASSERT_GE(starts.size(), 10u);
    // The block that completes first after the switch holds the 20 ms from openAt on.
    EXPECT_EQ(starts[0], openAt * kSamplesPerMs);
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_EQ(starts[i], starts[i - 1] + kBlockSamples);
    EXPECT_EQ(virt::GetCaptureStats().samplesDropped, 0u) << "the device never ran out of blocks";
}

TEST_F(TalkServiceTest, RingFillsAfterFourteenAndKeepsTheOldest)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(2000); // no reader: 14 kept, the rest lost
    EXPECT_EQ(RecordThread()->Outgoing().Count(), 14);
    std::vector<int64_t> starts = StartsOf(Drain());
    ASSERT_EQ(starts.size(), 14u);
    std::vector<int64_t> expected = Consecutive(0, 14); // the fourteen oldest
    EXPECT_EQ(starts, expected);

    // Reading again: what was captured after the reader started, later than the lost packets.
    Advance(100);
    std::vector<int64_t> after = StartsOf(Drain());
    ASSERT_FALSE(after.empty());
    EXPECT_GT(after[0], expected.back() + kBlockSamples);
    for (size_t i = 1; i < after.size(); ++i)
        EXPECT_EQ(after[i], after[i - 1] + kBlockSamples);
}

TEST_F(TalkServiceTest, RingIndicesWrapAfterFifteenPackets)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    TalkRing &ring = RecordThread()->Outgoing();
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    int taken = 0;
    while (taken < TalkRing::kSlots) { // one packet at a time through every slot
        Advance(5);
        if (Orvo_GetAudioTalkData(buffer) == kPacketBytes)
            ++taken;
        ASSERT_LE(ring.Count(), 1);
    }
    EXPECT_EQ(ring.ReadIndex(), 0);
    EXPECT_EQ(ring.WriteIndex(), 0);
}

// This case once expected the 200 ms captured right after Orvo_CloseTalk to be sent first at the
// next Orvo_OpenTalk, seconds later. That audio is private now: nothing captured while talk was off
// is sent, the first packet after the next open is live audio.
TEST_F(TalkServiceTest, StopAndStartSendNothingCapturedWhileTalkWasOff)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(1000);
    std::vector<int64_t> before = StartsOf(Drain());
    Advance(30);
    std::vector<int64_t> more = StartsOf(Drain());
    before.insert(before.end(), more.begin(), more.end());
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(Orvo_CloseTalk(), 0);
    Advance(3000);
    const int64_t openAt = virt::Now();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(300);
    std::vector<int64_t> after = StartsOf(Drain());
    ASSERT_GE(after.size(), 10u);
    // At most one block and one talk-off pass before the switch, never the time after the stop...
    EXPECT_GE(after[0], (openAt - kMostBeforeOpenMs) * kSamplesPerMs);
    EXPECT_LE(after[0], openAt * kSamplesPerMs);
    // ...and from there on consecutive live audio.
    for (size_t i = 1; i < after.size(); ++i)
        EXPECT_EQ(after[i], after[i - 1] + kBlockSamples);
}

TEST_F(TalkServiceTest, PacketsLeftAtCloseComeFirstAfterTheNextOpen)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    ASSERT_EQ(Orvo_GetAudioTalkData(buffer), kPacketBytes);
    const int32_t left = RecordThread()->Outgoing().Count();
    ASSERT_GT(left, 2);
    ASSERT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), 0);
    Advance(1000);
    EXPECT_EQ(RecordThread()->Outgoing().Count(), left); // nothing taken, nothing added
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    std::vector<int64_t> starts = StartsOf(Drain()); // before the loop has run again
    EXPECT_EQ(starts, Consecutive(kBlockSamples, left));
}

TEST_F(TalkServiceTest, PacketsLeftAtCloseComeFirstThenLiveAudio)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    const int32_t left = RecordThread()->Outgoing().Count();
    ASSERT_GT(left, 2);
    ASSERT_EQ(Orvo_CloseTalk(), 0);
    Advance(2000);
    const int64_t openAt = virt::Now();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    std::vector<int64_t> starts = StartsOf(Drain());
    ASSERT_GT(starts.size(), static_cast<size_t>(left));
    // Captured while talk was on: kept and handed out first, oldest first.
    EXPECT_EQ(std::vector<int64_t>(starts.begin(), starts.begin() + left), Consecutive(0, left));
    // Then nothing of the two seconds with talk off.
    EXPECT_GE(starts[left], (openAt - kMostBeforeOpenMs) * kSamplesPerMs);
}

TEST_F(TalkServiceTest, InputKeepsFourteenPacketsAndRefusesBadArguments)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    TalkRing &ring = RecordThread()->Incoming();
    std::vector<unsigned char> big(ORVO_TALK_IN_PACKET_MAX + 1, 0xAB);
    // Refused: nothing stored, -1.
    EXPECT_EQ(Orvo_InputTalkData(nullptr, 10), -1);
    EXPECT_EQ(Orvo_InputTalkData(nullptr, 0), -1);
    EXPECT_EQ(Orvo_InputTalkData(big.data(), -1), -1);
    EXPECT_EQ(Orvo_InputTalkData(big.data(), ORVO_TALK_IN_PACKET_MAX + 1), -1);
    EXPECT_EQ(ring.Count(), 0);
    // Stored: lengths 0 to 1024, fourteen at most.
    for (int i = 0; i < 15; ++i) {
        std::vector<unsigned char> packet(ORVO_TALK_IN_PACKET_MAX, static_cast<unsigned char>(i));
        int32_t length = i == 0 ? 0 : i == 1 ? ORVO_TALK_IN_PACKET_MAX : 100 + i;
        EXPECT_EQ(Orvo_InputTalkData(packet.data(), length), 0);
    }
    EXPECT_EQ(ring.Count(), 14);
    // In order through Take, the consumer's side.
    std::vector<unsigned char> out(ORVO_TALK_IN_PACKET_MAX);
    int32_t length = -1;
    for (int i = 0; i < 14; ++i) {
        ASSERT_TRUE(ring.Take(out.data(), ORVO_TALK_IN_PACKET_MAX, &length));
        int32_t want = i == 0 ? 0 : i == 1 ? ORVO_TALK_IN_PACKET_MAX : 100 + i;
        ASSERT_EQ(length, want);
        for (int32_t k = 0; k < length; ++k)
            ASSERT_EQ(out[k], i);
    }
    EXPECT_FALSE(ring.Take(out.data(), ORVO_TALK_IN_PACKET_MAX, &length));
}

TEST_F(TalkServiceTest, NullBufferTakesNothing)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    const int32_t waiting = RecordThread()->Outgoing().Count();
    ASSERT_GT(waiting, 0);
    EXPECT_EQ(Orvo_GetAudioTalkData(nullptr), 0);
    EXPECT_EQ(RecordThread()->Outgoing().Count(), waiting);
}

TEST_F(TalkServiceTest, MissingDeviceIsRetriedEveryTwoSeconds)
{
    virt::SetCaptureAvailable(false);
    Init();
    CRecordThread *thread = RecordThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(thread->HasCaptureBlocks());
    EXPECT_EQ(thread->LastDeviceResult(), orvo::platform::MMSYSERR_BADDEVICEID);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(1999); // talk on, no blocks: the loop only sleeps
    EXPECT_EQ(virt::GetCaptureStats().openAttempts, 1);
    Advance(1);
    EXPECT_EQ(virt::GetCaptureStats().openAttempts, 2);
    EXPECT_EQ(Drain().size(), 0u);
    Advance(1000);
    virt::SetCaptureAvailable(true); // plugged in at 3 s
    Advance(999);
    EXPECT_EQ(virt::GetCaptureStats().opens, 0);
    Advance(1);
    EXPECT_EQ(virt::GetCaptureStats().opens, 1); // used at the next retry, 4 s
    EXPECT_TRUE(thread->HasCaptureBlocks());
    Advance(250);
    std::vector<int64_t> starts = StartsOf(Drain());
    ASSERT_GE(starts.size(), 10u);
    EXPECT_EQ(std::vector<int64_t>(starts.begin(), starts.begin() + 10), Consecutive(0, 10));
}

TEST_F(TalkServiceTest, DeviceStateTellsWhetherTheCaptureDeviceOpened)
{
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE), -1); // no service yet
    virt::SetCaptureAvailable(false);
    Init();
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE), 0);
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_PLAYBACK), 0); // not started
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(2), -1);
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(-1), -1);
    virt::SetCaptureAvailable(true);
    Advance(2000); // the next retry opens it
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE), 1);
    ASSERT_EQ(Orvo_StartAudioPlay(), 0);
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_PLAYBACK), 1);
    ShutdownTalkService();
    EXPECT_EQ(Orvo_IsAudioDeviceOpen(ORVO_AUDIO_CAPTURE), -1);
}

TEST_F(TalkServiceTest, DeviceThatFailsToResetIsReopened)
{
    virt::SetCaptureResetFails(true);
    Init();
    CRecordThread *thread = RecordThread();
    EXPECT_FALSE(thread->HasCaptureBlocks());
    EXPECT_EQ(thread->LastDeviceResult(), orvo::platform::MMSYSERR_ERROR);
    EXPECT_TRUE(virt::GetCaptureStats().open);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(2000); // retried, fails again
    EXPECT_EQ(virt::GetCaptureStats().opens, 2);
    EXPECT_FALSE(thread->HasCaptureBlocks());
    virt::SetCaptureResetFails(false);
    Advance(2000);
    EXPECT_EQ(virt::GetCaptureStats().opens, 3);
    EXPECT_TRUE(thread->HasCaptureBlocks());
    Advance(100);
    EXPECT_FALSE(Drain().empty());
}

TEST_F(TalkServiceTest, ShortBlockIsPaddedWithSilence)
{
    constexpr uint32_t kShortBytes = 100;
    virt::CutNextCaptureBlock(kShortBytes);
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    std::vector<Packet> packets = Drain();
    ASSERT_GE(packets.size(), 2u);
    std::vector<uint8_t> payload(packets[0].begin() + kPayloadOffset, packets[0].end());
    std::vector<uint8_t> expected = MuLawOfSource(0, kShortBytes / 2);
    expected.resize(kPayloadBytes, MuLaw(0)); // silence, not an older block's samples
    EXPECT_EQ(payload, expected);
    EXPECT_EQ(StartsOf({packets[1]}), std::vector<int64_t>{kShortBytes / 2});
}

TEST_F(TalkServiceTest, ShutdownStopsTheThreadClosesTheDeviceAndAllowsANewStart)
{
    Init();
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    Advance(100);
    ShutdownTalkService();
    EXPECT_EQ(virt::WorkerCount(), 0);
    EXPECT_FALSE(virt::GetCaptureStats().open);
    EXPECT_EQ(Orvo_OpenTalk(), -1);
    ShutdownTalkService(); // twice is harmless
    Init();
    EXPECT_EQ(virt::GetCaptureStats().opens, 2);
    EXPECT_EQ(Orvo_OpenTalk(), 0);
}

TEST_F(TalkServiceTest, DeviceSelectionChecksItsArguments)
{
    struct Case {
        int32_t direction;
        const char *name;
        int32_t expected;
    };
    const Case cases[] = {
        {ORVO_AUDIO_CAPTURE, nullptr, 0},       {ORVO_AUDIO_CAPTURE, "default", 0},
        {ORVO_AUDIO_PLAYBACK, "hw:1,0", 0},     {ORVO_AUDIO_CAPTURE, "wav:/tmp/x.wav", 0},
        {ORVO_AUDIO_CAPTURE, "", -1},           {ORVO_AUDIO_CAPTURE, "wav:", -1},
        {2, "default", -1},                     {-1, nullptr, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Orvo_SelectAudioDevice(c.direction, c.name), c.expected)
            << c.direction << " " << (c.name ? c.name : "(null)");
    std::string longName(5000, 'x');
    EXPECT_EQ(Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, longName.c_str()), -1);
    EXPECT_EQ(orvo::platform::SelectedWaveDevice(orvo::platform::WaveDirection::Capture),
              "wav:/tmp/x.wav");
    EXPECT_EQ(orvo::platform::SelectedWaveDevice(orvo::platform::WaveDirection::Playback), "hw:1,0");
    EXPECT_EQ(Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, nullptr), 0);
    EXPECT_EQ(Orvo_SelectAudioDevice(ORVO_AUDIO_PLAYBACK, "default"), 0);
    EXPECT_EQ(orvo::platform::SelectedWaveDevice(orvo::platform::WaveDirection::Playback), "");
}

} // namespace
} // namespace orvo::talk
