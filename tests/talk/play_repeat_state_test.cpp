// A frame the playback plays twice (the stretch while the queue is short) is decoded twice, but a
// coder with memory must step its decoder once per frame: G.726 played with repeats must give, after
// merging the repeated blocks, exactly the samples of one straight decode of the same frames.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/thread.h"
#include "platform/virtual/virtual_platform.h"
#include "talk/audio_play_thread.h"

namespace orvo::talk {
namespace {

namespace virt = platform::virt;

constexpr int kFrameSamples = 160;
constexpr int64_t kBlockMs = 20;
constexpr int kFrames = 40;
constexpr int kKeepQueued = 5; // short queue: the stretch repeats every tenth frame
// Far from the sequence gate's expected number (0), so no frame waits for a predecessor.
constexpr uint32_t kFirstSequence = 100;

// G.726 frames of a tone with a slow sweep, and the samples one decoder gives for them in order.
struct CodedSpeech {
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<std::vector<int16_t>> decoded;
};

constexpr double kPi = 3.14159265358979323846; // M_PI is not standard C++ (mingw lacks it)

CodedSpeech Encode(int16_t type)
{
    CodedSpeech out;
    VoiceCodecState encoder{}, decoder{};
    HI_VOICE_EncReset(&encoder, type);
    HI_VOICE_DecReset(&decoder, type);
    for (int f = 0; f < kFrames; ++f) {
        int16_t samples[kFrameSamples];
        for (int i = 0; i < kFrameSamples; ++i) {
            double t = (f * kFrameSamples + i) / 8000.0;
            samples[i] = static_cast<int16_t>(6000 * std::sin(2 * kPi * (300 + 400 * t) * t));
        }
        uint8_t frame[4 + 2 * kFrameSamples] = {};
        EXPECT_EQ(HI_VOICE_EncodeFrame(&encoder, samples, frame, kFrameSamples), 0);
        size_t bytes = 2u * (frame[2] | frame[3] << 8);
        out.payloads.emplace_back(frame + 4, frame + 4 + bytes);
        std::vector<int16_t> decoded(HI_VOICE_MAX_SAMPLES);
        int16_t count = 0;
        EXPECT_EQ(HI_VOICE_DecodeFrame(&decoder, frame, decoded.data(), &count), 0);
        decoded.resize(static_cast<size_t>(count));
        out.decoded.push_back(decoded);
    }
    return out;
}

class PlayRepeatStateTest : public ::testing::TestWithParam<int16_t> {
protected:
    void SetUp() override
    {
        virt::Reset();
        thread = static_cast<CAudioPlayThread *>(platform::AfxBeginThread(ORVO_RUNTIME_CLASS(CAudioPlayThread)));
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(virt::WaitIdle());
    }
    void TearDown() override
    {
        delete thread;
        virt::Reset();
    }
    CAudioPlayThread *thread = nullptr;
};

TEST_P(PlayRepeatStateTest, RepeatsLeaveTheDecoderInStep)
{
    const int16_t type = GetParam();
    CodedSpeech speech = Encode(type);
    thread->SetOpened(true);
    thread->SetPlayState(1);
    int next = 0;
    for (int step = 0; next < kFrames && step < 10 * kFrames; ++step) {
        while (thread->QueuedCount() < kKeepQueued && next < kFrames) {
            const std::vector<uint8_t> &p = speech.payloads[static_cast<size_t>(next)];
            ASSERT_TRUE(thread->QueueFrame(static_cast<uint32_t>(kFirstSequence + next), p.data(), static_cast<uint16_t>(p.size()),
                                           type, next == 0));
            ++next;
        }
        ASSERT_TRUE(virt::Advance(kBlockMs));
    }
    ASSERT_TRUE(virt::Advance(20 * kBlockMs));
    ASSERT_GT(thread->FramesRepeated(), 0u);

    std::vector<std::vector<int16_t>> played;
    for (const virt::PlayedBlock &block : virt::PlayedBlocks()) {
        if (block.samples.empty() || (!played.empty() && block.samples == played.back()))
            continue; // silence before the first frame, and the second play of a repeat
        played.push_back(block.samples);
    }
    ASSERT_EQ(played.size(), speech.decoded.size());
    for (size_t f = 0; f < played.size(); ++f)
        ASSERT_EQ(played[f], speech.decoded[f]) << "frame " << f;
}

INSTANTIATE_TEST_SUITE_P(StatefulCodecs, PlayRepeatStateTest,
                         ::testing::Values(int16_t{VOICE_G726_32K}, int16_t{VOICE_G726_16K_MSB},
                                           int16_t{VOICE_G711_U}));

} // namespace
} // namespace orvo::talk
