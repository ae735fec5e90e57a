#include "voice/g726.h"

namespace orvo::voice {

void G726_Reset(G726State *state, int bits)
{
    *state = G726State{};
    state->bits = bits;
}
int G726_CodeSample(G726State *, int, int) { return 0; }
int G726_EncodeSample(G726State *state, int16_t sample) { return G726_CodeSample(state, sample, 1); }
int16_t G726_DecodeSample(G726State *state, int code)
{
    return static_cast<int16_t>(G726_CodeSample(state, code, 0));
}

} // namespace orvo::voice
