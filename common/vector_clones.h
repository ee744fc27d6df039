// Loops over a packet's samples that vectorise: built once for the baseline processor and
// once for one with 256-bit integer vectors, the program choosing at start-up. The
// baseline has no packed 32-bit minimum, maximum or byte shuffle, so it spends several
// instructions on each.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define PK_VECTOR_CLONES __attribute__((target_clones("default", "avx2")))
#else
#define PK_VECTOR_CLONES
#endif
