// G.726 per-rate tables (QUAN decision levels, RECONST, FUNCTW, FUNCTF), indexed by the magnitude
// index of a code. Log-domain values are log2 units x 128; -2048 stands for minus infinity.
#pragma once

#include <cstdint>

namespace orvo::voice::g726 {

inline constexpr int kMinBits = 2;
inline constexpr int kMaxBits = 5;
inline constexpr int kMaxMagnitudes = 1 << (kMaxBits - 1);
// Closes every decision-level list: larger than any normalized log difference.
inline constexpr int16_t kLevelEndMark = 32767;
inline constexpr int16_t kLogMinusInfinity = -2048;

struct RateTable {
    int levelCount;                 // decision levels before the end mark
    int16_t levels[kMaxMagnitudes]; // ascending, then kLevelEndMark
    int16_t dqln[kMaxMagnitudes];   // inverse quantizer output (DQLN)
    int16_t w[kMaxMagnitudes];      // scale factor multiplier W(I)
    int16_t f[kMaxMagnitudes];      // speed control input F(I)
};

// Index: code width in bits minus kMinBits.
inline constexpr RateTable kRateTables[kMaxBits - kMinBits + 1] = {
    // 16 kbit/s: one threshold; the two magnitudes are "small" and "large".
    {1, {261, kLevelEndMark}, {116, 365}, {-22, 439}, {0, 7}},
    // 24 kbit/s
    {3,
     {8, 218, 331, kLevelEndMark},
     {kLogMinusInfinity, 135, 273, 373},
     {-4, 30, 137, 582},
     {0, 1, 2, 7}},
    // 32 kbit/s
    {7,
     {-124, 80, 178, 246, 300, 349, 400, kLevelEndMark},
     {kLogMinusInfinity, 4, 135, 213, 273, 323, 373, 425},
     {-12, 18, 41, 64, 112, 198, 355, 1122},
     {0, 0, 0, 1, 1, 1, 3, 7}},
    // 40 kbit/s
    {15,
     {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553, kLevelEndMark},
     {kLogMinusInfinity, -66, 28, 104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566},
     {14, 14, 24, 39, 40, 41, 58, 100, 141, 179, 219, 280, 358, 440, 529, 696},
     {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6}},
};

constexpr const RateTable &TableFor(int bits) { return kRateTables[bits - kMinBits]; }

} // namespace orvo::voice::g726
