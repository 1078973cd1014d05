#ifndef TOVIK_ENTRY_H
#define TOVIK_ENTRY_H

// Writes a blank line, the banner and the usage text to standard output.
void show_usage();

// The exit status after the usage screen: the argument count, the program's
// own name included, held within what the host's exit status can carry.
int usage_exit_status(int argument_count);

#endif
