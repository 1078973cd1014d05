#ifndef TOVIK_HOST_H
#define TOVIK_HOST_H

// What differs between hosts: binding a standard stream to a capture file,
// reaching the console after standard output was rebound, starting the
// command interpreter, and ending the process the way the command ended.
// host_posix.cpp and host_windows.cpp implement it.

#include <stdio.h>

// Rebinds stream (stderr or stdout) to the file name, opened for appending
// only and created when absent, so that descriptor 2 or 1 (and on Windows
// the process's standard handle) refer to it and a process started later
// inherits it. Returns false when the file cannot be opened; the stream's
// previous destination is closed either way.
bool bind_capture_file(const char *name, FILE *stream);

// A private copy of the console (standard output as the tool was started),
// taken before standard output is rebound; it never reaches the command.
// Returns -1 when there is none.
int keep_console();

// Writes text to the copy of the console, then closes the copy.
void tell_console(int console, const char *text);

// Closes the copy of the console unused.
void drop_console(int console);

// Runs command_line through the host's command interpreter and waits for it
// to end, with the caller's environment, working directory, standard input
// and standard streams. Returns the interpreter's wait status (Windows: its
// exit code) once it was started, with errno 0; or -1 with errno set to the
// reason when no interpreter could be started.
int run_command(const char *command_line);

// The signal by which the tool must end once its files are closed, so that
// its caller sees what stopped the command: a terminal's SIGINT or SIGQUIT
// that ended the interpreter (status as run_command returned it), or a
// SIGTERM or SIGHUP that the tool received and passed on while the
// interpreter ran. 0 when the tool is to exit normally, and always on Windows.
int signal_to_end_by(int status);

// Ends the process by signal, at its default disposition and without a core
// file. Returns only if the signal did not end the process.
void end_by_signal(int signal);

// The largest exit status that a caller sees as it is: 255 where an exit
// status keeps 8 bits (POSIX); on Windows, whose exit codes hold 32 bits,
// the largest int.
int largest_exit_status();

#ifndef _WIN32
// run_command with the interpreter named; run_command uses "/bin/sh". The
// interpreter is started as "sh -c -- command_line".
int run_command_with(const char *shell_path, const char *command_line);
#endif

#endif
