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

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <utility>

namespace {

constexpr int kStatusClean = 0;
constexpr int kStatusFindings = 1;
constexpr int kStatusTrouble = 2;
// (What checkFile returns when standard output cannot be written: status 2,
// and no other file is checked.)
constexpr int kStatusLost = -1;

// Says on standard error, in one line written at once, why the file at path
// cannot be checked, with the reason of the system's error number, when
// there is one; returns the status.
int complain(Failure failure, const char* path, int error = 0)
{
    const char* message = messageOf(failure);  // "... %s ...\n", a path for %s
    const char* const hole = std::strstr(message, "%s");
    Text text;
    text.literal("tabfold-check: ").add(message, static_cast<std::size_t>(hole - message)).add(path);
    text.add(hole + 2, std::strlen(hole + 2) - 1);  // less the newline
    if (error != 0)
        text.literal(": ").add(reasonOf(error));
    printError("%s", text.literal("\n").data());
    return kStatusTrouble;
}

// Standard output, for the findings and the summaries: written in large
// blocks, or, on a console, a line at a time as the platform shows names
// there.  Once a write has failed, nothing more is written.
struct Output {
    OutputFile file;
    bool console;
    bool failed = false;

    static void put(void* context, const Text& line)
    {
        Output& out = *static_cast<Output*>(context);
        if (out.console) {
            printMessage("%s", line.data());
            out.failed = out.failed || std::ferror(stdout);
        } else {
            out.failed = out.failed || !out.file.put(line.data(), line.size());
        }
    }
    FindingSink sink() { return {&Output::put, this}; }
    // Writes out what is left; false when anything was lost.
    bool finish() { return (console || file.flush()) && !failed && finishStandardOutput(); }
};

// Gives out the summary line of the file at path: its data lines and
// pieces, its lines with findings, and how many findings of each kind.
void printSummary(Output& out, const char* path, const CheckState& state, std::uint64_t linesWithFindings,
                  const FindingCounts& counts)
{
    Text text;
    text.add(path).literal(": ").number(state.dataLines).add(state.dataLines == 1 ? " data line in " : " data lines in ")
        .number(state.dataPieces).add(state.dataPieces == 1 ? " data line piece, " : " data line pieces, ")
        .number(linesWithFindings).add(linesWithFindings == 1 ? " line with findings" : " lines with findings");
    if (linesWithFindings > 0)
        describeCounts(counts, text.literal(": "));
    Output::put(&out, text.literal("\n"));
}

// Checks the old spare file at path, printing its findings and its
// summary; returns the status it deserves.
int checkFile(Output& out, const char* path, bool quiet)
{
    FileFacts facts;
    FileHandle file;
    Failure failure;
    int error;
    if (std::strcmp(path, "-") == 0) {
        file = standardInput();
        if (!file.isOpen())
            return complain(Failure::CannotOpen, path, errno);
    } else if (!openOldSpareFile(path, nullptr, facts, file, failure, error)) {
        return complain(failure, path, error);
    }
    InputFile in(std::move(file));
    CheckState state;
    // Counts the lines with findings, each once, and prints the findings,
    // up to the first that cannot be written.
    struct Printer {
        Output& out;
        const char* path;
        bool quiet;
        std::uint64_t linesWithFindings = 0;
        std::uint64_t lastLineWithFinding = 0;
        FindingCounts counts;

        void note(std::uint64_t line)
        {
            linesWithFindings += line != lastLineWithFinding;
            lastLineWithFinding = line;
        }
        bool piece(const LineBuffer& piece, const PieceReport& report)
        {
            if (hasFinding(report)) {
                note(report.line);
                countFindings(report, counts);
                if (!quiet)
                    printFindings(out.sink(), path, piece, report);
            }
            return !out.failed;
        }
        bool quietLines(std::uint64_t, std::uint64_t) { return true; }
        bool longLine(const LongLine& longLine)
        {
            note(longLine.line);
            counts.add(Finding::LongLine);
            if (!quiet)
                printLongLine(out.sink(), path, longLine);
            return !out.failed;
        }
    } printer{out, path, quiet, 0, 0, {}};
    switch (checkOldSpareFile(in, state, printer)) {
    case CheckEnd::ReadFailed:
        return complain(Failure::CannotRead, path, in.error());
    case CheckEnd::Stopped:
        return kStatusLost;
    case CheckEnd::Done:
        break;
    }
    if (state.dataPieces == 0) {
        printer.note(1);
        printer.counts.add(Finding::NoDataLine);
        if (!quiet)
            printNoDataLine(out.sink(), path);
    }
    printSummary(out, path, state, printer.linesWithFindings, printer.counts);
    return printer.linesWithFindings > 0 ? kStatusFindings : kStatusClean;
}

constexpr char kUsage[] = "usage: tabfold-check [-q] [--] spare2in1lineFile...\n";

constexpr char kHelp[] =
    "Tells, line by line, what the conversion of tabfold will do to each old\n"
    "spare file named (- is standard input):\n"
    "  a data line of fewer than six integers, whose missing fields repeat\n"
    "    those of an earlier line;\n"
    "  a sign straight after a digit, which begins a new integer;\n"
    "  an integer beyond 32 bits, read as the nearest bound;\n"
    "  a seventh integer, ignored with all that follows it;\n"
    "  a line too long for one piece of 254 characters, read as several;\n"
    "  a heading line that holds data.\n"
    "\n"
    "  -q, --quiet  print only each file's summary\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "  --           end the options: what follows is a file, even -x\n"
    "\n"
    "Exit status: 0 when no file has a finding, 1 when one has, 2 when a\n"
    "file cannot be read or the command line is wrong.\n";

// The command line: its options, and where the files begin.
struct Options {
    bool quiet = false;
    int firstFile = 1;
};

// Reads the options at the front of the arguments into options; returns
// -1 to go on, or the exit status, having said why (--help, --version, an
// unknown option).
int readOptions(int argc, char** args, Options& options)
{
    for (; options.firstFile < argc; ++options.firstFile) {
        const char* arg = args[options.firstFile];
        if (std::strcmp(arg, "--") == 0) {
            ++options.firstFile;
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0')
            break;  // a file, or - for standard input
        if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
            options.quiet = true;
        } else if (std::strcmp(arg, "--help") == 0) {
            printMessage("%s", kUsage);
            printMessage("%s", kHelp);
            return finishStandardOutput() ? kStatusClean : kStatusTrouble;
        } else if (std::strcmp(arg, "--version") == 0) {
            printMessage("%s", "tabfold-check " TABFOLD_VERSION "\n");
            return finishStandardOutput() ? kStatusClean : kStatusTrouble;
        } else {
            printError("tabfold-check: unknown option %s\n", arg);
            printError("%s", kUsage);
            return kStatusTrouble;
        }
    }
    if (options.firstFile < argc)
        return -1;
    printError("%s", kUsage);
    return kStatusTrouble;
}

}  // namespace

int main(int argc, char* argv[])
{
    prepareProcess();
    char** const args = argumentsInUtf8(argc, argv);
    Options options;
    if (const int status = readOptions(argc, args, options); status >= 0)
        return status;
    Output out{OutputFile(standardOutput()), standardOutputIsConsole()};
    int status = kStatusClean;
    for (int i = options.firstFile; i < argc && status != kStatusLost && !out.failed; ++i) {
        const int checked = checkFile(out, args[i], options.quiet);
        status = checked > status || checked == kStatusLost ? checked : status;
    }
    if (!out.finish() || status == kStatusLost) {
        printError("%s", "tabfold-check: can not write standard output\n");
        return kStatusTrouble;
    }
    return status;
}
