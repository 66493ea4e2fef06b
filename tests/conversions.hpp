// Whole conversions of an old spare file in a temporary file: by the
// program's own code, on the widest (AVX2 on x86) and on the baseline
// instructions, and by a plain reference that uses nothing but the C
// library's fgets (limit 255), strtoll (clamped to 32 bits) and snprintf
// ("%-3d %-3d %d\n").
// The differential tests and the fuzzer hold the first against the second.
#ifndef TABFOLD_CONVERSIONS_HPP
#define TABFOLD_CONVERSIONS_HPP

#include "file_io.hpp"
#include "pass.hpp"
#include "check_formats.hpp"  // with spare_check.hpp
#include "spare_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

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
// time: plain lines straight from the block, on the kernel given,
// and every other piece through the operations.  The fingerprint of each
// pass's reading, taken on the same kernel, must be the baseline
// one of the whole file.
inline std::string convertWith(std::FILE* oldFile, std::size_t readSize, Kernel kernel)
{
    std::FILE* newFile = std::tmpfile();
    require(newFile != nullptr, "tmpfile");
    OutputFile out(FileHandle(descriptorOf(newFile)));
    LineBuffer line;
    require(writeNewFileHeader(out), "header");
    Fingerprint whole(Kernel::Baseline);
    const std::string bytes = contentsOf(oldFile);
    whole.add(bytes.data(), bytes.size());
    for (const Side side : {Side::Left, Side::Right}) {
        InputFile in(FileHandle(), readSize);
        Fingerprint read(kernel);
        in.restart(FileHandle(descriptorOf(oldFile)), &read);
        require(skipHeaderLines(in, line), "skip");
        require(copyPieces(in, out, side, line, kernel) == PassEnd::Done, "pass");
        require(read == whole, "fingerprint");
    }
    require(out.flush() && out.release().close(), "close");
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
    for (const Kernel kernel : {chooseKernel(), Kernel::Baseline}) {
        const std::string converted = convertWith(oldFile, readSize, kernel);
        if (converted != reference && found.empty())
            found = std::string(kernel == Kernel::Baseline ? "baseline" : "widest") + " instructions, reads of " +
                    std::to_string(readSize) + " bytes\n--- program:\n" + converted + "--- C library:\n" + reference;
    }
    std::fclose(oldFile);
    return found;
}

// What compare (differences() or checkDifferences()) finds in an input of
// the fuzzer, or one of its seeds: the first byte is how many bytes each
// read asks for (0 for whole blocks), the other bytes are the old spare file.
template <class Compare>
std::string differencesOfInput(const std::string& input, Compare compare)
{
    if (input.empty())
        return "";
    const auto readSize = static_cast<unsigned char>(input[0]);
    return compare(input.substr(1), readSize == 0 ? InputFile::kBlockSize : readSize);
}

// One line piece as the C library reads it: fgets for the piece, its
// length from the file's position (it may hold NUL bytes), sscanf's count
// of "%lld" fields, and strtoll for each integer's place and range.
struct ReferencePiece {
    char text[256];
    std::size_t length = 0;
    int count = 0;                 // of seven fields at most
    int total = 0;                 // of every integer, one after the other
    long long values[7] = {};
    std::size_t begins[7] = {}, ends[7] = {};
    std::size_t stopAt = 0;        // the first non-blank after the last integer
    bool endsLine = false;         // its newline, or the end of the file, follows
    bool endsFile = false;         // without a newline
    std::string cut;               // a number that the piece before cut: its sign and digits, then this piece's

