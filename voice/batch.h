// Multi-channel kernels of the batched codec calls: one channel per vector lane. A kernel codes one
// group of exactly `lanes` channels with the same code width (G.726) or nibble order (ADPCM) and
// the same sample count; the frame layer (voice_batch.cpp) checks, groups and frames the channels,
// and fills a short group with scratch lanes.
#pragma once

#include <cstdint>

#include "orvoaudio/voice.h"

namespace orvo::voice::batch {

inline constexpr int kMaxLanes = 8;
inline constexpr int kG726Widths = 4; // 2..5 bits, indexed by bits - 2

struct Kernels {
    int lanes;
    // Encodes n samples (even, 2..480) of every lane and packs the codes LSB-first into payloads
    // that the caller has cleared.
    void (*g726_encode[kG726Widths])(G726State *const *states, const int16_t *const *samples,
                                     uint8_t *const *payloads, int n);
    // Decodes the floor(8 x nbytes / bits) codes of LSB-first payloads of nbytes bytes.
    void (*g726_decode[kG726Widths])(G726State *const *states, const uint8_t *const *payloads,
                                     int16_t *const *samples, int nbytes);
    // ADPCM_Coder on every lane: n codes (0..481), two to a byte, the first in the high nibble.
    void (*adpcm_encode)(AdpcmState *const *states, const int16_t *const *samples,
                         uint8_t *const *codes, int n);
    // ADPCM_Decoder on every lane, the first code of a byte in the high nibble (DVI4) or the low
    // one (IMA).
    void (*adpcm_decode_high_first)(AdpcmState *const *states, const uint8_t *const *codes,
                                    int16_t *const *samples, int n);
    void (*adpcm_decode_low_first)(AdpcmState *const *states, const uint8_t *const *codes,
                                   int16_t *const *samples, int n);
};

extern const Kernels kPortableKernels;
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) &&      \
    !defined(ORVO_DISABLE_SIMD)
#define ORVO_BATCH_HAVE_AVX2 1
extern const Kernels kAvx2Kernels;
#endif
#if defined(__aarch64__) && !defined(ORVO_DISABLE_SIMD)
#define ORVO_BATCH_HAVE_NEON 1
extern const Kernels kNeonKernels;
#endif

// The kernels for this machine and the current scalar switch (see simd.h).
const Kernels &ActiveKernels();

} // namespace orvo::voice::batch
