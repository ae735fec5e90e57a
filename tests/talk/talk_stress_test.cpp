// Host threads against the capture thread at full speed (run under ThreadSanitizer in CI): every
// packet arrives whole and in order, and the incoming ring hands packets over intact.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "orvoaudio/talk.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/record_thread.h"
#include "talk/talk_service.h"
#include "talk_test_support.h"

namespace orvo::talk {
namespace {

namespace virt = orvo::platform::virt;
using namespace orvo::talk::testing;

// 30 s of capture, as fast as the clock can go (10 s under an emulator, where every hand-over
// between the threads costs a system call of the host).
#if defined(ORVO_TEST_UNDER_EMULATOR)
constexpr int64_t kVirtualMs = 10000;
#else
constexpr int64_t kVirtualMs = 30000;
#endif
constexpr int64_t kAdvanceStepMs = 7;
constexpr int kIncomingPackets = 20000;
constexpr int32_t kRingHighWater = 10; // of 14: room for what one step can add

TEST(TalkStress, HostPollsWhileTheCaptureThreadProducesAtFullSpeed)
{
    ShutdownTalkService();
    virt::Reset();
    virt::SetCaptureSource(SourceSample);
    const SourceIndex index(kVirtualMs * virt::kSamplesPerMillisecond + 8000);
    ASSERT_EQ(Orvo_InitialAudioTalk(), 0);
    ASSERT_EQ(Orvo_OpenTalk(), 0);
    TalkRing &incoming = RecordThread()->Incoming();

    std::atomic<bool> done{false};
    std::vector<int64_t> starts;
    int badPackets = 0;
    std::thread host([&] { // the one reader of the outgoing ring
        unsigned char buffer[ORVO_TALK_OUT_PACKET_MAX];
        for (;;) {
            bool finished = done.load(std::memory_order_acquire);
            int32_t n = Orvo_GetAudioTalkData(buffer);
            if (n == 0) {
                if (finished)
                    break;
                std::this_thread::yield();
                continue;
            }
            int64_t start = n == kPacketBytes && std::memcmp(buffer, kPacketHead, kPayloadOffset) == 0
                                ? index.Find(buffer + kPayloadOffset)
                                : -1;
            if (start < 0)
                ++badPackets;
            starts.push_back(start);
        }
    });
    std::atomic<int> received{0};
    int misordered = 0;
    std::thread sender([&] { // the one writer of the incoming ring
        unsigned char packet[ORVO_TALK_IN_PACKET_MAX];
        for (int i = 0; i < kIncomingPackets;) {
            int32_t length = 1 + i % ORVO_TALK_IN_PACKET_MAX;
            std::memset(packet, i & 0xFF, static_cast<size_t>(length));
            if (incoming.Count() == TalkRing::kSlots - 1) { // would be dropped: wait for room
                std::this_thread::yield();
                continue;
            }
            ASSERT_EQ(Orvo_InputTalkData(packet, length), 0);
            ++i;
        }
    });
    std::thread consumer([&] { // the one reader of the incoming ring
        unsigned char packet[ORVO_TALK_IN_PACKET_MAX];
        int expected = 0;
        while (expected < kIncomingPackets) {
            int32_t length = 0;
            if (!incoming.Take(packet, ORVO_TALK_IN_PACKET_MAX, &length)) {
                std::this_thread::yield();
                continue;
            }
            bool whole = length == 1 + expected % ORVO_TALK_IN_PACKET_MAX;
            for (int32_t k = 0; whole && k < length; ++k)
                whole = packet[k] == (expected & 0xFF);
            if (!whole)
                ++misordered;
            ++expected;
        }
        received = expected;
    });

    // The clock runs as fast as it can; it only waits when the host is so far behind that the
    // ring could overflow, so every packet must arrive.
    TalkRing &outgoing = RecordThread()->Outgoing();
    for (int64_t t = 0; t < kVirtualMs; t += kAdvanceStepMs) {
        ASSERT_TRUE(virt::Advance(kAdvanceStepMs));
        while (outgoing.Count() >= kRingHighWater)
            std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
    host.join();
    sender.join();
    consumer.join();
    ShutdownTalkService();
    virt::Reset();

    EXPECT_EQ(badPackets, 0);
    EXPECT_EQ(received.load(), kIncomingPackets);
    EXPECT_EQ(misordered, 0);
    // Every packet, whole and in order: block after block of the source, none lost.
    ASSERT_GE(starts.size(), static_cast<size_t>(kVirtualMs / 20 - TalkRing::kSlots));
    for (size_t i = 0; i < starts.size(); ++i)
        ASSERT_EQ(starts[i], static_cast<int64_t>(i * 160)) << i;
}

} // namespace
} // namespace orvo::talk
