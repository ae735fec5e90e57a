// The talk service in the shared library on real ALSA: "default" is made a file PCM through
// ALSA_CONFIG_PATH, its capture input a raw 8 kHz file generated here. ALSA does not pace such a
// device, so these tests check data and order, not timing.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "orvo_tool/file_io.h"
#include "orvo_tool/wav_file.h"
#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"
#include "talk_test_support.h"

namespace {

using namespace orvo::talk::testing;

constexpr int kSampleRate = 8000;
constexpr int kBlockSamples = 160;
constexpr int kSeconds = 3;
constexpr int kBlocks = kSeconds * kSampleRate / kBlockSamples;
constexpr auto kPoll = std::chrono::milliseconds(2);
constexpr auto kGiveUp = std::chrono::seconds(60);

// A deterministic speech-like signal: a gliding voiced tone with syllable-rate loudness and noise.
std::vector<int16_t> Signal()
{
    std::vector<int16_t> samples(kSeconds * kSampleRate);
    double phase = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double pitch = 140 + 40 * std::sin(2 * M_PI * 0.7 * t);
        phase += 2 * M_PI * pitch / kSampleRate;
        double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 4 * t);
        double voiced = std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase);
        double noise = SourceSample(i) / 32768.0;
        samples[i] = static_cast<int16_t>(std::lround(12000 * envelope * voiced + 600 * noise));
    }
    return samples;
}

// G.711 mu-law expansion (the decoder's table, from its defining rule).
int16_t MuLawExpand(uint8_t code)
{
    int v = static_cast<uint8_t>(~code);
    int t = (((v & 0xF) << 3) + 0x84) << ((v >> 4) & 7);
    return static_cast<int16_t>((v & 0x80) ? 0x84 - t : t - 0x84);
}

class TalkAlsaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Each test runs in its own process: private files, so parallel runs never share them.
        dir = ::testing::TempDir() + "orvo_talk_alsa_" + std::to_string(getpid()) + "_";
        signal = Signal();
        std::string raw = dir + "orvo_talk_alsa_in.raw";
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char *>(signal.data()),
                   static_cast<std::streamsize>(signal.size() * sizeof(int16_t)));
        std::string config = dir + "orvo_talk_alsa.conf";
        std::ofstream(config) << "pcm.!default {\n"
                                 "  type file\n"
                                 "  slave.pcm { type null }\n"
                                 "  file \"/dev/null\"\n"
                                 "  infile \""
                              << raw
                              << "\"\n"
                                 "  format \"raw\"\n"
                                 "}\n";
        setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        std::remove((dir + "orvo_talk_alsa_in.raw").c_str());
        std::remove((dir + "orvo_talk_alsa.conf").c_str());
    }
    static std::string dir;
    static std::vector<int16_t> signal;
};
std::string TalkAlsaTest::dir;
std::vector<int16_t> TalkAlsaTest::signal;

// Pulls packets until `count` have arrived (or the time runs out), draining in time.
std::vector<std::vector<uint8_t>> Pull(size_t count)
{
    std::vector<std::vector<uint8_t>> packets;
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    auto giveUp = std::chrono::steady_clock::now() + kGiveUp;
    while (packets.size() < count && std::chrono::steady_clock::now() < giveUp) {
        int32_t n = Orvo_GetAudioTalkData(buffer);
        if (n > 0)
            packets.emplace_back(buffer, buffer + n);
        else
            std::this_thread::sleep_for(kPoll);
    }
    return packets;
}

// The block of `signal` whose mu-law a packet holds, or -1. Capture runs from Orvo_InitialAudioTalk
// on and what finishes before talk is switched on is never sent; on an unpaced device that can be a
// few blocks, so the packets start at a block boundary of the input, not necessarily at block 0.
int FirstBlockOf(const std::vector<int16_t> &signal, const std::vector<uint8_t> &packet)
{
    if (packet.size() != static_cast<size_t>(kPacketBytes))
        return -1;
    for (size_t k = 0; (k + 1) * kBlockSamples <= signal.size(); ++k) {
        bool same = true;
        for (int i = 0; i < kBlockSamples && same; ++i)
            same = packet[kPayloadOffset + i] == MuLaw(signal[k * kBlockSamples + i]);
        if (same)
            return static_cast<int>(k);
    }
    return -1;
}

// Pulls the packets from the first one to the end of the input; *first is the block it starts at.
std::vector<std::vector<uint8_t>> PullToTheEnd(const std::vector<int16_t> &signal, int blocks, int *first)
{
    std::vector<std::vector<uint8_t>> packets = Pull(1);
    *first = packets.empty() ? -1 : FirstBlockOf(signal, packets[0]);
    if (*first < 0)
        return packets;
    std::vector<std::vector<uint8_t>> rest = Pull(static_cast<size_t>(blocks - *first - 1));
    packets.insert(packets.end(), rest.begin(), rest.end());
    return packets;
}

