#include "orvo_tool/signal_tools.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "orvo_tool/codec_types.h"

namespace orvo::tool {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32768.0;
// Rendered syllables peak near 1.0 (1.6 at most over ten minutes): peaks near -7 dBFS, no clipping.
constexpr double kGain = 15000.0;
constexpr double kTopHarmonicHz = 3700.0;       // stay below the 4 kHz band edge
constexpr double kNoiseFloor = 6.0;             // LSB, about -75 dBFS
constexpr int kEnvelopeUpdateSamples = 40;      // harmonic amplitudes follow the formants every 5 ms

// Small deterministic generator (64-bit LCG, top bits), so the signal never depends on a library.
class Lcg {
public:
    explicit Lcg(uint64_t seed) : state_(seed) {}
    double Uniform() // [0, 1)
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) * (1.0 / 9007199254740992.0);
    }
    double Range(double low, double high) { return low + (high - low) * Uniform(); }

private:
    uint64_t state_;
};

struct Vowel {
    double f1, f2, f3;
};
constexpr std::array<Vowel, 5> kVowels = {{
    {730, 1090, 2440}, // a
    {270, 2290, 3010}, // i
    {300, 870, 2240},  // u
    {530, 1840, 2480}, // e
    {570, 840, 2410},  // o
}};
constexpr std::array<double, 3> kFormantBandwidth = {90, 110, 160};
constexpr std::array<double, 3> kFormantGain = {1.0, 0.6, 0.3};

double FormantGain(const Vowel &v, double hz)
{
    const std::array<double, 3> f = {v.f1, v.f2, v.f3};
    double gain = 0.02; // a little energy between the formants
    for (size_t i = 0; i < f.size(); ++i) {
        const double x = (hz - f[i]) / kFormantBandwidth[i];
        gain += kFormantGain[i] / (1.0 + x * x);
    }
    return gain;
}

// One syllable: optional fricative onset, then a voiced part moving from one vowel to another.
struct Syllable {
    size_t fricative = 0, voiced = 0, gap = 0; // lengths in samples
    double f0_start = 0, f0_end = 0;
    Vowel from{}, to{};
    double loudness = 1;
};

void RenderSyllable(const Syllable &s, Lcg &noise, double &phase, std::vector<double> &out)
{
    double previous_noise = 0;
    for (size_t n = 0; n < s.fricative; ++n) { // high-passed noise with a rise and fall
        const double white = noise.Range(-1, 1);
        const double shaped = white - 0.7 * previous_noise;
        previous_noise = white;
        const double envelope = std::sin(kPi * static_cast<double>(n) / static_cast<double>(s.fricative));
        out.push_back(0.15 * s.loudness * envelope * shaped);
    }
    const double attack = 0.02 * kSampleRate, release = 0.04 * kSampleRate;
    std::vector<double> amplitudes;
    for (size_t n = 0; n < s.voiced; ++n) {
        const double t = static_cast<double>(n) / static_cast<double>(s.voiced);
        const double vibrato = 1.0 + 0.01 * std::sin(2 * kPi * 5.0 * static_cast<double>(n) / kSampleRate);
        const double f0 = (s.f0_start + (s.f0_end - s.f0_start) * t) * vibrato;
        const int harmonics = static_cast<int>(kTopHarmonicHz / f0);
        if (n % kEnvelopeUpdateSamples == 0) {
            const Vowel v = {s.from.f1 + (s.to.f1 - s.from.f1) * t, s.from.f2 + (s.to.f2 - s.from.f2) * t,
                             s.from.f3 + (s.to.f3 - s.from.f3) * t};
            amplitudes.assign(static_cast<size_t>(harmonics) + 1, 0.0);
            for (int k = 1; k <= harmonics; ++k)
                amplitudes[static_cast<size_t>(k)] = FormantGain(v, k * f0) / std::sqrt(static_cast<double>(k));
        }
        phase += 2 * kPi * f0 / kSampleRate;
        if (phase > 2 * kPi) phase -= 2 * kPi;
        double sample = 0;
        for (int k = 1; k <= harmonics && k < static_cast<int>(amplitudes.size()); ++k)
            sample += amplitudes[static_cast<size_t>(k)] * std::sin(k * phase);
        const double rise = std::min(1.0, static_cast<double>(n) / attack);
        const double fall = std::min(1.0, static_cast<double>(s.voiced - n) / release);
        out.push_back(s.loudness * rise * fall * sample);
    }
    out.insert(out.end(), s.gap, 0.0);
}

} // namespace

