// tovik under load, faults and hostile input: whatever happens, what was
// recorded stays, every byte of the command's output lands, and the tool
// writes nowhere but into the two capture files.

#include "harness.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

RunResult run_tovik(const std::string &dir, const std::string &command_line,
                    const std::function<void()> &in_child = nullptr)
{
    return run_program({TOVIK_BINARY, command_line}, dir, "", in_child);
}

// Starts tovik in dir without waiting, in a process group of its own; in_child
// runs in the child before exec.
pid_t start_tovik(const std::string &dir, const std::string &command_line,
                  const std::function<void()> &in_child = nullptr)
{
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        if (in_child)
            in_child();
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        close_inherited_descriptors();
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execl(TOVIK_BINARY, TOVIK_BINARY, command_line.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    setpgid(child, child);
    return child;
}

int wait_status(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Waits up to ten seconds for a file that a command makes.
bool wait_for_file(const std::string &path)
{
    for (int i = 0; i < 1000; ++i) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A command line that, run in a directory, makes the file "started" there
// and then waits up to ten seconds for the file "go" before it runs rest: the
// test sends its signals while the command is surely running, and only then
// lets it go on, however slow the machine.
std::string started_then_waiting(const std::string &rest)
{
    return "touch started; n=0; while [ ! -e go ] && [ $n -lt 500 ]; do sleep 0.02; "
           "n=$((n+1)); done; " +
           rest;
}

std::vector<std::string> directory_entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Load, ConcurrentRunsLoseNoByteAndKeepEveryHeader)
{
    // Each run writes a block of its own letter to each stream; the files
    // must hold exactly the bytes of all headers and all blocks, whatever the
    // interleaving.
    const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const int runs = 40;
    const int block = 50000;
    TempDir dir;
    std::map<std::string, std::array<long, 256>> expected;
    expected["stdout.err"].fill(0);
    expected["stderr.err"].fill(0);
    std::vector<std::string> headers;
    std::vector<pid_t> children;
    for (int i = 0; i < runs; ++i) {
        const char letter = letters[size_t(i) % letters.size()];
        const std::string command_line = "head -c " + std::to_string(block) +
                                         " /dev/zero | tr '\\000' '" + letter + "'; head -c " +
                                         std::to_string(block) + " /dev/zero | tr '\\000' '" +
                                         letter + "' >&2 # run " + std::to_string(i);
        for (auto &[file, counts] : expected) {
            for (char c : command_line + "\n")
                ++counts[static_cast<unsigned char>(c)];
            counts[static_cast<unsigned char>(letter)] += block;
        }
        headers.push_back(command_line + "\n");
        children.push_back(start_tovik(dir.path, command_line));
    }
    for (pid_t child : children) {
        int status = wait_status(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    for (auto &[file, counts] : expected) {
        const std::string bytes = read_file(dir.path + "/" + file).value_or("");
        std::array<long, 256> found{};
        for (char c : bytes)
            ++found[static_cast<unsigned char>(c)];
        EXPECT_EQ(found, counts) << file << ": bytes lost, added or altered";
        for (const std::string &header : headers)
            EXPECT_NE(bytes.find(header), std::string::npos) << file << " lacks " << header;
    }
}

TEST(Descriptors, CommandGetsWhatTheCallerPassedAndNothingOfTheTools)
{
    // The caller leaves descriptor 7 open and inheritable: it reaches the
    // command, as from any shell. No descriptor of the tool's own (such as
    // its copy of the console) may.
    TempDir dir;
    const std::string check = "for n in 3 4 5 6 7 8 9 10 11 12 13 14 15; do "
                              "[ -e /dev/fd/$n ] && echo open $n; done; "
                              "[ -e /dev/fd/0 ] && [ -e /dev/fd/1 ] && [ -e /dev/fd/2 ] && "
                              "echo checked";
    RunResult run = run_tovik(dir.path, check, [] {
        int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, 7) != 7)
            _exit(99);
        close(null);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), check + "\nopen 7\nchecked\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), check + "\n");
}

TEST(Faults, InterruptToTheToolAloneLeavesTheCommandRunning)
{
    TempDir dir;
    const std::string command_line = started_then_waiting("echo done");
    pid_t tool = start_tovik(dir.path, command_line);
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(tool, SIGINT);
    kill(tool, SIGQUIT);
    write_file(dir.path + "/go", "");
    int status = wait_status(tool);
    ASSERT_TRUE(WIFEXITED(status)) << "the tool was killed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\ndone\n");
}

// A signal and how the run must end after it.
struct Stop {
    const char *name;
    int signal;
};

void PrintTo(const Stop &s, std::ostream *out)
{
    *out << s.name;
}

// A terminal's Ctrl-C or Ctrl-\ goes to the whole process group. The command
// dies of it, and so must the tool once it has closed its files, or a
// calling shell script would carry on with its next line. The tool is
// allowed to dump core (as a shell's caller may allow), but the core file
// is the command's alone: the command here forbids its own.
class TerminalSignal : public testing::TestWithParam<Stop> {};

TEST_P(TerminalSignal, StopsTheCommandAndTheToolEndsByIt)
{
    const Stop &s = GetParam();
    TempDir dir;
    const std::string command_line = "ulimit -c 0; " + started_then_waiting("echo not reached");
    pid_t tool = start_tovik(dir.path, command_line, [] {
        struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_CORE, &unlimited);
    });
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(-tool, s.signal);
    int status = wait_status(tool);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), s.signal);
    EXPECT_FALSE(WCOREDUMP(status)) << "the tool dumped core";
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), command_line + "\n");
    EXPECT_EQ(directory_entries(dir.path),
              (std::vector<std::string>{"started", "stderr.err", "stdout.err"}));
}