void ExpectRoundTripOf(const std::vector<int16_t> &signal,
                       const std::vector<std::vector<uint8_t>> &packets, int firstBlock = 0)
{
    VoiceCodecState decoder;
    ASSERT_EQ(HI_VOICE_DecReset(&decoder, VOICE_G711_U), 0);
    for (size_t k = 0; k < packets.size(); ++k) {
        std::vector<uint8_t> packet = packets[k];
        ASSERT_EQ(packet.size(), static_cast<size_t>(kPacketBytes)) << "packet " << k;
        ASSERT_EQ(0, std::memcmp(packet.data(), kPacketHead, kPayloadOffset)) << "packet " << k;
        int16_t decoded[HI_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(&decoder, packet.data() + 2, decoded, &count), 0);
        ASSERT_EQ(count, kBlockSamples);
        for (int i = 0; i < kBlockSamples; ++i) {
            int16_t want = MuLawExpand(MuLaw(signal[(firstBlock + k) * kBlockSamples + i]));
            ASSERT_EQ(decoded[i], want) << "packet " << k << " sample " << i;
        }
    }
}

TEST_F(TalkAlsaTest, PacketsAreTheMuLawRoundTripOfTheInputInOrder)
{
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    int first = -1;
    std::vector<std::vector<uint8_t>> packets = PullToTheEnd(signal, kBlocks, &first);
    ASSERT_GE(first, 0) << "the first packet is no block of the input";
    ASSERT_LT(first, kBlocks / 2);
    ASSERT_EQ(packets.size(), static_cast<size_t>(kBlocks - first)); // nothing lost from there on
    ExpectRoundTripOf(signal, packets, first);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(TalkAlsaTest, MissingDeviceIsSilentAndHarmless)
{
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, "no_such_pcm_device"), 0);
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    EXPECT_EQ(Orvo_OpenTalk(), 0);
    unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Orvo_GetAudioTalkData(buffer), 0);
    const unsigned char data[3] = {1, 2, 3};
    EXPECT_EQ(Orvo_InputTalkData(data, 3), 0);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), ""); // the library never prints
}

TEST_F(TalkAlsaTest, WavFileDeviceCapturesTheFileInRealTime)
{
    // 0.4 s of the signal as a WAV file (paced: this takes about as long).
    constexpr int kWavBlocks = 20;
    std::string path = dir + "orvo_talk_capture.wav";
    {
        std::string error;
        ASSERT_TRUE(orvo::tool::WriteFileAtomically(
            path, orvo::tool::SerializeVoiceWav(signal.data(), kWavBlocks * kBlockSamples), &error))
            << error;
    }
    ASSERT_EQ(Orvo_SelectAudioDevice(ORVO_AUDIO_CAPTURE, ("wav:" + path).c_str()), 0);
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    int first = -1;
    std::vector<int16_t> head(signal.begin(), signal.begin() + kWavBlocks * kBlockSamples);
    std::vector<std::vector<uint8_t>> packets = PullToTheEnd(head, kWavBlocks, &first);
    ASSERT_GE(first, 0) << "the first packet is no block of the file";
    ASSERT_EQ(packets.size(), static_cast<size_t>(kWavBlocks - first));
    ExpectRoundTripOf(signal, packets, first);
    std::remove(path.c_str());
}

#if defined(ORVO_CAPTURE_TOOL)
TEST_F(TalkAlsaTest, CaptureToolWritesTheRoundTripOfTheInput)
{
    std::string out = dir + "orvo_capture_tool.wav";
    std::string command = std::string(ORVO_CAPTURE_TOOL) + " --seconds 1 " + out + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream wav(out, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(wav)), std::istreambuf_iterator<char>());
    constexpr size_t kHeaderBytes = 44;
    ASSERT_GT(bytes.size(), kHeaderBytes);
    size_t count = (bytes.size() - kHeaderBytes) / sizeof(int16_t);
    ASSERT_GE(count, static_cast<size_t>(kBlockSamples));
    ASSERT_EQ(count % kBlockSamples, 0u);
    // The audio starts at a block boundary of the input (what finished before talk went on is
    // not sent), then runs on without a gap.
    std::vector<uint8_t> firstPacket(kPayloadOffset, 0);
    for (int i = 0; i < kBlockSamples; ++i) {
        int16_t sample;
        std::memcpy(&sample, bytes.data() + kHeaderBytes + 2 * i, sizeof sample);
        firstPacket.push_back(MuLaw(sample));
    }
    const int first = FirstBlockOf(signal, firstPacket);
    ASSERT_GE(first, 0);
    const size_t offset = static_cast<size_t>(first) * kBlockSamples;
    ASSERT_LE(offset + count, signal.size());
    for (size_t i = 0; i < count; ++i) {
        int16_t sample;
        std::memcpy(&sample, bytes.data() + kHeaderBytes + 2 * i, sizeof sample);
        ASSERT_EQ(sample, MuLawExpand(MuLaw(signal[offset + i]))) << "sample " << i;
    }
    std::remove(out.c_str());
}

TEST_F(TalkAlsaTest, CaptureToolWithoutADeviceSaysSoAndFails)
{
    std::string out = dir + "orvo_capture_no_device.wav";
    std::string log = dir + "orvo_capture_no_device.log";
    std::string command = std::string(ORVO_CAPTURE_TOOL) + " --device no_such_pcm_device --seconds 0.2 " +
                          out + " >/dev/null 2>" + log;
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("no capture device opened"), std::string::npos) << text;
    EXPECT_FALSE(std::ifstream(out).good()) << "nothing is written";
    std::remove(log.c_str());
}
#endif

} // namespace