    bool read(std::FILE* file)
    {
        std::string tail;  // of the piece before, in the middle of its line: the sign and digits it ends with
        for (std::size_t i = length; !endsLine && i > 0 && std::isdigit(text[i - 1] & 0xFF); --i)
            tail.insert(tail.begin(), text[i - 1]);
        if (!endsLine && length > tail.size() && (text[length - tail.size() - 1] == '-' || text[length - tail.size() - 1] == '+'))
            tail.insert(tail.begin(), text[length - tail.size() - 1]);
        const long before = std::ftell(file);
        if (std::fgets(text, 255, file) == nullptr)
            return false;
        length = static_cast<std::size_t>(std::ftell(file) - before);
        cut.clear();
        for (std::size_t i = 0; !tail.empty() && std::isdigit(text[i] & 0xFF); ++i)
            cut += i == 0 ? tail + text[i] : std::string(1, text[i]);
        const int next = std::getc(file);
        endsLine = text[length - 1] == '\n' || next == EOF;
        endsFile = text[length - 1] != '\n' && next == EOF;
        std::ungetc(next, file);
        long long v[7];
        int taken;
        count = std::max(0, std::sscanf(text, "%lld%lld%lld%lld%lld%lld%lld", v, v + 1, v + 2, v + 3, v + 4,
                                        v + 5, v + 6));
        const char* p = text;
        for (int i = 0; i < count; ++i) {
            char* end;
            values[i] = std::strtoll(p, &end, 10);
            while (std::isspace(static_cast<unsigned char>(*p)))
                ++p;
            begins[i] = static_cast<std::size_t>(p - text);
            ends[i] = static_cast<std::size_t>(end - text);
            p = end;
        }
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        stopAt = static_cast<std::size_t>(p - text);
        total = 0;
        for (const char* q = text; std::sscanf(q, "%lld%n", v, &taken) == 1; q += taken)
            ++total;
        return true;
    }
    bool beyond(int i) const { return values[i] < INT32_MIN || values[i] > INT32_MAX; }
    std::int32_t value(int i) const
    {
        return static_cast<std::int32_t>(std::clamp<long long>(values[i], INT32_MIN, INT32_MAX));
    }
};

// The records of a new spare file's text: its left records, then its right.
inline std::vector<std::int32_t> recordsOf(const std::string& converted)
{
    std::vector<std::int32_t> fields;
    const char* p = converted.c_str() + converted.find("LINK#\n") + 6;
    for (int value, taken; std::sscanf(p, "%d%n", &value, &taken) == 1; p += taken)
        fields.push_back(value);
    return fields;
}

// Where a check differs from the reference: the piece, and what.
inline std::string mismatch(std::uint64_t piece, const char* what)
{
    return "piece " + std::to_string(piece) + ": " + what;
}

// The first finding of the kind in the report, or nullptr.
inline const Noted* noted(const PieceReport& report, Finding kind)
{
    const Noted* end = report.list + report.findings;
    const Noted* found = std::find_if(report.list, end, [&](const Noted& n) { return n.kind == kind; });
    return found == end ? nullptr : found;
}

