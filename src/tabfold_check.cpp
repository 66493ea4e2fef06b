// tabfold-check: tells, line by line, what tabfold's rules will do to the
// data of old spare files, from the account of each line piece that the
// check makes (spare_check.hpp).  Each file, a regular file or a stream, is
// read once, in pieces as tabfold reads it, in constant memory.  Findings
// go to standard output in the form asked (check_formats.hpp), by default
// as PATH:LINE:COLUMN: warning: and a message, in the order of their lines
// and columns, up to --max-findings and the first NUL byte, then a summary
// of the file that counts them all; what keeps a file from being checked
// goes to standard error.

#include "check_formats.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "shell.hpp"
#include "spare_check.hpp"
#include "spare_file.hpp"

#include <algorithm>
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

// Standard output, for the findings and the summaries, in the format
// asked: written in large blocks, or, on a console, a line at a time as
// the platform shows names there.  Once a write has failed, nothing more
// is written.  What SARIF's log tells at its end is kept until then.
struct Output {
    OutputFile file;
    bool console;
    Format format = Format::Gcc;
    bool failed = false;
    std::uint64_t results = 0;  // findings given out, of every file
    Grown summaries, errors;    // SARIF's
    bool everyFileChecked = true;

    void put(const char* bytes, std::size_t size)
    {
        failed = failed || !(console ? printOnConsole(bytes, size) : file.put(bytes, size));
    }
    // Gives out the text with the file's name of label at hole.
    void put(const Text& text, std::size_t hole, const Grown& label, std::size_t skip = 0)
    {
        put(text.data() + skip, hole - skip);
        put(label.data(), label.size());
        put(text.data() + hole, text.size() - hole);
    }
    // Gives out a finding: SARIF's first result goes without the comma
    // that parts it from the one before.
    void putFinding(const Text& text, std::size_t hole, const Grown& label)
    {
        put(text, hole, label, format == Format::Sarif && results == 0);
        ++results;
    }
    // Gives out a summary or an error, or keeps it for SARIF's end; false
    // when there is no memory to keep it.
    bool putOrKeep(const Text& text, std::size_t hole, const Grown& label, Grown& kept)
    {
        if (format != Format::Sarif) {
            put(text, hole, label);
            return true;
        }
        kept.add(text.data(), hole).add(label.data(), label.size()).add(text.data() + hole, text.size() - hole);
        return !kept.failed();
    }
    // Writes out what is left, SARIF's end among it; false when anything
    // was lost.
    bool finish()
    {
        formatEnd(format, everyFileChecked, errors, summaries,
                  [this](const char* bytes, std::size_t size) { put(bytes, size); });
        return (console || file.flush()) && !failed && finishStandardOutput();
    }
};

// Says on standard error, in one line written at once, why the file at path
// cannot be checked, with the reason of the system's error number, when
// there is one, and tells it in the format of standard output (but the
// gcc form's); returns the status.
int complain(Output& out, Failure failure, const char* path, int error = 0)
{
    const char* message = messageOf(failure);  // "... %s ...", a path for %s
    const char* const hole = std::strstr(message, "%s");
    Text text;
    text.add(message, static_cast<std::size_t>(hole - message)).add(path).add(hole + 2);
    if (error != 0)
        text.literal(": ").add(reasonOf(error));
    Text line;
    printError("%s", line.literal("tabfold-check: ").add(text.data(), text.size()).endLine().data());
    Text told;
    Grown label;
    labelFile(out.format, path, label);
    const std::size_t name =
        formatError(out.format, told, std::string_view(text.data(), text.size()), out.errors.empty());
    out.everyFileChecked = false;
    if (told.size() > 0 && (label.failed() || !out.putOrKeep(told, name, label, out.errors)))
        out.failed = true;
    return kStatusTrouble;
}

// What the command line asks of every file.
struct Options {
    bool quiet = false;
    std::uint64_t maxFindings = 0;  // printed of each file, 0 for all
    Columns columns = Columns::Bytes;
    Format format = Format::Gcc;
};

// The findings of one file, from the accounts of its pieces: each counted,
// and printed in the order of their lines and columns, up to the limit and
// the notice of a file that is not text.  The findings of a line of
// several pieces are held until it ends, so that the finding of a long
// line, at column 1, comes first, and those of the heading until a data
// line begins, so that the finding of a file without one, at line 1, comes
// before them; past what the holding takes (64 findings), they go out as
// they are, at the same place in every format.
class Printer {
public:
    Printer(Output& out, const char* path, const Options& options) : out_(out), options_(options)
    {
        labelFile(options.format, path, label_);
    }
    // False when there was no memory for the file's name in the format.
    bool ready() const { return !label_.failed(); }

