// G.726 block coder on AVX2 with BMI2 and LZCNT.
//
// All eight predictor products (A1, A2 with SR1, SR2 and B1..B6 with DQ1..DQ6) run as one 8-lane
// vector FMULT each sample: coefficients and past values stay in vector registers for the whole
// block, the coefficient's exponent and mantissa come from a float conversion (exact below 2^24),
// and the per-lane shift is a variable shift. The quantizer and the scale factor adaptation run on
// scalar registers with a leading-zero count and table lookups (quantizer rows that carry code,
// sign, UPB step and where the reconstruction is; the inverse quantizer's DQ with its floating
// form). The two entries a sample looks up are also broadcast-loaded into every lane, so the
// vector side takes them without a move from a scalar register. The per-sample dependency chain
// (estimate, quantizer, reconstruction, predictor update, next estimate) sets the speed, so work
// is moved off it wherever that costs no more instructions. The only branches are the rare
// transition and out-of-range cases.
//
// Only this file's own functions carry the instruction-set target; the shared headers included
// first are compiled as everywhere else.
#include "voice/g726_avx2.h"

#if defined(ORVO_G726_HAVE_AVX2)

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "voice/g726_kernel.h"
#include "voice/g726_tables.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,lzcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,lzcnt")
#endif

#include "voice/g726_blocks.h"

namespace orvo::voice::g726 {
namespace {

constexpr int32_t kUpbStep = 128;             // UPB coefficient step
constexpr int32_t kFloatBiasedOne = 126;      // float exponent field of 1.0, minus one
constexpr int32_t kProductShiftBase = 30;     // FMULT: (mant << 11) >> (30 - exp)
constexpr int32_t kMantissaRound = 48;        // FMULT mantissa rounding
constexpr int32_t kSignToBit31 = 21;          // bit 10 of the floating format to bit 31

template <typename T>
inline T Min(T a, T b)
{
    return b < a ? b : a;
}

// Floating form of a magnitude below 2^15 with its sign (0 or 1).
// The six bits from the leading one are taken by shifting it to bit 31 (a zero magnitude shifts
// by 0 and gives 0); the exponent part adds the mantissa 32 of +-0 itself (leading = 32 only then).
inline int32_t FloatOf15Fast(int32_t sign, int32_t m)
{
    const uint32_t leading = _lzcnt_u32(static_cast<uint32_t>(m));
    const auto mant = static_cast<int32_t>((static_cast<uint32_t>(m) << (leading & 31)) >> 26);
    const auto rest = static_cast<int32_t>((sign << 10) + ((32 - leading) << 6) + (leading & 32));
    return mant + rest;
}

// Lane layout of the predictor vectors: lanes 0 and 1 hold the pole predictor (A1, A2 with SR1,
// SR2), lanes 2 to 7 the zero predictor (B1..B6 with DQ1..DQ6).
constexpr int kPoleLanes = 0x03;    // blend mask of lanes 0 and 1
constexpr int kNewSignalLane = 0x01;     // lane 0 takes the new SR1
constexpr int kNewDifferenceLane = 0x04; // lane 2 takes the new DQ1
constexpr int32_t kTdThreshold = -11776;

// Vector constants, read through a pointer the compiler cannot see through (see Launder), so that
// they become memory operands instead of being rebuilt from immediates in every step.
struct alignas(32) Lanes {
    int32_t v[8];
};

constexpr Lanes Splat(int32_t x) { return {{x, x, x, x, x, x, x, x}}; }

struct VectorConstants {
    Lanes pairPick; // A1, A2 repeated
    Lanes poleDecayShifts; // A1 - (A1 >> 8), A2 - (A2 >> 7)
    Lanes fa1Max; // fa1 = 4 * A1 within +-8191
    Lanes fa1Min;
    Lanes casePk0; // pk0 of each candidate pair
    Lanes one;
    Lanes gBase;
    Lanes hBase;
    Lanes updatingPairs; // the no-update pair gets no g, h
    Lanes a2Max;
    Lanes a2Min;
    Lanes a1Limit;
    Lanes floatBiasedOne;
    Lanes low6;
    Lanes low4;
    Lanes productShiftBase;
    Lanes magnitudeMask;
    Lanes zeroLaneSteps; // the entry's UPB step bit, on lanes 2..7 only
    Lanes tdThreshold;
    Lanes pastShift; // SR1 to SR2, DQ1..DQ5 to DQ2..DQ6
    Lanes floatZeroAndRound; // 32 | 48 << 16
    Lanes low6AndHigh;       // 63 | 0xFFFF << 16
    Lanes highOne;           // 1 << 16
};

alignas(32) constexpr VectorConstants kVectorConstants = {
    {{0, 1, 0, 1, 0, 1, 0, 1}},
    {{8, 7, 8, 7, 8, 7, 8, 7}},
    Splat(8191),
    Splat(-8191),
    {{0, 0, -1, -1, 0, 0, 0, 0}},
    Splat(1),
    Splat(-16384),
    Splat(-192),
    {{-1, -1, -1, -1, 0, 0, 0, 0}},
    Splat(12288),
    Splat(-12288),
    Splat(15360),
    Splat(kFloatBiasedOne),
    Splat(63),
    Splat(15),
    Splat(kProductShiftBase),
    Splat(kDqMagnitudeMask),
    {{0, 0, kUpbStep, kUpbStep, kUpbStep, kUpbStep, kUpbStep, kUpbStep}}, // the entries carry the step at bit 7
    Splat(kTdThreshold),
    {{0, 0, 2, 2, 3, 4, 5, 6}},
    Splat(kFloatZero | (kMantissaRound << 16)),
    Splat(static_cast<int32_t>(63u | 0xFFFF0000u)),
    Splat(1 << 16),
};

inline __m256i Load(const Lanes &lanes) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(lanes.v)); }

