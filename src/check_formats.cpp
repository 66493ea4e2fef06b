// The printers of tabfold-check's findings: the gcc form, JSON Lines and
// SARIF 2.1.0, and the JSON strings and URIs they are written in.
#include "check_formats.hpp"

#include "platform.hpp"

#include <cstdlib>
#include <cstring>

const KindOfFinding kKinds[kFindingKinds] = {
    {"short-line", "a data line of fewer than six integers, whose missing\n"
                   "fields repeat those of an earlier line"},
    {"sign-after-digit", "a sign straight after a digit, which begins a new integer"},
    {"beyond-32-bits", "an integer beyond 32 bits, read as the nearest bound"},
    {"seventh-integer", "a seventh integer, ignored with all that follows it"},
    {"glued-sixth", "a character straight after the sixth integer, ignored\nwith all that follows it"},
    {"after-sixth", "a character after the sixth integer and whitespace,\nignored with all that follows it"},
    {"cut-number", "a number, or a sign and its digits, cut in two by the\nend of a piece"},
    {"long-line", "a line too long for one piece of 254 bytes, read as\nseveral"},
    {"lone-return", "a carriage return that ends no line"},
    {"heading-with-data", "a heading line that holds data"},
    {"no-data-line", "a file with no data line"},
    {"not-text", "a NUL byte: the file is not text (its other findings\nare counted)"},
};

namespace {

// How many bytes the UTF-8 character at text takes, of the count there,
// by the standard's rules (no overlong form, no surrogate, nothing past
// U+10FFFF); 0 when no character of UTF-8 begins there.
std::size_t utf8Length(const unsigned char* text, std::size_t count)
{
    const unsigned char lead = text[0];
    const std::size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > count)
        return 0;
    // The second byte's range, narrower after E0, ED, F0 and F4.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (text[1] < low || text[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((text[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

// Appends the bytes as the characters of a JSON string, without its
// quotes: UTF-8 as it is, but quotes, backslashes and control characters
// escaped, and a byte that begins no character of UTF-8 as the code point
// of its value (\u00XX).  (To a Text or to Grown bytes.)
template <class Sink>
void addJson(Sink& text, std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* const at = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t copied = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = at[i];
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = (c & 0x80) != 0 ? utf8Length(at + i, bytes.size() - i) : 0;
        if (length > 0) {
            i += length;
            continue;
        }
        text.add(bytes.data() + copied, i - copied);
        const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        if (c == '"' || c == '\\') {
            const char pair[] = {'\\', static_cast<char>(c)};
            text.add(pair, 2);
        } else if (c == '\n') {
            text.literal("\\n");
        } else {
            text.add(escaped, sizeof escaped);
        }
        copied = ++i;
    }
    text.add(bytes.data() + copied, bytes.size() - copied);
}

// Appends the bytes as a JSON string, with its quotes.
template <class Sink>
Sink& addQuoted(Sink& text, std::string_view bytes)
{
    text.literal("\"");
    addJson(text, bytes);
    return text.literal("\"");
}

}  // namespace

void addUri(Grown& text, std::string_view path, bool windows)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto separator = [windows](char c) { return c == '/' || (windows && c == '\\'); };
    const bool letter = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
    std::size_t from = 0;
    if (windows && letter && path[1] == ':' && separator(path[2])) {  // C:\...
        text.literal("file:///").add(path.data(), 2);
        from = 2;
    } else if (windows && path.size() >= 2 && separator(path[0]) && separator(path[1])) {  // \\server\share
        text.literal("file:");
    } else if (!path.empty() && separator(path[0])) {
        text.literal("file://");
    }
    for (std::size_t i = from; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (separator(path[i])) {
            text.literal("/");
        } else if (unreserved) {
            text.add(path.data() + i, 1);
        } else {
            const char escaped[] = {'%', kHex[c >> 4], kHex[c & 15]};
            text.add(escaped, sizeof escaped);
        }
    }
}