    bool piece(const LineBuffer& piece, const PieceReport& report)
    {
        if (report.dataPiece == 1 && report.column == 1)
            release(heldCount_);  // the heading's, of lines that have ended
        Text text;
        for (int i = 0; i < report.findings; ++i) {
            const Noted& noted = report.list[i];
            counts.add(noted.kind);
            const std::uint64_t line = noted.kind == Finding::LongLine ? report.longLine.line : report.line;
            linesWithFindings += line != lastLine_;
            lastLine_ = line;
            firstLineTold_ = firstLineTold_ || line == 1;
            if (!printing())
                continue;
            const std::size_t hole = formatFinding(options_.format, text, piece, report, noted,
                                                   columnsOf(options_.format, options_.columns));
            // A line's findings are held while it goes on; a long line's
            // goes ahead of them, after those of the lines before.
            if (noted.kind == Finding::LongLine) {
                release(ended_);
                put(text, hole, noted.kind);
            } else if (report.endsLine && heldCount_ == 0 && !report.heading) {
                put(text, hole, noted.kind);
            } else {
                hold(text, hole, noted.kind);
            }
        }
        if (report.endsLine && !report.heading)
            release(heldCount_);
        else if (report.endsLine)
            ended_ = heldCount_;
        return !out_.failed;
    }
    bool quietLines(std::uint64_t, std::uint64_t) { return true; }
    // Ends the file: the finding of a file without a data line first, which
    // stands at line 1, then what is held.
    void end(bool lacksDataLine)
    {
        if (lacksDataLine) {
            counts.add(Finding::NoDataLine);
            linesWithFindings += !firstLineTold_;
            Text text;
            const std::size_t hole = formatNoDataLine(options_.format, text);
            put(text, hole, Finding::NoDataLine);
        }
        release(heldCount_);
    }
    const Grown& label() const { return label_; }

    FindingCounts counts;
    std::uint64_t linesWithFindings = 0;

private:
    static constexpr int kMostHeld = 64;  // findings

    bool printing() const
    {
        return !options_.quiet && !stopped_ && (options_.maxFindings == 0 || printed_ < options_.maxFindings);
    }
    void put(const Text& text, std::size_t hole, Finding kind)
    {
        if (!printing())
            return;
        out_.putFinding(text, hole, label_);
        ++printed_;
        stopped_ = kind == Finding::NotText;
    }
    // Holds the finding's text, but for the file's name, making room first
    // where it is full: past kMostHeld findings, which the bytes held always
    // take (a finding's text, without the name, takes under 2 KiB), so that
    // every format gives the same findings out at the same place.
    void hold(const Text& text, std::size_t hole, Finding kind)
    {
        if (heldSize_ + text.size() > sizeof held_ || heldCount_ == kMostHeld)
            release(heldCount_);
        std::memcpy(held_ + heldSize_, text.data(), text.size());
        heldFindings_[heldCount_++] = {kind, heldSize_ + hole, heldSize_ + text.size()};
        heldSize_ += text.size();
    }
    // Prints the first count held findings, in their order.
    void release(int count)
    {
        std::size_t at = 0;
        Text text;
        for (int i = 0; i < count; ++i) {
            text.clear();
            put(text.add(held_ + at, heldFindings_[i].end - at), heldFindings_[i].hole - at, heldFindings_[i].kind);
            at = heldFindings_[i].end;
        }
        std::memmove(held_, held_ + at, heldSize_ - at);
        heldSize_ -= at;
        heldCount_ -= count;
        for (int i = 0; i < heldCount_; ++i) {
            const auto& moved = heldFindings_[i + count];
            heldFindings_[i] = {moved.kind, moved.hole - at, moved.end - at};
        }
        ended_ = 0;
    }

    Output& out_;
    Grown label_;  // the file's name in the format, made once for every finding
    const Options& options_;
    std::uint64_t lastLine_ = 0;
    bool firstLineTold_ = false;  // a finding of line 1 was counted
    std::uint64_t printed_ = 0;
    bool stopped_ = false;  // at the notice of a file that is not text
    char held_[std::size_t{1} << 17];
    std::size_t heldSize_ = 0;
    struct {
        Finding kind;
        std::size_t hole, end;  // in held_
    } heldFindings_[kMostHeld];
    int heldCount_ = 0;
    int ended_ = 0;  // of them, the findings of the heading's lines that have ended
};

// Opens the old spare file at path, - for standard input, into file, as
// tabfold opens one: a regular file or a stream; false, having said why,
// with the status in status.
bool openChecked(Output& out, const char* path, FileHandle& file, int& status)
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
    status = complain(out, failure, path, error);
    return false;
}

