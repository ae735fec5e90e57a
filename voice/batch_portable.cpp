// The multi-channel kernels on portable lanes: the reference the vector versions are tested
// against, and the kernels of machines without a vector version.
#include <cstdint>
#include <cstring>

// The lanes are 32-byte vectors of the compiler's own; every function passing them has internal
// linkage, so their calling convention never meets another compiler's.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wunknown-warning-option"
#endif
#pragma GCC diagnostic ignored "-Wpsabi"

#include "voice/batch.h"
#include "voice/batch_kernels.h"

namespace orvo::voice::batch {
namespace {
#include "voice/lanes_portable.h"
} // namespace

const Kernels kPortableKernels = MakeKernels<PortableLanes>();

} // namespace orvo::voice::batch
