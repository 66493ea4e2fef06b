// What the end-to-end tests do differently on each system: starting the
// program, and feeding it a named pipe.  Each system has its own source.
#ifndef TABFOLD_CHILD_PROCESS_HPP
#define TABFOLD_CHILD_PROCESS_HPP

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The path that the UTF-8 text names, on every system.
inline std::filesystem::path utf8Path(const std::string& text)
{
    return std::u8string(text.begin(), text.end());
}

// True on Windows, which has no FIFOs and no /dev, and symbolic links only
// for the privileged.
extern const bool kOnWindows;

// Runs command (a program, then its arguments, in UTF-8) in folder, its
// standard output written to outPath and its standard error to errPath;
// with input, its standard input a pipe that input's bytes are written
// into, then closed; calls meanwhile while it runs.  On Windows, a command
// whose first word is cmd runs its second in cmd, $@ standing for the
// words after it, each in double quotes; one whose first word is fd3=NAME
// runs the rest with the file NAME in the folder as descriptor 3.  A run that takes 20 s is ended,
// and so is whatever it left running once it ends (on POSIX, its process
// group).  Returns the exit status, or 1000 and the number of the signal
// that ended it.
int runChild(const std::vector<std::string>& command, const std::filesystem::path& folder,
             const std::filesystem::path& outPath, const std::filesystem::path& errPath,
             const std::function<void()>& meanwhile, const std::string* input = nullptr);

// Makes the named pipe \\.\pipe\... that path names, on Windows, and returns
// what writes bytes into it once the program has opened it, and closes it:
// a meanwhile for runChild.  Elsewhere there are no such pipes, and it
// returns nothing to call.
std::function<void()> pipeWriter(const std::string& path, const std::string& bytes);

#endif
