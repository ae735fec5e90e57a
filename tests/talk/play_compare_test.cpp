// The recording comparison of orvo-talk: repeats merged, alignment found, unrelated audio scored low.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "compare.h"
#include "orvoaudio/voice.h"

namespace orvo::talktool {
namespace {

constexpr size_t kFrame = 160;

std::vector<int16_t> Noise(size_t frames, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-8000, 8000);
    std::vector<int16_t> samples(frames * kFrame);
    for (int16_t &s : samples)
        s = static_cast<int16_t>(value(rng));
    return samples;
}

// What the receiver plays for `sent`: each frame through mu-law and back.
std::vector<int16_t> MuLaw(const std::vector<int16_t> &sent)
{
    std::vector<int16_t> out;
    for (size_t at = 0; at + kFrame <= sent.size(); at += kFrame) {
        VoiceCodecState enc{}, dec{};
        HI_VOICE_EncReset(&enc, VOICE_G711_U);
        HI_VOICE_DecReset(&dec, VOICE_G711_U);
        std::vector<int16_t> pcm(sent.begin() + static_cast<long>(at),
                                 sent.begin() + static_cast<long>(at + kFrame));
        uint8_t frame[4 + kFrame];
        HI_VOICE_EncodeFrame(&enc, pcm.data(), frame, static_cast<int16_t>(kFrame));
        int16_t decoded[HI_VOICE_MAX_SAMPLES];
        int16_t count = 0;
        HI_VOICE_DecodeFrame(&dec, frame, decoded, &count);
        out.insert(out.end(), decoded, decoded + count);
    }
    return out;
}

std::vector<int16_t> Frames(const std::vector<int16_t> &samples, size_t first, size_t count)
{
    return std::vector<int16_t>(samples.begin() + static_cast<long>(first * kFrame),
                                samples.begin() + static_cast<long>((first + count) * kFrame));
}

TEST(MatchReceived, Cases)
{
    const std::vector<int16_t> sent = Noise(50, 7);
    const std::vector<int16_t> played = MuLaw(sent);
    const std::vector<int16_t> silence(5 * kFrame, 0);

    // The stretch: frames 10 and 20 played twice.
    std::vector<int16_t> stretched;
    for (size_t i = 0; i < 50; ++i) {
        std::vector<int16_t> f = Frames(played, i, 1);
        stretched.insert(stretched.end(), f.begin(), f.end());
        if (i == 10 || i == 20)
            stretched.insert(stretched.end(), f.begin(), f.end());
    }
    // Late start: silence first, then everything.
    std::vector<int16_t> late = silence;
    late.insert(late.end(), played.begin(), played.end());
    // The first four frames lost.
    std::vector<int16_t> lost = Frames(played, 4, 46);
    // A partial frame at the end of the received file is left out.
    std::vector<int16_t> partial = played;
    partial.insert(partial.end(), 70, 1234);

    struct Case {
        const char *name;
        const std::vector<int16_t> *received;
        long lag;
        double minCorrelation, maxCorrelation;
        size_t exact;
        size_t merged;
    };
    const std::vector<int16_t> unrelated = Noise(50, 8);
    const Case cases[] = {
        {"identical", &played, 0, 0.9999, 1.0001, 50, 0},
        {"stretched", &stretched, 0, 0.9999, 1.0001, 50, 2},
        {"late", &late, 1, 0.9999, 1.0001, 50, 0}, // five silent frames merge into one
        {"lost", &lost, -4, 0.9, 0.99, 46, 0},
        {"partial", &partial, 0, 0.9999, 1.0001, 50, 0},
        {"unrelated", &unrelated, 0, -0.3, 0.3, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MatchResult m = MatchReceived(sent, *c.received);
        EXPECT_GE(m.correlation, c.minCorrelation);
        EXPECT_LE(m.correlation, c.maxCorrelation);
        EXPECT_EQ(m.exactFrames, c.exact);
        EXPECT_EQ(m.soundFrames, 50u);
        if (c.exact > 0) {
            EXPECT_EQ(m.lagFrames, c.lag);
        }
        if (c.received != &late) {
            EXPECT_EQ(m.mergedRepeats, c.merged);
        }
    }
}

TEST(MatchReceived, EmptyRecordingsScoreZero)
{
    MatchResult m = MatchReceived(Noise(3, 1), {});
    EXPECT_EQ(m.correlation, 0.0);
    EXPECT_EQ(m.receivedFrames, 0u);
    m = MatchReceived({}, Noise(3, 1));
    EXPECT_EQ(m.correlation, 0.0);
}

} // namespace
} // namespace orvo::talktool
