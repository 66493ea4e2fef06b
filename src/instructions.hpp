// Which instructions the fast kernels (the plain-line converter and the
// fingerprint of what is read) use, chosen in one place: the widest that the
// processor has.  The baseline, which every processor of its kind has, is
// the tests' override, by which they run every kernel on one machine.  Both
// write the same bytes.
#ifndef TABFOLD_INSTRUCTIONS_HPP
#define TABFOLD_INSTRUCTIONS_HPP

// x86 processors gather the marks of a vector comparison with one
// instruction (SSE2); elsewhere, or with the portable scanner, the words of
// a mask are gathered by multiplying.
#if defined(__SSE2__) && !defined(TABFOLD_PORTABLE_SCANNER)
#define TABFOLD_SCAN_WITH_SSE2 1
#endif

// On x86, a second copy of each kernel is built for the processors that have
// AVX2, BMI1, BMI2 and POPCNT, and chosen when the program runs on one.
#if defined(TABFOLD_SCAN_WITH_SSE2) && (defined(__x86_64__) || defined(__i386__))
#define TABFOLD_SCAN_WITH_AVX2 1
#endif

// The copy of a kernel that runs.
enum class Kernel { Baseline, Avx2 };

// The widest kernel that this build has and the processor runs
// (processor.cpp, for every system).
Kernel chooseKernel();

#endif
