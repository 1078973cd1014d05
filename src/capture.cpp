#include "capture.h"

#include "host.h"

#include <errno.h>
#include <stdio.h>

// The exit status of a run in which nothing was run: a capture file could not
// be opened, or no interpreter could be started. The usage screen never
// exits with 2 (its argument count is 1, or 3 and more).
static const int nothing_run = 2;

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

int run_captured(const char *command_line)
{
    if (!bind_capture_file("stderr.err", stderr)) {
        fputs("Umleitung von stderr in stderr.err fehlgeschlagen !\n", stdout);
        return nothing_run;
    }

    // A failed rebinding closes standard output, so the message about it goes
    // to a copy of the console taken beforehand.
    const int console = keep_console();
    if (!bind_capture_file("stdout.err", stdout)) {
        tell_console(console, "Umleitung von stdout in stdout.err fehlgeschlagen !\n");
        fclose(stderr);
        return nothing_run;
    }
    drop_console(console);

    fseek(stderr, 0, SEEK_END);
    fseek(stdout, 0, SEEK_END);
    fflush(stderr);
    fflush(stdout);
    fprintf(stdout, "%s\n", command_line);
    fprintf(stderr, "%s\n", command_line);
    fflush(stderr);
    fflush(stdout);

    // Both header lines are in the files now, ahead of the command's output.
    const int status = run_command(command_line);
    const int error_kind = errno;
    const bool started = status >= 0 || error_kind == 0;
    if (status < 0)
        report_run_failure(error_kind);
    const int signal = started ? signal_to_end_by(status) : 0;

    fclose(stderr);
    fclose(stdout);
    if (signal != 0) {
        end_by_signal(signal);
        return 128 + signal;  // as a shell reports it, should the signal not end the process
    }
    return started ? 0 : nothing_run;
}
