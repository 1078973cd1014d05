#ifndef TOVIK_RUN_COMMAND_H
#define TOVIK_RUN_COMMAND_H

// Runs command_line through the host's command interpreter and waits for it to
// end, with the caller's environment, working directory and standard streams.
// Returns what the C library's system() returns once the interpreter was
// started (its wait status), or -1 with errno set to the reason when no
// interpreter could be started. errno is 0 after a start.
int run_command(const char *command_line);

#ifndef _WIN32
// The same with the interpreter named; run_command uses "/bin/sh". The
// interpreter is started as "sh -c -- command_line".
int run_command_with(const char *shell_path, const char *command_line);
#endif

#endif
