// G.726 block coder on AVX2 with BMI2 and LZCNT.
//
// The six zero-predictor products (B1..B6 times DQ1..DQ6) run as one 8-lane vector FMULT each
// sample: coefficients and past differences stay in two vector registers for the whole block, the
// coefficient's exponent and mantissa come from a float conversion (exact below 2^24), and the
// per-lane shift is a variable shift. The two pole products, the quantizer and the adaptation run
// on scalar registers with leading-zero counts and no branches but the rare transition case.
// Lanes 6 and 7 hold a zero coefficient and a zero past value, whose product is exactly 0.
//
// Only this file's own functions carry the instruction-set target; the shared headers included
// first are compiled as everywhere else.
#include "voice/g726_avx2.h"

#if defined(ORVO_G726_HAVE_AVX2)

#include <immintrin.h>

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

constexpr int kZeroLanes = 6;                 // lanes 0..5: B1..B6 with DQ1..DQ6
constexpr int32_t kUpbStep = 128;             // UPB coefficient step
constexpr int32_t kFloatBiasedOne = 126;      // float exponent field of 1.0, minus one
constexpr int32_t kProductShiftBase = 30;     // FMULT: (mant << 11) >> (30 - exp)
constexpr int32_t kMantissaRound = 48;        // FMULT mantissa rounding
constexpr int32_t kSignToBit31 = 21;          // bit 10 of the floating format to bit 31
constexpr int32_t kY2Min = kYuMin >> 2;       // y >> 2 of every reachable state
constexpr int32_t kY2Max = kYuMax >> 2;

template <typename T>
inline T Min(T a, T b)
{
    return b < a ? b : a;
}

inline int32_t BitLength(int32_t m) { return 32 - static_cast<int32_t>(_lzcnt_u32(static_cast<uint32_t>(m))); }

inline int32_t ShiftSignToBit31(int32_t floatValue)
{
    return static_cast<int32_t>(static_cast<uint32_t>(floatValue) << kSignToBit31);
}

// Floating form of a magnitude below 2^15 with its sign (0 or 1).
inline int32_t FloatOf15Fast(int32_t sign, int32_t m)
{
    const int32_t e = BitLength(m);
    return (sign << 10) + (e << 6) + (((m << 6) >> e) | kFloatZero);
}

inline int32_t FmultScalar(int32_t an, int32_t srn)
{
    const int32_t q = an >> 2;
    const int32_t anMag = q < 0 ? -q : q;
    const int32_t anExp = BitLength(anMag);
    const int32_t anMant = ((anMag << 6) >> anExp) | kFloatZero;
    const int32_t exp = anExp + ((srn >> 6) & 15);
    const int32_t mant = ((srn & 63) * anMant + kMantissaRound) >> 4;
    const int32_t mag = ((mant << 11) >> ((kProductShiftBase - exp) & 31)) & kDqMagnitudeMask;
    const int32_t negative = (ShiftSignToBit31(srn) ^ an) >> 31;
    return (mag ^ negative) - negative;
}

template <int Bits>
class Avx2Coder {
public:
    explicit Avx2Coder(const G726State &s)
        : coef_(_mm256_setr_epi32(s.b1, s.b2, s.b3, s.b4, s.b5, s.b6, 0, 0)),
          past_(_mm256_setr_epi32(s.dq1, s.dq2, s.dq3, s.dq4, s.dq5, s.dq6, 0, 0)), a1_(s.a1),
          a2_(s.a2), ap_(s.ap), dml_(s.dml), dms_(s.dms), pk1_(s.pk1), pk2_(s.pk2), sr1_(s.sr1),
          sr2_(s.sr2), td_(s.td), yl_(s.yl), yu_(s.yu)
    {
    }

    void Save(G726State &s) const
    {
        alignas(32) int32_t coef[8];
        alignas(32) int32_t past[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(coef), coef_);
        _mm256_store_si256(reinterpret_cast<__m256i *>(past), past_);
        s.b1 = coef[0];
        s.b2 = coef[1];
        s.b3 = coef[2];
        s.b4 = coef[3];
        s.b5 = coef[4];
        s.b6 = coef[5];
        s.dq1 = past[0];
        s.dq2 = past[1];
        s.dq3 = past[2];
        s.dq4 = past[3];
        s.dq5 = past[4];
        s.dq6 = past[5];
        s.a1 = a1_;
        s.a2 = a2_;
        s.ap = ap_;
        s.dml = dml_;
        s.dms = dms_;
        s.pk1 = pk1_;
        s.pk2 = pk2_;
        s.sr1 = sr1_;
        s.sr2 = sr2_;
        s.td = td_;
        s.yl = yl_;
        s.yu = yu_;
    }

