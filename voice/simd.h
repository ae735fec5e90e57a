// Run-time choice of the vector kernels: the CPU is probed once; the environment variable
// ORVO_DISABLE_SIMD (any value) or the build option of the same name forces the scalar kernels.
#pragma once

namespace orvo::voice {

// Neon is every aarch64 processor's level; the others are probed on x86.
enum class SimdLevel { Scalar, Avx2, Neon };

// What this machine and process allow, computed once.
SimdLevel DetectedSimdLevel();
// The level the codec uses now: the detected one unless scalar kernels are forced.
SimdLevel ActiveSimdLevel();
// Tests use this to run the scalar kernels on a machine that has vector units.
void ForceScalarKernels(bool force);
bool ScalarKernelsForced();

} // namespace orvo::voice
