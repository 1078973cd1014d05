// The host layer on Windows. The C library's system() is what the capture run
// needs to start the interpreter: it starts the one named by COMSPEC (or the
// default command processor) with "/c" and the command line, waits for it,
// hands it the process's standard handles, and sets errno on a failed start.
// Ctrl-C reaches every process of the console, so no signal is passed on.

#include "host.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

bool bind_capture_file(const char *name, FILE *stream)
{
    // freopen hands back stream itself, which stays the caller's to close.
    // cppcheck-suppress leakReturnValNotUsed
    return freopen(name, "a", stream) != nullptr;
}

int keep_console()
{
    // A handle that is not inheritable, so that the command never gets it.
    const intptr_t original = _get_osfhandle(_fileno(stdout));
    if (original == -1)
        return -1;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(original),
                         GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return -1;
    const int console = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_TEXT);
    if (console == -1)
        CloseHandle(copy);
    return console;
}

void tell_console(int console, const char *text)
{
    if (console < 0)
        return;
    _write(console, text, static_cast<unsigned>(strlen(text)));
    _close(console);
}

void drop_console(int console)
{
    if (console >= 0)
        _close(console);
}

int run_command(const char *command_line)
{
    errno = 0;
    return system(command_line);
}

int signal_to_end_by(int)
{
    return 0;
}

void end_by_signal(int) {}
