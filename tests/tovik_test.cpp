// End to end: the built tovik in a fresh directory, as a user runs it, with
// both capture files, the console and the exit status compared byte for byte.

#include "expectations.h"
#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

RunResult run_tovik(const std::string &dir, const std::vector<std::string> &arguments,
                    const std::string &stdin_data = "",
                    const std::function<void()> &in_child = nullptr)
{
    std::vector<std::string> argv{TOVIK_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_program(wrapped(argv), dir, stdin_data, in_child);
}

// The usage screen, for any count other than one argument.
class Usage : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Usage, ShowsTheScreenAndExitsWithTheArgumentCount)
{
    const auto [arguments, status] = GetParam();
    TempDir dir;
    RunResult run = run_tovik(dir.path, std::vector<std::string>(size_t(arguments), "echo"));
    expect_usage(run, dir.path, usage_screen, status);
}

// Counts above 255 would wrap around in an 8-bit exit status: 256 to 0,
// success, and 258 to 2.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Counts, Usage,
                         testing::Values(std::pair{0, 1}, std::pair{2, 3}, std::pair{5, 6},
                                         std::pair{254, 255}, std::pair{255, 255},
                                         std::pair{257, 255}),
                         [](const testing::TestParamInfo<std::pair<int, int>> &case_info) {
                             return std::to_string(case_info.param.first) + "_arguments";
                         });
// clang-format on

class CaptureRun : public testing::TestWithParam<Capture> {};

TEST_P(CaptureRun, AppendsHeaderAndOutputToBothFiles)
{
    const Capture &c = GetParam();
    expect_capture(
        c, [&c](const std::string &dir) { return run_tovik(dir, {c.command_line}, c.stdin_data); });
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Commands, CaptureRun,
    testing::Values(
        Capture{"stdout_only", "echo only out", "", {}, {}, "echo only out\nonly out\n",
                "echo only out\n"},
        Capture{"both_streams", "echo out; echo err >&2; echo more", "", {}, {},
                "echo out; echo err >&2; echo more\nout\nmore\n",
                "echo out; echo err >&2; echo more\nerr\n"},
        Capture{"appends_to_existing_files", "echo new; echo bad >&2", "", "earlier\n",
                "no line end", "earlier\necho new; echo bad >&2\nnew\n",
                "no line endecho new; echo bad >&2\nbad\n"},
        Capture{"empty_command_line", "", "", {}, {}, "\n", "\n"},
        Capture{"failing_command", "echo half; exit 3", "", {}, {}, "echo half; exit 3\nhalf\n",
                "echo half; exit 3\n"},
        Capture{"command_killed_by_signal", "kill -KILL $$", "", {}, {}, "kill -KILL $$\n",
                "kill -KILL $$\n"},
        Capture{"standard_input_reaches_the_command", "cat", "line 1\nline 2\n", {}, {},
                "cat\nline 1\nline 2\n", "cat\n"},
        Capture{"format_characters_stay_literal", "printf '%s\\n' '%s%n%d'", "", {}, {},
                "printf '%s\\n' '%s%n%d'\n%s%n%d\n", "printf '%s\\n' '%s%n%d'\n"},
        Capture{"line_feed_inside_the_command_line", "echo a\necho b >&2", "", {}, {},
                "echo a\necho b >&2\na\n", "echo a\necho b >&2\nb\n"},
        Capture{"bytes_above_0x7f", "echo '\xFC\x80\xFF'", "", {}, {},
                "echo '\xFC\x80\xFF'\n\xFC\x80\xFF\n", "echo '\xFC\x80\xFF'\n"}),
    case_name<Capture>);
// clang-format on

