// The texts of tabfold-check's findings, as a person reads them, made from
// the account of each piece (spare_check.hpp), and the line of text they
// are put together in.
#ifndef TABFOLD_CHECK_TEXT_HPP
#define TABFOLD_CHECK_TEXT_HPP

#include "spare_check.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// The fields' names, as the new spare file's heading gives them.
constexpr const char* kFieldNames[kFields] = {"N1", "N2", "LINK#", "N1", "N2", "LINK#"};

// A line of text, put together without the C library's printf, which took
// most of the check's time on files with many findings; what does not fit
// is cut off.
class Text {
public:
    Text() { bytes_[0] = '\0'; }

    Text& add(const char* text) { return add(text, std::strlen(text)); }
    Text& add(std::string_view text) { return add(text.data(), text.size()); }
    Text& add(const char* text, std::size_t count)
    {
        const std::size_t room = sizeof bytes_ - 1 - used_;
        // (Two copies, so that a literal's, of a size known, is inlined.)
        if (count <= room)
            std::memcpy(bytes_ + used_, text, count);
        else
            std::memcpy(bytes_ + used_, text, count = room);
        used_ += count;
        bytes_[used_] = '\0';
        return *this;
    }
    // A literal, whose length the compiler knows.
    template <std::size_t size>
    Text& literal(const char (&text)[size])
    {
        return add(text, size - 1);
    }
    // Its newline, in place of its last character when it is full, so that
    // a line cut off still ends.
    Text& endLine()
    {
        if (used_ == sizeof bytes_ - 1)
            --used_;
        return literal("\n");
    }
    // In decimal, as %d writes it.
    Text& number(std::uint64_t value);
    Text& signedNumber(std::int64_t value);
    // As a person reads it: itself, quoted, when it is printable, a NUL
    // byte, or else its code.
    Text& character(char c);
    // Whether what is added from now on stands in a JSON string, where a
    // quote or a backslash that character() adds is escaped.  (The texts of
    // findings hold no other character that JSON escapes.)
    void setInJson(bool inJson) { inJson_ = inJson; }

    void clear()
    {
        used_ = 0;
        bytes_[0] = '\0';
    }
    const char* data() const { return bytes_; }  // NUL-terminated
    std::size_t size() const { return used_; }

private:
    char bytes_[8192];  // (not cleared: a text is made for every finding)
    std::size_t used_ = 0;
    bool inJson_ = false;
};

// Appends to text the counts of the kinds of finding that there are, as "1
// short line, 2 signs after a digit", or nothing.
void describeCounts(const FindingCounts& counts, Text& text);

// Appends to text the message of the finding noted in the report: what
// the conversion does, as a person reads it; piece is the piece that the
// report tells of.
void describeMessage(Text& text, const LineBuffer& piece, const PieceReport& report, const Noted& noted);

// Appends to text the message of the finding about a file that holds no
// data line, whose conversion holds no record.
void describeNoDataLine(Text& text);

#endif
