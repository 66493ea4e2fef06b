// Whole conversions of an old spare file in a temporary file: by the
// program's own code, on the widest (AVX2 on x86) and on the baseline
// instructions, and by a plain reference that uses nothing but the C
// library's fgets (limit 255), strtoll (clamped to 32 bits) and snprintf
// ("%-3d %-3d %d\n").
// The differential tests and the fuzzer hold the first against the second.
#ifndef TABFOLD_CONVERSIONS_HPP
#define TABFOLD_CONVERSIONS_HPP

#include "file_io.hpp"
#include "spare_file.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace conversions {

// Aborts with a message when a step that cannot fail on a temporary file fails.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "conversion set-up failed: %s\n", what);
        std::abort();
    }
}

// A new descriptor on the temporary file, at its start.
inline int descriptorOf(std::FILE* file)
{
    std::rewind(file);
    const int fd = ::dup(::fileno(file));
    require(fd >= 0, "dup");
    return fd;
}

// Everything in the temporary file.
inline std::string contentsOf(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c; (c = std::getc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

// The conversion by the program's own code, reading readSize bytes at a
// time: plain lines straight from the block, with the instructions allowed,
// and every other piece through the operations.
inline std::string convertWith(std::FILE* oldFile, std::size_t readSize, Instructions allowed)
{
    std::FILE* newFile = std::tmpfile();
    require(newFile != nullptr, "tmpfile");
    OutputFile out(FileHandle(descriptorOf(newFile)));
    LineBuffer line;
    require(writeNewFileHeader(out), "header");
    for (const Side side : {Side::Left, Side::Right}) {
        InputFile in(FileHandle(descriptorOf(oldFile)), readSize);
        require(skipHeaderLines(in, line), "skip");
        require(copyPieces(in, out, side, line, allowed) == PassEnd::Done, "pass");
    }
    require(out.close(), "close");
    const std::string converted = contentsOf(newFile);
    std::fclose(newFile);
    return converted;
}

// Reads count integers from text on, as the conversions of "%d" fields of
// sscanf read them (strtoll is how the C standard defines them), each
// clamped to 32 bits, into values from first on (none before it); stops at
// the first that is missing.  strtoll saturates at 64 bits on every C
// library, where a "%ld" field that overflows is undefined.
inline void scanFields(const char* text, int count, int first, std::int32_t* values)
{
    for (int i = 0; i < count; ++i) {
        char* end;
        const long long value = std::strtoll(text, &end, 10);
        if (end == text)
            return;
        if (i >= first)
            values[i - first] = static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
        text = end;
    }
}

// The conversion as the C library's streams do it.
inline std::string convertReference(std::FILE* oldFile)
{
    std::string converted = "        DS3\nN1  N2  LINK#\n";
    for (const int skip : {0, 3}) {
        std::rewind(oldFile);
        char line[256];
        for (int heading = 0; heading < 2; ++heading)
            if (std::fgets(line, 255, oldFile) == nullptr)
                break;
        std::int32_t record[3] = {0, 0, 0};
        while (std::fgets(line, 255, oldFile) != nullptr) {
            scanFields(line, skip + 3, skip, record);
            char text[64];
            const int length = std::snprintf(text, sizeof text, "%-3d %-3d %d\n", static_cast<int>(record[0]),
                                             static_cast<int>(record[1]), static_cast<int>(record[2]));
            converted.append(text, static_cast<std::size_t>(length));
        }
    }
    return converted;
}

// Converts the old spare file of bytes in every way, reading readSize bytes
// at a time; returns how the first conversion of the program's that differs
// from the reference differs, or nothing when all agree.
inline std::string differences(const std::string& bytes, std::size_t readSize)
{
    std::FILE* oldFile = std::tmpfile();
    require(oldFile != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), oldFile) == bytes.size(),
            "old spare file");
    const std::string reference = convertReference(oldFile);
    std::string found;
    for (const Instructions allowed : {Instructions::Widest, Instructions::Baseline}) {
        const std::string converted = convertWith(oldFile, readSize, allowed);
        if (converted != reference && found.empty())
            found = std::string(allowed == Instructions::Widest ? "widest" : "baseline") +
                    " instructions, reads of " +
                    std::to_string(readSize) + " bytes\n--- program:\n" + converted +
                    "--- C library:\n" + reference;
    }
    std::fclose(oldFile);
    return found;
}

// differences() for an input of the fuzzer, or one of its seeds: the first
// byte is how many bytes each read asks for (0 for whole blocks), the other
// bytes are the old spare file.
inline std::string differencesOfInput(const std::string& input)
{
    if (input.empty())
        return "";
    const auto readSize = static_cast<unsigned char>(input[0]);
    return differences(input.substr(1), readSize == 0 ? InputFile::kBlockSize : readSize);
}

}  // namespace conversions

#endif