TEST(CaptureRun, RepeatedCallsAccumulateInCallOrder)
{
    TempDir dir;
    for (const char *command_line : {"echo one", "echo two >&2", "echo three"})
        EXPECT_EQ(run_tovik(dir.path, {command_line}).exit_status, 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"),
              "echo one\none\necho two >&2\necho three\nthree\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "echo one\necho two >&2\ntwo\necho three\n");
}

// The tool may be started with any of its standard descriptors closed; the
// files must still receive what belongs to them, and nothing else.
class ClosedDescriptors : public testing::TestWithParam<std::vector<int>> {};

TEST_P(ClosedDescriptors, CaptureStaysRight)
{
    TempDir dir;
    const std::vector<int> closed = GetParam();
    RunResult run = run_tovik(dir.path, {"echo out; echo err >&2"}, "", [&closed] {
        for (int fd : closed)
            close(fd);
    });
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), "echo out; echo err >&2\nout\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "echo out; echo err >&2\nerr\n");
    EXPECT_EQ(run.exit_status, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Started, ClosedDescriptors,
                         testing::Values(std::vector<int>{0}, std::vector<int>{1},
                                         std::vector<int>{2}, std::vector<int>{0, 1},
                                         std::vector<int>{1, 2}, std::vector<int>{0, 2},
                                         std::vector<int>{0, 1, 2}),
                         [](const testing::TestParamInfo<std::vector<int>> &case_info) {
                             std::string name = "closed";
                             for (int fd : case_info.param)
                                 name += "_" + std::to_string(fd);
                             return name;
                         });
// clang-format on

// A capture file that cannot be opened: the console says so and nothing runs.
struct Blocked {
    const char *name;
    const char *directory;               // the capture file that is a directory
    std::optional<std::string> old_err;  // stderr.err before the run
    std::string console;
    std::optional<std::string> out;
    std::optional<std::string> err;
};

void PrintTo(const Blocked &c, std::ostream *out)
{
    *out << c.name;
}

class BlockedCapture : public testing::TestWithParam<Blocked> {};

TEST_P(BlockedCapture, ReportsOnTheConsoleAndRunsNothing)
{
    const Blocked &b = GetParam();
    TempDir dir;
    ASSERT_EQ(mkdir((dir.path + "/" + b.directory).c_str(), 0755), 0);
    if (b.old_err)
        write_file(dir.path + "/stderr.err", *b.old_err);

    RunResult run = run_tovik(dir.path, {"touch ran"});

    EXPECT_EQ(run.console_out, b.console);
    EXPECT_EQ(run.console_err, "");
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), b.out);
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), b.err);
    EXPECT_TRUE(is_directory(dir.path + "/" + b.directory));
    EXPECT_FALSE(read_file(dir.path + "/ran")) << "the command ran";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Directories, BlockedCapture,
    testing::Values(
        Blocked{"stderr_err_is_a_directory", "stderr.err", {},
                "Umleitung von stderr in stderr.err fehlgeschlagen !\n", {}, {}},
        Blocked{"stdout_err_is_a_directory", "stdout.err", {},
                "Umleitung von stdout in stdout.err fehlgeschlagen !\n", {}, ""},
        Blocked{"stdout_err_is_a_directory_existing_stderr_err_kept", "stdout.err", "kept\n",
                "Umleitung von stdout in stdout.err fehlgeschlagen !\n", {}, "kept\n"}),
    case_name<Blocked>);
// clang-format on

// The interpreter made unavailable, in a private mount namespace so that
// nothing outside the test sees it. Needs root (CAP_SYS_ADMIN).
std::string shell_file()
{
    char resolved[PATH_MAX];
    return realpath("/bin/sh", resolved) != nullptr ? resolved : "/bin/sh";
}

std::string directory_of(const std::string &path)
{
    return path.substr(0, path.rfind('/'));
}

bool enter_private_mount_namespace()
{
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool can_use_mount_namespaces()
{
    pid_t child = fork();
    if (child == 0)
        _exit(enter_private_mount_namespace() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

struct Unavailable {
    const char *name;
    const char *replacement;  // nullptr: the directory of the shell emptied
    unsigned mode;
    std::string out;
};

void PrintTo(const Unavailable &c, std::ostream *out)
{
    *out << c.name;
}

class UnavailableInterpreter : public testing::TestWithParam<Unavailable> {};

TEST_P(UnavailableInterpreter, ReportsIntoStdoutErr)
{
    if (!can_use_mount_namespaces())
        GTEST_SKIP() << "cannot make /bin/sh unavailable: needs root and a private mount "
                        "namespace (unshare(CLONE_NEWNS) was refused)";
    const Unavailable &u = GetParam();
    if (wrapper_set())
        GTEST_SKIP() << "the test wrapper (valgrind's launcher is a /bin/sh script) cannot "
                        "start while /bin/sh is unavailable";
    TempDir dir;
    TempDir outside;
    const std::string replacement = outside.path + "/sh";
    if (u.replacement != nullptr)
        write_file(replacement, u.replacement, u.mode);
    const std::string shell = shell_file();

    RunResult run = run_tovik(dir.path, {"true"}, "", [&] {
        bool hidden =
            enter_private_mount_namespace() &&
            (u.replacement == nullptr
                 ? mount("tmpfs", directory_of(shell).c_str(), "tmpfs", 0, nullptr)
                 : mount(replacement.c_str(), shell.c_str(), nullptr, MS_BIND, nullptr)) == 0;
        if (!hidden)
            _exit(99);
    });

    ASSERT_NE(run.exit_status, 99) << "could not hide " << shell;
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), u.out);
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "true\n");
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.console_err, "");
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Interpreter, UnavailableInterpreter,
    testing::Values(
        Unavailable{"missing", nullptr, 0, "true\nCommand Interpreter nicht gefunden !\n"},
        Unavailable{"no_program", "not a program\n", 0755,
                    "true\nProgramm nicht ausf\xFChrbar !\n"},
        Unavailable{"not_executable", "exit 0\n", 0644, "true\n"}),
    case_name<Unavailable>);
