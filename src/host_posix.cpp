// The host layer on POSIX systems. glibc's system() reports a failed start of
// /bin/sh as an exit with status 127, never as -1 with errno, and it cannot
// pass a signal on to the command, so the tool starts the shell itself.

#include "host.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>  // environ, as g++ builds with _GNU_SOURCE

bool bind_capture_file(const char *name, FILE *stream)
{
    // Mode "a" opens with O_APPEND: every write, the tool's and the
    // command's through the inherited descriptor, lands at the end of the
    // file, whoever else writes to it.
    // freopen hands back stream itself, which stays the caller's to close.
    // cppcheck-suppress leakReturnValNotUsed
    return freopen(name, "a", stream) != nullptr;
}

int keep_console()
{
    // Close-on-exec from the start, and above the standard three, so that
    // the copy never reaches the command and never fills a closed 0, 1 or 2.
    return fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
}

void tell_console(int console, const char *text)
{
    if (console < 0)
        return;
    ssize_t written = write(console, text, strlen(text));
    static_cast<void>(written);
    close(console);
}

void drop_console(int console)
{
    if (console >= 0)
        close(console);
}

int run_command(const char *command_line)
{
    return run_command_with("/bin/sh", command_line);
}

// The interpreter while it runs, and the first SIGTERM or SIGHUP passed on
// to it; read and written by pass_on.
static volatile sig_atomic_t command_pid = 0;
static volatile sig_atomic_t passed_on = 0;

extern "C" {
static void pass_on(int signal)
{
    const int saved_errno = errno;
    if (passed_on == 0)
        passed_on = signal;
    if (command_pid > 0)
        kill(static_cast<pid_t>(command_pid), signal);
    errno = saved_errno;
}
}

static bool was_ignored(const struct sigaction &action)
{
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

static bool is_ignored(int signal)
{
    struct sigaction action = {};
    sigaction(signal, nullptr, &action);
    return was_ignored(action);
}

// Gives signal the disposition action for the run, saving the old one in
// old, unless the tool's caller had it ignored: then it stays ignored, in
// the tool and in the command. Any other signal starts the command at its
// default, so it is added to defaults.
static void take_over(int signal, const struct sigaction &action, struct sigaction *old,
                      sigset_t *defaults)
{
    sigaction(signal, nullptr, old);
    if (was_ignored(*old))
        return;
    sigaction(signal, &action, nullptr);
    sigaddset(defaults, signal);
}

static sigset_t signal_set(int first, int second)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, first);
    sigaddset(&set, second);
    return set;
}

// Waits for the child to end; returns its wait status, or -1 with errno.
// SIGTERM and SIGHUP are blocked once it has ended and before it is reaped,
// so that pass_on never signals a process id that is free for reuse.
static int wait_for(pid_t child, const sigset_t &passed_signals)
{
    siginfo_t info = {};
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) == -1) {
        if (errno != EINTR)
            return -1;
    }
    sigprocmask(SIG_BLOCK, &passed_signals, nullptr);
    command_pid = 0;
    int status = 0;
    while (waitpid(child, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int run_command_with(const char *shell_path, const char *command_line)
{
    // SIGTERM and SIGHUP are held from before the start until the
    // interpreter's process id is known: one that arrives meanwhile is
    // passed on as soon as the interpreter runs. SIGCHLD is held throughout,
    // as system() does.
    const sigset_t passed_signals = signal_set(SIGTERM, SIGHUP);
    sigset_t held = passed_signals;
    sigaddset(&held, SIGCHLD);
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &held, &old_mask);

    // While the command runs, a Ctrl-C or Ctrl-\ from the terminal is the
    // command's to handle: the tool ignores both, and afterwards ends the
    // way the command ended. A SIGTERM or SIGHUP sent to the tool alone goes
    // on to the command, unless the tool's caller had it ignored. SIGCHLD
    // must be at its default, or an ignoring caller would have the child
    // reaped before the tool learns its status.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction to_default = ignore;
    to_default.sa_handler = SIG_DFL;
    struct sigaction passing = ignore;
    passing.sa_handler = pass_on;  // no SA_RESTART: the wait is retried

    // The shell starts with the tool's original mask and dispositions: a
    // signal ignored by the tool's caller stays ignored, every other one is
    // at its default.
    sigset_t defaults;
    sigemptyset(&defaults);
    struct sigaction old_int = {};
    struct sigaction old_quit = {};
    struct sigaction old_term = {};
    struct sigaction old_hup = {};
    struct sigaction old_child = {};
    take_over(SIGINT, ignore, &old_int, &defaults);
    take_over(SIGQUIT, ignore, &old_quit, &defaults);
    take_over(SIGTERM, passing, &old_term, &defaults);
    take_over(SIGHUP, passing, &old_hup, &defaults);
    sigaction(SIGCHLD, &to_default, &old_child);
    sigaddset(&defaults, SIGCHLD);
    passed_on = 0;

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &old_mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // "--" keeps a command line that begins with '-' or '+' from being taken
    // as options of the shell. The shell inherits every descriptor that is
    // not close-on-exec, as from any shell: the caller may pass more than
    // the standard three on purpose (a make jobserver, a log on 3).
    char name[] = "sh";
    char command_option[] = "-c";
    char end_of_options[] = "--";
    char *arguments[] = {name, command_option, end_of_options, const_cast<char *>(command_line),
                         nullptr};
    pid_t child = 0;
    int error = posix_spawn(&child, shell_path, nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);

    int status = -1;
    if (error == 0) {
        command_pid = child;
        sigset_t waiting = old_mask;
        sigaddset(&waiting, SIGCHLD);
        sigprocmask(SIG_SETMASK, &waiting, nullptr);
        status = wait_for(child, passed_signals);
        if (status == -1)
            error = errno;
    }

    // Dispositions first, then the mask: a SIGTERM or SIGHUP held since the
    // interpreter ended (or failed to start) acts as it would without tovik.
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    sigaction(SIGCHLD, &old_child, nullptr);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return status;
}

int signal_to_end_by(int status)
{
    if (passed_on != 0)
        return passed_on;
    if (status <= 0 || !WIFSIGNALED(status))
        return 0;
    // A shell that sees its child die of SIGINT or SIGQUIT stops its script
    // only when the child dies of it too; a caller that ignores the signal
    // would not be stopped by it, and neither is tovik.
    const int signal = WTERMSIG(status);
    if ((signal == SIGINT || signal == SIGQUIT) && !is_ignored(signal))
        return signal;
    return 0;
}

void end_by_signal(int signal)
{
    // The core file, if any, is the command's: none of the tool's own.
    struct rlimit core = {};
    if (getrlimit(RLIMIT_CORE, &core) == 0) {
        core.rlim_cur = 0;
        setrlimit(RLIMIT_CORE, &core);
    }
    struct sigaction to_default = {};
    to_default.sa_handler = SIG_DFL;
    sigemptyset(&to_default.sa_mask);
    sigaction(signal, &to_default, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}

int largest_exit_status()
{
    return 255;
}
