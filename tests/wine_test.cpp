// End to end on the home platform: the Windows build of tovik run under Wine,
// whose cmd.exe is the interpreter. Text mode stores each line feed that tovik
// writes as CR LF; the commands are in cmd syntax.

#include "expectations.h"
#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string crlf(const std::string &text)
{
    std::string converted;
    for (char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
}

// The bytes of a file from offset on (up to 1 MiB), without reading the rest.
std::string tail_of(const std::string &path, off_t offset)
{
    std::string bytes(1 << 20, '\0');
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t got = fd < 0 ? -1 : pread(fd, bytes.data(), bytes.size(), offset);
    if (fd >= 0)
        close(fd);
    bytes.resize(got < 0 ? 0 : size_t(got));
    return bytes;
}

// WINEPREFIX is made by the wine_prefix test that CTest runs first.
class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override
    {
        setenv("WINEPREFIX", WINE_PREFIX, 1);
        setenv("WINEDEBUG", "-all", 1);
    }
};

const testing::Environment *const wine_environment =
    testing::AddGlobalTestEnvironment(new WineEnvironment);

RunResult run_under_wine(const std::string &dir, const std::vector<std::string> &arguments,
                         const char *program = TOVIK_EXE)
{
    std::vector<std::string> argv{WINE_PROGRAM, program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_program(argv, dir);
}

class WineUsage : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(WineUsage, ShowsTheScreenAndExitsWithTheArgumentCount)
{
    const auto [arguments, status] = GetParam();
    TempDir dir;
    RunResult run = run_under_wine(dir.path, std::vector<std::string>(size_t(arguments), "echo"));
    expect_usage(run, dir.path, crlf(usage_screen), status);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Counts, WineUsage,
                         testing::Values(std::pair{0, 1}, std::pair{2, 3}, std::pair{5, 6}),
                         [](const testing::TestParamInfo<std::pair<int, int>> &case_info) {
                             return std::to_string(case_info.param.first) + "_arguments";
                         });
// clang-format on

class WineCaptureRun : public testing::TestWithParam<Capture> {};

TEST_P(WineCaptureRun, AppendsHeaderAndOutputToBothFiles)
{
    const Capture &c = GetParam();
    expect_capture(c,
                   [&c](const std::string &dir) { return run_under_wine(dir, {c.command_line}); });
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Commands, WineCaptureRun,
    testing::Values(
        Capture{"stdout_only", "echo only out", "", {}, {}, "echo only out\r\nonly out\r\n",
                    "echo only out\r\n"},
        Capture{"both_streams", "echo out& echo err>&2& echo more", "", {}, {},
                    "echo out& echo err>&2& echo more\r\nout\r\nmore\r\n",
                    "echo out& echo err>&2& echo more\r\nerr\r\n"},
        Capture{"appends_to_existing_files", "echo new& echo bad>&2", "", "earlier\r\n",
                    "no line end", "earlier\r\necho new& echo bad>&2\r\nnew\r\n",
                    "no line endecho new& echo bad>&2\r\nbad\r\n"},
        Capture{"empty_command_line", "", "", {}, {}, "\r\n", "\r\n"},
        Capture{"failing_command", "echo half& exit /b 3", "", {}, {},
                    "echo half& exit /b 3\r\nhalf\r\n", "echo half& exit /b 3\r\n"}),
    case_name<Capture>);
// clang-format on

TEST(WineCaptureRun, HeaderKeepsPercentSignsAndTheInterpreterExpands)
{
    TempDir dir;
    RunResult run = run_under_wine(dir.path, {"echo %PATH%"});
    // What cmd.exe itself prints for the same command.
    RunResult direct = run_under_wine(dir.path, {"/c", "echo %PATH%"}, "cmd.exe");
    ASSERT_EQ(direct.exit_status, 0);
    ASSERT_NE(direct.console_out.find("C:\\windows"), std::string::npos) << direct.console_out;

    EXPECT_EQ(read_file(dir.path + "/stdout.err"), "echo %PATH%\r\n" + direct.console_out);
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "echo %PATH%\r\n");
    EXPECT_EQ(run.exit_status, 0);
}

// A batch run through tovik that calls tovik again in the same directory: the
// inner run appends its block while the outer command's handles are open, and
// the outer command's next output must land behind it, not over it.
TEST(WineCaptureRun, NestedRunInTheSameDirectoryOverwritesNothing)
{
    TempDir dir;
    write_file(dir.path + "/tovik.exe", read_file(TOVIK_EXE).value(), 0755);
    const std::string command_line = "tovik.exe \"echo inner\" & echo outer";
    RunResult run = run_under_wine(dir.path, {command_line});
    EXPECT_EQ(read_file(dir.path + "/stdout.err"),
              command_line + "\r\necho inner\r\ninner\r\nouter\r\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), command_line + "\r\necho inner\r\n");
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.exit_status, 0);
}