namespace {

// Appends a text of the help, its wrapped lines joined by blanks.
void addUnwrapped(Text& text, const char* help)
{
    for (const char* line = help; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) {
            text.add(line);
            return;
        }
        text.add(line, static_cast<std::size_t>(end - line)).literal(" ");
        line = end + 1;
    }
}

// The line of the file that the finding noted in the report stands in.
std::uint64_t lineOf(const PieceReport& report, const Noted& noted)
{
    return noted.kind == Finding::LongLine ? report.longLine.line : report.line;
}

// Appends the field as JSON's "fields" name it, without its closing brace:
// its record, its name and its value.
void addField(Text& text, const FieldTold& told)
{
    static constexpr std::string_view kStarts[kFields] = {
        "{\"record\":\"left\",\"name\":\"N1\",\"value\":",  "{\"record\":\"left\",\"name\":\"N2\",\"value\":",
        "{\"record\":\"left\",\"name\":\"LINK#\",\"value\":", "{\"record\":\"right\",\"name\":\"N1\",\"value\":",
        "{\"record\":\"right\",\"name\":\"N2\",\"value\":", "{\"record\":\"right\",\"name\":\"LINK#\",\"value\":"};
    text.add(kStarts[told.field]).signedNumber(told.value);
}

// Appends JSON's "fields" of the finding: what each field that it tells
// of is written as, and, as the kind has them, the line whose value it
// repeats, the integer as it stands in the piece, or the piece that
// reads it.
void addFields(Text& text, const LineBuffer& piece, const PieceReport& report, const Noted& noted)
{
    FieldTold told[kFields];
    const int count = fieldsTold(report, noted, told);
    if (count == 0)
        return;
    text.literal(",\"fields\":[");
    for (int i = 0; i < count; ++i) {
        addField(text.add(i == 0 ? "" : ","), told[i]);
        if (noted.kind == Finding::ShortLine && told[i].fromLine == 0)
            text.literal(",\"from_line\":null}");
        else if (noted.kind == Finding::ShortLine)
            text.literal(",\"from_line\":").number(told[i].fromLine).literal("}");
        else if (noted.kind == Finding::CutNumber)
            text.literal(",\"piece\":").number(told[i].piece).literal("}");
        else
            text.literal(",\"integer\":\"")  // (a sign and digits)
                .add(piece.text + told[i].begin, told[i].end - told[i].begin).literal("\"}");
    }
    text.literal("]");
    if (noted.kind == Finding::CutNumber) {
        const CutNumber& cut = report.cut;
        text.literal(",\"number\":\"").add(&cut.sign, cut.sign != '\0' ? 1 : 0).add(cut.digits)
            .literal("\",\"digits\":")
            .number(cut.count);
    }
}

// Appends the message that message(text) appends in a JSON string.
template <class Message>
void addJsonMessage(Text& text, Message&& message)
{
    text.setInJson(true);
    message(text);
    text.setInJson(false);
}

