#include "console.h"
#include "key_sequence.h"

#include <cerrno>
#include <cstddef>
#include <iterator>

#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

// The shell has no "pause", so the program waits by itself: one key on a
// terminal, one byte of any other input.

namespace console {
namespace {

constexpr char prompt[] = "Press any key to continue . . . ";
constexpr int input = STDIN_FILENO;
constexpr int output = STDOUT_FILENO;

// How long the rest of a key's escape sequence may take once its first byte
// is in. Terminals send a sequence in one write; the wait only covers a slow
// link, and it is all a lone Esc costs.
constexpr int rest_of_key_ms = 100;

enum class Ready { to_read, to_write };

// Waits up to `milliseconds` (-1: for ever) until `fd` is ready to read or to
// write, or has nothing more to give (end of input, hang-up, error: the next
// call then returns at once). False if the time ran out or the descriptor is
// unusable.
//
// select(), not poll(): macOS's poll() does not support devices and answers
// at once for a terminal, while select() waits on any descriptor on every
// POSIX system. Its limit on descriptor numbers (FD_SETSIZE) is far above
// standard input and output.
bool ready_within(int fd, Ready wanted, int milliseconds)
{
    for (;;) {
        fd_set descriptors;
        FD_ZERO(&descriptors);
        FD_SET(fd, &descriptors);
        timeval limit{};
        limit.tv_sec = milliseconds / 1000;
        limit.tv_usec = (milliseconds % 1000) * 1000;
        const int ready =
            ::select(fd + 1, wanted == Ready::to_read ? &descriptors : nullptr,
                     wanted == Ready::to_write ? &descriptors : nullptr, nullptr,
                     milliseconds < 0 ? nullptr : &limit);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

// A descriptor the program shares with its parent may be non-blocking: its
// flags belong to everyone holding it, so a call that would block waits for
// the descriptor instead of changing them.
bool wait_if_it_would_block(int fd, Ready wanted)
{
    return (errno == EAGAIN || errno == EWOULDBLOCK) && ready_within(fd, wanted, -1);
}

// Writes as much as standard output takes; a failed write ends it quietly,
// as a failed write of the program's own lines does.
void write_all(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(output, data, size);
        if (written < 0) {
            if (errno == EINTR || wait_if_it_would_block(output, Ready::to_write)) {
                continue;
            }
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Reads one byte of standard input, waiting for it however the descriptor is
// set: false at end of input, on an error or when the descriptor is closed.
bool read_byte(unsigned char& byte)
{
    for (;;) {
        const ssize_t got = ::read(input, &byte, 1);
        if (got == 1) {
            return true;
        }
        if (got < 0 && (errno == EINTR || wait_if_it_would_block(input, Ready::to_read))) {
            continue;
        }
        return false;
    }
}

// ---------------------------------------------------------------------------
// The terminal. The program holds it in single-key mode only while it is in
// the foreground and waiting. Each time it takes the terminal over it reads
// the settings afresh, so whatever the shell set while the program was
// stopped is what it puts back. The signal handlers below use this state, so
// the main line blocks them around every change of it.

termios saved_mode;      // the terminal as it was handed over
termios single_key_mode; // as the program set it, read back
volatile sig_atomic_t holding = 0;
volatile sig_atomic_t waiting = 0;

// In the foreground of its controlling terminal; a terminal that is not the
// program's controlling terminal (`person </dev/pts/3` from elsewhere) has no
// job control over it, so the program may take it.
bool in_foreground()
{
    const pid_t group = ::tcgetpgrp(input);
    if (group == -1) {
        return errno == ENOTTY;
    }
    return group == ::getpgrp();
}

bool same_mode(const termios& a, const termios& b)
{
    if (a.c_iflag != b.c_iflag || a.c_oflag != b.c_oflag || a.c_cflag != b.c_cflag ||
        a.c_lflag != b.c_lflag || ::cfgetispeed(&a) != ::cfgetispeed(&b) ||
        ::cfgetospeed(&a) != ::cfgetospeed(&b)) {
        return false;
    }
    for (std::size_t i = 0; i < std::size(a.c_cc); ++i) {
        if (a.c_cc[i] != b.c_cc[i]) {
            return false;
        }
    }
    return true;
}

// Single-key mode: no line buffering and no echo. ISIG stays on, so Ctrl-C,
// Ctrl-\ and Ctrl-Z still work; IEXTEN goes, so Ctrl-V and Ctrl-O count as
// keys.
//
// Nothing happens outside the foreground: there a change would land on the
// shell's own terminal (the kernel allows it when SIGTTOU is ignored or
// blocked). Nothing happens either if the terminal is still as the program
// set it, so a SIGCONT that stopped nothing changes nothing.
void take_terminal()
{
    termios current;
    if (!in_foreground() || ::tcgetattr(input, &current) != 0) {
        return;
    }
    if (holding != 0 && same_mode(current, single_key_mode)) {
        return;
    }
    termios wanted = current;
    wanted.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    wanted.c_cc[VMIN] = 1;
    wanted.c_cc[VTIME] = 0;
    saved_mode = current;
    if (::tcsetattr(input, TCSANOW, &wanted) == 0 &&
        ::tcgetattr(input, &single_key_mode) == 0) {
        holding = 1;
    }
}

// Puts the settings back as they were handed over. Only the foreground has
// a terminal to give back; a process moved out of it has already lost it.
void give_back_terminal()
{
    if (holding != 0 && in_foreground()) {
        ::tcsetattr(input, TCSANOW, &saved_mode);
    }
    holding = 0;
}

// ---------------------------------------------------------------------------
// Signals during the terminal wait.

void pass_on(int signal);
void on_continue(int signal);

struct Handler {
    int signal;
    void (*handle)(int);
};

// Every signal whose default action ends the process and that a user or the
// system sends to end one, then the two of job control. SIGKILL and SIGSTOP
// cannot be caught; signals that report a fault (SIGSEGV and the like) are
// not sent to end a program.
constexpr Handler handlers[] = {
    {SIGINT, pass_on},    {SIGQUIT, pass_on},   {SIGTERM, pass_on}, {SIGHUP, pass_on},
    {SIGALRM, pass_on},   {SIGUSR1, pass_on},   {SIGUSR2, pass_on}, {SIGVTALRM, pass_on},
    {SIGPROF, pass_on},   {SIGXCPU, pass_on},   {SIGXFSZ, pass_on},
#ifdef SIGIO
    {SIGIO, pass_on},
#else
    {SIGPOLL, pass_on},
#endif
#ifdef SIGPWR
    {SIGPWR, pass_on},
#endif
    {SIGTSTP, pass_on},   {SIGCONT, on_continue},
};

struct sigaction previous_actions[std::size(handlers)];

// Every handled signal, so that no handler interrupts another or the main
// line while it changes the terminal.
sigset_t handled_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const Handler& handler : handlers) {
        sigaddset(&set, handler.signal);
    }
    return set;
}

void set_disposition(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_mask = handled_signals();
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

// Every signal that ends or stops the program: hand the terminal back as it
// was, then let the signal take its default action, so the parent sees how
// the program ended or that it stopped (Ctrl-Z). The program comes back here
// after a stop, once a SIGCONT arrives; at once where a stop has nobody to
// stop for (the kernel discards it for a process group that no shell
// controls) or where a signal's default is to be ignored after all (SIGIO on
// some systems). Then the wait goes on in single-key mode.
void pass_on(int signal)
{
    const int saved_errno = errno;
    give_back_terminal();
    set_disposition(signal, SIG_DFL);
    unblock(signal);
    ::raise(signal);
    set_disposition(signal, pass_on);
    if (waiting != 0) {
        take_terminal();
    }
    errno = saved_errno;
}

// Resumed after any stop (Ctrl-Z, a read from the background, SIGSTOP): take
// the terminal over if the program is in the foreground now.
void on_continue(int)
{
    const int saved_errno = errno;
    if (waiting != 0) {
        take_terminal();
    }
    errno = saved_errno;
}

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

// Runs `step` with the handled signals held back, so that a handler never
// sees the terminal's state half changed.
template <typename Step>
void without_signals(Step step)
{
    const sigset_t blocked = handled_signals();
    sigset_t previous;
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    step();
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
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
           ready_within(input, Ready::to_read, rest_of_key_ms) && read_byte(key[count])) {
        ++count;
    }
    if (in_foreground()) {
        ::tcflush(input, TCIFLUSH);
    }
}

// In the background the terminal is left alone and the prompt goes out at
// once; the first read stops the program (SIGTTIN) until `fg`, whose SIGCONT
// puts it in single-key mode. In the foreground the mode is set before the
// prompt appears, so a key pressed at the prompt is never echoed.
void wait_for_key()
{
    install_handlers();
    without_signals([] {
        waiting = 1;
        take_terminal();
    });
    write_all(prompt, sizeof prompt - 1);
    read_key();
    without_signals([] {
        waiting = 0;
        give_back_terminal();
    });
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
    if (::isatty(input) != 0) {
        wait_for_key();
    } else {
        wait_for_byte();
    }
    write_all("\n", 1);
}

} // namespace console
