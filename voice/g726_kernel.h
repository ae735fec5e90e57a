// The G.726 coder step, specialised per code width at compile time. The frame loops keep a copy of
// the state in locals for a whole block and store it back once, so the public record holds the
// coder's values between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "voice/g726_tables.h"

namespace orvo::voice::g726 {

inline constexpr int32_t kSampleFormatLinear16 = 2;
inline constexpr int32_t kFloatZero = 32; // +0 in the floating format
inline constexpr int32_t kYlReset = 34816;
inline constexpr int32_t kYuMin = 544;
inline constexpr int32_t kYuMax = 5120;
inline constexpr int32_t kDqSignBit = 0x8000;
inline constexpr int32_t kDqMagnitudeMask = 0x7FFF;

// Bit length (number of the highest set bit plus one, 0 for 0) of a value below 2^31, without a
// branch: 2m + 1 is never zero and has its top bit one place above m's.
inline int32_t BitLength31(int32_t m)
{
    return 31 - __builtin_clz((static_cast<uint32_t>(m) << 1) | 1u);
}

// The same for any 32-bit pattern (a negative value has bit length 32).
inline int32_t BitLength32(int32_t m)
{
    return 63 - __builtin_clzll((static_cast<uint64_t>(static_cast<uint32_t>(m)) << 1) | 1u);
}

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Floating form of a magnitude below 2^15 with its sign (0 or 1).
inline int32_t FloatOf15(int32_t sign, int32_t m)
{
    const int32_t e = BitLength31(m);
    // The mantissa of every non-zero magnitude has bit 5 set; OR-ing 32 also gives +-0 its 32.
    return (sign << 10) + (e << 6) + (((m << 6) >> e) | kFloatZero);
}

// Floating form of any 32-bit magnitude. A reconstructed signal far outside the 16-bit range (only
// a decoder fed unrelated codes gets there) can give a negative or 17-bit magnitude; the shift is
// then done in 64 bits so that it stays an arithmetic shift by up to 32 places.
inline int32_t FloatOf32(int32_t sign, int32_t m)
{
    const int32_t e = BitLength32(m);
    const int32_t mant =
        m == 0 ? kFloatZero : static_cast<int32_t>((static_cast<int64_t>(m) * 64) >> e);
    return sign * 1024 + e * 64 + mant;
}

// FMULT: coefficient an (16384 = 1.0) times a value in the floating format.
__attribute__((always_inline)) inline int32_t Fmult(int32_t an, int32_t srn)
{
    const int32_t q = an >> 2;
    const int32_t anMag = q < 0 ? -q : q;
    const int32_t anExp = BitLength31(anMag);
    const int32_t anMant = ((anMag << 6) >> anExp) | kFloatZero;
    const int32_t exp = anExp + ((srn >> 6) & 15);
    const int32_t mant = ((srn & 63) * anMant + 48) >> 4;
    // (mant * 128) >> (26 - exp) for exp <= 26 and (mant << (exp - 19)) & 0x7FFF above, as one
    // right shift of mant << 11 (exp never exceeds 30); the mask is a no-op in the first case.
    const int32_t mag = ((mant << 11) >> ((30 - exp) & 31)) & kDqMagnitudeMask;
    const int32_t negative = -(((srn >> 10) ^ (an >> 31)) & 1);
    return (mag ^ negative) - negative;
}

// Normalized log differences that can occur: dl in [0, 1919], y >> 2 in [136, 1280]. Values
// outside the span clamp to its ends, which give the same magnitude index.
inline constexpr int32_t kDlnOffset = 1280;
inline constexpr int32_t kDlnSpan = 1920 + kDlnOffset;

// For each normalized log difference: DQLN of the chosen magnitude index (12 bits, -2048..566)
// above the index itself (4 bits), so one load feeds both the inverse quantizer and the tables.
inline constexpr int kQuantizerIndexBits = 4;
inline constexpr int32_t kQuantizerIndexMask = (1 << kQuantizerIndexBits) - 1;

template <int Bits>
constexpr std::array<int16_t, kDlnSpan> MakeQuantizerTable()
{
    std::array<int16_t, kDlnSpan> table{};
    const RateTable &t = TableFor(Bits);
    for (int32_t i = 0; i < kDlnSpan; ++i) {
        const int32_t dln = i - kDlnOffset;
        int32_t k = 0;
        while (t.levels[k] <= dln)
            ++k;
        table[static_cast<std::size_t>(i)] = static_cast<int16_t>(t.dqln[k] * (1 << kQuantizerIndexBits) + k);
    }
    return table;
}

template <int Bits>
struct QuantizerTable {
    static constexpr std::array<int16_t, kDlnSpan> kEntries = MakeQuantizerTable<Bits>();
};

// DQLN's minus infinity as the vector coder's tables hold it: any value below -1280 keeps
// dql = DQLN + (y >> 2) negative, and this one keeps the reconstruction table small.
inline constexpr int32_t kDqlnFloor = -1400;

// Per magnitude index, the adaptation inputs already in the units in which they are added:
// DQLN (minus infinity as kDqlnFloor), F(I) << 9 and F(I) << 11 (the DMS and DML targets),
// W(I) << 5 (the YU target).
struct AdaptEntry {
    int32_t dqln;
    int32_t fShort;
    int32_t fLong;
    int32_t w;
};

template <int Bits>
constexpr std::array<AdaptEntry, (1 << (Bits - 1))> MakeAdaptTable()
{
    std::array<AdaptEntry, (1 << (Bits - 1))> table{};
    const RateTable &t = TableFor(Bits);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {t.dqln[i] < kDqlnFloor ? kDqlnFloor : t.dqln[i], t.f[i] << 9, t.f[i] << 11, t.w[i] * 32};
    return table;
}

template <int Bits>
struct AdaptTable {
    static constexpr std::array<AdaptEntry, (1 << (Bits - 1))> kEntries = MakeAdaptTable<Bits>();
};

// The transition detector's threshold DQTHR depends on yl only through yl >> 10 (its integer part
// yl >> 15 and five fraction bits); reachable yl are at most 5120 << 6, index 320, and every index
// from 320 on gives the top threshold.
inline constexpr int32_t kDqThresholdSlots = ((kYuMax << 6) >> 10) + 1;

constexpr std::array<int32_t, kDqThresholdSlots> MakeDqThresholdTable()
{
    std::array<int32_t, kDqThresholdSlots> table{};
    for (int32_t i = 0; i < kDqThresholdSlots; ++i) {
        const int32_t ylint = i >> 5;
        const int32_t ylfrac = i & 31;
        const int32_t thr = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
        table[static_cast<std::size_t>(i)] = (thr + (thr >> 1)) >> 1;
    }
    return table;
}

inline constexpr std::array<int32_t, kDqThresholdSlots> kDqThresholds = MakeDqThresholdTable();

inline void ResetState(G726State &s, int bits)
{
    s.format = kSampleFormatLinear16;
    s.bits = bits;
    s.a1 = s.a2 = s.ap = 0;
    s.b1 = s.b2 = s.b3 = s.b4 = s.b5 = s.b6 = 0;
    s.dml = s.dms = 0;
    s.dq1 = s.dq2 = s.dq3 = s.dq4 = s.dq5 = s.dq6 = kFloatZero;
    s.pk1 = s.pk2 = 0;
    s.sr1 = s.sr2 = kFloatZero;
    s.td = 0;
    s.yl = kYlReset;
    s.yu = kYuMin;
}

// One coder step on a local copy of the state. Encode: value is a sample, returns the code.
// Decode: value is a code (low Bits bits used), returns the sample.
template <int Bits, bool Encode>
__attribute__((always_inline)) inline int32_t Step(G726State &s, int32_t value)
{
    constexpr int32_t kAll = (1 << Bits) - 1;
    constexpr int32_t kSignShift = Bits - 1;
    constexpr int32_t kUpbShift = Bits == 5 ? 9 : 8;
    constexpr const RateTable &t = TableFor(Bits);

    // 1. Scale factor: y = yl/64 + (yu - yl/64) * al / 64, the division truncating toward zero.
    const int32_t al = s.ap > 256 ? 64 : s.ap >> 2;
    const int32_t yl6 = s.yl >> 6;
    const int32_t prod = (s.yu - yl6) * al;
    const int32_t y = yl6 + ((prod + ((prod >> 31) & 63)) >> 6);
    const int32_t y2 = y >> 2;

    // 2. Signal estimate; the six zero-predictor products are independent.
    const int32_t z = (Fmult(s.b1, s.dq1) + Fmult(s.b2, s.dq2)) +
                      (Fmult(s.b3, s.dq3) + Fmult(s.b4, s.dq4)) +
                      (Fmult(s.b5, s.dq5) + Fmult(s.b6, s.dq6));
    const int32_t sez = z >> 1;
    const int32_t se = (z + (Fmult(s.a1, s.sr1) + Fmult(s.a2, s.sr2))) >> 1;

    // 3. Code, with its magnitude index and DQLN.
    int32_t code;
    int32_t index;
    int32_t dqln;
    bool negative;
    if constexpr (Encode) {
        const int32_t d = (static_cast<int16_t>(value) >> 2) - se;
        const int32_t ds = d >> 31; // the sign of d; d >> 15 for every d in the 16-bit range
        const int32_t m = ((d ^ ds) - ds) & kDqMagnitudeMask;
        const int32_t e = BitLength31(m >> 1);
        const int32_t dl = (e << 7) + (((m << 7) >> e) & 127);
        const int32_t slot = Clamp(dl - y2 + kDlnOffset, 0, kDlnSpan - 1);
        const int32_t entry = QuantizerTable<Bits>::kEntries[static_cast<std::size_t>(slot)];
        index = entry & kQuantizerIndexMask;
        dqln = entry >> kQuantizerIndexBits;
        if constexpr (Bits == 2) {
            negative = ds != 0;
        } else {
            negative = ds != 0 || index == 0; // magnitude 0 is coded as all ones
        }
        code = negative ? kAll - index : index;
    } else {
        code = value & kAll;
        negative = (code >> kSignShift) != 0;
        index = negative ? kAll - code : code;
        dqln = t.dqln[index];
    }

    // 4. Inverse quantizer.
    const int32_t dql = dqln + y2;
    const int32_t dex = (dql >> 7) & 15;
    const int32_t dqt = 128 + (dql & 127);
    const int32_t mag = dql < 0 ? 0 : (dqt << 7) >> ((14 - dex) & 31);
    const int32_t dqSign = negative ? 1 : 0;

    // 5. Transition detector.
    const int32_t ylint = s.yl >> 15;
    const int32_t ylfrac = (s.yl >> 10) & 31;
    const int32_t thr = ylint > 9 ? 31 << 10 : (32 + ylfrac) << (ylint & 31);
    const int32_t dqthr = (thr + (thr >> 1)) >> 1;
    const bool tr = s.td != 0 && mag > dqthr;

    // 6. Predictor update and reconstruction.
    const int32_t dqs = negative ? -mag : mag;
    const int32_t dqsez = sez + dqs;
    const int32_t pk0 = dqsez >> 15;
    const bool sigpk = dqsez == 0;
    const int32_t sr = se + dqs;
    const int32_t srSign = (sr >> 15) & 1;
    const int32_t srMag = srSign ? -sr : sr;
    const int32_t sr1 = (static_cast<uint32_t>(srMag) < 0x8000u) ? FloatOf15(srSign, srMag)
                                                                  : FloatOf32(srSign, srMag);
    const int32_t dq0 = FloatOf15(dqSign, mag);
    int32_t a2p = 0;
    if (tr) {
        s.a1 = s.a2 = 0;
        s.b1 = s.b2 = s.b3 = s.b4 = s.b5 = s.b6 = 0;
    } else {
        // UPB: +128 when the signs agree, -128 when they differ, 0 for a zero difference.
        const int32_t step = mag != 0 ? 128 : 0;
        auto upb = [&](int32_t b, int32_t past) {
            const int32_t differ = -((((past >> 10) & 1) ^ dqSign)); // 0 or -1
            return b - (b >> kUpbShift) + ((step ^ differ) - differ);
        };
        s.b1 = upb(s.b1, s.dq1);
        s.b2 = upb(s.b2, s.dq2);
        s.b3 = upb(s.b3, s.dq3);
        s.b4 = upb(s.b4, s.dq4);
        s.b5 = upb(s.b5, s.dq5);
        s.b6 = upb(s.b6, s.dq6);

        const int32_t fa1 = s.a1 < -8191 ? -32764 : (s.a1 > 8191 ? 32764 : s.a1 * 4);
        const int32_t fa = pk0 != s.pk1 ? fa1 : -fa1;
        const int32_t g = sigpk ? 0 : ((pk0 == s.pk2 ? 16384 : -16384) + fa) >> 7;
        a2p = Clamp(s.a2 - (s.a2 >> 7) + g, -12288, 12288);
        s.a2 = a2p;
        const int32_t h = sigpk ? 0 : (pk0 == s.pk1 ? 192 : -192);
        s.a1 = Clamp(s.a1 - (s.a1 >> 8) + h, a2p - 15360, 15360 - a2p);
    }
    s.pk2 = s.pk1;
    s.pk1 = pk0;
    s.sr2 = s.sr1;
    s.sr1 = sr1;
    s.dq6 = s.dq5;
    s.dq5 = s.dq4;
    s.dq4 = s.dq3;
    s.dq3 = s.dq2;
    s.dq2 = s.dq1;
    s.dq1 = dq0;

    // 7. Tone detector.
    const int32_t tdp = (!tr && a2p < -11776) ? 1 : 0;
    s.td = tdp;

    // 8. Adaptation speed control.
    const int32_t f = t.f[index];
    s.dms += ((f << 9) - s.dms) >> 5;
    s.dml += ((f << 11) - s.dml) >> 7;
    if (tr) {
        s.ap = 256;
    } else {
        const int32_t spread = 4 * s.dms - s.dml;
        const int32_t absSpread = spread < 0 ? -spread : spread;
        const int32_t ax = (y >= 1536 && absSpread < (s.dml >> 3) && tdp == 0) ? 0 : 1;
        s.ap += ((ax << 9) - s.ap) >> 4;
    }

    // 9. Scale factor adaptation.
    const int32_t w = t.w[index];
    s.yu = Clamp(y + (((w * 32) - y) >> 5), kYuMin, kYuMax);
    s.yl += ((s.yu << 6) - s.yl) >> 6;

    // 10. Result.
    if constexpr (Encode)
        return code;
    else
        return Clamp(sr, -8192, 8191) * 4;
}

} // namespace orvo::voice::g726