// What the checker tells of one piece against what the reference sees, and
// the records that the program's conversion wrote for it (written is the
// left record's three fields, then the right's; before those of the piece
// before); returns the first difference, or nothing.  Every value that a
// finding names must be the one written in its field.
inline std::string pieceDifferences(const PieceReport& report, const ReferencePiece& ref, std::uint64_t index,
                                    std::uint64_t line, const std::uint64_t* lastSupplied,
                                    const std::int32_t* written, const std::int32_t* before, bool quiet = false,
                                    std::uint64_t lineStart = 0)
{
    if (report.line != line || report.heading != (index < 2))
        return mismatch(index, "line");
    // The data line piece that each finding belongs to (counted from 1, the
    // heading's pieces 0 and 1 none): a long line's first, or the piece
    // that a carriage return ended.
    for (int i = 0; i < report.findings; ++i) {
        const Noted& n = report.list[i];
        const std::uint64_t first = std::max<std::uint64_t>(lineStart, 2);
        const std::uint64_t expected = n.kind == Finding::LongLine ? (first > index ? 0 : first - 1)
                                       : n.kind == Finding::LoneReturn && n.subject == 1 ? (index > 2 ? index - 2 : 0)
                                                                                         : (index < 2 ? 0 : index - 1);
        if (pieceOf(report, n) != expected)
            return mismatch(index, "piece of a finding");
    }
    if (report.integers != std::min(ref.count, 6) || (!report.heading && report.seventh != (ref.count == 7)))
        return mismatch(index, "count");
    for (int i = 0; i < report.integers && !quiet; ++i) {
        const ScannedInteger& found = report.found[i];
        if (found.beyond != ref.beyond(i) || found.value != ref.value(i) || found.begin != ref.begins[i] ||
            found.end != ref.ends[i])
            return mismatch(index, "integer");
    }
    if (report.heading)
        return report.held == ref.total ? "" : mismatch(index, "integers of the heading");
    const Noted* cut = noted(report, Finding::CutNumber);
    const std::string told = cut == nullptr ? "" : std::string(report.cut.sign != '\0', report.cut.sign) + report.cut.digits;
    const std::size_t refDigits = ref.cut.size() - (!ref.cut.empty() && !std::isdigit(ref.cut[0] & 0xFF));
    if ((cut == nullptr) != ref.cut.empty() ||
        (cut != nullptr && (report.cut.count == refDigits ? told != ref.cut.substr(0, told.size())
                                                          : report.cut.count < refDigits)))
        return mismatch(index, "number cut");
    if (quiet && (ref.count != 6 || ref.beyond(0) || ref.beyond(1) || ref.beyond(2) || ref.beyond(3) ||
                         ref.beyond(4) || ref.beyond(5) || !ref.endsLine))
        return mismatch(index, "quiet");
    const bool after = ref.count == 6 && ref.stopAt < ref.length;
    if ((noted(report, Finding::GluedSixth) != nullptr) != (after && ref.stopAt == ref.ends[5]) ||
        (noted(report, Finding::AfterSixth) != nullptr) != (after && ref.stopAt != ref.ends[5]))
        return mismatch(index, "character after the sixth integer");
    const bool refSign = ref.text[ref.stopAt] == '-' || ref.text[ref.stopAt] == '+';
    if (report.integers < 6 &&
        (report.stopAt != ref.stopAt ||
         report.stop != (ref.stopAt == ref.length ? (ref.endsFile ? ScanStop::FileEnd
                                                     : ref.endsLine ? ScanStop::LineEnd
                                                                    : ScanStop::PieceEnd)
                         : refSign && ref.stopAt + 1 == ref.length && !ref.endsLine ? ScanStop::SignAtPieceEnd
                         : refSign                                                  ? ScanStop::LoneSign
                                                                                    : ScanStop::Character)))
        return mismatch(index, "stop");
    if (report.dataPiece + 1 != index)
        return mismatch(index, "number of the piece");
    // Each field that a finding tells of, as scripts read it, is written so
    // by the piece that it names, this one or the one before.
    for (int i = 0; i < report.findings; ++i) {
        const Noted& n = report.list[i];
        FieldTold told[6];
        for (int k = fieldsTold(report, n, told) - 1; k >= 0; --k) {
            const std::int32_t* record = told[k].piece == report.dataPiece       ? written
                                         : told[k].piece + 1 == report.dataPiece ? before
                                                                                 : nullptr;
            if (record == nullptr || told[k].value != record[told[k].field] ||
                told[k].fromLine != (n.kind == Finding::ShortLine ? lastSupplied[told[k].field] : 0))
                return mismatch(index, "value of a finding");
        }
        if (i > 0 && n.column < report.list[i - 1].column)
            return mismatch(index, "order of the findings");
    }
    for (int field = 0; field < 6; ++field) {
        const bool supplied = field < report.integers;
        const std::int32_t expected = supplied ? ref.value(field) : lastSupplied[field] == 0 ? 0 : before[field];
        if (!supplied && report.carriedFrom[field] != lastSupplied[field])
            return mismatch(index, "carried from");
        if (!supplied && !quiet && report.carried[field] != expected)
            return mismatch(index, "value carried");
        if (written[field] != expected)
            return mismatch(index, "record written");
    }
    return "";
}

