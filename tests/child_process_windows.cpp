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

}  // namespace

int runChild(const std::vector<std::string>& command, const std::filesystem::path& folder,
             const std::filesystem::path& outPath, const std::filesystem::path& errPath,
             const std::function<void()>& meanwhile)
{
    // Each argument in double quotes, which is all that the tests' arguments
    // need: none holds a double quote or ends with a backslash.
    std::wstring line;
    for (const std::string& word : command)
        line += (line.empty() ? L"\"" : L" \"") + utf8Path(word).wstring() + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = INVALID_HANDLE_VALUE;
    start.hStdOutput = inheritedFile(outPath);
    start.hStdError = inheritedFile(errPath);
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(utf8Path(command[0]).c_str(), line.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, folder.c_str(), &start, &child);
    CloseHandle(start.hStdOutput);
    CloseHandle(start.hStdError);
    if (!started) {
        std::fprintf(stderr, "CreateProcess failed with error %lu\n", GetLastError());
        return 127;
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
