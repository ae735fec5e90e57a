// Loss concealment and time-scaling on decoded samples: pitch found on periodic signals, the
// concealment's level over a loss, the cross-fade into the next good frame, frames shortened and
// lengthened by a period without a step, and the quality of concealment against repeating the
// previous frame on the speech-like signal with 5% random loss.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "orvo_tool/signal_tools.h"
#include "orvoaudio/voice.h"
#include "voice/concealment.h"
#include "voice/time_scale.h"

namespace orvo::voice {
namespace {

constexpr int kFrame = 160;
constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> Tone(double periodSamples, int count, double amplitude = 8000)
{
    std::vector<int16_t> x(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        double phase = 2 * kPi * n / periodSamples;
        // Two harmonics, so the waveform is not a plain sine.
        x[n] = static_cast<int16_t>(amplitude * (0.7 * std::sin(phase) + 0.3 * std::sin(2 * phase + 1)));
    }
    return x;
}

int MaxStep(const std::vector<int16_t> &x)
{
    int step = 0;
    for (size_t n = 1; n < x.size(); ++n)
        step = std::max(step, std::abs(x[n] - x[n - 1]));
    return step;
}

TEST(PitchPeriod, FindsThePeriodOfPeriodicSignals)
{
    struct Case { double period; };
    for (Case c : {Case{40}, Case{57}, Case{80}, Case{100}, Case{120}}) {
        std::vector<int16_t> x = Tone(c.period, 400);
        int32_t score = 0;
        int found = FindPitchPeriod(x.data(), 400, kPitchMinPeriod, kPitchMaxPeriod, kPitchWindow, &score);
        EXPECT_NEAR(found, c.period, 1) << "period " << c.period;
        EXPECT_GT(score, kPeriodicScoreQ15);
    }
    std::vector<int16_t> silence(400, 0);
    int32_t score = 1;
    EXPECT_EQ(FindPitchPeriod(silence.data(), 400, kPitchMinPeriod, kPitchMaxPeriod, kPitchWindow, &score),
              kPitchMinPeriod);
    EXPECT_EQ(score, 0);
    // Too short a buffer: nothing is read beyond it.
    EXPECT_EQ(FindPitchPeriod(silence.data(), 100, kPitchMinPeriod, kPitchMaxPeriod, kPitchWindow, &score),
              kPitchMinPeriod);
}

TEST(LossConcealer, ContinuesThePeriodThenFadesOutOver60Ms)
{
    LossConcealer concealer;
    std::vector<int16_t> tone = Tone(64, 6 * kFrame);
    concealer.Remember(tone.data(), 4 * kFrame);
    std::vector<int16_t> out(4 * kFrame);
    for (int f = 0; f < 4; ++f)
        concealer.ConcealFrame(&out[f * kFrame], kFrame);
    // The first 10 ms go on at full level and in phase with the tone.
    double error = 0, energy = 0;
    for (int n = 0; n < 80; ++n) {
        error += std::pow(out[n] - tone[4 * kFrame + n], 2);
        energy += std::pow(tone[4 * kFrame + n], 2);
    }
    EXPECT_LT(error, energy * 0.01);
    // Then the level falls: each 20 ms quieter than the one before, silent from 60 ms on.
    int64_t previous = MeanSquare(out.data(), kFrame);
    for (int f = 1; f < 3; ++f) {
        int64_t level = MeanSquare(&out[f * kFrame], kFrame);
        EXPECT_GT(level, 0);
        EXPECT_LT(level, previous);
        previous = level;
    }
    EXPECT_EQ(MeanSquare(&out[3 * kFrame], kFrame), 0);
    // No step inside the concealment larger than the tone's own.
    std::vector<int16_t> joined(tone.begin(), tone.begin() + 4 * kFrame);
    joined.insert(joined.end(), out.begin(), out.begin() + 3 * kFrame);
    EXPECT_LE(MaxStep(joined), MaxStep(tone) * 12 / 10);
}

TEST(LossConcealer, GoodFrameAfterALossIsCrossFadedIn)
{
    LossConcealer concealer;
    std::vector<int16_t> tone = Tone(64, 8 * kFrame);
    concealer.Remember(tone.data(), 4 * kFrame);
    std::vector<int16_t> played(tone.begin(), tone.begin() + 4 * kFrame);
    std::vector<int16_t> frame(kFrame);
    concealer.ConcealFrame(frame.data(), kFrame);
    played.insert(played.end(), frame.begin(), frame.end());
    // The next good frame starts half a period off, as after a real loss: the fade hides the step.
    std::vector<int16_t> good(tone.begin() + 5 * kFrame + 32, tone.begin() + 6 * kFrame + 32);
    concealer.GoodFrame(good.data(), kFrame);
    EXPECT_FALSE(concealer.InLoss());
    played.insert(played.end(), good.begin(), good.end());
    EXPECT_LE(MaxStep(played), MaxStep(tone) * 13 / 10);
    // Outside a loss a good frame is left as it is.
    std::vector<int16_t> again(tone.begin(), tone.begin() + kFrame), copy = again;
    concealer.GoodFrame(again.data(), kFrame);
    EXPECT_EQ(again, copy);
}

TEST(TimeScale, ShortensAndLengthensByAPeriodWithoutAStep)
{
    struct Case { int period; int change; bool lengthen; };
    for (Case c : {Case{64, 64, false}, Case{50, 50, true}, Case{64, 64, true}, Case{80, 80, false}}) {
        std::vector<int16_t> tone = Tone(c.period, 3 * kFrame);
        std::vector<int16_t> frame(tone.begin() + kFrame, tone.begin() + 2 * kFrame);
        frame.resize(kFrame + c.change, 0);
        int count = c.lengthen ? LengthenFrame(frame.data(), kFrame, c.change)
                               : ShortenFrame(frame.data(), kFrame, c.change);
        ASSERT_EQ(count, c.lengthen ? kFrame + c.change : kFrame - c.change);
        frame.resize(static_cast<size_t>(count));
        EXPECT_EQ(frame.front(), tone[kFrame]);
        EXPECT_EQ(frame.back(), tone[2 * kFrame - 1]);
        std::vector<int16_t> joined(tone.begin(), tone.begin() + kFrame);
        joined.insert(joined.end(), frame.begin(), frame.end());
        joined.insert(joined.end(), tone.begin() + 2 * kFrame, tone.end());
        EXPECT_LE(MaxStep(joined), MaxStep(tone) * 11 / 10) << c.period << " " << c.lengthen;
    }
    // Changes a frame cannot take leave it alone.
    std::vector<int16_t> x(kFrame, 7);
    EXPECT_EQ(ShortenFrame(x.data(), kFrame, 81), kFrame);
    EXPECT_EQ(ShortenFrame(x.data(), kFrame, 0), kFrame);
    EXPECT_EQ(LengthenFrame(x.data(), kFrame, 81), kFrame);
    EXPECT_EQ(ShortenFrame(nullptr, kFrame, 10), kFrame);
}

// Decoded mu-law of the speech-like signal, one frame in 20 lost at random: segmental SNR of the
// concealed frames against the frames that were lost, for concealment and for playing the previous
// frame again (what the stretch rule's repeat does).
TEST(ConcealmentQuality, BeatsRepeatingThePreviousFrameOnSpeechWith5PercentLoss)
{
    std::vector<int16_t> speech = tool::GenerateSpeechLike(60.0);
    const size_t frames = speech.size() / kFrame;
    VoiceCodecState encoder{}, decoder{};
    HI_VOICE_EncReset(&encoder, VOICE_G711_U);
    HI_VOICE_DecReset(&decoder, VOICE_G711_U);
    std::vector<int16_t> decoded(frames * kFrame);
    for (size_t k = 0; k < frames; ++k) {
        uint8_t frame[4 + kFrame];
        int16_t count = 0;
        HI_VOICE_EncodeFrame(&encoder, &speech[k * kFrame], frame, kFrame);
        HI_VOICE_DecodeFrame(&decoder, frame, &decoded[k * kFrame], &count);
        ASSERT_EQ(count, kFrame);
    }
    std::mt19937 rng(5);
    std::bernoulli_distribution lost(0.05);
    LossConcealer concealer;
    std::vector<int16_t> reference, concealed, repeated, silence;
    std::vector<int16_t> previous(kFrame, 0), out(kFrame);
    for (size_t k = 0; k < frames; ++k) {
        const int16_t *original = &decoded[k * kFrame];
        if (k > 0 && lost(rng)) {
            concealer.ConcealFrame(out.data(), kFrame);
            reference.insert(reference.end(), original, original + kFrame);
            concealed.insert(concealed.end(), out.begin(), out.end());
            repeated.insert(repeated.end(), previous.begin(), previous.end());
            silence.insert(silence.end(), kFrame, 0);
            continue;
        }
        std::copy(original, original + kFrame, out.begin());
        concealer.GoodFrame(out.data(), kFrame);
        concealer.Remember(out.data(), kFrame);
        std::copy(original, original + kFrame, previous.begin());
    }
    tool::SnrResult plc = tool::MeasureSnr(reference.data(), concealed.data(), reference.size());
    tool::SnrResult repeat = tool::MeasureSnr(reference.data(), repeated.data(), reference.size());
    tool::SnrResult zero = tool::MeasureSnr(reference.data(), silence.data(), reference.size());
    std::printf("segmental SNR over %zu concealed frames (%zu counted): concealment %.2f dB, "
                "repeat of the previous frame %.2f dB, silence %.2f dB\n",
                reference.size() / kFrame, plc.segments, plc.segmental_snr_db,
                repeat.segmental_snr_db, zero.segmental_snr_db);
    EXPECT_GT(plc.segmental_snr_db, repeat.segmental_snr_db + 1.0);
}

} // namespace
} // namespace orvo::voice
