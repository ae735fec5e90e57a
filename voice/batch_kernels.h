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
#include <cstring>
#include <type_traits>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/batch.h"
#include "voice/frame.h"
#include "voice/g726_kernel.h"
#include "voice/g726_tables.h"

// How the functions that pass lanes by value are inlined. A file whose instruction set is
// switched on by a target pragma defines it as always-inline first: a vector crossing a call
// there would need that instruction set's calling convention at both ends.
#ifndef ORVO_LANE_INLINE
#define ORVO_LANE_INLINE inline
#endif

namespace orvo::voice::batch {

// ---- Tables: one load per sample gives everything the G.726 step needs from the quantizer ----

// An entry packs DQLN (12 bits, signed) above W(I) x 32 (17 bits, signed), both as the step
// uses them.
inline constexpr int kEntryDqlnShift = 20;
inline constexpr int kEntryScaleBits = 17;
inline constexpr int kCodesPerGroup = 8; // eight G.726 codes of b bits are b whole bytes

constexpr int32_t PackEntry(int32_t dqln, int32_t w)
{
    return static_cast<int32_t>((static_cast<uint32_t>(dqln) << kEntryDqlnShift) |
                                (static_cast<uint32_t>(w * 32) & ((1u << kEntryScaleBits) - 1)));
}

// The targets the two speed averages move toward, F(I) << 9 for DMS and F(I) << 11 for DML, as
// the 16-bit halves the averages are kept in (G726Lanes::dmsl).
constexpr int32_t PackSpeedTargets(int32_t f) { return (f << 9) | (f << 11) << 16; }

// By magnitude index, repeated up to a whole number of eight-entry rows: a lookup reads only the
// low three bits of its index (and a fourth picks the row), so the decoder can index by the code
// with its sign bits flipped (which leaves the magnitude index in the low bits) without masking.
inline constexpr int kEntryRow = 8;

template <int Bits>
inline constexpr int kMagnitudes = 1 << (Bits - 1);

template <int Bits>
inline constexpr std::size_t kLaneTableSize = kMagnitudes<Bits> > kEntryRow ? kMagnitudes<Bits> : kEntryRow;

template <int Bits, bool Speed>
constexpr std::array<int32_t, kLaneTableSize<Bits>> MakeLaneTable()
{
    std::array<int32_t, kLaneTableSize<Bits>> table{};
    const g726::RateTable &t = g726::TableFor(Bits);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::size_t index = i % static_cast<std::size_t>(kMagnitudes<Bits>);
        table[i] = Speed ? PackSpeedTargets(t.f[index]) : PackEntry(t.dqln[index], t.w[index]);
    }
    return table;
}

// DQL = DQLN + (y >> 2) stays below 2048 (y is at most kYuMax), so its exponent is at most 15 and
// the inverse quantizer can build DQ as a float from DQL's bits.
template <int Bits>
constexpr bool DqlBelow2048()
{
    for (int i = 0; i < kMagnitudes<Bits>; ++i)
        if (g726::TableFor(Bits).dqln[i] + (g726::kYuMax >> 2) >= 2048)
            return false;
    return true;
}
static_assert(DqlBelow2048<2>() && DqlBelow2048<3>() && DqlBelow2048<4>() && DqlBelow2048<5>(),
              "DQL stays below 2048");

// The bits of a positive float shifted so that its exponent stands above its top seven mantissa
// bits; the exponent bias in those units.
inline constexpr int kFloatMantissaTop7 = 16;
inline constexpr int32_t kDlFloatBias = 127 << 7;

// The quantizer as comparisons: the encoder kernel's dl - (y >> 2) against the last value below
// each step of g726::QuantizerTable, whose magnitude index never falls as the slot rises. Its
// index is the lowest slot's plus the number of steps passed; below the table's span it is the
// lowest slot's and above it the highest one's, as the clamped slot gives. No table load stands
// in the chain from one sample to the next.
template <int Bits>
constexpr int32_t SlotIndex(int slot)
{
    return g726::QuantizerTable<Bits>::kEntries[static_cast<std::size_t>(slot)] & g726::kQuantizerIndexMask;
}

template <int Bits>
constexpr bool IndexRisesWithSlot()
{
    for (int slot = 1; slot < g726::kDlnSpan; ++slot)
        if (SlotIndex<Bits>(slot) < SlotIndex<Bits>(slot - 1))
            return false;
    return true;
}
static_assert(IndexRisesWithSlot<2>() && IndexRisesWithSlot<3>() && IndexRisesWithSlot<4>() &&
                  IndexRisesWithSlot<5>(),
              "the quantizer's magnitude index never falls as the slot rises");

template <int Bits>
struct QuantizerSteps {
    static constexpr int32_t kLowest = SlotIndex<Bits>(0);
    static constexpr int kCount = SlotIndex<Bits>(g726::kDlnSpan - 1) - kLowest;
    // Row k: the highest dl - (y >> 2) still below the step to index kLowest + k + 1.
    struct alignas(32) Rows {
        int32_t rows[kCount][kMaxLanes];
    };
    static constexpr Rows Make()
    {
        Rows r{};
        int k = 0;
        for (int slot = 1; slot < g726::kDlnSpan; ++slot)
            for (int32_t i = SlotIndex<Bits>(slot - 1); i < SlotIndex<Bits>(slot); ++i, ++k)
                for (int l = 0; l < kMaxLanes; ++l)
                    r.rows[k][l] = slot - 1 - (g726::kDlnOffset - kDlFloatBias);
        return r;
    }
    static constexpr Rows kRows = Make();
};

// A zero difference falls in the lowest slot in the encoder kernel, where the scalar coder has
// dl = 0, that is slot kDlnOffset - (y >> 2) with y >> 2 at least kYuMin >> 2: every slot up to
// that one holds the lowest slot's entry.
template <int Bits>
constexpr bool ZeroQuantizesLowest()
{
    const auto &entries = g726::QuantizerTable<Bits>::kEntries;
    for (int i = 0; i <= g726::kDlnOffset - (g726::kYuMin >> 2); ++i)
        if (entries[static_cast<std::size_t>(i)] != entries[0])
            return false;
    return true;
}
static_assert(ZeroQuantizesLowest<2>() && ZeroQuantizesLowest<3>() && ZeroQuantizesLowest<4>() &&
                  ZeroQuantizesLowest<5>(),
              "a zero difference quantizes as the lowest slot");

