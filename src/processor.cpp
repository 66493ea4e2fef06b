// What the processor can do, asked once for every system: on x86, whether
// the copies of the kernels built for AVX2 can run.
#include "instructions.hpp"

namespace {

#if defined(TABFOLD_SCAN_WITH_AVX2) && __has_include(<sys/platform/x86.h>)
// The header is written for C, whose name for bool C++ compilers need not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool

// The C library read the processor's features as it started the program:
// asking the processor again costs a trap into the hypervisor in a virtual
// machine, a tenth of a millisecond, as much as a small conversion.
bool processorHasAvx2()
{
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2) &&
           CPU_FEATURE_ACTIVE(POPCNT);
}
#elif defined(TABFOLD_SCAN_WITH_AVX2)
// Elsewhere (Windows, the BSDs, macOS) the compiler's runtime asks it.
bool processorHasAvx2()
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}
#endif

}  // namespace

Kernel chooseKernel()
{
#ifdef TABFOLD_SCAN_WITH_AVX2
    if (processorHasAvx2())
        return Kernel::Avx2;
#endif
    return Kernel::Baseline;
}
