// Functions compiled twice on x86-64, for FMA and without, with the loader
// picking one by the CPU (PEL_FMA_CLONES, set by the build where the toolchain
// makes ifuncs). Without FMA each fused step is a call into the C library; a
// fused multiply-add is one correctly rounded operation whether the instruction
// or the library computes it, so both clones give the same bits.
//
// PEL_KERNEL marks a cloned function; PEL_INLINE a helper it calls, inlined so
// that it compiles for the clone's target. A cloned function holds no Eigen
// code: Eigen's packet width is fixed for the whole build and must stay two
// doubles.
#pragma once

#if PEL_FMA_CLONES
#define PEL_KERNEL __attribute__((target_clones("fma", "default")))
#define PEL_INLINE inline __attribute__((always_inline))
#else
#define PEL_KERNEL
#define PEL_INLINE inline
#endif
