// The G.726 block coder on AVX2 (with BMI2 and LZCNT): chosen at run time by G726_PackCodes and
// G726_UnpackCodes when the CPU has them; gives exactly the values of the portable coder.
#pragma once

#include <cstdint>

#include "orvoaudio/voice.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) &&      \
    !defined(ORVO_DISABLE_SIMD)
#define ORVO_G726_HAVE_AVX2 1
#endif

namespace orvo::voice::g726 {

#if defined(ORVO_G726_HAVE_AVX2)
inline constexpr bool kHaveAvx2Coder = true;
// n: even sample count > 0; nbytes > 0. The width is taken from the state.
void PackCodesAvx2(G726State *state, const int16_t *samples, uint8_t *payload, int n);
void UnpackCodesAvx2(G726State *state, const uint8_t *payload, int16_t *samples, int nbytes);
#else
inline constexpr bool kHaveAvx2Coder = false;
inline void PackCodesAvx2(G726State *, const int16_t *, uint8_t *, int) {}
inline void UnpackCodesAvx2(G726State *, const uint8_t *, int16_t *, int) {}
#endif

} // namespace orvo::voice::g726
