// The platform layer on Windows.
//
// File names travel through the program in UTF-8 and are turned into the
// system's UTF-16 only to open or describe a file, so that every name
// Windows allows opens, whatever the code page.  Files are opened in binary
// mode: a newline stays one byte and a Ctrl-Z byte is data.  Every path is
// opened in its long form (\\?\C:\...), which no 260-character limit
// holds back.  A file's identity is the volume serial number and the file id
// of a handle open on it, whatever path, case or link led there.  A named
// pipe (\\.\pipe\NAME) is a stream that Windows can name; /dev/stdin and
// /dev/fd/N name the C runtime's descriptors 0 and N, as a POSIX layer names
// them, so that a pipe or a redirection of cmd and PowerShell has a name
// too.  Messages reach a console as UTF-16, so that every name shows
// whatever the code page.
#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>

#include <windows.h>

// The C runtime's own splitting of the command line, in UTF-16: the
// arguments that every msvcrt program sees (its headers do not declare it).
struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                                      StartupInfo* info);

namespace {

// Appends the code point c in UTF-8.
void appendUtf8(std::string& text, std::uint32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
        return;
    }
    const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(lead[tail] | c >> (6 * tail));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6)
        text += static_cast<char>(0x80 | (c >> shift & 0x3F));
}

// The UTF-16 text in UTF-8.  A lone surrogate, which a file name may hold,
// is written as the code point it would be, so that toUtf16 gives it back.
std::string toUtf8(const wchar_t* text)
{
    std::string utf8;
    for (; *text != L'\0'; ++text) {
        std::uint32_t c = static_cast<std::uint16_t>(text[0]);
        const std::uint32_t next = static_cast<std::uint16_t>(text[1]);
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++text;
        }
        appendUtf8(utf8, c);
    }
    return utf8;
}

// The UTF-8 text in UTF-16, undoing toUtf8.  A byte that begins no
// character of UTF-8 stands for the code point of its value.
std::wstring toUtf16(const char* text)
{
    std::wstring utf16;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const int tail = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC0 ? 1 : 0;
        std::uint32_t c = tail == 0 ? *p : *p & (0x3F >> tail);
        int taken = 1;
        for (; taken <= tail && (p[taken] & 0xC0) == 0x80; ++taken)
            c = c << 6 | (p[taken] & 0x3F);
        if (taken <= tail) {  // cut short: the byte alone
            c = *p;
            taken = 1;
        }
        p += taken;
        if (c >= 0x10000) {
            utf16 += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        utf16 += static_cast<wchar_t>(c);
    }
    return utf16;
}

// A copy of text that lasts as long as the program.
char* lastingCopy(const std::string& text)
{
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// The 64-bit number of the two halves.
std::uint64_t joined(DWORD high, DWORD low)
{
    return static_cast<std::uint64_t>(high) << 32 | low;
}

// A time in Windows' units of 100 nanoseconds.
FileTime timeOf(std::uint64_t ticks)
{
    return {static_cast<std::int64_t>(ticks / 10000000), static_cast<std::int64_t>(ticks % 10000000 * 100)};
}

// The 64 bits of the id's bytes from first on, the first byte lowest.
std::uint64_t idBits(const FILE_ID_128& id, int first)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | id.Identifier[first + i];
    return bits;
}

// Fills in the size, the times and the kind of the file open on handle, as
// Vista and later tell them, with no question to the volume manager; false
// where the system cannot tell.
bool describeStateOf(HANDLE handle, FileFacts& facts)
{
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return false;
    facts.size = static_cast<std::int64_t>(standard.EndOfFile.QuadPart);
    facts.modified = timeOf(static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart));
    facts.changed = timeOf(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart));
    facts.regular = !standard.Directory;
    return true;
}

// Describes the file open on handle from what Windows 8 and later tell of
// it: the 128-bit file id (unique on ReFS too, where the 64-bit index is
// not) and the change time among them.  False where the system lacks them.
bool describeByIds(HANDLE handle, FileFacts& facts)
{
    FILE_ID_INFO id;
    if (!GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id))
        return false;
    facts = {};
    facts.volume = id.VolumeSerialNumber;
    facts.index = idBits(id.FileId, 0);
    facts.indexHigh = idBits(id.FileId, 8);
    return describeStateOf(handle, facts);
}

