// The multi-channel G.726 and IMA ADPCM kernels, written once over a set of lane operations
// (lanes_portable.h, lanes_avx2.h, lanes_neon.h) and instantiated once per set by its own file.
//
// Every lane is one channel: the steps are those of the single-channel coders (g726_kernel.h,
// adpcm.h) with each decision turned into a lane mask, so a lane passes through exactly the values
// of its channel's single-channel call. Channels are independent, so nothing waits on a neighbour:
// the speed comes from the lanes, not from shortening one channel's chain of dependent steps.
// Samples and codes are moved between the channels' own buffers and a lane-interleaved block
// (one row of lanes per sample) before and after the coding loop.
//
// The tables are shared data; everything with code is in an anonymous namespace, because each
// including file compiles it for its own instruction set and no copy may reach another file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/batch.h"
#include "voice/frame.h"
#include "voice/g726_kernel.h"
#include "voice/g726_tables.h"

namespace orvo::voice::batch {

// ---- Tables: one load per sample gives everything the G.726 step needs from the quantizer ----

// An entry packs DQLN (12 bits, signed) above W(I) (12 bits, signed), F(I) (3 bits) and the
// magnitude index (4 bits).
inline constexpr int32_t kEntryIndexMask = 15;
inline constexpr int kEntryFShift = 4;
inline constexpr int32_t kEntryFMask = 7;
inline constexpr int kEntryWShift = 8;
inline constexpr int kEntryFieldBits = 12;
inline constexpr int kEntryDqlnShift = 20;
inline constexpr int kMaxCodes = 1 << g726::kMaxBits;
inline constexpr int kCodesPerGroup = 8; // eight G.726 codes of b bits are b whole bytes

constexpr int32_t PackEntry(int32_t dqln, int32_t w, int32_t f, int32_t index)
{
    return static_cast<int32_t>((static_cast<uint32_t>(dqln) << kEntryDqlnShift) |
                                ((static_cast<uint32_t>(w) & 0xFFFu) << kEntryWShift) |
                                (static_cast<uint32_t>(f) << kEntryFShift) | static_cast<uint32_t>(index));
}

// By normalized log difference (offset as g726::QuantizerTable, whose choice of index it repeats).
template <int Bits>
constexpr std::array<int32_t, g726::kDlnSpan> MakeLaneQuantizer()
{
    std::array<int32_t, g726::kDlnSpan> table{};
    const g726::RateTable &t = g726::TableFor(Bits);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int32_t entry = g726::QuantizerTable<Bits>::kEntries[i];
        const int32_t index = entry & g726::kQuantizerIndexMask;
        table[i] = PackEntry(entry >> g726::kQuantizerIndexBits, t.w[index], t.f[index], index);
    }
    return table;
}

// By code, for the decoder.
template <int Bits>
constexpr std::array<int32_t, kMaxCodes> MakeLaneCodeEntries()
{
    std::array<int32_t, kMaxCodes> table{};
    const g726::RateTable &t = g726::TableFor(Bits);
    constexpr int32_t kAll = (1 << Bits) - 1;
    for (int32_t code = 0; code <= kAll; ++code) {
        const int32_t index = (code >> (Bits - 1)) ? kAll - code : code;
        table[static_cast<std::size_t>(code)] = PackEntry(t.dqln[index], t.w[index], t.f[index], index);
    }
    return table;
}

template <int Bits>
struct G726LaneTables {
    static constexpr std::array<int32_t, g726::kDlnSpan> kQuantizer = MakeLaneQuantizer<Bits>();
    static constexpr std::array<int32_t, kMaxCodes> kByCode = MakeLaneCodeEntries<Bits>();
};

inline constexpr int kImaCodes = 16;

constexpr std::array<int32_t, kImaStepCount> MakeImaSteps()
{
    std::array<int32_t, kImaStepCount> table{};
    for (int i = 0; i < kImaStepCount; ++i)
        table[static_cast<std::size_t>(i)] = ImaStepTable[static_cast<std::size_t>(i)];
    return table;
}