// Hides where a pointer points: the constants' address is formed once per step, and a table row's
// address is formed as it stands (from y and the sign) instead of being folded into the index.
template <typename T>
inline const T *Launder(const T *p)
{
    __asm__("" : "+r"(p));
    return p;
}

// The exact pole update for a pk0 outside {0, -1} (DQSEZ beyond the 16-bit range): takes A1, A2
// from lanes 0 and 1 of `coef` and pk1, pk2 from lane 0 of their vectors, writes the new A1, A2
// back and returns A2. Out of line and with no pointer to the coder, so that the coder's state
// stays in registers.
__attribute__((noinline, cold)) int32_t PoleUpdateExact(__m256i *coef, int32_t pk0, bool sigpk, int32_t pk1,
                                                        int32_t pk2)
{
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), *coef);
    const int32_t a1 = lanes[0];
    const int32_t a2 = lanes[1];
    const int32_t fa1 = Clamp(a1, -8191, 8191) * 4;
    const int32_t fa = pk0 != pk1 ? fa1 : -fa1;
    const int32_t g = sigpk ? 0 : ((pk0 == pk2 ? 16384 : -16384) + fa) >> 7;
    const int32_t a2p = Clamp(a2 - (a2 >> 7) + g, -12288, 12288);
    const int32_t h = sigpk ? 0 : (pk0 == pk1 ? 192 : -192);
    lanes[0] = Clamp(a1 - (a1 >> 8) + h, a2p - 15360, 15360 - a2p);
    lanes[1] = a2p;
    *coef = _mm256_load_si256(reinterpret_cast<const __m256i *>(lanes));
    return a2p;
}

// Reconstruction by DQ sign and dql: slots [0, kDqlSlots) hold a positive DQ, the next
// kDqlSlots a negative one, each at dql + kDqlOffset. An entry holds DQ as a signed 16-bit value in
// the high half and its floating form with the sign in the low half (so the entry can enter the
// past values as it is: FMULT reads only the low eleven bits); every negative dql gives a
// magnitude of 0. Covers DQLN from kDqlnFloor to 566 plus y >> 2 from 136 to 1280, the range of
// every reachable state.
constexpr int32_t kDqlOffset = -kDqlnFloor; // every start (DQLN + offset) is then at least 0
constexpr int32_t kDqlSlots = kDqlOffset + 566 + (kYuMax >> 2) + 1;

