// The talk service inside OrvoAudio.dll on the system's wave devices (winmm). One scenario per
// process, since the service cannot be stopped once started: ctest runs this program with a file
// device as the default sound device (TalkOnFileDevice.*: capture; TalkPlaybackOnFileDevice.*:
// the receive path into the output file), and once with no usable sound device at all
// (TalkWithoutDevice.*).
//
// Under wine the file device is not paced and its capture blocks hold zeros, so the packets carry
// mu-law silence; what is checked is that blocks cycle and packets come out whole and in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "orvoaudio/talk.h"
#include "orvoaudio/voice.h"

namespace {

constexpr int32_t kPacketLength = 166;
constexpr unsigned char kPacketHeader[] = {0x80, 0x06, 0x00, 0x01, 0x50, 0x00};
constexpr unsigned char kMuLawSilence = 0xFF; // mu-law code of the sample value 0
constexpr int kPacketsWanted = 30;            // three times round the ten capture blocks
// Polling bound: generous, so a slow machine does not fail the test; a pass takes far less.
constexpr DWORD kPollMilliseconds = 10;
constexpr int kMaxPolls = 3000;

TEST(TalkOnFileDevice, CapturesAndHandsOutWholePackets)
{
    EXPECT_EQ(Orvo_OpenTalk(), -1);
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    ASSERT_EQ(Orvo_OpenTalk(), 0);

    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX];
    int packets = 0;
    for (int poll = 0; poll < kMaxPolls && packets < kPacketsWanted; ++poll) {
        std::memset(packet, 0x5A, sizeof(packet));
        const int32_t length = Orvo_GetAudioTalkData(packet);
        if (length == 0) {
            Sleep(kPollMilliseconds);
            continue;
        }
        ASSERT_EQ(length, kPacketLength) << "packet " << packets;
        ASSERT_EQ(std::memcmp(packet, kPacketHeader, sizeof(kPacketHeader)), 0) << "packet " << packets;
        for (int i = sizeof(kPacketHeader); i < kPacketLength; ++i)
            ASSERT_EQ(packet[i], kMuLawSilence) << "packet " << packets << " byte " << i;
        EXPECT_EQ(packet[kPacketLength], 0x5A) << "nothing beyond the packet is written";
        ++packets;
    }
    EXPECT_EQ(packets, kPacketsWanted);

    // Talk off: nothing is handed out, nothing taken in; on again: packets flow again.
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(Orvo_GetAudioTalkData(packet), 0);
    EXPECT_EQ(Orvo_InputTalkData(packet, kPacketLength), 0);
    EXPECT_EQ(Orvo_OpenTalk(), 0);
    int32_t length = 0;
    for (int poll = 0; poll < kMaxPolls && length == 0; ++poll) {
        length = Orvo_GetAudioTalkData(packet);
        if (length == 0)
            Sleep(kPollMilliseconds);
    }
    EXPECT_EQ(length, kPacketLength);
    // The process then ends with the service running: the DLL's teardown must neither hang nor
    // crash (ctest sees the exit code and the time-out).
}

TEST(TalkWithoutDevice, ServiceRunsWithoutSound)
{
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    EXPECT_EQ(Orvo_InitialAudioTalk(), 0);
    EXPECT_EQ(Orvo_OpenTalk(), 0);
    unsigned char packet[ORVO_TALK_OUT_PACKET_MAX] = {};
    // No device: no block ever finishes, so no packet comes, however long one waits.
    for (int poll = 0; poll < 20; ++poll) {
        EXPECT_EQ(Orvo_GetAudioTalkData(packet), 0);
        Sleep(kPollMilliseconds);
    }
    EXPECT_EQ(Orvo_InputTalkData(packet, kPacketLength), 0);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
    EXPECT_EQ(Orvo_CloseTalk(), 0);
}

// A tone as packets the remote side would send: 0x80 0x06 and a 160-sample mu-law frame each.
struct ReceivedTone {
    std::vector<std::vector<unsigned char>> packets;
    std::vector<std::vector<int16_t>> decodedFrames; // what each packet plays as
};