    __attribute__((always_inline)) int32_t Encode(int16_t sample) { return Step<true>(sample); }
    __attribute__((always_inline)) int16_t Decode(int32_t code) { return static_cast<int16_t>(Step<false>(code)); }

private:
    template <bool Encode>
    inline __attribute__((always_inline)) int32_t Step(int32_t value)
    {
        constexpr int32_t kAll = (1 << Bits) - 1;
        constexpr int32_t kUpbShift = Bits == 5 ? 9 : 8;
        const AdaptEntry *adapt = AdaptTable<Bits>::kEntries.data();

        // 1. Scale factor: al = 64 above ap = 256, else ap >> 2 (which is then at most 64).
        const int32_t al = Min(ap_ >> 2, 64);
        const int32_t yl6 = yl_ >> 6;
        const int32_t y = yl6 + ((yu_ - yl6) * al) / 64;
        const int32_t y2 = y >> 2;
        // 5 (threshold only): DQTHR from the previous yl, by table.
        const int32_t dqthr =
            kDqThresholds[Min(static_cast<uint32_t>(yl_) >> 10, static_cast<uint32_t>(kDqThresholdSlots - 1))];

        // 2. Zero predictor on eight lanes.
        const __m256i q = _mm256_srai_epi32(coef_, 2);
        const __m256i anMag = _mm256_abs_epi32(q);
        const __m256i asFloat = _mm256_castps_si256(_mm256_cvtepi32_ps(anMag));
        const __m256i anExp = _mm256_subs_epu16(_mm256_srli_epi32(asFloat, 23),
                                                _mm256_set1_epi32(kFloatBiasedOne));
        const __m256i c63 = _mm256_set1_epi32(63);
        const __m256i anMant = _mm256_and_si256(
            _mm256_or_si256(_mm256_srli_epi32(asFloat, 18), _mm256_set1_epi32(kFloatZero)), c63);
        const __m256i pastExp = _mm256_and_si256(_mm256_srli_epi32(past_, 6), _mm256_set1_epi32(15));
        const __m256i pastMant = _mm256_and_si256(past_, c63);
        const __m256i pastSign = _mm256_slli_epi32(past_, kSignToBit31);
        const __m256i exp = _mm256_add_epi32(anExp, pastExp);
        const __m256i mant = _mm256_slli_epi32(
            _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi16(pastMant, anMant),
                                               _mm256_set1_epi32(kMantissaRound)),
                              4),
            11);
        const __m256i mag8 = _mm256_and_si256(
            _mm256_srlv_epi32(mant, _mm256_sub_epi32(_mm256_set1_epi32(kProductShiftBase), exp)),
            _mm256_set1_epi32(kDqMagnitudeMask));
        const __m256i one = _mm256_set1_epi32(1);
        const __m256i products =
            _mm256_sign_epi32(mag8, _mm256_or_si256(_mm256_xor_si256(coef_, pastSign), one));
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(products),
                                    _mm256_extracti128_si256(products, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        const int32_t z = _mm_cvtsi128_si32(sum);
        const int32_t sez = z >> 1;
        const int32_t se = (z + (FmultScalar(a1_, sr1_) + FmultScalar(a2_, sr2_))) >> 1;

        // 3. Code and magnitude index.
        int32_t code;
        int32_t index;
        int32_t dqSign;
        if constexpr (Encode) {
            // y >> 2 of a reachable state is within [136, 1280], so dl - y2 stays in the table;
            // the clamp only guards the index against a record that was never reset.
            const int32_t *row = QuantizerTable<Bits>::kEntries.data() + kDlnOffset -
                                 Clamp(y2, kY2Min, kY2Max);
            const int32_t d = (static_cast<int16_t>(value) >> 2) - se;
            const int32_t ds = d >> 31;
            const int32_t m = ((d ^ ds) - ds) & kDqMagnitudeMask;
            const int32_t e = BitLength(m >> 1);
            const int32_t dl = (e << 7) + (((m << 7) >> e) & 127);
            index = row[dl] & 255;
            if constexpr (Bits == 2)
                dqSign = -ds;
            else
                dqSign = (ds | -static_cast<int32_t>(index == 0)) & 1; // magnitude 0: all ones
            code = (index ^ -dqSign) & kAll; // kAll - index for a negative difference
        } else {
            code = value & kAll;
            dqSign = code >> (Bits - 1);
            index = (code ^ -dqSign) & kAll;
        }
        const AdaptEntry &entry = adapt[index];

        // 4. Inverse quantizer.
        const int32_t dql = entry.dqln + y2;
        const int32_t dex = (dql >> 7) & 15;
        const int32_t dqt = 128 + (dql & 127);
        const int32_t mag = dql < 0 ? 0 : (dqt << 7) >> ((14 - dex) & 31);

        // 5. Transition.
        const bool tr = (td_ != 0) & (mag > dqthr);

        // 6. Reconstruction and predictor update.
        const int32_t dqs = (mag ^ -dqSign) + dqSign;
        const int32_t dqsez = sez + dqs;
        const int32_t pk0 = dqsez >> 15;
        const bool sigpk = dqsez == 0;
        const int32_t sr = se + dqs;
        const int32_t srSign = (sr >> 15) & 1;
        const int32_t srMag = (sr ^ -srSign) + srSign;
        const int32_t sr1 = __builtin_expect(static_cast<uint32_t>(srMag) < 0x8000u, 1)
                                ? FloatOf15Fast(srSign, srMag)
                                : FloatOf32(srSign, srMag);
        const int32_t dq0 = FloatOf15Fast(dqSign, mag);

        // UPB on the six lanes: +-128 by the agreement of the signs, 0 for a zero difference.
        const int32_t step = mag != 0 ? kUpbStep : 0;
        const __m256i signAndStep = _mm256_set1_epi32(
            static_cast<int32_t>((static_cast<uint32_t>(dqSign) << 31) | static_cast<uint32_t>(step)));
        const __m256i laneStep = _mm256_and_si256(
            signAndStep, _mm256_setr_epi32(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0));
        const __m256i u = _mm256_sign_epi32(
            laneStep, _mm256_or_si256(_mm256_xor_si256(pastSign, signAndStep), one));
        coef_ = _mm256_add_epi32(_mm256_sub_epi32(coef_, _mm256_srai_epi32(coef_, kUpbShift)), u);

        // UPA2, LIMC, UPA1, LIMD. fa1 is 4 * a1 with a1 limited to +-8191.
        const int32_t fa1 = Clamp(a1_, -8191, 8191) * 4;
        const bool samePk1 = pk0 == pk1_;
        const int32_t fa = samePk1 ? -fa1 : fa1;
        const int32_t g = sigpk ? 0 : ((pk0 == pk2_ ? 16384 : -16384) + fa) >> 7;
        int32_t a2p = Clamp(a2_ - (a2_ >> 7) + g, -12288, 12288);
        const int32_t h = sigpk ? 0 : (samePk1 ? 192 : -192);
        int32_t a1 = Clamp(a1_ - (a1_ >> 8) + h, a2p - 15360, 15360 - a2p);
        if (__builtin_expect(tr, 0)) {
            coef_ = _mm256_setzero_si256();
            a1 = a2p = 0;
        }
        a1_ = a1;
        a2_ = a2p;
        pk2_ = pk1_;
        pk1_ = pk0;
        sr2_ = sr1_;
        sr1_ = sr1;
        // DQ6 drops out, DQ1..DQ5 move up a lane, the new difference enters lane 0; 6, 7 stay 0.
        past_ = _mm256_blend_epi32(
            _mm256_permutevar8x32_epi32(past_, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 7, 7)),
            _mm256_castsi128_si256(_mm_cvtsi32_si128(dq0)), 1);

        // 7. Tone detector (a2p is 0 after a transition).
        const int32_t tdp = a2p < -11776 ? 1 : 0;
        td_ = tdp;

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

    __m256i coef_; // B1..B6, 0, 0
    __m256i past_; // DQ1..DQ6 in the floating format, 0, 0
    int32_t a1_, a2_, ap_, dml_, dms_, pk1_, pk2_, sr1_, sr2_, td_, yl_, yu_;
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
