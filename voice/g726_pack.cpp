// G.726 block loops: encode and pack codes LSB-first, unpack and decode, and the in-place
// re-ordering between the LSB-first and MSB-first payload layouts.
//
// Eight codes of b bits fill exactly b bytes, so the loops work on groups of eight codes held in
// one 64-bit word and handle the few codes of a last, partial group separately. The coder state
// lives in a local copy for the whole block.
#include <cstring>

#include "voice/g726.h"
#include "voice/g726_kernel.h"

namespace orvo::voice {

namespace {

constexpr int kCodesPerGroup = 8; // eight codes of b bits are b whole bytes
constexpr int kBitsPerByte = 8;

// Little-endian load/store of the low `n` bytes of a 64-bit word.
inline uint64_t LoadLe(const uint8_t *p, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<uint64_t>(p[i]) << (kBitsPerByte * i);
    return v;
}

inline void StoreLe(uint8_t *p, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(v >> (kBitsPerByte * i));
}

template <int Bits>
void PackBlock(G726State *state, const int16_t *samples, uint8_t *payload, int n)
{
    G726State s = *state;
    int i = 0;
    for (; i + kCodesPerGroup <= n; i += kCodesPerGroup) {
        uint64_t group = 0;
        for (int j = 0; j < kCodesPerGroup; ++j)
            group |= static_cast<uint64_t>(g726::Step<Bits, true>(s, samples[i + j])) << (j * Bits);
        StoreLe(payload, group, Bits);
        payload += Bits;
    }
    if (i < n) {
        uint64_t group = 0;
        int used = 0;
        for (; i < n; ++i, used += Bits)
            group |= static_cast<uint64_t>(g726::Step<Bits, true>(s, samples[i])) << used;
        const int whole = used / kBitsPerByte;
        const int rest = used % kBitsPerByte;
        StoreLe(payload, group, whole);
        if (rest != 0) {
            const uint8_t bits = static_cast<uint8_t>(group >> (kBitsPerByte * whole));
            // A byte whose first code straddled into it was written whole (zeros above the codes);
            // a byte begun by a code at its bit 0 keeps what it held above the codes.
            const bool straddled = (kBitsPerByte * whole) % Bits != 0;
            const uint8_t keep = straddled ? 0 : static_cast<uint8_t>(0xFFu << rest);
            payload[whole] = static_cast<uint8_t>((payload[whole] & keep) | bits);
        }
    }
    *state = s;
}

template <int Bits>
void UnpackBlock(G726State *state, const uint8_t *payload, int16_t *samples, int nbytes)
{
    constexpr uint64_t kMask = (1u << Bits) - 1;
    G726State s = *state;
    const int codes = kBitsPerByte * nbytes / Bits;
    int i = 0;
    for (; i + kCodesPerGroup <= codes; i += kCodesPerGroup) {
        const uint64_t group = LoadLe(payload, Bits);
        payload += Bits;
        for (int j = 0; j < kCodesPerGroup; ++j)
            samples[i + j] = static_cast<int16_t>(
                g726::Step<Bits, false>(s, static_cast<int32_t>((group >> (j * Bits)) & kMask)));
    }
    if (i < codes) {
        // Fewer than Bits bytes are left; read only those.
        const int left = nbytes - (i / kCodesPerGroup) * Bits;
        const uint64_t group = LoadLe(payload, left);
        for (int j = 0; i < codes; ++i, ++j)
            samples[i] = static_cast<int16_t>(
                g726::Step<Bits, false>(s, static_cast<int32_t>((group >> (j * Bits)) & kMask)));
    }
    *state = s;
}

// Widths 3 and 5: re-order whole groups of Bits bytes (eight codes) through a 64-bit word.
template <int Bits, bool ToMsb>
void RepackGroups(uint8_t *payload, int nbytes)
{
    constexpr uint64_t kMask = (1u << Bits) - 1;
    constexpr int kGroupBits = Bits * kCodesPerGroup;
    for (int done = 0; done < nbytes; done += Bits, payload += Bits) {
        uint64_t out = 0;
        if constexpr (ToMsb) {
            const uint64_t lsb = LoadLe(payload, Bits);
            for (int j = 0; j < kCodesPerGroup; ++j)
                out |= ((lsb >> (j * Bits)) & kMask) << (kGroupBits - Bits * (j + 1));
            for (int k = 0; k < Bits; ++k)
                payload[k] = static_cast<uint8_t>(out >> (kGroupBits - kBitsPerByte * (k + 1)));
        } else {
            uint64_t msb = 0; // the group read as one big-endian number
            for (int k = 0; k < Bits; ++k)
                msb = (msb << kBitsPerByte) | payload[k];
            for (int j = 0; j < kCodesPerGroup; ++j)
                out |= ((msb >> (kGroupBits - Bits * (j + 1))) & kMask) << (j * Bits);
            StoreLe(payload, out, Bits);
        }
    }
}

// Widths 2 and 4: every byte holds whole codes and the re-ordering is its own inverse: for 4 bits
// the two nibbles swap, for 2 bits the four codes of a byte reverse their order.
template <int Bits>
void RepackBytes(uint8_t *payload, int nbytes)
{
    constexpr uint64_t kNibbleLow = 0x0F0F0F0F0F0F0F0Full;
    constexpr uint64_t kPairLow = 0x3333333333333333ull;
    auto swap = [](uint64_t v) {
        v = ((v & kNibbleLow) << 4) | ((v >> 4) & kNibbleLow);
        if constexpr (Bits == 2)
            v = ((v & kPairLow) << 2) | ((v >> 2) & kPairLow);
        return v;
    };
    int i = 0;
    for (; i + 8 <= nbytes; i += 8) {
        uint64_t v;
        std::memcpy(&v, payload + i, sizeof v);
        v = swap(v);
        std::memcpy(payload + i, &v, sizeof v);
    }
    for (; i < nbytes; ++i)
        payload[i] = static_cast<uint8_t>(swap(payload[i]));
}

template <bool ToMsb>
int Repack(uint8_t *payload, int bits, int16_t nbytes)
{
    if (bits < g726::kMinBits || bits > g726::kMaxBits)
        return -1; // no other code width exists; leave the payload alone
    if ((kBitsPerByte * nbytes) % bits != 0)
        return -1;
    if (nbytes <= 0)
        return 0;
    switch (bits) {
    case 2:
        RepackBytes<2>(payload, nbytes);
        break;
    case 3:
        RepackGroups<3, ToMsb>(payload, nbytes);
        break;
    case 4:
        RepackBytes<4>(payload, nbytes);
        break;
    default:
        RepackGroups<5, ToMsb>(payload, nbytes);
        break;
    }
    return 0;
}

} // namespace

void G726_PackCodes(G726State *state, const int16_t *samples, uint8_t *payload, int16_t count)
{
    const int n = count & ~1; // the 16-bit linear format codes sample pairs only
    if (n <= 0)
        return;
    switch (state->bits) {
    case 2:
        PackBlock<2>(state, samples, payload, n);
        break;
    case 3:
        PackBlock<3>(state, samples, payload, n);
        break;
    case 4:
        PackBlock<4>(state, samples, payload, n);
        break;
    default:
        PackBlock<5>(state, samples, payload, n);
        break;
    }
}

void G726_UnpackCodes(G726State *state, const uint8_t *payload, int16_t *samples, int16_t nbytes)
{
    if (nbytes <= 0)
        return;
    switch (state->bits) {
    case 2:
        UnpackBlock<2>(state, payload, samples, nbytes);
        break;
    case 3:
        UnpackBlock<3>(state, payload, samples, nbytes);
        break;
    case 4:
        UnpackBlock<4>(state, payload, samples, nbytes);
        break;
    default:
        UnpackBlock<5>(state, payload, samples, nbytes);
        break;
    }
}

int G726_LsbToMsb(uint8_t *payload, int bits, int16_t nbytes) { return Repack<true>(payload, bits, nbytes); }
int G726_MsbToLsb(uint8_t *payload, int bits, int16_t nbytes) { return Repack<false>(payload, bits, nbytes); }

} // namespace orvo::voice