// Puts in text the finding of the kind at the place, in the format, but
// for the file's name, whose place it returns; the message, which
// message(text) appends, and for JSON what addMore(text) appends after it,
// the fields.
template <class Message, class More>
std::size_t formatAt(Format format, Text& text, std::uint64_t line, std::size_t column, std::uint64_t piece,
                     Finding kind, Message&& message, More&& addMore)
{
    text.clear();
    const std::string_view name = kKinds[static_cast<int>(kind)].name;
    std::size_t hole = 0;
    switch (format) {
    case Format::Gcc:
        // (The word warning copied apart from the colon before it, so that
        // it stands whole among the program's bytes, where a package check
        // looks for misspelt words.)
        text.literal(":").number(line).literal(":").number(column).literal(": ").literal("warning: ");
        message(text);
        break;
    case Format::Json:
        hole = text.literal("{\"type\":\"finding\",\"path\":").size();
        text.literal(",\"line\":").number(line).literal(",\"column\":").number(column);
        if (piece == 0)
            text.literal(",\"piece\":null");
        else
            text.literal(",\"piece\":").number(piece);
        text.literal(",\"kind\":\"").add(name).literal("\",\"message\":\"");
        addJsonMessage(text, message);
        addMore(text.literal("\""));
        text.literal("}");
        break;
    case Format::Sarif:
        text.literal(",\n        {\"ruleId\": \"").add(name).literal("\", \"ruleIndex\": ")
            .number(static_cast<std::uint64_t>(kind)).literal(", \"level\": \"warning\", \"message\": {\"text\": \"");
        addJsonMessage(text, message);
        hole = text.literal("\"}, \"locations\": [{\"physicalLocation\": {\"artifactLocation\": ").size();
        text.literal(", \"region\": {\"startLine\": ").number(line).literal(", \"startColumn\": ").number(column)
            .literal("}}}]}");
        return hole;  // (the next one's comma ends its line)
    }
    text.endLine();
    return hole;
}

}  // namespace

int fieldsTold(const PieceReport& report, const Noted& noted, FieldTold (&told)[kFields])
{
    int count = 0;
    const auto read = [&](int field, std::uint64_t piece) {
        const ScannedInteger& found = report.found[field];
        told[count++] = {field, found.value, 0, piece, found.begin, found.end};
    };
    switch (noted.kind) {
    case Finding::ShortLine:
        for (int field = report.integers; field < kFields; ++field)
            told[count++] = {field, report.carried[field], report.carriedFrom[field], report.dataPiece, 0, 0};
        break;
    case Finding::SignAfterDigit:
    case Finding::Beyond32Bits:
        read(noted.subject, report.dataPiece);
        break;
    case Finding::GluedSixth:
        read(kFields - 1, report.dataPiece);
        break;
    case Finding::CutNumber:
        if (report.cut.fate == CutFate::Read)
            told[count++] = {report.cut.field, report.cut.value, 0, report.dataPiece - 1, 0, 0};
        read(0, report.dataPiece);
        break;
    default:
        break;
    }
    return count;
}

std::uint64_t pieceOf(const PieceReport& report, const Noted& noted)
{
    if (noted.kind == Finding::LongLine) {
        const int data = report.longLine.pieces - report.longLine.headingPieces;
        return data == 0 ? 0 : report.dataPiece + 1 - static_cast<std::uint64_t>(data);
    }
    // (A carriage return that ended the piece before belongs to it.)
    const bool before = noted.kind == Finding::LoneReturn && noted.subject == 1;
    return report.dataPiece == 0 ? 0 : report.dataPiece - before;
}

void labelFile(Format format, std::string_view path, Grown& label)
{
    switch (format) {
    case Format::Gcc:
        label.add(path);
        break;
    case Format::Json:
        addQuoted(label, path);
        break;
    case Format::Sarif:
        addUri(label.literal("{\"uri\": \""), path, pathsOfWindows());
        label.literal("\"}");
        break;
    }
}

Columns columnsOf(Format format, Columns asked)
{
    return format == Format::Sarif ? Columns::CodePoints : asked;
}

std::size_t formatFinding(Format format, Text& text, const LineBuffer& piece, const PieceReport& report,
                          const Noted& noted, Columns columns)
{
    return formatAt(format, text, lineOf(report, noted), columns == Columns::Bytes ? noted.column : noted.display,
                    pieceOf(report, noted), noted.kind, [&](Text& t) { describeMessage(t, piece, report, noted); },
                    [&](Text& t) { addFields(t, piece, report, noted); });
}

std::size_t formatNoDataLine(Format format, Text& text)
{
    return formatAt(format, text, 1, 1, 0, Finding::NoDataLine, [](Text& t) { describeNoDataLine(t); },
                    [](Text&) {});
}

