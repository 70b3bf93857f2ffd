// Whether the x86 vector kernels are compiled in.  Elsewhere (64-bit ARM)
// only the plain kernels exist and the dispatch always chooses them.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define ZBX_X86_SIMD 1
#include <immintrin.h>
#else
#define ZBX_X86_SIMD 0
#endif
