// Starting the program on Windows: CreateProcess, with a command line
// quoted as the C runtime and CommandLineToArgvW split it.
#include "child_process.hpp"

#include <cstdio>
#include <windows.h>

const bool kOnWindows = true;

namespace {

// The UTF-8 text in UTF-16.
std::wstring wide(const std::string& text)
{
    std::wstring converted(text.size(), L'\0');
    converted.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         converted.data(), static_cast<int>(converted.size())));
    return converted;
}

// The argument in double quotes, its quotes and the backslashes before them
// escaped, so that it reaches the program as it is.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    return text.append(2 * backslashes, L'\\') + L"\"";
}

// A file that the child inherits as a standard stream, emptied.
HANDLE inheritedFile(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int runChild(const std::vector<std::string>& command, const std::filesystem::path& folder,
             const std::filesystem::path* outPath, const std::filesystem::path& errPath,
             const std::function<void()>& meanwhile)
{
    if (outPath == nullptr)
        return -1;  // no signal ends a writer to a pipe nobody reads
    std::wstring line;
    for (const std::string& word : command)
        line += (line.empty() ? L"" : L" ") + quoted(wide(word));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = INVALID_HANDLE_VALUE;
    start.hStdOutput = inheritedFile(*outPath);
    start.hStdError = inheritedFile(errPath);
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessW(wide(command[0]).c_str(), line.data(), nullptr, nullptr,
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

int openNewFifo(const std::filesystem::path&)
{
    return -1;
}
