// Test signals and quality measures for voice audio at 8000 Hz.
#ifndef ORVO_TOOL_SIGNAL_TOOLS_H
#define ORVO_TOOL_SIGNAL_TOOLS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo::tool {

// A deterministic speech-like signal: syllables of voiced harmonics with a gliding pitch and
// moving formant-like envelope, some noisy fricatives, pauses between words and a faint noise
// floor, peaking at about -7 dBFS. The same `seconds` always give the same samples.
std::vector<int16_t> GenerateSpeechLike(double seconds);

struct SnrResult {
    double snr_db = 0;            // over the whole signal; +inf when nothing differs
    double segmental_snr_db = 0;  // mean over 20 ms segments that are not near-silent; NaN if none
    size_t samples = 0;
    size_t segments = 0;          // segments that counted for the segmental SNR
};

constexpr size_t kSnrSegmentSamples = 160;     // 20 ms
constexpr double kSegmentSilenceDbfs = -50.0;  // quieter segments are left out of the mean
constexpr double kSegmentSnrMinDb = -10.0;     // each segment's SNR is clamped to this range
constexpr double kSegmentSnrMaxDb = 60.0;

SnrResult MeasureSnr(const int16_t *reference, const int16_t *decoded, size_t count);

} // namespace orvo::tool

#endif
