#include "voice/concealment.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvo::voice {
namespace {

constexpr int32_t kQ15One = 1 << 15;
// A shorter lag wins over the best one when it correlates nearly as well: the best lag of a
// periodic signal is often a multiple of its period.
constexpr double kShorterLagShare = 0.9;
constexpr int kRecoveryStepSamples = 32; // 4 ms more cross-fade per further 10 ms of loss
constexpr int kPeriodsMax = 3;

int16_t Saturate(int32_t value)
{
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

// Weight of the incoming signal at step `i` of an `length`-step cross-fade, in Q15 (never 0 or 1).
int32_t FadeIn(int i, int length)
{
    return static_cast<int32_t>((static_cast<int64_t>(i + 1) * kQ15One) / (length + 1));
}

int32_t Mix(int32_t from, int32_t to, int32_t weightTo)
{
    return static_cast<int32_t>((static_cast<int64_t>(from) * (kQ15One - weightTo) +
                                 static_cast<int64_t>(to) * weightTo) >> 15);
}

} // namespace

int FindPitchPeriod(const int16_t *x, int length, int minPeriod, int maxPeriod, int window,
                    int32_t *score)
{
    *score = 0;
    if (!x || minPeriod < 1 || maxPeriod < minPeriod || window < 1 || length < window + maxPeriod)
        return minPeriod;
    const int16_t *end = x + length;
    double energyNow = 0;
    for (int n = -window; n < 0; ++n)
        energyNow += static_cast<double>(end[n]) * end[n];
    if (energyNow <= 0)
        return minPeriod;
    double scores[kPitchMaxPeriod + 1] = {};
    const int lastLag = std::min(maxPeriod, kPitchMaxPeriod);
    double best = 0;
    for (int lag = minPeriod; lag <= lastLag; ++lag) {
        double correlation = 0, energyLag = 0;
        for (int n = -window; n < 0; ++n) {
            correlation += static_cast<double>(end[n]) * end[n - lag];
            energyLag += static_cast<double>(end[n - lag]) * end[n - lag];
        }
        double s = energyLag > 0 ? correlation / std::sqrt(energyNow * energyLag) : 0;
        scores[lag] = s;
        best = std::max(best, s);
    }
    if (best <= 0)
        return minPeriod;
    for (int lag = minPeriod; lag <= lastLag; ++lag) {
        if (scores[lag] >= kShorterLagShare * best) {
            // The local peak around the first lag that comes close to the best.
            int peak = lag;
            while (peak + 1 <= lastLag && scores[peak + 1] > scores[peak])
                ++peak;
            *score = static_cast<int32_t>(std::lround(std::clamp(scores[peak], 0.0, 1.0) * 32767));
            return peak;
        }
    }
    return minPeriod;
}

void LossConcealer::Reset()
{
    std::memset(m_history, 0, sizeof(m_history));
    std::memset(m_pitchBuffer, 0, sizeof(m_pitchBuffer));
    m_period = kPitchMinPeriod;
    m_periods = 1;
    m_position = 0;
    m_erased = 0;
    m_overlap = kPitchMinPeriod / 4;
    m_fadeLeft = 0;
}

void LossConcealer::AppendHistory(const int16_t *samples, int count)
{
    if (count <= 0)
        return;
    if (count >= kHistorySamples) {
        std::memcpy(m_history, samples + count - kHistorySamples, sizeof(m_history));
        return;
    }
    std::memmove(m_history, m_history + count, (kHistorySamples - count) * sizeof(int16_t));
    std::memcpy(m_history + kHistorySamples - count, samples, count * sizeof(int16_t));
}

void LossConcealer::StartLoss()
{
    std::memcpy(m_pitchBuffer, m_history, sizeof(m_history));
    int32_t score = 0;
    m_period = FindPitchPeriod(m_pitchBuffer, kHistorySamples, kPitchMinPeriod, kPitchMaxPeriod,
                               kPitchWindow, &score);
    m_overlap = std::max(1, m_period / 4);
    m_periods = 1;
    m_position = 0;
    m_fadeLeft = 0;
}

// The repeated stretch is the last `periods` periods of the pitch buffer. Its last quarter
// period is blended with the samples that precede the stretch, so that reading on from its end
// into its start again continues the signal without a step.
static int32_t StretchSample(const int16_t *buffer, int period, int periods, int overlap, int position)
{
    const int length = period * periods;
    const int start = LossConcealer::kHistorySamples - length;
    const int i = position % length;
    if (i < length - overlap)
        return buffer[start + i];
    const int step = i - (length - overlap);
    return Mix(buffer[start + i], buffer[start + i - length], FadeIn(step, overlap));
}

int32_t LossConcealer::Gain() const
{
    if (m_erased < kAttenuationStartSamples)
        return kQ15One;
    if (m_erased >= kSilenceAfterSamples)
        return 0;
    const int into = m_erased - kAttenuationStartSamples;
    const int span = kSilenceAfterSamples - kAttenuationStartSamples;
    return static_cast<int32_t>(kQ15One - static_cast<int64_t>(into) * kQ15One / span);
}

void LossConcealer::UsePeriods(int periods)
{
    if (periods == m_periods || periods > kPeriodsMax)
        return;
    // Cross-fade from the stretch being read into the longer one, at the same phase.
    m_fadeFromPeriods = m_periods;
    m_fadeFromPosition = m_position;
    m_fadeLeft = m_overlap;
    m_periods = periods;
    m_position = m_position % m_period;
}

int32_t LossConcealer::NextSynthetic()
{
    if (m_erased == kAttenuationStartSamples)
        UsePeriods(2);
    else if (m_erased == 2 * kAttenuationStartSamples)
        UsePeriods(3);
    int32_t value = StretchSample(m_pitchBuffer, m_period, m_periods, m_overlap, m_position);
    if (m_fadeLeft > 0) {
        int32_t old = StretchSample(m_pitchBuffer, m_period, m_fadeFromPeriods, m_overlap,
                                    m_fadeFromPosition);
        value = Mix(old, value, FadeIn(m_overlap - m_fadeLeft, m_overlap));
        ++m_fadeFromPosition;
        --m_fadeLeft;
    }
    ++m_position;
    value = static_cast<int32_t>((static_cast<int64_t>(value) * Gain()) >> 15);
    ++m_erased;
    return value;
}

void LossConcealer::ConcealFrame(int16_t *out, int count)
{
    if (!out || count <= 0)
        return;
    if (m_erased == 0)
        StartLoss();
    for (int n = 0; n < count; ++n)
        out[n] = Saturate(NextSynthetic());
}

void LossConcealer::GoodFrame(int16_t *samples, int count)
{
    if (!samples || count <= 0 || m_erased == 0)
        return;
    const int extra = (m_erased - 1) / kAttenuationStepSamples; // further 10 ms steps of loss
    int length = std::min(kMaxRecoverySamples, m_overlap + kRecoveryStepSamples * extra);
    length = std::min(length, count);
    for (int n = 0; n < length; ++n)
        samples[n] = Saturate(Mix(NextSynthetic(), samples[n], FadeIn(n, length)));
    m_erased = 0;
    m_fadeLeft = 0;
}

void LossConcealer::Remember(const int16_t *samples, int count)
{
    if (samples)
        AppendHistory(samples, count);
}

} // namespace orvo::voice
