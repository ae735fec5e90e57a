// WAV files and the wav:PATH devices (real time: these tests check content and order only).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave.h"
#include "platform/wave_stream.h"
#include "platform/wavfile/wav_devices.h"
#include "platform/wavfile/wav_file.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#if !defined(_WIN32)
// FIFOs as wav: devices. Opening one that nobody has opened at the other end must not block; the
// futures below only guard against a hang (a bounded wait), the assertions are about the results.
constexpr auto kHangGuard = std::chrono::seconds(20);

class WavFifoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = TempPath("fifo");
        std::remove(path.c_str());
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path;
};

TEST_F(WavFifoTest, CaptureFromAFifoWithoutWriterIsAMissingDevice)
{
    auto opening = std::async(std::launch::async, [this] {
        MMRESULT result = MMSYSERR_NOERROR;
        bool opened = OpenWavFileCapture(path, TalkPcmFormat(), &result) != nullptr;
        return std::make_pair(opened, result);
    });
    ASSERT_EQ(opening.wait_for(kHangGuard), std::future_status::ready) << "the open blocked";
    auto [opened, result] = opening.get();
    EXPECT_FALSE(opened);
    EXPECT_EQ(result, MMSYSERR_BADDEVICEID); // the capture thread tries it again later
}

TEST_F(WavFifoTest, PlaybackToAFifoWithoutReaderIsAMissingDevice)
{
    auto opening = std::async(std::launch::async, [this] {
        MMRESULT result = MMSYSERR_NOERROR;
        bool opened = OpenWavFilePlayback(path, TalkPcmFormat(), &result) != nullptr;
        return std::make_pair(opened, result);
    });
    ASSERT_EQ(opening.wait_for(kHangGuard), std::future_status::ready) << "the open blocked";
    auto [opened, result] = opening.get();
    EXPECT_FALSE(opened);
    EXPECT_EQ(result, MMSYSERR_BADDEVICEID);
}

TEST_F(WavFifoTest, CaptureReadsAWavStreamInOrder)
{
    std::vector<int16_t> samples = Ramp(320);
    // The writer: a process would block in open() until the reader comes; the stream's sizes are
    // left open as a streaming writer does.
    std::thread writer([&] {
        int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        unsigned char header[44] = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
                                    'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0,
                                    0x80, 0x3E, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};
        ASSERT_EQ(::write(fd, header, sizeof header), static_cast<ssize_t>(sizeof header));
        // One odd-sized write, so that a sample arrives in two halves.
        const char *bytes = reinterpret_cast<const char *>(samples.data());
        ASSERT_EQ(::write(fd, bytes, 101), 101);
        ASSERT_EQ(::write(fd, bytes + 101, samples.size() * 2 - 101), static_cast<ssize_t>(samples.size() * 2 - 101));
        ::close(fd);
    });
    MMRESULT result = MMSYSERR_ERROR;
    std::unique_ptr<CaptureBackend> backend;
    for (int attempt = 0; attempt < 50 && !backend; ++attempt) // the writer thread may start late
        backend = OpenWavFileCapture(path, TalkPcmFormat(), &result);
    writer.join();
    ASSERT_NE(backend, nullptr) << result;
    std::vector<int16_t> got(480, 1);
    {
        WaveInStream stream(std::move(backend));
        WAVEHDR blocks[3];
        for (int i = 0; i < 3; ++i) {
            blocks[i].lpData = reinterpret_cast<char *>(got.data() + 160 * i);
            blocks[i].dwBufferLength = 320;
            ASSERT_EQ(stream.Prepare(&blocks[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(stream.AddBuffer(&blocks[i]), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(stream.Start(), MMSYSERR_NOERROR);
        auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
        while (!IsWaveHeaderDone(&blocks[2]) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(stream.Reset(), MMSYSERR_NOERROR);
    }
    // Everything written, in order, then silence (the writer has gone).
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], i < samples.size() ? samples[i] : 0) << i;
}

TEST_F(WavFifoTest, WriterGivesAStreamItsSamplesAndSurvivesTheReadersEnd)
{
    int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::vector<int16_t> samples = Ramp(200);
    WavWriter writer;
    ASSERT_TRUE(writer.Open(path, 8000, 1));
    EXPECT_TRUE(writer.IsStream());
    ASSERT_TRUE(writer.Write(samples.data(), samples.size()));
    ASSERT_TRUE(writer.Finalize()); // nothing to rewrite on a stream
    std::vector<unsigned char> bytes(44 + samples.size() * 2 + 10);
    ssize_t got = ::read(reader, bytes.data(), bytes.size());
    ASSERT_EQ(got, static_cast<ssize_t>(44 + samples.size() * 2));
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 44, samples.data(), samples.size() * 2), 0);
    ::close(reader);
    // The reader has gone: the write fails, and the process is not ended by SIGPIPE.
    EXPECT_FALSE(writer.Write(samples.data(), samples.size()));
    EXPECT_TRUE(writer.Close());
}
#endif

} // namespace
} // namespace orvo::platform
