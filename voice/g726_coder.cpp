// G.726 coder entry points: reset and the single-sample step in both directions.
#include "voice/g726.h"
#include "voice/g726_kernel.h"

namespace orvo::voice {

void G726_Reset(G726State *state, int bits) { g726::ResetState(*state, bits); }

namespace {

template <int Bits>
int CodeOne(G726State *state, int value, int encode)
{
    G726State s = *state;
    const int32_t result =
        encode ? g726::Step<Bits, true>(s, value) : g726::Step<Bits, false>(s, value);
    *state = s;
    return result;
}

} // namespace

int G726_CodeSample(G726State *state, int value, int encode)
{
    switch (state->bits) {
    case 2:
        return CodeOne<2>(state, value, encode);
    case 3:
        return CodeOne<3>(state, value, encode);
    case 4:
        return CodeOne<4>(state, value, encode);
    default:
        return CodeOne<5>(state, value, encode);
    }
}

int G726_EncodeSample(G726State *state, int16_t sample) { return G726_CodeSample(state, sample, 1); }

int16_t G726_DecodeSample(G726State *state, int code)
{
    return static_cast<int16_t>(G726_CodeSample(state, code, 0));
}

} // namespace orvo::voice
