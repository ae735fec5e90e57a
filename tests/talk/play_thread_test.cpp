// CAudioPlayThread on the virtual playback device and clock: the consume/repeat choice, the
// sequence gate, the slot lengths, the read index wrap, WriteBlock and ClosePlayback. The test is
// the producer; it queues frames between clock steps, while the playback thread is at rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/audio_play_thread.h"
#include "tests/talk/play_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = platform::virt;
using testing::DecodeMuLaw;
using testing::FramePayload;
using testing::PlayedFrameIds;
using testing::StretchedOrder;

constexpr int64_t kBlockMs = 20; // one 160-sample frame plays for 20 ms

class PlayThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        virt::Reset();
        platform::CWinThread *created =
            platform::AfxBeginThread(ORVO_RUNTIME_CLASS(CAudioPlayThread));
        thread = static_cast<CAudioPlayThread *>(created);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(virt::WaitIdle());
    }
    void TearDown() override
    {
        delete thread;
        virt::Reset();
    }
    void StartPlaying()
    {
        thread->SetOpened(true);
        thread->SetPlayState(1);
    }
    void Queue(int id, uint32_t sequence, int payloadBytes = testing::kFrameSamples)
    {
        std::vector<uint8_t> payload = FramePayload(id, payloadBytes);
        ASSERT_TRUE(thread->QueueFrame(sequence, payload.data(), static_cast<uint16_t>(payload.size())));
    }

    CAudioPlayThread *thread = nullptr;
};

TEST_F(PlayThreadTest, ConstructionSetsUpDecoderBlocksAndDevice)
{
    EXPECT_STREQ(thread->GetRuntimeClass()->m_lpszClassName, "CAudioPlayThread");
    EXPECT_EQ(platform::CRuntimeClass::FromName("CAudioPlayThread"),
              ORVO_RUNTIME_CLASS(CAudioPlayThread));
    EXPECT_EQ(thread->DeviceOpenResult(), platform::MMSYSERR_NOERROR);
    EXPECT_TRUE(thread->HasDevice());
    EXPECT_TRUE(thread->HasPlaybackBlocks());
    EXPECT_EQ(thread->GetPlayState(), 0);
    EXPECT_FALSE(thread->IsOpened());
    EXPECT_EQ(thread->RepeatCounter(), 10);
    EXPECT_EQ(thread->QueuedCount(), 0);
    EXPECT_EQ(thread->ExpectedSequence(), 0u);
    const platform::WAVEFORMATEX &format = thread->PlaybackFormat();
    EXPECT_EQ(format.wFormatTag, platform::WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(format.nBlockAlign, 2);
    EXPECT_EQ(format.wBitsPerSample, 16);
}

TEST_F(PlayThreadTest, NothingPlaysUntilPlayStateAndOpenedFlagAreBothSet)
{
    struct Case {
        bool opened;
        int32_t state;
    };
    const Case cases[] = {{false, 0}, {true, 0}, {false, 1}, {true, 2}};
    Queue(1, 10);
    for (const Case &c : cases) {
        thread->SetOpened(c.opened);
        thread->SetPlayState(c.state);
        ASSERT_TRUE(virt::Advance(100));
        EXPECT_TRUE(virt::PlayedBlocks().empty());
        EXPECT_EQ(thread->QueuedCount(), 1); // paused: the queue keeps its frames
    }
    StartPlaying();
    ASSERT_TRUE(virt::Advance(100));
    EXPECT_EQ(PlayedFrameIds(), std::vector<int>{1});
}

TEST_F(PlayThreadTest, FifteenOrMoreQueuedFromSequenceTenPlaysEachFrameOnceInOrder)
{
    int nextId = 1;
    auto topUp = [&] {
        while (thread->QueuedCount() < kPlayQueueSlots)
            Queue(nextId % 100, static_cast<uint32_t>(10 + nextId - 1)), ++nextId;
    };
    topUp();
    StartPlaying();
    for (int step = 0; step < 60; ++step) {
        ASSERT_TRUE(virt::Advance(kBlockMs));
        ASSERT_GE(thread->QueuedCount(), kPlayConsumeThreshold);
        topUp();
    }
    std::vector<int> played = PlayedFrameIds();
    ASSERT_GE(played.size(), 50u);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], static_cast<int>((i + 1) % 100)) << "block " << i;
    EXPECT_EQ(thread->FramesRepeated(), 0u);
}

TEST_F(PlayThreadTest, ShortQueueStretchesTenOnceEleventhTwiceThenEveryNinth)
{
    constexpr int kFrames = 48;
    constexpr int kKeepQueued = 5;
    StartPlaying();
    int nextId = 1;
    for (int step = 0; nextId <= kFrames && step < 10 * kFrames; ++step) {
        while (thread->QueuedCount() < kKeepQueued && nextId <= kFrames)
            Queue(nextId, static_cast<uint32_t>(10 + nextId)), ++nextId;
        ASSERT_TRUE(virt::Advance(kBlockMs));
    }
    ASSERT_TRUE(virt::Advance(40 * kBlockMs));
    std::vector<int> expected = StretchedOrder(1, kFrames);
    EXPECT_EQ(PlayedFrameIds(), expected);
    // Frames 11, 20, 29, 38 and 47 are the ones played twice.
    EXPECT_EQ(thread->FramesRepeated(), 5u);
}

