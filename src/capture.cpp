#include "capture.h"

#include "run_command.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

void report_run_failure(int error_kind)
{
    const char *message = nullptr;
    switch (error_kind) {
    case ENOENT:
        message = "Command Interpreter nicht gefunden !\n";
        break;
    case E2BIG:
        message = "Parameterliste zu lang !\n";
        break;
    case ENOEXEC:
        message = "Programm nicht ausf\xFChrbar !\n";
        break;
    case ENOMEM:
        message = "Nicht genug Speicher zum ausf\xFChren !\n";
        break;
    default:
        return;
    }
    fputs(message, stdout);
}

// Writes text to the console through a duplicate of the original standard
// output and closes the duplicate.
static void tell_console(int console, const char *text)
{
    if (console < 0)
        return;
    FILE *stream = fdopen(console, "w");
    if (stream == nullptr) {
        close(console);
        return;
    }
    fputs(text, stream);
    fclose(stream);
}

int run_captured(const char *command_line)
{
    if (freopen("stderr.err", "a", stderr) == nullptr) {
        fputs("Umleitung von stderr in stderr.err fehlgeschlagen !\n", stdout);
        return 0;
    }

    // A failed reopening closes standard output, so the message about it goes
    // to a duplicate of the console taken beforehand.
    int console = dup(fileno(stdout));
    if (freopen("stdout.err", "a", stdout) == nullptr) {
        tell_console(console, "Umleitung von stdout in stdout.err fehlgeschlagen !\n");
        fclose(stderr);
        return 0;
    }
    if (console >= 0)
        close(console);

    fseek(stderr, 0, SEEK_END);
    fseek(stdout, 0, SEEK_END);
    fflush(stderr);
    fflush(stdout);
    fprintf(stdout, "%s\n", command_line);
    fprintf(stderr, "%s\n", command_line);
    fflush(stderr);
    fflush(stdout);

    // Both header lines are in the files now, ahead of the command's output.
    if (run_command(command_line) < 0)
        report_run_failure(errno);

    fclose(stderr);
    fclose(stdout);
    return 0;
}
