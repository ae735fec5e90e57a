// Portable lane operations for the multi-channel kernels: eight 32-bit lanes as a compiler vector
// type (GCC and clang vector extensions), which the compiler lowers to whatever the base
// instruction set has. Included only by the file that instantiates the portable kernels, inside
// its anonymous namespace, so nothing here leaks into another file.
#pragma once

#include <cstdint>
#include <cstring>

struct PortableLanes : ScalarTranspose<8> {
    static constexpr int kWidth = 8;
    typedef int32_t V __attribute__((vector_size(32)));
    typedef uint32_t U __attribute__((vector_size(32)));

    static V Splat(int32_t x) { return V{} + x; }
    static V Load(const int32_t *p)
    {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void Store(int32_t *p, V a) { std::memcpy(p, &a, sizeof a); }
    // Additions, subtractions and products wrap, as the vector instructions do.
    static V Add(V a, V b) { return reinterpret_cast<V>(reinterpret_cast<U>(a) + reinterpret_cast<U>(b)); }
    static V Sub(V a, V b) { return reinterpret_cast<V>(reinterpret_cast<U>(a) - reinterpret_cast<U>(b)); }
    // Negates the lanes of `a` where `sign` is negative (never zero).
    static V ApplySign(V a, V sign) { return sign < 0 ? Sub(V{}, a) : a; }
    static V MulLo(V a, V b) { return reinterpret_cast<V>(reinterpret_cast<U>(a) * reinterpret_cast<U>(b)); }
    static V And(V a, V b) { return a & b; }
    static V Or(V a, V b) { return a | b; }
    static V Xor(V a, V b) { return a ^ b; }
    static V AndNot(V mask, V b) { return ~mask & b; }
    static V Shl(V a, int n) { return reinterpret_cast<V>(reinterpret_cast<U>(a) << n); }
    static V Sar(V a, int n) { return a >> n; }
    static V Shr(V a, int n) { return reinterpret_cast<V>(reinterpret_cast<U>(a) >> n); }
    // Counts 0..31.
    static V ShlV(V a, V n) { return reinterpret_cast<V>(reinterpret_cast<U>(a) << (reinterpret_cast<U>(n) & 31u)); }
    static V SarV(V a, V n) { return a >> (n & 31); }
    static V Min(V a, V b) { return a < b ? a : b; }
    static V Max(V a, V b) { return a > b ? a : b; }
    static V Gt(V a, V b) { return a > b; }
    static V Eq(V a, V b) { return a == b; }
    static V Select(V mask, V a, V b) { return mask != 0 ? a : b; }
    typedef float F __attribute__((vector_size(32)));
    // The IEEE single-precision bits of a value below 2^24, converted exactly.
    static V FloatBits(V a)
    {
        const F f = __builtin_convertvector(a, F);
        V bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    }
    static V Abs(V a) { return a < 0 ? Sub(V{}, a) : a; }
    // Negates the lanes of `a` where `sign` is negative.
    static V NegateWhereNegative(V a, V sign, V) { return sign < 0 ? Sub(V{}, a) : a; }
    // a x (b & 0xFFFF) + (a >> 16) x (b >> 16) for a, b whose halves are below 2^15.
    static V MulAddHalves(V a, V b) { return (a & 0xFFFF) * (b & 0xFFFF) + (a >> 16) * (b >> 16); }
    // Bit length (highest set bit plus one, 0 for 0) of a non-negative value.
    static V BitLength(V a)
    {
        V r;
        for (int i = 0; i < kWidth; ++i)
            r[i] = a[i] == 0 ? 0 : 32 - __builtin_clz(static_cast<uint32_t>(a[i]));
        return r;
    }
    static V Gather(const int32_t *table, V index)
    {
        V r;
        for (int i = 0; i < kWidth; ++i)
            r[i] = table[index[i]];
        return r;
    }
    static V Lookup8(const int32_t *table, V index) { return Gather(table, index & 7); }
    // Bit length and top six bits of the magnitude; the value itself gives the sign.
    template <int At>
    static void LengthAndTop6(V a, V, V, V extra, V &length, V &top6, V &sign)
    {
        const V m = Abs(a);
        length = BitLength(m);
        top6 = (((m << 6) >> length) << At) | extra;
        sign = a;
    }
    static V SubLength(V x, V length) { return Sub(x, length); }
    static V TruncateFloat(V bits)
    {
        F f;
        std::memcpy(&f, &bits, sizeof f);
        return __builtin_convertvector(f, V);
    }
    typedef int16_t H __attribute__((vector_size(32)));
    static V AddHalves(V a, V b)
    {
        return reinterpret_cast<V>(reinterpret_cast<H>(a) + reinterpret_cast<H>(b));
    }
    static V SubHalves(V a, V b)
    {
        return reinterpret_cast<V>(reinterpret_cast<H>(a) - reinterpret_cast<H>(b));
    }
    template <int Lo, int Hi>
    static V SarHalves(V a)
    {
        H h = reinterpret_cast<H>(a);
        for (int i = 0; i < 2 * kWidth; i += 2) {
            h[i] = static_cast<int16_t>(h[i] >> Lo);
            h[i + 1] = static_cast<int16_t>(h[i + 1] >> Hi);
        }
        return reinterpret_cast<V>(h);
    }
    static bool AnyAnd(V a, V b) { return Any(a & b); }
    static bool Any(V a)
    {
        int32_t any = 0;
        for (int i = 0; i < kWidth; ++i)
            any |= a[i];
        return any != 0;
    }
};
