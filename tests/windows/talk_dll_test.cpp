// The talk service inside OrvoAudio.dll on the system's wave devices (winmm). One scenario per
// process, since the service cannot be stopped once started: ctest runs this program once with a
// file device as the default sound device (TalkOnFileDevice.*), and once with no usable sound
// device at all (TalkWithoutDevice.*).
//
// Under wine the file device is not paced and its capture blocks hold zeros, so the packets carry
// mu-law silence; what is checked is that blocks cycle and packets come out whole and in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "orvoaudio/talk.h"

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

} // namespace
