// Fuzzes the whole conversion: arbitrary bytes as an old spare file,
// converted by the program's own code, on the widest (AVX2 on x86) and on
// the baseline instructions, and by the plain reference on the C library
// (tests/conversions.hpp).  The first difference aborts.
//
// The first byte of an input chooses how many bytes each read of the old
// spare file asks for (0 for whole blocks), so that blocks end at every kind
// of place in a line; the other bytes are the file.  The seeds in corpus/
// are also converted by the differential tests.
#include "conversions.hpp"  // with <cstdint>, <cstdio>, <cstdlib> and <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string found = conversions::differencesOfInput(input, conversions::differences);
    const std::string told = found.empty() ? conversions::differencesOfInput(input, conversions::checkDifferences) : "";
    if (!found.empty() || !told.empty()) {
        std::fprintf(stderr, "%s: %s\n", told.empty() ? "conversions differ" : "the check differs", (found + told).c_str());
        std::abort();
    }
    return 0;
}
