// The host layer on Windows. The C library's system() is what the capture run
// needs to start the interpreter: it starts the one named by COMSPEC (or the
// default command processor) with "/c" and the command line, waits for it,
// hands it the process's standard handles, and sets errno on a failed start.
// Ctrl-C reaches every process of the console, so no signal is passed on.

#include "host.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

bool bind_capture_file(const char *name, FILE *stream)
{
    // The C library's append mode only moves to the end before the tool's
    // own writes; the command writes through the inherited handle at that
    // handle's position, over whatever another writer appended meanwhile.
    // A handle with FILE_APPEND_DATA but without FILE_WRITE_DATA makes
    // Windows put every write through it at the current end of the file.
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE file =
        CreateFileA(name, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const int opened = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_TEXT | _O_WRONLY);
    if (opened == -1) {
        CloseHandle(file);
        return false;
    }

    // Descriptor 2 or 1 takes an inheritable duplicate of the handle, in text
    // mode, and becomes the process's standard handle, which system() hands
    // to the interpreter.
    const int target = stream == stderr ? 2 : 1;
    fflush(stream);
    const bool bound = _dup2(opened, target) == 0;
    _close(opened);
    if (!bound)
        return false;
    SetStdHandle(target == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE,
                 reinterpret_cast<HANDLE>(_get_osfhandle(target)));
    return true;
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

int largest_exit_status()
{
    return INT_MAX;
}