TEST_P(TerminalSignal, HandledByTheCommandLeavesTheToolExitingZero)
{
    const Stop &s = GetParam();
    TempDir dir;
    const std::string command_line = "trap 'echo handled; exit 0' " + std::to_string(s.signal) +
                                     "; " + started_then_waiting("echo not reached");
    pid_t tool = start_tovik(dir.path, command_line);
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(-tool, s.signal);
    int status = wait_status(tool);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\nhandled\n");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ToTheProcessGroup, TerminalSignal,
                         testing::Values(Stop{"SIGINT", SIGINT}, Stop{"SIGQUIT", SIGQUIT}),
                         case_name<Stop>);
// clang-format on

// SIGTERM or SIGHUP sent to the tool alone (by kill, a service manager or a
// closing terminal) goes on to the command; the tool waits for the command
// to end, closes its files and then ends by the same signal.
class PassedOnSignal : public testing::TestWithParam<Stop> {};

TEST_P(PassedOnSignal, ReachesTheCommandAndTheToolEndsByItAfterTheCommand)
{
    const Stop &s = GetParam();
    TempDir dir;
    // The command's handler takes its time before its last words: a tool
    // that did not wait for the command would end before they are written.
    const std::string command_line = "trap 'echo caught; sleep 0.3; echo last >&2; exit 0' " +
                                     std::to_string(s.signal) + "; " +
                                     started_then_waiting("echo not reached");
    pid_t tool = start_tovik(dir.path, command_line);
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(tool, s.signal);
    int status = wait_status(tool);
    const std::optional<std::string> out = read_file(dir.path + "/stdout.err");
    const std::optional<std::string> err = read_file(dir.path + "/stderr.err");
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), s.signal);
    EXPECT_EQ(out, command_line + "\ncaught\n");
    EXPECT_EQ(err, command_line + "\nlast\n");

    // Nothing is left running that writes later.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), out);
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), err);
}

TEST_P(PassedOnSignal, EndsACommandThatDoesNotHandleIt)
{
    const Stop &s = GetParam();
    TempDir dir;
    const std::string command_line = started_then_waiting("echo not reached");
    pid_t tool = start_tovik(dir.path, command_line);
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(tool, s.signal);
    int status = wait_status(tool);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), s.signal);
    write_file(dir.path + "/go", "");  // a command still running would write now
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\n");
}

TEST_P(PassedOnSignal, IgnoredByTheCallerStaysIgnoredInToolAndCommand)
{
    const Stop &s = GetParam();
    TempDir dir;
    const std::string command_line =
        "kill -" + std::to_string(s.signal) + " $$; " + started_then_waiting("echo done");
    pid_t tool = start_tovik(dir.path, command_line, [&s] { signal(s.signal, SIG_IGN); });
    ASSERT_TRUE(wait_for_file(dir.path + "/started"));
    kill(tool, s.signal);
    write_file(dir.path + "/go", "");
    int status = wait_status(tool);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), command_line + "\ndone\n");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ToTheToolAlone, PassedOnSignal,
                         testing::Values(Stop{"SIGTERM", SIGTERM}, Stop{"SIGHUP", SIGHUP}),
                         case_name<Stop>);
// clang-format on

// A full file system: a small tmpfs mounted over the run directory in a
// private mount namespace of this test process. Needs root.
class FullDisk : public testing::Test {
  protected:
    void SetUp() override
    {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "needs root and a private mount namespace to mount a small tmpfs "
                            "(unshare(CLONE_NEWNS) was refused)";
        ASSERT_EQ(mount("tmpfs", dir_.path.c_str(), "tmpfs", 0, "size=64k"), 0);
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            umount(dir_.path.c_str());
    }
    TempDir dir_;
    bool mounted_ = false;
};

