// The source of both passes: the old spare file, or a stream's spool.
#include "pass_source.hpp"

#include <utility>

namespace {

// How copying a stream into its spool ended.
enum class SpoolEnd { Done, ReadFailed, WriteFailed };

// Copies every byte of the stream open in from into the file open in to,
// up to its end, through the program, in the buffers of in and out.
SpoolEnd copyStream(const FileHandle& from, FileHandle& to, InputFile& in, OutputFile& out)
{
    out.attach(std::move(to));
    char* const block = in.scratch();
    SpoolEnd end = SpoolEnd::Done;
    while (end == SpoolEnd::Done) {
        const std::ptrdiff_t got = readSome(from, block, InputFile::kBlockSize);
        if (got < 0)
            end = SpoolEnd::ReadFailed;
        else if (got == 0)
            break;
        else if (!out.put(block, static_cast<std::size_t>(got)))
            end = SpoolEnd::WriteFailed;
    }
    if (end == SpoolEnd::Done && !out.flush())
        end = SpoolEnd::WriteFailed;
    to = out.release();
    return end;
}

// Moves every byte of the stream open in from into the file open in to, up
// to its end: inside the system where it can (a pipe on Linux, which cannot
// fail to be read: a failure is the file's), through the program elsewhere.
SpoolEnd moveStream(const FileHandle& from, FileHandle& to, InputFile& in, OutputFile& out)
{
    constexpr std::size_t kMoveSize = 1 << 20;  // as much as a pipe holds
    for (;;) {
        const std::ptrdiff_t moved = moveFromStream(from, to, kMoveSize);
        if (moved == kCannotMove)
            return copyStream(from, to, in, out);
        if (moved <= 0)
            return moved == 0 ? SpoolEnd::Done : SpoolEnd::WriteFailed;
    }
}

}  // namespace

bool PassSource::refuse(Failure failure, const char* path)
{
    refusal_ = {failure, path};
    return false;
}

bool PassSource::open(const char* path)
{
    path_ = path;
    Failure failure;
    int error;  // (the messages of the conversion give no reasons)
    if (!openOldSpareFile(path, nullptr, first_, file_, failure, error))
        return refuse(failure, path);
    if (first_.stream)
        spoolFolder_ = spoolFolder().path;
    return true;
}

bool PassSource::spool(InputFile& in, OutputFile& out)
{
    if (!stream())
        return true;
    FileHandle spool = openSpool(spoolFolder_);
    if (!spool.isOpen())
        return refuse(Failure::CannotSpool, spoolFolder_);
    switch (moveStream(file_, spool, in, out)) {
    case SpoolEnd::ReadFailed:
        return refuse(Failure::CannotRead, path_);
    case SpoolEnd::WriteFailed:
        return refuse(Failure::CannotSpool, spoolFolder_);
    case SpoolEnd::Done:
        break;
    }
    file_ = std::move(spool);
    return true;
}

bool PassSource::begin(Side side, InputFile& in)
{
    if (stream()) {
        if (!rewindFile(file_))
            return refuse(Failure::CannotSpool, spoolFolder_);
    } else if (side == Side::Right) {
        file_.close();
        Failure failure;
        int error;
        FileFacts again;
        if (!openOldSpareFile(path_, &first_, again, file_, failure, error))
            return refuse(failure, path_);
    }
    in.restart(std::move(file_), &read_[side == Side::Left ? 0 : 1]);
    return true;
}

Refusal PassSource::readFailure() const
{
    return stream() ? Refusal{Failure::CannotSpool, spoolFolder_} : Refusal{Failure::CannotRead, path_};
}

bool PassSource::end(Side side, InputFile& in)
{
    file_ = in.release();
    if (side == Side::Left)
        return true;
    // A file rewritten, appended to or cut short on the way would lend the
    // conversion records that are not its own, or lose some.
    const bool same = read_[0] == read_[1];
    if (stream())
        return same || refuse(Failure::CannotSpool, spoolFolder_);
    FileFacts facts;
    if (!describeOpenState(file_, facts))
        return refuse(Failure::CannotRead, path_);
    return (same && sameState(facts, first_)) || refuse(Failure::ChangedWhileRead, path_);
}
