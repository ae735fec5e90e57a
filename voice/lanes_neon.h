// NEON lane operations for the multi-channel kernels: four 32-bit lanes. Included only by the
// file that instantiates the NEON kernels, inside its anonymous namespace.
#pragma once

#include <arm_neon.h>

#include <cstdint>

struct NeonLanes : ScalarTranspose<4> {
    static constexpr int kWidth = 4;
    using V = int32x4_t;

    static V Splat(int32_t x) { return vdupq_n_s32(x); }
    static V Load(const int32_t *p) { return vld1q_s32(p); }
    static void Store(int32_t *p, V a) { vst1q_s32(p, a); }
    static V Add(V a, V b) { return vaddq_s32(a, b); }
    static V Sub(V a, V b) { return vsubq_s32(a, b); }
    static V And(V a, V b) { return vandq_s32(a, b); }
    static V Or(V a, V b) { return vorrq_s32(a, b); }
    static V Xor(V a, V b) { return veorq_s32(a, b); }
    static V AndNot(V mask, V b) { return vbicq_s32(b, mask); }
    static V Shl(V a, int n) { return vshlq_s32(a, vdupq_n_s32(n)); }
    static V Sar(V a, int n) { return vshlq_s32(a, vdupq_n_s32(-n)); }
    static V Shr(V a, int n)
    {
        return vreinterpretq_s32_u32(vshlq_u32(vreinterpretq_u32_s32(a), vdupq_n_s32(-n)));
    }
    static V ShlV(V a, V n) { return vshlq_s32(a, n); }
    static V SarV(V a, V n) { return vshlq_s32(a, vnegq_s32(n)); }
    static V Min(V a, V b) { return vminq_s32(a, b); }
    static V Max(V a, V b) { return vmaxq_s32(a, b); }
    static V Gt(V a, V b) { return vreinterpretq_s32_u32(vcgtq_s32(a, b)); }
    static V Eq(V a, V b) { return vreinterpretq_s32_u32(vceqq_s32(a, b)); }
    static V Select(V mask, V a, V b) { return vbslq_s32(vreinterpretq_u32_s32(mask), a, b); }
    // The IEEE single-precision bits of a value below 2^24, converted exactly.
    static V FloatBits(V a) { return vreinterpretq_s32_f32(vcvtq_f32_s32(a)); }
    static V Abs(V a) { return vabsq_s32(a); }
    static V NegateWhereNegative(V a, V sign, V)
    {
        const V mask = vshrq_n_s32(sign, 31);
        return vsubq_s32(veorq_s32(a, mask), mask);
    }
    // Negates the lanes of `a` where `sign` is negative (never zero).
    static V ApplySign(V a, V sign)
    {
        const V mask = vshrq_n_s32(sign, 31);
        return vsubq_s32(veorq_s32(a, mask), mask);
    }
    static V MulLo(V a, V b) { return vmulq_s32(a, b); }
    static V MulAddHalves(V a, V b)
    {
        const V low = vmulq_s32(vandq_s32(a, vdupq_n_s32(0xFFFF)), vandq_s32(b, vdupq_n_s32(0xFFFF)));
        return vmlaq_s32(low, vshrq_n_s32(a, 16), vshrq_n_s32(b, 16));
    }
    static V BitLength(V a) { return vsubq_s32(vdupq_n_s32(32), vclzq_s32(a)); }
    static V Gather(const int32_t *table, V index)
    {
        alignas(16) int32_t at[kWidth];
        vst1q_s32(at, index);
        const int32_t values[kWidth] = {table[at[0]], table[at[1]], table[at[2]], table[at[3]]};
        return vld1q_s32(values);
    }
    static V Lookup8(const int32_t *table, V index) { return Gather(table, vandq_s32(index, vdupq_n_s32(7))); }
    // Bit length and top six bits of the magnitude; the value itself gives the sign.
    template <int At>
    static void LengthAndTop6(V a, V, V, V extra, V &length, V &top6, V &sign)
    {
        const V m = vabsq_s32(a);
        length = BitLength(m);
        top6 = vorrq_s32(vshlq_n_s32(vshlq_s32(vshlq_n_s32(m, 6), vnegq_s32(length)), At), extra);
        sign = a;
    }
    static V SubLength(V x, V length) { return vsubq_s32(x, length); }
    static V TruncateFloat(V bits) { return vcvtq_s32_f32(vreinterpretq_f32_s32(bits)); }
    static V AddHalves(V a, V b)
    {
        return vreinterpretq_s32_s16(vaddq_s16(vreinterpretq_s16_s32(a), vreinterpretq_s16_s32(b)));
    }
    static V SubHalves(V a, V b)
    {
        return vreinterpretq_s32_s16(vsubq_s16(vreinterpretq_s16_s32(a), vreinterpretq_s16_s32(b)));
    }
    template <int Lo, int Hi>
    static V SarHalves(V a)
    {
        // Negative counts shift right; the high halves' count sits in the upper half of each lane.
        const int16x8_t counts = vreinterpretq_s16_s32(vdupq_n_s32(static_cast<int32_t>(
            (static_cast<uint32_t>(-Hi) << 16) | (static_cast<uint32_t>(-Lo) & 0xFFFFu))));
        return vreinterpretq_s32_s16(vshlq_s16(vreinterpretq_s16_s32(a), counts));
    }
    static bool AnyAnd(V a, V b) { return Any(vandq_s32(a, b)); }
    static bool Any(V a) { return vmaxvq_u32(vreinterpretq_u32_s32(a)) != 0; }
};