// What the program knows of a pipe: a stream, with no identity of its own
// but one that no file or device has.
FileFacts pipeFacts()
{
    FileFacts facts;
    facts.volume = ~std::uint64_t{0};
    facts.stream = true;
    return facts;
}

// Describes the file open on handle; false when the system cannot tell.
// Folders and devices (NUL, CON) are no regular files, and pipes are
// streams.  Before Windows 8, the identity is the volume serial and the
// 64-bit file index, and the change time is asked apart.
bool describeHandle(HANDLE handle, FileFacts& facts)
{
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        facts = type == FILE_TYPE_PIPE ? pipeFacts() : FileFacts{};
        return true;
    }
    if (describeByIds(handle, facts))
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    FILE_BASIC_INFO basic{};
    GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic);
    facts = {info.dwVolumeSerialNumber, joined(info.nFileIndexHigh, info.nFileIndexLow), 0,
             static_cast<std::int64_t>(joined(info.nFileSizeHigh, info.nFileSizeLow)),
             timeOf(joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)),
             timeOf(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart)),
             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0};
    return true;
}

// The full path of name by the system's own rules (relative to the current
// folder, with "." and ".." resolved), or name where it cannot tell.  A
// device name (CON, NUL, COM1) comes back as \\.\CON.
std::wstring fullPath(const std::wstring& name)
{
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return name;
    full.resize(length);
    return full;
}

// How to open a path: its name for the system, and whether that names a
// device by the system's rules, as CON or NUL do in any folder.
struct SystemPath {
    std::wstring name;
    bool device;
};

// The path to open for path: its full form in the namespace with no length
// limit, \\?\C:\... or \\?\UNC\server\share\...  A device, or a path
// already in such a form, is opened as given.
SystemPath systemPath(const char* path)
{
    const std::wstring name = toUtf16(path);
    if (name.starts_with(L"\\\\?\\") || name.starts_with(L"\\\\.\\"))
        return {name, false};
    const std::wstring full = fullPath(name);
    if (full.starts_with(L"\\\\.\\"))
        return {name, true};
    if (full.starts_with(L"\\\\"))
        return {L"\\\\?\\UNC\\" + full.substr(2), false};
    return {L"\\\\?\\" + full, false};
}

// True when the name, in the form for the system, is a named pipe's.
bool isPipeName(const std::wstring& name)
{
    const std::wstring prefix = L"\\\\.\\PIPE\\";
    if (name.size() <= prefix.size() || (name[2] != L'.' && name[2] != L'?'))
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (i != 2 && std::towupper(name[i]) != prefix[i])
            return false;
    return true;
}

// True when the name, in the form for the system, names a device of the
// device namespace itself (\\.\C:, \\.\PhysicalDrive0, \\?\Volume{...}), not a
// file or a folder on one.
bool isDeviceNamespace(const std::wstring& name)
{
    return (name.starts_with(L"\\\\.\\") || name.starts_with(L"\\\\?\\")) &&
           name.find(L'\\', 4) == std::wstring::npos;
}

// True when the device that name names may be a disk or a volume: it is
// neither a character device (NUL, COM1, a console) nor a pipe, as far as
// it tells once opened with no access to its bytes, or it tells nothing.
// (Windows says FILE_TYPE_DISK of a disk, Wine FILE_TYPE_UNKNOWN.)
bool isDisk(const std::wstring& name)
{
    const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE;
}

// The number of the C runtime's descriptor that path names, /dev/stdin
// standing for 0 and /dev/fd/N for N; -1 when it names none.
int descriptorNamed(const char* path)
{
    if (std::strcmp(path, "/dev/stdin") == 0)
        return 0;
    // (Its digits as a POSIX layer names it: no leading zero.)
    if (std::strncmp(path, "/dev/fd/", 8) != 0 || path[8] < '0' || path[8] > '9' ||
        (path[8] == '0' && path[9] != '\0'))
        return -1;
    char* end;
    const long fd = std::strtol(path + 8, &end, 10);
    return *end == '\0' && fd <= 1'000'000 ? static_cast<int>(fd) : -1;
}

// The system's handle of the descriptor that path names, or
// INVALID_HANDLE_VALUE where it is not open (errno then says so).
HANDLE namedHandle(int fd)
{
    // (-2 where the process has no such standard handle.)
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2 || handle == 0) {
        errno = ENOENT;  // as a POSIX layer says of a descriptor not open
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(handle);
}