std::vector<int16_t> GenerateSpeechLike(double seconds)
{
    const size_t total = static_cast<size_t>(std::max(0.0, seconds) * kSampleRate + 0.5);
    Lcg plan(0x0F00D5EEDull), noise(0x5EED0F00Dull);
    std::vector<double> signal;
    signal.reserve(total + kSampleRate);
    double phase = 0;
    // Words of two to four syllables, separated by pauses, until the length is reached.
    while (signal.size() < total) {
        const int syllables = 2 + static_cast<int>(plan.Uniform() * 3);
        double f0 = plan.Range(105, 190);
        size_t vowel = static_cast<size_t>(plan.Uniform() * kVowels.size());
        for (int i = 0; i < syllables; ++i) {
            Syllable s;
            s.fricative = plan.Uniform() < 0.35 ? static_cast<size_t>(plan.Range(0.05, 0.09) * kSampleRate) : 0;
            s.voiced = static_cast<size_t>(plan.Range(0.12, 0.26) * kSampleRate);
            s.gap = static_cast<size_t>(plan.Range(0.02, 0.06) * kSampleRate);
            s.f0_start = f0;
            s.f0_end = std::clamp(f0 * plan.Range(0.75, 1.3), 85.0, 260.0);
            f0 = s.f0_end;
            s.from = kVowels[vowel];
            vowel = (vowel + 1 + static_cast<size_t>(plan.Uniform() * (kVowels.size() - 1))) % kVowels.size();
            s.to = kVowels[vowel];
            s.loudness = plan.Range(0.5, 1.0);
            RenderSyllable(s, noise, phase, signal);
        }
        signal.insert(signal.end(), static_cast<size_t>(plan.Range(0.15, 0.4) * kSampleRate), 0.0);
    }
    signal.resize(total);

    // A fixed gain (not the signal's own peak) keeps a shorter signal a prefix of a longer one.
    Lcg floor_noise(0xF100Dull);
    std::vector<int16_t> out(total);
    for (size_t n = 0; n < total; ++n) {
        const double v = signal[n] * kGain + kNoiseFloor * floor_noise.Range(-1, 1);
        out[n] = static_cast<int16_t>(std::lround(std::clamp(v, -kFullScale, kFullScale - 1)));
    }
    return out;
}

SnrResult MeasureSnr(const int16_t *reference, const int16_t *decoded, size_t count)
{
    const double silence_power = kFullScale * kFullScale * std::pow(10.0, kSegmentSilenceDbfs / 10.0);
    SnrResult result;
    result.samples = count;
    double signal = 0, noise = 0, segment_sum = 0;
    for (size_t start = 0; start < count; start += kSnrSegmentSamples) {
        const size_t end = std::min(count, start + kSnrSegmentSamples);
        double seg_signal = 0, seg_noise = 0;
        for (size_t n = start; n < end; ++n) {
            const double x = reference[n], e = static_cast<double>(reference[n]) - decoded[n];
            seg_signal += x * x;
            seg_noise += e * e;
        }
        signal += seg_signal;
        noise += seg_noise;
        if (seg_signal / static_cast<double>(end - start) < silence_power) continue;
        const double seg_snr = seg_noise > 0 ? 10 * std::log10(seg_signal / seg_noise) : kSegmentSnrMaxDb;
        segment_sum += std::clamp(seg_snr, kSegmentSnrMinDb, kSegmentSnrMaxDb);
        ++result.segments;
    }
    result.snr_db = noise > 0 ? (signal > 0 ? 10 * std::log10(signal / noise) : -std::numeric_limits<double>::infinity())
                              : std::numeric_limits<double>::infinity();
    result.segmental_snr_db = result.segments ? segment_sum / static_cast<double>(result.segments)
                                              : std::numeric_limits<double>::quiet_NaN();
    return result;
}

} // namespace orvo::tool
