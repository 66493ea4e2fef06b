// tabfold-check: tells, line by line, what tabfold's rules will do to the
// data of old spare files, from the account of each line piece that the
// check makes (spare_check.hpp).  Each file, a regular file or a stream, is
// read once, in pieces as tabfold reads it, in constant memory.  Findings
// go to standard output as PATH:LINE:COLUMN: warning: and a message, a
// line's in the order of their columns, up to --max-findings and the first
// NUL byte, then a summary line for the file that counts them all; what
// keeps a file from being checked goes to standard error.

#include "file_io.hpp"
#include "platform.hpp"
#include "shell.hpp"
#include "spare_check.hpp"
#include "spare_file.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string_view>
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
    printError("%s", text.endLine().data());
    return kStatusTrouble;
}

// Standard output, for the findings and the summaries: written in large
// blocks, or, on a console, a line at a time as the platform shows names
// there.  Once a write has failed, nothing more is written.
struct Output {
    OutputFile file;
    bool console;
    bool failed = false;

    void put(const char* line, std::size_t size)
    {
        if (console) {
            printMessage("%s", line);
            failed = failed || std::ferror(stdout);
        } else {
            failed = failed || !file.put(line, size);
        }
    }
    // Writes out what is left; false when anything was lost.
    bool finish() { return (console || file.flush()) && !failed && finishStandardOutput(); }
};

// What the command line asks of every file.
struct Options {
    bool quiet = false;
    std::uint64_t maxFindings = 0;  // printed of each file, 0 for all
    Columns columns = Columns::Bytes;
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
    text.endLine();
    out.put(text.data(), text.size());
}

// The findings of one file, from the accounts of its pieces: each counted,
// and printed in the order of their columns in its line, up to the limit
// and the notice of a file that is not text.  The findings of a line of
// several pieces are held until it ends, so that the finding of a long
// line, at column 1, comes first; past what the holding takes (64 KiB, a
// thousand findings or so), they go out as they are.
class Printer {
public:
    Printer(Output& out, const char* path, const Options& options) : out_(out), path_(path), options_(options) {}

    bool piece(const LineBuffer& piece, const PieceReport& report)
    {
        Text text;
        for (int i = 0; i < report.findings; ++i) {
            const Noted& noted = report.list[i];
            counts.add(noted.kind);
            const std::uint64_t line = noted.kind == Finding::LongLine ? report.longLine.line : report.line;
            linesWithFindings += line != lastLine_;
            lastLine_ = line;
            if (!printing())
                continue;
            describeFinding(text, path_, piece, report, noted, options_.columns);
            // A line's findings are held while it goes on; a long line's
            // goes ahead of them.
            if (noted.kind == Finding::LongLine || (report.endsLine && heldCount_ == 0)) {
                put(text, noted.kind);
                continue;
            }
            if (heldSize_ + text.size() > sizeof held_ || heldCount_ == kMostHeld)
                release();
            std::memcpy(held_ + heldSize_, text.data(), text.size());
            heldSize_ += text.size();
            heldKinds_[heldCount_++] = noted.kind;
        }
        if (report.endsLine)
            release();
        return !out_.failed;
    }
    bool quietLines(std::uint64_t, std::uint64_t) { return true; }
    // The finding of a file without a data line.
    void noDataLine()
    {
        counts.add(Finding::NoDataLine);
        linesWithFindings += lastLine_ != 1;
        lastLine_ = 1;
        if (printing()) {
            Text text;
            describeNoDataLine(text, path_.data());
            put(text, Finding::NoDataLine);
        }
    }

    FindingCounts counts;
    std::uint64_t linesWithFindings = 0;

private:
    static constexpr int kMostHeld = 1024;  // findings

