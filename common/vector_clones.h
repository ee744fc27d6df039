// Loops over a packet's samples that vectorise: built once for the baseline processor and
// once for one with 256-bit integer vectors, the program choosing at start-up. The
// baseline has no packed 32-bit minimum, maximum or byte shuffle, so it spends several
// instructions on each.
#pragma once

// The choice runs while the program is being loaded, before a sanitizer's run-time is ready
// for instrumented code: sanitizer builds keep the baseline.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define PK_VECTOR_CLONES __attribute__((target_clones("default", "avx2")))
#else
#define PK_VECTOR_CLONES
#endif
