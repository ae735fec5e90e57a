#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "media/audio_records.h"

namespace orvo::media {
namespace {

TEST(WaveFormat, PackedEighteenBytesInPlatformOrder)
{
    static_assert(sizeof(WAVEFORMATEX) == 18, "packed record");
    EXPECT_EQ(offsetof(WAVEFORMATEX, wFormatTag), 0u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nChannels), 2u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nAvgBytesPerSec), 8u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nBlockAlign), 12u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, wBitsPerSample), 14u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
}

TEST(AudioFormat, ConstructedAsTheLibrarysPcmFormat)
{
    CAudioFormat format;
    const WAVEFORMATEX *wave = format.GetWaveFormat();
    EXPECT_EQ(wave->wFormatTag, 1);
    EXPECT_EQ(wave->nChannels, 1);
    EXPECT_EQ(wave->nSamplesPerSec, 8000u);
    EXPECT_EQ(wave->wBitsPerSample, 16);
    EXPECT_EQ(wave->cbSize, 0);
    EXPECT_EQ(wave->nBlockAlign, 2);
    EXPECT_EQ(wave->nAvgBytesPerSec, 16000u);
    EXPECT_EQ(format.GetFrameSize(), 480);
}

TEST(AudioFormat, SettersKeepTheDerivedFieldsInStep)
{
    struct Case {
        const char *what;
        void (*apply)(CAudioFormat &);
        uint16_t blockAlign;
        uint32_t bytesPerSecond;
    } cases[] = {
        {"2 channels", [](CAudioFormat &f) { f.SetChannels(2); }, 4, 32000},
        {"8 bits", [](CAudioFormat &f) { f.SetBitsPerSample(8); }, 1, 8000},
        {"12 bits", [](CAudioFormat &f) { f.SetBitsPerSample(12); }, 1, 8000},
        {"7 bits", [](CAudioFormat &f) { f.SetBitsPerSample(7); }, 0, 0},
        {"0 channels", [](CAudioFormat &f) { f.SetChannels(0); }, 0, 0},
        {"44100 Hz", [](CAudioFormat &f) { f.SetSamplesPerSec(44100); }, 2, 88200},
        {"extra size", [](CAudioFormat &f) { f.SetExtraSize(22); }, 2, 16000},
    };
    for (const Case &c : cases) {
        CAudioFormat format;
        c.apply(format);
        EXPECT_EQ(format.GetWaveFormat()->nBlockAlign, c.blockAlign) << c.what;
        EXPECT_EQ(format.GetWaveFormat()->nAvgBytesPerSec, c.bytesPerSecond) << c.what;
    }
    CAudioFormat format;
    format.SetExtraSize(22);
    EXPECT_EQ(format.GetExtraSize(), 22);
    format.SetSamplesPerSec(11025);
    EXPECT_EQ(format.GetSamplesPerSec(), 11025u);
}

TEST(AudioFormat, SetWaveFormatCopiesWithoutRecalculating)
{
    WAVEFORMATEX given{};
    given.wFormatTag = 1;
    given.nChannels = 2;
    given.nSamplesPerSec = 22050;
    given.nAvgBytesPerSec = 12345; // disagrees with the other fields
    given.nBlockAlign = 7;
    given.wBitsPerSample = 16;
    given.cbSize = 9;
    CAudioFormat format;
    format.SetWaveFormat(given);
    EXPECT_EQ(std::memcmp(format.GetWaveFormat(), &given, sizeof(given)), 0);
    format.SetFrameSize(160);
    EXPECT_EQ(format.GetFrameSize(), 160);
    EXPECT_EQ(std::memcmp(format.GetWaveFormat(), &given, sizeof(given)), 0)
        << "the frame size is not part of the wave format";
    format.SetChannels(2);
    EXPECT_EQ(format.GetWaveFormat()->nBlockAlign, 4);
    EXPECT_EQ(format.GetWaveFormat()->nAvgBytesPerSec, 88200u);
    EXPECT_EQ(format.GetExtraSize(), 9);
}

TEST(AudioFormat, WritableThroughItsAddressAndIsNonZero)
{
    CAudioFormat format;
    format.GetWaveFormat()->nBlockAlign = 99;
    EXPECT_EQ(format.GetWaveFormat()->nBlockAlign, 99);
    format.Recalculate();
    EXPECT_EQ(format.GetWaveFormat()->nBlockAlign, 2);
    EXPECT_EQ(CAudioFormat::IsNonZero(0), 0);
    EXPECT_EQ(CAudioFormat::IsNonZero(-5), 1);
    EXPECT_EQ(CAudioFormat::IsNonZero(1 << 30), 1);
}