ReceivedTone MakeReceivedTone(int frames)
{
    constexpr int kFrameSamples = 160;
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kStep = 2 * kPi * 697.0 / 8000.0; // a 697 Hz tone at 8000 samples per second
    constexpr double kAmplitude = 9000.0;
    ReceivedTone tone;
    VoiceCodecState encoder{};
    VoiceCodecState decoder{};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    HI_VOICE_DecReset(&decoder, VOICE_G711_U);
    for (int frame = 0; frame < frames; ++frame) {
        int16_t pcm[kFrameSamples];
        for (int i = 0; i < kFrameSamples; ++i)
            pcm[i] = static_cast<int16_t>(std::lround(kAmplitude * std::sin(kStep * (frame * kFrameSamples + i))));
        std::vector<unsigned char> packet(kPacketLength);
        packet[0] = kPacketHeader[0];
        packet[1] = kPacketHeader[1];
        EXPECT_EQ(HI_VOICE_EncodeFrame(&encoder, pcm, packet.data() + 2, kFrameSamples), 0);
        std::vector<unsigned char> frameCopy(packet.begin() + 2, packet.end());
        std::vector<int16_t> decoded(HI_VOICE_MAX_SAMPLES);
        int16_t count = 0;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&decoder, frameCopy.data(), decoded.data(), &count), 0);
        decoded.resize(count);
        tone.packets.push_back(std::move(packet));
        tone.decodedFrames.push_back(std::move(decoded));
    }
    return tone;
}

std::vector<int16_t> ReadSamples(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
    return samples;
}

// How many frames of `tone`, in order, the played samples hold: each frame whole, some played twice
// in a row (the stretch of a short queue), the last one possibly still being written, and silence
// where the device ran dry between frames (wine's driver fills such gaps with zeros). -1 when the
// samples are anything else.
int FramesPlayedInOrder(const std::vector<int16_t> &played, const ReceivedTone &tone)
{
    size_t position = 0;
    size_t next = 0;
    while (position < played.size()) {
        const size_t left = played.size() - position;
        bool advanced = false;
        // The next frame, or the previous one again.
        for (size_t frame : {next, next - 1}) {
            if (frame >= tone.decodedFrames.size()) // also next - 1 before the first frame
                continue;
            const std::vector<int16_t> &samples = tone.decodedFrames[frame];
            const size_t compared = std::min(left, samples.size());
            if (!std::equal(samples.begin(), samples.begin() + compared, played.begin() + position))
                continue;
            if (compared < samples.size())
                return static_cast<int>(next); // a frame still arriving
            position += samples.size();
            if (frame == next)
                ++next;
            advanced = true;
            break;
        }
        if (advanced)
            continue;
        if (played[position] != 0)
            return -1;
        ++position; // silence between frames
    }
    return static_cast<int>(next);
}

TEST(TalkPlaybackOnFileDevice, ReceivedPacketsArePlayedInOrder)
{
    const char *output = std::getenv("TEST_PCM_OUT");
    ASSERT_NE(output, nullptr) << "TEST_PCM_OUT names the file device's output";
    const std::string outputPath = std::string("Z:") + output; // the Unix path, seen from Windows

    constexpr int kFrames = 24;
    const ReceivedTone tone = MakeReceivedTone(kFrames);
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    ASSERT_EQ(Orvo_StartAudioPlay(), 0);
    // The incoming ring holds 14 packets; the playback thread empties it as it goes.
    int handed = 0;
    for (int poll = 0; poll < kMaxPolls && handed < kFrames; ++poll) {
        OrvoTalkStats stats{};
        ASSERT_EQ(Orvo_GetAudioTalkStats(&stats), 0);
        if (handed - static_cast<int>(stats.packets_received) < 7) {
            ASSERT_EQ(Orvo_InputTalkData(tone.packets[handed].data(), kPacketLength), 0);
            ++handed;
        } else {
            Sleep(kPollMilliseconds);
        }
    }
    ASSERT_EQ(handed, kFrames);

    int played = 0;
    for (int poll = 0; poll < kMaxPolls && played < kFrames; ++poll) {
        played = FramesPlayedInOrder(ReadSamples(outputPath), tone);
        ASSERT_GE(played, 0) << "the output holds something else than the frames in order";
        if (played < kFrames)
            Sleep(kPollMilliseconds);
    }
    EXPECT_EQ(played, kFrames);
    OrvoTalkStats stats{};
    ASSERT_EQ(Orvo_GetAudioTalkStats(&stats), 0);
    EXPECT_EQ(stats.packets_received, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(stats.packets_rejected, 0u);
    EXPECT_EQ(Orvo_StopAudioPlay(), 0);
}

} // namespace
