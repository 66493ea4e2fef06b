#include "pass.hpp"

#include "plain_lines.hpp"

#include <algorithm>
#include <cstring>

namespace {

// The parse operation of the side.
void parse(Side side, const LineBuffer& line, SpareRecord& record)
{
    (side == Side::Left ? parseLeftRecord : parseRightRecord)(line, record);
}

// Converts the plain pieces at in's position, the fast way, and leaves
// record as parsing the last of them would have (parsed once, here, for the
// next piece that lacks some fields); false when a write failed.
bool convertPlain(InputFile& in, OutputFile& out, Side side, Kernel kernel, LineBuffer& line, SpareRecord& record)
{
    const PlainRun run = convertPlainPieces(in.data(), in.available(), out, side, kernel);
    if (run.lastLine != nullptr) {
        line.length = static_cast<std::size_t>(in.data() + run.converted - run.lastLine);
        std::memcpy(line.text, run.lastLine, line.length);
        line.text[line.length] = '\0';
        parse(side, line, record);
    }
    in.consume(run.converted);
    return !run.writeFailed;
}

}  // namespace

PassEnd copyPieces(InputFile& in, OutputFile& out, Side side, LineBuffer& line, Kernel kernel)
{
    SpareRecord record;
    // Where plain lines are rare, a try that converts nothing costs more than
    // the piece: after one, twice as many pieces as the last time, up to 64,
    // go to the operations before the next try.
    unsigned idle = 0;
    unsigned wait = 0;
    for (;;) {
        if (wait > 0) {
            --wait;
        } else {
            const char* const from = in.data();
            if (!convertPlain(in, out, side, kernel, line, record))
                return PassEnd::WriteFailed;
            idle = in.data() != from ? 0 : std::min(2 * idle + 1, 64u);
            wait = idle;
        }
        const ReadResult read = readLinePiece(in, line);
        if (read != ReadResult::Piece)
            return read == ReadResult::End ? PassEnd::Done : PassEnd::ReadFailed;
        parse(side, line, record);
        if (!writeSpareRecord(out, record))
            return PassEnd::WriteFailed;
    }
}