// The signed reconstructed difference by step index and 4-bit code (index x 16 + code).
constexpr std::array<int32_t, kImaStepCount * kImaCodes> MakeImaSignedDifferences()
{
    std::array<int32_t, kImaStepCount * kImaCodes> table{};
    for (int index = 0; index < kImaStepCount; ++index)
        for (int code = 0; code < kImaCodes; ++code) {
            const int delta = ImaDifference(ImaStepTable[static_cast<std::size_t>(index)], code & kImaMagnitudeMask);
            table[static_cast<std::size_t>(index * kImaCodes + code)] = (code & kImaSignBit) ? -delta : delta;
        }
    return table;
}

constexpr std::array<int32_t, kImaCodes> MakeImaIndexSteps()
{
    std::array<int32_t, kImaCodes> table{};
    for (int code = 0; code < kImaCodes; ++code)
        table[static_cast<std::size_t>(code)] = ImaIndexTable[static_cast<std::size_t>(code)];
    return table;
}

struct ImaLaneTables {
    static constexpr std::array<int32_t, kImaStepCount> kSteps = MakeImaSteps();
    static constexpr std::array<int32_t, kImaStepCount * kImaCodes> kSignedDifferences = MakeImaSignedDifferences();
    static constexpr std::array<int32_t, kImaCodes> kIndexSteps = MakeImaIndexSteps();
};