// clang-format on

// No process may be started: a limit of none for the user that runs tovik.
// Root is exempt from the limit, so a root test runs tovik as nobody, from a
// copy that nobody can reach wherever the build lies.
TEST(UnavailableInterpreter, ProcessLimitReachedRunsNothing)
{
    if (wrapper_set())
        GTEST_SKIP() << "the test wrapper cannot start its own processes under a process limit";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "LeakSanitizer starts a process of its own at exit, which the limit forbids";
#endif
    TempDir dir;
    TempDir bin;
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
    ASSERT_EQ(chmod(bin.path.c_str(), 0755), 0);
    const std::string tovik = bin.path + "/tovik";
    write_file(tovik, read_file(TOVIK_BINARY).value(), 0755);
    RunResult run = run_program({tovik, "touch ran"}, dir.path, "", [] {
        const uid_t nobody = 65534;
        if (getuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(99);
        struct rlimit none = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
            _exit(99);
    });
    ASSERT_NE(run.exit_status, 99) << "could not set the process limit";
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.console_err, "");
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), "touch ran\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "touch ran\n");
    EXPECT_FALSE(read_file(dir.path + "/ran")) << "the command ran";
}

// Descriptors the caller passes on purpose reach the command, as from a
// shell: a log on 3, and one far above the standard three.
TEST(Descriptors, CallersDescriptorsReachTheCommand)
{
    TempDir dir;
    TempDir outside;
    const std::string command_line = "echo on three >&3; echo on 150 >>/dev/fd/150";
    RunResult run = run_tovik(dir.path, {command_line}, "", [&outside] {
        int three = open((outside.path + "/three").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int high = open((outside.path + "/150").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (three < 0 || high < 0 || dup2(three, 3) != 3 || dup2(high, 150) != 150)
            _exit(99);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(outside.path + "/three"), "on three\n");
    EXPECT_EQ(read_file(outside.path + "/150"), "on 150\n");
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), command_line + "\n");
}

// A recursive make run through tovik with -j keeps the jobserver, whose
// descriptors make passes to its children.
TEST(Descriptors, ParallelMakeKeepsItsJobserver)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir.path + "/sub").c_str(), 0755), 0);
    write_file(dir.path + "/Makefile", std::string("all:\n\t+@") + TOVIK_BINARY +
                                           " \"$(MAKE) --no-print-directory -C sub\"\n");
    write_file(dir.path + "/sub/Makefile", "all: a b\na b:\n\t@echo $@ built\n");
    RunResult run = run_program({"make", "-s", "-j4"}, dir.path);
    const std::string header = "make --no-print-directory -C sub\n";
    EXPECT_EQ(run.exit_status, 0) << run.console_err;
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), header);
    const std::string out = read_file(dir.path + "/stdout.err").value_or("");
    EXPECT_TRUE(out == header + "a built\nb built\n" || out == header + "b built\na built\n")
        << out;
}

// A caller that ignores SIGCHLD (inherited across exec) must not keep the
// tool from learning that the command ran.
TEST(CaptureRun, CallerIgnoringChildSignals)
{
    TempDir dir;
    RunResult run = run_tovik(dir.path, {"echo ran; exit 3"}, "", [] { signal(SIGCHLD, SIG_IGN); });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), "echo ran; exit 3\nran\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "echo ran; exit 3\n");
}

}  // namespace
