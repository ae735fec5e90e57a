// AVX2 lane operations for the multi-channel kernels: eight 32-bit lanes. Included only by the
// file that instantiates the AVX2 kernels, after its instruction-set target is switched on and
// inside its anonymous namespace.
#pragma once

#include <immintrin.h>

#include <cstdint>

struct Avx2Lanes {
    static constexpr int kWidth = 8;
    using V = __m256i;

    static V Splat(int32_t x) { return _mm256_set1_epi32(x); }
    static V Load(const int32_t *p) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(p)); }
    static void Store(int32_t *p, V a) { _mm256_store_si256(reinterpret_cast<__m256i *>(p), a); }
    static V Add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V AndNot(V mask, V b) { return _mm256_andnot_si256(mask, b); }
    static V Shl(V a, int n) { return _mm256_slli_epi32(a, n); }
    static V Sar(V a, int n) { return _mm256_srai_epi32(a, n); }
    static V Shr(V a, int n) { return _mm256_srli_epi32(a, n); }
    static V ShlV(V a, V n) { return _mm256_sllv_epi32(a, n); }
    static V SarV(V a, V n) { return _mm256_srav_epi32(a, n); }
    static V Min(V a, V b) { return _mm256_min_epi32(a, b); }
    static V Max(V a, V b) { return _mm256_max_epi32(a, b); }
    static V Gt(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
    static V Eq(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
    static V Select(V mask, V a, V b) { return _mm256_blendv_epi8(b, a, mask); }
    // The IEEE single-precision bits of a value below 2^24, converted exactly.
    static V FloatBits(V a) { return _mm256_castps_si256(_mm256_cvtepi32_ps(a)); }
    static V Abs(V a) { return _mm256_abs_epi32(a); }
    // sign_epi32 also zeroes where its second operand is 0; OR-ing 1 keeps every sign and no zero.
    static V NegateWhereNegative(V a, V sign, V one) { return _mm256_sign_epi32(a, _mm256_or_si256(sign, one)); }
    // Negates the lanes of `a` where `sign` is negative; `sign` is never zero.
    static V ApplySign(V a, V sign) { return _mm256_sign_epi32(a, sign); }
    static V MulLo(V a, V b) { return _mm256_mullo_epi32(a, b); }
    static V MulAddHalves(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Gather(const int32_t *table, V index) { return _mm256_i32gather_epi32(table, index, 4); }
    // table[index & 7] for an eight-entry table.
    static V Lookup8(const int32_t *table, V index)
    {
        return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(table)), index);
    }
    // For a value of either sign below 2^24 in magnitude, from its float conversion: the bit
    // length of the magnitude in the low byte (the sign stands in the byte above, which
    // SubLength drops), the five bits after the magnitude's leading one placed at bit At
    // (`mask5` is 31 << At) and OR-ed with `extra` (which holds the leading one, 32 << At, also for
    // zero), and the float itself as `sign`: the value's sign in bit 31, bit 0 clear. The float's
    // exponent is the bit length plus 126 and its mantissa starts with the five bits, at bit 18.
    template <int At>
    static void LengthAndTop6(V a, V bias126, V mask5, V extra, V &length, V &top6, V &sign)
    {
        const __m256i f = _mm256_castps_si256(_mm256_cvtepi32_ps(a));
        length = _mm256_subs_epu8(_mm256_srli_epi32(f, 23), bias126);
        static_assert(At >= 18, "the five bits are placed at or above where the float holds them");
        __m256i placed = f;
        if constexpr (At > 18)
            placed = _mm256_slli_epi32(f, At - 18);
        top6 = _mm256_or_si256(_mm256_and_si256(placed, mask5), extra);
        sign = f;
    }
    // x - length for a LengthAndTop6 length not above x, where x is below 256.
    static V SubLength(V x, V length) { return _mm256_subs_epu8(x, length); }
    // The integer part of positive floats given by their bits.
    static V TruncateFloat(V bits) { return _mm256_cvttps_epi32(_mm256_castsi256_ps(bits)); }
    // Lanes as two 16-bit halves each.
    static V AddHalves(V a, V b) { return _mm256_add_epi16(a, b); }
    static V SubHalves(V a, V b) { return _mm256_sub_epi16(a, b); }
    // The low halves shifted right by Lo and the high ones by Hi (arithmetic, 2 to 15): the high
    // half of a product with 2^(16 - shift).
    template <int Lo, int Hi>
    static V SarHalves(V a)
    {
        static_assert(Lo >= 2 && Hi >= 2 && Lo <= 15 && Hi <= 15, "the multipliers are positive 16-bit values");
        return _mm256_mulhi_epi16(a, _mm256_set1_epi32((1 << (16 - Lo)) | (1 << (16 - Hi)) << 16));
    }
    static bool AnyAnd(V a, V b) { return !_mm256_testz_si256(a, b); }
    static bool Any(V a) { return !_mm256_testz_si256(a, a); }

    // Eight rows of the lane-interleaved block from eight samples of each lane's own buffer, and
    // back: an 8 x 8 transpose of 32-bit values.
    static void Transpose(__m256i &r0, __m256i &r1, __m256i &r2, __m256i &r3, __m256i &r4, __m256i &r5,
                          __m256i &r6, __m256i &r7)
    {
        const __m256i t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpackhi_epi32(r0, r1);
        const __m256i t2 = _mm256_unpacklo_epi32(r2, r3), t3 = _mm256_unpackhi_epi32(r2, r3);
        const __m256i t4 = _mm256_unpacklo_epi32(r4, r5), t5 = _mm256_unpackhi_epi32(r4, r5);
        const __m256i t6 = _mm256_unpacklo_epi32(r6, r7), t7 = _mm256_unpackhi_epi32(r6, r7);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
        r0 = _mm256_permute2x128_si256(u0, u4, 0x20);
        r1 = _mm256_permute2x128_si256(u1, u5, 0x20);
        r2 = _mm256_permute2x128_si256(u2, u6, 0x20);
        r3 = _mm256_permute2x128_si256(u3, u7, 0x20);
        r4 = _mm256_permute2x128_si256(u0, u4, 0x31);
        r5 = _mm256_permute2x128_si256(u1, u5, 0x31);
        r6 = _mm256_permute2x128_si256(u2, u6, 0x31);
        r7 = _mm256_permute2x128_si256(u3, u7, 0x31);
    }
    static constexpr int kTransposeRows = 8;
    static void ColumnsToRows(const int16_t *const *columns, int t, int32_t *rows)
    {
        __m256i r[8];
        for (int l = 0; l < 8; ++l)
            r[l] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(columns[l] + t)));
        Transpose(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
        for (int k = 0; k < 8; ++k)
            Store(rows + k * kWidth, r[k]);
    }
    // The rows hold 16-bit values.
    static void RowsToColumns(const int32_t *rows, int t, int16_t *const *columns)
    {
        __m256i r[8];
        for (int k = 0; k < 8; ++k)
            r[k] = Load(rows + k * kWidth);
        Transpose(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
        for (int l = 0; l < 8; ++l)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(columns[l] + t),
                             _mm_packs_epi32(_mm256_castsi256_si128(r[l]), _mm256_extracti128_si256(r[l], 1)));
    }
};
