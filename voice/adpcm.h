// IMA ADPCM: the 89-step quantiser, the coder and decoder over packed 4-bit codes, and the frame
// layer of codec types VOICE_ADPCM_DVI4 (3) and VOICE_ADPCM_IMA (35).
#pragma once

#include <array>
#include <cstdint>

#include "orvoaudio/voice.h"

namespace orvo::voice {

constexpr int kImaStepCount = 89;
constexpr int kImaMaxIndex = kImaStepCount - 1;

// The step sizes of IMA ADPCM, each about 1.1 times the one before.
inline constexpr std::array<int16_t, kImaStepCount> ImaStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index adjustment by 4-bit code (sign bit 8, magnitude bits 4, 2, 1).
inline constexpr std::array<int8_t, 16> ImaIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                         -1, -1, -1, -1, 2, 4, 6, 8};

constexpr uint8_t kImaSignBit = 8;
constexpr int kImaMagnitudeMask = 7;

// The reconstructed |difference| for a step size and a 3-bit code magnitude: step / 8, plus step,
// step / 2 and step / 4 for magnitude bits 4, 2 and 1. Every coder and decoder uses this step.
constexpr int ImaDifference(int step, int magnitude)
{
    int delta = step >> 3;
    if (magnitude & 4)
        delta += step;
    if (magnitude & 2)
        delta += step >> 1;
    if (magnitude & 1)
        delta += step >> 2;
    return delta;
}

// The step index after a code, kept within the table.
constexpr int ImaNextIndex(int index, int code)
{
    const int next = index + ImaIndexTable[code & 0xF];
    return next < 0 ? 0 : (next > kImaMaxIndex ? kImaMaxIndex : next);
}

// Sets predicted sample 0 and step index 0.
void ADPCM_Reset(AdpcmState *state);
// Codes n samples to n 4-bit codes, two to a byte, the first of a pair in the high nibble. An odd
// last code moves the state on but is not stored. n <= 0 does nothing.
void ADPCM_Coder(AdpcmState *state, const int16_t *samples, uint8_t *codes, int16_t n);
// Decodes n codes (two to a byte, high nibble first) into n samples. n <= 0 does nothing.
void ADPCM_Decoder(AdpcmState *state, const uint8_t *codes, int16_t *samples, int16_t n);
// Exchanges the two nibbles of each of n bytes in place. n <= 0 does nothing.
void ADPCM_SwapNibbles(uint8_t *bytes, int16_t n);

// Writes header and payload of a frame for `count` (1..481) samples; returns `length`.
unsigned ADPCM_EncodeFrame(AdpcmState *state, const int16_t *samples, uint8_t *frame, int type,
                           int count);
// Decodes an accepted frame (length 2..122) into `samples`; returns the sample count. The frame
// is only read.
int ADPCM_DecodeFrame(AdpcmState *state, const uint8_t *frame, int16_t *samples, int type);

// ADPCM_EncodeFrame in three steps, for callers that run the coder themselves (the batched
// calls): BeginFrame writes the block header and prepares the state, the caller runs ADPCM_Coder
// (or a kernel with its results) on the samples and codes it names, FinishFrame puts the codes in
// the type's nibble order, writes the frame header and returns `length`.
struct AdpcmCoding {
    const int16_t *samples; // the samples to code
    uint8_t *codes;         // where their codes go, two to a byte, first in the high nibble
    int count;              // how many (0..481)
};
AdpcmCoding ADPCM_BeginFrame(AdpcmState *state, const int16_t *samples, uint8_t *frame, int type, int count);
unsigned ADPCM_FinishFrame(uint8_t *frame, int type, int count);

// ADPCM_DecodeFrame in two steps: BeginDecode takes the state from the block header (and, for
// IMA, writes the first sample); the caller then decodes `count` codes into `samples`.
struct AdpcmDecoding {
    const uint8_t *codes;
    int16_t *samples;
    int count;       // codes to decode
    bool high_first; // the first code of a byte is in the high nibble (DVI4), else the low (IMA)
    int decoded;     // samples the frame decodes to, the header's sample included
};
AdpcmDecoding ADPCM_BeginDecode(AdpcmState *state, const uint8_t *frame, int16_t *samples, int type);

// Samples a frame of `length` words decodes to, for type 3 or 35.
constexpr int AdpcmSamplesForLength(int type, int length)
{
    return type == VOICE_ADPCM_IMA ? 4 * length - 7 : 4 * (length - 2);
}

} // namespace orvo::voice