constexpr std::array<uint32_t, 2 * kDqlSlots> MakeReconstructTable()
{
    std::array<uint32_t, 2 * kDqlSlots> table{};
    for (int32_t sign = 0; sign < 2; ++sign) {
        for (int32_t slot = 0; slot < kDqlSlots; ++slot) {
            const int32_t dql = slot - kDqlOffset;
            int32_t mag = 0;
            if (dql >= 0) {
                const int32_t dex = (dql >> 7) & 15;
                const int32_t dqt = 128 + (dql & 127);
                mag = (dqt << 7) >> (14 - dex);
            }
            int32_t e = 0;
            while ((mag >> e) != 0)
                ++e;
            const int32_t floating = (sign << 10) + (e << 6) + (((mag << 6) >> e) | kFloatZero);
            const auto signedMag = static_cast<uint16_t>(sign ? -mag : mag);
            table[static_cast<std::size_t>(sign * kDqlSlots + slot)] =
                (static_cast<uint32_t>(signedMag) << 16) | static_cast<uint32_t>(floating);
        }
    }
    return table;
}

constexpr std::array<uint32_t, 2 * kDqlSlots> kReconstruct = MakeReconstructTable();

// Where a magnitude index and DQ sign start in kReconstruct; y >> 2 is added to find the entry.
constexpr int32_t ReconstructBase(int32_t dqln, int32_t sign)
{
    return (dqln < kDqlnFloor ? kDqlnFloor : dqln) + kDqlOffset + sign * kDqlSlots;
}

// Quantizer rows for the AVX2 coder, one per sign of the difference, indexed by
// dl - (y >> 2) + kRowOffset. Each entry carries everything the step needs from the quantizer:
// the code, the sign of DQ, whether the magnitude is non-zero (only magnitude index 0 of the 3- to
// 5-bit codes reconstructs 0: its DQLN is minus infinity, every other DQLN plus y >> 2 is
// positive), the magnitude index and where its reconstruction starts. The rows reach 128 below
// the smallest dl - (y >> 2), for the step's way of reading dl (a zero magnitude reads -128,
// which quantizes like 0).
constexpr int32_t kEntryCodeMask = 31;
constexpr int32_t kEntrySignShift = 5;
constexpr int32_t kEntryStepBit = kUpbStep; // bit 7: the UPB step itself, for a non-zero magnitude
constexpr int32_t kEntrySignToBit31 = 31 - kEntrySignShift;
constexpr int32_t kEntryIndexShift = 8;
constexpr int32_t kEntryReconstructShift = 16;
// An entry as the rows and the decoder's per-code table hold it; `start` is where its
// reconstruction begins in kReconstruct.
constexpr int32_t QuantizerEntry(int32_t code, int32_t sign, int32_t index, bool zero, int32_t start)
{
    return start * (1 << kEntryReconstructShift) + (index << kEntryIndexShift) + (zero ? 0 : kEntryStepBit) +
           (sign << kEntrySignShift) + code;
}

constexpr int32_t kRowOffset = kDlnOffset + 128;
constexpr int32_t kRowSpan = 1920 + kRowOffset;

template <int Bits>
constexpr std::array<int32_t, 2 * kRowSpan> MakeSignedQuantizerRows()
{
    std::array<int32_t, 2 * kRowSpan> rows{};
    const RateTable &t = TableFor(Bits);
    constexpr int32_t kAll = (1 << Bits) - 1;
    for (int negative = 0; negative < 2; ++negative) {
        for (int32_t i = 0; i < kRowSpan; ++i) {
            const int32_t dln = i - kRowOffset;
            int32_t k = 0;
            while (t.levels[k] <= dln)
                ++k;
            const bool zero = Bits > 2 && k == 0;
            const int32_t sign = (negative || zero) ? 1 : 0;
            const int32_t code = negative ? kAll - k : (zero ? kAll : k);
            rows[static_cast<std::size_t>(negative * kRowSpan + i)] =
                QuantizerEntry(code, sign, k, zero, ReconstructBase(t.dqln[k], sign));
        }
    }
    return rows;
}

template <int Bits>
struct SignedQuantizerRows {
    static constexpr std::array<int32_t, 2 * kRowSpan> kEntries = MakeSignedQuantizerRows<Bits>();
};

