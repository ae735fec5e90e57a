// G.726 block entry points: encode and pack codes LSB-first, unpack and decode (each on the vector
// coder where the CPU allows it, else on the portable one), and the in-place re-ordering between
// the LSB-first and MSB-first payload layouts.
#include <cstring>

#include "voice/g726.h"
#include "voice/g726_avx2.h"
#include "voice/g726_blocks.h"
#include "voice/g726_kernel.h"
#include "voice/simd.h"

namespace orvo::voice {

namespace {

using g726::kBitsPerByte;
using g726::kCodesPerGroup;
using g726::LoadLe;
using g726::StoreLe;

// The portable coder: the state record copied into a local for the block.
template <int Bits>
class ScalarCoder {
public:
    explicit ScalarCoder(const G726State &state) : s_(state) {}
    int32_t Encode(int16_t sample) { return g726::Step<Bits, true>(s_, sample); }
    int16_t Decode(int32_t code) { return static_cast<int16_t>(g726::Step<Bits, false>(s_, code)); }
    void Save(G726State &state) const { state = s_; }

private:
    G726State s_;
};

// The vector coder also needs BMI1/BMI2 and LZCNT, which every AVX2 processor has; the bits are
// checked all the same (once), in case a virtual machine hides them.
bool UseAvx2Coder()
{
    if (!g726::kHaveAvx2Coder || ActiveSimdLevel() != SimdLevel::Avx2)
        return false;
#if defined(ORVO_G726_HAVE_AVX2)
    static const bool bitManipulation = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return bitManipulation;
#else
    return false;
#endif
}

template <int Bits>
void PackScalar(G726State *state, const int16_t *samples, uint8_t *payload, int n)
{
    g726::PackBlock<Bits, ScalarCoder<Bits>>(state, samples, payload, n);
}

template <int Bits>
void UnpackScalar(G726State *state, const uint8_t *payload, int16_t *samples, int nbytes)
{
    g726::UnpackBlock<Bits, ScalarCoder<Bits>>(state, payload, samples, nbytes);
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
            const uint64_t lsb = LoadLe<uint64_t>(payload, Bits);
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
            StoreLe<uint64_t>(payload, out, Bits);
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
    if (UseAvx2Coder()) {
        g726::PackCodesAvx2(state, samples, payload, n);
        return;
    }
    switch (state->bits) {
    case 2:
        PackScalar<2>(state, samples, payload, n);
        break;
    case 3:
        PackScalar<3>(state, samples, payload, n);
        break;
    case 4:
        PackScalar<4>(state, samples, payload, n);
        break;
    default:
        PackScalar<5>(state, samples, payload, n);
        break;
    }
}

void G726_UnpackCodes(G726State *state, const uint8_t *payload, int16_t *samples, int16_t nbytes)
{
    if (nbytes <= 0)
        return;
    if (UseAvx2Coder()) {
        g726::UnpackCodesAvx2(state, payload, samples, nbytes);
        return;
    }
    switch (state->bits) {
    case 2:
        UnpackScalar<2>(state, payload, samples, nbytes);
        break;
    case 3:
        UnpackScalar<3>(state, payload, samples, nbytes);
        break;
    case 4:
        UnpackScalar<4>(state, payload, samples, nbytes);
        break;
    default:
        UnpackScalar<5>(state, payload, samples, nbytes);
        break;
    }
}

int G726_LsbToMsb(uint8_t *payload, int bits, int16_t nbytes) { return Repack<true>(payload, bits, nbytes); }
int G726_MsbToLsb(uint8_t *payload, int bits, int16_t nbytes) { return Repack<false>(payload, bits, nbytes); }

} // namespace orvo::voice
