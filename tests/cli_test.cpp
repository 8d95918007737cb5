// Runs the built program as a user would, one process per case, and checks
// the bytes it writes and how it ends. The same cases run against the native
// program and, through a launcher such as Wine, against the Windows one:
//
//   person_cli_tests --program PATH [--launcher PATH] [--windows] [--keep-env NAME]...
//                    [--env NAME=VALUE]...
//
// --windows: lines end in CR LF and the pause is the command processor's, so
// only the program's own bytes are checked exactly. --keep-env: variables the
// launcher needs, kept even in an "empty" environment. --env: one the launcher
// needs set, kept likewise.

#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

using child::Descriptor;
using child::milliseconds;

struct Target {
    std::string program;
    std::vector<std::string> launcher;
    std::vector<std::string> kept_environment;
    bool windows = false;
    // The `run` target's command: cmake running its script, with luit.
    std::vector<std::string> run_in_terminal;
};

Target target;

// Long enough for Wine to start a command processor on a loaded machine.
constexpr milliseconds run_limit{30000};
// How long a waiting program is watched to see that it keeps waiting.
constexpr milliseconds settle{300};

const std::string construction_line =
    "Person\xB5\xC4\xC4\xAC\xC8\xCF\xB9\xB9\xD4\xEC\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3";
const std::string destruction_line = "Person\xB5\xC4\xCE\xF6\xB9\xB9\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3";
const std::string prompt = "Press any key to continue . . . ";

std::string program_lines(const std::string& line_end)
{
    return construction_line + line_end + destruction_line + line_end;
}

std::string own_output()
{
    return program_lines(target.windows ? "\r\n" : "\n");
}

// The whole standard output of a run that ended its pause: the program's own
// lines, then the pause's prompt and newline. On Windows the pause belongs to
// the command processor, so only its presence after the lines is checked.
void expect_whole_output(const std::string& output)
{
    if (target.windows) {
        ASSERT_GE(output.size(), own_output().size());
        EXPECT_EQ(output.substr(0, own_output().size()), own_output());
    } else {
        EXPECT_EQ(output, own_output() + prompt + "\n");
    }
}

std::vector<std::string> command(const std::vector<std::string>& arguments)
{
    std::vector<std::string> result = target.launcher;
    result.push_back(target.program);
    result.insert(result.end(), arguments.begin(), arguments.end());
    return result;
}

std::string name_of(const std::string& assignment)
{
    return assignment.substr(0, assignment.find('='));
}

// The test's own environment with `changes` applied, or, when `empty`, only
// the variables the launcher needs plus `changes`.
std::vector<std::string> environment(bool empty, const std::vector<std::string>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string assignment = *entry;
        const std::string name = name_of(assignment);
        const auto is_name = [&](const std::string& other) { return name_of(other) == name; };
        const bool kept = !empty || std::any_of(target.kept_environment.begin(),
                                                target.kept_environment.end(), is_name);
        if (kept && std::none_of(changes.begin(), changes.end(), is_name)) {
            result.push_back(assignment);
        }
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

::testing::AssertionResult exited_zero(const std::optional<int>& status)
{
    if (!status) {
        return ::testing::AssertionFailure() << "did not end in time";
    }
    if (WIFSIGNALED(*status)) {
        return ::testing::AssertionFailure() << "ended by signal " << WTERMSIG(*status) << " ("
                                             << strsignal(WTERMSIG(*status)) << ")";
    }
    if (WEXITSTATUS(*status) != 0) {
        return ::testing::AssertionFailure() << "exit status " << WEXITSTATUS(*status);
    }
    return ::testing::AssertionSuccess();
}

// A temporary file holding `contents`, removed afterwards.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& contents = "")
    {
        char name[] = "/tmp/person-test-XXXXXX";
        fd_.reset(mkstemp(name));
        path_ = name;
        EXPECT_EQ(write(fd_.get(), contents.data(), contents.size()),
                  static_cast<ssize_t>(contents.size()));
        lseek(fd_.get(), 0, SEEK_SET);
    }
    ~ScratchFile() { unlink(path_.c_str()); }
    int fd() const { return fd_.get(); }
    std::string contents() const { return child::file_contents(path_); }

private:
    Descriptor fd_;
    std::string path_;
};

