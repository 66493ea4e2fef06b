// What the program asks of the system it runs on, where systems differ.
// Each system has its own source; the rest of the program is the same
// everywhere.
#ifndef TABFOLD_PLATFORM_HPP
#define TABFOLD_PLATFORM_HPP

// True when the processor, and the system for it, let the program use AVX2,
// BMI1, BMI2 and POPCNT (asked only on x86).
bool processorHasAvx2();

#endif
