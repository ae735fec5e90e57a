#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "orvo_tool/signal_tools.h"

namespace orvo::tool {
namespace {

TEST(SignalTools, SnrOfKnownErrors)
{
    const std::vector<int16_t> reference(800, 1000);
    EXPECT_TRUE(std::isinf(MeasureSnr(reference.data(), reference.data(), reference.size()).snr_db));

    std::vector<int16_t> off_by_ten(reference.size(), 1010); // error 1/100 of the amplitude: 40 dB
    const SnrResult snr = MeasureSnr(reference.data(), off_by_ten.data(), reference.size());
    EXPECT_NEAR(snr.snr_db, 40.0, 1e-9);
    EXPECT_NEAR(snr.segmental_snr_db, 40.0, 1e-9);
    EXPECT_EQ(snr.segments, 5u);

    // Near-silent segments stay out of the segmental mean, but count in the overall SNR.
    std::vector<int16_t> with_pause = reference, decoded = off_by_ten;
    std::fill(with_pause.begin(), with_pause.begin() + 160, 10);
    std::fill(decoded.begin(), decoded.begin() + 160, 0);
    const SnrResult paused = MeasureSnr(with_pause.data(), decoded.data(), with_pause.size());
    EXPECT_EQ(paused.segments, 4u);
    EXPECT_NEAR(paused.segmental_snr_db, 40.0, 1e-9);
    EXPECT_LT(paused.snr_db, 40.0);

    const std::vector<int16_t> silence(320, 0);
    EXPECT_TRUE(std::isnan(MeasureSnr(silence.data(), silence.data(), silence.size()).segmental_snr_db));
}

TEST(SignalTools, SpeechLikeSignalIsDeterministicWithVoiceAndPauses)
{
    const std::vector<int16_t> a = GenerateSpeechLike(3.0);
    ASSERT_EQ(a.size(), 24000u);
    EXPECT_EQ(a, GenerateSpeechLike(3.0));
    const std::vector<int16_t> shorter = GenerateSpeechLike(1.0);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), a.begin())) << "a longer signal starts the same";

    int peak = 0;
    size_t quiet = 0, loud = 0;
    for (size_t start = 0; start + 160 <= a.size(); start += 160) {
        double power = 0;
        for (size_t n = start; n < start + 160; ++n) {
            power += static_cast<double>(a[n]) * a[n];
            peak = std::max(peak, std::abs(static_cast<int>(a[n])));
        }
        const double dbfs = 10 * std::log10(power / 160 / (32768.0 * 32768.0) + 1e-12);
        quiet += dbfs < -60;
        loud += dbfs > -30;
    }
    EXPECT_GT(peak, 12000) << "about -7 dBFS";
    EXPECT_LT(peak, 20000);
    EXPECT_GE(quiet, 10u) << "pauses between words";
    EXPECT_GE(loud, 60u) << "voiced syllables";
}

} // namespace
} // namespace orvo::tool
