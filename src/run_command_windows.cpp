// On Windows the C library's system() is what the capture run needs: it starts
// the interpreter named by COMSPEC (or the default command processor) with
// "/c" and the command line, waits for it, and sets errno on a failed start.

#include "run_command.h"

#include <cstdlib>

int run_command(const char *command_line)
{
    return system(command_line);
}