template <int Bits>
struct G726LaneTables {
    static constexpr auto kByIndex = MakeLaneTable<Bits, false>();
    static constexpr auto kSpeedTargets = MakeLaneTable<Bits, true>();
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

// The index step depends on the code's magnitude alone, so an eight-entry table serves all codes.
constexpr bool IndexStepIgnoresSign()
{
    for (int code = 0; code < kImaCodes; ++code)
        if (ImaIndexTable[static_cast<std::size_t>(code)] != ImaIndexTable[static_cast<std::size_t>(code & kImaMagnitudeMask)])
            return false;
    return true;
}
static_assert(IndexStepIgnoresSign(), "the index step ignores the sign");

struct ImaLaneTables {
    static constexpr std::array<int32_t, kImaStepCount> kSteps = MakeImaSteps();
    static constexpr std::array<int32_t, kImaStepCount * kImaCodes> kSignedDifferences = MakeImaSignedDifferences();
    static constexpr std::array<int32_t, kImaCodes> kIndexSteps = MakeImaIndexSteps();
};

// ---- Constants ----

// Every constant the kernels use, one row of lanes each, read as memory operands through a base
// address formed once per step (Launder): otherwise compilers rebuild them from immediates in
// every step, for want of registers.
inline constexpr int32_t kLaneConstantValues[] = {
    -16384, -12288, -11776, -8192, -8191, -192,  0,     1,     3,      7,       9,        15,
    30,     31,     32,     63,    64,    126,   128,   192,   256,    512,
    1024,   1535,   8191,   12288, 15360, 16384, 31744, 32767, -32768, 2,       4,        8,
    88,     544,    1280,  5120,  31 << 18, (32 << 18) | 48, 31 << 21, (32 << 21) | 128,
    ~(15 << 7), 127 << 23, 4 - 65536, 0xFFFF,
};
inline constexpr int kLaneConstantCount = sizeof kLaneConstantValues / sizeof kLaneConstantValues[0];

struct alignas(32) LaneConstantPool {
    int32_t rows[kLaneConstantCount][kMaxLanes];
};

constexpr LaneConstantPool MakeLaneConstantPool()
{
    LaneConstantPool pool{};
    for (int i = 0; i < kLaneConstantCount; ++i)
        for (int l = 0; l < kMaxLanes; ++l)
            pool.rows[i][l] = kLaneConstantValues[i];
    return pool;
}

inline constexpr LaneConstantPool kLaneConstants = MakeLaneConstantPool();

template <int32_t X>
constexpr int LaneConstantRow()
{
    for (int i = 0; i < kLaneConstantCount; ++i)
        if (kLaneConstantValues[i] == X)
            return i;
    return -1;
}

namespace {

template <typename T>
inline const T *Launder(const T *p)
{
    __asm__("" : "+r"(p));
    return p;
}

inline const int32_t *ConstantBase() { return Launder(&kLaneConstants.rows[0][0]); }

// The moves between the lane-interleaved block and each lane's own buffer, one value at a time, a
// few rows at a time: for the lane sets without a vector transpose (portable, NEON).
template <int Width>
struct ScalarTranspose {
    static constexpr int kTransposeRows = 4;
    static void ColumnsToRows(const int16_t *const *columns, int t, int32_t *rows)
    {
        for (int k = 0; k < kTransposeRows; ++k)
            for (int l = 0; l < Width; ++l)
                rows[k * Width + l] = columns[l][t + k];
    }
    static void RowsToColumns(const int32_t *rows, int t, int16_t *const *columns)
    {
        for (int l = 0; l < Width; ++l)
            for (int k = 0; k < kTransposeRows; ++k)
                columns[l][t + k] = static_cast<int16_t>(rows[k * Width + l]);
    }
};

// ---- Lane values with operators, over a lane-operation set L ----

template <class L>
struct Lane {
    typename L::V v;
};

template <class L> ORVO_LANE_INLINE Lane<L> operator+(Lane<L> a, Lane<L> b) { return {L::Add(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator-(Lane<L> a, Lane<L> b) { return {L::Sub(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator&(Lane<L> a, Lane<L> b) { return {L::And(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator|(Lane<L> a, Lane<L> b) { return {L::Or(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator^(Lane<L> a, Lane<L> b) { return {L::Xor(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator+(Lane<L> a, int32_t b) { return {L::Add(a.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator-(Lane<L> a, int32_t b) { return {L::Sub(a.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator-(int32_t a, Lane<L> b) { return {L::Sub(L::Splat(a), b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator&(Lane<L> a, int32_t b) { return {L::And(a.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator|(Lane<L> a, int32_t b) { return {L::Or(a.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator<<(Lane<L> a, int n) { return {L::Shl(a.v, n)}; }
template <class L> ORVO_LANE_INLINE Lane<L> operator>>(Lane<L> a, int n) { return {L::Sar(a.v, n)}; } // arithmetic
template <class L> ORVO_LANE_INLINE Lane<L> &operator+=(Lane<L> &a, Lane<L> b) { return a = a + b; }

template <class L> ORVO_LANE_INLINE Lane<L> Splat(int32_t x) { return {L::Splat(x)}; }
// Zero, which every instruction set makes without a load or a constant.
template <class L> ORVO_LANE_INLINE Lane<L> Zero() { return {L::Splat(0)}; }
template <class L> ORVO_LANE_INLINE Lane<L> LoadLane(const int32_t *p) { return {L::Load(p)}; }
template <class L> ORVO_LANE_INLINE void StoreLane(int32_t *p, Lane<L> a) { L::Store(p, a.v); }
template <class L> ORVO_LANE_INLINE Lane<L> Min(Lane<L> a, Lane<L> b) { return {L::Min(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Max(Lane<L> a, Lane<L> b) { return {L::Max(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Clamp(Lane<L> a, int32_t lo, int32_t hi) { return Min(Max(a, Splat<L>(lo)), Splat<L>(hi)); }
template <class L> ORVO_LANE_INLINE Lane<L> Gt(Lane<L> a, Lane<L> b) { return {L::Gt(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Gt(Lane<L> a, int32_t b) { return {L::Gt(a.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> Eq(Lane<L> a, Lane<L> b) { return {L::Eq(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Eq(Lane<L> a, int32_t b) { return {L::Eq(a.v, L::Splat(b))}; }
// mask ? a : b, lane by lane (mask lanes are 0 or -1).
template <class L> ORVO_LANE_INLINE Lane<L> Select(Lane<L> mask, Lane<L> a, Lane<L> b) { return {L::Select(mask.v, a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> AndNot(Lane<L> mask, Lane<L> b) { return {L::AndNot(mask.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> AndNot(Lane<L> mask, int32_t b) { return {L::AndNot(mask.v, L::Splat(b))}; }
template <class L> ORVO_LANE_INLINE Lane<L> Abs(Lane<L> a) { return {L::Abs(a.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Shr(Lane<L> a, int n) { return {L::Shr(a.v, n)}; }
template <class L> ORVO_LANE_INLINE Lane<L> ShlV(Lane<L> a, Lane<L> n) { return {L::ShlV(a.v, n.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> SarV(Lane<L> a, Lane<L> n) { return {L::SarV(a.v, n.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> MulLo(Lane<L> a, Lane<L> b) { return {L::MulLo(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> MulAddHalves(Lane<L> a, Lane<L> b) { return {L::MulAddHalves(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> Gather(const int32_t *table, Lane<L> index) { return {L::Gather(table, index.v)}; }
template <class L> ORVO_LANE_INLINE bool Any(Lane<L> a) { return L::Any(a.v); }
template <class L> ORVO_LANE_INLINE bool AnyAnd(Lane<L> a, Lane<L> b) { return L::AnyAnd(a.v, b.v); }
template <class L> ORVO_LANE_INLINE Lane<L> SubLength(Lane<L> x, Lane<L> length) { return {L::SubLength(x.v, length.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> TruncateFloat(Lane<L> bits) { return {L::TruncateFloat(bits.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> AddHalves(Lane<L> a, Lane<L> b) { return {L::AddHalves(a.v, b.v)}; }
template <class L> ORVO_LANE_INLINE Lane<L> SubHalves(Lane<L> a, Lane<L> b) { return {L::SubHalves(a.v, b.v)}; }
template <int Lo, int Hi, class L> ORVO_LANE_INLINE Lane<L> SarHalves(Lane<L> a) { return {L::template SarHalves<Lo, Hi>(a.v)}; }
// The constant X in every lane, from the pool at `base` (ConstantBase).
template <int32_t X, class L>
ORVO_LANE_INLINE Lane<L> K(const int32_t *base)
{
    static_assert(LaneConstantRow<X>() >= 0, "every lane constant is in kLaneConstantValues");
    return LoadLane<L>(base + LaneConstantRow<X>() * kMaxLanes);
}


// ---- G.726 ----

// A past value (DQ1..DQ6, SR1, SR2) as FMULT reads it: the shift 30 - exponent, the mantissa at
// bit 21 with 128 below it (kPastMantissaShift: with the coefficient's mantissa at bit 18 and 48
// below it, one multiply-add of 16-bit halves gives 128 x (product + FMULT's rounding 48), already
// at the scale of FMULT's final shift), and the sign as bit 31 with bit 0 set. A coefficient's
// sign as LengthAndTop6 gives it has bit 0 clear, so the two XOR-ed have the product's sign in
// bit 31 and are never zero: they can go straight to an instruction that negates by the sign of
// its operand and zeroes where that operand is zero.
template <class L>
struct PastValue {
    Lane<L> shift, mant, sign;
};

// What a step leaves for the steps after it: its DQ and SR as FMULT reads them, SR in the
// floating format as the record holds it where that cannot be joined back from FMULT's form,
// and the sign of its partial signal estimate.
template <class L>
struct G726Past {
    PastValue<L> dq, sr;
    Lane<L> srRaw, pk; // srRaw only where G726Lanes::rawKept says so
};

// The past of the coder as a sliding window over a short buffer: the step of window w reads DQ(i+1)
// at w[5 - i], SR(j+1) and pk(j+1) at w[5 - j], and writes its own values at w[6]; the next step
// takes the window one further on. When the buffer is used up, its last six entries go back to the
// start. One step body serves every row: the rings are never rotated and never unrolled.
inline constexpr int kG726Order = 6;
inline constexpr int kG726HistoryRows = 58; // steps between two moves of the window
inline constexpr int kG726History = kG726Order + kG726HistoryRows;

// td is held as a mask (0 or -1), which the transition detector applies as it stands.
// DMS and DML are held as the 16-bit halves of one lane (dmsl: DMS low, DML high), which one
// operation each moves together; both stay within 0..14336.
template <class L>
struct G726Lanes {
    Lane<L> a1, a2, ap, dmsl, td, yl, yu;
    Lane<L> b[kG726Order];
    // Bit k: the SR of the step k steps back is held in the record's format (srRaw), as it came
    // from the record or from the rare wide magnitudes. Elsewhere it is JoinFloat of FMULT's
    // form, formed only when the record is saved.
    uint32_t rawKept;
};

template <class L>
ORVO_LANE_INLINE Lane<L> LoadField(G726State *const *states, int32_t G726State::*field)
{
    alignas(32) int32_t values[kMaxLanes];
    for (int l = 0; l < L::kWidth; ++l)
        values[l] = states[l]->*field;
    return LoadLane<L>(values);
}

template <class L>
ORVO_LANE_INLINE void StoreField(G726State *const *states, int32_t G726State::*field, Lane<L> lane)
{
    alignas(32) int32_t values[kMaxLanes];
    StoreLane<L>(values, lane);
    for (int l = 0; l < L::kWidth; ++l)
        states[l]->*field = values[l];
}

// The fields of G726Lanes, in its order (format and bits never change).
#define ORVO_BATCH_G726_FIELDS(X)                                                                  \
    X(a1, a1) X(a2, a2) X(ap, ap) X(yl, yl) X(yu, yu) X(b[0], b1) X(b[1], b2)                     \
    X(b[2], b3) X(b[3], b4) X(b[4], b5) X(b[5], b6)

inline constexpr int kPastMantissaShift = 21;
inline constexpr int32_t kPastMantissaLow = 128;
inline constexpr int kCoefficientMantissaShift = 18; // where a float's top mantissa bits stand
inline constexpr int32_t kCoefficientRounding = 48;

template <class L>
ORVO_LANE_INLINE PastValue<L> SplitFloat(Lane<L> raw, const int32_t *c)
{
    return {K<30, L>(c) - ((raw >> 6) & K<15, L>(c)),
            ((raw & K<63, L>(c)) << kPastMantissaShift) | K<kPastMantissaLow, L>(c),
            ((raw << 21) >> 31) | K<1, L>(c)};
}

template <class L>
ORVO_LANE_INLINE Lane<L> JoinFloat(const PastValue<L> &p, const int32_t *c)
{
    return (Shr(p.sign, 31) << 10) + ((K<30, L>(c) - p.shift) << 6) + Shr(p.mant, kPastMantissaShift);
}

int32_t G726State::*const kDqFields[kG726Order] = {&G726State::dq1, &G726State::dq2, &G726State::dq3,
                                                   &G726State::dq4, &G726State::dq5, &G726State::dq6};
int32_t G726State::*const kSrFields[2] = {&G726State::sr1, &G726State::sr2};
int32_t G726State::*const kPkFields[2] = {&G726State::pk1, &G726State::pk2};

// Loads the record into s and the first window of `past` (past[0..5]).
template <class L>
ORVO_LANE_INLINE void LoadG726(G726State *const *states, G726Lanes<L> &s, G726Past<L> *past)
{
    const int32_t *c = ConstantBase();
#define ORVO_BATCH_LOAD(lane, field) s.lane = LoadField<L>(states, &G726State::field);
    ORVO_BATCH_G726_FIELDS(ORVO_BATCH_LOAD)
#undef ORVO_BATCH_LOAD
    s.dmsl = LoadField<L>(states, &G726State::dms) | (LoadField<L>(states, &G726State::dml) << 16);
    s.rawKept = 3; // SR1 and SR2 as the record holds them
    const Lane<L> td = LoadField<L>(states, &G726State::td);
    s.td = Eq(Eq(td, Zero<L>()), Zero<L>());
    for (int k = 0; k < kG726Order; ++k)
        past[k] = G726Past<L>{};
    G726Past<L> *w = past;
    for (int i = 0; i < kG726Order; ++i)
        w[kG726Order - 1 - i].dq = SplitFloat<L>(LoadField<L>(states, kDqFields[i]), c);
    for (int j = 0; j < 2; ++j) {
        G726Past<L> &at = w[kG726Order - 1 - j];
        at.srRaw = LoadField<L>(states, kSrFields[j]);
        at.sr = SplitFloat<L>(at.srRaw, c);
        at.pk = LoadField<L>(states, kPkFields[j]);
    }
}

// Stores s and the window w into the record.
template <class L>
ORVO_LANE_INLINE void SaveG726(const G726Lanes<L> &s, const G726Past<L> *w, G726State *const *states)
{
    const int32_t *c = ConstantBase();
#define ORVO_BATCH_SAVE(lane, field) StoreField<L>(states, &G726State::field, s.lane);
    ORVO_BATCH_G726_FIELDS(ORVO_BATCH_SAVE)
#undef ORVO_BATCH_SAVE
    StoreField<L>(states, &G726State::dms, s.dmsl & K<0xFFFF, L>(c));
    StoreField<L>(states, &G726State::dml, Shr(s.dmsl, 16));
    StoreField<L>(states, &G726State::td, s.td & K<1, L>(c));
    // Every DQ is the floating form of a magnitude below 2^15: eleven bits, joined back exactly.
    for (int i = 0; i < kG726Order; ++i)
        StoreField<L>(states, kDqFields[i], JoinFloat<L>(w[kG726Order - 1 - i].dq, c));
    for (int j = 0; j < 2; ++j) {
        const G726Past<L> &at = w[kG726Order - 1 - j];
        StoreField<L>(states, kSrFields[j], (s.rawKept >> j) & 1 ? at.srRaw : JoinFloat<L>(at.sr, c));
        StoreField<L>(states, kPkFields[j], w[kG726Order - 1 - j].pk);
    }
}

// FMULT of g726::Fmult, lane by lane. Coefficients stay within +-2^15, so the coefficient's
// magnitude is below 2^13 (its float conversion exact) and the exponent sum at most 29.
template <class L>
ORVO_LANE_INLINE Lane<L> Fmult(Lane<L> an, const PastValue<L> &p, const int32_t *c)
{
    Lane<L> anExp, anMant, anSign;
    L::template LengthAndTop6<kCoefficientMantissaShift>(
        (an >> 2).v, K<126, L>(c).v, K<(31 << kCoefficientMantissaShift), L>(c).v,
        K<(32 << kCoefficientMantissaShift) | kCoefficientRounding, L>(c).v, anExp.v, anMant.v, anSign.v);
    // 128 x (product + 48), less the four bits FMULT drops: its mantissa times 2^11, so one
    // arithmetic shift by 30 - exponent ends FMULT.
    const Lane<L> mant = MulAddHalves(p.mant, anMant) & K<~(15 << 7), L>(c);
    const Lane<L> mag = SarV(mant, SubLength(p.shift, anExp)) & K<g726::kDqMagnitudeMask, L>(c);
    return {L::ApplySign(mag.v, (p.sign ^ anSign).v)}; // the sign of srn against the sign of an
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
ORVO_LANE_INLINE Lane<L> FloatOfAny(Lane<L> sign, Lane<L> m)
{
    alignas(32) int32_t signs[kMaxLanes];
    alignas(32) int32_t mags[kMaxLanes];
    StoreLane<L>(signs, sign);
    StoreLane<L>(mags, m);
    FloatOfAnyLanes(signs, mags, signs, L::kWidth);
    return LoadLane<L>(signs);
}

// The magnitude index of dl - (y >> 2) (QuantizerSteps): the passed steps' masks summed.
template <class L, int Bits>
ORVO_LANE_INLINE Lane<L> QuantizeIndex(Lane<L> dly)
{
    using Q = QuantizerSteps<Bits>;
    const int32_t *rows = Launder(&Q::kRows.rows[0][0]);
    // Two running sums keep few registers live and the chain short.
    Lane<L> even = Gt(dly, LoadLane<L>(rows));
    Lane<L> odd = even ^ even;
    for (int k = 1; k < Q::kCount; ++k) {
        const Lane<L> passed = Gt(dly, LoadLane<L>(rows + k * kMaxLanes));
        if (k % 2)
            odd = odd + passed;
        else
            even = even + passed;
    }
    return Q::kLowest - (even + odd); // each passed step is -1
}

// Lookups by a magnitude index held in the low Bits - 1 bits of `index`: which eight-entry row
// it reads is found once for all the tables.
template <class L, int Bits>
struct MagnitudeLookup {
    Lane<L> index, upperRow;
    ORVO_LANE_INLINE MagnitudeLookup(Lane<L> i, const int32_t *c) : index(i)
    {
        if constexpr (kMagnitudes<Bits> > kEntryRow)
            upperRow = Gt(i & K<15, L>(c), K<7, L>(c));
    }
    ORVO_LANE_INLINE Lane<L> operator()(const std::array<int32_t, kLaneTableSize<Bits>> &table) const
    {
        const Lane<L> low = {L::Lookup8(table.data(), index.v)};
        if constexpr (kMagnitudes<Bits> <= kEntryRow)
            return low;
        else
            return Select(upperRow, Lane<L>{L::Lookup8(table.data() + kEntryRow, index.v)}, low);
    }
};

// What a code's magnitude index and sign give the rest of the step: its table entry and speed
// targets, DQ's magnitude and UPB's step with DQ's sign.
template <class L>
struct Dequantized {
    Lane<L> entry, speed, mag, signedStep;
};

// The inverse quantizer, from the magnitude index in the low bits of `index`, the sign of DQ as a
// mask and y >> 2. UPB's step is 128, or 0 for a zero magnitude, which is exactly a negative DQL
// (a DQL of 0 gives 1), so the step does not wait for the magnitude. (128 + the low seven bits of
// DQL) << 7 >> (14 - DQL >> 7) is the integer part of the float with DQL's eleven bits as its
// exponent and top mantissa bits.
template <class L, int Bits>
ORVO_LANE_INLINE Dequantized<L> InverseQuantize(Lane<L> index, Lane<L> negative, Lane<L> y2, const int32_t *c)
{
    const MagnitudeLookup<L, Bits> lookup(index, c);
    const Lane<L> entry = lookup(G726LaneTables<Bits>::kByIndex);
    const Lane<L> dql = (entry >> kEntryDqlnShift) + y2;
    const Lane<L> zero = dql >> 31;
    const Lane<L> step = AndNot(zero, K<128, L>(c));
    return {entry, lookup(G726LaneTables<Bits>::kSpeedTargets),
            TruncateFloat(AndNot(zero, (dql << 16) + K<(127 << 23), L>(c))), (step ^ negative) - negative};
}

// UPB: the coefficient leaks and moves by the step, up where the signs of the new DQ and the
// past one agree and down where they differ. signedStep is the step with the new DQ's sign.
template <class L, int Shift>
ORVO_LANE_INLINE Lane<L> UpdateB(Lane<L> b, const PastValue<L> &past, Lane<L> signedStep)
{
    return b - (b >> Shift) + Lane<L>{L::ApplySign(signedStep.v, past.sign.v)};
}

// The scale factor y: al = 64 above ap = 256, else ap >> 2 (then at most 64).
template <class L>
ORVO_LANE_INLINE Lane<L> ScaleFactor(const G726Lanes<L> &s, const int32_t *c)
{
    const Lane<L> al = Min(s.ap >> 2, K<64, L>(c));
    const Lane<L> yl6 = s.yl >> 6;
    const Lane<L> prod = MulLo(s.yu - yl6, al);
    // prod / 64, toward zero (where prod is 0, so is the magnitude the sign is applied to)
    return yl6 + Lane<L>{L::ApplySign((Abs(prod) >> 6).v, prod.v)};
}

// A value as the later steps' FMULT reads it; `sign` is the value's sign as LengthAndTop6 gives
// it, or the sign to give a magnitude.
template <class L>
ORVO_LANE_INLINE PastValue<L> Past(Lane<L> value, const Lane<L> *sign, const int32_t *c)
{
    Lane<L> exp, mant, own;
    L::template LengthAndTop6<kPastMantissaShift>(
        value.v, K<126, L>(c).v, K<(31 << kPastMantissaShift), L>(c).v,
        K<(32 << kPastMantissaShift) | kPastMantissaLow, L>(c).v, exp.v, mant.v, own.v);
    return {SubLength(K<30, L>(c), exp), mant, (sign ? *sign : own) | K<1, L>(c)};
}

// SR into `next` as the later steps' FMULT reads it.
template <class L>
ORVO_LANE_INLINE void SrPast(G726Lanes<L> &s, G726Past<L> &next, Lane<L> sr, const int32_t *c)
{
    // Within 15 bits, SR's own sign and magnitude are what the floating format takes.
    next.sr = Past<L>(sr, nullptr, c);
    s.rawKept <<= 1;
    if (__builtin_expect(AnyAnd(Abs(sr), K<-32768, L>(c)), 0)) {
        // Beyond: the format's sign is bit 15 of SR, as g726::Step takes it.
        const Lane<L> bit15 = (sr << 16) >> 31;
        next.srRaw = FloatOfAny(bit15 & K<1, L>(c), (sr ^ bit15) - bit15);
        next.sr = SplitFloat<L>(next.srRaw, c);
        s.rawKept |= 1;
    }
}

// UPA2, LIMC, UPA1, LIMD, from the signs of this step's and the two previous partial estimates.
template <class L>
ORVO_LANE_INLINE void UpdateA(G726Lanes<L> &s, Lane<L> pk0, Lane<L> pk1, Lane<L> pk2, Lane<L> sigpk,
                              const int32_t *c)
{
    const Lane<L> fa1 = Min(Max(s.a1, K<-8191, L>(c)), K<8191, L>(c)) << 2;
    const Lane<L> same1 = Eq(pk0, pk1);
    const Lane<L> fa = (fa1 ^ same1) - same1;
    const Lane<L> g = AndNot(sigpk, (Select(Eq(pk0, pk2), K<16384, L>(c), K<-16384, L>(c)) + fa) >> 7);
    s.a2 = Min(Max(s.a2 - (s.a2 >> 7) + g, K<-12288, L>(c)), K<12288, L>(c));
    const Lane<L> h = AndNot(sigpk, Select(same1, K<192, L>(c), K<-192, L>(c)));
    s.a1 = Min(Max(s.a1 - (s.a1 >> 8) + h, s.a2 - K<15360, L>(c)), K<15360, L>(c) - s.a2);
}

// Adaptation speed control (no steady state in lanes with a tone, tdp; a transition, tr, resets
// AP) and scale factor adaptation; `speed` holds the averages' targets (PackSpeedTargets).
template <class L>
ORVO_LANE_INLINE void AdaptScale(G726Lanes<L> &s, Lane<L> entry, Lane<L> speed, Lane<L> y, Lane<L> tdp, Lane<L> tr,
                                 const int32_t *c)
{
    // DMS moves by 1/32 and DML by 1/128 of the way to their targets; then 4 x DMS - DML.
    s.dmsl = AddHalves(s.dmsl, SarHalves<5, 7>(SubHalves(speed, s.dmsl)));
    const Lane<L> spread = Abs(MulAddHalves(s.dmsl, K<4 - 65536, L>(c)));
    const Lane<L> steady = AndNot(tdp, Gt(y, K<1535, L>(c)) & Gt(s.dmsl >> 19, spread)); // DML >> 3
    const Lane<L> ax = AndNot(steady, K<512, L>(c));
    s.ap = Select(tr, K<256, L>(c), s.ap + ((ax - s.ap) >> 4));

    const Lane<L> w32 = (entry << (32 - kEntryScaleBits)) >> (32 - kEntryScaleBits);
    s.yu = Min(Max(y + ((w32 - y) >> 5), K<g726::kYuMin, L>(c)), K<g726::kYuMax, L>(c));
    s.yl += ((s.yu << 6) - s.yl) >> 6;
}

template <int Bits>
inline constexpr int kUpbShift = Bits == 5 ? 9 : 8;

// One step of g726::Step on every lane, reading the past from window w and writing w[6].
// Encode: value holds samples, returns codes. Decode: value holds codes, returns samples.
template <class L, int Bits, bool Encode>
ORVO_LANE_INLINE Lane<L> G726Step(G726Lanes<L> &s, G726Past<L> *w, Lane<L> value)
{
    constexpr int32_t kAll = (1 << Bits) - 1;
    const int32_t *c = ConstantBase();
    const G726Past<L> &last = w[kG726Order - 1];
    const G726Past<L> &beforeLast = w[kG726Order - 2];
    const Lane<L> pk1 = last.pk;
    const Lane<L> pk2 = beforeLast.pk;

    // 1. Scale factor.
    const Lane<L> y = ScaleFactor<L>(s, c);
    const Lane<L> y2 = y >> 2;

    // 2-4. Signal estimate, code with its table entry and the sign of DQ (as a mask), inverse
    // quantizer. The decoder knows its code first: it updates each B coefficient (UPB) as soon
    // as FMULT has read it, so that coefficient and past value are read once for both.
    Lane<L> code, negative, z;
    Dequantized<L> q;
    if constexpr (Encode) {
        z = (Fmult(s.b[0], w[5].dq, c) + Fmult(s.b[1], w[4].dq, c)) +
            (Fmult(s.b[2], w[3].dq, c) + Fmult(s.b[3], w[2].dq, c)) +
            (Fmult(s.b[4], w[1].dq, c) + Fmult(s.b[5], w[0].dq, c));
    } else {
        code = value; // unpacked with no bits above the code's
        negative = Gt(code, K<(kAll >> 1), L>(c));
        q = InverseQuantize<L, Bits>(code ^ negative, negative, y2, c); // the magnitude index in the low bits
        Lane<L> f[kG726Order];
        for (int i = 0; i < kG726Order; ++i) {
            const PastValue<L> &dq = w[kG726Order - 1 - i].dq;
            f[i] = Fmult(s.b[i], dq, c);
            s.b[i] = UpdateB<L, kUpbShift<Bits>>(s.b[i], dq, q.signedStep);
        }
        z = (f[0] + f[1]) + (f[2] + f[3]) + (f[4] + f[5]);
    }
    const Lane<L> sez = z >> 1;
    const Lane<L> se = (z + (Fmult(s.a1, last.sr, c) + Fmult(s.a2, beforeLast.sr, c))) >> 1;
    if constexpr (Encode) {
        const Lane<L> d = (value >> 2) - se;
        const Lane<L> ds = d >> 31;
        const Lane<L> m = Abs(d) & K<g726::kDqMagnitudeMask, L>(c);
        // dl = 128 x (bit length - 1) plus the seven bits after the leading one: the exponent
        // and the top seven mantissa bits of m as a float, less the exponent bias. A zero m gives
        // the lowest slot here where the scalar step has dl = 0; both quantize alike
        // (ZeroQuantizesLowest).
        const Lane<L> dl = Lane<L>{L::FloatBits(m.v)} >> kFloatMantissaTop7;
        const Lane<L> index = QuantizeIndex<L, Bits>(dl - y2);
        if constexpr (Bits == 2)
            negative = ds;
        else
            negative = ds | Eq(index, Zero<L>()); // magnitude 0 is coded as all ones
        code = index ^ (negative & K<kAll, L>(c)); // kAll - index where negative
        q = InverseQuantize<L, Bits>(index, negative, y2, c);
        for (int i = 0; i < kG726Order; ++i)
            s.b[i] = UpdateB<L, kUpbShift<Bits>>(s.b[i], w[kG726Order - 1 - i].dq, q.signedStep);
    }

    // 5. Transition detector, with the previous td and yl: only lanes that detected a tone can have
    // a transition, so the threshold is formed only when one has.
    Lane<L> tr = Zero<L>();
    if (__builtin_expect(Any(s.td), 0)) {
        const Lane<L> ylint = s.yl >> 15;
        const Lane<L> ylfrac = (s.yl >> 10) & K<31, L>(c);
        const Lane<L> thr = Select(Gt(ylint, K<9, L>(c)), K<(31 << 10), L>(c),
                                   ShlV(ylfrac + K<32, L>(c), ylint & K<31, L>(c)));
        const Lane<L> dqthr = (thr + (thr >> 1)) >> 1;
        tr = s.td & Gt(q.mag, dqthr);
    }

    // 6. Reconstruction and predictor update.
    const Lane<L> dqs = (q.mag ^ negative) - negative;
    const Lane<L> dqsez = sez + dqs;
    const Lane<L> sr = se + dqs;
    G726Past<L> &next = w[kG726Order];
    SrPast<L>(s, next, sr, c);
    next.dq = Past<L>(q.mag, &negative, c);
    next.pk = dqsez >> 15;
    UpdateA<L>(s, next.pk, pk1, pk2, Eq(dqsez, Zero<L>()), c);
    // A transition clears the predictor, in the lanes that have it. Unconditional: a branch here
    // would keep two copies of every coefficient live.
    for (int i = 0; i < kG726Order; ++i)
        s.b[i] = AndNot(tr, s.b[i]);
    s.a2 = AndNot(tr, s.a2);
    s.a1 = AndNot(tr, s.a1);

    // 7. Tone detector: A2 below -0.71875 (a cleared A2 detects none).
    const Lane<L> tdp = Gt(K<-11776, L>(c), s.a2);
    s.td = tdp;

    // 8-9. Adaptation speed control, scale factor adaptation.
    AdaptScale<L>(s, q.entry, q.speed, y, tdp, tr, c);

    if constexpr (Encode)
        return code;
    else
        return Min(Max(sr, K<-8192, L>(c)), K<8191, L>(c)) << 2; // SR limited to 14 bits, in 16
}

// A lane-interleaved block: row t holds sample (or code) t of every lane.
struct alignas(64) LaneBlock {
    int32_t values[(kMaxSamples + 1) * kMaxLanes];
};

// The coder of one group of lanes: its state and the buffer its window slides over.
template <class L>
struct G726Coder {
    G726Lanes<L> s;
    G726Past<L> past[kG726History];
    int at = 0; // the window stands at past + at
};

// Runs the step over n rows of the block in place.
template <class L, int Bits, bool Encode>
void G726Rows(G726Coder<L> &c, int32_t *rows, int n)
{
    constexpr int W = L::kWidth;
    // A local copy that nothing else can point into: stores to the window cannot alias it.
    G726Lanes<L> local = c.s;
    int at = c.at;
    for (int t = 0; t < n; ++t) {
        if (at == kG726HistoryRows) {
            for (int k = 0; k < kG726Order; ++k)
                c.past[k] = c.past[kG726HistoryRows + k];
            at = 0;
        }
        StoreLane<L>(rows + t * W, G726Step<L, Bits, Encode>(local, c.past + at, LoadLane<L>(rows + t * W)));
        ++at;
    }
    c.s = local;
    c.at = at;
}

// Sample t of lane l to row t of the block, for n samples, and back.
template <class L>
inline void SamplesToRows(const int16_t *const *samples, int n, int32_t *rows)
{
    constexpr int W = L::kWidth;
    int t = 0;
    for (; t + L::kTransposeRows <= n; t += L::kTransposeRows)
        L::ColumnsToRows(samples, t, rows + t * W);
    for (; t < n; ++t)
        for (int l = 0; l < W; ++l)
            rows[t * W + l] = samples[l][t];
}

template <class L>
inline void RowsToSamples(const int32_t *rows, int n, int16_t *const *samples)
{
    constexpr int W = L::kWidth;
    int t = 0;
    for (; t + L::kTransposeRows <= n; t += L::kTransposeRows)
        L::RowsToColumns(rows + t * W, t, samples);
    for (; t < n; ++t)
        for (int l = 0; l < W; ++l)
            samples[l][t] = static_cast<int16_t>(rows[t * W + l]);
}

// Eight codes of Bits bits are Bits whole bytes: a group. A group is handled as a 64-bit value,
// code j at bit j x Bits, split into 32-bit halves; only 40-bit groups (5 bits) need the high half.
inline constexpr int kMaxGroups = kMaxSamples / kCodesPerGroup + 1;

template <int Bits>
inline constexpr bool kGroupHasHigh = Bits * kCodesPerGroup > 32;

// The halves of each group: lane l of group g at halves[(2g + half) x W + l].
struct alignas(64) GroupHalves {
    int32_t values[2 * kMaxGroups * kMaxLanes];
};

// Codes of `groups` whole groups of rows into their halves, every lane at once.
template <class L, int Bits>
inline void PackGroups(const int32_t *rows, int groups, int32_t *halves)
{
    constexpr int W = L::kWidth;
    for (int g = 0; g < groups; ++g, rows += kCodesPerGroup * W, halves += 2 * W) {
        Lane<L> lo = LoadLane<L>(rows);
        Lane<L> hi = lo ^ lo;
        for (int j = 1; j < kCodesPerGroup; ++j) {
            const Lane<L> code = LoadLane<L>(rows + j * W);
            const int at = j * Bits;
            if (at + Bits <= 32) {
                lo = lo | (code << at);
            } else if (at >= 32) {
                hi = hi | (code << (at - 32));
            } else {
                lo = lo | (code << at);
                hi = hi | Shr(code, 32 - at);
            }
        }
        StoreLane<L>(halves, lo);
        if constexpr (kGroupHasHigh<Bits>)
            StoreLane<L>(halves + W, hi);
    }
}

// The halves of `groups` groups into rows of codes, every lane at once.
template <class L, int Bits>
inline void UnpackGroups(const int32_t *halves, int groups, int32_t *rows)
{
    constexpr int W = L::kWidth;
    const int32_t *c = ConstantBase();
    for (int g = 0; g < groups; ++g, rows += kCodesPerGroup * W, halves += 2 * W) {
        const Lane<L> lo = LoadLane<L>(halves);
        const Lane<L> hi = kGroupHasHigh<Bits> ? LoadLane<L>(halves + W) : lo;
        for (int j = 0; j < kCodesPerGroup; ++j) {
            const int at = j * Bits;
            Lane<L> code;
            if (at + Bits <= 32)
                code = Shr(lo, at);
            else if (at >= 32)
                code = Shr(hi, at - 32);
            else
                code = Shr(lo, at) | (hi << (32 - at));
            StoreLane<L>(rows + j * W, code & K<(1 << Bits) - 1, L>(c));
        }
    }
}

// A group's Bits bytes, lowest first, from its halves and back.
template <int Bits>
inline void StoreGroupBytes(uint8_t *out, uint32_t lo, uint32_t hi)
{
    const uint64_t group = lo | static_cast<uint64_t>(hi) << 32;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // As LoadGroupBytes: a power-of-two head and the last byte, straight from the registers.
    constexpr int kHead = Bits >= 4 ? 4 : 2;
    using Head = std::conditional_t<kHead == 4, uint32_t, uint16_t>;
    const auto head = static_cast<Head>(group);
    std::memcpy(out, &head, kHead);
    for (int k = kHead; k < Bits; ++k)
        out[k] = static_cast<uint8_t>(group >> (8 * k));
#else
    for (int k = 0; k < Bits; ++k)
        out[k] = static_cast<uint8_t>(group >> (8 * k));
#endif
}

// A copy of 3 or 5 bytes into a 64-bit variable goes through memory, and the wide read of
// narrow writes stalls: the group is read as a power-of-two head and its last byte.
template <int Bits>
inline uint64_t LoadGroupBytes(const uint8_t *in)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr int kHead = Bits >= 4 ? 4 : 2;
    using Head = std::conditional_t<kHead == 4, uint32_t, uint16_t>;
    Head head;
    std::memcpy(&head, in, kHead);
    uint64_t group = head;
    for (int k = kHead; k < Bits; ++k)
        group |= static_cast<uint64_t>(in[k]) << (8 * k);
#else
    uint64_t group = 0;
    for (int k = 0; k < Bits; ++k)
        group |= static_cast<uint64_t>(in[k]) << (8 * k);
#endif
    return group;
}

// Codes of W lanes from rows into their payloads (cleared: a last partial group is OR-ed in).
template <class L, int Bits>
inline void RowsToPayloads(const int32_t *rows, int n, uint8_t *const *payloads)
{
    constexpr int W = L::kWidth;
    const int groups = n / kCodesPerGroup;
    GroupHalves halves;
    PackGroups<L, Bits>(rows, groups, halves.values);
    for (int l = 0; l < W; ++l) {
        uint8_t *out = payloads[l];
        const int32_t *at = halves.values + l;
        for (int g = 0; g < groups; ++g, out += Bits, at += 2 * W)
            StoreGroupBytes<Bits>(out, static_cast<uint32_t>(at[0]),
                                  kGroupHasHigh<Bits> ? static_cast<uint32_t>(at[W]) : 0u);
        uint64_t group = 0;
        int used = 0;
        for (int t = groups * kCodesPerGroup; t < n; ++t, used += Bits)
            group |= static_cast<uint64_t>(rows[t * W + l]) << used;
        for (int k = 0; k * 8 < used; ++k)
            out[k] = static_cast<uint8_t>(group >> (8 * k));
    }
}

template <class L, int Bits>
void G726EncodeLanes(G726State *const *states, const int16_t *const *samples, uint8_t *const *payloads, int n)
{
    LaneBlock block;
    SamplesToRows<L>(samples, n, block.values);
    G726Coder<L> coder;
    LoadG726<L>(states, coder.s, coder.past);
    G726Rows<L, Bits, true>(coder, block.values, n);
    SaveG726<L>(coder.s, coder.past + coder.at, states);
    RowsToPayloads<L, Bits>(block.values, n, payloads);
}

// The codes of W lanes' payloads of nbytes bytes into rows.
template <class L, int Bits>
inline void PayloadsToRows(const uint8_t *const *payloads, int nbytes, int32_t *rows)
{
    constexpr int W = L::kWidth;
    constexpr uint32_t kMask = (1u << Bits) - 1;
    const int codes = 8 * nbytes / Bits;
    const int groups = codes / kCodesPerGroup;
    GroupHalves halves;
    for (int l = 0; l < W; ++l) {
        const uint8_t *in = payloads[l];
        int32_t *at = halves.values + l;
        for (int g = 0; g < groups; ++g, in += Bits, at += 2 * W) {
            const uint64_t group = LoadGroupBytes<Bits>(in);
            at[0] = static_cast<int32_t>(static_cast<uint32_t>(group));
            if constexpr (kGroupHasHigh<Bits>)
                at[W] = static_cast<int32_t>(static_cast<uint32_t>(group >> 32));
        }
        const int t0 = groups * kCodesPerGroup;
        if (t0 < codes) {
            // Only the bytes that are left are read.
            const int left = nbytes - groups * Bits;
            uint64_t group = 0;
            for (int k = 0; k < left; ++k)
                group |= static_cast<uint64_t>(in[k]) << (8 * k);
            for (int t = t0, j = 0; t < codes; ++t, ++j)
                rows[t * W + l] = static_cast<int32_t>((group >> (j * Bits)) & kMask);
        }
    }
    UnpackGroups<L, Bits>(halves.values, groups, rows);
}

template <class L, int Bits>
void G726DecodeLanes(G726State *const *states, const uint8_t *const *payloads, int16_t *const *samples, int nbytes)
{
    const int codes = 8 * nbytes / Bits;
    LaneBlock block;
    PayloadsToRows<L, Bits>(payloads, nbytes, block.values);
    G726Coder<L> coder;
    LoadG726<L>(states, coder.s, coder.past);
    G726Rows<L, Bits, false>(coder, block.values, codes);
    SaveG726<L>(coder.s, coder.past + coder.at, states);
    RowsToSamples<L>(block.values, codes, samples);
}

// ---- IMA ADPCM ----

template <class L>
ORVO_LANE_INLINE void LoadAdpcm(AdpcmState *const *states, Lane<L> &predicted, Lane<L> &index)
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
ORVO_LANE_INLINE void SaveAdpcm(AdpcmState *const *states, Lane<L> predicted, Lane<L> index)
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
ORVO_LANE_INLINE Lane<L> AdpcmEncodeStep(Lane<L> sample, Lane<L> &predicted, Lane<L> &index)
{
    const int32_t *c = ConstantBase();
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
    const Lane<L> magnitude = (AndNot(below4, K<4, L>(c)) | AndNot(below2, K<2, L>(c))) | AndNot(below1, K<1, L>(c));
    predicted = Min(Max(predicted + Lane<L>{L::NegateWhereNegative(delta.v, negative.v, K<1, L>(c).v)},
                        K<-32768, L>(c)),
                    K<32767, L>(c));
    index = Min(Max(index + Lane<L>{L::Lookup8(ImaLaneTables::kIndexSteps.data(), magnitude.v)}, Zero<L>()),
                K<kImaMaxIndex, L>(c));
    return magnitude | (negative & K<kImaSignBit, L>(c));
}

template <class L>
void AdpcmEncodeLanes(AdpcmState *const *states, const int16_t *const *samples, uint8_t *const *codes, int n)
{
    constexpr int W = L::kWidth;
    if (n <= 0)
        return;
    LaneBlock block;
    SamplesToRows<L>(samples, n, block.values);
    Lane<L> predicted, index;
    LoadAdpcm<L>(states, predicted, index);
    for (int t = 0; t < n; ++t)
        StoreLane<L>(block.values + t * W, AdpcmEncodeStep<L>(LoadLane<L>(block.values + t * W), predicted, index));
    SaveAdpcm<L>(states, predicted, index);
    // Codes pair up in order, the first of a pair in the high nibble; an unpaired last code only
    // moved the state on. Each lane's codes leave the block through the sample transpose, and
    // pair up in a loop the compiler vectorizes.
    alignas(32) int16_t columns[kMaxLanes][kMaxSamples + 1];
    int16_t *columnOf[kMaxLanes];
    for (int l = 0; l < W; ++l)
        columnOf[l] = columns[l];
    RowsToSamples<L>(block.values, n, columnOf);
    for (int l = 0; l < W; ++l) {
        const int16_t *code = columns[l];
        uint8_t *out = codes[l];
        for (int i = 0; i < n >> 1; ++i)
            out[i] = static_cast<uint8_t>((code[2 * i] << 4) | code[2 * i + 1]);
    }
}

// The n codes of one lane's bytes, two to a byte, in order: a loop the compiler vectorizes, so
// that the codes reach the block through the same transpose as samples do.
template <bool HighFirst>
inline void NibblesToCodes(const uint8_t *in, int n, int16_t *out)
{
    constexpr int kFirstShift = HighFirst ? 4 : 0;
    constexpr int kSecondShift = HighFirst ? 0 : 4;
    const int pairs = n >> 1;
    for (int i = 0; i < pairs; ++i) {
        out[2 * i] = static_cast<int16_t>((in[i] >> kFirstShift) & 0xF);
        out[2 * i + 1] = static_cast<int16_t>((in[i] >> kSecondShift) & 0xF);
    }
    if (n & 1)
        out[n - 1] = static_cast<int16_t>((in[pairs] >> kFirstShift) & 0xF);
}

template <class L, bool HighFirst>
void AdpcmDecodeLanes(AdpcmState *const *states, const uint8_t *const *codes, int16_t *const *samples, int n)
{
    constexpr int W = L::kWidth;
    if (n <= 0)
        return;
    alignas(32) int16_t columns[kMaxLanes][kMaxSamples + 1];
    const int16_t *columnOf[kMaxLanes];
    for (int l = 0; l < W; ++l) {
        NibblesToCodes<HighFirst>(codes[l], n, columns[l]);
        columnOf[l] = columns[l];
    }
    LaneBlock block;
    SamplesToRows<L>(columnOf, n, block.values);
    Lane<L> predicted, index;
    LoadAdpcm<L>(states, predicted, index);
    for (int t = 0; t < n; ++t) {
        const int32_t *c = ConstantBase();
        const Lane<L> code = LoadLane<L>(block.values + t * W);
        const Lane<L> delta = Gather(ImaLaneTables::kSignedDifferences.data(), (index << 4) | code);
        predicted = Min(Max(predicted + delta, K<-32768, L>(c)), K<32767, L>(c));
        index = Min(Max(index + Lane<L>{L::Lookup8(ImaLaneTables::kIndexSteps.data(), code.v)}, Zero<L>()),
                    K<kImaMaxIndex, L>(c));
        StoreLane<L>(block.values + t * W, predicted);
    }
    SaveAdpcm<L>(states, predicted, index);
    RowsToSamples<L>(block.values, n, samples);
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

#undef ORVO_LANE_INLINE
