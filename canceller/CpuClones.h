// Vector kernels come in one clone per instruction set, chosen once by the loader from the CPU;
// "default" is the plain loop, the reference the tests compare against. Under ThreadSanitizer
// the plain loop alone: the loader runs a clone's resolver before the sanitizer's runtime is up.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define TARNWELL_CPU_CLONES
#else
#define TARNWELL_CPU_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
