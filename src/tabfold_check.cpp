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
#include "shell.hpp"
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
int complain(Failure failure, const char* path)
{
    printError("%s", "tabfold-check: ");
    printError(messageOf(failure), path);
    return kStatusTrouble;
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
    FileFacts facts;
    FileHandle file;
    Failure failure;
    if (!openOldSpareFile(path, nullptr, facts, file, failure))
        return complain(failure, path);
    InputFile in(std::move(file));
    CheckState state;
    // Counts the lines with findings, each once, and prints the findings.
    struct Printer {
        const char* path;
        std::uint64_t linesWithFindings = 0;
        std::uint64_t lastLineWithFinding = 0;

        void note(std::uint64_t line)
        {
            linesWithFindings += line != lastLineWithFinding;
            lastLineWithFinding = line;
        }
        void piece(const LineBuffer& piece, const PieceReport& report)
        {
            if (hasFinding(report)) {
                note(report.line);
                printFindings(path, piece, report);
            }
        }
        void quietLines(std::uint64_t, std::uint64_t) {}
        void longLine(const LongLine& longLine)
        {
            note(longLine.line);
            printLongLine(path, longLine);
        }
    } printer{path};
    if (checkOldSpareFile(in, state, printer) == ReadResult::Error)
        return complain(Failure::CannotRead, path);
    printSummary(path, state, printer.linesWithFindings);
    return printer.linesWithFindings > 0 ? kStatusFindings : kStatusClean;
}

}  // namespace

int main(int argc, char* argv[])
{
    prepareProcess();
    char** const paths = argumentsInUtf8(argc, argv);
    if (argc < 2) {
        printError("%s", "usage: tabfold-check spare2in1lineFile...\n");
        return kStatusTrouble;
    }
    int status = kStatusClean;
    for (int i = 1; i < argc; ++i) {
        const int checked = checkFile(paths[i]);
        status = checked > status ? checked : status;
    }
    if (!finishStandardOutput()) {
        printError("%s", "tabfold-check: can not write standard output\n");
        return kStatusTrouble;
    }
    return status;
}