TEST_F(FullDisk, CommandFillingTheDiskStillEndsTheRunCleanly)
{
    RunResult run = run_tovik(dir_.path, "head -c 1000000 /dev/zero; echo after");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.console_err, "");
    const std::string out = read_file(dir_.path + "/stdout.err").value_or("");
    EXPECT_EQ(out.rfind("head -c 1000000 /dev/zero; echo after\n", 0), 0u) << "header first";
    EXPECT_LT(out.size(), 64u * 1024) << "nothing beyond the disk";
    EXPECT_EQ(directory_entries(dir_.path), (std::vector<std::string>{"stderr.err", "stdout.err"}));
}

TEST_F(FullDisk, AlreadyFullDiskStillRunsTheCommandAndKeepsWhatWasThere)
{
    write_file(dir_.path + "/stdout.err", "recorded before\n");
    // Fill what is left.
    int fill = open((dir_.path + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fill, 0);
    const std::string chunk(4096, 'f');
    while (write(fill, chunk.data(), chunk.size()) > 0) {
    }
    const std::string small(1, 'f');
    while (write(fill, small.data(), 1) > 0) {
    }
    close(fill);

    TempDir elsewhere;
    RunResult run = run_tovik(dir_.path, "echo x; touch '" + elsewhere.path + "/ran'");
    EXPECT_TRUE(read_file(elsewhere.path + "/ran")) << "the command did not run";
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.console_err, "");
    const std::string out = read_file(dir_.path + "/stdout.err").value_or("");
    EXPECT_EQ(out.rfind("recorded before\n", 0), 0u) << "what was recorded stays";
}

struct Hostile {
    const char *name;
    std::string command_line;
    std::string output;  // what the command writes to standard output
};

void PrintTo(const Hostile &h, std::ostream *out)
{
    *out << h.name;
}

class HostileInput : public testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, IsRecordedByteForByte)
{
    const Hostile &h = GetParam();
    TempDir dir;
    RunResult run = run_tovik(dir.path, h.command_line);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console_out, "");
    EXPECT_TRUE(read_file(dir.path + "/stdout.err") == h.command_line + "\n" + h.output);
    EXPECT_TRUE(read_file(dir.path + "/stderr.err") == h.command_line + "\n");
}

std::string high_bytes()
{
    std::string bytes;
    for (int c = 0x80; c <= 0xFF; ++c)
        bytes += static_cast<char>(c);
    return bytes;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    CommandLines, HostileInput,
    testing::Values(
        Hostile{"about_100_kb", "echo ok #" + std::string(100 * 1024, 'x'), "ok\n"},
        Hostile{"bytes_0x80_to_0xff", "echo ok # " + high_bytes(), "ok\n"},
        Hostile{"format_characters", "echo ok # %s%n%d%x%%%", "ok\n"},
        Hostile{"line_feeds", "echo one\n\necho two\n", "one\ntwo\n"},
        Hostile{"beginning_with_a_dash", "-x 2>/dev/null; echo ok", "ok\n"},
        Hostile{"beginning_with_a_plus", "+x 2>/dev/null; echo ok", "ok\n"},
        Hostile{"nul_bytes_in_the_output", "printf 'a\\000b\\000\\000c'",
                std::string("a\0b\0\0c", 6)}),
    case_name<Hostile>);
// clang-format on

TEST(HostileOutput, HundredsOfMegabytesAreRecordedByteForByte)
{
    TempDir dir;
    TempDir source_dir;
    // The source and its capture take 600 MB of the temporary directory's
    // file system; a machine short of space says so instead of failing.
    struct statvfs space {};
    if (statvfs(dir.path.c_str(), &space) == 0) {
        const unsigned long long free_mb =
            static_cast<unsigned long long>(space.f_bavail) * space.f_frsize >> 20;
        if (free_mb < 1024)
            GTEST_SKIP() << "needs 1024 MB free in " << dir.path << ", has " << free_mb << " MB";
    }
    // 300 MB of varied bytes, NUL bytes among them.
    const std::string source = source_dir.path + "/source";
    {
        std::string block(1 << 20, '\0');
        unsigned state = 12345;
        for (char &c : block) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 24);
        }
        int fd = open(source.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < 300; ++i) {
            block[size_t(i)] = static_cast<char>(i);  // no two blocks alike
            ASSERT_EQ(write(fd, block.data(), block.size()), ssize_t(block.size()));
        }
        close(fd);
    }
    const std::string command_line = "cat '" + source + "'";
    RunResult run = run_tovik(dir.path, command_line);
    EXPECT_EQ(run.exit_status, 0);
    const std::optional<std::string> out = read_file(dir.path + "/stdout.err");
    ASSERT_TRUE(out);
    EXPECT_TRUE(*out == command_line + "\n" + *read_file(source)) << "size " << out->size();
}

}  // namespace
