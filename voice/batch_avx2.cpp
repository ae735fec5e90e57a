// The multi-channel kernels on AVX2: eight channels per vector. Chosen at run time (batch.h).
//
// Only this file's own functions carry the instruction-set target; the shared headers included
// first are compiled as everywhere else.
#include "voice/batch.h"

#if defined(ORVO_BATCH_HAVE_AVX2)

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "orvoaudio/voice.h"
#include "voice/adpcm.h"
#include "voice/frame.h"
#include "voice/g726_kernel.h"
#include "voice/g726_tables.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#define ORVO_LANE_INLINE inline __attribute__((always_inline))
#include "voice/batch_kernels.h"

namespace orvo::voice::batch {
namespace {
#include "voice/lanes_avx2.h"
} // namespace

const Kernels kAvx2Kernels = MakeKernels<Avx2Lanes>();

} // namespace orvo::voice::batch

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif // ORVO_BATCH_HAVE_AVX2
