// The multi-channel kernels on portable lanes: the reference the vector versions are tested
// against, and the kernels of machines without a vector version.
#include "voice/batch.h"
#include "voice/batch_kernels.h"

namespace orvo::voice::batch {
namespace {
#include "voice/lanes_portable.h"
} // namespace

const Kernels kPortableKernels = MakeKernels<PortableLanes>();

} // namespace orvo::voice::batch
