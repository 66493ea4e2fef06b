// Starting the program on Linux and other POSIX systems: fork and exec.
#include "child_process.hpp"

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

const bool kOnWindows = false;

int runChild(const std::vector<std::string>& command, const std::filesystem::path& folder,
             const std::filesystem::path& outPath, const std::filesystem::path& errPath,
             const std::function<void()>& meanwhile, const std::string* input)
{
    int feed[2] = {-1, -1};
    if (input != nullptr && ::pipe(feed) != 0)
        return 127;
    const pid_t child = ::fork();
    if (child == 0) {
        if (input != nullptr && (::dup2(feed[0], 0) < 0 || ::close(feed[0]) != 0 || ::close(feed[1]) != 0))
            ::_exit(127);
        std::vector<char*> argv;
        for (const std::string& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        ::setpgid(0, 0);  // a group of its own, ended with all it started
        ::alarm(20);
        if (::chdir(folder.c_str()) == 0 && std::freopen(outPath.c_str(), "w", stdout) &&
            std::freopen(errPath.c_str(), "w", stderr))
            ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (input != nullptr) {
        // (A reader gone early is a failed write, not the end of the tests.)
        std::signal(SIGPIPE, SIG_IGN);
        ::close(feed[0]);
        for (std::size_t done = 0; done < input->size();) {
            const ssize_t wrote = ::write(feed[1], input->data() + done, input->size() - done);
            if (wrote <= 0)
                break;
            done += static_cast<std::size_t>(wrote);
        }
        ::close(feed[1]);
    }
    if (meanwhile)
        meanwhile();
    int wait = 0;
    ::waitpid(child, &wait, 0);
    ::kill(-child, SIGKILL);  // what it left running, as a pipe's other programs
    return WIFEXITED(wait) ? WEXITSTATUS(wait) : 1000 + WTERMSIG(wait);
}

std::function<void()> pipeWriter(const std::string&, const std::string&)
{
    return {};
}
