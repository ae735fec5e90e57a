// G.726 block loops over a coder type, shared by the scalar and the vector coders.
//
// A coder is constructed from the state record (it may keep the state in registers), codes one
// sample per Encode/Decode call and writes the record back in Save. Eight codes of b bits fill
// exactly b bytes, so the loops work on groups of eight codes held in one 64-bit word and handle
// the few codes of a last, partial group separately.
//
// Everything here is a template or has internal linkage: the vector coder's file includes this
// header under its own instruction-set target, and no copy may leak into another file.
#pragma once

#include <cstdint>

#include "orvoaudio/voice.h"

namespace orvo::voice::g726 {

inline constexpr int kCodesPerGroup = 8; // eight codes of b bits are b whole bytes
inline constexpr int kBitsPerByte = 8;

// Little-endian load/store of the low `n` bytes of a 64-bit word.
template <typename Word>
static inline Word LoadLe(const uint8_t *p, int n)
{
    Word v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<Word>(p[i]) << (kBitsPerByte * i);
    return v;
}

template <typename Word>
static inline void StoreLe(uint8_t *p, Word v, int n)
{
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(v >> (kBitsPerByte * i));
}

// Encodes n samples (n even, > 0) and packs the codes LSB-first. Whole bytes are written; in a
// last, partial byte the bits above the codes are 0 when a code straddled into it and keep their
// old value when it was begun by a code at its bit 0 (codes merge into such a byte).
template <int Bits, typename Coder>
inline void PackBlock(G726State *state, const int16_t *samples, uint8_t *payload, int n)
{
    Coder coder(*state);
    int i = 0;
    for (; i + kCodesPerGroup <= n; i += kCodesPerGroup) {
        uint64_t group = 0;
#pragma GCC unroll 8
        for (int j = 0; j < kCodesPerGroup; ++j)
            group |= static_cast<uint64_t>(coder.Encode(samples[i + j])) << (j * Bits);
        StoreLe<uint64_t>(payload, group, Bits);
        payload += Bits;
    }
    if (i < n) {
        uint64_t group = 0;
        int used = 0;
        for (; i < n; ++i, used += Bits)
            group |= static_cast<uint64_t>(coder.Encode(samples[i])) << used;
        const int whole = used / kBitsPerByte;
        const int rest = used % kBitsPerByte;
        StoreLe<uint64_t>(payload, group, whole);
        if (rest != 0) {
            const uint8_t bits = static_cast<uint8_t>(group >> (kBitsPerByte * whole));
            const bool straddled = (kBitsPerByte * whole) % Bits != 0;
            const uint8_t keep = straddled ? 0 : static_cast<uint8_t>(0xFFu << rest);
            payload[whole] = static_cast<uint8_t>((payload[whole] & keep) | bits);
        }
    }
    coder.Save(*state);
}

// Decodes floor(8 * nbytes / Bits) codes (nbytes > 0) from an LSB-first payload; reads no byte
// beyond the first nbytes.
template <int Bits, typename Coder>
inline void UnpackBlock(G726State *state, const uint8_t *payload, int16_t *samples, int nbytes)
{
    constexpr uint64_t kMask = (1u << Bits) - 1;
    Coder coder(*state);
    const int codes = kBitsPerByte * nbytes / Bits;
    int i = 0;
    for (; i + kCodesPerGroup <= codes; i += kCodesPerGroup) {
        const uint64_t group = LoadLe<uint64_t>(payload, Bits);
        payload += Bits;
#pragma GCC unroll 8
        for (int j = 0; j < kCodesPerGroup; ++j)
            samples[i + j] = coder.Decode(static_cast<int32_t>((group >> (j * Bits)) & kMask));
    }
    if (i < codes) {
        // Fewer than Bits bytes are left; read only those.
        const int left = nbytes - (i / kCodesPerGroup) * Bits;
        const uint64_t group = LoadLe<uint64_t>(payload, left);
        for (int j = 0; i < codes; ++i, ++j)
            samples[i] = coder.Decode(static_cast<int32_t>((group >> (j * Bits)) & kMask));
    }
    coder.Save(*state);
}

} // namespace orvo::voice::g726