    bool printing() const
    {
        return !options_.quiet && !stopped_ && (options_.maxFindings == 0 || printed_ < options_.maxFindings);
    }
    void put(const Text& text, Finding kind)
    {
        if (!printing())
            return;
        out_.put(text.data(), text.size());
        ++printed_;
        stopped_ = kind == Finding::NotText;
    }
    // Prints the held findings, in their order.
    void release()
    {
        std::size_t at = 0;
        Text text;
        for (int i = 0; i < heldCount_; ++i) {
            const auto end = static_cast<std::size_t>(
                static_cast<const char*>(std::memchr(held_ + at, '\n', heldSize_ - at)) - held_ + 1);
            text.clear();
            put(text.add(held_ + at, end - at), heldKinds_[i]);
            at = end;
        }
        heldSize_ = 0;
        heldCount_ = 0;
    }

    Output& out_;
    std::string_view path_;  // (its length taken once: it begins every finding)
    const Options& options_;
    std::uint64_t lastLine_ = 0;
    std::uint64_t printed_ = 0;
    bool stopped_ = false;  // at the notice of a file that is not text
    char held_[std::size_t{1} << 16];
    std::size_t heldSize_ = 0;
    Finding heldKinds_[kMostHeld];
    int heldCount_ = 0;
};

// Opens the old spare file at path, - for standard input, into file, as
// tabfold opens one: a regular file or a stream; false, having said why,
// with the status in status.
bool openChecked(const char* path, FileHandle& file, int& status)
{
    FileFacts facts;
    Failure failure = Failure::CannotOpen;
    int error = 0;
    if (std::strcmp(path, "-") != 0) {
        if (openOldSpareFile(path, nullptr, facts, file, failure, error))
            return true;
    } else {
        file = standardInput();
        error = file.isOpen() ? 0 : errno;
        if (file.isOpen() && !describeOpenFile(file, facts))
            error = errno;
        else if (file.isOpen() && (facts.regular || facts.stream))
            return true;
        else if (file.isOpen())
            failure = Failure::NotRegularFile;
    }
    status = complain(failure, path, error);
    return false;
}

// Checks the old spare file at path, printing its findings and its
// summary; returns the status it deserves.
int checkFile(Output& out, const char* path, const Options& options)
{
    FileHandle file;
    int status;
    if (!openChecked(path, file, status))
        return status;
    InputFile in(std::move(file));
    CheckState state;
    state.screenColumns = options.columns == Columns::Display;
    Printer printer(out, path, options);
    switch (checkOldSpareFile(in, state, printer)) {
    case CheckEnd::ReadFailed:
        return complain(Failure::CannotRead, path, in.error());
    case CheckEnd::Stopped:
        return kStatusLost;
    case CheckEnd::Done:
        break;
    }
    if (lacksDataLine(state))
        printer.noDataLine();
    printSummary(out, path, state, printer.linesWithFindings, printer.counts);
    return printer.linesWithFindings > 0 ? kStatusFindings : kStatusClean;
}

constexpr char kUsage[] = "usage: tabfold-check [-q] [--max-findings N] [--columns=display] [--] spare2in1lineFile...\n";

constexpr char kHelp[] =
    "Tells, line by line, what the conversion of tabfold will do to each old\n"
    "spare file named (- is standard input):\n"
    "  a data line of fewer than six integers, whose missing fields repeat\n"
    "    those of an earlier line;\n"
    "  a sign straight after a digit, which begins a new integer;\n"
    "  an integer beyond 32 bits, read as the nearest bound;\n"
    "  a seventh integer, ignored with all that follows it;\n"
    "  a character straight after the sixth integer, or after it and\n"
    "    whitespace, ignored with all that follows it;\n"
    "  a number, or a sign and its digits, cut in two by the end of a piece;\n"
    "  a line too long for one piece of 254 bytes, read as several;\n"
    "  a carriage return that ends no line;\n"
    "  a heading line that holds data;\n"
    "  a file with no data line;\n"
    "  a NUL byte: the file is not text (its other findings are counted).\n"
    "\n"
    "  -q, --quiet             print only each file's summary\n"
    "  --max-findings N        print at most N findings of each file (0: all);\n"
    "                          the summary counts them all\n"
    "  --columns=display       give columns on the screen, tabs every 8 and a\n"
    "                          UTF-8 character one column (--columns=bytes:\n"
    "                          bytes, the default)\n"
    "  -h, --help              print this help and exit\n"
    "  --version               print the version and exit\n"
    "  --                      end the options: what follows is a file, even -x\n"
    "Options may come anywhere before --.\n"
    "\n"
    "Exit status: 0 when no file has a finding, 1 when one has, 2 when a\n"
    "file cannot be read or the command line is wrong.\n";

