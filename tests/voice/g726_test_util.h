// Shared helpers of the G.726 tests: field-by-field state comparison and seeded test signals.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "orvoaudio/voice.h"

namespace orvo::voice::testing {

inline constexpr double kPi = 3.14159265358979323846;

// Every field of the record by name, in declaration order.
#define ORVO_G726_FIELDS(X)                                                                        \
    X(format) X(bits) X(a1) X(a2) X(ap) X(b1) X(b2) X(b3) X(b4) X(b5) X(b6) X(dml) X(dms) X(dq1)   \
    X(dq2) X(dq3) X(dq4) X(dq5) X(dq6) X(pk1) X(pk2) X(sr1) X(sr2) X(td) X(yl) X(yu)

// Empty when equal, else the first differing field with both values.
inline std::string StateDifference(const G726State &a, const G726State &b)
{
#define ORVO_G726_COMPARE(field)                                                                   \
    if (a.field != b.field)                                                                        \
        return std::string(#field) + ": " + std::to_string(a.field) + " vs " +                     \
               std::to_string(b.field);
    ORVO_G726_FIELDS(ORVO_G726_COMPARE)
#undef ORVO_G726_COMPARE
    return {};
}

inline bool SameState(const G726State &a, const G726State &b) { return StateDifference(a, b).empty(); }

// Kinds of test input: full-scale noise, speech-like (a few drifting tones with a syllable envelope
// and some noise), and loud square waves that drive the coder into its limits.
enum class Signal { Noise, Speech, Square };

inline std::vector<int16_t> MakeSignal(Signal kind, size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<int16_t> out(n);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double f1 = 150 + rng() % 200, f2 = 500 + rng() % 1500, f3 = 2000 + rng() % 1500;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        double v = 0;
        switch (kind) {
        case Signal::Noise:
            out[i] = static_cast<int16_t>(full(rng));
            continue;
        case Signal::Speech: {
            const double envelope = 0.5 + 0.5 * std::sin(2 * kPi * 3.0 * t);
            v = envelope * (9000 * std::sin(2 * kPi * f1 * t) + 4000 * std::sin(2 * kPi * f2 * t) +
                            1500 * std::sin(2 * kPi * f3 * t)) +
                300 * noise(rng);
            break;
        }
        case Signal::Square:
            v = ((i / (4 + seed % 37)) % 2 ? 32767.0 : -32768.0);
            break;
        }
        v = std::fmax(-32768.0, std::fmin(32767.0, v));
        out[i] = static_cast<int16_t>(std::lrint(v));
    }
    return out;
}

} // namespace orvo::voice::testing