std::size_t formatSummary(Format format, Text& text, const CheckState& state, std::uint64_t linesWithFindings,
                          const FindingCounts& counts, bool first)
{
    text.clear();
    if (format == Format::Gcc) {
        text.literal(": ").number(state.dataLines)
            .add(state.dataLines == 1 ? " data line in " : " data lines in ").number(state.dataPieces)
            .add(state.dataPieces == 1 ? " data line piece, " : " data line pieces, ").number(linesWithFindings)
            .add(linesWithFindings == 1 ? " line with findings" : " lines with findings");
        if (linesWithFindings > 0)
            describeCounts(counts, text.literal(": "));
        text.endLine();
        return 0;
    }
    if (format == Format::Sarif)
        text.add(first ? "        {\"artifactLocation\": " : ",\n        {\"artifactLocation\": ");
    else
        text.literal("{\"type\":\"summary\",\"path\":");
    const std::size_t hole = text.size();
    text.literal(",\"data_lines\":").number(state.dataLines).literal(",\"pieces\":").number(state.dataPieces)
        .literal(",\"lines_with_findings\":").number(linesWithFindings).literal(",\"counts\":{");
    for (int kind = 0; kind < kFindingKinds; ++kind)
        text.add(kind == 0 ? "\"" : ",\"").add(kKinds[kind].name).literal("\":").number(counts.of[kind]);
    text.literal("}}");
    if (format == Format::Json)
        text.endLine();
    return hole;
}

std::size_t formatError(Format format, Text& text, std::string_view message, bool first)
{
    text.clear();
    const std::string_view shown = message.substr(0, 1024);
    const char* const more = shown.size() < message.size() ? "..." : "";
    if (format == Format::Json) {
        const std::size_t hole = text.literal("{\"type\":\"error\",\"path\":").size();
        addJson(text.literal(",\"message\":\""), shown);
        text.add(more).literal("\"}").endLine();
        return hole;
    }
    if (format == Format::Sarif) {
        addJson(text.add(first ? "        " : ",\n        ").literal("{\"level\": \"error\", \"message\": {\"text\": \""),
                shown);
        const std::size_t hole = text.add(more).literal("\"}, \"locations\": [{\"physicalLocation\": {\"artifactLocation\": ").size();
        text.literal("}}]}");
        return hole;
    }
    return 0;
}

Grown::~Grown()
{
    std::free(bytes_);
}

Grown& Grown::add(const char* bytes, std::size_t count)
{
    if (count == 0)
        return *this;
    if (size_ + count > capacity_) {
        const std::size_t capacity = 2 * (size_ + count);
        char* const grown = failed_ ? nullptr : static_cast<char*>(std::realloc(bytes_, capacity));
        if (grown == nullptr) {
            failed_ = true;
            return *this;
        }
        bytes_ = grown;
        capacity_ = capacity;
    }
    std::memcpy(bytes_ + size_, bytes, count);
    size_ += count;
    return *this;
}

void formatStart(Format format, Text& text, const char* version)
{
    text.clear();
    if (format != Format::Sarif)
        return;
    text.literal("{\n  \"version\": \"2.1.0\",\n  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
                 "  \"runs\": [\n    {\n      \"tool\": {\"driver\": {\"name\": \"tabfold-check\", \"version\": \"")
        .add(version).literal("\", \"rules\": [");
    for (int kind = 0; kind < kFindingKinds; ++kind) {
        text.add(kind == 0 ? "\n        {\"id\": \"" : ",\n        {\"id\": \"").add(kKinds[kind].name)
            .literal("\", \"shortDescription\": {\"text\": \"");
        addUnwrapped(text, kKinds[kind].help);
        text.literal("\"}, \"defaultConfiguration\": {\"level\": \"warning\"}}");
    }
    text.literal("\n      ]}},\n      \"columnKind\": \"unicodeCodePoints\",\n      \"results\": [");
}
