#include "child_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace child {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void become(const Launch& launch, char* const* argv, char* const* envp)
{
    if (launch.own_terminal) {
        if (setsid() < 0 || ioctl(launch.input, TIOCSCTTY, 0) < 0) {
            _exit(126);
        }
    }
    // Move the descriptors clear of 0, 1 and 2 first, so that no dup2
    // overwrites another.
    const int input = launch.input == closed ? closed : fcntl(launch.input, F_DUPFD, 10);
    const int output = launch.output == closed ? closed : fcntl(launch.output, F_DUPFD, 10);
    const int error = launch.error < 0 ? launch.error : fcntl(launch.error, F_DUPFD, 10);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    if ((input != closed && dup2(input, STDIN_FILENO) < 0) ||
        (output != closed && dup2(output, STDOUT_FILENO) < 0) ||
        (error >= 0 && dup2(error, STDERR_FILENO) < 0)) {
        _exit(126);
    }
    // Every other descriptor of the test stays out of the child, so a pipe's
    // write end held here cannot keep the child's input open, nor a read end
    // its output.
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != STDERR_FILENO) {
            close(fd);
        }
    }
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // The test runner may have signals blocked or ignored; the child starts
    // as a shell would start it.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        std::signal(signal, SIG_DFL);
    }
    if (launch.ignored_signal != 0) {
        std::signal(launch.ignored_signal, SIG_IGN);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

pid_t start(const Launch& launch)
{
    std::vector<std::string> command = launch.command;
    std::vector<char*> argv = pointers(command);
    std::vector<std::string> environment;
    if (launch.environment) {
        environment = *launch.environment;
    } else {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> envp = pointers(environment);

    const pid_t pid = fork();
    if (pid == 0) {
        become(launch, argv.data(), envp.data());
    }
    EXPECT_GT(pid, 0) << "fork: " << std::strerror(errno);
    return pid;
}

std::optional<int> wait(pid_t pid, milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
}

bool still_running(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

bool read_some(int fd, milliseconds limit, std::string& into)
{
    // select(), as macOS's poll() does not wait on terminals.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(limit.count() / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(limit.count() % 1000 * 1000);
    if (select(fd + 1, &readable, nullptr, nullptr, &timeout) <= 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
}

std::string read_available(int fd, milliseconds quiet)
{
    std::string text;
    while (read_some(fd, quiet, text)) {
    }
    return text;
}

std::string file_contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Pipe make_pipe()
{
    int fds[2] = {closed, closed};
    EXPECT_EQ(pipe(fds), 0) << std::strerror(errno);
    return {fds[0], fds[1]};
}

void Descriptor::reset(int fd)
{
    if (fd_ != closed) {
        close(fd_);
    }
    fd_ = fd;
}

} // namespace child