TEST(FrameBuffer, AllocatesAndReleasesItsOwnBlock)
{
    // A sanitizer build reports the block if the destructor leaves it.
    CFrameBuffer buffer(100, 7);
    ASSERT_NE(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 100u);
    EXPECT_EQ(buffer.GetUserValue(), 7);
    std::memset(buffer.GetData(), 0xFF, 100);
    buffer.Clear();
    EXPECT_EQ(std::vector<uint8_t>(buffer.GetData(), buffer.GetData() + 100), std::vector<uint8_t>(100, 0));

    CFrameBuffer empty(0, 1);
    EXPECT_NE(empty.GetData(), nullptr) << "a request of 0 bytes is a valid block";
    EXPECT_EQ(empty.GetSize(), 0u);
    empty.Clear();
}

TEST(FrameBuffer, AttachedBlocksStayTheCallers)
{
    std::vector<uint8_t> block(8, 0x55);
    {
        CFrameBuffer buffer(block.data(), 8);
        EXPECT_EQ(buffer.GetData(), block.data());
        EXPECT_EQ(buffer.GetSize(), 8u);
        EXPECT_EQ(buffer.GetUserValue(), 0);
        buffer.Clear();
    }
    EXPECT_EQ(block, std::vector<uint8_t>(8, 0)) << "cleared, and still usable after the record";

    CFrameBuffer owning(32, 3);
    owning.Attach(block.data(), 4); // gives its own block back first
    EXPECT_EQ(owning.GetData(), block.data());
    EXPECT_EQ(owning.GetUserValue(), 0);

    CFrameBuffer nothing(nullptr, 100);
    EXPECT_EQ(nothing.GetData(), nullptr);
    EXPECT_EQ(nothing.GetSize(), 0u);
    nothing.Clear();
    EXPECT_EQ(nothing.GetFrameWords(), 0);
}

TEST(FrameBuffer, FrameWordsFromTheHeader)
{
    struct Case {
        uint8_t low, high;
        int32_t words;
    } cases[] = {{240, 0, 242}, {0xFF, 0xFF, 1}, {0, 0, 2}, {0xFF, 0x7F, 32769}, {0, 0x80, -32766}};
    for (const Case &c : cases) {
        uint8_t frame[4] = {0x00, 0x01, c.low, c.high};
        CFrameBuffer buffer(frame, sizeof(frame));
        EXPECT_EQ(buffer.GetFrameWords(), c.words);
    }
    uint8_t shortBlock[3] = {0, 1, 5};
    EXPECT_EQ(CFrameBuffer(shortBlock, 3).GetFrameWords(), 0) << "no room for a header";
}

class VoiceEncoderTest : public testing::Test {
protected:
    // The frame codec may not be linked in yet while its family lands.
    bool CodecReady()
    {
        VoiceCodecState state;
        return HI_VOICE_EncReset(&state, VOICE_G711_U) == 0;
    }
};

TEST_F(VoiceEncoderTest, ConstructedForMuLawAndTypeStoredEvenWhenRefused)
{
    CVoiceEncoder encoder;
    EXPECT_EQ(encoder.GetType(), VOICE_G711_U);
    EXPECT_EQ(encoder.Reset(99), HI_ERR_VOICE_ENC_TYPE);
    EXPECT_EQ(encoder.GetType(), 99);
}

TEST_F(VoiceEncoderTest, EncodesFramesOf480Samples)
{
    if (!CodecReady()) {
        GTEST_SKIP() << "G.711 frames are not available in this build yet";
    }
    std::vector<int16_t> samples(480);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>((i * 977) % 20000 - 10000);
    }
    struct Case {
        int16_t type;
        int32_t payloadWords;
    } cases[] = {{VOICE_G711_U, 240}, {VOICE_G711_A, 240}};
    for (const Case &c : cases) {
        CVoiceEncoder encoder;
        ASSERT_EQ(encoder.Reset(c.type), 0);
        std::vector<uint8_t> frame(484, 0xEE);
        ASSERT_EQ(encoder.Encode(samples.data(), frame.data()), 0);
        CFrameBuffer view(frame.data(), static_cast<uint32_t>(frame.size()));
        EXPECT_EQ(view.GetFrameWords(), c.payloadWords + 2) << "type " << c.type;

        // The same samples through the codec directly give the same frame.
        VoiceCodecState state;
        ASSERT_EQ(HI_VOICE_EncReset(&state, c.type), 0);
        std::vector<uint8_t> direct(484, 0xEE);
        ASSERT_EQ(HI_VOICE_EncodeFrame(&state, samples.data(), direct.data(), 480), 0);
        EXPECT_EQ(frame, direct);
        // The codec's own checks come back unchanged.
        EXPECT_EQ(encoder.Encode(nullptr, frame.data()), HI_ERR_VOICE_NULL_INPUT);
        EXPECT_EQ(encoder.Encode(samples.data(), nullptr), HI_ERR_VOICE_NULL_OUTPUT);
    }
}

} // namespace
} // namespace orvo::media