// The decoder's view of a code: the entry the quantizer rows hold for it.
template <int Bits>
constexpr std::array<int32_t, (1 << Bits)> MakeCodeEntries()
{
    std::array<int32_t, (1 << Bits)> entries{};
    const RateTable &t = TableFor(Bits);
    constexpr int32_t kAll = (1 << Bits) - 1;
    for (int32_t code = 0; code <= kAll; ++code) {
        const int32_t sign = code >> (Bits - 1);
        const int32_t index = sign ? kAll - code : code;
        const bool zero = Bits > 2 && index == 0;
        entries[static_cast<std::size_t>(code)] =
            QuantizerEntry(code, sign, index, zero, ReconstructBase(t.dqln[index], sign));
    }
    return entries;
}

template <int Bits>
struct CodeEntries {
    static constexpr std::array<int32_t, (1 << Bits)> kEntries = MakeCodeEntries<Bits>();
};

template <int Bits>
class Avx2Coder {
public:
    explicit Avx2Coder(const G726State &s)
        : coef_(_mm256_setr_epi32(s.a1, s.a2, s.b1, s.b2, s.b3, s.b4, s.b5, s.b6)),
          past_(_mm256_setr_epi32(s.sr1, s.sr2, s.dq1, s.dq2, s.dq3, s.dq4, s.dq5, s.dq6)),
          pk1_(_mm256_set1_epi32(s.pk1)), pk2_(_mm256_set1_epi32(s.pk2)), ap_(s.ap), dml_(s.dml),
          dms_(s.dms), td_(s.td),
          // Every reachable state has these in range; limiting them here keeps every table index
          // in range below even for a record that was never reset.
          yl_(Clamp(s.yl, kYuMin << 6, kYuMax << 6)), yu_(Clamp(s.yu, kYuMin, kYuMax))
    {
    }

    void Save(G726State &s) const
    {
        alignas(32) int32_t coef[8];
        alignas(32) int32_t past[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(coef), coef_);
        // DQ1..DQ6 carry their DQ above the floating form (see kReconstruct); only the form is kept.
        _mm256_store_si256(reinterpret_cast<__m256i *>(past),
                           _mm256_and_si256(past_, _mm256_setr_epi32(-1, -1, 0x7FF, 0x7FF, 0x7FF, 0x7FF, 0x7FF, 0x7FF)));
        s.a1 = coef[0];
        s.a2 = coef[1];
        s.b1 = coef[2];
        s.b2 = coef[3];
        s.b3 = coef[4];
        s.b4 = coef[5];
        s.b5 = coef[6];
        s.b6 = coef[7];
        s.sr1 = past[0];
        s.sr2 = past[1];
        s.dq1 = past[2];
        s.dq2 = past[3];
        s.dq3 = past[4];
        s.dq4 = past[5];
        s.dq5 = past[6];
        s.dq6 = past[7];
        s.pk1 = _mm256_cvtsi256_si32(pk1_);
        s.pk2 = _mm256_cvtsi256_si32(pk2_);
        s.ap = ap_;
        s.dml = dml_;
        s.dms = dms_;
        s.td = td_;
        s.yl = yl_;
        s.yu = yu_;
    }