// A handle of this process's own on the file that the descriptor has open,
// which child processes do not inherit: a new opening of a file on a disk,
// with a position of its own, as a POSIX layer opens /dev/fd/N anew, for
// the access asked; the same stream or device otherwise.
HANDLE reopened(int fd, DWORD access)
{
    const HANDLE handle = namedHandle(fd);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    if (GetFileType(handle) == FILE_TYPE_DISK)
        return ReOpenFile(handle, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    HANDLE copy;
    const HANDLE self = GetCurrentProcess();
    return DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) ? copy
                                                                                        : INVALID_HANDLE_VALUE;
}

// A descriptor for the handle, which it then owns; -1, the handle closed,
// when the C runtime has none left.
int descriptorOf(HANDLE handle, int flags)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

// The system's handle of the descriptor.
HANDLE handleOf(const FileHandle& file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file.fd()));
}

// The C library's number for the system's error, where the messages tell
// it apart; 0 for any other.
int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    default:
        return 0;
    }
}

}  // namespace

bool closeFile(int fd)
{
    return _close(fd) == 0;
}

void prepareProcess()
{
    // A drive without a disk is a failed opening, not a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

char** argumentsInUtf8(int argc, char* argv[])
{
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo info{0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &info) != 0 || wide == nullptr || count != argc)
        return argv;
    char** utf8 = new char*[argc + 1];
    for (int i = 0; i < argc; ++i)
        utf8[i] = lastingCopy(toUtf8(wide[i]));
    utf8[argc] = nullptr;
    return utf8;
}

namespace {

// Prints the message on the stream: on a console as UTF-16, elsewhere as
// the bytes it is.
void printTo(std::FILE* stream, const char* format, const char* text)
{
    const auto out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (!GetConsoleMode(out, &mode)) {
        std::fprintf(stream, format, text);
        return;
    }
    const int length = std::snprintf(nullptr, 0, format, text);
    if (length < 0)
        return;
    std::string message(static_cast<std::size_t>(length), '\0');
    std::snprintf(message.data(), message.size() + 1, format, text);
    const std::wstring wide = toUtf16(message.c_str());
    std::fflush(stream);
    DWORD written = 0;
    // Where the console takes no UTF-16, the bytes go as they are, and a
    // failure there is kept by the stream as any other.
    if (!WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) ||
        written != wide.size())
        std::fputs(message.c_str(), stream);
}

}  // namespace

void printMessage(const char* format, const char* text)
{
    printTo(stdout, format, text);
}

void printError(const char* format, const char* text)
{
    printTo(stderr, format, text);
}

bool pathsOfWindows()
{
    return true;
}

FileKind kindOfPath(const char* path)
{
    if (const int fd = descriptorNamed(path); fd >= 0) {
        const HANDLE handle = namedHandle(fd);
        FileFacts facts;
        if (handle == INVALID_HANDLE_VALUE)
            return FileKind::Missing;
        if (!describeHandle(handle, facts))
            return FileKind::Other;
        return facts.stream ? FileKind::Stream : facts.regular ? FileKind::Regular : FileKind::Other;
    }
    // Known by the name alone: devices, pipes, and through the attributes,
    // which cost no opening, folders.  A name of the device namespace
    // itself is a disk or a volume when the system says it holds a file
    // system.
    const SystemPath target = systemPath(path);
    if (target.device)
        return FileKind::Other;
    if (isPipeName(target.name))
        return FileKind::Stream;
    if (isDeviceNamespace(target.name))
        return isDisk(target.name) ? FileKind::Disk : FileKind::Other;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(target.name.c_str(), GetFileExInfoStandard, &attributes)) {
        // As the C library would say it, for the caller's reasons.
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        return FileKind::Missing;
    }
    return attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Other : FileKind::Regular;
}

