#ifndef PERSON_CONSOLE_H
#define PERSON_CONSOLE_H

// The program's only contact with the platform beyond standard output. Each
// platform has its own source, console_posix.cpp, console_windows.cpp or
// console_web.cpp (a web page, or Node.js), and the build picks one; callers
// never ask which one runs.
namespace console {

// Called once before anything is written. On POSIX a write to a pipe whose
// reader has gone then fails like any other write instead of ending the
// process by SIGPIPE; on Windows there is nothing to do.
void prepare();

// Waits as the command processor's "pause" does. On Windows that is the
// literal command handed to std::system. Elsewhere the shell has no such
// command, so this stands in for it: it writes
// "Press any key to continue . . . ", waits for one key (or one byte of
// redirected input), then ends the line. Its outcome is never reported.
void pause();

} // namespace console

#endif
