#ifndef TOVIK_CAPTURE_H
#define TOVIK_CAPTURE_H

// Appends the command line as a header line to "stderr.err" and "stdout.err"
// in the current directory, then runs it through the command interpreter with
// its standard error and standard output appended to those files. Standard
// error and standard output stay bound to the files afterwards and are closed.
// Returns the exit status: 0 once the interpreter was started, 2 when nothing
// was run. When the command was stopped by a signal that the tool passes on
// (a terminal's interrupt, or a termination sent to the tool), the process
// ends by that signal after the files are closed.
int run_captured(const char *command_line);

// Writes the message for an error kind (errno after a failed start of the
// interpreter) to standard output; nothing for a kind without a message.
void report_run_failure(int error_kind);

#endif
