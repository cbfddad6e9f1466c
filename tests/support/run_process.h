// Runs a program with arguments and collects what it wrote and how it ended,
// for tests of command-line tools.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorvel_test {

struct ProcessResult {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// In a child process after fork: replaces it with `argv` (argv[0] is the
// program's path), or ends it with status 127 when that cannot be run.
[[noreturn]] inline void execArgv(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Runs `argv` (argv[0] is the program's path) in `directory`, with standard
// output and error sent to temporary files, and waits for it.
inline ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& directory = ".") {
    char outName[] = "/tmp/quorvel-out-XXXXXX";
    char errName[] = "/tmp/quorvel-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    ProcessResult result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (chdir(directory.c_str()) != 0) _exit(126);
        execArgv(argv);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    result.out = readAll(outFd);
    result.err = readAll(errFd);
    close(outFd);
    close(errFd);
    unlink(outName);
    unlink(errName);
    return result;
}

} // namespace quorvel_test
