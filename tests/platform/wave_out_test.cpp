// Wave output on the virtual device: blocks played in order at 8 samples per virtual millisecond,
// each recorded with its content and times.
#include <gtest/gtest.h>

#include <vector>

#include "platform/virtual/virtual_platform.h"
#include "platform/wave.h"

namespace orvo::platform {
namespace {

constexpr uint32_t kHeader = sizeof(WAVEHDR);

struct Block {
    WAVEHDR header;
    std::vector<int16_t> data;
    Block(size_t samples, int16_t first) : data(samples)
    {
        for (size_t i = 0; i < samples; ++i)
            data[i] = static_cast<int16_t>(first + i);
        header.lpData = reinterpret_cast<char *>(data.data());
        header.dwBufferLength = static_cast<uint32_t>(samples * sizeof(int16_t));
    }
};

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        virt::Reset();
        format = TalkPcmFormat();
        ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    }
    void TearDown() override
    {
        waveOutReset(device);
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
        virt::Reset();
    }
    void Write(Block &block)
    {
        ASSERT_EQ(waveOutPrepareHeader(device, &block.header, kHeader), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &block.header, kHeader), MMSYSERR_NOERROR);
    }

    WAVEFORMATEX format{};
    HWAVEOUT device = nullptr;
};

TEST_F(WaveOutTest, PlaysBlocksInOrderAndRecordsThem)
{
    Block a(160, 0), b(320, 1000), c(80, 2000);
    ASSERT_TRUE(virt::Advance(3)); // nothing queued: silence
    Write(a);
    Write(b);
    Write(c);
    EXPECT_FALSE(IsWaveHeaderDone(&a.header));
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_FALSE(IsWaveHeaderDone(&b.header));
    ASSERT_TRUE(virt::Advance(50));
    EXPECT_TRUE(IsWaveHeaderDone(&b.header) && IsWaveHeaderDone(&c.header));

    std::vector<virt::PlayedBlock> played = virt::PlayedBlocks();
    ASSERT_EQ(played.size(), 3u);
    struct Expect {
        int64_t queuedAt, doneAt;
        const Block *block;
    };
    const Expect expected[] = {{3, 23, &a}, {3, 63, &b}, {3, 73, &c}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(played[i].queuedAt, expected[i].queuedAt);
        EXPECT_EQ(played[i].doneAt, expected[i].doneAt);
        EXPECT_EQ(played[i].samples, expected[i].block->data);
    }
    virt::PlaybackStats stats = virt::GetPlaybackStats();
    EXPECT_EQ(stats.samplesPlayed, 560u);
    EXPECT_EQ(stats.silentSamples, 73u * 8 - 560u);
}

TEST_F(WaveOutTest, PauseHoldsAndRestartResumes)
{
    Block a(160, 0);
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    Write(a);
    ASSERT_TRUE(virt::Advance(100));
    EXPECT_FALSE(IsWaveHeaderDone(&a.header));
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_EQ(virt::PlayedBlocks().at(0).doneAt, 120);
}

TEST_F(WaveOutTest, EmptyBlockIsDoneWhenReached)
{
    Block a(160, 0), empty(0, 0), b(8, 5);
    empty.header.lpData = reinterpret_cast<char *>(a.data.data()); // any buffer; length 0
    Write(a);
    Write(empty);
    Write(b);
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_TRUE(IsWaveHeaderDone(&empty.header)); // reached at the end of a
    EXPECT_FALSE(IsWaveHeaderDone(&b.header));
    ASSERT_TRUE(virt::Advance(1));
    EXPECT_TRUE(IsWaveHeaderDone(&b.header));
    EXPECT_EQ(virt::PlayedBlocks().size(), 3u);
}

TEST_F(WaveOutTest, ResetReturnsEveryQueuedBlock)
{
    Block a(160, 0), b(160, 0);
    Write(a);
    Write(b);
    ASSERT_TRUE(virt::Advance(10));
    EXPECT_EQ(waveOutUnprepareHeader(device, &a.header, kHeader), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(IsWaveHeaderDone(&a.header) && IsWaveHeaderDone(&b.header));
    EXPECT_TRUE(virt::PlayedBlocks().empty()); // returned, not played
    EXPECT_EQ(waveOutUnprepareHeader(device, &a.header, kHeader), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(device, &a.header, kHeader), WAVERR_UNPREPARED);
    // A block written after the reset plays from its start.
    Write(b);
    ASSERT_TRUE(virt::Advance(20));
    ASSERT_EQ(virt::PlayedBlocks().size(), 1u);
    EXPECT_EQ(virt::PlayedBlocks()[0].samples, b.data);
}

TEST_F(WaveOutTest, OpenFailures)
{
    HWAVEOUT second = nullptr;
    EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    WAVEFORMATEX stereo = format;
    stereo.nChannels = 2;
    EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &stereo, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutWrite(nullptr, nullptr, kHeader), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    virt::SetPlaybackAvailable(false);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    virt::SetPlaybackAvailable(true);
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
}

} // namespace
} // namespace orvo::platform