bool describePath(const char* path, FileFacts& facts)
{
    if (const int fd = descriptorNamed(path); fd >= 0) {
        const HANDLE handle = namedHandle(fd);
        return handle != INVALID_HANDLE_VALUE && describeHandle(handle, facts);
    }
    // A device is known by its name: CON cannot even be opened where no
    // console is attached.
    // A named pipe is too, since an opening would take one of its instances.
    const SystemPath target = systemPath(path);
    if (target.device || isPipeName(target.name)) {
        facts = target.device ? FileFacts{} : pipeFacts();
        return true;
    }
    // Opened only to be described, as folders can be, sharing everything;
    // a console (CONIN$) opens only for reading or writing.
    const std::wstring& name = target.name;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (const DWORD access : {DWORD{0}, DWORD{GENERIC_READ}}) {
        handle = CreateFileW(name.c_str(), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            break;
    }
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool described = describeHandle(handle, facts);
    CloseHandle(handle);
    return described;
}

bool describeOpenFile(const FileHandle& file, FileFacts& facts)
{
    const HANDLE handle = handleOf(file);
    return handle != INVALID_HANDLE_VALUE && describeHandle(handle, facts);
}

bool describeOpenState(const FileHandle& file, FileFacts& facts)
{
    const HANDLE handle = handleOf(file);
    return handle != INVALID_HANDLE_VALUE && describeStateOf(handle, facts);
}

FileHandle openForReading(const char* path)
{
    if (const int fd = descriptorNamed(path); fd >= 0)
        return FileHandle(descriptorOf(reopened(fd, GENERIC_READ), _O_RDONLY));
    return FileHandle(_wopen(systemPath(path).name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
}

FileHandle standardOutput()
{
    const int fd = _dup(_fileno(stdout));
    if (fd >= 0)
        _setmode(fd, _O_BINARY);
    return FileHandle(fd);
}

bool standardOutputIsConsole()
{
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))), &mode) != 0;
}

bool printOnConsole(const char* bytes, std::size_t size)
{
    constexpr std::size_t kLine = 4096;
    char line[kLine + 1];
    for (std::size_t at = 0, count; at < size; at += count) {
        count = std::min(size - at, kLine);
        while (at + count < size && count > 1 && (bytes[at + count] & 0xC0) == 0x80)
            --count;
        std::memcpy(line, bytes + at, count);
        line[count] = '\0';
        printMessage("%s", line);
    }
    return !std::ferror(stdout);
}

FileHandle standardInput()
{
    const int fd = _dup(_fileno(stdin));
    if (fd >= 0)
        _setmode(fd, _O_BINARY);
    return FileHandle(fd);
}

FileHandle openStream(const char* path)
{
    // When every instance of the pipe is taken, the opening waits for one,
    // as a FIFO's reader waits for a writer.  A descriptor's stream is taken
    // as it is.
    if (const int fd = descriptorNamed(path); fd >= 0)
        return FileHandle(descriptorOf(reopened(fd, GENERIC_READ), _O_RDONLY));
    const std::wstring name = systemPath(path).name;
    HANDLE pipe;
    while ((pipe = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) ==
               INVALID_HANDLE_VALUE &&
           GetLastError() == ERROR_PIPE_BUSY && WaitNamedPipeW(name.c_str(), NMPWAIT_WAIT_FOREVER)) {
    }
    return FileHandle(descriptorOf(pipe, _O_RDONLY));
}

SpoolFolder spoolFolder()
{
    // The system's rules: TMP, TEMP, the user's profile folder or Windows',
    // however long.
    const DWORD size = GetTempPathW(0, nullptr);
    std::wstring folder(size, L'\0');
    DWORD length = size == 0 ? 0 : GetTempPathW(size, folder.data());
    if (length == 0 || length >= size)
        return {};
    if (length > 3 && folder[length - 1] == L'\\')
        --length;
    folder.resize(length);
    return {lastingCopy(toUtf8(folder.c_str()))};
}

