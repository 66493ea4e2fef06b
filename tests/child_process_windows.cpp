// Starting the program on Windows: CreateProcess, with a command line of
// arguments in double quotes.
#include "child_process.hpp"

#include <cstdio>
#include <windows.h>

const bool kOnWindows = true;

namespace {

// A file that the child inherits as a standard stream, emptied.
HANDLE inheritedFile(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The words, each in double quotes, which is all that the tests' words
// need: none holds a double quote or ends with a backslash.
template <typename Words>
std::wstring quoted(Words first, Words last)
{
    std::wstring line;
    for (; first != last; ++first)
        line += (line.empty() ? L"\"" : L" \"") + utf8Path(*first).wstring() + L"\"";
    return line;
}

// The command line of cmd that runs command[1], $@ there standing for the
// words after it: cmd /s takes off the quotes around it.
std::wstring cmdLine(const std::vector<std::string>& command)
{
    std::wstring text = utf8Path(command[1]).wstring();
    std::wstring words = quoted(command.begin() + 2, command.end());
    const std::size_t slash = words.find(L'"', 1);
    for (std::size_t i = 0; i < slash; ++i)  // the program's path, as cmd takes it
        words[i] = words[i] == L'/' ? L'\\' : words[i];
    text.replace(text.find(L"$@"), 2, words);
    return L"cmd /d /s /c \"" + text + L"\"";
}

}  // namespace

int runChild(const std::vector<std::string>& command, const std::filesystem::path& folder,
             const std::filesystem::path& outPath, const std::filesystem::path& errPath,
             const std::function<void()>& meanwhile, const std::string* input)
{
    // A first word fd3=NAME gives the program the file NAME, opened for
    // writing and shared as cmd shares a redirection, as its C runtime's
    // descriptor 3 (in the block that msvcrt programs read at their start).
    std::vector<std::string> words = command;
    HANDLE third = INVALID_HANDLE_VALUE;
    struct {
        int count = 4;
        unsigned char flags[4] = {0, 0, 0, 0x01};  // FOPEN for 3 alone
        HANDLE handles[4];
    } __attribute__((packed)) block{};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (words[0].starts_with("fd3=")) {
        third = CreateFileW((folder / utf8Path(words[0].substr(4))).c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS, 0, nullptr);
        block.handles[0] = block.handles[1] = block.handles[2] = INVALID_HANDLE_VALUE;
        block.handles[3] = third;
        words.erase(words.begin());
    }
    const bool inCmd = words[0] == "cmd";
    std::wstring line = inCmd ? cmdLine(words) : quoted(words.begin(), words.end());  // (CreateProcessW writes it)
    STARTUPINFOW start{};
    start.cb = sizeof start;
    if (third != INVALID_HANDLE_VALUE) {
        start.cbReserved2 = sizeof block;
        start.lpReserved2 = reinterpret_cast<BYTE*>(&block);
    }
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = INVALID_HANDLE_VALUE;
    HANDLE feed = INVALID_HANDLE_VALUE;
    if (input != nullptr && (!CreatePipe(&start.hStdInput, &feed, &inherit, 0) ||
                             !SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0)))
        return 127;
    start.hStdOutput = inheritedFile(outPath);
    start.hStdError = inheritedFile(errPath);
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(inCmd ? nullptr : utf8Path(words[0]).c_str(), line.data(),
                                        nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &start, &child);
    CloseHandle(start.hStdOutput);
    CloseHandle(start.hStdError);
    if (third != INVALID_HANDLE_VALUE)
        CloseHandle(third);
    if (input != nullptr)
        CloseHandle(start.hStdInput);
    if (!started) {
        std::fprintf(stderr, "CreateProcess failed with error %lu\n", GetLastError());
        return 127;
    }
    if (input != nullptr) {
        DWORD written = 0;
        WriteFile(feed, input->data(), static_cast<DWORD>(input->size()), &written, nullptr);
        CloseHandle(feed);
    }
    if (meanwhile)
        meanwhile();
    if (WaitForSingleObject(child.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(child.hProcess, 1009);
    DWORD status = 1009;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(status);
}

std::function<void()> pipeWriter(const std::string& path, const std::string& bytes)
{
    const HANDLE pipe = CreateNamedPipeW(utf8Path(path).c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                         1, 65536, 65536, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return {};
    return [pipe, bytes] {
        DWORD written = 0;
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            FlushFileBuffers(pipe);  // until the program has read it all
        }
        CloseHandle(pipe);
    };
}
