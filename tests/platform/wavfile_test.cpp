// WAV files and the wav:PATH devices (real time: these tests check content and order only).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave.h"
#include "platform/wave_stream.h"
#include "platform/wavfile/wav_devices.h"
#include "platform/wavfile/wav_file.h"

namespace orvo::platform {
namespace {

std::string TempPath(const char *name)
{
    return std::string(::testing::TempDir()) + "orvo_" + name + "_" +
           std::to_string(reinterpret_cast<uintptr_t>(&name) & 0xFFFF) + ".wav";
}

std::vector<int16_t> Ramp(size_t count)
{
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(i * 37 - 3000);
    return samples;
}

TEST(WavFile, WriteThenReadRoundTrips)
{
    std::string path = TempPath("roundtrip");
    std::vector<int16_t> samples = Ramp(1001);
    {
        WavWriter writer;
        ASSERT_TRUE(writer.Open(path, 8000, 1));
        ASSERT_TRUE(writer.Write(samples.data(), 500));
        ASSERT_TRUE(writer.Finalize()); // complete as it stands, and writing goes on
        ASSERT_TRUE(writer.Write(samples.data() + 500, 501));
        ASSERT_TRUE(writer.Close());
    }
    WavReader reader;
    ASSERT_EQ(reader.Open(path), WavStatus::Ok);
    EXPECT_EQ(reader.Format().sampleRate, 8000u);
    EXPECT_EQ(reader.Format().channels, 1u);
    EXPECT_EQ(reader.Format().bitsPerSample, 16u);
    ASSERT_EQ(reader.SampleCount(), samples.size());
    std::vector<int16_t> back(2000);
    EXPECT_EQ(reader.Read(back.data(), back.size()), samples.size());
    back.resize(samples.size());
    EXPECT_EQ(back, samples);
    std::remove(path.c_str());
}

TEST(WavFile, RejectsWhatIsNotA16BitWav)
{
    std::string path = TempPath("bad");
    WavReader reader;
    EXPECT_EQ(reader.Open(path + ".missing"), WavStatus::CannotOpen);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fputs("RIFF\x04\x00\x00\x00WAVX", f);
    std::fclose(f);
    EXPECT_EQ(reader.Open(path), WavStatus::NotWav);
    std::remove(path.c_str());
}

TEST(WavDevices, CaptureDeliversTheFileInOrderThenSilence)
{
    std::string path = TempPath("capture");
    std::vector<int16_t> samples = Ramp(400);
    {
        WavWriter writer;
        ASSERT_TRUE(writer.Open(path, 8000, 1));
        ASSERT_TRUE(writer.Write(samples.data(), samples.size()));
    }
    MMRESULT result = MMSYSERR_ERROR;
    WAVEFORMATEX format = TalkPcmFormat();
    auto backend = OpenWavFileCapture(path, format, &result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    std::vector<int16_t> got(480, 1);
    {
        // The device holds the file open until it is closed; Windows deletes no open file.
        WaveInStream stream(std::move(backend));
        WAVEHDR blocks[3];
        for (int i = 0; i < 3; ++i) {
            blocks[i].lpData = reinterpret_cast<char *>(got.data() + 160 * i);
            blocks[i].dwBufferLength = 320;
            ASSERT_EQ(stream.Prepare(&blocks[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(stream.AddBuffer(&blocks[i]), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(stream.Start(), MMSYSERR_NOERROR);
        while (!IsWaveHeaderDone(&blocks[2]))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(stream.Reset(), MMSYSERR_NOERROR);
    }
    for (size_t i = 0; i < 480; ++i)
        ASSERT_EQ(got[i], i < samples.size() ? samples[i] : 0) << i;
    ASSERT_EQ(std::remove(path.c_str()), 0);

    EXPECT_EQ(OpenWavFileCapture(path, format, &result), nullptr); // gone now
    EXPECT_EQ(result, MMSYSERR_BADDEVICEID);
}

TEST(WavDevices, PlaybackWritesEveryPlayedBlock)
{
    std::string path = TempPath("playback");
    MMRESULT result = MMSYSERR_ERROR;
    auto backend = OpenWavFilePlayback(path, TalkPcmFormat(), &result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    std::vector<int16_t> samples = Ramp(500);
    {
        WaveOutStream stream(std::move(backend));
        stream.StartBackend();
        WAVEHDR blocks[2];
        blocks[0].lpData = reinterpret_cast<char *>(samples.data());
        blocks[0].dwBufferLength = 300 * 2;
        blocks[1].lpData = reinterpret_cast<char *>(samples.data() + 300);
        blocks[1].dwBufferLength = 200 * 2;
        for (WAVEHDR &block : blocks) {
            ASSERT_EQ(stream.Prepare(&block), MMSYSERR_NOERROR);
            ASSERT_EQ(stream.Write(&block), MMSYSERR_NOERROR);
        }
        while (!IsWaveHeaderDone(&blocks[1]))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(stream.PrepareClose(), MMSYSERR_NOERROR);
    }
    WavReader reader;
    ASSERT_EQ(reader.Open(path), WavStatus::Ok);
    std::vector<int16_t> back(reader.SampleCount());
    ASSERT_EQ(reader.Read(back.data(), back.size()), samples.size());
    EXPECT_EQ(back, samples);
    std::remove(path.c_str());
}

TEST(WavDevices, CaptureRefusesOtherFormats)
{
    std::string path = TempPath("stereo");
    {
        WavWriter writer;
        ASSERT_TRUE(writer.Open(path, 16000, 1));
    }
    MMRESULT result = MMSYSERR_NOERROR;
    EXPECT_EQ(OpenWavFileCapture(path, TalkPcmFormat(), &result), nullptr);
    EXPECT_EQ(result, WAVERR_BADFORMAT);
    std::remove(path.c_str());
}

} // namespace
} // namespace orvo::platform