// Existing capture files beyond what a 32-bit file position holds: the new
// block lands at their end, byte for byte, and nothing before it changes.
TEST(WineCaptureRun, BlockLandsAtTheEndOfFilesOfSeveralGigabytes)
{
    TempDir dir;
    const off_t out_size = 3LL << 30;
    const off_t err_size = 5LL << 30;
    for (const auto &[name, size] :
         {std::pair{"/stdout.err", out_size}, std::pair{"/stderr.err", err_size}}) {
        write_file(dir.path + name, "start");
        ASSERT_EQ(truncate((dir.path + name).c_str(), size), 0) << name;
    }
    RunResult run = run_under_wine(dir.path, {"echo big& echo bad>&2"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(tail_of(dir.path + "/stdout.err", out_size - 1),
              std::string(1, '\0') + "echo big& echo bad>&2\r\nbig\r\n");
    EXPECT_EQ(tail_of(dir.path + "/stderr.err", err_size - 1),
              std::string(1, '\0') + "echo big& echo bad>&2\r\nbad\r\n");
    EXPECT_EQ(tail_of(dir.path + "/stdout.err", 0).substr(0, 5), "start");
}

struct WineBlocked {
    const char *name;
    const char *directory;  // the capture file that is a directory
    std::string console;
    std::optional<std::string> err;  // stderr.err after the run
};

void PrintTo(const WineBlocked &c, std::ostream *out)
{
    *out << c.name;
}

class WineBlockedCapture : public testing::TestWithParam<WineBlocked> {};

TEST_P(WineBlockedCapture, ReportsOnTheConsoleAndRunsNothing)
{
    const WineBlocked &b = GetParam();
    TempDir dir;
    ASSERT_EQ(mkdir((dir.path + "/" + b.directory).c_str(), 0755), 0);

    RunResult run = run_under_wine(dir.path, {"echo x> ran"});

    EXPECT_EQ(run.console_out, b.console);
    EXPECT_EQ(run.console_err, "");
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
    EXPECT_FALSE(read_file(dir.path + "/stdout.err"));
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), b.err);
    EXPECT_FALSE(read_file(dir.path + "/ran")) << "the command ran";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Directories, WineBlockedCapture,
    testing::Values(WineBlocked{"stderr_err_is_a_directory", "stderr.err",
                                "Umleitung von stderr in stderr.err fehlgeschlagen !\r\n", {}},
                    WineBlocked{"stdout_err_is_a_directory", "stdout.err",
                                "Umleitung von stdout in stdout.err fehlgeschlagen !\r\n", ""}),
    case_name<WineBlocked>);
// clang-format on

// COMSPEC naming a missing file: the host falls back to its default command
// processor, so the command still runs.
TEST(WineInterpreter, MissingComspecFallsBackToTheDefaultProcessor)
{
    TempDir dir;
    setenv("COMSPEC", "Z:\\no\\such\\cmd.exe", 1);
    RunResult run = run_under_wine(dir.path, {"echo ran"});
    unsetenv("COMSPEC");
    EXPECT_EQ(read_file(dir.path + "/stdout.err"), "echo ran\r\nran\r\n");
    EXPECT_EQ(run.exit_status, 0);
}

// No interpreter anywhere: COMSPEC names a missing file, and the default
// command processor is neither in the working directory nor along PATH.
// Wine takes PATH from its registry, so cmd.exe empties it for the run; the
// exit status of the last program is cmd's own. (The command line is one
// word: cmd.exe would pass Wine's quoting of a double quote on as it is.)
TEST(WineInterpreter, NoInterpreterFoundRunsNothing)
{
    TempDir dir;
    std::string exe = "Z:" + std::string(TOVIK_EXE);
    std::replace(exe.begin(), exe.end(), '/', '\\');
    RunResult run = run_under_wine(
        dir.path, {"/c", "set PATH=& set COMSPEC=Z:\\no\\such\\cmd.exe& " + exe + " dir"},
        "cmd.exe");
    EXPECT_EQ(read_file(dir.path + "/stdout.err"),
              "dir\r\nCommand Interpreter nicht gefunden !\r\n");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "dir\r\n");
    EXPECT_EQ(run.console_out, "");
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
}

// COMSPEC naming a file that is no program: Windows reports ENOEXEC at once,
// without the fallback.
TEST(WineInterpreter, ComspecThatIsNoProgramIsReported)
{
    TempDir dir;
    TempDir outside;
    write_file(outside.path + "/notprog.exe", "not a program\r\n");
    setenv("COMSPEC", ("Z:" + outside.path + "/notprog.exe").c_str(), 1);
    RunResult run = run_under_wine(dir.path, {"echo ran"});
    unsetenv("COMSPEC");
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), "echo ran\r\n");
    const std::optional<std::string> out = read_file(dir.path + "/stdout.err");
    if (out == "echo ran\r\nran\r\n" && run.exit_status == 0)
        GTEST_SKIP() << "Wine starts its own cmd.exe when COMSPEC names no program, where "
                        "Windows reports the failure; the message cannot be seen here";
    EXPECT_EQ(out, "echo ran\r\nProgramm nicht ausf\xFChrbar !\r\n");
    EXPECT_EQ(run.exit_status, 2) << "nothing was run";
}

}  // namespace
