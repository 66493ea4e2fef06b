// The forms that tabfold-check writes its findings in, each a printer over
// the one account of each piece (spare_check.hpp) and its texts
// (check_text.hpp): as compilers print warnings (gcc), as JSON Lines for
// scripts, or as one SARIF 2.1.0 log for code scanning.  Each gives the
// same findings, in the same order, and tells the same counts.
#ifndef TABFOLD_CHECK_FORMATS_HPP
#define TABFOLD_CHECK_FORMATS_HPP

#include "check_text.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class Format { Gcc, Json, Sarif };

// A kind of finding as scripts name it, and what it is, as --help tells
// it (wrapped for the help's column of descriptions); in the order of
// Finding.
struct KindOfFinding {
    std::string_view name;
    const char* help;
};
extern const KindOfFinding kKinds[kFindingKinds];

// A field that a finding tells of, as the conversion writes it: which of
// the six (0 to 5), its value, the line whose value it repeats (of a short
// line: 0 when it is 0 for want of one), the data line piece that reads it
// (from 1), and where its integer stands in the piece, if it is one read
// there (end 0 otherwise).
struct FieldTold {
    int field = 0;
    std::int32_t value = 0;
    std::uint64_t fromLine = 0;
    std::uint64_t piece = 0;
    std::size_t begin = 0, end = 0;
};

// Puts in told the fields that the finding noted in the report tells of;
// returns how many.
int fieldsTold(const PieceReport& report, const Noted& noted, FieldTold (&told)[kFields]);

// The data line piece of the file that the finding belongs to, from 1; 0
// for the heading's and the file's.
std::uint64_t pieceOf(const PieceReport& report, const Noted& noted);

// Bytes that grow as needed, in memory of the C library's own: the name of
// a file in a format, which no fixed line may hold (a path escaped in JSON
// takes up to six times its bytes), and what SARIF's log keeps until its
// end.  After a failed allocation it holds what it held, and says so.
class Grown {
public:
    Grown() = default;
    Grown(const Grown&) = delete;
    Grown& operator=(const Grown&) = delete;
    ~Grown();

    Grown& add(const char* bytes, std::size_t count);
    Grown& add(std::string_view bytes) { return add(bytes.data(), bytes.size()); }
    template <std::size_t size>
    Grown& literal(const char (&text)[size])
    {
        return add(text, size - 1);
    }
    bool failed() const { return failed_; }
    bool empty() const { return size_ == 0; }
    const char* data() const { return bytes_ == nullptr ? "" : bytes_; }
    std::size_t size() const { return size_; }

private:
    char* bytes_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
    bool failed_ = false;
};

// Appends the path as a URI reference, as SARIF takes it: relative as
// given, an absolute path as a file: URI; folders parted by /, and every
// byte but the unreserved characters percent-encoded.  Windows' paths
// also part folders by \ and begin with C:\ or \\server\share.
void addUri(Grown& text, std::string_view path, bool windows);

// The name of the file at path in the format, made once for all that is
// told of it: the path as given, for gcc; a JSON string, with its quotes,
// for JSON; SARIF's artifact location, {"uri": ...}, with the path as a URI
// reference, for SARIF.
void labelFile(Format format, std::string_view path, Grown& label);

// What the columns of findings count in the format, given the --columns
// asked for: SARIF counts Unicode code points, whatever was asked.
Columns columnsOf(Format format, Columns asked);

// Puts in text the finding noted in the report, but for the file's name,
// whose place it returns: the gcc form's line, PATH:LINE:COLUMN: warning:
// and the message; JSON's object, on a line; SARIF's result, after a comma
// and a newline, which the first result of the log goes without.  piece is
// the piece that the report tells of.
std::size_t formatFinding(Format format, Text& text, const LineBuffer& piece, const PieceReport& report, const Noted& noted,
                   Columns columns);

// Puts in text the finding about a file without a data line, as
// formatFinding puts the others.
std::size_t formatNoDataLine(Format format, Text& text);

// Puts in text the summary of a file, but for its name: its data lines,
// pieces, lines with findings and the count of each kind of finding, on a
// line (for SARIF, an object of the run's properties, after a comma unless
// it is the first).
std::size_t formatSummary(Format format, Text& text, const CheckState& state, std::uint64_t linesWithFindings,
                   const FindingCounts& counts, bool first);

// Puts in text, but for the file's name, why it cannot be checked, the
// message as standard error gives it after the program's name (for JSON
// an object on a line, for SARIF a notification of the run's invocation,
// after a comma unless it is the first; nothing for gcc, whose errors go
// to standard error alone).  A message of more than 1 KiB is shortened,
// the path being whole in the name.
std::size_t formatError(Format format, Text& text, std::string_view message, bool first);

// Puts in text what the format writes before the first file: SARIF's log
// up to its first result, the tool and its rules; for the others nothing.
void formatStart(Format format, Text& text, const char* version);

// Gives put(bytes, size), in turn, what the format writes after the last
// file: SARIF's end of its results, the run's invocation, whether every
// file was checked and the notifications kept in errors, and its
// properties, the summaries kept in summaries; for the others nothing.
template <class Put>
void formatEnd(Format format, bool everyFileChecked, const Grown& errors, const Grown& summaries, Put&& put)
{
    if (format != Format::Sarif)
        return;
    const std::string_view parts[] = {
        "\n      ],\n      \"invocations\": [{\"executionSuccessful\": ",
        everyFileChecked ? "true" : "false",
        ", \"toolExecutionNotifications\": [\n",
        "\n      ]}],\n      \"properties\": {\"files\": [\n",
        "\n      ]}\n    }\n  ]\n}\n"};
    put(parts[0].data(), parts[0].size());
    put(parts[1].data(), parts[1].size());
    put(parts[2].data(), parts[2].size());
    put(errors.data(), errors.size());
    put(parts[3].data(), parts[3].size());
    put(summaries.data(), summaries.size());
    put(parts[4].data(), parts[4].size());
}

#endif