namespace {

// ---- Lane values with operators, over a lane-operation set L ----

template <class L>
struct Lane {
    typename L::V v;
};

template <class L> inline Lane<L> operator+(Lane<L> a, Lane<L> b) { return {L::Add(a.v, b.v)}; }
template <class L> inline Lane<L> operator-(Lane<L> a, Lane<L> b) { return {L::Sub(a.v, b.v)}; }
template <class L> inline Lane<L> operator&(Lane<L> a, Lane<L> b) { return {L::And(a.v, b.v)}; }
template <class L> inline Lane<L> operator|(Lane<L> a, Lane<L> b) { return {L::Or(a.v, b.v)}; }
template <class L> inline Lane<L> operator^(Lane<L> a, Lane<L> b) { return {L::Xor(a.v, b.v)}; }
template <class L> inline Lane<L> operator+(Lane<L> a, int32_t b) { return {L::Add(a.v, L::Splat(b))}; }
template <class L> inline Lane<L> operator-(Lane<L> a, int32_t b) { return {L::Sub(a.v, L::Splat(b))}; }
template <class L> inline Lane<L> operator-(int32_t a, Lane<L> b) { return {L::Sub(L::Splat(a), b.v)}; }
template <class L> inline Lane<L> operator&(Lane<L> a, int32_t b) { return {L::And(a.v, L::Splat(b))}; }
template <class L> inline Lane<L> operator|(Lane<L> a, int32_t b) { return {L::Or(a.v, L::Splat(b))}; }
template <class L> inline Lane<L> operator<<(Lane<L> a, int n) { return {L::Shl(a.v, n)}; }
template <class L> inline Lane<L> operator>>(Lane<L> a, int n) { return {L::Sar(a.v, n)}; } // arithmetic
template <class L> inline Lane<L> &operator+=(Lane<L> &a, Lane<L> b) { return a = a + b; }

template <class L> inline Lane<L> Splat(int32_t x) { return {L::Splat(x)}; }
template <class L> inline Lane<L> LoadLane(const int32_t *p) { return {L::Load(p)}; }
template <class L> inline void StoreLane(int32_t *p, Lane<L> a) { L::Store(p, a.v); }
template <class L> inline Lane<L> Min(Lane<L> a, Lane<L> b) { return {L::Min(a.v, b.v)}; }
template <class L> inline Lane<L> Max(Lane<L> a, Lane<L> b) { return {L::Max(a.v, b.v)}; }
template <class L> inline Lane<L> Clamp(Lane<L> a, int32_t lo, int32_t hi) { return Min(Max(a, Splat<L>(lo)), Splat<L>(hi)); }
template <class L> inline Lane<L> Gt(Lane<L> a, Lane<L> b) { return {L::Gt(a.v, b.v)}; }
template <class L> inline Lane<L> Gt(Lane<L> a, int32_t b) { return {L::Gt(a.v, L::Splat(b))}; }
template <class L> inline Lane<L> Eq(Lane<L> a, Lane<L> b) { return {L::Eq(a.v, b.v)}; }
template <class L> inline Lane<L> Eq(Lane<L> a, int32_t b) { return {L::Eq(a.v, L::Splat(b))}; }
// mask ? a : b, lane by lane (mask lanes are 0 or -1).
template <class L> inline Lane<L> Select(Lane<L> mask, Lane<L> a, Lane<L> b) { return {L::Select(mask.v, a.v, b.v)}; }
template <class L> inline Lane<L> AndNot(Lane<L> mask, Lane<L> b) { return {L::AndNot(mask.v, b.v)}; }
template <class L> inline Lane<L> AndNot(Lane<L> mask, int32_t b) { return {L::AndNot(mask.v, L::Splat(b))}; }
template <class L> inline Lane<L> Abs(Lane<L> a) { return {L::Abs(a.v)}; }
template <class L> inline Lane<L> NegateWhereNegative(Lane<L> a, Lane<L> sign) { return {L::NegateWhereNegative(a.v, sign.v)}; }
template <class L> inline Lane<L> Shr(Lane<L> a, int n) { return {L::Shr(a.v, n)}; }
template <class L> inline Lane<L> ShlV(Lane<L> a, Lane<L> n) { return {L::ShlV(a.v, n.v)}; }
template <class L> inline Lane<L> SarV(Lane<L> a, Lane<L> n) { return {L::SarV(a.v, n.v)}; }
template <class L> inline Lane<L> MulLo(Lane<L> a, Lane<L> b) { return {L::MulLo(a.v, b.v)}; }
template <class L> inline Lane<L> MulAddHalves(Lane<L> a, Lane<L> b) { return {L::MulAddHalves(a.v, b.v)}; }
template <class L> inline Lane<L> BitLength(Lane<L> a) { return {L::BitLength(a.v)}; }
template <class L> inline Lane<L> Gather(const int32_t *table, Lane<L> index) { return {L::Gather(table, index.v)}; }
template <class L> inline bool Any(Lane<L> a) { return L::Any(a.v); }

// ---- G.726 ----

// The coder state of every lane, field by field (the names of G726State).
template <class L>
struct G726Lanes {
    Lane<L> a1, a2, ap, dml, dms, pk1, pk2, td, yl, yu;
    Lane<L> b[6];
    Lane<L> dq[6]; // floating format, newest first
    Lane<L> sr[2]; // floating format, newest first
};

template <class L>
inline Lane<L> LoadField(G726State *const *states, int32_t G726State::*field)
{
    alignas(32) int32_t values[kMaxLanes];
    for (int l = 0; l < L::kWidth; ++l)
        values[l] = states[l]->*field;
    return LoadLane<L>(values);
}

template <class L>
inline void StoreField(G726State *const *states, int32_t G726State::*field, Lane<L> lane)
{
    alignas(32) int32_t values[kMaxLanes];
    StoreLane<L>(values, lane);
    for (int l = 0; l < L::kWidth; ++l)
        states[l]->*field = values[l];
}

// The fields the coder changes, in the order of G726Lanes (format and bits never change).
#define ORVO_BATCH_G726_FIELDS(X)                                                                  \
    X(a1, a1) X(a2, a2) X(ap, ap) X(dml, dml) X(dms, dms) X(pk1, pk1) X(pk2, pk2) X(td, td)        \
    X(yl, yl) X(yu, yu) X(b[0], b1) X(b[1], b2) X(b[2], b3) X(b[3], b4) X(b[4], b5) X(b[5], b6)     \
    X(dq[0], dq1) X(dq[1], dq2) X(dq[2], dq3) X(dq[3], dq4) X(dq[4], dq5) X(dq[5], dq6)              \
    X(sr[0], sr1) X(sr[1], sr2)

template <class L>
inline G726Lanes<L> LoadG726(G726State *const *states)
{
    G726Lanes<L> s;
#define ORVO_BATCH_LOAD(lane, field) s.lane = LoadField<L>(states, &G726State::field);
    ORVO_BATCH_G726_FIELDS(ORVO_BATCH_LOAD)
#undef ORVO_BATCH_LOAD
    return s;
}

template <class L>
inline void SaveG726(const G726Lanes<L> &s, G726State *const *states)
{
#define ORVO_BATCH_SAVE(lane, field) StoreField<L>(states, &G726State::field, s.lane);
    ORVO_BATCH_G726_FIELDS(ORVO_BATCH_SAVE)
#undef ORVO_BATCH_SAVE
}

// FMULT of g726::Fmult, lane by lane. Coefficients stay within +-2^15 and past values within the
// 11-bit floating format, so the coefficient's magnitude below 2^13 and both mantissas below 64.
template <class L>
inline Lane<L> Fmult(Lane<L> an, Lane<L> srn)
{
    const Lane<L> anMag = Abs(an >> 2);
    const Lane<L> anExp = BitLength(anMag);
    const Lane<L> anMant = SarV(anMag << 6, anExp) | g726::kFloatZero;
    const Lane<L> exp = anExp + ((srn >> 6) & 15);
    const Lane<L> mant = (MulAddHalves(srn & 63, anMant) + 48) >> 4;
    const Lane<L> mag = SarV(mant << 11, (30 - exp) & 31) & g726::kDqMagnitudeMask;
    return NegateWhereNegative(mag, (srn << 21) ^ an); // bit 10 of srn against the sign of an
}

// g726::FloatOf15 for magnitudes below 2^15 and signs 0 or 1.
template <class L>
inline Lane<L> FloatOf15(Lane<L> sign, Lane<L> m)
{
    const Lane<L> e = BitLength(m);
    return (sign << 10) + (e << 6) + (SarV(m << 6, e) | g726::kFloatZero);
}

// The rare magnitudes of 2^15 and more (a decoder fed unrelated codes): lane by lane as
// g726::FloatOf32 does it. Out of line, with no vector in its signature.
__attribute__((noinline)) void FloatOfAnyLanes(const int32_t *signs, const int32_t *mags, int32_t *out, int lanes)
{
    for (int l = 0; l < lanes; ++l)
        out[l] = static_cast<uint32_t>(mags[l]) < 0x8000u ? g726::FloatOf15(signs[l], mags[l])
                                                         : g726::FloatOf32(signs[l], mags[l]);
}

template <class L>
inline Lane<L> FloatOfAny(Lane<L> sign, Lane<L> m)
{
    alignas(32) int32_t signs[kMaxLanes];
    alignas(32) int32_t mags[kMaxLanes];
    StoreLane<L>(signs, sign);
    StoreLane<L>(mags, m);
    FloatOfAnyLanes(signs, mags, signs, L::kWidth);
    return LoadLane<L>(signs);
}

// One step of g726::Step on every lane. Encode: value holds samples, returns codes. Decode: value
// holds codes, returns samples.
template <class L, int Bits, bool Encode>
inline Lane<L> G726Step(G726Lanes<L> &s, Lane<L> value)
{
    constexpr int32_t kAll = (1 << Bits) - 1;
    constexpr int kUpbShift = Bits == 5 ? 9 : 8;
    using T = G726LaneTables<Bits>;

    // 1. Scale factor: al = 64 above ap = 256, else ap >> 2 (then at most 64).
    const Lane<L> al = Min(s.ap >> 2, Splat<L>(64));
    const Lane<L> yl6 = s.yl >> 6;
    const Lane<L> prod = MulLo(s.yu - yl6, al);
    const Lane<L> y = yl6 + ((prod + ((prod >> 31) & 63)) >> 6);
    const Lane<L> y2 = y >> 2;

    // 2. Signal estimate.
    const Lane<L> z = (Fmult(s.b[0], s.dq[0]) + Fmult(s.b[1], s.dq[1])) +
                      (Fmult(s.b[2], s.dq[2]) + Fmult(s.b[3], s.dq[3])) +
                      (Fmult(s.b[4], s.dq[4]) + Fmult(s.b[5], s.dq[5]));
    const Lane<L> sez = z >> 1;
    const Lane<L> se = (z + (Fmult(s.a1, s.sr[0]) + Fmult(s.a2, s.sr[1]))) >> 1;

    // 3. Code, its table entry and the sign of DQ (as a mask).
    Lane<L> code, entry, negative;
    if constexpr (Encode) {
        const Lane<L> d = (value >> 2) - se;
        const Lane<L> ds = d >> 31;
        const Lane<L> m = Abs(d) & g726::kDqMagnitudeMask;
        const Lane<L> e = BitLength(m >> 1);
        const Lane<L> dl = (e << 7) + (SarV(m << 7, e) & 127);
        const Lane<L> slot = Clamp(dl - y2 + g726::kDlnOffset, 0, g726::kDlnSpan - 1);
        entry = Gather(T::kQuantizer.data(), slot);
        const Lane<L> index = entry & kEntryIndexMask;
        if constexpr (Bits == 2)
            negative = ds;
        else
            negative = ds | Eq(index, 0); // magnitude 0 is coded as all ones
        code = Select(negative, kAll - index, index);
    } else {
        code = value & kAll;
        entry = Gather(T::kByCode.data(), code);
        negative = Gt(code, kAll >> 1);
    }

    // 4. Inverse quantizer.
    const Lane<L> dql = (entry >> kEntryDqlnShift) + y2;
    const Lane<L> dex = (dql >> 7) & 15;
    const Lane<L> dqt = (dql & 127) + 128;
    const Lane<L> mag = AndNot(dql >> 31, SarV(dqt << 7, (14 - dex) & 31));

    // 5. Transition detector, with the previous td and yl.
    const Lane<L> ylint = s.yl >> 15;
    const Lane<L> ylfrac = (s.yl >> 10) & 31;
    const Lane<L> thr = Select(Gt(ylint, 9), Splat<L>(31 << 10), ShlV(ylfrac + 32, ylint & 31));
    const Lane<L> dqthr = (thr + (thr >> 1)) >> 1;
    const Lane<L> tr = AndNot(Eq(s.td, 0), Gt(mag, dqthr));

    // 6. Reconstruction and predictor update.
    const Lane<L> dqs = (mag ^ negative) - negative;
    const Lane<L> dqsez = sez + dqs;
    const Lane<L> pk0 = dqsez >> 15;
    const Lane<L> sigpk = Eq(dqsez, 0);
    const Lane<L> sr = se + dqs;
    const Lane<L> srNegative = (sr << 16) >> 31; // bit 15 of sr
    const Lane<L> srMag = (sr ^ srNegative) - srNegative;
    Lane<L> sr1 = FloatOf15(srNegative & 1, srMag);
    if (__builtin_expect(Any(Shr(srMag, 15)), 0))
        sr1 = FloatOfAny(srNegative & 1, srMag);
    const Lane<L> dq0 = FloatOf15(negative & 1, mag);

    // UPB: +-128 by the agreement of the signs, 0 for a zero difference.
    const Lane<L> step = AndNot(Eq(mag, 0), 128);
    for (int i = 0; i < 6; ++i) {
        const Lane<L> differ = ((s.dq[i] << 21) ^ negative) >> 31;
        s.b[i] = AndNot(tr, s.b[i] - (s.b[i] >> kUpbShift) + ((step ^ differ) - differ));
    }
    // UPA2, LIMC, UPA1, LIMD.
    const Lane<L> fa1 = Clamp(s.a1, -8191, 8191) << 2;
    const Lane<L> same1 = Eq(pk0, s.pk1);
    const Lane<L> fa = (fa1 ^ same1) - same1;
    const Lane<L> g = AndNot(sigpk, (Select(Eq(pk0, s.pk2), Splat<L>(16384), Splat<L>(-16384)) + fa) >> 7);
    const Lane<L> a2p = AndNot(tr, Clamp(s.a2 - (s.a2 >> 7) + g, -12288, 12288));
    const Lane<L> h = AndNot(sigpk, Select(same1, Splat<L>(192), Splat<L>(-192)));
    s.a1 = AndNot(tr, Min(Max(s.a1 - (s.a1 >> 8) + h, a2p - 15360), 15360 - a2p));
    s.a2 = a2p;
    s.pk2 = s.pk1;
    s.pk1 = pk0;
    s.sr[1] = s.sr[0];
    s.sr[0] = sr1;
    for (int i = 5; i > 0; --i)
        s.dq[i] = s.dq[i - 1];
    s.dq[0] = dq0;

    // 7. Tone detector.
    const Lane<L> tdp = AndNot(tr, Gt(Splat<L>(-11776), a2p));
    s.td = tdp & 1;

    // 8. Adaptation speed control.
    const Lane<L> f = (entry >> kEntryFShift) & kEntryFMask;
    s.dms += ((f << 9) - s.dms) >> 5;
    s.dml += ((f << 11) - s.dml) >> 7;
    const Lane<L> spread = Abs((s.dms << 2) - s.dml);
    const Lane<L> steady = AndNot(tdp, Gt(y, 1535) & Gt(s.dml >> 3, spread));
    const Lane<L> ax = AndNot(steady, 512);
    s.ap = Select(tr, Splat<L>(256), s.ap + ((ax - s.ap) >> 4));

    // 9. Scale factor adaptation.
    const Lane<L> w = (entry << (32 - kEntryWShift - kEntryFieldBits)) >> (32 - kEntryFieldBits);
    s.yu = Clamp(y + (((w << 5) - y) >> 5), g726::kYuMin, g726::kYuMax);
    s.yl += ((s.yu << 6) - s.yl) >> 6;

    if constexpr (Encode)
        return code;
    else
        return Clamp(sr, -8192, 8191) << 2;
}

// A lane-interleaved block: row t holds sample (or code) t of every lane.
struct alignas(64) LaneBlock {
    int32_t values[(kMaxSamples + 1) * kMaxLanes];
};

template <class L, int Bits>
void G726EncodeLanes(G726State *const *states, const int16_t *const *samples, uint8_t *const *payloads, int n)
{
    constexpr int W = L::kWidth;
    LaneBlock block;
    for (int l = 0; l < W; ++l)
        for (int t = 0; t < n; ++t)
            block.values[t * W + l] = samples[l][t];
    G726Lanes<L> s = LoadG726<L>(states);
    for (int t = 0; t < n; ++t)
        StoreLane<L>(block.values + t * W, G726Step<L, Bits, true>(s, LoadLane<L>(block.values + t * W)));
    SaveG726<L>(s, states);
    // Eight codes of Bits bits are Bits whole bytes; the payloads are clear, so codes are OR-ed in.
    for (int l = 0; l < W; ++l) {
        uint8_t *out = payloads[l];
        int t = 0;
        for (; t + kCodesPerGroup <= n; t += kCodesPerGroup, out += Bits) {
            uint64_t group = 0;
            for (int j = 0; j < kCodesPerGroup; ++j)
                group |= static_cast<uint64_t>(block.values[(t + j) * W + l]) << (j * Bits);
            for (int k = 0; k < Bits; ++k)
                out[k] = static_cast<uint8_t>(group >> (8 * k));
        }
        uint64_t group = 0;
        int used = 0;
        for (; t < n; ++t, used += Bits)
            group |= static_cast<uint64_t>(block.values[t * W + l]) << used;
        for (int k = 0; k * 8 < used; ++k)
            out[k] = static_cast<uint8_t>(group >> (8 * k));
    }
}

template <class L, int Bits>
void G726DecodeLanes(G726State *const *states, const uint8_t *const *payloads, int16_t *const *samples, int nbytes)
{
    constexpr int W = L::kWidth;
    constexpr uint32_t kMask = (1u << Bits) - 1;
    const int codes = 8 * nbytes / Bits;
    LaneBlock block;
    for (int l = 0; l < W; ++l) {
        const uint8_t *in = payloads[l];
        int t = 0;
        for (; t + kCodesPerGroup <= codes; t += kCodesPerGroup, in += Bits) {
            uint64_t group = 0;
            for (int k = 0; k < Bits; ++k)
                group |= static_cast<uint64_t>(in[k]) << (8 * k);
            for (int j = 0; j < kCodesPerGroup; ++j)
                block.values[(t + j) * W + l] = static_cast<int32_t>((group >> (j * Bits)) & kMask);
        }
        if (t < codes) {
            // Only the bytes that are left are read.
            const int left = nbytes - (t / kCodesPerGroup) * Bits;
            uint64_t group = 0;
            for (int k = 0; k < left; ++k)
                group |= static_cast<uint64_t>(in[k]) << (8 * k);
            for (int j = 0; t < codes; ++t, ++j)
                block.values[t * W + l] = static_cast<int32_t>((group >> (j * Bits)) & kMask);
        }
    }
    G726Lanes<L> s = LoadG726<L>(states);
    for (int t = 0; t < codes; ++t)
        StoreLane<L>(block.values + t * W, G726Step<L, Bits, false>(s, LoadLane<L>(block.values + t * W)));
    SaveG726<L>(s, states);
    for (int l = 0; l < W; ++l)
        for (int t = 0; t < codes; ++t)
            samples[l][t] = static_cast<int16_t>(block.values[t * W + l]);
}

// ---- IMA ADPCM ----

template <class L>
inline void LoadAdpcm(AdpcmState *const *states, Lane<L> &predicted, Lane<L> &index)
{
    alignas(32) int32_t p[kMaxLanes];
    alignas(32) int32_t i[kMaxLanes];
    for (int l = 0; l < L::kWidth; ++l) {
        p[l] = states[l]->predicted;
        i[l] = states[l]->step_index > kImaMaxIndex ? kImaMaxIndex : states[l]->step_index;
    }
    predicted = LoadLane<L>(p);
    index = LoadLane<L>(i);
}

template <class L>
inline void SaveAdpcm(AdpcmState *const *states, Lane<L> predicted, Lane<L> index)
{
    alignas(32) int32_t p[kMaxLanes];
    alignas(32) int32_t i[kMaxLanes];
    StoreLane<L>(p, predicted);
    StoreLane<L>(i, index);
    for (int l = 0; l < L::kWidth; ++l) {
        states[l]->predicted = static_cast<int16_t>(p[l]);
        states[l]->step_index = static_cast<uint8_t>(i[l]);
    }
}

// The textbook IMA ADPCM encoder step on every lane; returns the 4-bit codes.
template <class L>
inline Lane<L> AdpcmEncodeStep(Lane<L> sample, Lane<L> &predicted, Lane<L> &index)
{
    const Lane<L> step = Gather(ImaLaneTables::kSteps.data(), index);
    const Lane<L> d = sample - predicted;
    const Lane<L> negative = d >> 31;
    const Lane<L> d4 = Abs(d);
    // A magnitude bit is set where the step fraction is not above what is left of |d|.
    const Lane<L> below4 = Gt(step, d4);
    const Lane<L> half = step >> 1;
    const Lane<L> d2 = d4 - AndNot(below4, step);
    const Lane<L> below2 = Gt(half, d2);
    const Lane<L> quarter = half >> 1;
    const Lane<L> d1 = d2 - AndNot(below2, half);
    const Lane<L> below1 = Gt(quarter, d1);
    const Lane<L> delta = (step >> 3) + AndNot(below4, step) + AndNot(below2, half) + AndNot(below1, quarter);
    const Lane<L> magnitude = AndNot(below4, 4) | AndNot(below2, 2) | AndNot(below1, 1);
    predicted = Clamp(predicted + NegateWhereNegative(delta, negative), -32768, 32767);
    index = Clamp(index + Gather(ImaLaneTables::kIndexSteps.data(), magnitude), 0, kImaMaxIndex);
    return magnitude | (negative & kImaSignBit);
}

template <class L>
void AdpcmEncodeLanes(AdpcmState *const *states, const int16_t *const *samples, uint8_t *const *codes, int n)
{
    constexpr int W = L::kWidth;
    if (n <= 0)
        return;
    LaneBlock block;
    for (int l = 0; l < W; ++l)
        for (int t = 0; t < n; ++t)
            block.values[t * W + l] = samples[l][t];
    Lane<L> predicted, index;
    LoadAdpcm<L>(states, predicted, index);
    for (int t = 0; t < n; ++t)
        StoreLane<L>(block.values + t * W, AdpcmEncodeStep<L>(LoadLane<L>(block.values + t * W), predicted, index));
    SaveAdpcm<L>(states, predicted, index);
    // Codes pair up in order, the first of a pair in the high nibble; an unpaired last code only
    // moved the state on.
    for (int l = 0; l < W; ++l)
        for (int t = 0; t + 1 < n; t += 2)
            codes[l][t >> 1] = static_cast<uint8_t>((block.values[t * W + l] << 4) | block.values[(t + 1) * W + l]);
}

template <class L, bool HighFirst>
void AdpcmDecodeLanes(AdpcmState *const *states, const uint8_t *const *codes, int16_t *const *samples, int n)
{
    constexpr int W = L::kWidth;
    if (n <= 0)
        return;
    constexpr int kFirstShift = HighFirst ? 4 : 0;
    constexpr int kSecondShift = HighFirst ? 0 : 4;
    LaneBlock block;
    for (int l = 0; l < W; ++l)
        for (int t = 0; t < n; ++t)
            block.values[t * W + l] = (codes[l][t >> 1] >> ((t & 1) ? kSecondShift : kFirstShift)) & 0xF;
    Lane<L> predicted, index;
    LoadAdpcm<L>(states, predicted, index);
    for (int t = 0; t < n; ++t) {
        const Lane<L> code = LoadLane<L>(block.values + t * W);
        const Lane<L> delta = Gather(ImaLaneTables::kSignedDifferences.data(), (index << 4) | code);
        predicted = Clamp(predicted + delta, -32768, 32767);
        index = Clamp(index + Gather(ImaLaneTables::kIndexSteps.data(), code), 0, kImaMaxIndex);
        StoreLane<L>(block.values + t * W, predicted);
    }
    SaveAdpcm<L>(states, predicted, index);
    for (int l = 0; l < W; ++l)
        for (int t = 0; t < n; ++t)
            samples[l][t] = static_cast<int16_t>(block.values[t * W + l]);
}

// The kernel table of one lane-operation set.
template <class L>
constexpr Kernels MakeKernels()
{
    return Kernels{L::kWidth,
                   {G726EncodeLanes<L, 2>, G726EncodeLanes<L, 3>, G726EncodeLanes<L, 4>, G726EncodeLanes<L, 5>},
                   {G726DecodeLanes<L, 2>, G726DecodeLanes<L, 3>, G726DecodeLanes<L, 4>, G726DecodeLanes<L, 5>},
                   AdpcmEncodeLanes<L>,
                   AdpcmDecodeLanes<L, true>,
                   AdpcmDecodeLanes<L, false>};
}

} // namespace
} // namespace orvo::voice::batch