    __attribute__((always_inline)) int32_t Encode(int16_t sample) { return Step<true>(sample); }
    __attribute__((always_inline)) int16_t Decode(int32_t code)
    {
        return static_cast<int16_t>(Step<false>(code));
    }

private:
    // The UPA2/UPA1 update depends on this sample's sign of DQSEZ (pk0) only through three cases:
    // pk0 = 0, pk0 = -1, and DQSEZ = 0 (no update term). The three candidate pairs (A1, A2) after
    // UPA2/LIMC/UPA1/LIMD are computed from the previous values while the quantizer runs, in lane
    // pairs (0,1), (2,3), (4,5); DQSEZ then picks one. A DQSEZ outside the 16-bit range gives
    // another pk0 and takes the exact scalar path (PoleUpdateExact).
    inline __attribute__((always_inline)) __m256i PoleCandidates(const VectorConstants *k) const
    {
        const __m256i pair = _mm256_permutevar8x32_epi32(coef_, Load(k->pairPick));
        const __m256i decayed =
            _mm256_sub_epi32(pair, _mm256_srav_epi32(pair, Load(k->poleDecayShifts)));
        // fa1 = 4 * A1 limited to +-8191, moved from each A1 lane to its A2 lane.
        const __m256i fa1 = _mm256_shuffle_epi32(
            _mm256_slli_epi32(_mm256_max_epi32(_mm256_min_epi32(pair, Load(k->fa1Max)),
                                               Load(k->fa1Min)),
                              2),
            0xA0);
        const __m256i casePk0 = Load(k->casePk0);
        const __m256i one = Load(k->one);
        // -1 where the case's pk0 equals pk1, +1 where it differs.
        const __m256i same1 = _mm256_or_si256(_mm256_cmpeq_epi32(casePk0, pk1_), one);
        const __m256i same2 = _mm256_cmpeq_epi32(casePk0, pk2_);
        // g = ((pk0 == pk2 ? 16384 : -16384) + (pk0 != pk1 ? fa1 : -fa1)) >> 7 in the A2 lanes,
        // h = pk0 == pk1 ? 192 : -192 in the A1 lanes, both 0 in the no-update pair.
        const __m256i g = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_sign_epi32(Load(k->gBase), _mm256_or_si256(same2, one)),
                             _mm256_sign_epi32(fa1, same1)),
            7);
        const __m256i h = _mm256_sign_epi32(Load(k->hBase), same1);
        const __m256i step = _mm256_and_si256(_mm256_blend_epi32(h, g, 0xAA),
                                              Load(k->updatingPairs));
        const __m256i a2p = _mm256_max_epi32(
            _mm256_min_epi32(_mm256_add_epi32(decayed, step), Load(k->a2Max)),
            Load(k->a2Min));
        // A1 within +-(15360 - a2p), with a2p moved from each A2 lane to its A1 lane.
        const __m256i a2pInA1 = _mm256_shuffle_epi32(a2p, 0xF5);
        const __m256i limit = Load(k->a1Limit);
        const __m256i a1 = _mm256_max_epi32(
            _mm256_min_epi32(_mm256_add_epi32(decayed, step), _mm256_sub_epi32(limit, a2pInA1)),
            _mm256_sub_epi32(a2pInA1, limit));
        return _mm256_blend_epi32(a1, a2p, 0xAA);
    }

    template <bool Encode>
    inline __attribute__((always_inline)) int32_t Step(int32_t value)
    {
        constexpr int32_t kAll = (1 << Bits) - 1;
        constexpr int32_t kUpbShift = Bits == 5 ? 9 : 8;
        const AdaptEntry *adapt = AdaptTable<Bits>::kEntries.data();
        const VectorConstants *k = Launder(&kVectorConstants);

        // 1. Scale factor: al = 64 above ap = 256, else ap >> 2 (which is then at most 64).
        const int32_t al = Min(ap_ >> 2, 64);
        const int32_t yl6 = yl_ >> 6;
        const int32_t y = yl6 + ((yu_ - yl6) * al) / 64;
        const int32_t y2 = y >> 2;
        // 5 (threshold only): DQTHR from the previous yl, by table.
        const int32_t dqthr = kDqThresholds[static_cast<uint32_t>(yl_) >> 10];

        // 2. Both predictors on eight lanes.
        const __m256i q = _mm256_srai_epi32(coef_, 2);
        const __m256i anMag = _mm256_abs_epi32(q);
        const __m256i asFloat = _mm256_castps_si256(_mm256_cvtepi32_ps(anMag));
        const __m256i anExp = _mm256_subs_epu16(_mm256_srli_epi32(asFloat, 23),
                                                Load(k->floatBiasedOne));
        // The mantissa product and its rounding term in one multiply-add of 16-bit pairs: the
        // coefficient's mantissa with 48 above it, the past value's mantissa with 1 above it.
        const __m256i anMant = _mm256_and_si256(
            _mm256_or_si256(_mm256_srli_epi32(asFloat, 18), Load(k->floatZeroAndRound)), Load(k->low6AndHigh));
        const __m256i pastExp = _mm256_and_si256(_mm256_srli_epi32(past_, 6), Load(k->low4));
        const __m256i pastMant = _mm256_or_si256(_mm256_and_si256(past_, Load(k->low6)), Load(k->highOne));
        const __m256i pastSign = _mm256_slli_epi32(past_, kSignToBit31);
        const __m256i exp = _mm256_add_epi32(anExp, pastExp);
        const __m256i mant = _mm256_slli_epi32(_mm256_srli_epi32(_mm256_madd_epi16(pastMant, anMant), 4), 11);
        const __m256i mag8 = _mm256_and_si256(
            _mm256_srlv_epi32(mant, _mm256_sub_epi32(Load(k->productShiftBase), exp)),
            Load(k->magnitudeMask));
        const __m256i one = Load(k->one);
        const __m256i products =
            _mm256_sign_epi32(mag8, _mm256_or_si256(_mm256_xor_si256(coef_, pastSign), one));
        const __m128i low = _mm256_castsi256_si128(products);
        __m128i sum = _mm_add_epi32(low, _mm256_extracti128_si256(products, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        const __m128i poleSum = _mm_add_epi32(low, _mm_shuffle_epi32(low, 0x55));
        const int32_t total = _mm_cvtsi128_si32(sum);
        const int32_t z = total - _mm_cvtsi128_si32(poleSum);
        const int32_t sez = z >> 1;
        const int32_t se = total >> 1;

        // The pole candidates need only the previous values; computed here, off the chain.
        const __m256i candidates = PoleCandidates(k);

        // 3. and 4. The quantizer's entry (code, magnitude index, DQ sign, UPB step; see the rows)
        // and the inverse quantizer's entry (DQ and its floating form; see kReconstruct), each read
        // both as a scalar and, by a broadcast load, into every lane. y >> 2 is within [136, 1280]
        // (the limits applied on loading), so every index stays in its table.
        int32_t quantized;
        __m256i quantizedLanes;
        const uint32_t *reconstructedAt;
        if constexpr (Encode) {
            const int32_t d = (static_cast<int16_t>(value) >> 2) - se;
            const int32_t ds = d >> 31;
            const int32_t m = (d < 0 ? -d : d) & kDqMagnitudeMask;
            if constexpr (Bits == 2) {
                // One decision level. dl is non-decreasing in m, so dl - (y >> 2) reaches the level
                // exactly when m reaches the smallest magnitude whose dl reaches L = level + (y >> 2):
                // 2^e + ceil((L & 127) * 2^(e - 7)) with e = L >> 7 (at most 12 here), found from y
                // before the difference is known. The decision is the sign of a difference (a
                // branch would be taken at random), and both reconstructions are a fixed step apart.
                constexpr const RateTable &t = TableFor(Bits);
                const int32_t level = t.levels[0] + y2;
                const int32_t e = level >> 7;
                const int32_t threshold = (1 << e) + ((((level & 127) << 8) + (1 << (15 - e)) - 1) >> (15 - e));
                const int32_t large1 = static_cast<int32_t>(static_cast<uint32_t>(threshold - 1 - m) >> 31);
                constexpr int32_t kLargeStep = ReconstructBase(t.dqln[1], 0) - ReconstructBase(t.dqln[0], 0);
                reconstructedAt = &kReconstruct[static_cast<std::size_t>(
                    (ds & kDqlSlots) + ReconstructBase(t.dqln[0], 0) + y2 + (-large1 & kLargeStep))];
                // The entry formed in registers (a load of it would be slower), without the
                // reconstruction start, which is found above: 3 - index for a negative difference,
                // and the step is never 0.
                quantized = QuantizerEntry((large1 ^ ds) & kAll, ds & 1, large1, false, 0);
                quantizedLanes = _mm256_set1_epi32(quantized);
            } else {
                // dl = 128 * (bit length - 1) plus the seven bits after the leading one, taken by
                // shifting the leading one to bit 31: with top8 the eight bits from the leading one
                // (128..255), dl = 3840 + top8 - 128 * leading. A zero magnitude reads -128 there,
                // which the rows quantize like 0.
                const uint32_t leading = _lzcnt_u32(static_cast<uint32_t>(m) | 1u);
                const auto top8 = static_cast<int64_t>((static_cast<uint32_t>(m) << leading) >> 24);
                // The row is addressed while the leading zeros are counted.
                const int32_t *row = Launder(SignedQuantizerRows<Bits>::kEntries.data() + (ds & kRowSpan) +
                                             kRowOffset + 3840 - y2);
                const int32_t *quantizedAt = row + (top8 - static_cast<int64_t>(leading << 7));
                quantized = *quantizedAt;
                quantizedLanes = _mm256_castps_si256(_mm256_broadcast_ss(reinterpret_cast<const float *>(quantizedAt)));
                const uint32_t *reconstruct = Launder(kReconstruct.data() + y2);
                reconstructedAt = reconstruct + (static_cast<uint64_t>(static_cast<uint32_t>(quantized)) >>
                                                 kEntryReconstructShift);
            }
        } else {
            const int32_t *quantizedAt = &CodeEntries<Bits>::kEntries[static_cast<std::size_t>(value & kAll)];
            quantized = *quantizedAt;
            quantizedLanes = _mm256_castps_si256(_mm256_broadcast_ss(reinterpret_cast<const float *>(quantizedAt)));
            reconstructedAt = &kReconstruct[(static_cast<uint32_t>(quantized) >> kEntryReconstructShift) +
                                            static_cast<uint32_t>(y2)];
        }
        const int32_t code = quantized & kEntryCodeMask;
        const int32_t index = (quantized >> kEntryIndexShift) & 15;
        const uint32_t reconstructed = *reconstructedAt;
        // DQ in the high halves, its floating form in the low halves.
        const __m256i reconstructedLanes =
            _mm256_castps_si256(_mm256_broadcast_ss(reinterpret_cast<const float *>(reconstructedAt)));
        const AdaptEntry &entry = adapt[index];
        const int32_t dqs = static_cast<int32_t>(reconstructed) >> 16;
        const int32_t mag = dqs < 0 ? -dqs : dqs;

        // 5. Transition: only when a tone was detected.
        const bool tr = mag > (td_ != 0 ? dqthr : INT32_MAX);

        // 6. Reconstruction and predictor update.
        const int32_t dqsez = sez + dqs;
        const int32_t sr = se + dqs;
        // Within +-32767, bit 15 of sr is its sign and the magnitude its absolute value; beyond,
        // the floating form takes bit 15 and the 32-bit value as they are.
        int32_t sr1;
        if (__builtin_expect(static_cast<uint32_t>(sr + 32767) < 65535u, 1)) {
            sr1 = FloatOf15Fast(sr < 0 ? 1 : 0, sr < 0 ? -sr : sr);
        } else {
            const int32_t srSign = (sr >> 15) & 1;
            sr1 = FloatOf32(srSign, srSign ? -sr : sr);
        }

        // UPB on lanes 2..7: +-128 by the agreement of the signs, 0 for a zero difference.
        const __m256i laneStep = _mm256_and_si256(quantizedLanes, Load(k->zeroLaneSteps));
        const __m256i u = _mm256_sign_epi32(
            laneStep,
            _mm256_or_si256(_mm256_xor_si256(pastSign, _mm256_slli_epi32(quantizedLanes, kEntrySignToBit31)), one));
        const __m256i zeroCoef =
            _mm256_add_epi32(_mm256_sub_epi32(coef_, _mm256_srai_epi32(coef_, kUpbShift)), u);

        // UPA2, LIMC, UPA1, LIMD: pick the candidate pair of this sample's case.
        int32_t tdp;
        if (__builtin_expect(static_cast<uint32_t>(dqsez + 32768) < 65536u, 1)) {
            // Lanes 0, 1 of the three candidate pairs; the sign of DQSEZ picks between pk0 = 0
            // and -1, DQSEZ = 0 picks the pair without update.
            const __m256 ifPositive = _mm256_castsi256_ps(candidates);
            const __m256 ifNegative = _mm256_castsi256_ps(_mm256_shuffle_epi32(candidates, 0xEE));
            const __m256 ifZero =
                _mm256_castsi256_ps(_mm256_castsi128_si256(_mm256_extracti128_si256(candidates, 1)));
            const __m256i dqsezLanes = _mm256_add_epi32(
                _mm256_set1_epi32(sez), _mm256_srai_epi32(reconstructedLanes, 16));
            const __m256 bySign = _mm256_blendv_ps(ifPositive, ifNegative, _mm256_castsi256_ps(dqsezLanes));
            const __m256i pole = _mm256_castps_si256(_mm256_blendv_ps(
                bySign, ifZero, _mm256_castsi256_ps(_mm256_cmpeq_epi32(dqsezLanes, _mm256_setzero_si256()))));
            coef_ = _mm256_blend_epi32(zeroCoef, pole, kPoleLanes);
            pk2_ = pk1_;
            pk1_ = _mm256_srai_epi32(dqsezLanes, 15);
            const int32_t toneMask = _mm256_movemask_ps(_mm256_castsi256_ps(
                _mm256_cmpgt_epi32(Load(k->tdThreshold), pole)));
            tdp = (toneMask >> 1) & 1;
        } else {
            __m256i coef = _mm256_blend_epi32(zeroCoef, coef_, kPoleLanes);
            const int32_t pk0 = dqsez >> 15;
            tdp = PoleUpdateExact(&coef, pk0, dqsez == 0, _mm256_cvtsi256_si32(pk1_),
                                  _mm256_cvtsi256_si32(pk2_)) < kTdThreshold
                      ? 1
                      : 0;
            coef_ = coef;
            pk2_ = pk1_;
            pk1_ = _mm256_set1_epi32(pk0);
        }
        if (__builtin_expect(tr, 0)) {
            coef_ = _mm256_setzero_si256();
            tdp = 0;
        }
        td_ = tdp;
        // SR2 takes SR1, DQ2..DQ6 take DQ1..DQ5; the new SR1 and DQ1 enter lanes 0 and 2.
        // The difference is ready before the signal: it goes in first, the signal is inserted last.
        past_ = _mm256_blend_epi32(
            _mm256_blend_epi32(_mm256_permutevar8x32_epi32(past_, Load(k->pastShift)),
                               reconstructedLanes, kNewDifferenceLane),
            _mm256_castsi128_si256(_mm_cvtsi32_si128(sr1)), kNewSignalLane);

        // 8. Adaptation speed control.
        dms_ += (entry.fShort - dms_) >> 5;
        dml_ += (entry.fLong - dml_) >> 7;
        const int32_t spread = 4 * dms_ - dml_;
        const int32_t absSpread = spread < 0 ? -spread : spread;
        const int32_t ax = ((y >= 1536) & (absSpread < (dml_ >> 3)) & (tdp == 0)) ? 0 : 512;
        ap_ = tr ? 256 : ap_ + ((ax - ap_) >> 4);

        // 9. Scale factor adaptation.
        yu_ = Clamp(y + ((entry.w - y) >> 5), kYuMin, kYuMax);
        yl_ += ((yu_ << 6) - yl_) >> 6;

        if constexpr (Encode)
            return code;
        else
            return Clamp(sr, -8192, 8191) * 4;
    }

    __m256i coef_; // A1, A2, B1..B6
    __m256i past_; // SR1, SR2, DQ1..DQ6 in the floating format
    __m256i pk1_;  // pk1 in every lane
    __m256i pk2_;  // pk2 in every lane
    int32_t ap_, dml_, dms_, td_, yl_, yu_;
};

} // namespace

void PackCodesAvx2(G726State *state, const int16_t *samples, uint8_t *payload, int n)
{
    switch (state->bits) {
    case 2:
        PackBlock<2, Avx2Coder<2>>(state, samples, payload, n);
        break;
    case 3:
        PackBlock<3, Avx2Coder<3>>(state, samples, payload, n);
        break;
    case 4:
        PackBlock<4, Avx2Coder<4>>(state, samples, payload, n);
        break;
    default:
        PackBlock<5, Avx2Coder<5>>(state, samples, payload, n);
        break;
    }
}

void UnpackCodesAvx2(G726State *state, const uint8_t *payload, int16_t *samples, int nbytes)
{
    switch (state->bits) {
    case 2:
        UnpackBlock<2, Avx2Coder<2>>(state, payload, samples, nbytes);
        break;
    case 3:
        UnpackBlock<3, Avx2Coder<3>>(state, payload, samples, nbytes);
        break;
    case 4:
        UnpackBlock<4, Avx2Coder<4>>(state, payload, samples, nbytes);
        break;
    default:
        UnpackBlock<5, Avx2Coder<5>>(state, payload, samples, nbytes);
        break;
    }
}

} // namespace orvo::voice::g726

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif // ORVO_G726_HAVE_AVX2
