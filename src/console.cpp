#include "console.h"

// One variant per platform, side by side; the build compiles exactly one.

#ifdef _WIN32

#include <cstdlib>

namespace console {

void prepare() {}

void pause()
{
    // The command processor writes its own prompt and waits for a key; its
    // status does not change what the program does next.
    static_cast<void>(std::system("pause"));
}

} // namespace console

#else // POSIX: the shell has no "pause", so the program waits by itself.

#include "key_sequence.h"

#include <cerrno>
#include <cstddef>
#include <iterator>

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace console {
namespace {

constexpr char prompt[] = "Press any key to continue . . . ";
constexpr int input = STDIN_FILENO;
constexpr int output = STDOUT_FILENO;

// How long the rest of a key's escape sequence may take once its first byte
// is in. Terminals send a sequence in one write; the wait only covers a slow
// link, and it is all a lone Esc costs.
constexpr int rest_of_key_ms = 100;

// Writes as much as standard output takes; a failed write ends it quietly,
// as a failed write of the program's own lines does.
void write_all(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(output, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Reads one byte of standard input: false at end of input, on an error or
// when the descriptor is closed.
bool read_byte(unsigned char& byte)
{
    for (;;) {
        const ssize_t got = ::read(input, &byte, 1);
        if (got == 1) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

bool byte_arrives_within(int milliseconds)
{
    pollfd request{input, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&request, 1, milliseconds);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

// The terminal as the program found it and the single-key mode it waits in.
// The signal handlers below use both, so both are set before any handler is
// installed. `waiting` tells a resumed process whether to take up single-key
// mode again, or whether the wait is already over.
termios saved_mode;
termios single_key_mode;
volatile sig_atomic_t waiting = 0;

void restore_terminal()
{
    ::tcsetattr(input, TCSANOW, &saved_mode);
}

void enter_single_key_mode()
{
    ::tcsetattr(input, TCSANOW, &single_key_mode);
}

void set_disposition(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

void unblock(int signal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Ctrl-C, Ctrl-\, a hang-up or a request to terminate: put the terminal back,
// then end by the same signal with its default action, so the parent sees
// how the program ended.
void on_ending_signal(int signal)
{
    restore_terminal();
    set_disposition(signal, SIG_DFL);
    unblock(signal);
    ::raise(signal);
}

// Takes up single-key mode again once the process runs on, unless the wait is
// already over: the shell may have set the terminal its own way meanwhile.
void resume_waiting()
{
    if (waiting != 0) {
        enter_single_key_mode();
    }
}

// Ctrl-Z: hand the shell the terminal as it was, then stop. The process goes
// on inside raise(), after a SIGCONT, or at once where there is nobody to
// stop for: the kernel discards a stop aimed at a process group that no
// shell controls.
void on_stop_signal(int signal)
{
    const int saved_errno = errno;
    restore_terminal();
    set_disposition(signal, SIG_DFL);
    unblock(signal);
    ::raise(signal);
    set_disposition(signal, on_stop_signal);
    resume_waiting();
    errno = saved_errno;
}

// Resumed after any stop, Ctrl-Z's or another's.
void on_continue(int)
{
    const int saved_errno = errno;
    resume_waiting();
    errno = saved_errno;
}

struct Handler {
    int signal;
    void (*handle)(int);
};

constexpr Handler handlers[] = {
    {SIGINT, on_ending_signal},  {SIGQUIT, on_ending_signal}, {SIGTERM, on_ending_signal},
    {SIGHUP, on_ending_signal},  {SIGTSTP, on_stop_signal},   {SIGCONT, on_continue},
};

struct sigaction previous_actions[std::size(handlers)];

// A signal the program was started with ignored stays ignored (nohup, a
// shell without job control): the wait must not make it fatal.
void install_handlers()
{
    for (std::size_t i = 0; i < std::size(handlers); ++i) {
        ::sigaction(handlers[i].signal, nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) {
            set_disposition(handlers[i].signal, handlers[i].handle);
        }
    }
}

void restore_handlers()
{
    for (std::size_t i = 0; i < std::size(handlers); ++i) {
        ::sigaction(handlers[i].signal, &previous_actions[i], nullptr);
    }
}

// Takes one key press whole, an arrow or function key's escape sequence
// included, then discards whatever else is waiting, so nothing of the key is
// left for the shell to read.
void read_key()
{
    unsigned char key[16];
    std::size_t count = 0;
    if (!read_byte(key[count])) {
        return;
    }
    ++count;
    while (count < sizeof key && !is_whole_key(key, count) &&
           byte_arrives_within(rest_of_key_ms) && read_byte(key[count])) {
        ++count;
    }
    ::tcflush(input, TCIFLUSH);
}

// Single-key mode: no line buffering and no echo. ISIG stays on, so Ctrl-C,
// Ctrl-\ and Ctrl-Z still work; IEXTEN goes, so Ctrl-V and Ctrl-O count as
// keys. The mode is set before the prompt appears, so a key pressed at the
// prompt is never echoed.
void wait_for_key(const termios& found)
{
    saved_mode = found;
    single_key_mode = found;
    single_key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    single_key_mode.c_cc[VMIN] = 1;
    single_key_mode.c_cc[VTIME] = 0;

    install_handlers();
    waiting = 1;
    enter_single_key_mode();
    write_all(prompt, sizeof prompt - 1);
    read_key();
    waiting = 0;
    restore_terminal();
    restore_handlers();
}

// Redirected input is read as the Windows command processor reads it: one
// byte ends the wait, and so does its end or any error.
void wait_for_byte()
{
    write_all(prompt, sizeof prompt - 1);
    unsigned char byte = 0;
    static_cast<void>(read_byte(byte));
}

} // namespace

void prepare()
{
    set_disposition(SIGPIPE, SIG_IGN);
}

void pause()
{
    termios mode;
    if (::tcgetattr(input, &mode) == 0) {
        wait_for_key(mode);
    } else {
        wait_for_byte();
    }
    write_all("\n", 1);
}

} // namespace console

#endif