// ---------------------------------------------------------------------------
// One table: how the program is started, and what must come of it.

enum class Input { end_of_file, closed, file };
enum class Output { file, full_device, closed, pipe_without_reader };

struct Condition {
    const char* name;
    std::vector<std::string> arguments;
    bool empty_environment;
    std::vector<std::string> environment_changes;
    Input input;
    Output output;
};

std::vector<std::string> numbered_arguments(int count)
{
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) {
        result.push_back("argument-" + std::to_string(i));
    }
    return result;
}

const Condition conditions[] = {
    {"StdinAtEndOfFile", {}, false, {}, Input::end_of_file, Output::file},
    {"OptionLikeArguments", {"--help", "-h", "/?", "--", "-", "pause"}, false, {},
     Input::end_of_file, Output::file},
    {"OddByteArguments",
     {"", " ", "a b", "\xff\xfe", "\x1b[2J", "\xE4\xB8\xAD\xE6\x96\x87", "\xB5\xC4", "%s%n",
      "tab\there"},
     false, {}, Input::end_of_file, Output::file},
    {"ManyArguments", numbered_arguments(500), false, {}, Input::end_of_file, Output::file},
    {"EmptyEnvironment", {}, true, {}, Input::end_of_file, Output::file},
    {"ChineseGbkLocale", {}, false, {"LANG=zh_CN.GBK", "LC_ALL=zh_CN.GBK"}, Input::end_of_file,
     Output::file},
    {"Utf8Locale", {}, false, {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"}, Input::end_of_file,
     Output::file},
    {"PosixLocale", {}, false, {"LC_ALL=POSIX"}, Input::end_of_file, Output::file},
    {"UnknownLocale", {}, false, {"LC_ALL=xx_YY.NOPE"}, Input::end_of_file, Output::file},
    {"StdinClosed", {}, false, {}, Input::closed, Output::file},
    {"StdinFromFile", {}, false, {}, Input::file, Output::file},
    {"StdoutToFullDevice", {}, false, {}, Input::end_of_file, Output::full_device},
    {"StdoutClosed", {}, false, {}, Input::end_of_file, Output::closed},
    {"StdoutPipeWithoutReader", {}, false, {}, Input::end_of_file, Output::pipe_without_reader},
    {"StdinAndStdoutClosed", {}, false, {}, Input::closed, Output::closed},
};

// Case names stand for the cases in test output and in CTest's names.
void PrintTo(const Condition& condition, std::ostream* out)
{
    *out << condition.name;
}

class Run : public ::testing::TestWithParam<Condition> {};

TEST_P(Run, EndsWithStatusZeroAndWritesTheWholeStream)
{
    const Condition& condition = GetParam();

    Descriptor input;
    ScratchFile input_file("key pressed\n");
    switch (condition.input) {
    case Input::end_of_file: input.reset(open("/dev/null", O_RDONLY)); break;
    case Input::file: input.reset(dup(input_file.fd())); break;
    case Input::closed: break;
    }

    ScratchFile output_file;
    Descriptor output;
    switch (condition.output) {
    case Output::file: output.reset(dup(output_file.fd())); break;
    case Output::full_device:
        // Linux and the BSDs have it; macOS does not.
        if (access("/dev/full", W_OK) != 0) {
            GTEST_SKIP() << "no /dev/full on this system";
        }
        output.reset(open("/dev/full", O_WRONLY));
        break;
    case Output::pipe_without_reader: {
        const child::Pipe pipe = child::make_pipe();
        close(pipe.read);
        output.reset(pipe.write);
        break;
    }
    case Output::closed: break;
    }

    ScratchFile error_file;
    child::Launch launch;
    launch.command = command(condition.arguments);
    launch.environment = environment(condition.empty_environment, condition.environment_changes);
    launch.input = input.get();
    launch.output = output.get();
    launch.error = error_file.fd();
    const pid_t pid = child::start(launch);
    ASSERT_GT(pid, 0);
    input.reset();
    output.reset();

    EXPECT_TRUE(exited_zero(child::wait(pid, run_limit)));
    // The program reports nothing, whatever became of its output; on Windows
    // standard error is Wine's as well.
    if (!target.windows) {
        EXPECT_EQ(error_file.contents(), "") << "on standard error";
    }
    if (condition.output == Output::file) {
        expect_whole_output(output_file.contents());
    }
    // The child shared the file's offset: the pause took one byte, as the
    // Windows command processor does, and left the rest.
    if (condition.input == Input::file) {
        EXPECT_EQ(lseek(input_file.fd(), 0, SEEK_CUR), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Conditions, Run, ::testing::ValuesIn(conditions),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Input an open pipe: the lines are out while the pause waits, and one byte
// ends the wait. A non-blocking pipe (as event-loop runtimes hand their
// children) must wait the same, and its flags, shared with the parent, must be
// as they were.

struct PipeKind {
    const char* name;
    bool nonblocking;
};

void PrintTo(const PipeKind& kind, std::ostream* out)
{
    *out << kind.name;
}

int status_flags(int fd)
{
    return fcntl(fd, F_GETFL);
}

// As an event-loop parent leaves a descriptor it shares with its child.
void set_nonblocking(int fd)
{
    ASSERT_EQ(fcntl(fd, F_SETFL, status_flags(fd) | O_NONBLOCK), 0);
}

class PipedInput : public ::testing::TestWithParam<PipeKind> {};

TEST_P(PipedInput, PauseWaitsWithTheLinesOutAndOneByteEndsIt)
{
    child::Pipe input = child::make_pipe();
    child::Pipe output = child::make_pipe();
    Descriptor keyboard(input.write);
    Descriptor screen(output.read);
    Descriptor program_input(input.read);
    if (GetParam().nonblocking) {
        ASSERT_NO_FATAL_FAILURE(set_nonblocking(input.read));
    }
    const int flags_before = status_flags(input.read);

    child::Launch launch;
    launch.command = command({});
    launch.input = input.read;
    launch.output = output.write;
    const pid_t pid = child::start(launch);
    ASSERT_GT(pid, 0);
    close(output.write);

    const std::size_t before_key = own_output().size() + (target.windows ? 0 : prompt.size());
    std::string seen = child::read_until(screen.get(), run_limit, [&](const std::string& text) {
        return text.size() >= before_key;
    });
    ASSERT_GE(seen.size(), own_output().size()) << "the lines are not out while it waits";
    EXPECT_EQ(seen.substr(0, own_output().size()), own_output());
    seen += child::read_available(screen.get(), settle);
    EXPECT_TRUE(child::still_running(pid)) << "the pause did not wait for input";
    EXPECT_EQ(status_flags(input.read), flags_before) << "while waiting";

    ASSERT_EQ(write(keyboard.get(), "k", 1), 1);
    EXPECT_TRUE(exited_zero(child::wait(pid, run_limit)));
    seen += child::read_until(screen.get(), run_limit, [](const std::string&) { return false; });
    expect_whole_output(seen);
    EXPECT_EQ(status_flags(input.read), flags_before) << "afterwards";
}

INSTANTIATE_TEST_SUITE_P(Kinds, PipedInput,
                         ::testing::Values(PipeKind{"Blocking", false},
                                           PipeKind{"NonBlocking", true}),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// On a terminal (POSIX only): single-key mode while waiting, and the
// terminal's exact settings back on every way out.

struct Terminal {
    Descriptor master;
    Descriptor slave;
};

Terminal open_terminal()
{
    Terminal terminal;
    terminal.master.reset(posix_openpt(O_RDWR | O_NOCTTY));
    EXPECT_GE(terminal.master.get(), 0);
    EXPECT_EQ(grantpt(terminal.master.get()), 0);
    EXPECT_EQ(unlockpt(terminal.master.get()), 0);
    terminal.slave.reset(open(ptsname(terminal.master.get()), O_RDWR | O_NOCTTY));
    EXPECT_GE(terminal.slave.get(), 0);

    // A cooked mode with settings a careless restore would not bring back.
    termios mode{};
    EXPECT_EQ(tcgetattr(terminal.slave.get(), &mode), 0);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHOCTL);
    mode.c_cc[VMIN] = 3;
    mode.c_cc[VTIME] = 7;
    mode.c_cc[VKILL] = 0x0B;
    EXPECT_EQ(tcsetattr(terminal.slave.get(), TCSANOW, &mode), 0);
    return terminal;
}

termios mode_of(const Terminal& terminal)
{
    termios mode{};
    EXPECT_EQ(tcgetattr(terminal.slave.get(), &mode), 0);
    return mode;
}

::testing::AssertionResult same_mode(const termios& expected, const termios& actual)
{
    const bool same = expected.c_iflag == actual.c_iflag && expected.c_oflag == actual.c_oflag &&
                      expected.c_cflag == actual.c_cflag && expected.c_lflag == actual.c_lflag &&
                      std::equal(std::begin(expected.c_cc), std::end(expected.c_cc),
                                 std::begin(actual.c_cc)) &&
                      cfgetispeed(&expected) == cfgetispeed(&actual) &&
                      cfgetospeed(&expected) == cfgetospeed(&actual);
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << std::hex << "lflag " << expected.c_lflag << " became " << actual.c_lflag
           << ", iflag " << expected.c_iflag << " became " << actual.c_iflag << ", VMIN "
           << int(expected.c_cc[VMIN]) << " became " << int(actual.c_cc[VMIN]);
}

bool in_single_key_mode(const termios& mode)
{
    return (mode.c_lflag & (ICANON | ECHO)) == 0 && (mode.c_lflag & ISIG) != 0;
}

// Whatever input is still queued on the terminal for the next reader.
std::string left_in_input(const Terminal& terminal)
{
    termios raw = mode_of(terminal);
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(terminal.slave.get(), TCSANOW, &raw);
    return child::read_available(terminal.slave.get(), milliseconds(50));
}

pid_t start_on(const Terminal& terminal, const std::vector<std::string>& command_line,
               bool controlling = true, int ignored_signal = 0)
{
    child::Launch launch;
    launch.ignored_signal = ignored_signal;
    launch.command = command_line;
    launch.input = terminal.slave.get();
    launch.output = terminal.slave.get();
    launch.own_terminal = controlling;
    return child::start(launch);
}

// The terminal shows output with each newline as CR LF.
const std::string terminal_until_prompt = program_lines("\r\n") + prompt;

struct WayOut {
    const char* name;
    std::vector<std::string> keys; // typed at the prompt, `between_keys` apart
    int signal;        // or sent to the program, if not 0
    int ending_signal; // 0: ends normally, with status 0
    bool nonblocking = false;    // the terminal handed over with O_NONBLOCK set
    bool not_controlling = false; // a terminal, but not the program's controlling one
    int ignored_at_start = 0;     // a signal the program is started with ignored
    milliseconds between_keys = settle;
};

const WayOut ways_out[] = {
    {"Letter", {"x"}, 0, 0},
    {"Enter", {"\r"}, 0, 0},
    {"Space", {" "}, 0, 0},
    {"ArrowKey", {"\x1b[A"}, 0, 0},
    // Over a slow link a key's sequence may come in pieces: still one key.
    {"ArrowKeyInTwoPieces", {"\x1b", "[A"}, 0, 0, false, false, 0, milliseconds(20)},
    {"FunctionKeyInThreePieces", {"\x1b", "[15", "~"}, 0, 0, false, false, 0, milliseconds(20)},
    {"Utf8CharacterInTwoPieces", {"\xE4", "\xB8\xAD"}, 0, 0, false, false, 0, milliseconds(20)},
    {"ApplicationArrowKey", {"\x1bOB"}, 0, 0},
    {"FunctionKey", {"\x1b[15~"}, 0, 0},
    {"ShiftFunctionKey", {"\x1b[15;2~"}, 0, 0},
    {"AltArrowKey", {"\x1b\x1b[C"}, 0, 0},
    {"AltLetter", {"\x1bx"}, 0, 0},
    {"LoneEscape", {"\x1b"}, 0, 0},
    {"Utf8Character", {"\xE4\xB8\xAD"}, 0, 0},
    {"EscapeEscape", {"\x1b\x1b"}, 0, 0},
    // Typed ahead, or pasted: one key press, and nothing left for the shell.
    {"SeveralKeysInOneWrite", {"abc"}, 0, 0},
    {"CtrlD", {"\x04"}, 0, 0},
    {"CtrlV", {"\x16"}, 0, 0},
    // A session of its own has no shell to stop for: the kernel discards the
    // stop, and the wait goes on in single-key mode.
    {"CtrlZWhereItCannotStop", {"\x1a", "x"}, 0, 0},
    {"CtrlC", {"\x03"}, 0, SIGINT},
    {"CtrlBackslash", {"\x1c"}, 0, SIGQUIT},
    {"Sigterm", {}, SIGTERM, SIGTERM},
    {"Sighup", {}, SIGHUP, SIGHUP},
    {"Sigint", {}, SIGINT, SIGINT},
    {"Sigalrm", {}, SIGALRM, SIGALRM},
    {"Sigusr1", {}, SIGUSR1, SIGUSR1},
    {"Sigusr2", {}, SIGUSR2, SIGUSR2},
    {"Sigvtalrm", {}, SIGVTALRM, SIGVTALRM},
    {"Sigprof", {}, SIGPROF, SIGPROF},
    {"Sigxcpu", {}, SIGXCPU, SIGXCPU},
    {"Sigxfsz", {}, SIGXFSZ, SIGXFSZ},
    {"Sigio", {}, SIGIO, SIGIO},
#ifdef SIGPWR
    {"Sigpwr", {}, SIGPWR, SIGPWR},
#endif
    // A SIGCONT with nothing stopped changes nothing: the wait goes on.
    {"SigcontWhileWaiting", {}, SIGCONT, 0},
    // Under nohup SIGHUP is ignored, and stays so while the program waits.
    {"SighupIgnoredAtStart", {}, SIGHUP, 0, false, false, SIGHUP},
    {"NonBlockingLetter", {"x"}, 0, 0, true},
    {"NonBlockingArrowKey", {"\x1b[A"}, 0, 0, true},
    {"NonBlockingCtrlC", {"\x03"}, 0, SIGINT, true},
    {"LetterOnATerminalNotItsOwn", {"x"}, 0, 0, false, true},
};

void PrintTo(const WayOut& way, std::ostream* out)
{
    *out << way.name;
}

class TerminalWait : public ::testing::TestWithParam<WayOut> {};

TEST_P(TerminalWait, WaitsInSingleKeyModeAndRestoresTheTerminal)
{
    const WayOut& way = GetParam();
    Terminal terminal = open_terminal();
    const termios before = mode_of(terminal);
    if (way.nonblocking) {
        ASSERT_NO_FATAL_FAILURE(set_nonblocking(terminal.slave.get()));
    }
    const int flags_before = status_flags(terminal.slave.get());

    const pid_t pid = start_on(terminal, command({}), !way.not_controlling, way.ignored_at_start);
    ASSERT_GT(pid, 0);
    std::string screen = child::read_until(
        terminal.master.get(), run_limit,
        [](const std::string& text) { return text.size() >= terminal_until_prompt.size(); });
    EXPECT_EQ(screen, terminal_until_prompt);
    EXPECT_TRUE(in_single_key_mode(mode_of(terminal)));
    if (way.nonblocking) {
        usleep(static_cast<useconds_t>(settle.count() * 1000));
    }
    EXPECT_TRUE(child::still_running(pid)) << "the pause did not wait for a key";

    for (const std::string& keys : way.keys) {
        if (&keys != &way.keys.front()) {
            usleep(static_cast<useconds_t>(way.between_keys.count() * 1000));
            EXPECT_TRUE(in_single_key_mode(mode_of(terminal))) << "after " << way.keys.front();
        }
        ASSERT_EQ(write(terminal.master.get(), keys.data(), keys.size()),
                  static_cast<ssize_t>(keys.size()));
    }
    if (way.signal != 0) {
        kill(pid, way.signal);
    }
    if (way.signal != 0 && way.ending_signal == 0) {
        usleep(static_cast<useconds_t>(settle.count() * 1000));
        EXPECT_TRUE(child::still_running(pid)) << "the signal ended the wait";
        EXPECT_TRUE(in_single_key_mode(mode_of(terminal))) << "after the signal";
        ASSERT_EQ(write(terminal.master.get(), "x", 1), 1);
    }
    const std::optional<int> status = child::wait(pid, run_limit);
    ASSERT_TRUE(status.has_value()) << "still waiting";
    if (way.ending_signal == 0) {
        EXPECT_TRUE(exited_zero(status));
    } else {
        ASSERT_TRUE(WIFSIGNALED(*status)) << "status " << *status;
        EXPECT_EQ(WTERMSIG(*status), way.ending_signal);
    }

    EXPECT_TRUE(same_mode(before, mode_of(terminal)));
    EXPECT_EQ(status_flags(terminal.slave.get()), flags_before);
    screen += child::read_available(terminal.master.get(), milliseconds(50));
    // Nothing typed is echoed; a normal end finishes the prompt's line.
    EXPECT_EQ(screen, terminal_until_prompt + (way.ending_signal == 0 ? "\r\n" : ""));
    EXPECT_EQ(left_in_input(terminal), "");
}

INSTANTIATE_TEST_SUITE_P(WaysOut, TerminalWait, ::testing::ValuesIn(ways_out),
                         [](const auto& test) { return std::string(test.param.name); });

// Under a job-control shell: while the job is stopped, or runs in the
// background, the shell's terminal is untouched; `fg` resumes the wait in
// single-key mode; a key ends it with status 0 and the terminal as the shell
// handed it over, a setting changed at the shell meanwhile included.

struct JobStart {
    const char* name;
    const char* start; // shell code: starts the program ("$0" "$@"), says "[stopped" once it is
    bool ctrl_z;       // stopped by Ctrl-Z at the prompt, not by reading from the background
    const char* stopped;
    bool change_while_stopped = false;
    int stops = 1;      // Ctrl-Z and `fg` this many times
    bool dash = false;  // under dash, which, unlike bash, does not put its own
                        // terminal settings back when a job stops
};

// A background job stops at its first read (SIGTTIN). As under a line editor,
// the terminal is raw while the job starts and cooked again once it is
// stopped, so the mode to put back is the one `fg` hands over. (`wait` is not
// used: bash puts its own settings back when a waited-for job stops.)
#define PERSON_IN_BACKGROUND(job)                                                              \
    "stty -icanon -echo; " job " & until [ -n \"$(jobs -s)\" ]; do sleep 0.05; done; "       \
    "stty icanon echo; echo \"[stopped]\""

const JobStart job_starts[] = {
    {"CtrlZThenFg", "\"$0\" \"$@\"; echo \"[stopped $?]\"", true, "[stopped 148]"},
    {"CtrlZSettingChangedBeforeFg", "\"$0\" \"$@\"; echo \"[stopped $?]\"", true, "[stopped 148]", true},
    {"CtrlZTwiceUnderDash", "\"$0\" \"$@\"; echo \"[stopped $?]\"", true, "[stopped 148]", false, 2,
     true},
    {"BackgroundThenFg", PERSON_IN_BACKGROUND("\"$0\" \"$@\""), false, "[stopped]"},
    // The kernel lets a job that ignores SIGTTOU change the terminal from the
    // background: it must not.
    {"BackgroundTtouIgnoredThenFg", PERSON_IN_BACKGROUND("(trap '' TTOU; exec \"$0\" \"$@\")"), false,
     "[stopped]"},
};

#undef PERSON_IN_BACKGROUND

void PrintTo(const JobStart& start, std::ostream* out)
{
    *out << start.name;
}

class TerminalJobControl : public ::testing::TestWithParam<JobStart> {};

TEST_P(TerminalJobControl, ShellKeepsItsTerminalAndFgResumesTheWait)
{
    const JobStart& job = GetParam();
    Terminal terminal = open_terminal();
    termios expected = mode_of(terminal);
    // The shell waits for a line after each stop, so that the terminal can be
    // looked at (and changed) before `fg`.
    std::string script = job.start;
    for (int stop = 2; stop <= job.stops; ++stop) {
        script += "; read -r line; fg >/dev/null; echo \"[stopped $?]\"";
    }
    script += "; read -r line; fg >/dev/null; echo \"[ended $?]\"";
    std::vector<std::string> shell = {"/bin/bash", "--norc", "--noprofile", "-i", "-c", script};
    if (job.dash) {
        shell = {"/bin/dash", "-i", "-m", "-c", script};
    }
    const std::vector<std::string> program = command({});
    shell.insert(shell.end(), program.begin(), program.end());

    const pid_t pid = start_on(terminal, shell);
    ASSERT_GT(pid, 0);
    const auto contains = [](const std::string& wanted) {
        return [wanted](const std::string& text) { return text.find(wanted) != std::string::npos; };
    };
    std::string screen;
    for (int stop = 1; stop <= job.stops; ++stop) {
        SCOPED_TRACE("stop " + std::to_string(stop));
        if (job.ctrl_z) {
            if (stop == 1) {
                screen = child::read_until(terminal.master.get(), run_limit, contains(prompt));
                ASSERT_NE(screen.find(prompt), std::string::npos) << screen;
            }
            ASSERT_EQ(write(terminal.master.get(), "\x1a", 1), 1);
        }
        const std::string said =
            child::read_until(terminal.master.get(), run_limit, contains("[stopped"));
        EXPECT_NE(said.find(job.stopped), std::string::npos) << screen + said;
        screen += said;
        EXPECT_TRUE(same_mode(expected, mode_of(terminal))) << "while stopped";

        if (job.change_while_stopped) {
            expected.c_cc[VERASE] = 0x08;
            expected.c_lflag ^= ECHOE;
            ASSERT_EQ(tcsetattr(terminal.slave.get(), TCSANOW, &expected), 0);
        }
        ASSERT_EQ(write(terminal.master.get(), "\n", 1), 1);
        bool resumed = false;
        for (int i = 0; i < 200 && !resumed; ++i) {
            resumed = in_single_key_mode(mode_of(terminal));
            usleep(10000);
        }
        ASSERT_TRUE(resumed) << "fg did not resume the wait in single-key mode";
    }

    ASSERT_EQ(write(terminal.master.get(), "y", 1), 1);
    screen += child::read_until(terminal.master.get(), run_limit, contains("[ended"));
    EXPECT_NE(screen.find("[ended 0]"), std::string::npos) << screen;
    EXPECT_TRUE(exited_zero(child::wait(pid, run_limit)));
    EXPECT_TRUE(same_mode(expected, mode_of(terminal)));
    EXPECT_EQ(left_in_input(terminal), "");
}

INSTANTIATE_TEST_SUITE_P(Starts, TerminalJobControl, ::testing::ValuesIn(job_starts),
                         [](const auto& test) { return std::string(test.param.name); });

// The `run` target in a UTF-8 terminal: the lines show in Chinese (luit
// converts them as a console set to code page 936 would), the key ends the
// run, and Ctrl-C reaches the program and fails the run.

struct RunEnding {
    const char* name;
    const char* key;
    const char* said; // what the run says after the key, or nothing
    bool succeeds;
};

const RunEnding run_endings[] = {
    {"Key", "x", "", true},
    {"CtrlC", "\x03", "ended with: signal 2", false},
};

void PrintTo(const RunEnding& ending, std::ostream* out)
{
    *out << ending.name;
}

class TerminalRun : public ::testing::TestWithParam<RunEnding> {};

TEST_P(TerminalRun, ShowsTheLinesInChineseInAUtf8Terminal)
{
    const RunEnding& ending = GetParam();
    ASSERT_FALSE(target.run_in_terminal.empty()) << "--run-in-terminal is needed";
    Terminal terminal = open_terminal();
    const termios before = mode_of(terminal);
    std::vector<std::string> run = target.run_in_terminal;
    std::string launcher;
    for (const std::string& part : target.launcher) {
        launcher += (launcher.empty() ? "" : ";") + part;
    }
    run.insert(run.begin() + 1, {"-D", "PROGRAM=" + target.program, "-D", "LAUNCHER=" + launcher});
    child::Launch launch;
    launch.command = run;
    launch.environment = environment(false, {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"});
    launch.input = terminal.slave.get();
    launch.output = terminal.slave.get();
    launch.error = terminal.slave.get();
    launch.own_terminal = true;
    const pid_t pid = child::start(launch);
    ASSERT_GT(pid, 0);

    // The two lines in UTF-8, as the terminal shows them.
    const std::string in_chinese =
        "Person\xE7\x9A\x84\xE9\xBB\x98\xE8\xAE\xA4\xE6\x9E\x84\xE9\x80\xA0"
        "\xE5\x87\xBD\xE6\x95\xB0\xE8\xB0\x83\xE7\x94\xA8\r\n"
        "Person\xE7\x9A\x84\xE6\x9E\x90\xE6\x9E\x84\xE5\x87\xBD\xE6\x95\xB0"
        "\xE8\xB0\x83\xE7\x94\xA8\r\n" + prompt;
    std::string screen = child::read_until(terminal.master.get(), run_limit, [&](const std::string& text) {
        return text.find(in_chinese) != std::string::npos;
    });
    EXPECT_NE(screen.find(in_chinese), std::string::npos) << screen;
    ASSERT_EQ(write(terminal.master.get(), ending.key, 1), 1);
    const std::optional<int> status = child::wait(pid, run_limit);
    screen += child::read_available(terminal.master.get(), milliseconds(50));
    ASSERT_TRUE(status.has_value()) << "still waiting: " << screen;
    EXPECT_EQ(exited_zero(status), ending.succeeds) << screen;
    EXPECT_NE(screen.find(ending.said), std::string::npos) << screen;
    EXPECT_TRUE(same_mode(before, mode_of(terminal)));
}

INSTANTIATE_TEST_SUITE_P(Endings, TerminalRun, ::testing::ValuesIn(run_endings),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--program" && has_value) {
            target.program = argv[++i];
        } else if (option == "--launcher" && has_value) {
            target.launcher.emplace_back(argv[++i]);
        } else if (option == "--keep-env" && has_value) {
            target.kept_environment.emplace_back(argv[++i]);
        } else if (option == "--env" && has_value) {
            const std::string assignment = argv[++i];
            target.kept_environment.push_back(name_of(assignment));
            setenv(name_of(assignment).c_str(), assignment.substr(assignment.find('=') + 1).c_str(), 1);
        } else if (option == "--run-in-terminal" && i + 3 < argc) {
            // CMAKE SCRIPT LUIT
            const std::string cmake = argv[++i], script = argv[++i], luit = argv[++i];
            target.run_in_terminal = {cmake, "-D", "LUIT=" + luit, "-P", script};
        } else if (option == "--windows") {
            target.windows = true;
        } else {
            std::fprintf(stderr, "unknown option: %s\n", option.c_str());
            return 2;
        }
    }
    // Listing the cases needs no program; running them does.
    if (target.program.empty() && !::testing::GTEST_FLAG(list_tests)) {
        std::fprintf(stderr, "usage: %s --program PATH [--launcher PATH] [--windows] "
                             "[--keep-env NAME]... [--env NAME=VALUE]... "
                             "[--run-in-terminal CMAKE SCRIPT LUIT]\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
