// glibc's system() reports a failed start of /bin/sh as an exit with status
// 127, never as -1 with errno, so the tool starts the shell itself.

#include "run_command.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

int run_command(const char *command_line)
{
    return run_command_with("/bin/sh", command_line);
}

static bool was_ignored(const struct sigaction &action)
{
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

int run_command_with(const char *shell_path, const char *command_line)
{
    // While the command runs, a Ctrl-C or Ctrl-\ from the terminal is the
    // command's to handle: the tool ignores both and blocks SIGCHLD, as
    // system() does, so that it still closes its files afterwards.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction old_int = {};
    struct sigaction old_quit = {};
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);
    sigset_t child_signal;
    sigset_t old_mask;
    sigemptyset(&child_signal);
    sigaddset(&child_signal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child_signal, &old_mask);

    // The shell starts with the tool's original mask, and with SIGINT and
    // SIGQUIT at their default unless the tool's caller had them ignored.
    sigset_t to_default;
    sigemptyset(&to_default);
    if (!was_ignored(old_int))
        sigaddset(&to_default, SIGINT);
    if (!was_ignored(old_quit))
        sigaddset(&to_default, SIGQUIT);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &old_mask);
    posix_spawnattr_setsigdefault(&attributes, &to_default);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The command gets descriptors 0, 1 and 2 and nothing else of the tool's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // "--" keeps a command line that begins with '-' or '+' from being taken
    // as options of the shell.
    char name[] = "sh";
    char command_option[] = "-c";
    char end_of_options[] = "--";
    char *arguments[] = {name, command_option, end_of_options, const_cast<char *>(command_line),
                         nullptr};

    int status = -1;
    pid_t child = 0;
    int error = posix_spawn(&child, shell_path, &actions, &attributes, arguments, environ);
    if (error == 0) {
        while (waitpid(child, &status, 0) == -1) {
            if (errno != EINTR) {
                error = errno;
                status = -1;
                break;
            }
        }
    }

    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return status;
}