TEST_F(PlayThreadTest, TwentyFramesAtOnceAfterConstruction)
{
    for (int id = 1; id <= 20; ++id)
        Queue(id, static_cast<uint32_t>(10 + id));
    StartPlaying();
    ASSERT_TRUE(virt::Advance(60 * kBlockMs));
    std::vector<int> expected;
    for (int id = 1; id <= 20; ++id) {
        expected.push_back(id);
        if (id == 11 || id == 20)
            expected.push_back(id);
    }
    EXPECT_EQ(PlayedFrameIds(), expected);
    EXPECT_EQ(thread->QueuedCount(), 0);
    EXPECT_EQ(thread->FramesConsumed(), 20u);
}

TEST_F(PlayThreadTest, SequenceGateHoldsHeadsOneToNineAhead)
{
    struct Case {
        uint32_t expected, head;
        bool plays;
    };
    const Case cases[] = {
        {0, 3, false}, {0, 1, false}, {0, 9, false}, {0, 0, true},        {0, 12, true},
        {0, 10, true}, {100, 95, true}, {0xFFFFFFFEu, 2, false}, {0xFFFFFFF0u, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "expected " << c.expected << " head " << c.head);
        TearDown();
        SetUp();
        thread->SetExpectedSequence(c.expected);
        Queue(1, c.head);
        Queue(2, c.head + 1); // nothing behind a held head plays either
        StartPlaying();
        ASSERT_TRUE(virt::Advance(10 * kBlockMs));
        if (c.plays) {
            EXPECT_FALSE(PlayedFrameIds().empty());
            EXPECT_EQ(PlayedFrameIds().front(), 1);
        } else {
            EXPECT_TRUE(PlayedFrameIds().empty());
            EXPECT_EQ(thread->QueuedCount(), 2);
        }
    }
}

TEST_F(PlayThreadTest, EmptyQueueDecodesNothing)
{
    StartPlaying();
    ASSERT_TRUE(virt::Advance(200));
    EXPECT_TRUE(virt::PlayedBlocks().empty());
    EXPECT_EQ(virt::GetPlaybackStats().samplesPlayed, 0u);
    EXPECT_EQ(thread->RepeatCounter(), 10);
}

TEST_F(PlayThreadTest, SlotLengthsDecideTheBlock)
{
    struct Case {
        int payloadBytes;
        size_t blockSamples; // what the played block holds
    };
    const Case cases[] = {
        {100, 0},   // refused by the decoder: an empty block, the slot used up all the same
        {160, 160}, // 160 samples, one 320-byte block
        {80, 80},   {320, 320},
        {480, 320}, // decoded to 480 samples, cut to the 640-byte block
        {1000, 0},  // cut to the 640-byte slot, which the decoder refuses
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.payloadBytes);
        TearDown();
        SetUp();
        std::vector<uint8_t> payload(static_cast<size_t>(c.payloadBytes), 7);
        ASSERT_TRUE(thread->QueueFrame(0, payload.data(), static_cast<uint16_t>(payload.size())));
        StartPlaying();
        ASSERT_TRUE(virt::Advance(100));
        std::vector<virt::PlayedBlock> played = virt::PlayedBlocks();
        ASSERT_EQ(played.size(), 1u);
        EXPECT_EQ(played[0].samples.size(), c.blockSamples);
        if (c.blockSamples > 0) {
            std::vector<int16_t> decoded = DecodeMuLaw(std::vector<uint8_t>(c.blockSamples, 7));
            EXPECT_EQ(played[0].samples, decoded);
        }
        EXPECT_EQ(thread->QueuedCount(), 0);
        EXPECT_EQ(thread->ReadIndex(), 1);
    }
}

TEST_F(PlayThreadTest, ReadIndexWrapsFrom24To0)
{
    StartPlaying();
    for (int id = 1; id <= 24; ++id)
        Queue(id, static_cast<uint32_t>(10 + id));
    ASSERT_TRUE(virt::Advance(60 * kBlockMs));
    ASSERT_EQ(thread->FramesConsumed(), 24u);
    EXPECT_EQ(thread->ReadIndex(), 24);
    for (int id = 25; id <= 30; ++id)
        Queue(id, static_cast<uint32_t>(10 + id));
    EXPECT_EQ(thread->WriteIndex(), 5);
    ASSERT_TRUE(virt::Advance(20 * kBlockMs));
    EXPECT_EQ(thread->ReadIndex(), 5);
    std::vector<int> played = PlayedFrameIds();
    played.erase(std::unique(played.begin(), played.end()), played.end()); // repeats aside
    std::vector<int> tail(played.end() - 7, played.end());
    EXPECT_EQ(tail, (std::vector<int>{24, 25, 26, 27, 28, 29, 30}));
}