// Checks the old spare file at path, printing its findings and its
// summary; returns the status it deserves.
int checkFile(Output& out, const char* path, const Options& options)
{
    FileHandle file;
    int status;
    if (!openChecked(out, path, file, status))
        return status;
    InputFile in(std::move(file));
    CheckState state;
    state.columns = columnsOf(options.format, options.columns);
    Printer printer(out, path, options);
    if (!printer.ready())
        return complain(out, Failure::OutOfMemory, path);
    switch (checkOldSpareFile(in, state, printer)) {
    case CheckEnd::ReadFailed:
        return complain(out, Failure::CannotRead, path, in.error());
    case CheckEnd::Stopped:
        return kStatusLost;
    case CheckEnd::Done:
        break;
    }
    printer.end(lacksDataLine(state));
    Text text;
    const std::size_t hole =
        formatSummary(options.format, text, state, printer.linesWithFindings, printer.counts, out.summaries.empty());
    if (!out.putOrKeep(text, hole, printer.label(), out.summaries))
        return complain(out, Failure::OutOfMemory, path);
    return printer.linesWithFindings > 0 ? kStatusFindings : kStatusClean;
}

constexpr char kUsage[] =
    "usage: tabfold-check [-q] [--max-findings N] [--columns=display] [--format=gcc|json|sarif] [--]\n"
    "                     spare2in1lineFile...\n";

constexpr char kIntroduction[] =
    "Tells, line by line, what the conversion of tabfold will do to each old\n"
    "spare file named (- is standard input); the kinds of finding:\n";

constexpr char kHelp[] =
    "\n"
    "  -q, --quiet             print only each file's summary\n"
    "  --max-findings N        print at most N findings of each file (0: all);\n"
    "                          the summary counts them all\n"
    "  --columns=display       give columns on the screen, tabs every 8 and a\n"
    "                          UTF-8 character one column (--columns=bytes:\n"
    "                          bytes, the default)\n"
    "  --format=FORMAT         gcc: PATH:LINE:COLUMN: warning: and the message,\n"
    "                          as compilers print warnings (the default);\n"
    "                          json: JSON Lines, an object for each finding,\n"
    "                          then the file's summary; sarif: one SARIF 2.1.0\n"
    "                          log, its columns in Unicode code points\n"
    "  -h, --help              print this help and exit\n"
    "  --version               print the version and exit\n"
    "  --                      end the options: what follows is a file, even -x\n"
    "Options may come anywhere before --.\n"
    "\n"
    "Exit status: 0 when no file has a finding, 1 when one has, 2 when a\n"
    "file cannot be read or the command line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tabfold-check old.txt\n"
    "    old.txt:4:1: warning: 2 integers of 6, then the end of the line: ...\n"
    "  tabfold-check --format=json old.txt\n"
    "    {\"type\":\"finding\",\"path\":\"old.txt\",\"line\":4,\"column\":1,\"piece\":2,...}\n"
    "  tabfold-check --format=sarif spares/*.txt >spares.sarif\n";

// Prints the usage and the help: the kinds of finding, by their names, and
// the options.
void printHelp()
{
    static constexpr char kPadding[] = "                   ";  // to the column of descriptions
    printMessage("%s", kUsage);
    printMessage("%s", kIntroduction);
    for (const KindOfFinding& kind : kKinds) {
        Text text;
        text.literal("  ").add(kind.name).add(std::string_view(kPadding, sizeof kPadding - 1 - kind.name.size()));
        for (const char* c = kind.help; *c != '\0'; ++c)
            text.add(*c == '\n' ? "\n                     " : std::string_view(c, 1));
        printMessage("%s", text.endLine().data());
    }
    printMessage("%s", kHelp);
}

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
        } else if (std::strncmp(arg, "--format", 8) == 0 && (arg[8] == '\0' || arg[8] == '=')) {
            if (!valueOf(argc, args, i, 8, value) || *value == '\0')
                return refuse("tabfold-check: %s needs gcc, json or sarif\n", arg);
            const char* const names[] = {"gcc", "json", "sarif"};
            int format = 0;
            while (format < 3 && std::strcmp(value, names[format]) != 0)
                ++format;
            if (format == 3)
                return refuse("tabfold-check: formats are gcc, json or sarif, not %s\n", value);
            options.format = static_cast<Format>(format);
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            printHelp();
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
    Output out{OutputFile(standardOutput()), standardOutputIsConsole(), options.format, false, 0, {}, {}, true};
    Text start;
    formatStart(options.format, start, TABFOLD_VERSION);
    out.put(start.data(), start.size());
    int status = kStatusClean;
    for (int i = 0; i < files && status != kStatusLost && !out.failed; ++i) {
        const int checked = checkFile(out, args[i], options);
        status = checked == kStatusLost ? checked : std::max(status, checked);
    }
    if (!out.finish() || status == kStatusLost) {
        printError("%s", "tabfold-check: can not write standard output\n");
        return kStatusTrouble;
    }
    return status;
}
