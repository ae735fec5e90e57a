// Wave input on the virtual device: blocks filled in queue order, on the virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/virtual/virtual_platform.h"
#include "platform/wave.h"

namespace orvo::platform {
namespace {

constexpr uint32_t kBlockBytes = 320;
constexpr uint32_t kBlockSamples = kBlockBytes / 2;
constexpr uint32_t kHeader = sizeof(WAVEHDR);

int16_t SampleAt(uint64_t index) { return static_cast<int16_t>(index * 7 + 1); }

struct Block {
    WAVEHDR header;
    std::array<int16_t, kBlockSamples> data{};
    Block()
    {
        header.lpData = reinterpret_cast<char *>(data.data());
        header.dwBufferLength = kBlockBytes;
    }
    // True if the block holds the source samples first..first+count-1.
    bool Holds(uint64_t first, uint32_t count = kBlockSamples) const
    {
        for (uint32_t i = 0; i < count; ++i)
            if (data[i] != SampleAt(first + i))
                return false;
        return true;
    }
};

class WaveInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        virt::Reset();
        virt::SetCaptureSource(SampleAt);
        format = TalkPcmFormat();
    }
    void TearDown() override
    {
        if (device) {
            waveInReset(device);
            EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        }
        virt::Reset();
    }
    void Open()
    {
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    }
    void Queue(Block &block)
    {
        ASSERT_EQ(waveInPrepareHeader(device, &block.header, kHeader), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &block.header, kHeader), MMSYSERR_NOERROR);
    }

    WAVEFORMATEX format{};
    HWAVEIN device = nullptr;
    Block blocks[3]; // outlive the device's queue: TearDown resets it
};