FileHandle openSpool(const char* folder)
{
    // Shared with no other program, and deleted by the system as its last
    // handle closes, when the process ends too, however it ends.
    const std::wstring base = systemPath(folder).name + L"\\tabfold-" + std::to_wstring(GetCurrentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = base + L"-" + std::to_wstring(attempt) + L".tmp";
        const HANDLE spool = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (spool != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return FileHandle(descriptorOf(spool, _O_RDWR));
    }
    return FileHandle();
}

bool rewindFile(const FileHandle& file)
{
    return _lseeki64(file.fd(), 0, SEEK_SET) == 0;
}

FileHandle openForWriting(const char* path, bool create)
{
    if (const int fd = descriptorNamed(path); fd >= 0)
        return FileHandle(descriptorOf(reopened(fd, GENERIC_WRITE), _O_WRONLY));
    return FileHandle(_wopen(systemPath(path).name.c_str(),
                             _O_WRONLY | (create ? _O_CREAT : 0) | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE));
}

bool folderTakesFiles(const char* path)
{
    // Whether a file may be made there, the folder's rights alone cannot
    // tell: only that it is a folder.  A descriptor not open names none.
    if (descriptorNamed(path) >= 0)
        return false;
    const std::wstring name = systemPath(path).name;
    const std::size_t slash = name.find_last_of(L'\\');
    const DWORD attributes =
        slash == std::wstring::npos ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(name.substr(0, slash + 1).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Replacement::~Replacement()
{
    if (name_ != nullptr)
        DeleteFileW(toUtf16(name_).c_str());
    std::free(name_);
    std::free(target_);
}

bool namesOpenFile(const char*, const FileHandle&)
{
    return true;  // a file open here can be neither renamed over nor deleted
}

FileHandle Replacement::open(const char* path, const FileHandle& existing, int& error)
{
    // A file that a descriptor names is held open by the program that gave
    // it, which Windows lets no other file replace: refused before the
    // stream is read, not once it is spent.
    error = EBUSY;
    if (descriptorNamed(path) >= 0)
        return FileHandle();
    // The file replaced is the one open in existing, wherever links lead.
    const HANDLE handle = handleOf(existing);
    const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    std::wstring target(size, L'\0');
    const DWORD length =
        size == 0 ? 0 : GetFinalPathNameByHandleW(handle, target.data(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const std::size_t slash = target.find_last_of(L'\\');
    error = EIO;
    if (length == 0 || length >= size || slash == std::wstring::npos)
        return FileHandle();
    target.resize(length);
    const std::wstring base = target.substr(0, slash) + L"\\.tabfold-" + std::to_wstring(GetCurrentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = base + L"-" + std::to_wstring(attempt) + L".tmp";
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        const int fd = descriptorOf(file, _O_WRONLY);
        if (fd >= 0) {
            target_ = ::_strdup(toUtf8(target.c_str()).c_str());
            name_ = ::_strdup(toUtf8(name.c_str()).c_str());
        }
        error = fd >= 0 ? 0 : errnoOf(GetLastError());
        return FileHandle(fd);
    }
    return FileHandle();
}

Commit Replacement::commit(FileHandle file, FileHandle existing)
{
    // The replaced file must not be open while it is replaced; the system
    // keeps its attributes and its security for the file that takes its place.
    const bool flushed = FlushFileBuffers(handleOf(file)) != 0;
    if (!file.close() || !existing.close() || !flushed || target_ == nullptr || name_ == nullptr ||
        !ReplaceFileW(toUtf16(target_).c_str(), toUtf16(name_).c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr))
        return Commit::Failed;
    std::free(name_);  // it is the new spare file's name now
    name_ = nullptr;
    return Commit::Done;
}

Lock lockExclusively(const FileHandle& file)
{
    OVERLAPPED whole{};
    if (LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole))
        return Lock::Taken;
    return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::HeldElsewhere : Lock::Unsupported;
}

bool emptyFile(const FileHandle& file)
{
    return _chsize_s(file.fd(), 0) == 0;
}

std::ptrdiff_t readSome(const FileHandle& file, char* bytes, std::size_t count)
{
    return _read(file.fd(), bytes, static_cast<unsigned>(count));
}

std::ptrdiff_t moveFromStream(const FileHandle&, const FileHandle&, std::size_t)
{
    return kCannotMove;
}

std::ptrdiff_t readFromStart(const FileHandle& file, char* bytes, std::size_t count)
{
    const long long position = _telli64(file.fd());
    if (position < 0 || _lseeki64(file.fd(), 0, SEEK_SET) != 0)
        return -1;
    std::size_t done = 0;
    int got = 1;
    while (done < count && got > 0) {
        got = _read(file.fd(), bytes + done, static_cast<unsigned>(count - done));
        done += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    const bool back = _lseeki64(file.fd(), position, SEEK_SET) == position;
    return got >= 0 && back ? static_cast<std::ptrdiff_t>(done) : -1;
}

std::ptrdiff_t writeSome(const FileHandle& file, const char* bytes, std::size_t count)
{
    return _write(file.fd(), bytes, static_cast<unsigned>(count));
}
