// A plain, step-by-step G.726 coder and packer used as the oracle for the optimised library code.
// Written for clarity, not speed: every quantity is a 32-bit signed integer, every shift of a
// signed value is arithmetic, and nothing is reduced to 16 bits.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "orvoaudio/voice.h"
#include "voice/g726_tables.h"

namespace orvo::voice::reference {

// Number of the highest set bit plus one, the value taken as a 32-bit pattern (0 for 0).
inline int32_t BitLength(int32_t m)
{
    uint32_t v = static_cast<uint32_t>(m);
    int32_t n = 0;
    while (v != 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Floating format: sign bit 10, exponent bits 6..9, mantissa bits 0..5 (32 for a zero magnitude).
inline int32_t ToFloat(int32_t sign, int32_t m)
{
    const int32_t e = BitLength(m);
    // 64-bit so that a shift by the full width stays an arithmetic shift.
    const int32_t mant = m == 0 ? 32 : static_cast<int32_t>((static_cast<int64_t>(m) * 64) >> e);
    return sign * 1024 + e * 64 + mant;
}

inline int32_t Fmult(int32_t an, int32_t srn)
{
    const int32_t anMag = an >= 0 ? an >> 2 : -(an >> 2);
    const int32_t anExp = BitLength(anMag);
    const int32_t anMant = anMag == 0 ? 32 : (anMag * 64) >> anExp;
    const int32_t exp = anExp + ((srn >> 6) & 15);
    const int32_t mant = ((srn & 63) * anMant + 48) >> 4;
    const int32_t mag = exp <= 26 ? (mant * 128) >> (26 - exp) : (mant << (exp - 19)) & 0x7FFF;
    const bool negative = ((srn >> 10) & 1) != (an < 0 ? 1 : 0);
    return negative ? -mag : mag;
}

inline int32_t Quan(int32_t dln, int32_t ds, int32_t bits)
{
    const int32_t all = (1 << bits) - 1;
    if (bits == 2) {
        const int32_t k = dln >= 261 ? 1 : 0;
        return ds < 0 ? 3 - k : k;
    }
    const g726::RateTable &t = g726::TableFor(bits);
    int32_t k = 0;
    while (t.levels[k] <= dln)
        ++k;
    if (k == 0)
        return all;
    return ds < 0 ? all - k : k;
}

inline void Reset(G726State &s, int bits)
{
    s = G726State{};
    s.format = 2;
    s.bits = bits;
    s.dq1 = s.dq2 = s.dq3 = s.dq4 = s.dq5 = s.dq6 = 32;
    s.sr1 = s.sr2 = 32;
    s.yl = 34816;
    s.yu = 544;
}

inline int32_t CodeSample(G726State &s, int32_t value, bool encode)
{
    const int32_t bits = s.bits;
    const int32_t all = (1 << bits) - 1;
    const g726::RateTable &t = g726::TableFor(bits);

    // 1. Scale factor.
    const int32_t al = s.ap > 256 ? 64 : s.ap >> 2;
    const int32_t diff = s.yu - (s.yl >> 6);
    int32_t prod = diff * al;
    if (diff < 0)
        prod += 63;
    const int32_t y = (s.yl >> 6) + (prod >> 6);

    // 2. Signal estimate.
    const int32_t z = Fmult(s.b1, s.dq1) + Fmult(s.b2, s.dq2) + Fmult(s.b3, s.dq3) +
                      Fmult(s.b4, s.dq4) + Fmult(s.b5, s.dq5) + Fmult(s.b6, s.dq6);
    const int32_t sez = z >> 1;
    const int32_t se = (z + Fmult(s.a1, s.sr1) + Fmult(s.a2, s.sr2)) >> 1;

    // 3. Code.
    int32_t code;
    if (encode) {
        const int32_t sl = static_cast<int16_t>(value) >> 2;
        const int32_t d = sl - se;
        const int32_t ds = d >> 15;
        const int32_t m = std::abs(d) & 0x7FFF;
        int32_t dl = 0;
        if (m != 0) {
            const int32_t e = BitLength(m) - 1;
            dl = e * 128 + (((m * 128) >> e) & 127);
        }
        code = Quan(dl - (y >> 2), ds, bits);
    } else {
        code = value & all;
    }
    const bool codeNegative = ((code >> (bits - 1)) & 1) != 0;
    const int32_t index = codeNegative ? all - code : code;

    // 4. Inverse quantizer.
    const int32_t dql = t.dqln[index] + (y >> 2);
    int32_t mag = 0;
    if (dql >= 0) {
        const int32_t dex = (dql >> 7) & 15;
        const int32_t dqt = 128 + (dql & 127);
        mag = (dqt * 128) >> (14 - dex);
    }
    const int32_t dq = mag + (codeNegative ? 0x8000 : 0);

    // 5. Transition detector.
    const int32_t ylint = s.yl >> 15;
    const int32_t ylfrac = (s.yl >> 10) & 31;
    const int32_t thr = ylint > 9 ? 31 * 1024 : (32 + ylfrac) << ylint;
    const int32_t dqthr = (thr + (thr >> 1)) >> 1;
    const int32_t tr = (s.td != 0 && (dq & 0x7FFF) > dqthr) ? 1 : 0;

    // 6. Predictor update and reconstruction.
    const int32_t dqs = (dq & 0x8000) ? -(dq & 0x7FFF) : dq;
    const int32_t dqsez = sez + dqs;
    const int32_t pk0 = dqsez >> 15;
    const int32_t sigpk = dqsez == 0 ? 1 : 0;
    const int32_t sr = se + dqs;
    s.sr2 = s.sr1;
    const int32_t srSign = (sr >> 15) & 1;
    s.sr1 = ToFloat(srSign, srSign ? -sr : sr);
    const int32_t dq0 = ToFloat((dq >> 15) & 1, dq & 0x7FFF);
    int32_t a2p = 0;
    if (tr) {
        s.a1 = s.a2 = 0;
        s.b1 = s.b2 = s.b3 = s.b4 = s.b5 = s.b6 = 0;
    } else {
        const int32_t shift = bits == 5 ? 9 : 8;
        int32_t *coef[6] = {&s.b1, &s.b2, &s.b3, &s.b4, &s.b5, &s.b6};
        const int32_t past[6] = {s.dq1, s.dq2, s.dq3, s.dq4, s.dq5, s.dq6};
        for (int i = 0; i < 6; ++i) {
            int32_t u = 0;
            if ((dq & 0x7FFF) != 0)
                u = ((dq >> 15) & 1) == ((past[i] >> 10) & 1) ? 128 : -128;
            *coef[i] = *coef[i] - (*coef[i] >> shift) + u;
        }
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
    s.dq6 = s.dq5;
    s.dq5 = s.dq4;
    s.dq4 = s.dq3;
    s.dq3 = s.dq2;
    s.dq2 = s.dq1;
    s.dq1 = dq0;

    // 7. Tone detector.
    const int32_t tdp = (tr == 0 && a2p < -11776) ? 1 : 0;
    s.td = tdp;

    // 8. Adaptation speed control.
    const int32_t f = t.f[index];
    s.dms = s.dms + (((f << 9) - s.dms) >> 5);
    s.dml = s.dml + (((f << 11) - s.dml) >> 7);
    if (tr) {
        s.ap = 256;
    } else {
        const int32_t ax = (y >= 1536 && std::abs(4 * s.dms - s.dml) < (s.dml >> 3) && tdp == 0) ? 0 : 1;
        s.ap = s.ap + (((ax << 9) - s.ap) >> 4);
    }

    // 9. Scale factor adaptation.
    const int32_t w = t.w[index];
    s.yu = Clamp(y + (((w * 32) - y) >> 5), 544, 5120);
    s.yl = s.yl + (((s.yu << 6) - s.yl) >> 6);

    // 10. Result.
    return encode ? code : Clamp(sr, -8192, 8191) * 4;
}

// LSB-first packing with byte-merge semantics, exactly as the frame code does it.
inline void PackCodes(G726State &s, const int16_t *samples, uint8_t *payload, int count)
{
    const int n = count & ~1;
    int q = 0;
    uint8_t *cur = payload;
    for (int i = 0; i < n; ++i) {
        const int code = CodeSample(s, samples[i], true);
        const int mask = (1 << s.bits) - 1;
        *cur = static_cast<uint8_t>((*cur & ~(mask << q)) | (code << q));
        const int oldq = q;
        q += s.bits;
        if (q >= 8) {
            ++cur;
            q -= 8;
            if (q > 0)
                *cur = static_cast<uint8_t>((code << oldq) >> 8);
        }
    }
}

inline void UnpackCodes(G726State &s, const uint8_t *payload, int16_t *samples, int nbytes)
{
    int t = nbytes * 8;
    int q = 0;
    const uint8_t *cur = payload;
    while (t >= s.bits) {
        int w = *cur;
        if (q + s.bits > 8)
            w |= cur[1] << 8;
        *samples++ = static_cast<int16_t>(CodeSample(s, w >> q, false));
        q += s.bits;
        if (q >= 8) {
            ++cur;
            q -= 8;
        }
        t -= s.bits;
    }
}

inline int LsbToMsb(uint8_t *payload, int bits, int nbytes)
{
    int t = 8 * nbytes;
    if (t % bits != 0)
        return -1;
    const int mask = 255 >> (8 - bits);
    int q = 0;
    int a = 0;
    uint8_t *cur = payload;
    while (t >= bits) {
        int w = *cur;
        if (q + bits > 8)
            w |= cur[1] << 8;
        a = (a << bits) | ((w >> q) & mask);
        q += bits;
        t -= bits;
        if (q >= 8) {
            *cur = static_cast<uint8_t>(a >> (q - 8));
            a &= (1 << (q - 8)) - 1;
            ++cur;
            q -= 8;
        }
    }
    return 0;
}

inline int MsbToLsb(uint8_t *payload, int bits, int nbytes)
{
    int t = 8 * nbytes;
    if (t % bits != 0)
        return -1;
    const int mask = (1 << bits) - 1;
    int q = 0;
    int a = 0;
    uint8_t *cur = payload;
    while (t >= bits) {
        int code;
        if (q + bits <= 8) {
            code = ((cur[0] << q) >> (8 - bits)) & mask;
        } else {
            const int w = cur[0] * 256 + cur[1];
            code = ((w << q) >> (16 - bits)) & mask;
        }
        a |= code << q;
        q += bits;
        t -= bits;
        if (q >= 8) {
            *cur = static_cast<uint8_t>(a & 255);
            a >>= 8;
            ++cur;
            q -= 8;
        }
    }
    return 0;
}

} // namespace orvo::voice::reference
