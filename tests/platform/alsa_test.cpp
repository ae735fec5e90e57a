// The ALSA back end for real, through the wave calls of the static library with the real back ends:
// "default" is a file PCM (ALSA_CONFIG_PATH) whose capture input and playback output are files.
// The device is not paced, so these tests check data and order.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/wave.h"

namespace orvo::platform {
namespace {

constexpr uint32_t kHeader = sizeof(WAVEHDR);
constexpr int kBlocks = 6;
constexpr uint32_t kBlockSamples = 160;
constexpr auto kGiveUp = std::chrono::seconds(30);

class AlsaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Each test runs in its own process: private files, so parallel runs never share them.
        dir = ::testing::TempDir() + "orvo_alsa_" + std::to_string(getpid()) + "_";
        input.resize(kBlocks * kBlockSamples * 4);
        for (size_t i = 0; i < input.size(); ++i)
            input[i] = static_cast<int16_t>(i * 131 - 20000);
        std::ofstream(dir + "orvo_alsa_in.raw", std::ios::binary)
            .write(reinterpret_cast<const char *>(input.data()),
                   static_cast<std::streamsize>(input.size() * sizeof(int16_t)));
        std::string config = dir + "orvo_alsa.conf";
        std::ofstream(config) << "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                 "  file { @func getenv vars [ ORVO_TEST_PCM_OUT ] default \"/dev/null\" }\n"
                                 "  infile \"" << dir << "orvo_alsa_in.raw\"\n  format \"raw\"\n}\n";
        setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        std::remove((dir + "orvo_alsa_in.raw").c_str());
        std::remove((dir + "orvo_alsa.conf").c_str());
    }
    static bool WaitDone(const WAVEHDR &header)
    {
        auto giveUp = std::chrono::steady_clock::now() + kGiveUp;
        while (!IsWaveHeaderDone(&header) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return IsWaveHeaderDone(&header);
    }
    static std::string dir;
    static std::vector<int16_t> input;
};
std::string AlsaTest::dir;
std::vector<int16_t> AlsaTest::input;

TEST_F(AlsaTest, CaptureFillsBlocksWithTheInputInOrder)
{
    ASSERT_TRUE(SelectWaveDevice(WaveDirection::Capture, nullptr));
    WAVEFORMATEX format = TalkPcmFormat();
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> data(kBlocks * kBlockSamples, 0);
    WAVEHDR headers[kBlocks];
    for (int i = 0; i < kBlocks; ++i) {
        headers[i].lpData = reinterpret_cast<char *>(data.data() + i * kBlockSamples);
        headers[i].dwBufferLength = kBlockSamples * sizeof(int16_t);
        ASSERT_EQ(waveInPrepareHeader(device, &headers[i], kHeader), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &headers[i], kHeader), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitDone(headers[kBlocks - 1]));
    // Re-queued blocks continue the input where it stopped: nothing is read without a block.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(waveInAddBuffer(device, &headers[0], kHeader), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitDone(headers[0]));
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    for (int i = 0; i < kBlocks; ++i)
        ASSERT_EQ(headers[i].dwBytesRecorded, kBlockSamples * sizeof(int16_t));
    for (size_t i = kBlockSamples; i < data.size(); ++i)
        ASSERT_EQ(data[i], input[i]) << i;
    for (size_t i = 0; i < kBlockSamples; ++i)
        ASSERT_EQ(data[i], input[kBlocks * kBlockSamples + i]) << i;
    for (WAVEHDR &header : headers)
        ASSERT_EQ(waveInUnprepareHeader(device, &header, kHeader), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

TEST_F(AlsaTest, PlaybackLandsInTheOutputFileInOrder)
{
    std::string out = dir + "orvo_alsa_out.raw";
    setenv("ORVO_TEST_PCM_OUT", out.c_str(), 1);
    WAVEFORMATEX format = TalkPcmFormat();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    const uint32_t sizes[] = {320, 100, 0, 640, 2};
    std::vector<std::vector<int16_t>> blocks;
    std::vector<int16_t> expected;
    WAVEHDR headers[std::size(sizes)];
    for (size_t i = 0; i < std::size(sizes); ++i) {
        blocks.emplace_back(sizes[i] / 2 + 1);
        for (size_t k = 0; k < blocks[i].size(); ++k)
            blocks[i][k] = static_cast<int16_t>(1000 * i + k);
        expected.insert(expected.end(), blocks[i].begin(), blocks[i].begin() + sizes[i] / 2);
        headers[i].lpData = reinterpret_cast<char *>(blocks[i].data());
        headers[i].dwBufferLength = sizes[i];
        ASSERT_EQ(waveOutPrepareHeader(device, &headers[i], kHeader), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &headers[i], kHeader), MMSYSERR_NOERROR);
    }
    for (WAVEHDR &header : headers)
        ASSERT_TRUE(WaitDone(header));
    for (WAVEHDR &header : headers)
        ASSERT_EQ(waveOutUnprepareHeader(device, &header, kHeader), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    std::ifstream file(out, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), expected.size() * sizeof(int16_t));
    std::vector<int16_t> written(expected.size());
    std::memcpy(written.data(), bytes.data(), written.size() * sizeof(int16_t));
    EXPECT_EQ(written, expected);
    std::remove(out.c_str());
}

TEST_F(AlsaTest, UnknownDeviceIsReportedSilently)
{
    ASSERT_TRUE(SelectWaveDevice(WaveDirection::Capture, "no_such_pcm"));
    WAVEFORMATEX format = TalkPcmFormat();
    HWAVEIN device = nullptr;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(device, nullptr);
    ASSERT_TRUE(SelectWaveDevice(WaveDirection::Capture, nullptr));
}

} // namespace
} // namespace orvo::platform
