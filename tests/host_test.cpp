// The interpreter layer on its own: what it returns, how it reports a failed
// start, and what the started shell inherits.

#include "harness.h"
#include "host.h"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

int exit_code(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RunCommand, ReturnsTheWaitStatusOfTheCommand)
{
    errno = EINVAL;
    int status = run_command("exit 3");
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(exit_code(status), 3);

    status = run_command("kill -TERM $$");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST(RunCommand, CommandLineBeginningWithADashIsNoShellOption)
{
    // Taken as options, "-n ..." would make sh fail with a usage error (2).
    EXPECT_EQ(exit_code(run_command("-n 2>/dev/null; exit 7")), 7);
    EXPECT_EQ(exit_code(run_command("+x 2>/dev/null; exit 8")), 8);
}

struct StartFailure {
    const char *name;
    const char *content;  // nullptr: the interpreter does not exist
    unsigned mode;
    int error;
};

void PrintTo(const StartFailure &failure, std::ostream *out)
{
    *out << failure.name;
}

class FailedStart : public testing::TestWithParam<StartFailure> {};

TEST_P(FailedStart, ReturnsMinusOneWithTheReason)
{
    const StartFailure &failure = GetParam();
    TempDir dir;
    const std::string shell = dir.path + "/sh";
    if (failure.content != nullptr)
        write_file(shell, failure.content, failure.mode);
    errno = 0;
    EXPECT_EQ(run_command_with(shell.c_str(), "exit 0"), -1);
    EXPECT_EQ(errno, failure.error) << std::strerror(errno);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Interpreter, FailedStart,
                         testing::Values(StartFailure{"missing", nullptr, 0, ENOENT},
                                         StartFailure{"no_program", "no program\n", 0755,
                                                      ENOEXEC},
                                         StartFailure{"not_executable", "exit 0\n", 0644,
                                                      EACCES}),
                         case_name<StartFailure>);
// clang-format on

TEST(RunCommand, ArgumentOverTheKernelLimitIsTooBig)
{
    // Linux takes at most 32 pages (128 KiB) for one argument.
    const std::string command_line = "#" + std::string(200 * 1024, 'x');
    errno = 0;
    EXPECT_EQ(run_command(command_line.c_str()), -1);
    EXPECT_EQ(errno, E2BIG);
}

TEST(RunCommand, ShellInheritsWhatIsNotCloseOnExec)
{
    int passed = open("/dev/null", O_RDONLY);  // inheritable: no O_CLOEXEC
    int kept = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(passed, 3);
    ASSERT_GE(kept, 3);
    const std::string check = "[ -e /dev/fd/0 ] && [ -e /dev/fd/1 ] && [ -e /dev/fd/2 ] && "
                              "[ -e /dev/fd/" +
                              std::to_string(passed) + " ] && [ ! -e /dev/fd/" +
                              std::to_string(kept) + " ]";
    EXPECT_EQ(exit_code(run_command(check.c_str())), 0);
    close(passed);
    close(kept);
}

TEST(Console, CopyIsCloseOnExecAndAboveTheStandardThree)
{
    const int console = keep_console();
    ASSERT_GE(console, 3);
    EXPECT_NE(fcntl(console, F_GETFD) & FD_CLOEXEC, 0);
    drop_console(console);
}

// Signal dispositions: a struct to save and restore those the tests change.
class Signals : public testing::Test {
  protected:
    void SetUp() override
    {
        sigaction(SIGINT, nullptr, &saved_int_);
        sigprocmask(SIG_SETMASK, nullptr, &saved_mask_);
    }
    void TearDown() override
    {
        sigaction(SIGINT, &saved_int_, nullptr);
        sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    }
    struct sigaction saved_int_ {};
    sigset_t saved_mask_{};
};

TEST_F(Signals, InterruptFromTheTerminalStopsTheCommandNotTheCaller)
{
    signal(SIGINT, SIG_DFL);
    // The shell sends SIGINT to the waiting caller (this test) and to itself.
    int status = run_command("kill -INT $PPID; kill -INT $$; exit 4");
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);

    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the caller's SIGINT disposition is restored";
}

TEST_F(Signals, InterruptIgnoredByTheCallerStaysIgnoredInTheCommand)
{
    signal(SIGINT, SIG_IGN);
    EXPECT_EQ(exit_code(run_command("kill -INT $$; exit 5")), 5);
}

TEST_F(Signals, CommandStartsWithTheCallersSignalMask)
{
    // SIGUSR1 is signal 10: bit 9 of the mask; SIGCHLD, blocked while the
    // caller waits, must not show. bash, unlike dash, keeps the mask it
    // starts with, so it shows what it was given.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_SETMASK, &usr1, nullptr);
    EXPECT_EQ(exit_code(run_command_with("/bin/bash",
                                         "grep -q '^SigBlk:[[:space:]]*0*200$' /proc/$$/status")),
              0);

    sigset_t now;
    sigprocmask(SIG_SETMASK, nullptr, &now);
    EXPECT_FALSE(sigismember(&now, SIGCHLD)) << "the caller's mask is restored";
}

TEST_F(Signals, CallerIgnoringChildSignalsStillGetsTheStatus)
{
    struct sigaction old_child {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &old_child);
    errno = EINVAL;
    int status = run_command("exit 9");
    int error = errno;
    struct sigaction now {};
    sigaction(SIGCHLD, &old_child, &now);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(exit_code(status), 9);
    EXPECT_EQ(now.sa_handler, SIG_IGN) << "the caller's disposition is restored";
}

extern "C" void count_alarm(int) {}

TEST_F(Signals, WaitGoesOnWhenInterruptedBySignal)
{
    struct sigaction on_alarm {};
    on_alarm.sa_handler = count_alarm;  // no SA_RESTART: waitpid fails with EINTR
    sigemptyset(&on_alarm.sa_mask);
    struct sigaction old_alarm {};
    sigaction(SIGALRM, &on_alarm, &old_alarm);
    struct itimerval every_20ms {
        {0, 20000},
        {
            0, 20000
        }
    };
    setitimer(ITIMER_REAL, &every_20ms, nullptr);

    int status = run_command("sleep 0.3; exit 6");

    struct itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old_alarm, nullptr);
    EXPECT_EQ(exit_code(status), 6);
}

}  // namespace