// Refuses the command line, saying why; returns the status.
int refuse(const char* why, const char* arg)
{
    printError(why, arg);
    printError("%s", kUsage);
    return kStatusTrouble;
}

// Reads the value of the option at args[i], given after = or as the next
// argument, into value; false when there is none.
bool valueOf(int argc, char** args, int& i, std::size_t nameLength, const char*& value)
{
    const char* arg = args[i];
    if (arg[nameLength] == '=') {
        value = arg + nameLength + 1;
        return true;
    }
    if (arg[nameLength] != '\0' || i + 1 >= argc)
        return false;
    value = args[++i];
    return true;
}

// Reads the options, wherever they stand before --, into options, and moves
// the files to the front of args, in their order; returns -1 to go on, with
// files their count, or the exit status, having said why (--help,
// --version, a wrong option).
int readOptions(int argc, char** args, Options& options, int& files)
{
    files = 0;
    bool ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = args[i];
        const char* value = nullptr;
        if (ended || arg[0] != '-' || arg[1] == '\0') {
            args[files++] = args[i];  // a file, or - for standard input
        } else if (std::strcmp(arg, "--") == 0) {
            ended = true;
        } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
            options.quiet = true;
        } else if (std::strncmp(arg, "--max-findings", 14) == 0 && (arg[14] == '\0' || arg[14] == '=')) {
            char* end = nullptr;
            if (!valueOf(argc, args, i, 14, value))
                return refuse("tabfold-check: %s needs a number\n", arg);
            errno = 0;
            options.maxFindings = std::strtoull(value, &end, 10);
            if (*value < '0' || *value > '9' || *end != '\0' || errno != 0)
                return refuse("tabfold-check: not a number of findings: %s\n", value);
        } else if (std::strncmp(arg, "--columns", 9) == 0 && (arg[9] == '\0' || arg[9] == '=')) {
            if (!valueOf(argc, args, i, 9, value))
                return refuse("tabfold-check: %s needs bytes or display\n", arg);
            if (std::strcmp(value, "display") != 0 && std::strcmp(value, "bytes") != 0)
                return refuse("tabfold-check: columns are bytes or display, not %s\n", value);
            options.columns = std::strcmp(value, "display") == 0 ? Columns::Display : Columns::Bytes;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            printMessage("%s", kUsage);
            printMessage("%s", kHelp);
            return finishStandardOutput() ? kStatusClean : kStatusTrouble;
        } else if (std::strcmp(arg, "--version") == 0) {
            printMessage("%s", "tabfold-check " TABFOLD_VERSION "\n");
            return finishStandardOutput() ? kStatusClean : kStatusTrouble;
        } else {
            return refuse("tabfold-check: unknown option %s\n", arg);
        }
    }
    if (files > 0)
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
    int files;
    if (const int status = readOptions(argc, args, options, files); status >= 0)
        return status;
    Output out{OutputFile(standardOutput()), standardOutputIsConsole()};
    int status = kStatusClean;
    for (int i = 0; i < files && status != kStatusLost && !out.failed; ++i) {
        const int checked = checkFile(out, args[i], options);
        status = checked > status || checked == kStatusLost ? checked : status;
    }
    if (!out.finish() || status == kStatusLost) {
        printError("%s", "tabfold-check: can not write standard output\n");
        return kStatusTrouble;
    }
    return status;
}
