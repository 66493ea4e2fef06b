// tabfold-check: tells, line by line, what tabfold's rules will do to the
// data of old spare files: the fields a line does not supply and repeats
// from an earlier line, what ends a line's integers, the signs that split
// an integer, integers beyond 32 bits, seventh integers, lines too long for
// one piece, and a heading that looks like data.  Each file, a regular file
// or a stream, is read once, in pieces as tabfold reads it, in constant
// memory.  Findings go to standard output as PATH:LINE: or PATH:LINE:COLUMN:
// and a message, then a summary line for the file; what keeps a file from
// being checked goes to standard error.

#include "file_io.hpp"
#include "platform.hpp"
#include "spare_check.hpp"
#include "spare_file.hpp"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace {

constexpr int kStatusClean = 0;
constexpr int kStatusFindings = 1;
constexpr int kStatusTrouble = 2;

// Says on standard error why the file at path cannot be checked; returns
// the status.
int complain(const char* format, const char* path)
{
    std::fputs("tabfold-check: ", stderr);
    std::fprintf(stderr, format, path);
    return kStatusTrouble;
}

// Opens the file at path, a regular file or a stream, into file; 0, or the
// status of the failure, told.
int openChecked(const char* path, FileHandle& file)
{
    const FileKind kind = kindOfPath(path);
    if (kind == FileKind::Missing)
        return complain("can not open %s\n", path);
    if (kind != FileKind::Regular && kind != FileKind::Stream)
        return complain("can not open %s: not a regular file\n", path);
    file = kind == FileKind::Stream ? openStream(path) : openForReading(path);
    return file.isOpen() ? kStatusClean : complain("can not open %s\n", path);
}

// Prints the summary line of the file at path.
void printSummary(const char* path, const CheckState& state, std::uint64_t linesWithFindings)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  ": %" PRIu64 " data line%s in %" PRIu64 " data line piece%s, %" PRIu64 " line%s with findings\n",
                  state.dataLines, state.dataLines == 1 ? "" : "s", state.dataPieces,
                  state.dataPieces == 1 ? "" : "s", linesWithFindings, linesWithFindings == 1 ? "" : "s");
    printMessage("%s", path);
    printMessage("%s", text);
}

// Checks the old spare file at path, printing its findings and its
// summary; returns the status it deserves.
int checkFile(const char* path)
{
    FileHandle file;
    if (const int status = openChecked(path, file))
        return status;
    InputFile in(std::move(file));
    LineBuffer piece;
    CheckState state;
    PieceReport report;
    LongLine longLine;
    std::uint64_t linesWithFindings = 0;
    std::uint64_t lastLineWithFinding = 0;
    const auto note = [&](std::uint64_t line) {
        linesWithFindings += line != lastLineWithFinding;
        lastLineWithFinding = line;
    };
    ReadResult read;
    for (;;) {
        // Most data lines are plain: they are passed over a block at a time.
        if (state.pieces >= 2 && state.linePieces == 0)
            in.consume(passPlainLines(state, in.data(), in.available()));
        if ((read = readLinePiece(in, piece)) != ReadResult::Piece)
            break;
        const bool isLong = checkPiece(state, piece, report, longLine);
        if (hasFinding(report)) {
            note(report.line);
            printFindings(path, piece, report);
        }
        if (isLong) {
            note(longLine.line);
            printLongLine(path, longLine);
        }
    }
    if (read == ReadResult::Error)
        return complain("can not read %s\n", path);
    if (finishFile(state, longLine)) {
        note(longLine.line);
        printLongLine(path, longLine);
    }
    printSummary(path, state, linesWithFindings);
    return linesWithFindings > 0 ? kStatusFindings : kStatusClean;
}

}  // namespace

int main(int argc, char* argv[])
{
    prepareProcess();
    char** const paths = argumentsInUtf8(argc, argv);
    if (argc < 2) {
        std::fputs("usage: tabfold-check spare2in1lineFile...\n", stderr);
        return kStatusTrouble;
    }
    int status = kStatusClean;
    for (int i = 1; i < argc; ++i) {
        const int checked = checkFile(paths[i]);
        status = checked > status ? checked : status;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("tabfold-check: can not write standard output\n", stderr);
        return kStatusTrouble;
    }
    return status;
}
