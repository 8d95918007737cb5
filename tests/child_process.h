#ifndef PERSON_TESTS_CHILD_PROCESS_H
#define PERSON_TESTS_CHILD_PROCESS_H

// Starting the program under test as a child process with exactly the
// standard streams, environment and terminal a case calls for.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace child {

using std::chrono::milliseconds;

// What a standard stream of the child is: an open descriptor of the test's,
// or closed altogether.
constexpr int closed = -1;
// Standard error only: the test's own, shared with the child.
constexpr int inherited = -2;

struct Launch {
    std::vector<std::string> command;                    // argv, command[0] the file run
    std::optional<std::vector<std::string>> environment; // NAME=value; none: inherit
    int input = closed;
    int output = closed;
    int error = inherited;
    // Start a session of its own whose controlling terminal is the input,
    // which must then be a terminal: the program is in the foreground there.
    bool own_terminal = false;
    // A signal the child starts with ignored (as under nohup), if not 0; all
    // others start with their default action.
    int ignored_signal = 0;
};

// Starts the child; a failure to start is a test failure, and a child that
// cannot exec ends with status 127.
pid_t start(const Launch& launch);

// The child's wait status once it has ended, or nothing if it has not ended
// within the time; it is then killed and reaped so nothing outlives a test.
std::optional<int> wait(pid_t pid, milliseconds limit);

bool still_running(pid_t pid);

// Reads what arrives on `fd` within the time and appends it; false if
// nothing came (time up, end of file, error).
bool read_some(int fd, milliseconds limit, std::string& into);

// Reads from `fd` until `done(text)` holds, end of file, or the time is up;
// returns what it read.
template <typename Done>
std::string read_until(int fd, milliseconds limit, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    while (!done(text)) {
        const auto left = std::chrono::duration_cast<milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !read_some(fd, left, text)) {
            break;
        }
    }
    return text;
}

// Reads until nothing more arrives for `quiet`.
std::string read_available(int fd, milliseconds quiet);

// Whole file contents.
std::string file_contents(const std::string& path);

struct Pipe {
    int read = closed;
    int write = closed;
};
Pipe make_pipe();

// A descriptor that is closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = closed) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = closed; }
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = closed);

private:
    int fd_;
};

} // namespace child

#endif
