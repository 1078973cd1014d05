#ifndef TOVIK_CAPTURE_H
#define TOVIK_CAPTURE_H

// Appends the command line as a header line to "stderr.err" and "stdout.err"
// in the current directory, then runs it through the command interpreter with
// its standard error and standard output appended to those files. Standard
// error and standard output stay bound to the files afterwards and are closed.
// Returns 0, whatever happened.
int run_captured(const char *command_line);

// Writes the message for an error kind (errno after a failed start of the
// interpreter) to standard output; nothing for a kind without a message.
void report_run_failure(int error_kind);

#endif
