// The kernel's chain written out literally, one sample and one channel at a time, for comparing
// the optimised kernel bit for bit and for measuring what the optimisation buys.
//
// It runs on a kernel's own public state (derived fields and channel records), so two kernels
// prepared alike can be driven one by processBlock and one by this, then compared with memcmp.
//
// Threads: whoever owns the kernel; the same rules as ThraskVellDSPKernel::processBlock.
#pragma once

#include "dsp/ThraskVellDSPKernel.h"

namespace thraskvell::test {

// Same contract as ThraskVellDSPKernel::processBlock, including its mends (non-finite input
// enters as 0, non-finite output becomes 0, a poisoned record is cleared at the end of the block,
// decayed gate gains and reductions below 1e-37 are taken to 0).
void referenceProcessBlock(ThraskVellDSPKernel& kernel, const float* const* inputs, float* const* outputs,
                           int channelCount, int frameCount);

} // namespace thraskvell::test
