// The multi-channel kernels on NEON: four channels per vector (every aarch64 processor).
#include "voice/batch.h"

#if defined(ORVO_BATCH_HAVE_NEON)

#include <arm_neon.h>

#include <cstdint>

#include "voice/batch_kernels.h"

namespace orvo::voice::batch {
namespace {
#include "voice/lanes_neon.h"
} // namespace

const Kernels kNeonKernels = MakeKernels<NeonLanes>();

} // namespace orvo::voice::batch

#endif // ORVO_BATCH_HAVE_NEON
