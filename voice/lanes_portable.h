// Portable lane operations for the multi-channel kernels: a fixed number of 32-bit lanes held in a
// plain array, every operation a loop the compiler may vectorise for the base instruction set.
// Included only by the file that instantiates the portable kernels, inside its anonymous
// namespace, so nothing here leaks into another file.
#pragma once

#include <cstdint>

struct PortableLanes {
    static constexpr int kWidth = 8;
    struct alignas(32) V {
        int32_t v[kWidth];
    };

#define ORVO_LANES_MAP(expr)                                                                       \
    V r;                                                                                           \
    for (int i = 0; i < kWidth; ++i)                                                               \
        r.v[i] = (expr);                                                                           \
    return r

    static V Splat(int32_t x) { ORVO_LANES_MAP(x); }
    static V Load(const int32_t *p) { ORVO_LANES_MAP(p[i]); }
    static void Store(int32_t *p, V a)
    {
        for (int i = 0; i < kWidth; ++i)
            p[i] = a.v[i];
    }
    static V Add(V a, V b) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) + static_cast<uint32_t>(b.v[i]))); }
    static V Sub(V a, V b) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) - static_cast<uint32_t>(b.v[i]))); }
    static V And(V a, V b) { ORVO_LANES_MAP(a.v[i] & b.v[i]); }
    static V Or(V a, V b) { ORVO_LANES_MAP(a.v[i] | b.v[i]); }
    static V Xor(V a, V b) { ORVO_LANES_MAP(a.v[i] ^ b.v[i]); }
    static V AndNot(V mask, V b) { ORVO_LANES_MAP(~mask.v[i] & b.v[i]); }
    static V Shl(V a, int n) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) << n)); }
    static V Sar(V a, int n) { ORVO_LANES_MAP(a.v[i] >> n); }
    static V Shr(V a, int n) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) >> n)); }
    // Counts 0..31.
    static V ShlV(V a, V n) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) << (n.v[i] & 31))); }
    static V SarV(V a, V n) { ORVO_LANES_MAP(a.v[i] >> (n.v[i] & 31)); }
    static V Min(V a, V b) { ORVO_LANES_MAP(a.v[i] < b.v[i] ? a.v[i] : b.v[i]); }
    static V Max(V a, V b) { ORVO_LANES_MAP(a.v[i] > b.v[i] ? a.v[i] : b.v[i]); }
    static V Gt(V a, V b) { ORVO_LANES_MAP(a.v[i] > b.v[i] ? -1 : 0); }
    static V Eq(V a, V b) { ORVO_LANES_MAP(a.v[i] == b.v[i] ? -1 : 0); }
    static V Select(V mask, V a, V b) { ORVO_LANES_MAP(mask.v[i] ? a.v[i] : b.v[i]); }
    static V Abs(V a) { ORVO_LANES_MAP(a.v[i] < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(a.v[i])) : a.v[i]); }
    // Negates the lanes of `a` where `sign` is negative.
    static V NegateWhereNegative(V a, V sign)
    {
        ORVO_LANES_MAP(sign.v[i] < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(a.v[i])) : a.v[i]);
    }
    static V MulLo(V a, V b) { ORVO_LANES_MAP(static_cast<int32_t>(static_cast<uint32_t>(a.v[i]) * static_cast<uint32_t>(b.v[i]))); }
    // a x (b & 0xFFFF) + (a >> 16) x (b >> 16) for a, b whose halves are below 2^15.
    static V MulAddHalves(V a, V b)
    {
        ORVO_LANES_MAP((a.v[i] & 0xFFFF) * (b.v[i] & 0xFFFF) + (a.v[i] >> 16) * (b.v[i] >> 16));
    }
    // Bit length (highest set bit plus one, 0 for 0) of a non-negative value.
    static V BitLength(V a) { ORVO_LANES_MAP(a.v[i] == 0 ? 0 : 32 - __builtin_clz(static_cast<uint32_t>(a.v[i]))); }
    static V Gather(const int32_t *table, V index) { ORVO_LANES_MAP(table[index.v[i]]); }
    static bool Any(V a)
    {
        int32_t any = 0;
        for (int i = 0; i < kWidth; ++i)
            any |= a.v[i];
        return any != 0;
    }
#undef ORVO_LANES_MAP
};