// What checkOldSpareFile tells, to the function for pieces taken one at a
// time and the one for quiet lines passed over at once.
template <class OnPiece, class OnQuietLines>
struct CheckVisitor {
    OnPiece onPiece;
    OnQuietLines onQuietLines;

    bool piece(const LineBuffer&, const PieceReport& report) { return onPiece(report), true; }
    bool quietLines(std::uint64_t from, std::uint64_t to) { return onQuietLines(from, to), true; }
};
template <class OnPiece, class OnQuietLines>
CheckVisitor(OnPiece, OnQuietLines) -> CheckVisitor<OnPiece, OnQuietLines>;  // (clang 14 deduces none for aggregates)

// Checks the old spare file of bytes as tabfold-check does, reading readSize
// bytes at a time, and holds every piece it tells of, and every quiet line
// it passes over, against the C library's view of it and against the
// records that the program's conversion writes: a field said to repeat an
// earlier line's must be written as the record before it wrote it, and one
// said to be 0 as 0.  Returns the first difference, or nothing.
inline std::string checkDifferences(const std::string& bytes, std::size_t readSize)
{
    // (Two files: a descriptor shares its position with those it was made from.)
    std::FILE* oldFile = std::tmpfile();
    std::FILE* refFile = std::tmpfile();
    for (std::FILE* file : {oldFile, refFile})
        require(file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(),
                "old spare file");
    const std::vector<std::int32_t> records = recordsOf(convertWith(oldFile, readSize, chooseKernel()));
    InputFile in(FileHandle(descriptorOf(oldFile)), readSize);
    std::rewind(refFile);
    CheckState state;
    ReferencePiece ref;
    std::uint64_t index = 0, line = 1, lastSupplied[6] = {}, lineStart = 0;
    std::int32_t written[6] = {}, before[6] = {};
    std::string found;
    const std::size_t pieces = records.size() / 6;
    // Takes the reference's next piece, and the records written for it.
    const auto next = [&] {
        require(ref.read(refFile), "reference piece");
        std::copy(written, written + 6, before);
        for (int field = 0; index >= 2 && index - 2 < pieces && field < 6; ++field)
            written[field] = records[(field < 3 ? 0 : 3 * pieces) + 3 * (index - 2) + field % 3];
    };
    // Counts the reference's piece into its line and what it supplied.
    const auto count = [&] {
        for (int field = 0; index >= 2 && field < std::min(ref.count, 6); ++field)
            lastSupplied[field] = line;
        line += ref.text[ref.length - 1] == '\n';
        lineStart = ref.text[ref.length - 1] == '\n' ? index + 1 : lineStart;
        ++index;
    };
    // What the check tells, held against the reference as it comes, up to
    // the first difference.
    CheckVisitor comparer{[&](const PieceReport& report) {
                   if (!found.empty())
                       return;
                   next();
                   found = pieceDifferences(report, ref, index, line, lastSupplied, written, before, false, lineStart);
                   count();
               },
               [&](std::uint64_t from, std::uint64_t to) {
                   require(!found.empty() || index == from, "quiet lines");
                   for (; found.empty() && index < to; count()) {
                       next();
                       PieceReport quiet;
                       quiet.line = line;
                       quiet.dataPiece = index - 1;
                       quiet.integers = 6;
                       found = pieceDifferences(quiet, ref, index, line, lastSupplied, written, before, true);
                   }
               }};
    require(checkOldSpareFile(in, state, comparer) == CheckEnd::Done, "check");
    if (found.empty() && (ref.read(refFile) || state.dataPieces != pieces))
        found = "pieces: " + std::to_string(state.dataPieces) + " checked, " + std::to_string(pieces) + " converted";
    std::fclose(oldFile);
    std::fclose(refFile);
    return found;
}

}  // namespace conversions

#endif
