// Playback through the winmm back end: a decoded G.711 stream written block by block to the
// default playback device lands in the device's output file byte for byte, in order. Under wine
// the default device is ALSA's file device (tests/windows/alsa_file_device.conf; TEST_PCM_OUT names
// the file). Without any device, opening fails with the system's "bad device" result.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "orvoaudio/voice.h"
#include "platform/wave.h"

namespace {

namespace platform = orvo::platform;

constexpr int kFrameSamples = 160;
constexpr int kBlocks = 10;
constexpr int kMaxPolls = 2000;
constexpr auto kPoll = std::chrono::milliseconds(5);

// A tone, coded and decoded with mu-law as the playback thread does: the stream a host would hear.
std::vector<int16_t> DecodedTone()
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kToneHz = 440.0;
    constexpr double kSampleRate = 8000.0;
    constexpr double kAmplitude = 12000.0;
    VoiceCodecState encoder{};
    VoiceCodecState decoder{};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    HI_VOICE_DecReset(&decoder, VOICE_G711_U);
    std::vector<int16_t> stream;
    for (int block = 0; block < kBlocks; ++block) {
        int16_t pcm[kFrameSamples];
        for (int i = 0; i < kFrameSamples; ++i) {
            const double t = (block * kFrameSamples + i) / kSampleRate;
            pcm[i] = static_cast<int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * kToneHz * t)));
        }
        unsigned char frame[484];
        EXPECT_EQ(HI_VOICE_EncodeFrame(&encoder, pcm, frame, kFrameSamples), 0);
        int16_t decoded[HI_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&decoder, frame, decoded, &count), 0);
        EXPECT_EQ(count, kFrameSamples);
        stream.insert(stream.end(), decoded, decoded + count);
    }
    return stream;
}

std::vector<char> ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(WinmmPlayback, DecodedStreamLandsInTheOutputFile)
{
    const char *output = std::getenv("TEST_PCM_OUT");
    ASSERT_NE(output, nullptr) << "TEST_PCM_OUT names the file device's output";
    const std::string outputPath = std::string("Z:") + output; // the Unix path, seen from Windows

    const std::vector<int16_t> stream = DecodedTone();
    std::vector<int16_t> buffers(stream);
    const platform::WAVEFORMATEX format = platform::TalkPcmFormat();
    platform::HWAVEOUT device = nullptr;
    ASSERT_EQ(platform::waveOutOpen(&device, platform::WAVE_MAPPER, &format, 0, 0,
                                    platform::CALLBACK_NULL),
              platform::MMSYSERR_NOERROR);
    platform::WAVEHDR blocks[kBlocks];
    for (int i = 0; i < kBlocks; ++i) {
        blocks[i].lpData = reinterpret_cast<char *>(buffers.data() + i * kFrameSamples);
        blocks[i].dwBufferLength = kFrameSamples * sizeof(int16_t);
        ASSERT_EQ(platform::waveOutPrepareHeader(device, &blocks[i], sizeof(blocks[i])), 0u);
        ASSERT_EQ(platform::waveOutWrite(device, &blocks[i], sizeof(blocks[i])), 0u);
    }
    // The blocks come back done in the order they were written.
    for (int i = 0; i < kBlocks; ++i) {
        for (int poll = 0; poll < kMaxPolls && !platform::IsWaveHeaderDone(&blocks[i]); ++poll)
            std::this_thread::sleep_for(kPoll);
        ASSERT_TRUE(platform::IsWaveHeaderDone(&blocks[i])) << "block " << i;
    }
    for (platform::WAVEHDR &block : blocks)
        EXPECT_EQ(platform::waveOutUnprepareHeader(device, &block, sizeof(block)), 0u);
    ASSERT_EQ(platform::waveOutClose(device), 0u);

    // The device writes in its own periods; give the file a moment to hold everything.
    const size_t wanted = stream.size() * sizeof(int16_t);
    std::vector<char> written;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        written = ReadFile(outputPath);
        if (written.size() >= wanted)
            break;
        std::this_thread::sleep_for(kPoll);
    }
    ASSERT_EQ(written.size(), wanted);
    const auto *bytes = reinterpret_cast<const char *>(stream.data());
    for (size_t i = 0; i < wanted; ++i)
        ASSERT_EQ(written[i], bytes[i]) << "byte " << i;
}

TEST(WinmmWithoutDevice, OpeningReportsBadDevice)
{
    const platform::WAVEFORMATEX format = platform::TalkPcmFormat();
    platform::HWAVEOUT output = nullptr;
    EXPECT_EQ(platform::waveOutOpen(&output, platform::WAVE_MAPPER, &format, 0, 0,
                                    platform::CALLBACK_NULL),
              platform::MMSYSERR_BADDEVICEID);
    EXPECT_EQ(output, nullptr);
    platform::HWAVEIN input = nullptr;
    EXPECT_EQ(platform::waveInOpen(&input, platform::WAVE_MAPPER, &format, 0, 0,
                                   platform::CALLBACK_NULL),
              platform::MMSYSERR_BADDEVICEID);
    EXPECT_EQ(input, nullptr);
}

} // namespace
