// G.726 coder (one routine for both directions) and the packing of its codes into frame payloads.
// Internal to the codec; the frame layer (voice_api.cpp) is the only caller.
#pragma once

#include <cstdint>

#include "orvoaudio/voice.h"

namespace orvo::voice {

// Puts every G.726 field of `state` to its reset value for codes of `bits` (2..5) bits.
void G726_Reset(G726State *state, int bits);

// One coder step: encode (encode = 1) takes a 16-bit sample and returns the code; decode
// (encode = 0) takes a code (only its low `bits` bits count) and returns the 16-bit sample.
int G726_CodeSample(G726State *state, int value, int encode);
int G726_EncodeSample(G726State *state, int16_t sample);
int16_t G726_DecodeSample(G726State *state, int code);

// Encodes `count` samples (lowest bit of the count cleared) and packs the codes LSB-first.
void G726_PackCodes(G726State *state, const int16_t *samples, uint8_t *payload, int16_t count);
// Decodes floor(8 * nbytes / bits) codes from an LSB-first payload of `nbytes` bytes.
void G726_UnpackCodes(G726State *state, const uint8_t *payload, int16_t *samples, int16_t nbytes);

// In-place re-ordering between the LSB-first and MSB-first payload layouts. 0 when done; -1, with
// the payload untouched, when 8 * nbytes is not a multiple of `bits`.
int G726_LsbToMsb(uint8_t *payload, int bits, int16_t nbytes);
int G726_MsbToLsb(uint8_t *payload, int bits, int16_t nbytes);

} // namespace orvo::voice
