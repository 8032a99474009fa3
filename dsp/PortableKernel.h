// The kernel's chain written out literally: one sample and one channel at a time, in the order and
// with the single-precision operations that define the sound.
//
// It is the processing path on targets without SSE2 (and in builds configured with
// THRASKVELL_PORTABLE_KERNEL), and elsewhere the reference the SIMD path of
// ThraskVellDSPKernel::processBlock must match bit for bit. It runs on a kernel's own public state
// (derived fields and channel records) and keeps none of its own.
//
// Threads: the audio thread, under the same rules as ThraskVellDSPKernel::processBlock: no
// allocation, lock, system call or exception; never while the kernel is being prepared.
#pragma once

#include "dsp/ThraskVellDSPKernel.h"

namespace thraskvell {

// Same contract as ThraskVellDSPKernel::processBlock, including its mends (non-finite input enters
// as 0, non-finite output becomes 0, a poisoned record is cleared at the end of the block, decayed
// gate gains and reductions below 1e-37 are taken to 0).
void processBlockPortable(ThraskVellDSPKernel& kernel, const float* const* inputs, float* const* outputs,
                          int channelCount, int frameCount);

} // namespace thraskvell
