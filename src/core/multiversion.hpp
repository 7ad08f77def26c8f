// Functions whose arithmetic leans on std::fma are built twice: once for
// processors with the FMA instruction, where std::fma becomes that single
// instruction, and once for the baseline, where it stays the C library's
// call. Both clones give the same bits: a fused multiply-add is rounded once
// by definition, however it is computed, and nothing else is fused since
// contraction is off for the whole build. The dynamic loader picks a clone
// once, when the library is loaded.
//
// Only ELF targets with GCC or Clang on x86-64 have the loader support
// (ifunc); elsewhere the functions are built once, as written.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TARVEX_FMA_CLONES __attribute__((target_clones("fma", "default")))
#else
#define TARVEX_FMA_CLONES
#endif