TEST_F(WaveInTest, OpenChecksItsArguments)
{
    struct Case {
        const char *what;
        uint32_t deviceId;
        void (*change)(WAVEFORMATEX &);
        uint32_t flags;
        MMRESULT expected;
    };
    const Case cases[] = {
        {"mapper", WAVE_MAPPER, [](WAVEFORMATEX &) {}, CALLBACK_NULL, MMSYSERR_NOERROR},
        {"device 0", 0, [](WAVEFORMATEX &) {}, CALLBACK_NULL, MMSYSERR_NOERROR},
        {"device 1", 1, [](WAVEFORMATEX &) {}, CALLBACK_NULL, MMSYSERR_BADDEVICEID},
        {"callback", WAVE_MAPPER, [](WAVEFORMATEX &) {}, 0x30000, MMSYSERR_INVALFLAG},
        {"stereo", WAVE_MAPPER, [](WAVEFORMATEX &f) { f.nChannels = 2; }, CALLBACK_NULL,
         WAVERR_BADFORMAT},
        {"16 kHz", WAVE_MAPPER, [](WAVEFORMATEX &f) { f.nSamplesPerSec = 16000; }, CALLBACK_NULL,
         WAVERR_BADFORMAT},
        {"8 bit", WAVE_MAPPER, [](WAVEFORMATEX &f) { f.wBitsPerSample = 8; }, CALLBACK_NULL,
         WAVERR_BADFORMAT},
        {"not PCM", WAVE_MAPPER, [](WAVEFORMATEX &f) { f.wFormatTag = 3; }, CALLBACK_NULL,
         WAVERR_BADFORMAT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WAVEFORMATEX f = TalkPcmFormat();
        c.change(f);
        HWAVEIN handle = nullptr;
        EXPECT_EQ(waveInOpen(&handle, c.deviceId, &f, 0, 0, c.flags), c.expected);
        EXPECT_EQ(handle != nullptr, c.expected == MMSYSERR_NOERROR);
        if (handle) {
            EXPECT_EQ(waveInClose(handle), MMSYSERR_NOERROR);
        }
    }
    HWAVEIN handle = nullptr;
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&handle, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    virt::SetCaptureAvailable(false);
    EXPECT_EQ(waveInOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(waveInStart(nullptr), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveInTest, FillsQueuedBlocksInQueueOrderOnTheClock)
{
    Open();
    Block &a = blocks[0], &b = blocks[1], &c = blocks[2];
    Queue(b); // queue order b, a, c
    Queue(a);
    Queue(c);
    EXPECT_FALSE(IsWaveHeaderDone(&b.header));
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);

    ASSERT_TRUE(virt::Advance(19));
    EXPECT_FALSE(IsWaveHeaderDone(&b.header)); // 152 of 160 samples
    ASSERT_TRUE(virt::Advance(1));
    ASSERT_TRUE(IsWaveHeaderDone(&b.header));
    EXPECT_EQ(b.header.dwBytesRecorded, kBlockBytes);
    EXPECT_TRUE(b.Holds(0));
    EXPECT_FALSE(IsWaveHeaderDone(&a.header));

    ASSERT_TRUE(virt::Advance(40));
    ASSERT_TRUE(IsWaveHeaderDone(&a.header) && IsWaveHeaderDone(&c.header));
    EXPECT_TRUE(a.Holds(kBlockSamples));
    EXPECT_TRUE(c.Holds(2 * kBlockSamples));
    EXPECT_EQ(virt::GetCaptureStats().lastBlockDoneAt, 60);

    // Nothing queued for 20 ms: those samples are dropped, time runs on.
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_EQ(virt::GetCaptureStats().samplesDropped, kBlockSamples);
    ASSERT_EQ(waveInAddBuffer(device, &a.header, kHeader), MMSYSERR_NOERROR); // still prepared
    EXPECT_FALSE(IsWaveHeaderDone(&a.header));                              // done flag cleared
    ASSERT_TRUE(virt::Advance(20));
    ASSERT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_TRUE(a.Holds(4 * kBlockSamples));
    EXPECT_EQ(virt::GetCaptureStats().blocksCompleted, 4u);
}

TEST_F(WaveInTest, NothingIsCapturedBeforeStart)
{
    Open();
    Block &a = blocks[0];
    Queue(a);
    ASSERT_TRUE(virt::Advance(100));
    EXPECT_FALSE(IsWaveHeaderDone(&a.header));
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_TRUE(a.Holds(0)); // index 0 is the first sample after the start
}

TEST_F(WaveInTest, ResetReturnsQueuedBlocksWithWhatTheyHold)
{
    Open();
    Block &a = blocks[0], &b = blocks[1];
    Queue(a);
    Queue(b);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(virt::Advance(5));
    EXPECT_EQ(waveInUnprepareHeader(device, &a.header, kHeader), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_EQ(a.header.dwBytesRecorded, 5u * 8 * 2);
    EXPECT_TRUE(a.Holds(0, 40));
    EXPECT_TRUE(IsWaveHeaderDone(&b.header));
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInUnprepareHeader(device, &a.header, kHeader), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(device, &a.header, kHeader), WAVERR_UNPREPARED);
    ASSERT_TRUE(virt::Advance(40)); // stopped by the reset: nothing more
    EXPECT_EQ(virt::GetCaptureStats().samplesCaptured, 40u);
    virt::SetCaptureResetFails(true);
    EXPECT_EQ(waveInReset(device), MMSYSERR_ERROR);
}

TEST_F(WaveInTest, HeaderChecks)
{
    Open();
    Block &a = blocks[0];
    EXPECT_EQ(waveInAddBuffer(device, &a.header, kHeader), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInPrepareHeader(device, nullptr, kHeader), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInPrepareHeader(device, &a.header, kHeader - 1), MMSYSERR_INVALPARAM);
    Block noData;
    noData.header.lpData = nullptr;
    EXPECT_EQ(waveInPrepareHeader(device, &noData.header, kHeader), MMSYSERR_INVALPARAM);
    Queue(a);
    EXPECT_EQ(waveInAddBuffer(device, &a.header, kHeader), WAVERR_STILLPLAYING);
    EXPECT_NE(a.header.dwFlags.load() & WHDR_INQUEUE, 0u);
}

TEST_F(WaveInTest, CutBlockIsReturnedShort)
{
    Open();
    Block &a = blocks[0], &b = blocks[1];
    Queue(a);
    Queue(b);
    virt::CutNextCaptureBlock(100);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(virt::Advance(7)); // 56 samples = 112 bytes > 100: cut after 50 samples
    ASSERT_TRUE(IsWaveHeaderDone(&a.header));
    EXPECT_EQ(a.header.dwBytesRecorded, 100u);
    EXPECT_TRUE(a.Holds(0, 50));
    ASSERT_TRUE(virt::Advance(20));
    EXPECT_TRUE(IsWaveHeaderDone(&b.header));
    EXPECT_TRUE(b.Holds(50));
}

TEST_F(WaveInTest, SecondOpenFindsTheDeviceBusy)
{
    Open();
    HWAVEIN second = nullptr;
    EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
}

} // namespace
} // namespace orvo::platform