TEST_F(PlayThreadTest, QueueTakesAtMostTwentyFiveAndDropOldestMakesRoom)
{
    for (int id = 0; id < kPlayQueueSlots; ++id)
        Queue(id, static_cast<uint32_t>(id));
    std::vector<uint8_t> payload = FramePayload(99);
    EXPECT_FALSE(thread->QueueFrame(25, payload.data(), static_cast<uint16_t>(payload.size())));
    EXPECT_TRUE(thread->DropOldestFrame());
    EXPECT_EQ(thread->HeadSequence(), 1u);
    EXPECT_TRUE(thread->QueueFrame(25, payload.data(), static_cast<uint16_t>(payload.size())));
    EXPECT_EQ(thread->QueuedCount(), kPlayQueueSlots);
}

TEST_F(PlayThreadTest, WriteBlockNeverWritesMoreThanTheBlock)
{
    // The thread is paused, so the blocks are the test's.
    std::vector<int16_t> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i);
    thread->WriteBlock(samples.data(), 2000);
    thread->WriteBlock(samples.data(), -4); // a negative count writes an empty block
    thread->WriteBlock(samples.data(), 6);
    EXPECT_EQ(thread->PlaybackBlockIndex(), 3);
    ASSERT_TRUE(virt::Advance(100));
    std::vector<virt::PlayedBlock> played = virt::PlayedBlocks();
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[0].samples, std::vector<int16_t>(samples.begin(), samples.begin() + 320));
    EXPECT_TRUE(played[1].samples.empty());
    EXPECT_EQ(played[2].samples, (std::vector<int16_t>{0, 1, 2}));
}

TEST_F(PlayThreadTest, WriteBlockDropsSamplesWhenTheNextBlockIsBusy)
{
    std::vector<int16_t> samples(160, 5);
    for (int i = 0; i < kPlayBlockCount; ++i)
        thread->WriteBlock(samples.data(), 320);
    EXPECT_EQ(thread->PlaybackBlockIndex(), 0);
    thread->WriteBlock(samples.data(), 320); // block 0 still plays: dropped
    EXPECT_EQ(thread->PlaybackBlockIndex(), 0);
    ASSERT_TRUE(virt::Advance(kBlockMs));
    thread->WriteBlock(samples.data(), 320); // block 0 played: written
    EXPECT_EQ(thread->PlaybackBlockIndex(), 1);
    ASSERT_TRUE(virt::Advance(20 * kBlockMs));
    EXPECT_EQ(virt::PlayedBlocks().size(), 11u);
}

TEST_F(PlayThreadTest, ClosePlaybackWithOpenedFlagZeroDoesNothing)
{
    thread->ClosePlayback(); // returns at once (a sleep here would wait for the clock for ever)
    EXPECT_TRUE(thread->HasDevice());
    EXPECT_TRUE(thread->HasPlaybackBlocks());
    EXPECT_TRUE(virt::GetPlaybackStats().open);
}

TEST_F(PlayThreadTest, ClosePlaybackReleasesBlocksAndClosesTheDevice)
{
    Queue(1, 0);
    StartPlaying();
    ASSERT_TRUE(virt::Advance(5));
    thread->StopAndWait(); // the loop must not run while its blocks go away
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        thread->ClosePlayback();
        closed = true;
    });
    // Drives the 50 ms and 10 ms waits. The closer is no worker, so the clock cannot tell when it
    // sleeps: step slowly, with a wall-time guard.
    int64_t start = virt::Now();
    auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!closed && std::chrono::steady_clock::now() < guard) {
        ASSERT_TRUE(virt::Advance(1));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    closer.join();
    EXPECT_TRUE(closed);
    EXPECT_GE(virt::Now() - start, 60);
    EXPECT_FALSE(thread->HasPlaybackBlocks());
    EXPECT_FALSE(thread->HasDevice());
    EXPECT_FALSE(virt::GetPlaybackStats().open);
    EXPECT_EQ(thread->LastDeviceResult(), platform::MMSYSERR_NOERROR);
}

TEST_F(PlayThreadTest, MissingDeviceLeavesAThreadThatPlaysNothing)
{
    TearDown();
    virt::Reset();
    virt::SetPlaybackAvailable(false);
    thread = static_cast<CAudioPlayThread *>(
        platform::AfxBeginThread(ORVO_RUNTIME_CLASS(CAudioPlayThread)));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->DeviceOpenResult(), platform::MMSYSERR_BADDEVICEID);
    EXPECT_FALSE(thread->HasDevice());
    Queue(1, 0);
    thread->SetPlayState(1); // opened flag left at 0, as a producer does without a device
    ASSERT_TRUE(virt::Advance(100));
    EXPECT_EQ(thread->QueuedCount(), 1);
}

} // namespace
} // namespace orvo::talk
